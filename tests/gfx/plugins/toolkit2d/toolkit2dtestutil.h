// Shared set-up of the 2D toolkit tests on the stand-in driver: a 640x480
// camera with one unit per pixel, and the immediate-mode draws recorded as the
// screen would show them instead of drawn.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/im3d.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/texturetestutil.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/toolkit2d/t2dinternal.h"

// A vertex as the screen shows it: pixels, depth, reciprocal depth, colour, UV.
struct Recorded {
    float x, y, z, rhw;
    RwUInt32 colour;
    float u, v;
};

// One entry per indexed draw, its vertices in index order, and its batch flags.
inline std::vector<std::vector<Recorded>> Batches;
inline std::vector<RwUInt32> BatchFlags;
inline const RwIm3DTransformRecord *OpenBatch;

// Camera space (the test camera has no frame) onto the camera raster's pixels.
inline Recorded Project(const RwCamera *camera, const RwV3d &p)
{
    const RwReal width = static_cast<RwReal>(camera->frameBuffer->width);
    const RwReal height = static_cast<RwReal>(camera->frameBuffer->height);
    const RwBool parallel = camera->projectionType == rwPARALLEL;
    const RwReal w = parallel ? 1.0f : p.z;
    const RwReal recip = w != 0.0f ? 1.0f / w : 0.0f;
    // Camera x grows to the left of the screen.
    const RwReal nx = camera->recipViewWindow.x * (-p.x * recip + camera->viewOffset.x * (p.z * recip - recip));
    const RwReal ny = camera->recipViewWindow.y * (p.y * recip + camera->viewOffset.y * (p.z * recip - recip));
    Recorded out = {};
    out.x = (nx + 1.0f) * 0.5f * width;
    out.y = (1.0f - ny) * 0.5f * height;
    out.z = parallel ? p.z * camera->zScale + camera->zShift : recip * camera->zScale + camera->zShift;
    out.rhw = recip;
    return out;
}

// The immediate-mode pipelines the fixture installs: one keeps the batch, the
// other records its indexed draw.
inline RwBool KeepBatch(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    OpenBatch = static_cast<const RwIm3DTransformRecord *>(params->dataParam);
    return TRUE;
}

inline RwBool RecordDraw(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    const RwIm3DRenderRecord *r = static_cast<const RwIm3DRenderRecord *>(params->dataParam);
    std::vector<Recorded> batch;
    for (RwInt32 i = 0; i < r->numIndices; i++) {
        const RwIm3DVertex &v = OpenBatch->objVerts[r->indices[i]];
        RwV3d at;
        RwV3dTransformPoint(&at, &v.objVertex, r->matrix);
        Recorded out = Project(Rw2dDeviceGetCamera(), at);
        out.colour = v.color;
        out.u = v.u;
        out.v = v.v;
        batch.push_back(out);
    }
    Batches.push_back(batch);
    BatchFlags.push_back(r->flags);
    return TRUE;
}

inline RxPipelineNodeDefinition NodeDefinition(const char *name, RxNodeBodyFn body)
{
    RxPipelineNodeDefinition d = {};
    d.name = name;
    d.body = body;
    return d;
}
inline RxPipelineNodeDefinition KeepNode = NodeDefinition("ImmInstance.csl", KeepBatch);
inline RxPipelineNodeDefinition RecordNode = NodeDefinition("nodeD3D9SubmitNoLight.csl", RecordDraw);

inline RxPipeline *OneNodePipeline(RxPipelineNodeDefinition *definition)
{
    RxPipeline *pipeline = RwPipelineCreate();
    RwPipelineLock(pipeline);
    RwPipelineAddFragment(pipeline, nullptr, definition, nullptr);
    return RwPipelineUnlock(pipeline);
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
        keep = OneNodePipeline(&KeepNode);
        record = OneNodePipeline(&RecordNode);
        RwIm3DSetTransformPipeline(keep);
        RwIm3DSetRenderPipeline(record, rwPRIMTYPETRISTRIP);
        RwIm3DSetRenderPipeline(record, rwPRIMTYPETRILIST);
        Batches.clear();
        BatchFlags.clear();
        live = rwTestMemory.live;
    }
    void TearDown() override
    {
        RwIm3DSetTransformPipeline(nullptr);
        RwIm3DSetRenderPipeline(nullptr, rwPRIMTYPETRISTRIP);
        RwIm3DSetRenderPipeline(nullptr, rwPRIMTYPETRILIST);
        RwPipelineDestroy(keep);
        RwPipelineDestroy(record);
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
    RxPipeline *keep = nullptr, *record = nullptr;
    RwInt32 live = 0;
};
