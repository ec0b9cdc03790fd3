#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/modules.h"
#include "gfx/core/vector.h"
#include "gfx/core/plugin.h"
#include "started_engine.h"
#include "support/test_driver.h"
#include "support/test_memory.h"

namespace {

RwEngineOpenParams openParams = {reinterpret_cast<void *>(0x1234)};

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        RwErrorGet();
    }
    void TearDown() override
    {
        RwTestDriverReset();
        StopEngineWherever();
        RwErrorGet();
    }
};

// Plug-ins that record the order of their open and close callbacks.
std::vector<int> events;
RwInt32 failingPlugin = 0;

template <int N>
void *RecordOpen(void *instance, RwInt32, RwInt32)
{
    events.push_back(failingPlugin == N ? -N * 100 : N);
    return failingPlugin == N ? nullptr : instance;
}

template <int N>
void *RecordClose(void *instance, RwInt32, RwInt32)
{
    events.push_back(-N);
    return instance;
}

bool ErrorIs(RwInt32 pluginID, RwUInt32 code)
{
    RwError e = RwErrorGet();
    return e.pluginID == pluginID && static_cast<RwUInt32>(e.errorCode) == code;
}

TEST_F(Engine, LifeCycleWalksTheStatusesAndSendsRequestsInOrder)
{
    RwTestDriverGetDevice()->zBufferFar = 7.0f;
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
    EXPECT_EQ(rwENGINESTATUSINITED, RwEngineGetStatus());
    EXPECT_EQ(1, RwTestDriverGetRegisterPluginsCount());
    ASSERT_TRUE(RwEngineOpen(&openParams));
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    EXPECT_EQ(1, RwEngineGetOpenCount());
    EXPECT_EQ(openParams.displayID, RwTestDriverGetWindow());
    EXPECT_EQ(7.0f, RwEngineInstance->dOpenDevice.zBufferFar);
    EXPECT_EQ(&RwEngineInstance->memoryFuncs, RwTestDriverGetLog(0)->inOut);  // the driver allocates through them
    ASSERT_TRUE(RwEngineStart());
    EXPECT_EQ(rwENGINESTATUSSTARTED, RwEngineGetStatus());

    // Standard functions go to the driver's table.
    int marker = 0;
    EXPECT_TRUE(RwStandardFunction(rwSTANDARDCAMERABEGINUPDATE, &marker, nullptr, 3));
    EXPECT_EQ(&marker, RwTestDriverGetStandardLog(0)->out);
    RwTestDriverSetStandardResult(rwSTANDARDRASTERCREATE, FALSE);
    EXPECT_FALSE(RwStandardFunction(rwSTANDARDRASTERCREATE, nullptr, nullptr, 0));

    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    ASSERT_TRUE(RwEngineClose());
    EXPECT_EQ(rwENGINESTATUSINITED, RwEngineGetStatus());
    EXPECT_EQ(0, RwEngineGetOpenCount());
    ASSERT_TRUE(RwEngineTerm());
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    EXPECT_EQ(0x37002, RwEngineGetVersion());

    const RwInt32 expected[] = {rwDEVICESYSTEMREGISTER, rwDEVICESYSTEMOPEN,          rwDEVICESYSTEMSTANDARDS,
                                rwDEVICESYSTEMSTART,    rwDEVICESYSTEMFINALIZESTART, rwDEVICESYSTEMINITIATESTOP,
                                rwDEVICESYSTEMSTOP,     rwDEVICESYSTEMCLOSE};
    ASSERT_EQ(8, RwTestDriverGetLogSize());
    for (RwInt32 i = 0; i < 8; ++i) {
        EXPECT_EQ(expected[i], RwTestDriverGetLog(i)->request) << i;
    }
    EXPECT_EQ(rwSTANDARDNUMOFSTANDARD, RwTestDriverGetLog(2)->in);
}

