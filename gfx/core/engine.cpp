// The engine object, its life cycle and the device-request interface.
#include "engine.h"

#include <cstring>

#include "modules.h"
#include "plugin.h"

// Sets the gamma of the image module; defined with the images.
RwBool RwImageSetGamma(RwReal gamma);

// Holds the fixed part only: current before RwEngineOpen and after RwEngineClose.
static RwGlobals staticGlobals;
RwGlobals *RwEngineInstance = &staticGlobals;

static RwPluginRegistry engineRegistry = rwPLUGINREGISTRY_INIT(sizeof(RwGlobals));
static RwInt32 engineOpenCount = 0;

static const RwChar onlySubSystemName[] = "Only rendering sub system";

// The core modules, in the order in which they register.
struct RwCoreModule {
    RwUInt32 pluginID;
    RwInt32 globalsSize;
    RwPluginEngineCallBack open;
    RwPluginEngineCallBack close;
};

static const RwCoreModule coreModules[] = {
    {rwID_ERRORMODULE, 8, RwErrorModuleOpen, RwErrorModuleClose},
    {rwID_VECTORMODULE, 24, RwVectorModuleOpen, RwVectorModuleClose},
    {rwID_COLORMODULE, 0, RwColorModuleOpen, RwColorModuleClose},
    {rwID_MATRIXMODULE, 24, RwMatrixModuleOpen, RwMatrixModuleClose},
    {rwID_FRAMEMODULE, 4, RwFrameModuleOpen, RwFrameModuleClose},
    {rwID_STREAMMODULE, 4, RwStreamModuleOpen, RwStreamModuleClose},
    {rwID_CAMERAMODULE, 4, RwCameraModuleOpen, RwCameraModuleClose},
    {rwID_IMAGEMODULE, 544, RwImageModuleOpen, RwImageModuleClose},
    {rwID_RASTERMODULE, 100, RwRasterModuleOpen, RwRasterModuleClose},
    {rwID_TEXTUREMODULE, 52, RwTextureModuleOpen, RwTextureModuleClose},
    {rwID_PIPEMODULE, 96, RwPipelineModuleOpen, RwPipelineModuleClose},
    {rwID_CHUNKGROUPMODULE, 4, RwChunkGroupModuleOpen, RwChunkGroupModuleClose},
    {rwID_IMMEDIATEMODULE, 116, RwImmediateModuleOpen, RwImmediateModuleClose},
    {rwID_RESOURCESMODULE, 40, RwResourcesModuleOpen, RwResourcesModuleClose},
};

static RwBool Request(RwInt32 request, void *out, void *inOut, RwInt32 in)
{
    return RwEngineDeviceRequest(&RwEngineInstance->dOpenDevice, request, out, inOut, in);
}

RwBool RwEngineDeviceRequest(const RwDevice *device, RwInt32 request, void *out, void *inOut, RwInt32 in)
{
    RwBool result = FALSE;
    if (device && device->fpSystem) {
        result = device->fpSystem(request, out, inOut, in);
    }
    if (result) {
        return result;
    }
    // A driver that does not serve these requests still has one sub-system.
    switch (request) {
    case rwDEVICESYSTEMGETNUMSUBSYSTEMS:
        if (out) {
            *static_cast<RwInt32 *>(out) = 1;
        }
        return TRUE;
    case rwDEVICESYSTEMGETSUBSYSTEMINFO:
        if (in == 0 && out) {
            memcpy(static_cast<RwSubSystemInfo *>(out)->name, onlySubSystemName, sizeof(onlySubSystemName));
            return TRUE;
        }
        break;
    case rwDEVICESYSTEMGETCURRENTSUBSYSTEM:
        if (out) {
            *static_cast<RwInt32 *>(out) = 0;
        }
        return TRUE;
    case rwDEVICESYSTEMSETSUBSYSTEM:
        if (in == 0) {
            return TRUE;
        }
        break;
    case rwDEVICESYSTEMFINALIZESTART:
    case rwDEVICESYSTEMINITIATESTOP:
        return TRUE;
    default:
        break;
    }
    RwErrorRaise(rwID_COREPLUGIN, E_RW_DEVICEERROR);
    return FALSE;
}

static void UnwindInit(RwBool registryOpen)
{
    if (registryOpen) {
        RwPluginRegistryClose();
    }
    RwMemoryClose();
}

