// The engine's cache of keyframe animations by case-insensitive name, with the holds of their players.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

struct RwAnimAnimation;
class CParcelBase;

class CKivAnimManager
{
public:
    // Names and built paths live in buffers of this size, terminator included.
    static const int kNameBufferSize = 260;

    // Reads through the archive given, or through the engine root's main
    // archive (looked up at each load) when it is null.
    explicit CKivAnimManager(CParcelBase *parcel = nullptr);
    // Frees every animation, held or not.
    virtual ~CKivAnimManager();
    CKivAnimManager(const CKivAnimManager &) = delete;
    CKivAnimManager &operator=(const CKivAnimManager &) = delete;

    // Registers the first animation chunk of the file, which must hold
    // skeleton keyframes, under the name (or the file's base name without its
    // extension); a registered key only gains a reference. TRUE when the key
    // is registered afterwards.
    BOOL LoadAnimation(const char *path, const char *name);
    // The registered animation, loaded from the motions folder on first use;
    // NULL when that load fails (the next request tries again).
    RwAnimAnimation *GetAnimation(const char *name);
    // The registered animation or NULL; never loads.
    RwAnimAnimation *FindAnimation(const char *name) const;
    // Drops one reference; at none the key goes at once and the animation
    // dies with its last hold. FALSE when the key is not registered.
    BOOL RemoveAnimation(const char *name);
    // Frees every animation and record, held or not; TRUE.
    BOOL RemoveAllAnimations();
    int GetAnimationCount() const { return static_cast<int>(m_byName.size()); }

    // Players (queue entries, interpolators) hold what they play, so that a
    // removal cannot free it under them. Both give 0 for an animation that is
    // not this manager's (or a drop without a hold).
    int HoldAnimation(RwAnimAnimation *animation);
    int DropAnimation(RwAnimAnimation *animation);
    int GetHoldCount(const RwAnimAnimation *animation) const;
    // GetAnimation and a hold in one step.
    RwAnimAnimation *TakeAnimation(const char *name);

private:
    struct Record {
        RwAnimAnimation *animation;
        int references;     // loads less removals; 0 once the key is gone
        int holds;
    };

    RwAnimAnimation *ReadAnimation(const char *path) const;
    void DestroyIfUnused(Record *record);

    CParcelBase *m_parcel;
    std::unordered_map<std::string, Record *> m_byName;             // registered keys
    std::unordered_map<const RwAnimAnimation *, Record *> m_records;  // owns every live record
};
