#include "imagetestutil.h"

#include <vector>

#include "gfx/core/memory.h"
#include "gfx/core/raster.h"

namespace {

const RwUInt32 pluginID = 0x7F02;
RwInt32 pluginOffset = -1;
RwInt32 constructed = 0;
RwInt32 destructed = 0;
bool failConstructor = false;

void *ConstructPlugin(void *object, RwInt32 offset, RwInt32 size)
{
    if (failConstructor)
        return nullptr;
    ++constructed;
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

// What the device's create function saw of the raster, and what it sets.
RwRaster seenAtCreate;
RwInt32 createFlags = 0;

RwBool DeviceCreate(void *out, void *inOut, RwInt32 in)
{
    RwRaster *raster = static_cast<RwRaster *>(inOut);
    seenAtCreate = *raster;
    createFlags = in;
    raster->cType = static_cast<RwUInt8>(in & rwRASTERTYPEMASK);
    raster->cFlags = static_cast<RwUInt8>(in & 0xF8);
    raster->cFormat = static_cast<RwUInt8>(in >> 8);
    return TRUE;
}

RwUInt8 lockedPixels[64];

RwBool DeviceLock(void *out, void *inOut, RwInt32 in)
{
    *static_cast<RwUInt8 **>(out) = lockedPixels;
    return TRUE;
}

RwBool DeviceLockPalette(void *out, void *inOut, RwInt32 in)
{
    *static_cast<RwUInt8 **>(out) = lockedPixels + 32;
    static_cast<RwRaster *>(inOut)->privateFlags |= rwRASTERPALETTELOCKED | rwRASTERPALETTELOCKEDWRITE;
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

class Raster : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        RwTestDriverSetStandardFunction(rwSTANDARDRASTERCREATE, DeviceCreate);
        TakeError();
        contexts.clear();
        failConstructor = false;
        liveBefore = allocations.live;
    }
    void TearDown() override
    {
        RwTestDriverReset();
        while (RwRasterPopContext()) {
        }
        EXPECT_EQ(liveBefore, allocations.live) << "allocations leaked";
    }
    const RwTestDriverStandardCall *LastCall(RwInt32 index)
    {
        for (RwInt32 i = RwTestDriverGetStandardLogSize() - 1; i >= 0; i--)
            if (RwTestDriverGetStandardLog(i)->index == index)
                return RwTestDriverGetStandardLog(i);
        return nullptr;
    }
    RwInt32 liveBefore = 0;
};

}  // namespace

TEST_F(Raster, CreateInitialisesFieldsBeforeDeviceSeesThem)
{
    RwRaster *raster = RwRasterCreate(64, 32, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    ASSERT_NE(nullptr, raster);
    EXPECT_EQ(64, seenAtCreate.width);
    EXPECT_EQ(32, seenAtCreate.height);
    EXPECT_EQ(32, seenAtCreate.depth);
    EXPECT_EQ(raster, seenAtCreate.parent);
    EXPECT_EQ(0, seenAtCreate.privateFlags);
    EXPECT_EQ(0, seenAtCreate.cFlags);
    EXPECT_EQ(0, seenAtCreate.nOffsetX);
    EXPECT_EQ(nullptr, seenAtCreate.cpPixels);
    EXPECT_EQ(0x8504, createFlags);
    EXPECT_EQ(0x85, raster->cFormat);
    EXPECT_EQ(rwRASTERTYPETEXTURE, RwRasterGetType(raster));
    EXPECT_EQ(0x8500, RwRasterGetFormat(raster));
    EXPECT_EQ(nullptr, LastCall(rwSTANDARDRASTERCREATE)->out);
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERCREATE)->inOut);
    EXPECT_TRUE(RwRasterDestroy(raster));
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERDESTROY)->inOut);
}

TEST_F(Raster, DeviceRefusalGivesNoRaster)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERCREATE, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERCREATE, FALSE);
    EXPECT_EQ(nullptr, RwRasterCreate(8, 8, 32, rwRASTERTYPETEXTURE));
}

TEST_F(Raster, PluginDataLivesWithTheRaster)
{
    ASSERT_GE(pluginOffset, 52);
    EXPECT_EQ(pluginOffset, RwRasterGetPluginOffset(pluginID));
    const RwInt32 c = constructed;
    const RwInt32 d = destructed;
    RwRaster *raster = RwRasterCreate(4, 4, 32, rwRASTERTYPETEXTURE);
    EXPECT_EQ(c + 1, constructed);
    EXPECT_EQ(0xABCDu, *reinterpret_cast<RwUInt32 *>(reinterpret_cast<RwUInt8 *>(raster) + pluginOffset));
    RwRasterDestroy(raster);
    EXPECT_EQ(d + 1, destructed);
}

