#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/im3d.h"
#include "started_engine.h"

namespace {

// What the stand-in default pipelines saw.
RwIm3DTransformRecord transformed;
std::vector<RwIm3DRenderRecord> rendered;
bool transformFails;
bool renderCreateFails;
int livePipelines;

RwBool TransformBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    transformed = *static_cast<RwIm3DTransformRecord *>(params->dataParam);
    return !transformFails;
}

RwBool RenderBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    rendered.push_back(*static_cast<RwIm3DRenderRecord *>(params->dataParam));
    return TRUE;
}

RxPipelineNodeDefinition Node(const char *name, RxNodeBodyFn body)
{
    RxPipelineNodeDefinition d = {};
    d.name = name;
    d.body = body;
    return d;
}
RxPipelineNodeDefinition transformNode = Node("ImmInstance.csl", TransformBody);
RxPipelineNodeDefinition renderNode = Node("nodeD3D9SubmitNoLight.csl", RenderBody);

RxPipeline *OneNode(RxPipelineNodeDefinition *def)
{
    RxPipeline *p = RwPipelineCreate();
    RwPipelineLock(p);
    RwPipelineAddFragment(p, nullptr, def, nullptr);
    ++livePipelines;
    return RwPipelineUnlock(p);
}

void Destroy(RxPipeline *p)
{
    RwPipelineDestroy(p);
    --livePipelines;
}

// The driver's part: make the defaults, fill the slots and install them.
const RwTestDriverIm3DHooks hooks = {
    [](RxPipeline **slot) -> RwBool {
        *slot = OneNode(&transformNode);
        RwIm3DSetTransformPipeline(*slot);
        return TRUE;
    },
    [](RxPipeline **slot) {
        RwIm3DSetTransformPipeline(nullptr);
        Destroy(*slot);
    },
    [](RxPipeline **slots) -> RwBool {
        if (renderCreateFails) {
            return FALSE;
        }
        RxPipeline *p = OneNode(&renderNode);
        for (int i = 0; i < 5; ++i) {
            slots[i] = p;
        }
        for (RwPrimitiveType t : {rwPRIMTYPETRILIST, rwPRIMTYPETRIFAN, rwPRIMTYPETRISTRIP, rwPRIMTYPELINELIST,
                                  rwPRIMTYPEPOLYLINE}) {
            RwIm3DSetRenderPipeline(p, t);
        }
        return TRUE;
    },
    [](RxPipeline **slots) {
        if (slots[0]) {
            Destroy(slots[0]);
        }
    },
};

::testing::Environment *const engine =
    ::testing::AddGlobalTestEnvironment(new StartedEngine([] { RwTestDriverSetIm3DHooks(&hooks); }));

class Im3D : public ::testing::Test {
protected:
    void SetUp() override
    {
        rendered.clear();
        transformed = {};
        transformFails = false;
        TakeError();
    }
    void TearDown() override
    {
        RwIm3DEnd();
        TakeError();
    }
    RwIm3DVertex vertices[8] = {};
};

TEST_F(Im3D, TransformOpensTheBatchAndEndClosesIt)
{
    RwMatrix matrix;
    RwUInt16 indices[3] = {};
    EXPECT_FALSE(RwIm3DEnd());
    EXPECT_FALSE(RwIm3DRenderPrimitive(rwPRIMTYPETRILIST));
    EXPECT_EQ(35u, TakeErrorCode());
    EXPECT_EQ(vertices, RwIm3DTransform(vertices, 8, &matrix, rwIM3D_VERTEXUV));
    const RwUInt32 seen[3] = {transformed.numVerts, transformed.stride, transformed.render.flags};
    const RwUInt32 want[3] = {8, 36, 0x19};
    EXPECT_EQ(0, memcmp(want, seen, sizeof want));
    EXPECT_EQ(vertices, transformed.objVerts);
    EXPECT_EQ(&matrix, transformed.render.matrix);
    EXPECT_TRUE(RwIm3DEnd());
    EXPECT_FALSE(RwIm3DRenderIndexedPrimitive(rwPRIMTYPETRILIST, indices, 3));
    EXPECT_EQ(35u, TakeErrorCode());

    std::vector<RwIm3DVertex> many(65537);
    EXPECT_EQ(many.data(), RwIm3DTransform(many.data(), 65536, nullptr, 0));
    EXPECT_EQ(nullptr, RwIm3DTransform(many.data(), 65537, nullptr, 0));
    EXPECT_EQ(50u, TakeErrorCode());
    transformFails = true;
    EXPECT_EQ(nullptr, RwIm3DTransform(vertices, 3, nullptr, 0));
}