RwBool RwEngineInit(const RwMemoryFunctions *memFuncs, RwUInt32 initFlags, RwUInt32 resArenaSize)
{
    // A live engine must not lose its instance: check before touching anything.
    if (RwEngineInstance && RwEngineInstance->engineStatus != rwENGINESTATUSIDLE) {
        return FALSE;
    }
    RwEngineInstance = &staticGlobals;
    RwFreeListsSetDisabled((initFlags & 1) != 0);
    staticGlobals.resArenaInitSize = resArenaSize;

    RwStringOpen();
    if (!RwMemoryOpen(memFuncs)) {
        return FALSE;
    }
    if (!RwPluginRegistryOpen()) {
        UnwindInit(FALSE);
        return FALSE;
    }

    RwInt32 all = 0;
    for (const RwCoreModule &m : coreModules) {
        all |= RwEngineRegisterPlugin(m.globalsSize, m.pluginID, m.open, m.close);
        RwReturnTrue();
    }
    if (all < 0) {
        UnwindInit(TRUE);
        return FALSE;
    }
    if (!RwD3D9DriverRegisterPlugins()) {
        UnwindInit(TRUE);
        return FALSE;
    }
    staticGlobals.engineStatus = rwENGINESTATUSINITED;
    return TRUE;
}

RwBool RwEngineOpen(RwEngineOpenParams *initParams)
{
    if (!RwEngineInstance) {
        RwEngineInstance = &staticGlobals;
    }
    if (RwEngineInstance->engineStatus != rwENGINESTATUSINITED) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return FALSE;
    }
    if (!initParams) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return FALSE;
    }
    RwDevice *device = RwD3D9GetDeviceBlock();
    if (!device) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_DEVICEERROR);
        return FALSE;
    }
    RwGlobals *instance = static_cast<RwGlobals *>(
        staticGlobals.memoryFuncs.rwmalloc(static_cast<size_t>(engineRegistry.sizeOfStruct), rwMEMHINTDUR_GLOBAL));
    if (!instance) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return FALSE;
    }
    memset(instance, 0, static_cast<size_t>(engineRegistry.sizeOfStruct));
    memcpy(instance, &staticGlobals, sizeof(RwGlobals));
    RwLinkListInitialize(&instance->dirtyFrameList);
    RwEngineInstance = instance;

    RwBool opened = RwEngineDeviceRequest(device, rwDEVICESYSTEMREGISTER, &instance->dOpenDevice,
                                          &instance->memoryFuncs, 0) &&
                    RwEngineDeviceRequest(device, rwDEVICESYSTEMOPEN, nullptr, initParams, 0);
    // Without its standard functions the driver cannot serve a camera or a
    // raster: an engine that took the open would call through empty slots.
    if (opened && !Request(rwDEVICESYSTEMSTANDARDS, instance->stdFunc, nullptr, rwSTANDARDNUMOFSTANDARD)) {
        Request(rwDEVICESYSTEMCLOSE, nullptr, nullptr, 0);
        opened = FALSE;
    }
    if (!opened) {
        memcpy(&staticGlobals, instance, sizeof(RwGlobals));
        RwLinkListInitialize(&staticGlobals.dirtyFrameList);
        RwEngineInstance = &staticGlobals;
        staticGlobals.memoryFuncs.rwfree(instance);
        return FALSE;
    }
    ++engineOpenCount;
    instance->engineStatus = rwENGINESTATUSOPENED;
    return TRUE;
}

RwBool RwEngineStart(void)
{
    if (RwEngineInstance->engineStatus != rwENGINESTATUSOPENED) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return FALSE;
    }
    if (!Request(rwDEVICESYSTEMSTART, nullptr, nullptr, 0)) {
        return FALSE;
    }
    if (!RwPluginRegistryInitObject(&engineRegistry, RwEngineInstance)) {
        Request(rwDEVICESYSTEMSTOP, nullptr, nullptr, 0);
        return FALSE;
    }
    RwImageSetGamma(RwEngineInstance->dOpenDevice.gammaCorrection);
    Request(rwDEVICESYSTEMFINALIZESTART, nullptr, nullptr, 0);
    RwEngineInstance->engineStatus = rwENGINESTATUSSTARTED;
    return TRUE;
}

RwBool RwEngineStop(void)
{
    if (RwEngineInstance->engineStatus != rwENGINESTATUSSTARTED) {
        return FALSE;
    }
    Request(rwDEVICESYSTEMINITIATESTOP, nullptr, nullptr, 0);
    RwPluginRegistryDeInitObject(&engineRegistry, RwEngineInstance);
    // The modules are closed whatever the driver answers, so the engine is no
    // longer started; a refused stop is still reported.
    RwEngineInstance->engineStatus = rwENGINESTATUSOPENED;
    return Request(rwDEVICESYSTEMSTOP, nullptr, nullptr, 0) ? TRUE : FALSE;
}

