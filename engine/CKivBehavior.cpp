// A named sequence of motions with blend times and loop flags, and an optional sound event.
#include "engine/CKivBehavior.h"

#include <new>

#include "engine/CKivAnimManager.h"
#include "engine/CKivBase.h"
#include "engine/KivNames.h"
#include "gfx/plugins/animation/anim.h"

// Without memory for the name the behaviour is unnamed.
CKivBehavior::CKivBehavior(const char *name, int soundIndex) : m_soundIndex(soundIndex), m_duration(0.0f)
{
    SetName(name);
}

// Without memory for the new name the old one stays.
int CKivBehavior::SetName(const char *name)
{
    return KivSetText(&m_name, name) ? 1 : 0;
}

// A motion that does not load is skipped; 0 only when memory runs out, with
// the behaviour as it was.
int CKivBehavior::AddMotion(const char *motionName, float blendTime, int loopFlags)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivAnimManager *manager = base ? base->GetAnimManager() : nullptr;
    RwAnimAnimation *animation = manager ? manager->GetAnimation(motionName) : nullptr;
    if (!animation)
        return 1;
    try {
        m_motions.push_back({motionName, blendTime, loopFlags});
    } catch (const std::bad_alloc &) {
        return 0;
    }
    const float rest = animation->duration - blendTime;
    if (rest > 0.0f)
        m_duration += rest;
    return 1;
}