TEST_F(Raster, FailingPluginConstructorGivesSurfaceBack)
{
    failConstructor = true;
    const RwInt32 destroys = RwTestDriverGetStandardCount(rwSTANDARDRASTERDESTROY);
    EXPECT_EQ(nullptr, RwRasterCreate(4, 4, 32, rwRASTERTYPETEXTURE));
    EXPECT_EQ(destroys + 1, RwTestDriverGetStandardCount(rwSTANDARDRASTERDESTROY));
}

TEST_F(Raster, LockPassesLevelAndModeToDevice)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCK, DeviceLock);
    RwRaster *raster = RwRasterCreate(4, 4, 32, rwRASTERTYPETEXTURE);
    EXPECT_EQ(lockedPixels, RwRasterLock(raster, 3, rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH));
    EXPECT_EQ(0x305, LastCall(rwSTANDARDRASTERLOCK)->in);
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERLOCK)->inOut);
    EXPECT_EQ(raster, RwRasterUnlock(raster));
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERUNLOCK)->inOut);
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCK, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERLOCK, FALSE);
    EXPECT_EQ(nullptr, RwRasterLock(raster, 0, rwRASTERLOCKREAD));
    RwRasterDestroy(raster);
}

TEST_F(Raster, UnlockPaletteClearsPaletteLockBits)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERLOCKPALETTE, DeviceLockPalette);
    RwRaster *raster = RwRasterCreate(4, 4, 8, rwRASTERTYPETEXTURE | rwRASTERFORMATPAL8 | rwRASTERFORMAT8888);
    raster->privateFlags |= rwRASTERGAMMACORRECTED;
    EXPECT_EQ(lockedPixels + 32, RwRasterLockPalette(raster, rwRASTERLOCKWRITE));
    EXPECT_EQ(rwRASTERLOCKWRITE, LastCall(rwSTANDARDRASTERLOCKPALETTE)->in);
    RwRasterUnlockPalette(raster);
    EXPECT_EQ(rwRASTERGAMMACORRECTED, raster->privateFlags);
    EXPECT_EQ(raster, LastCall(rwSTANDARDRASTERUNLOCKPALETTE)->inOut);
    RwRasterDestroy(raster);
}

TEST_F(Raster, LevelCountIsOneWithoutMipMapBitWhateverDeviceSays)
{
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, DeviceLevels);
    RwRaster *plain = RwRasterCreate(8, 8, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    const RwInt32 calls = RwTestDriverGetStandardCount(rwSTANDARDRASTERGETMIPLEVELS);
    EXPECT_EQ(1, RwRasterGetNumLevels(plain));
    EXPECT_EQ(calls, RwTestDriverGetStandardCount(rwSTANDARDRASTERGETMIPLEVELS));
    RwRaster *mipped = RwRasterCreate(8, 8, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888 | rwRASTERFORMATMIPMAP);
    EXPECT_EQ(7, RwRasterGetNumLevels(mipped));
    RwTestDriverSetStandardFunction(rwSTANDARDRASTERGETMIPLEVELS, nullptr);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERGETMIPLEVELS, FALSE);
    EXPECT_EQ(-1, RwRasterGetNumLevels(mipped));
    RwRasterDestroy(plain);
    RwRasterDestroy(mipped);
}

TEST_F(Raster, SubRasterOfSubRasterAddsOffsetsAndPointsAtTop)
{
    RwRaster *top = RwRasterCreate(640, 480, 0, rwRASTERTYPECAMERA);
    RwRaster *mid = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwRaster *sub = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
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
    RwRasterDestroy(sub);
    RwRasterDestroy(mid);
    RwRasterDestroy(top);
}

TEST_F(Raster, SubRasterNeedsRasterWithoutOwnPixels)
{
    RwRaster *top = RwRasterCreate(64, 64, 0, rwRASTERTYPECAMERA);
    RwRaster *own = RwRasterCreate(16, 16, 0, rwRASTERTYPECAMERA);
    const RwRect rect = {1, 2, 3, 4};
    const RwInt32 calls = RwTestDriverGetStandardCount(rwSTANDARDRASTERSUBRASTER);
    EXPECT_EQ(nullptr, RwRasterMakeSubRaster(own, top, &rect));
    EXPECT_EQ(16, own->width);
    EXPECT_EQ(0, own->nOffsetX);
    EXPECT_EQ(own, own->parent);
    EXPECT_EQ(calls, RwTestDriverGetStandardCount(rwSTANDARDRASTERSUBRASTER));
    RwRasterDestroy(own);
    RwRasterDestroy(top);
}

TEST_F(Raster, RefusedSubRasterKeepsWhatItWas)
{
    RwRaster *top = RwRasterCreate(64, 64, 0, rwRASTERTYPECAMERA);
    RwRaster *sub = RwRasterCreate(0, 0, 0, rwRASTERTYPECAMERA | rwRASTERDONTALLOCATE);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERSUBRASTER, FALSE);
    const RwRect rect = {1, 2, 3, 4};
    EXPECT_EQ(nullptr, RwRasterMakeSubRaster(sub, top, &rect));
    EXPECT_EQ(0, sub->width);
    EXPECT_EQ(0, sub->nOffsetY);
    EXPECT_EQ(sub, sub->parent);
    RwRasterDestroy(sub);
    RwRasterDestroy(top);
}

