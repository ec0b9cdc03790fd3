// Tests of the lights that reach sectors and atomics of the current world, for the device lights and the shaders.
#include <algorithm>
#include <vector>

#include "d3d9testlights.h"
#include "gfx/d3d9/d3d9lights.h"
#include "gfx/d3d9/d3d9shaderconst.h"
#include "gfx/d3d9/d3d9vertexshader.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "sample/engine_scene.h"
#include "support/stream_bytes.h"
#include "support/test_memory.h"

namespace {

class LightWalk : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        ASSERT_TRUE(RwWorldPluginAttach());
        CameraDevice::SetUpTestSuite();
    }

    // One sector around the origin; an atomic of radius 1 at the origin.
    void SetUp() override
    {
        CameraDevice::SetUp();
        RwD3D9LightingStateInit();
        world = MakeWorld();
        ASSERT_NE(world, nullptr);
        world->flags |= rwGEOMETRYLIGHT;
        ambient = Add(rwLIGHTAMBIENT, {0, 0, 0});
        sun = Add(rwLIGHTDIRECTIONAL, {0, 0, 0});
        moon = Add(rwLIGHTDIRECTIONAL, {0, 0, 0}, rwLIGHTLIGHTWORLD);
        nearLamp = Add(rwLIGHTPOINT, {2, 0, 0});
        farLamp = Add(rwLIGHTPOINT, {50, 0, 0});
        atomicsOnly = Add(rwLIGHTPOINT, {-50, 0, 0}, rwLIGHTLIGHTATOMICS);
        geometry = RwGeometryCreateEmpty(1.0f);
        geometry->flags |= rwGEOMETRYLIGHT | rwGEOMETRYNORMALS;
        clump = RwClumpCreate();
        RwClumpSetFrame(clump, RwFrameCreate());
        atomic = RwAtomicCreate();
        RwAtomicSetGeometry(atomic, geometry, 0);
        RwFrame *f = RwFrameCreate();
        RwFrameAddChild(RwClumpGetFrame(clump), f);
        RwAtomicSetFrame(atomic, f);
        RwClumpAddAtomic(clump, atomic);
        RwWorldAddClump(world, clump);
        RwFrameSyncDirtyList();
        RwEngineInstance->curWorld = world;
    }
    void TearDown() override
    {
        RwEngineInstance->curWorld = nullptr;
        RwWorldRemoveClump(world, clump);
        RwClumpDestroy(clump);
        RwGeometryDestroy(geometry);
        for (RwLight *l : lights)
            DestroyLight(world, l);
        RwWorldDestroy(world);
        RwD3D9LightingStateTerm();
        CameraDevice::TearDown();
    }

    virtual RwWorld *MakeWorld()
    {
        const RwBBox box = {{100, 100, 100}, {-100, -100, -100}};
        return RwWorldCreate(&box);
    }
    RwLight *Add(RwInt32 type, RwV3d at, RwUInt8 flags = rwLIGHTLIGHTWORLD | rwLIGHTLIGHTATOMICS)
    {
        RwLight *l = RwLightCreate(type);
        RwFrame *f = RwFrameCreate();
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwLightSetFrame(l, f);
        RwLightSetRadius(l, 5.0f);
        l->object.object.flags = flags;
        RwWorldAddLight(world, l);
        lights.push_back(l);
        return l;
    }
    // The lights enabled on the device for the last object, as library lights.
    std::vector<RwLight *> Enabled()
    {
        const RwInt32 *e;
        const RwInt32 n = RwD3D9LightingGetEnabled(&e);
        std::vector<RwLight *> out;
        for (RwLight *l : lights) {
            if (std::find(e, e + n, RwD3D9LightGetData(l)->index) != e + n && RwD3D9LightGetData(l)->index >= 0)
                out.push_back(l);
        }
        return out;
    }
    DWORD Lighting()
    {
        DWORD on = 2;
        RwD3D9GetRenderState(D3DRS_LIGHTING, &on);
        return on;
    }

    RwWorld *world = nullptr;
    RwGeometry *geometry = nullptr;
    RwClump *clump = nullptr;
    RwAtomic *atomic = nullptr;
    RwLight *ambient, *sun, *moon, *nearLamp, *farLamp, *atomicsOnly;
    std::vector<RwLight *> lights;
};