TEST_F(Engine, CallsOutOfOrderAreRefusedAndChangeNothing)
{
    EXPECT_FALSE(RwEngineOpen(&openParams));
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_FALSE(RwEngineStart());
    EXPECT_FALSE(RwEngineStop());
    EXPECT_FALSE(RwEngineClose());
    EXPECT_FALSE(RwEngineTerm());

    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x1000));
    EXPECT_FALSE(RwEngineInit(nullptr, 0, 0));
    EXPECT_FALSE(RwEngineStart());
    EXPECT_FALSE(RwEngineClose());
    RwErrorGet();
    EXPECT_FALSE(RwEngineOpen(nullptr));
    EXPECT_TRUE(ErrorIs(0, E_RW_NULLP));
    EXPECT_EQ(rwENGINESTATUSINITED, RwEngineGetStatus());
    EXPECT_EQ(-1, RwEngineGetCurrentSubSystem());
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_EQ(0, RwTestDriverGetLogSize());

    ASSERT_TRUE(RwEngineOpen(&openParams));
    RwGlobals *live = RwEngineInstance;
    EXPECT_FALSE(RwEngineOpen(&openParams));
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_FALSE(RwEngineInit(nullptr, 1, 0));
    EXPECT_FALSE(RwEngineTerm());
    EXPECT_FALSE(RwEngineStop());
    EXPECT_EQ(live, RwEngineInstance);
    EXPECT_EQ(1, RwEngineGetOpenCount());
    EXPECT_EQ(0x1000u, RwEngineInstance->resArenaInitSize);
    EXPECT_FALSE(RwFreeListsDisabled());
    EXPECT_GE(RwEngineGetPluginOffset(rwID_RESOURCESMODULE), 300);

    ASSERT_TRUE(RwEngineStart());
    EXPECT_FALSE(RwEngineStart());
    EXPECT_FALSE(RwEngineClose());
    EXPECT_EQ(rwENGINESTATUSSTARTED, RwEngineGetStatus());
    EXPECT_EQ(0, RwTestDriverGetRequestCount(rwDEVICESYSTEMCLOSE));
}

TEST_F(Engine, FailedOpenLeavesTheEngineInitialisedAndRetryWorks)
{
    RwTestMemoryReset();
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
    RwGlobals *before = RwEngineInstance;
    // No memory for the instance: the request was for every module's globals.
    rwTestMemory.failHint = 0x40000;
    EXPECT_FALSE(RwEngineOpen(&openParams));
    rwTestMemory.failHint = 0;
    EXPECT_GT(rwTestMemory.lastSize, sizeof(RwGlobals));
    EXPECT_TRUE(ErrorIs(0, E_RW_NOMEM));
    // The driver refuses the open.
    RwTestDriverFailRequest(rwDEVICESYSTEMOPEN, 1);
    EXPECT_FALSE(RwEngineOpen(&openParams));
    EXPECT_EQ(before, RwEngineInstance);
    EXPECT_EQ(rwENGINESTATUSINITED, RwEngineGetStatus());
    EXPECT_EQ(0, RwEngineGetOpenCount());
    EXPECT_TRUE(RwEngineOpen(&openParams));
    EXPECT_NE(before, RwEngineInstance);
}

TEST_F(Engine, RefusedStandardFunctionsUndoTheOpen)
{
    RwTestMemoryReset();
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
    RwGlobals *before = RwEngineInstance;
    const RwInt32 live = rwTestMemory.live;
    RwTestDriverFailRequest(rwDEVICESYSTEMSTANDARDS, 1);
    EXPECT_FALSE(RwEngineOpen(&openParams));
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));
    EXPECT_EQ(before, RwEngineInstance);
    EXPECT_EQ(rwENGINESTATUSINITED, RwEngineGetStatus());
    EXPECT_EQ(0, RwEngineGetOpenCount());
    EXPECT_EQ(live, rwTestMemory.live);
    // The driver had opened: it is closed again, so that it can open anew.
    EXPECT_EQ(1, RwTestDriverGetRequestCount(rwDEVICESYSTEMCLOSE));
    EXPECT_FALSE(RwEngineStart());
    ASSERT_TRUE(RwEngineOpen(&openParams));
    ASSERT_TRUE(RwEngineStart());
    EXPECT_TRUE(RwStandardFunction(rwSTANDARDCAMERACLEAR, nullptr, nullptr, 0));
    EXPECT_EQ(1, RwTestDriverGetStandardCount(rwSTANDARDCAMERACLEAR));
}