RwBool RwEngineClose(void)
{
    if (RwEngineInstance == &staticGlobals || RwEngineInstance->engineStatus != rwENGINESTATUSOPENED) {
        return FALSE;
    }
    if (!Request(rwDEVICESYSTEMCLOSE, nullptr, nullptr, 0)) {
        return FALSE;
    }
    RwGlobals *instance = RwEngineInstance;
    memcpy(&staticGlobals, instance, sizeof(RwGlobals));
    RwLinkListInitialize(&staticGlobals.dirtyFrameList);
    RwEngineInstance = &staticGlobals;
    staticGlobals.memoryFuncs.rwfree(instance);
    --engineOpenCount;
    staticGlobals.engineStatus = rwENGINESTATUSINITED;
    return TRUE;
}

RwBool RwEngineTerm(void)
{
    if (engineOpenCount != 0 || RwEngineInstance->engineStatus != rwENGINESTATUSINITED) {
        return FALSE;
    }
    RwPluginRegistryClose();
    RwMemoryClose();
    staticGlobals.engineStatus = rwENGINESTATUSIDLE;
    return TRUE;
}

RwInt32 RwEngineRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginEngineCallBack initCB,
                               RwPluginEngineCallBack termCB)
{
    return RwPluginRegistryAddPlugin(&engineRegistry, size, pluginID, initCB, termCB, nullptr);
}

RwInt32 RwEngineGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&engineRegistry, pluginID);
}

RwInt32 RwEngineGetVersion(void)
{
    return rwLIBRARYCURRENTVERSION;
}

RwInt32 RwEngineGetOpenCount(void)
{
    return engineOpenCount;
}

RwInt32 RwEngineGetStatus(void)
{
    return RwEngineInstance ? RwEngineInstance->engineStatus : rwENGINESTATUSIDLE;
}

// Sub-system and video-mode calls need the driver, i.e. an opened engine.
static RwBool DeviceAvailable(void)
{
    if (RwEngineInstance->engineStatus < rwENGINESTATUSOPENED) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return FALSE;
    }
    return TRUE;
}

// A request that answers with one integer; fallBack when the engine is not
// opened or the driver refuses.
static RwInt32 RequestInteger(RwInt32 request, RwInt32 fallBack)
{
    RwInt32 value = fallBack;
    if (!DeviceAvailable() || !Request(request, &value, nullptr, 0)) {
        return fallBack;
    }
    return value;
}

// A request that fills the caller's record for one index.
static void *RequestRecord(RwInt32 request, void *record, RwInt32 index)
{
    if (!record) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    if (!DeviceAvailable() || !Request(request, record, nullptr, index)) {
        return nullptr;
    }
    return record;
}

// A request that selects by index; TRUE when the driver answers positively.
static RwBool RequestSelect(RwInt32 request, RwInt32 index)
{
    return DeviceAvailable() && Request(request, nullptr, nullptr, index) > 0;
}

RwInt32 RwEngineGetNumSubSystems(void)
{
    return RequestInteger(rwDEVICESYSTEMGETNUMSUBSYSTEMS, 0);
}

RwSubSystemInfo *RwEngineGetSubSystemInfo(RwSubSystemInfo *subSystemInfo, RwInt32 subSystemIndex)
{
    return static_cast<RwSubSystemInfo *>(
        RequestRecord(rwDEVICESYSTEMGETSUBSYSTEMINFO, subSystemInfo, subSystemIndex));
}

RwInt32 RwEngineGetCurrentSubSystem(void)
{
    return RequestInteger(rwDEVICESYSTEMGETCURRENTSUBSYSTEM, -1);
}

RwBool RwEngineSetSubSystem(RwInt32 subSystemIndex)
{
    return RequestSelect(rwDEVICESYSTEMSETSUBSYSTEM, subSystemIndex);
}

RwInt32 RwEngineGetNumVideoModes(void)
{
    return RequestInteger(rwDEVICESYSTEMGETNUMMODES, -1);
}

RwVideoMode *RwEngineGetVideoModeInfo(RwVideoMode *modeinfo, RwInt32 modeIndex)
{
    return static_cast<RwVideoMode *>(RequestRecord(rwDEVICESYSTEMGETMODEINFO, modeinfo, modeIndex));
}

RwInt32 RwEngineGetCurrentVideoMode(void)
{
    return RequestInteger(rwDEVICESYSTEMGETMODE, -1);
}

RwBool RwEngineSetVideoMode(RwInt32 modeIndex)
{
    return RequestSelect(rwDEVICESYSTEMUSEMODE, modeIndex);
}
