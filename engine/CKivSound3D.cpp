// A sound event placed in the world, standing still or following a clump of the sound manager's world.
#include "engine/CKivSound3D.h"

#include <new>

#include "engine/CKivClump.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivWorld.h"
#include "evsound/evsound.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"

CKivSound3D::CKivSound3D(CKivSoundManager *manager, int group, int eventIndex, EvsEvent *event, int kind,
                         float volume)
    : CKivSound2D(group, eventIndex, event, kind, volume), m_manager(manager), m_position{0.0f, 0.0f, 0.0f}
{
}

CKivSound3D::~CKivSound3D() {}

void CKivSound3D::SetPosition(float x, float y, float z)
{
    m_position[0] = x;
    m_position[1] = y;
    m_position[2] = z;
    const EvsVector position = {x, y, z};
    EvsEventSetPosition(m_event, &position, nullptr);
}

// No world means no clump to follow.
CKivClump *CKivSound3D::FindFollowed() const
{
    CKivWorld *world = m_manager ? m_manager->GetWorld() : nullptr;
    return world ? world->FindClump(m_followed.c_str()) : nullptr;
}

void CKivSound3D::PlaceAt(CKivClump *clump)
{
    RwClump *graphics = clump->GetClump();
    RwFrame *frame = graphics ? RwClumpGetFrame(graphics) : nullptr;
    if (frame) {
        const RwV3d &pos = RwFrameGetMatrix(frame)->pos;
        SetPosition(pos.x, pos.y, pos.z);
    }
}

int CKivSound3D::Follow(const char *clumpName)
{
    // Without memory for the name the sound follows nothing.
    try {
        m_followed.assign(clumpName ? clumpName : "");
        if (m_followed.size() > 259)
            m_followed.resize(259);
    } catch (const std::bad_alloc &) {
        m_followed.clear();
        return 0;
    }
    CKivClump *clump = FindFollowed();
    if (clump)
        PlaceAt(clump);
    return clump ? 1 : 0;
}

int CKivSound3D::Update(float seconds)
{
    if (!CKivSound2D::Update(seconds))
        return 0;
    if (m_followed.empty())
        return 1;
    CKivClump *clump = FindFollowed();
    if (!clump)
        return 0;
    PlaceAt(clump);
    return 1;
}
