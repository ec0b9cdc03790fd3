// Tests of 3D immediate mode on the device: the default pipelines draw batches that are read back.
#include <cstring>
#include <vector>

#include "d3d9testcamera.h"
#include "gfx/core/im3d.h"
#include "gfx/core/matrix.h"

namespace {

// A square of side 2 at distance 5 in front of the camera, around its axis.
std::vector<RwIm3DVertex> Square(RwUInt32 colour)
{
    std::vector<RwIm3DVertex> v(4);
    const float corners[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (int i = 0; i < 4; i++) {
        v[i] = {};
        v[i].objVertex = {corners[i][0], corners[i][1], 5.0f};
        v[i].color = colour;
        v[i].u = corners[i][0] > 0 ? 1.0f : 0.0f;
    }
    return v;
}

class Im3D : public CameraDevice {
protected:
    // Centre of the screen and a corner far from the square.
    DWORD Centre() { return ReadPixel(512, 384); }
    DWORD Corner() { return ReadPixel(10, 10); }
};

TEST_F(Im3D, DefaultPipelinesAreInstalledForEveryDrawnType)
{
    RxPipeline *render = RwIm3DGetRenderPipeline(rwPRIMTYPETRILIST);
    ASSERT_NE(render, nullptr);
    EXPECT_EQ(render->pluginId, 1u);
    EXPECT_NE(RwPipelineFindNamedNode(render, "nodeD3D9SubmitNoLight.csl", nullptr), nullptr);
    for (RwPrimitiveType t : {rwPRIMTYPETRIFAN, rwPRIMTYPETRISTRIP, rwPRIMTYPELINELIST, rwPRIMTYPEPOLYLINE})
        EXPECT_EQ(RwIm3DGetRenderPipeline(t), render);
    EXPECT_EQ(RwIm3DGetRenderPipeline(rwPRIMTYPEPOINTLIST), nullptr);
    ASSERT_NE(RwIm3DGetTransformPipeline(), nullptr);
    EXPECT_NE(RwPipelineFindNamedNode(RwIm3DGetTransformPipeline(), "ImmInstance.csl", nullptr), nullptr);
}

TEST_F(Im3D, BatchesDrawThroughTheirBuffersOrFromUserMemory)
{
    std::vector<RwUInt16> huge(65538);
    for (size_t i = 0; i + 2 < huge.size(); i += 3) {
        huge[i] = 0, huge[i + 1] = 1, huge[i + 2] = 2;
    }
    huge.resize(huge.size() / 3 * 3);
    RwUInt16 six[6] = {0, 1, 2, 2, 1, 3};
    RwUInt16 twelve[12] = {0, 1, 2, 2, 1, 3, 0, 1, 2, 2, 1, 3};
    struct Case {
        const char *name;
        RwUInt32 flags;
        RwUInt16 *indices;
        RwInt32 numIndices;
        const char *drawCall;
    } cases[] = {
        {"strip", 0, nullptr, 0, "DrawPrimitive"},
        {"six indices expanded", rwIM3D_VERTEXUV, six, 6, "DrawPrimitive"},
        {"twelve indices", rwIM3D_VERTEXUV, twelve, 12, "DrawIndexedPrimitive"},
        {"too many indices", rwIM3D_ALLOPAQUE, huge.data(), static_cast<RwInt32>(huge.size()),
         "DrawIndexedPrimitiveUP"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<RwIm3DVertex> v = Square(0xFF00FF00);
        ASSERT_TRUE(Begin());
        device->ResetLog();
        ASSERT_NE(RwIm3DTransform(v.data(), 4, nullptr, c.flags), nullptr);
        if (c.indices)
            EXPECT_TRUE(RwIm3DRenderIndexedPrimitive(rwPRIMTYPETRILIST, c.indices, c.numIndices));
        else
            EXPECT_TRUE(RwIm3DRenderPrimitive(rwPRIMTYPETRISTRIP));
        RwIm3DEnd();
        End();
        EXPECT_EQ(device->Count(c.drawCall), 1);
        EXPECT_TRUE(NearColour(Centre(), 0x00FF00)) << std::hex << Centre();
        EXPECT_EQ(Corner(), 0u);
    }
}

TEST_F(Im3D, WorldMatrixMovesTheBatch)
{
    RwMatrix *m = RwMatrixCreate();
    const RwV3d away = {10, 0, 0};
    RwMatrixTranslate(m, &away, rwCOMBINEREPLACE);
    std::vector<RwIm3DVertex> v = Square(0xFFFF0000);
    ASSERT_TRUE(Begin());
    ASSERT_NE(RwIm3DTransform(v.data(), 4, m, 0), nullptr);
    EXPECT_TRUE(RwIm3DRenderPrimitive(rwPRIMTYPETRISTRIP));
    RwIm3DEnd();
    End();
    RwMatrixDestroy(m);
    EXPECT_EQ(Centre(), 0u);
}

TEST_F(Im3D, IndexOutsideTheBatchIsRefusedBeforeDrawing)
{
    std::vector<RwIm3DVertex> v = Square(0xFFFFFFFF);
    RwUInt16 bad[3] = {0, 1, 4};
    ASSERT_TRUE(Begin());
    device->ResetLog();
    ASSERT_NE(RwIm3DTransform(v.data(), 4, nullptr, 0), nullptr);
    EXPECT_FALSE(RwIm3DRenderIndexedPrimitive(rwPRIMTYPETRILIST, bad, 3));
    RwIm3DEnd();
    End();
    for (const char *call : {"DrawPrimitive", "DrawIndexedPrimitive", "DrawPrimitiveUP", "DrawIndexedPrimitiveUP"})
        EXPECT_EQ(device->Count(call), 0) << call;
}

TEST_F(Im3D, DrawsAgainAfterDeviceReset)
{
    ASSERT_TRUE(ForceReset());
    std::vector<RwIm3DVertex> v = Square(0xFF0000FF);
    RwUInt16 twelve[12] = {0, 1, 2, 2, 1, 3, 0, 1, 2, 2, 1, 3};
    ASSERT_TRUE(Begin());
    ASSERT_NE(RwIm3DTransform(v.data(), 4, nullptr, 0), nullptr);
    EXPECT_TRUE(RwIm3DRenderIndexedPrimitive(rwPRIMTYPETRILIST, twelve, 12));
    RwIm3DEnd();
    End();
    EXPECT_TRUE(NearColour(Centre(), 0x0000FF));
}

}  // namespace