// What the vector, matrix, frame and camera modules answer while they are not
// open: a failure and the engine-state error, never a fault.
void ExpectMathFramesAndCamerasRefused(const char *when)
{
    SCOPED_TRACE(when);
    RwErrorGet();
    EXPECT_EQ(0.0f, RwSqrt(4.0f));
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_EQ(0.0f, RwInvSqrt(4.0f));
    RwV3d v = {3, 4, 0}, out = {1, 1, 1};
    EXPECT_EQ(0.0f, RwV3dLength(&v));
    EXPECT_EQ(0.0f, RwV3dNormalize(&out, &v));
    EXPECT_EQ(0.0f, out.x);
    RwMatrix m, product;
    RwMatrixTranslate(&m, &v, rwCOMBINEREPLACE);
    EXPECT_EQ(nullptr, RwV3dTransformPoint(&out, &v, &m));
    EXPECT_EQ(nullptr, RwV3dTransformPoints(&out, &v, 1, &m));
    EXPECT_EQ(nullptr, RwV3dTransformVector(&out, &v, &m));
    EXPECT_EQ(nullptr, RwV3dTransformVectors(&out, &v, 1, &m));
    EXPECT_FALSE(RwV3dSetTransformFunctions(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));

    EXPECT_EQ(nullptr, RwMatrixCreate());
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_EQ(nullptr, RwMatrixMultiply(&product, &m, &m));
    EXPECT_FALSE(RwMatrixSetMultiplyFunction(nullptr));
    const RwV3d axis = {0, 0, 1};
    EXPECT_EQ(nullptr, RwMatrixRotate(&m, &axis, 90.0f, rwCOMBINEPOSTCONCAT));
    EXPECT_EQ(nullptr, RwMatrixTransform(&m, &m, rwCOMBINEPRECONCAT));
    EXPECT_EQ(nullptr, RwMatrixOrthoNormalize(&product, &m));
    RwMatrixTolerance tolerance;
    EXPECT_FALSE(RwMatrixGetTolerances(&tolerance));
    EXPECT_EQ(nullptr, RwMatrixClassify(&m, nullptr));
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_EQ(v.x, m.pos.x);   // what needs no module still works
    EXPECT_EQ(0u, m.flags & rwMATRIXINTERNALIDENTITY);

    EXPECT_EQ(nullptr, RwFrameCreate());
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_FALSE(RwFrameSyncDirtyList());
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
    EXPECT_EQ(nullptr, RwCameraCreate());
    EXPECT_TRUE(ErrorIs(0, E_RW_BADOPEN));
}

TEST_F(Engine, MathFramesAndCamerasFailCleanlyOutsideStartToStop)
{
    ExpectMathFramesAndCamerasRefused("idle");
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    ExpectMathFramesAndCamerasRefused("initialised");
    ASSERT_TRUE(RwEngineOpen(&openParams));
    ExpectMathFramesAndCamerasRefused("opened");
    ASSERT_TRUE(RwEngineStart());
    EXPECT_NEAR(2.0f, RwSqrt(4.0f), 1e-3);
    RwFrame *frame = RwFrameCreate();
    RwCamera *camera = RwCameraCreate();
    RwMatrix *matrix = RwMatrixCreate();
    ASSERT_NE(nullptr, frame);
    ASSERT_NE(nullptr, camera);
    ASSERT_NE(nullptr, matrix);
    EXPECT_TRUE(RwMatrixDestroy(matrix));
    EXPECT_TRUE(RwCameraDestroy(camera));
    EXPECT_TRUE(RwFrameDestroy(frame));
    EXPECT_TRUE(RwFrameSyncDirtyList());
    ASSERT_TRUE(RwEngineStop());
    ExpectMathFramesAndCamerasRefused("stopped");
    ASSERT_TRUE(RwEngineClose());
    ExpectMathFramesAndCamerasRefused("closed");
}