TEST_F(LightWalk, AtomicTakesTheLightsThatReachIt)
{
    RwD3D9AtomicLightingCallback(atomic);
    EXPECT_EQ(Enabled(), (std::vector<RwLight *>{sun, nearLamp}));
    EXPECT_EQ(Lighting(), TRUE);
    EXPECT_EQ(rwD3D9AmbientColour.red, 1.0f);
    // Met through two calls, a light is still taken once per object.
    RwD3D9AtomicLightingCallback(atomic);
    EXPECT_EQ(Enabled(), (std::vector<RwLight *>{sun, nearLamp}));
    // Without normals only the ambient light reaches it.
    geometry->flags &= ~static_cast<RwUInt32>(rwGEOMETRYNORMALS);
    RwD3D9AtomicLightingCallback(atomic);
    EXPECT_TRUE(Enabled().empty());
    EXPECT_EQ(rwD3D9AmbientColour.green, 1.0f);
    // Unlit, or outside any world: lighting off.
    geometry->flags &= ~static_cast<RwUInt32>(rwGEOMETRYLIGHT);
    RwD3D9AtomicLightingCallback(atomic);
    EXPECT_EQ(Lighting(), FALSE);
    geometry->flags |= rwGEOMETRYLIGHT;
    RwEngineInstance->curWorld = nullptr;
    RwD3D9AtomicLightingCallback(atomic);
    EXPECT_EQ(Lighting(), FALSE);
}

// The same scene over two sectors split at x = 0: the atomic and the near
// lamp lie in both, the far lamps in one each.
class TwoSectorLightWalk : public LightWalk {
protected:
    RwWorld *MakeWorld() override
    {
        const std::string ground = KivTestGround(100.0f, -100.0f, 100.0f, 2);
        Bytes bytes(ground.begin(), ground.end());
        return ReadChunkWith(bytes, rwID_WORLD, RwWorldStreamRead);
    }
    static int Ties(RwLinkList *list)
    {
        int n = 0;
        for (RwLLLink *l = list->next; l != list; l = l->next)
            n++;
        return n;
    }
};

TEST_F(TwoSectorLightWalk, ALightMetThroughTwoSectorsIsTakenOnce)
{
    ASSERT_EQ(2, Ties(&atomic->llWorldSectorsInAtomic));
    ASSERT_EQ(2, Ties(&nearLamp->WorldSectorsInLight));
    RwD3D9AtomicLightingCallback(atomic);
    const RwInt32 *enabled;
    EXPECT_EQ(2, RwD3D9LightingGetEnabled(&enabled));
    EXPECT_EQ(Enabled(), (std::vector<RwLight *>{sun, nearLamp}));
    std::vector<RwReal> buffer(rwD3D9VSMAXLIGHTREGISTERS * 4);
    RwD3D9VertexShaderDescriptor d = {0, 0x20, 0, 0};
    RwD3D9GatherVertexShaderLights(atomic, rwATOMIC, buffer.data(), &d);
    EXPECT_EQ(d.lights, 0x11);   // one directional, one point
}

TEST_F(LightWalk, SectorTakesEveryLightOfTheWorldTiedToIt)
{
    RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(world->rootSector);
    RwD3D9WorldSectorLightingCallback(sector);
    EXPECT_EQ(Enabled(), (std::vector<RwLight *>{sun, moon, nearLamp, farLamp}));
    EXPECT_EQ(Lighting(), TRUE);
    world->flags &= ~static_cast<RwUInt32>(rwGEOMETRYLIGHT);
    RwD3D9WorldSectorLightingCallback(sector);
    EXPECT_EQ(Lighting(), FALSE);
}

TEST_F(LightWalk, ShaderLightsAreGatheredByTheSameRules)
{
    std::vector<RwReal> buffer(rwD3D9VSMAXLIGHTREGISTERS * 4);
    RwD3D9VertexShaderDescriptor d = {0, 0x20, 0, 0};
    RwD3D9GatherVertexShaderLights(atomic, rwATOMIC, buffer.data(), &d);
    EXPECT_EQ(d.lights, 0x11);
    EXPECT_EQ(d.spotsAndSets, 0x20);
    EXPECT_EQ(buffer[0], 1.0f);     // the ambient light
    EXPECT_EQ(buffer[3], 1.0f);     // not pre-lit
    RwD3D9GatherVertexShaderLights(world->rootSector, 0, buffer.data(), &d);
    EXPECT_EQ(d.lights, 0x22);
    RwEngineInstance->curWorld = nullptr;
    const RwReal *end = RwD3D9GatherVertexShaderLights(atomic, rwATOMIC, buffer.data(), &d);
    EXPECT_EQ(end, buffer.data() + 4);
    EXPECT_EQ(d.lights, 0);
}

}  // namespace
