// One toon look: an ink and a paint dictionary read from files and bound to models by name.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwClump;
struct RwToonInkDictionary;
struct RwToonPaintDictionary;
class CKivClump;

class CKivToon
{
public:
    CKivToon();
    // Destroys the dictionaries; inks and paints bound to models live on through their references.
    virtual ~CKivToon();
    CKivToon(const CKivToon &) = delete;
    CKivToon &operator=(const CKivToon &) = delete;

    // Either file name may be NULL. 1 on success, 0 when a named file cannot
    // be read or holds no dictionary; the texture-read mode is restored either way.
    int Load(const char *inkFile, const char *paintFile, const char *texturePath);
    void Release();

    // Every atomic of the clump: inks in one walk, then paints in a second.
    // Hidden atomics (CKivClump::NullRenderCallBack) are left alone.
    int ApplyToClump(CKivClump *clump);
    int RemoveFromClump(CKivClump *clump);
    int ApplyToClump(RwClump *clump);
    int RemoveFromClump(RwClump *clump);
    int ApplyToAtomic(RwAtomic *atomic);
    int RemoveFromAtomic(RwAtomic *atomic);

    RwToonInkDictionary *GetInkDictionary() const { return m_inks; }
    RwToonPaintDictionary *GetPaintDictionary() const { return m_paints; }

private:
    static RwAtomic *ApplyInks(RwAtomic *atomic, void *toon);
    static RwAtomic *ApplyPaints(RwAtomic *atomic, void *toon);
    static RwAtomic *Remove(RwAtomic *atomic, void *unused);

    RwToonInkDictionary *m_inks;        // owned
    RwToonPaintDictionary *m_paints;    // owned
};
