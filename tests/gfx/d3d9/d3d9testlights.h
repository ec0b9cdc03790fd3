// A started device with a camera and the light module, and lights on frames that go with each test.
#pragma once

#include <vector>

#include "d3d9testcamera.h"
#include "gfx/d3d9/d3d9lights.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "support/test_memory.h"

// Takes the light out of the world (when one is given) and destroys it with its frame.
inline void DestroyLight(RwWorld *world, RwLight *l)
{
    if (world)
        RwWorldRemoveLight(world, l);
    RwFrame *f = RwLightGetFrame(l);
    RwLightSetFrame(l, nullptr);
    RwFrameDestroy(f);
    RwLightDestroy(l);
}

class LightDevice : public CameraDevice {
protected:
    // Memory is counted; the device light extension is attached.
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        ASSERT_GE(RwEngineRegisterPlugin(4, rwID_LIGHTMODULE, RwLightModuleOpen, RwLightModuleClose), 0);
        ASSERT_TRUE(RwD3D9LightPluginAttach());
        CameraDevice::SetUpTestSuite();
    }
    void TearDown() override
    {
        while (!lights.empty())
            Destroy(lights.back());
        CameraDevice::TearDown();
    }

    RwLight *Light(RwInt32 type, RwV3d at = {0, 0, 0}, RwReal radius = 5.0f, RwRGBAReal colour = {1, 1, 1, 1})
    {
        RwLight *l = RwLightCreate(type);
        RwFrame *f = RwFrameCreate();
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwLightSetFrame(l, f);
        RwLightSetRadius(l, radius);
        RwLightSetColor(l, &colour);
        lights.push_back(l);
        return l;
    }
    void Destroy(RwLight *l)
    {
        for (size_t i = 0; i < lights.size(); i++) {
            if (lights[i] == l)
                lights.erase(lights.begin() + static_cast<long>(i));
        }
        DestroyLight(nullptr, l);
    }

    std::vector<RwLight *> lights;
};
