// The instancing-flags extension of geometries and world sectors: which vertex data changes often.
#include "d3d9allinone.h"
#include "gfx/core/engine.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"

static RwInt32 GeometryOffset = -1;
static RwInt32 SectorOffset = -1;

static RwUInt32 *Word(void *object, RwInt32 offset)
{
    return reinterpret_cast<RwUInt32 *>(static_cast<RwUInt8 *>(object) + offset);
}

static void *FlagsClear(void *object, RwInt32 offset, RwInt32)
{
    *Word(object, offset) = 0;
    return object;
}

static void *FlagsCopy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    *Word(dst, offset) = *Word(const_cast<void *>(src), offset);
    return dst;
}

static void *EngineOpen(void *instance, RwInt32 offset, RwInt32)
{
    ++*Word(instance, offset);
    return instance;
}

static void *EngineClose(void *instance, RwInt32 offset, RwInt32)
{
    --*Word(instance, offset);
    return instance;
}

RwBool RwD3D9InstanceFlagsPluginAttach(void)
{
    if (RwEngineRegisterPlugin(sizeof(RwUInt32), rwID_D3D9INSTANCEFLAGS, EngineOpen, EngineClose) < 0) {
        return FALSE;
    }
    GeometryOffset = RwGeometryRegisterPlugin(sizeof(RwUInt32), rwID_D3D9INSTANCEFLAGS, FlagsClear, FlagsClear,
                                              FlagsCopy);
    SectorOffset = RwWorldSectorRegisterPlugin(sizeof(RwUInt32), rwID_D3D9INSTANCEFLAGS, FlagsClear, FlagsClear,
                                               FlagsCopy);
    return GeometryOffset >= 0 && SectorOffset >= 0;
}

// Objects made before the extension was registered carry no flags.
void RwD3D9GeometrySetInstanceFlags(RwGeometry *geometry, RwUInt32 flags)
{
    if (GeometryOffset >= 0) {
        *Word(geometry, GeometryOffset) = flags;
    }
}

RwUInt32 RwD3D9GeometryGetInstanceFlags(const RwGeometry *geometry)
{
    return GeometryOffset >= 0 ? *Word(const_cast<RwGeometry *>(geometry), GeometryOffset) : 0;
}

void RwD3D9WorldSectorSetInstanceFlags(RwWorldSector *sector, RwUInt32 flags)
{
    if (SectorOffset >= 0) {
        *Word(sector, SectorOffset) = flags;
    }
}

RwUInt32 RwD3D9WorldSectorGetInstanceFlags(const RwWorldSector *sector)
{
    return SectorOffset >= 0 ? *Word(const_cast<RwWorldSector *>(sector), SectorOffset) : 0;
}