TEST_F(Raster, ContextStackStartsAtNullRaster)
{
    RwRaster *current = RwRasterGetCurrentContext();
    ASSERT_NE(nullptr, current);
    EXPECT_EQ(rwRASTERDONTALLOCATE, current->cFlags);
    EXPECT_EQ(0, current->width);
    EXPECT_EQ(nullptr, current->parent);
}

TEST_F(Raster, PushAndPopMakeRastersCurrentThroughDevice)
{
    RwTestDriverSetStandardFunction(rwSTANDARDSETRASTERCONTEXT, DeviceSetContext);
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    RwRaster *a = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    RwRaster *b = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    EXPECT_EQ(a, RwRasterPushContext(a));
    EXPECT_EQ(b, RwRasterPushContext(b));
    EXPECT_EQ(b, RwRasterGetCurrentContext());
    EXPECT_EQ(b, RwRasterPopContext());
    EXPECT_EQ(a, RwRasterGetCurrentContext());
    EXPECT_EQ(a, RwRasterPopContext());
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
    EXPECT_EQ((std::vector<RwRaster *>{a, b, a, nullRaster}), contexts);
    RwRasterDestroy(a);
    RwRasterDestroy(b);
}

TEST_F(Raster, FailedPushLeavesCurrentContext)
{
    RwRaster *a = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    RwRaster *before = RwRasterGetCurrentContext();
    RwTestDriverSetStandardResult(rwSTANDARDSETRASTERCONTEXT, FALSE);
    EXPECT_EQ(nullptr, RwRasterPushContext(a));
    EXPECT_EQ(before, RwRasterGetCurrentContext());
    RwRasterDestroy(a);
}

TEST_F(Raster, NinePushesFitTheTenthIsRefused)
{
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    RwRaster *a = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    for (RwInt32 i = 0; i < 9; i++)
        ASSERT_EQ(a, RwRasterPushContext(a)) << i;
    RwRaster *b = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    const RwInt32 calls = RwTestDriverGetStandardCount(rwSTANDARDSETRASTERCONTEXT);
    EXPECT_EQ(nullptr, RwRasterPushContext(b));
    EXPECT_EQ(calls, RwTestDriverGetStandardCount(rwSTANDARDSETRASTERCONTEXT));
    EXPECT_EQ(a, RwRasterGetCurrentContext());
    for (RwInt32 i = 0; i < 9; i++)
        EXPECT_EQ(a, RwRasterPopContext()) << i;
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
    RwRasterDestroy(a);
    RwRasterDestroy(b);
}

TEST_F(Raster, PopAtBottomIsRefused)
{
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    const RwInt32 calls = RwTestDriverGetStandardCount(rwSTANDARDSETRASTERCONTEXT);
    EXPECT_EQ(nullptr, RwRasterPopContext());
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
    EXPECT_EQ(calls, RwTestDriverGetStandardCount(rwSTANDARDSETRASTERCONTEXT));
}

TEST_F(Raster, RefusedPopStillLowersTheStack)
{
    RwRaster *nullRaster = RwRasterGetCurrentContext();
    RwRaster *a = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    RwRasterPushContext(a);
    RwTestDriverSetStandardResult(rwSTANDARDSETRASTERCONTEXT, FALSE);
    EXPECT_EQ(nullptr, RwRasterPopContext());
    EXPECT_EQ(nullRaster, RwRasterGetCurrentContext());
    RwRasterDestroy(a);
}

TEST_F(Raster, ClearRectAndShowGoToDevice)
{
    const RwRect rect = {1, 2, 3, 4};
    EXPECT_TRUE(RwRasterClearRect(&rect, 0x11223344));
    EXPECT_EQ(&rect, LastCall(rwSTANDARDRASTERCLEARRECT)->inOut);
    EXPECT_EQ(0x11223344, LastCall(rwSTANDARDRASTERCLEARRECT)->in);
    RwRaster *camera = RwRasterCreate(8, 8, 32, rwRASTERTYPECAMERA);
    int window = 0;
    EXPECT_EQ(camera, RwRasterShowRaster(camera, &window, 1));
    EXPECT_EQ(camera, LastCall(rwSTANDARDRASTERSHOWRASTER)->out);
    EXPECT_EQ(&window, LastCall(rwSTANDARDRASTERSHOWRASTER)->inOut);
    EXPECT_EQ(1, LastCall(rwSTANDARDRASTERSHOWRASTER)->in);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERSHOWRASTER, FALSE);
    EXPECT_EQ(nullptr, RwRasterShowRaster(camera, &window, 0));
    RwTestDriverSetStandardResult(rwSTANDARDRASTERCLEARRECT, FALSE);
    EXPECT_FALSE(RwRasterClearRect(&rect, 0));
    RwRasterDestroy(camera);
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment(RegisterRasterPlugin));
}  // namespace
