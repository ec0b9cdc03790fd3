#include "imagetestutil.h"

#include <vector>

namespace {

const RwUInt32 pluginID = 0x7F02;
RwInt32 pluginOffset = -1;
RwInt32 destructed = 0;
bool failConstructor = false;

void *ConstructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
    if (failConstructor)
        return nullptr;
    *reinterpret_cast<RwUInt32 *>(static_cast<RwUInt8 *>(object) + offset) = 0xABCD;
    return object;
}

void *DestructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
    ++destructed;
    return object;
}

void RegisterRasterPlugin()
{
    pluginOffset = RwRasterRegisterPlugin(8, pluginID, ConstructPlugin, DestructPlugin, nullptr);
}

// What the device's create function saw of the raster; it sets type, flags and format.
RwRaster seenAtCreate;

RwBool DeviceCreate(void *out, void *inOut, RwInt32 in)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    seenAtCreate = *raster;
    raster->cType = static_cast<RwUInt8>(in & rwRASTERTYPEMASK);
    raster->cFlags = static_cast<RwUInt8>(in & 0xF8);
    raster->cFormat = static_cast<RwUInt8>(in >> 8);
    return TRUE;
}

RwBool DeviceLevels(void *out, void *inOut, RwInt32 in)
{
    *static_cast<RwInt32 *>(out) = 7;
    return TRUE;
}

std::vector<RwRaster *> contexts;

RwBool DeviceSetContext(void *out, void *inOut, RwInt32 in)
{
    contexts.push_back(static_cast<RwRaster *>(inOut));
    return TRUE;
}

class Raster : public ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        RwTestDriverSetStandardFunction(rwSTANDARDRASTERCREATE, DeviceCreate);
        contexts.clear();
        failConstructor = false;
    }
    void TearDown() override
    {
        RwTestDriverReset();
        while (RwRasterPopContext()) {
        }
        for (auto it = rasters.rbegin(); it != rasters.rend(); ++it)
            RwRasterDestroy(*it);
        ImageTest::TearDown();
    }
    RwRaster *Make(RwInt32 width, RwInt32 height, RwInt32 flags)
    {
        RwRaster *raster = RwRasterCreate(width, height, 32, flags);
        if (raster)
            rasters.push_back(raster);
        return raster;
    }
    const RwTestDriverStandardCall *LastCall(RwInt32 index)
    {
        for (RwInt32 i = RwTestDriverGetStandardLogSize() - 1; i >= 0; i--)
            if (RwTestDriverGetStandardLog(i)->index == index)
                return RwTestDriverGetStandardLog(i);
        return nullptr;
    }
    std::vector<RwRaster *> rasters;
};

}  // namespace

TEST_F(Raster, CreateInitialisesFieldsBeforeDeviceSeesThemAndRunsPlugins)
{
    RwRaster *raster = RwRasterCreate(64, 32, 16, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(nullptr, raster);
    EXPECT_EQ(64, seenAtCreate.width);
    EXPECT_EQ(32, seenAtCreate.height);
    EXPECT_EQ(16, seenAtCreate.depth);
    EXPECT_EQ(raster, seenAtCreate.parent);
    EXPECT_EQ(0, seenAtCreate.privateFlags | seenAtCreate.cFlags | seenAtCreate.nOffsetX | seenAtCreate.nOffsetY);
    EXPECT_EQ(nullptr, seenAtCreate.cpPixels);
    EXPECT_EQ(0x8504, LastCall(rwSTANDARDRASTERCREATE)->in);
    EXPECT_EQ(nullptr, LastCall(rwSTANDARDRASTERCREATE)->out);
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERCREATE)->inOut);
    EXPECT_EQ(rwRASTERTYPETEXTURE, RwRasterGetType(raster));
    EXPECT_EQ(0x8500, RwRasterGetFormat(raster));
    ASSERT_GE(pluginOffset, 52);
    EXPECT_EQ(0xABCDu, *reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(raster) + pluginOffset));
    const RwInt32 before = destructed;
    EXPECT_TRUE(RwRasterDestroy(raster));
    EXPECT_EQ(before + 1, destructed);
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERDESTROY)->inOut);
}

TEST_F(Raster, RefusedCreateGivesNoRasterAndReturnsTheSurface)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERCREATE, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERCREATE, FALSE);
    EXPECT_EQ(nullptr, Make(8, 8, rwRASTERTYPETEXTURE));
    RwTestDriverSetStandardResult(rwSTANDARDRASTERCREATE, TRUE);
    failConstructor = true;
    const RwInt32 destroys = RwTestDriverGetStandardCount(rwSTANDARDRASTERDESTROY);
    EXPECT_EQ(nullptr, Make(4, 4, rwRASTERTYPETEXTURE));
    EXPECT_EQ(destroys + 1, RwTestDriverGetStandardCount(rwSTANDARDRASTERDESTROY));
}

