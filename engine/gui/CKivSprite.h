// A named set of GUI sprites that its owner draws one by one through a camera of its choice.
#pragma once

#include <map>
#include <string>

struct RwCamera;
class CKivGuiSprite;

class CKivSprite {
public:
    CKivSprite() = default;
    virtual ~CKivSprite();
    CKivSprite(const CKivSprite &) = delete;
    CKivSprite &operator=(const CKivSprite &) = delete;

    // x, y: bottom-up position of the image's bottom-left corner. 0 when the
    // key exists or the image cannot be read.
    int AddSprite(const char *file, const char *folder, const char *key, float x, float y);
    void SetSpritePosition(const char *key, float x, float y, int scaleFix);
    void SetSpriteScale(const char *key, float sx, float sy);
    void SetSpriteScaleCentered(const char *key, float sx, float sy);
    void SetSpriteVisible(const char *key, int flag);
    void SetSpriteAlpha(const char *key, float alpha, int unused = 0);
    void SetSpriteColor(const char *key, float r, float g, float b, float a);
    float GetSpriteWidth(const char *key) const;
    float GetSpriteHeight(const char *key) const;
    int HasSprite(const char *key) const;
    CKivGuiSprite *GetSprite(const char *key) const;

    // Draws one sprite between a begin and an end update of the camera.
    void RenderSprite(const char *key);
    int SetCamera(RwCamera *camera);
    RwCamera *GetCamera() const { return m_camera; }

    void RemoveSprite(const char *key);
    void DeleteAll();
    void Release() {}

private:
    void Place(CKivGuiSprite *sprite, float x, float y, int scaleFix);

    RwCamera *m_camera = nullptr;
    std::map<std::string, CKivGuiSprite *, std::less<>> m_sprites;   // found by a caller's key without a copy
};