TEST_F(Im3D, DrawingTrimsIndexCountsAndChecksTheTypeFirst)
{
    RwUInt16 indices[9] = {};
    ASSERT_TRUE(RwIm3DTransform(vertices, 8, nullptr, 0));
    const struct {
        RwInt32 type, count, drawn;
    } cases[] = {
        {rwPRIMTYPELINELIST, 7, 6}, {rwPRIMTYPETRILIST, 8, 6}, {rwPRIMTYPETRISTRIP, 8, 8},
        {rwPRIMTYPETRIFAN, 5, 5},   {rwPRIMTYPEPOLYLINE, 3, 3},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(RwIm3DRenderIndexedPrimitive(static_cast<RwPrimitiveType>(c.type), indices, c.count));
        const RwIm3DRenderRecord &r = rendered.back();
        EXPECT_EQ(c.type, r.primType);
        EXPECT_EQ(c.drawn, r.numIndices) << c.type;
        EXPECT_EQ(indices, r.indices);
        EXPECT_EQ(RwIm3DGetRenderPipeline(static_cast<RwPrimitiveType>(c.type)), r.pipeline);
    }
    EXPECT_TRUE(RwIm3DRenderPrimitive(rwPRIMTYPETRISTRIP));
    EXPECT_EQ(nullptr, rendered.back().indices);
    EXPECT_EQ(0, rendered.back().numIndices);

    rendered.clear();
    for (RwInt32 bad : {0, 6, 7, -1, 1000}) {
        EXPECT_FALSE(RwIm3DRenderIndexedPrimitive(static_cast<RwPrimitiveType>(bad), indices, 3)) << bad;
        EXPECT_EQ(37u, TakeErrorCode());
    }
    EXPECT_TRUE(rendered.empty());
}

TEST_F(Im3D, SettersInstallAndRestoreDefaults)
{
    RxPipeline *defaultList = RwIm3DGetRenderPipeline(rwPRIMTYPETRILIST);
    ASSERT_NE(nullptr, defaultList);
    EXPECT_EQ(nullptr, RwIm3DGetRenderPipeline(rwPRIMTYPEPOINTLIST));
    RxPipeline *mine = RwPipelineCreate();
    EXPECT_EQ(mine, RwIm3DSetRenderPipeline(mine, rwPRIMTYPETRILIST));
    EXPECT_EQ(defaultList, RwIm3DGetRenderPipeline(rwPRIMTYPETRIFAN));
    EXPECT_EQ(defaultList, RwIm3DSetRenderPipeline(nullptr, rwPRIMTYPETRILIST));
    EXPECT_EQ(nullptr, RwIm3DSetRenderPipeline(mine, static_cast<RwPrimitiveType>(7)));
    EXPECT_EQ(37u, TakeErrorCode());
    RxPipeline *defaultTransform = RwIm3DGetTransformPipeline();
    EXPECT_EQ(mine, RwIm3DSetTransformPipeline(mine));
    EXPECT_EQ(defaultTransform, RwIm3DSetTransformPipeline(nullptr));
    RwPipelineDestroy(mine);
}

TEST_F(Im3D, FailedDefaultsFailTheStartAndLeaveNothing)
{
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(0, livePipelines);
    const RwInt32 live = rwTestMemory.live;
    renderCreateFails = true;
    EXPECT_FALSE(RwEngineStart());
    EXPECT_EQ(0, livePipelines);
    EXPECT_EQ(live, rwTestMemory.live);
    renderCreateFails = false;
    ASSERT_TRUE(RwEngineStart());
    EXPECT_EQ(2, livePipelines);
}

}  // namespace
