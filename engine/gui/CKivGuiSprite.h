// The GUI's image: one texture drawn as a textured 2D toolkit rectangle, placed top-down in pixels.
#pragma once

struct Rw2dObject;
struct RwTexture;

class CKivGuiSprite {
public:
    CKivGuiSprite() = default;
    virtual ~CKivGuiSprite();
    CKivGuiSprite(const CKivGuiSprite &) = delete;
    CKivGuiSprite &operator=(const CKivGuiSprite &) = delete;

    // Reads folder + file as a texture of its own; 1, or 0 with the sprite
    // left empty.
    int Load(const char *file, const char *folder);
    // A new sprite loaded from folder + file, or null.
    static CKivGuiSprite *CreateLoaded(const char *file, const char *folder);
    void Release();
    // Draws inside a begun update of the 2D device camera; an empty sprite
    // draws nothing.
    void Render();

    // Top-down pixel position of the image's top-left corner; with scaleFix
    // the top edge of the image as drawn (loaded size / image scale) lies there.
    void SetPosition(const float *xy, int scaleFix);
    void SetPositionInt(int x, int y, int scaleFix);
    // About the bottom-left corner; null: the image's full-quality size.
    void SetScale(const float *scale = nullptr);
    // About the centre, from the position set just before.
    void SetScaleCentered(const float *scale);
    void SetColor(float r, float g, float b);
    void SetAlpha(float a);
    void SetVisible(int flag);
    float GetWidth() const { return m_width; }
    float GetHeight() const { return m_height; }
    const char *GetPath() const { return m_path; }
    bool IsLoaded() const { return m_shape != nullptr; }

    // A container of other sprites' shapes.
    int CreateScene(const char *name);
    void DestroyScene();
    // Moves the other sprite's shape into the scene: the other is empty after.
    int AddChild(CKivGuiSprite *other);
    void SetScenePosition(float x, float y);
    int GetChildCount() const { return m_childCount; }

    Rw2dObject *GetShape() const { return m_shape; }
    Rw2dObject *GetScene() const { return m_scene; }

private:
    bool Build(RwTexture *texture);
    void SetMatrixPosition(Rw2dObject *object, float x, float y);

    Rw2dObject *m_scene = nullptr;
    Rw2dObject *m_shape = nullptr;
    int m_dirty = 0;
    int m_childCount = 0;
    float m_width = 0;
    float m_height = 0;
    char m_path[260] = {};
};
