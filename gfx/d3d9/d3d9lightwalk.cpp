// The lights of the current world that reach a world sector or an atomic.
#include "d3d9lightwalk.h"

#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"

static RwWorld *CurrentWorld(void)
{
    return static_cast<RwWorld *>(RwEngineInstance->curWorld);
}

static void VisitGlobals(RwWorld *world, RwUInt8 flag, bool directional, RwD3D9LightVisit visit, void *data)
{
    RwLinkList *list = &world->directionalLightList;
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        RwLight *light = rwLLLinkGetData(l, RwLight, inWorld);
        if ((RwLightGetFlags(light) & flag) && (directional || RwLightGetType(light) != rwLIGHTDIRECTIONAL))
            visit(light, FALSE, data);
    }
}

// A new stamp: lights already met under it are skipped.
static RwUInt16 NextLightFrame(void)
{
    return static_cast<RwUInt16>(++RwEngineInstance->lightFrame);
}

// Local lights tied to the sector with the flag and not yet stamped; a
// non-NULL sphere keeps only those whose range reaches it.
static void VisitLocals(RwWorldSector *sector, RwUInt8 flag, RwUInt16 stamp, const RwSphere *sphere,
                        RwD3D9LightVisit visit, void *data)
{
    RwLinkList *list = &sector->lightsInWorldSector;
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        RwLight *light = static_cast<RwLight *>(rwLLLinkGetData(l, RwTie, lWorldSector)->object);
        if (!light || !(RwLightGetFlags(light) & flag) || light->lightFrame == stamp)
            continue;
        light->lightFrame = stamp;
        if (sphere) {
            RwFrame *frame = RwLightGetFrame(light);
            if (!frame)
                continue;
            const RwV3d &p = RwFrameGetWorldMatrix(frame)->pos;
            const RwReal dx = p.x - sphere->center.x, dy = p.y - sphere->center.y, dz = p.z - sphere->center.z;
            const RwReal reach = light->radius + sphere->radius;
            if (!(reach * reach > dx * dx + dy * dy + dz * dz))
                continue;
        }
        visit(light, TRUE, data);
    }
}

RwBool RwD3D9ForLightsReachingSector(RwWorldSector *sector, RwD3D9LightVisit visit, void *data)
{
    RwWorld *world = CurrentWorld();
    if (!sector || !world || !(world->flags & rwGEOMETRYLIGHT))
        return FALSE;
    VisitGlobals(world, rwLIGHTLIGHTWORLD, true, visit, data);
    VisitLocals(sector, rwLIGHTLIGHTWORLD, NextLightFrame(), nullptr, visit, data);
    return TRUE;
}

RwBool RwD3D9ForLightsReachingAtomic(RwAtomic *atomic, RwD3D9LightVisit visit, void *data)
{
    RwWorld *world = CurrentWorld();
    const RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    if (!geometry || !world || !(geometry->flags & rwGEOMETRYLIGHT))
        return FALSE;
    const bool normals = (geometry->flags & rwGEOMETRYNORMALS) != 0;
    VisitGlobals(world, rwLIGHTLIGHTATOMICS, normals, visit, data);
    if (!normals)
        return TRUE;
    const RwUInt16 stamp = NextLightFrame();
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(atomic);
    RwLinkList *ties = &atomic->llWorldSectorsInAtomic;
    for (RwLLLink *l = ties->next; l != ties; l = l->next)
        VisitLocals(rwLLLinkGetData(l, RwTie, lObject)->worldSector, rwLIGHTLIGHTATOMICS, stamp, sphere, visit,
                    data);
    return TRUE;
}