// An opened engine with three recording plug-ins, 1 to 3 in registration order.
void OpenWithThreeRecorders()
{
    failingPlugin = 0;
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    ASSERT_GE(RwEngineRegisterPlugin(4, 0xABC01, RecordOpen<1>, RecordClose<1>), 0);
    ASSERT_GE(RwEngineRegisterPlugin(4, 0xABC02, RecordOpen<2>, RecordClose<2>), 0);
    ASSERT_GE(RwEngineRegisterPlugin(4, 0xABC03, RecordOpen<3>, RecordClose<3>), 0);
    ASSERT_TRUE(RwEngineOpen(&openParams));
    events.clear();
}

TEST_F(Engine, ModulesOpenInOrderCloseInReverseAndAFailedOpenUnwinds)
{
    ASSERT_NO_FATAL_FAILURE(OpenWithThreeRecorders());
    ASSERT_TRUE(RwEngineStart());
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ((std::vector<int>{1, 2, 3, -3, -2, -1}), events);
    events.clear();
    const RwInt32 stops = RwTestDriverGetRequestCount(rwDEVICESYSTEMSTOP);
    const RwInt32 finishes = RwTestDriverGetRequestCount(rwDEVICESYSTEMFINALIZESTART);
    failingPlugin = 3;
    EXPECT_FALSE(RwEngineStart());
    failingPlugin = 0;
    EXPECT_EQ((std::vector<int>{1, 2, -300, -2, -1}), events);
    EXPECT_EQ(stops + 1, RwTestDriverGetRequestCount(rwDEVICESYSTEMSTOP));
    EXPECT_EQ(finishes, RwTestDriverGetRequestCount(rwDEVICESYSTEMFINALIZESTART));
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    events.clear();
    EXPECT_TRUE(RwEngineStart());
    EXPECT_EQ((std::vector<int>{1, 2, 3}), events);
}

TEST_F(Engine, RefusedDeviceRequestsLeaveAConsistentState)
{
    ASSERT_NO_FATAL_FAILURE(OpenWithThreeRecorders());
    // A refused start opens no module.
    RwTestDriverFailRequest(rwDEVICESYSTEMSTART, 1);
    EXPECT_FALSE(RwEngineStart());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    // A refused stop has closed the modules: the engine must not claim to be started.
    ASSERT_TRUE(RwEngineStart());
    events.clear();
    RwErrorGet();
    RwTestDriverFailRequest(rwDEVICESYSTEMSTOP, 1);
    EXPECT_FALSE(RwEngineStop());
    EXPECT_EQ((std::vector<int>{-3, -2, -1}), events);
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));
    // A refused close changes nothing.
    RwGlobals *live = RwEngineInstance;
    RwTestDriverFailRequest(rwDEVICESYSTEMCLOSE, 1);
    EXPECT_FALSE(RwEngineClose());
    EXPECT_EQ(live, RwEngineInstance);
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    EXPECT_TRUE(RwEngineClose());
}

RwBool RefuseDriverPlugins(void)
{
    return FALSE;
}

TEST_F(Engine, FailedDriverRegistrationUndoesInit)
{
    RwTestDriverSetRegisterPlugins(RefuseDriverPlugins);
    EXPECT_FALSE(RwEngineInit(nullptr, 0, 0));
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    EXPECT_EQ(-1, RwEngineGetPluginOffset(rwID_ERRORMODULE));
    RwTestDriverSetRegisterPlugins(nullptr);
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    EXPECT_EQ(300, RwEngineGetPluginOffset(rwID_ERRORMODULE));
}

TEST_F(Engine, RegistrationAfterOpenIsRefused)
{
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    ASSERT_TRUE(RwEngineOpen(&openParams));
    EXPECT_EQ(-1, RwEngineRegisterPlugin(4, 0xABC05, nullptr, nullptr));
    EXPECT_TRUE(ErrorIs(0, E_RW_PLUGININIT));
    EXPECT_EQ(-1, RwEngineGetPluginOffset(0xABC05));
    ASSERT_TRUE(RwEngineClose());
    EXPECT_GE(RwEngineRegisterPlugin(4, 0xABC05, nullptr, nullptr), 300);
}

