// A named sequence of motions with blend times and loop flags, and an optional sound event.
#include "engine/CKivBehavior.h"

#include "engine/CKivAnimManager.h"
#include "engine/CKivBase.h"
#include "gfx/plugins/animation/anim.h"

CKivBehavior::CKivBehavior(const char *name, int soundIndex)
    : m_name(name ? name : ""), m_soundIndex(soundIndex), m_duration(0.0f)
{
}

void CKivBehavior::SetName(const char *name)
{
    m_name = name ? name : "";
}

void CKivBehavior::AddMotion(const char *motionName, float blendTime, int loopFlags)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivAnimManager *manager = base ? base->GetAnimManager() : nullptr;
    RwAnimAnimation *animation = manager ? manager->GetAnimation(motionName) : nullptr;
    if (!animation)
        return;
    const float rest = animation->duration - blendTime;
    if (rest > 0.0f)
        m_duration += rest;
    m_motions.push_back({motionName, blendTime, loopFlags});
}
