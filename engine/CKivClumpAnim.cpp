// The clump's animation queue: motions played in order, cross-faded by their blend times.
#include "engine/CKivClump.h"

#include <memory>
#include <new>

#include "engine/CKivAnimManager.h"
#include "engine/CKivBase.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/CKivSoundManager.h"
#include "engine/KivEngineLock.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/world/material.h"

static RwAnimInterpolator *Interpolator(RwHAnimHierarchy *hierarchy)
{
    return hierarchy ? hierarchy->currentAnim : nullptr;
}

// Players hold what they play, so a removal from the manager cannot free it under them.
static void Hold(RwAnimAnimation *animation, int hold)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivAnimManager *manager = base ? base->GetAnimManager() : nullptr;
    if (manager && animation) {
        if (hold)
            manager->HoldAnimation(animation);
        else
            manager->DropAnimation(animation);
    }
}

void CKivClump::DeleteEntry(KivAnimEntry *entry)
{
    Hold(entry->animation, 0);
    delete entry;
}

int CKivClump::Play(int slot, RwAnimInterpolator *interpolator, RwAnimAnimation *animation)
{
    if (!RwAnimInterpolatorSetCurrentAnim(interpolator, animation))
        return 0;
    Hold(animation, 1);
    Hold(m_playing[slot], 0);
    m_playing[slot] = animation;
    return 1;
}

void CKivClump::ClearQueue()
{
    for (KivAnimEntry *entry : m_queue)
        DeleteEntry(entry);
    m_queue.clear();
    m_current = m_queue.end();
    for (RwAnimAnimation *&playing : m_playing) {
        Hold(playing, 0);
        playing = nullptr;
    }
}

int CKivClump::PushAnimation(CKivAnimManager *manager, const char *motionName, float blendTime, int loopFlags)
{
    EngineLock lock;
    RwAnimAnimation *animation = manager && motionName ? manager->GetAnimation(motionName) : nullptr;
    return animation ? PushAnimationEntry(animation, blendTime, loopFlags) : 0;
}

int CKivClump::PlayBehavior(const char *name)
{
    EngineLock lock;
    CKivBehavior *behavior = m_behaviors ? m_behaviors->FindBehavior(name) : nullptr;
    if (!behavior)
        return 0;
    CKivBase *base = CKivBase::GetInstance();
    // Copied first: a push may load motions, never change the list, but stays safe if it does.
    std::vector<KivBehaviorMotion> motions;
    try {
        motions = behavior->GetMotions();
    } catch (const std::bad_alloc &) {
        return 0;
    }
    for (const KivBehaviorMotion &motion : motions)
        PushAnimation(base ? base->GetAnimManager() : nullptr, motion.name.c_str(), motion.blendTime,
                      motion.loopFlags);
    // Its sound (group 1) follows this clump through the world.
    CKivSoundManager *sound = base ? base->GetSoundManager() : nullptr;
    if (sound && behavior->GetSoundIndex() >= 0)
        sound->PlayEventOnObject(1, behavior->GetSoundIndex(), GetName());
    return 1;
}

CKivBehavior *CKivClump::CreateBehavior(const char *name, int soundIndex)
{
    return m_behaviors ? m_behaviors->CreateBehavior(name, soundIndex) : nullptr;
}

int CKivClump::PushAnimationEntry(RwAnimAnimation *animation, float blendTime, int loopFlags)
{
    EngineLock lock;
    RwAnimInterpolator *interpolator = Interpolator(m_hierarchy);
    // Scripts keep clumps whose load failed; a motion must drive every node.
    if (!m_clump || !interpolator || !animation || RwAnimAnimationGetNumNodes(animation) < m_hierarchy->numNodes)
        return 0;
    // The entry and its place in the queue come first: memory running out
    // leaves the queue, the interpolator and the motion's holds as they were.
    const bool first = m_queue.empty();
    std::unique_ptr<KivAnimEntry> made;
    try {
        made.reset(new KivAnimEntry{animation, animation->duration, blendTime < 0.0f ? 0.0f : blendTime, loopFlags,
                                    0});
        m_queue.push_back(made.get());
    } catch (const std::bad_alloc &) {
        return 0;
    }
    KivAnimEntry *entry = made.release();
    Hold(animation, 1);
    if (first) {
        if (!Play(0, interpolator, animation)) {
            m_queue.pop_back();
            DeleteEntry(entry);
            return 0;
        }
        m_current = m_queue.begin();
    } else if (m_queueIdle && m_current != m_queue.end()) {
        // The frozen motion hands over from now.
        KivAnimEntry *current = *m_current;
        current->finished = 1;
        const float cut = interpolator->currentTime + entry->blendTime;
        if (current->duration > cut)
            current->duration = cut;
    }
    m_queueIdle = 0;
    return 1;
}

void CKivClump::ClearAnimationQueue()
{
    EngineLock lock;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it == m_current) {
            ++it;
            continue;
        }
        DeleteEntry(*it);
        it = m_queue.erase(it);
    }
    if (m_current != m_queue.end())
        (*m_current)->finished = 1;
    m_queueIdle = 1;
}

int CKivClump::HasNextAnimation() const
{
    if (m_current == m_queue.end())
        return 0;
    auto next = m_current;
    return ++next != m_queue.end() ? 1 : 0;
}

KivAnimEntry *CKivClump::GetCurrentEntry() const
{
    return m_current != m_queue.end() ? *m_current : nullptr;
}

KivAnimEntry *CKivClump::GetLastEntry() const
{
    return m_queue.empty() ? nullptr : m_queue.back();
}

