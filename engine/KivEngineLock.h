// The engine's recursive render lock held for a scope, and the rule of which lock guards what.
//
// The game's loading thread makes worlds, models, characters, textures and
// animations while the main thread draws; the two are kept apart thus.
//
// The render lock (CKivBase::Lock, recursive) guards all state the two threads
// could share: the graphics library's worlds with their sectors and the ties
// of atomics and lights to them, clumps and atomics with their frames while
// they are built or taken apart, the free lists and resources arena, the
// current texture dictionary, image path and camera, texture reference counts,
// plug-in data; and the engine's own module-wide state: the shadow list, the
// script state, the animation manager (the lists avatar calls return are each
// thread's own). The main thread holds it for each frame's rendering (which
// syncs the frames). Every
// engine call that creates, loads, clones, attaches, detaches, adds to or
// removes from a world, releases or deletes graphics objects holds it for the
// whole call, on whatever thread, and so does every call into the scripts.
//
// The dirty-frame list has a lock of its own inside the graphics library:
// moving a frame queues it, and the main thread moves its objects outside
// the frame. So frames may be moved by the thread that owns them at any time.
//
// The lock is never given away inside a hold: the current dictionary,
// read mode and world-loading flag a call sets under it are put back before
// it leaves, so no other thread sees them. The image path is the one
// exception: each call that reads textures sets it under its hold and leaves
// it set, so a path set outside a hold lasts only until another thread's
// read or load.
// A texture read under a hold is whole when the read returns: the callback
// gives the decoded texture or null, never a stand-in (only the background
// loader, when it is on, hands out placeholders). A load keeps the decoding
// out of its hold by reading its file first and decoding the pictures its
// texture chunks name, with no lock, into a list of its thread's own
// (engine/KivPreparedTextures.h); under the hold the callback then only
// makes and fills each raster. Pictures it did not foresee are decoded under
// the hold.
//
// The main thread's calls that change shared state take the lock around the
// change themselves: Update, PushAnimation, PlayBehavior, the animation
// queue, material colour and alpha; the GUI's sprite loads too, for the
// dictionary, path and read mode they set. The sound manager and the rest of
// the GUI are the main thread's alone and have no lock.
//
// So the loading thread may, during frames: construct, Load, CreateEmpty and
// delete CKivWorld and use its registry (AddClump, RemoveClump, AddCamera,
// RemoveCamera, AddLight, RemoveLight, SetCamera); construct, Load, Clone,
// attach and detach atomics of, give shadows, toon and UV animations to, move
// and delete CKivClump; Create, CreateVariant, dress (SetBody, SetSkin,
// SetFace, variants, emotions, AttachItem, RemoveItem), Release and delete
// CKivAvatar; load and
// delete lights, cameras, toon looks and UV animations; read and
// release textures through the engine root; load and release animations
// through the animation manager. An object belongs to the thread that made it
// until it is handed over (added to the world the main thread draws); the
// loading thread does not render, nor set the engine root's current world,
// camera or viewport.
//
// Every engine call counts itself in flight (CKivBase::BeginLoad), texture
// reads and releases through the engine root included: Shutdown waits for
// those in progress. Begun after it started, the loads (CKivWorld::Load,
// CKivClump::Load, CKivAvatar::Create, CKivToon::Load) and the engine root's
// ReadTexture, ReleaseTexture and DestroyDictionaryTextures are refused and
// do nothing; the other calls are not, so a loading thread makes none then.
//
// Lock order: the render lock, then the texture loader's lock. The
// file-system manager's lock guards its open-file slots only.
#pragma once

#include "engine/CKivBase.h"

// A load's count in flight (while it reads its files before it locks, say).
class EngineLoad
{
public:
    EngineLoad() : m_base(CKivBase::GetInstance()), m_counted(m_base ? m_base->BeginLoad() : 0) {}
    ~EngineLoad()
    {
        if (m_counted)
            m_base->EndLoad();
    }
    // The engine is shutting down: a load must do nothing.
    int Refused() const { return m_base && !m_counted; }
    EngineLoad(const EngineLoad &) = delete;
    EngineLoad &operator=(const EngineLoad &) = delete;

private:
    CKivBase *m_base;
    int m_counted;
};

// An engine call's hold of the render lock, counted in flight from before
// it takes the lock until after it leaves it.
class EngineLock
{
public:
    EngineLock() : m_base(CKivBase::GetInstance())
    {
        if (m_base)
            m_base->Lock();
    }
    ~EngineLock()
    {
        if (m_base)
            m_base->Unlock();
    }
    int Refused() const { return m_load.Refused(); }
    EngineLock(const EngineLock &) = delete;
    EngineLock &operator=(const EngineLock &) = delete;

private:
    EngineLoad m_load;
    CKivBase *m_base;
};
