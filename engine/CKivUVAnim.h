// The engine's handle on one UV animation file: its dictionary, its first animation and the texture it scrolls.
#pragma once

struct RwDictionary;
struct RwAnimAnimation;
struct RwTexture;

class CKivUVAnim
{
public:
    CKivUVAnim();
    virtual ~CKivUVAnim();
    CKivUVAnim(const CKivUVAnim &) = delete;
    CKivUVAnim &operator=(const CKivUVAnim &) = delete;

    // Reads a ".uva" dictionary through the engine's archive, keeps its first
    // animation and reads the texture from the texture path. 1 on success; on
    // failure what was read so far stays for the destructor.
    int Load(const char *fileName, const char *textureName, const char *texturePath);
    void Release();

    // The dictionary walk's callback: keeps the first entry and stops.
    static void *TakeFirstEntry(void *entry, void *animationSlot);

    RwAnimAnimation *GetAnimation() const { return m_animation; }
    RwTexture *GetTexture() const { return m_texture; }
    RwDictionary *GetDictionary() const { return m_dictionary; }

private:
    RwDictionary *m_dictionary;           // owned
    RwAnimAnimation *m_animation;         // lives in the dictionary
    RwTexture *m_texture;                 // one reference
};