float CKivClump::GetAnimationTime() const
{
    RwAnimInterpolator *interpolator = Interpolator(m_hierarchy);
    return m_clump && interpolator ? interpolator->currentTime : 0.0f;
}

float CKivClump::GetAnimationDuration() const
{
    RwAnimInterpolator *interpolator = Interpolator(m_hierarchy);
    if (m_queue.empty() || !interpolator || !interpolator->pCurrentAnim)
        return -1.0f;
    return interpolator->pCurrentAnim->duration;
}

int CKivClump::WillAnimationEnd(float dt) const
{
    RwAnimInterpolator *interpolator = Interpolator(m_hierarchy);
    if (m_queue.empty() || !m_hierarchy)
        return 1;
    if (!interpolator || !interpolator->pCurrentAnim)
        return 1;
    return interpolator->pCurrentAnim->duration <= interpolator->currentTime + dt ? 1 : 0;
}

int CKivClump::SetAnimationTime(float t)
{
    EngineLock lock;
    RwAnimInterpolator *interpolator = Interpolator(m_hierarchy);
    if (!m_clump || !interpolator || t > GetAnimationDuration())
        return 0;
    if (interpolator->pCurrentAnim)
        RwAnimInterpolatorSetTime(interpolator, t);
    Update(0.0f);
    return 1;
}

// The trailers step textures shared with other clumps, and a dropped
// material lets go of its texture: reference counts are the render lock's.
int CKivClump::Update(float dt)
{
    EngineLock lock;
    DropOrphanMaterials();
    for (const auto &bound : m_trailers) {
        bound.second->Update(dt);
        if (RwTexture *texture = bound.second->GetCurrentTexture())
            RwMaterialSetTexture(bound.first, texture);
    }
    for (RwMaterial *material : m_uvMaterials) {
        RwUVAnimMaterialAddTime(material, dt);
        RwUVAnimMaterialApplyUpdate(material);
    }
    if (!m_clump)
        return 0;
    return UpdateQueue(dt);
}

int CKivClump::UpdateQueue(float dt)
{
    RwAnimInterpolator *in = Interpolator(m_hierarchy);
    if (!in)
        return 0;
    if (m_queueIdle) {
        if (in->pCurrentAnim)
            RwHAnimHierarchyUpdateMatrices(m_hierarchy);
        return 0;
    }
    if (m_current == m_queue.end() || !in->pCurrentAnim)
        return 0;
    int result = 1;
    KivAnimEntry *e = *m_current;
    auto markFinished = [&result](KivAnimEntry *entry) {
        if (!entry->finished)
            result = 0;
        entry->finished = 1;
    };

    if (dt < 0.0f) {
        if (e->loopFlags == 1) {
            RwAnimInterpolatorSubtractTime(in, -dt);
        } else {
            // Stepping back onto the start lands on it, as stepping past it does.
            const float t = in->currentTime + dt;
            RwAnimInterpolatorSubtractTime(in, t > 0.0f ? -dt : in->currentTime);
        }
        RwHAnimHierarchyUpdateMatrices(m_hierarchy);
        return result;
    }

    for (;;) {
        auto nextIt = m_current;
        ++nextIt;
        if (nextIt == m_queue.end()) {
            const float d = e->duration, t1 = in->currentTime + dt;
            if (d >= t1) {
                RwAnimInterpolatorAddTime(in, dt);
            } else {
                result = 0;
                if (e->loopFlags) {
                    RwAnimInterpolatorAddTime(in, dt);
                } else {
                    RwAnimInterpolatorSetTime(in, d);
                    RwHAnimHierarchyUpdateMatrices(m_hierarchy);
                    ClearAnimationQueue();
                    return result;
                }
            }
            RwHAnimHierarchyUpdateMatrices(m_hierarchy);
            return result;
        }
        KivAnimEntry *n = *nextIt;
        const float d = e->duration, t = in->currentTime, t1 = t + dt;
        const float b = n->blendTime < d ? n->blendTime : d;
        // The blend starts b before the end, so its factor stays within 0..1.
        const float s = d - b;
        if (s > t1) {
            RwAnimInterpolatorAddTime(in, dt);
            RwHAnimHierarchyUpdateMatrices(m_hierarchy);
            return result;
        }
        if (d <= t1) {
            markFinished(e);
            const bool within = t1 < d + n->duration - b;
            // n takes the interpolator before e lets its motion go.
            Play(0, in, n->animation);
            DeleteEntry(e);
            m_queue.erase(m_current);
            m_current = nextIt;
            if (within) {
                RwAnimInterpolatorAddTime(in, t1 - s);
                RwHAnimHierarchyUpdateMatrices(m_hierarchy);
                return result;
            }
            RwHAnimHierarchyUpdateMatrices(m_hierarchy);
            dt = t1 - d + b;
            e = n;
            continue;
        }
        // Cross-fade: A holds e's pose at the blend start, B runs n.
        markFinished(e);
        RwAnimInterpolatorSetTime(in, d - b);
        if (m_blendA && m_blendB && Play(1, m_blendA, e->animation) && RwAnimInterpolatorCopy(m_blendA, in) &&
            Play(2, m_blendB, n->animation)) {
            RwAnimInterpolatorAddTime(in, t1 - s);
            RwAnimInterpolatorSetTime(m_blendB, t1 - s);
            RwAnimInterpolatorBlend(in, m_blendA, m_blendB, b > 0.0f ? (t1 - s) / b : 1.0f);
        } else {
            RwAnimInterpolatorAddTime(in, t1 - s);
        }
        RwHAnimHierarchyUpdateMatrices(m_hierarchy);
        return result;
    }
}