// --- Device requests and their fall-backs ---

class EngineOpened : public Engine {
protected:
    void SetUp() override
    {
        Engine::SetUp();
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
        ASSERT_TRUE(RwEngineOpen(&openParams));
        RwErrorGet();
    }
};

RwBool TwoAdapters(RwInt32 request, void *out, void *, RwInt32 in)
{
    if (request == rwDEVICESYSTEMGETNUMSUBSYSTEMS) {
        *static_cast<RwInt32 *>(out) = 2;
    } else {
        strcpy(static_cast<RwSubSystemInfo *>(out)->name, in == 1 ? "Intel adapter" : "Other adapter");
    }
    return TRUE;
}

TEST_F(EngineOpened, SubSystemsFallBackToOneUnlessTheDriverAnswers)
{
    EXPECT_EQ(1, RwEngineGetNumSubSystems());
    RwSubSystemInfo info;
    memset(&info, 0x7F, sizeof(info));
    ASSERT_EQ(&info, RwEngineGetSubSystemInfo(&info, 0));
    EXPECT_STREQ("Only rendering sub system", info.name);
    EXPECT_EQ(0, RwEngineGetCurrentSubSystem());
    EXPECT_TRUE(RwEngineSetSubSystem(0));
    EXPECT_TRUE(ErrorIs(0, E_RW_NOERROR));
    EXPECT_EQ(nullptr, RwEngineGetSubSystemInfo(&info, 1));
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));
    EXPECT_FALSE(RwEngineSetSubSystem(1));
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));

    RwTestDriverSetRequestHandler(rwDEVICESYSTEMGETNUMSUBSYSTEMS, TwoAdapters);
    RwTestDriverSetRequestHandler(rwDEVICESYSTEMGETSUBSYSTEMINFO, TwoAdapters);
    EXPECT_EQ(2, RwEngineGetNumSubSystems());
    ASSERT_NE(nullptr, RwEngineGetSubSystemInfo(&info, 1));
    EXPECT_STREQ("Intel adapter", info.name);
    // Refused finish-start and begin-stop requests fall back to success.
    RwTestDriverFailRequest(rwDEVICESYSTEMFINALIZESTART);
    RwTestDriverFailRequest(rwDEVICESYSTEMINITIATESTOP);
    EXPECT_TRUE(RwEngineStart());
    EXPECT_TRUE(RwEngineStop());
    EXPECT_TRUE(ErrorIs(0, E_RW_NOERROR));
}

TEST_F(EngineOpened, VideoModesComeFromTheDriver)
{
    EXPECT_EQ(1, RwEngineGetNumVideoModes());
    RwVideoMode mode;
    ASSERT_EQ(&mode, RwEngineGetVideoModeInfo(&mode, 0));
    EXPECT_EQ(640, mode.width);
    EXPECT_EQ(nullptr, RwEngineGetVideoModeInfo(&mode, 5));
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));
    EXPECT_EQ(0, RwEngineGetCurrentVideoMode());
    EXPECT_TRUE(RwEngineSetVideoMode(0));
    EXPECT_FALSE(RwEngineSetVideoMode(3));
    RwTestDriverFailRequest(rwDEVICESYSTEMGETMODE, 1);
    EXPECT_EQ(-1, RwEngineGetCurrentVideoMode());
    // A refusal without a fall-back raises a device error.
    RwErrorGet();
    RwUInt32 mem = 0;
    RwTestDriverFailRequest(rwDEVICESYSTEMGETTEXMEMSIZE, 1);
    EXPECT_FALSE(RwEngineDeviceRequest(&RwEngineInstance->dOpenDevice, rwDEVICESYSTEMGETTEXMEMSIZE, &mem, nullptr, 0));
    EXPECT_TRUE(ErrorIs(1, E_RW_DEVICEERROR));
    EXPECT_TRUE(RwEngineDeviceRequest(&RwEngineInstance->dOpenDevice, rwDEVICESYSTEMGETTEXMEMSIZE, &mem, nullptr, 0));
    EXPECT_NE(0u, mem);
}

}  // namespace
