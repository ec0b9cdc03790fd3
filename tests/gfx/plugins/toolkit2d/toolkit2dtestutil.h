// Shared set-up of the 2D toolkit tests on the stand-in driver: a 640x480
// camera with one unit per pixel, and the 2D draws recorded instead of drawn.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/texturetestutil.h"
#include "gfx/plugins/toolkit2d/t2dinternal.h"

// A screen-space vertex as the device block's 2D entries receive it.
struct Recorded {
    float x, y, z, rhw;
    RwUInt32 colour;
    float u, v;
};

// One entry per indexed draw, its vertices in index order.
inline std::vector<std::vector<Recorded>> Batches;

inline RwBool Record(RwInt32, void *vertices, RwInt32, RwUInt16 *indices, RwInt32 n)
{
    const Recorded *v = static_cast<const Recorded *>(vertices);
    std::vector<Recorded> batch;
    for (RwInt32 i = 0; i < n; i++)
        batch.push_back(v[indices[i]]);
    Batches.push_back(batch);
    return TRUE;
}

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestRastersInstall();
        RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng);
        RwImageSetPath("");
        camera = RwCameraCreate();
        camera->frameBuffer = RwRasterCreate(640, 480, 0, rwRASTERTYPECAMERA);
        const RwV2d window = {1.0f, 0.75f};
        RwCameraSetViewWindow(camera, &window);
        ASSERT_TRUE(Rw2dOpen(camera));
        ASSERT_TRUE(Rw2dDeviceSetMetric(0, 0, 640, 480));
        RwEngineInstance->dOpenDevice.fpIm2DRenderIndexedPrimitive = Record;
        Batches.clear();
        live = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(Rw2dCTMGetDepth(), 0);
        EXPECT_TRUE(Rw2dClose());
        RwRasterDestroy(camera->frameBuffer);
        camera->frameBuffer = nullptr;
        RwCameraDestroy(camera);
    }
    // Blocks made since set-up and not given back (free lists may give back
    // their first block early, so nothing leaked is 0 or less).
    RwInt32 Leaked() const { return rwTestMemory.live - live; }

    RwCamera *camera = nullptr;
    RwInt32 live = 0;
};