TEST_F(Raster, LevelCountIsOneWithoutMipMapBitWhateverDeviceSays)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, DeviceLevels);
    RwRaster *plain = Make(8, 8, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwRaster *mipped = Make(8, 8, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    EXPECT_EQ(1, RwRasterGetNumLevels(plain));
    EXPECT_EQ(0, RwTestDriverGetStandardCount(rwSTANDARDRASTERGETMIPLEVELS));
    EXPECT_EQ(7, RwRasterGetNumLevels(mipped));
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERGETMIPLEVELS, FALSE);
    EXPECT_EQ(-1, RwRasterGetNumLevels(mipped));
}

TEST_F(Raster, SubRasterOfSubRasterAddsOffsetsAndPointsAtTop)
{
    RwRaster *top = Make(640, 480, rwRASTERTYPECAMERA);
    RwRaster *mid = Make(0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *sub = Make(0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    const RwRect midRect = {100, 50, 200, 100};
    const RwRect subRect = {10, 20, 30, 40};
    ASSERT_EQ(mid, RwRasterMakeSubRaster(mid, top, &midRect));
    ASSERT_EQ(sub, RwRasterMakeSubRaster(sub, mid, &subRect));
    EXPECT_EQ(110, sub->nOffsetX);
    EXPECT_EQ(70, sub->nOffsetY);
    EXPECT_EQ(30, sub->width);
    EXPECT_EQ(40, sub->height);
    EXPECT_EQ(top, sub->parent);
    EXPECT_EQ(top, RwRasterGetParent(mid));
    EXPECT_EQ(sub, LastCall(rwSTANDARDRASTERSUBRASTER)->out);
    EXPECT_EQ(mid, LastCall(rwSTANDARDRASTERSUBRASTER)->inOut);
}

TEST_F(Raster, SubRasterThatCannotBeMadeChangesNothing)
{
    RwRaster *top = Make(64, 64, rwRASTERTYPECAMERA);
    RwRaster *own = Make(16, 16, rwRASTERTYPECAMERA);
    RwRaster *empty = Make(0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    const RwRect rect = {1, 2, 3, 4};
    EXPECT_EQ(nullptr, RwRasterMakeSubRaster(own, top, &rect));   // has pixels of its own
    EXPECT_EQ(0, RwTestDriverGetStandardCount(rwSTANDARDRASTERSUBRASTER));
    RwTestDriverSetStandardResult(rwSTANDARDRASTERSUBRASTER, FALSE);
    EXPECT_EQ(nullptr, RwRasterMakeSubRaster(empty, top, &rect));   // refused by the device
    for (RwRaster *r : {own, empty}) {
        EXPECT_EQ(r == own ? 16 : 0, r->width);
        EXPECT_EQ(0, r->nOffsetX | r->nOffsetY);
        EXPECT_EQ(r, r->parent);
    }
}

TEST_F(Raster, ContextStackHoldsNinePushesAboveTheNullRaster)
{
    RwTestDriverSetStandardFunction(rwSTANDARDSETRASTERCONTEXT, DeviceSetContext);
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    ASSERT_NE(nullptr, nullRaster);
    EXPECT_EQ(rwRASTERDONTALLOCATE, nullRaster->cFlags);
    EXPECT_EQ(nullptr, RwRasterPopContext());   // the null raster stays
    RwRaster *a = Make(8, 8, rwRASTERTYPECAMERA);
    RwRaster *b = Make(8, 8, rwRASTERTYPECAMERA);
    EXPECT_EQ(b, RwRasterPushContext(b));
    for (RwInt32 i = 0; i < 8; i++)
        ASSERT_EQ(a, RwRasterPushContext(a)) << i;
    EXPECT_EQ(nullptr, RwRasterPushContext(b));   // a tenth entry does not fit
    EXPECT_EQ(a, RwRasterGetCurrentContext());
    for (RwInt32 i = 0; i < 8; i++)
        EXPECT_EQ(a, RwRasterPopContext()) << i;
    EXPECT_EQ(b, RwRasterGetCurrentContext());
    EXPECT_EQ(b, RwRasterPopContext());
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
    ASSERT_EQ(18u, contexts.size());
    EXPECT_EQ(b, contexts[16]);
    EXPECT_EQ(nullRaster, contexts[17]);
}

TEST_F(Raster, RefusedPushKeepsTheStackAndRefusedPopStillLowersIt)
{
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    RwRaster *a = Make(8, 8, rwRASTERTYPECAMERA);
    ASSERT_EQ(a, RwRasterPushContext(a));
    RwTestDriverSetStandardResult(rwSTANDARDSETRASTERCONTEXT, FALSE);
    EXPECT_EQ(nullptr, RwRasterPushContext(a));
    EXPECT_EQ(a, RwRasterGetCurrentContext());
    EXPECT_EQ(nullptr, RwRasterPopContext());
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment(RegisterRasterPlugin));
}  // namespace
