// One avatar atomic: a model atomic with the name of the frame it belongs on and its display colouring.
#pragma once

#include <string>

struct RwAtomic;
struct RwClump;
struct RwMaterial;

class CKivAvatarAtomic
{
public:
    CKivAvatarAtomic();
    // Takes the atomic out of its clump and destroys it, unless cleared first.
    virtual ~CKivAvatarAtomic();
    CKivAvatarAtomic(const CKivAvatarAtomic &) = delete;
    CKivAvatarAtomic &operator=(const CKivAvatarAtomic &) = delete;

    // The alpha an item atomic shows for its display mode and flag, -1 for
    // "leave the colour"; resetColor gives the alpha of a colour reset.
    static int DisplayAlpha(int displayMode, int flag, int resetColor);
    // White materials with the alpha; transparent ones move to the alpha manager.
    static void Colour(RwAtomic *atomic, int alpha);
    // The model's atomics that make parts: named geometry that is no bone
    // shape, on a named frame; each becomes a CKivAvatarAtomic by make.
    static void ForParts(RwClump *clump, void (*make)(RwAtomic *atomic, const char *frameName, void *data),
                         void *data);

    // Material callback: a positive integer as data gives the material the
    // stained texture "dirty"; otherwise, or when it cannot be read, the
    // material keeps its texture. Always goes on to the next material.
    static RwMaterial *UseDirtyTexture(RwMaterial *material, void *data);

    void SetDisplayFlags(int displayMode, int flag);
    void SetAtomic(RwAtomic *atomic) { m_atomic = atomic; }
    RwAtomic *GetAtomic() const { return m_atomic; }
    // 0 when memory runs out, with the old name kept.
    int SetFrameName(const char *name);
    const char *GetFrameName() const { return m_frameName.c_str(); }
    int GetDisplayMode() const { return m_displayMode; }
    int GetFlag() const { return m_flag; }

private:
    RwAtomic *m_atomic;   // owned unless cleared
    std::string m_frameName;
    int m_displayMode;
    int m_flag;
};
