// Stand-ins of the collision, visibility, lightmap and particle plug-ins: their registrations and the queries the engine makes.
#include "worldquery.h"

#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/world/clump.h"
#include "gfx/world/world.h"

static RwInt32 lightmapWorldOffset = -1;

// No stream callbacks anywhere: blocks of these ids are skipped by the
// registries' readers and nothing is written for them.
static RwBool AttachEnginePlugin(RwUInt32 pluginID)
{
    return RwEngineRegisterPlugin(0, pluginID, nullptr, nullptr) >= 0;
}

RwBool RwCollisionPluginAttach(void) { return AttachEnginePlugin(rwID_COLLISIONPLUGIN); }
RwBool RwPvsPluginAttach(void) { return AttachEnginePlugin(rwID_PVSPLUGIN); }
RwBool RwParticleTankPluginAttach(void) { return AttachEnginePlugin(rwID_PARTICLETANKPLUGIN); }
RwBool RwParticleAdvancedPluginAttach(void) { return AttachEnginePlugin(rwID_PARTICLEADVANCEDPLUGIN); }

static RwInt32 *RenderStyle(const RwWorld *world)
{
    return reinterpret_cast<RwInt32 *>(reinterpret_cast<uintptr_t>(world) + lightmapWorldOffset);
}

static void *ConstructStyle(void *world, RwInt32, RwInt32)
{
    *RenderStyle(static_cast<RwWorld *>(world)) = 0;
    return world;
}

static void *CopyStyle(void *dst, const void *src, RwInt32, RwInt32)
{
    *RenderStyle(static_cast<RwWorld *>(dst)) = *RenderStyle(static_cast<const RwWorld *>(src));
    return dst;
}

RwBool RwLightmapPluginAttach(void)
{
    if (!AttachEnginePlugin(rwID_LIGHTMAPPLUGIN)) {
        return FALSE;
    }
    lightmapWorldOffset = RwWorldRegisterPlugin(sizeof(RwInt32), rwID_LIGHTMAPPLUGIN, ConstructStyle, nullptr, CopyStyle);
    return lightmapWorldOffset >= 0;
}

RwInt32 RwLightmapWorldCountLightmaps(RwWorld *)
{
    return 0;
}

RwWorld *RwLightmapSetRenderStyle(RwInt32 style, RwWorld *world)
{
    if (!world || lightmapWorldOffset < 0) {
        return nullptr;
    }
    *RenderStyle(world) = style;
    return world;
}

RwInt32 RwLightmapGetRenderStyle(const RwWorld *world)
{
    return world && lightmapWorldOffset >= 0 ? *RenderStyle(world) : 0;
}

static RwInt32 particleAtomicOffset = -1;

static RwParticleEmitter **Emitters(const RwAtomic *atomic)
{
    return reinterpret_cast<RwParticleEmitter **>(reinterpret_cast<uintptr_t>(atomic) + particleAtomicOffset);
}

static void *ConstructEmitters(void *atomic, RwInt32, RwInt32)
{
    *Emitters(static_cast<RwAtomic *>(atomic)) = nullptr;
    return atomic;
}

// The emitters belong to whoever gave them; a clone does not share them.
static void *CopyEmitters(void *dst, const void *, RwInt32, RwInt32)
{
    *Emitters(static_cast<RwAtomic *>(dst)) = nullptr;
    return dst;
}

RwBool RwParticleStandardPluginAttach(void)
{
    if (!AttachEnginePlugin(rwID_PARTICLESTANDARDPLUGIN)) {
        return FALSE;
    }
    particleAtomicOffset = RwAtomicRegisterPlugin(sizeof(RwParticleEmitter *), rwID_PARTICLESTANDARDPLUGIN,
                                                  ConstructEmitters, nullptr, CopyEmitters);
    return particleAtomicOffset >= 0;
}

RwParticleEmitter *RwParticleAtomicGetEmitter(const RwAtomic *atomic)
{
    return atomic && particleAtomicOffset >= 0 ? *Emitters(atomic) : nullptr;
}

RwBool RwParticleAtomicSetEmitter(RwAtomic *atomic, RwParticleEmitter *emitter)
{
    if (!atomic || particleAtomicOffset < 0) {
        return FALSE;
    }
    *Emitters(atomic) = emitter;
    return TRUE;
}

RwAtomic *RwParticleAtomicUpdate(RwAtomic *atomic, void *)
{
    return atomic;
}

RwInt32 RwParticlePropertyTableGetOffset(const RwParticlePropertyTable *table, RwInt32 propertyID)
{
    if (!table || !table->ids || !table->offsets) {
        return -1;
    }
    for (RwInt32 i = 0; i < table->numProperties; ++i) {
        if (table->ids[i] == propertyID) {
            return static_cast<RwInt32>(table->offsets[i]);
        }
    }
    return -1;
}
