// The engine object, its life cycle and the device-request interface.
#pragma once

#include "rwtypes.h"
#include "error.h"
#include "memory.h"
#include "rwstring.h"

struct RwCamera;

typedef RwBool (*RwSystemFunc)(RwInt32 request, void *out, void *inOut, RwInt32 in);
typedef RwBool (*RwStandardFunc)(void *out, void *inOut, RwInt32 in);
typedef RwBool (*RwRenderStateSetFunction)(RwInt32 state, void *value);
typedef RwBool (*RwRenderStateGetFunction)(RwInt32 state, void *value);
typedef RwBool (*RwIm2DRenderLineFunction)(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2);
typedef RwBool (*RwIm2DRenderTriangleFunction)(void *vertices, RwInt32 numVertices, RwInt32 vert1,
                                               RwInt32 vert2, RwInt32 vert3);
typedef RwBool (*RwIm2DRenderPrimitiveFunction)(RwInt32 primType, void *vertices, RwInt32 numVertices);
typedef RwBool (*RwIm2DRenderIndexedPrimitiveFunction)(RwInt32 primType, void *vertices, RwInt32 numVertices,
                                                       RwUInt16 *indices, RwInt32 numIndices);
typedef RwBool (*RwIm3DRenderLineFunction)(RwInt32 vert1, RwInt32 vert2);
typedef RwBool (*RwIm3DRenderTriangleFunction)(RwInt32 vert1, RwInt32 vert2, RwInt32 vert3);
typedef RwBool (*RwIm3DRenderPrimitiveFunction)(RwInt32 primType);
typedef RwBool (*RwIm3DRenderIndexedPrimitiveFunction)(RwInt32 primType, RwUInt16 *indices, RwInt32 numIndices);

// The driver's device block (14 words), copied into the engine at open.
struct RwDevice {
    RwReal gammaCorrection;
    RwSystemFunc fpSystem;
    RwReal zBufferNear;
    RwReal zBufferFar;
    RwRenderStateSetFunction fpRenderStateSet;
    RwRenderStateGetFunction fpRenderStateGet;
    RwIm2DRenderLineFunction fpIm2DRenderLine;
    RwIm2DRenderTriangleFunction fpIm2DRenderTriangle;
    RwIm2DRenderPrimitiveFunction fpIm2DRenderPrimitive;
    RwIm2DRenderIndexedPrimitiveFunction fpIm2DRenderIndexedPrimitive;
    RwIm3DRenderLineFunction fpIm3DRenderLine;
    RwIm3DRenderTriangleFunction fpIm3DRenderTriangle;
    RwIm3DRenderPrimitiveFunction fpIm3DRenderPrimitive;
    RwIm3DRenderIndexedPrimitiveFunction fpIm3DRenderIndexedPrimitive;
};
static_assert(sizeof(RwDevice) == 56, "device block is 14 words");

// Device requests of the system function.
enum RwCoreDeviceRequest : RwInt32 {
    rwDEVICESYSTEMOPEN = 0,
    rwDEVICESYSTEMCLOSE = 1,
    rwDEVICESYSTEMSTART = 2,
    rwDEVICESYSTEMSTOP = 3,
    rwDEVICESYSTEMREGISTER = 4,
    rwDEVICESYSTEMGETNUMMODES = 5,
    rwDEVICESYSTEMGETMODEINFO = 6,
    rwDEVICESYSTEMUSEMODE = 7,
    rwDEVICESYSTEMFOCUS = 8,
    rwDEVICESYSTEMINITPIPELINE = 9,
    rwDEVICESYSTEMGETMODE = 10,
    rwDEVICESYSTEMSTANDARDS = 11,
    rwDEVICESYSTEMGETTEXMEMSIZE = 12,
    rwDEVICESYSTEMGETNUMSUBSYSTEMS = 13,
    rwDEVICESYSTEMGETSUBSYSTEMINFO = 14,
    rwDEVICESYSTEMGETCURRENTSUBSYSTEM = 15,
    rwDEVICESYSTEMSETSUBSYSTEM = 16,
    rwDEVICESYSTEMFINALIZESTART = 17,
    rwDEVICESYSTEMINITIATESTOP = 18,
    rwDEVICESYSTEMGETMAXTEXTURESIZE = 19,
    rwDEVICESYSTEMRXPIPELINEREQUESTPIPE = 20,
    rwDEVICESYSTEMGETMETRICBLOCK = 21,
    rwDEVICESYSTEMGETID = 22,
};

// Entries of the standard-function table.
enum RwStandardFuncIndex : RwInt32 {
    rwSTANDARDNASTANDARD = 0,
    rwSTANDARDCAMERABEGINUPDATE = 1,
    rwSTANDARDRGBTOPIXEL = 2,
    rwSTANDARDPIXELTORGB = 3,
    rwSTANDARDRASTERCREATE = 4,
    rwSTANDARDRASTERDESTROY = 5,
    rwSTANDARDIMAGEGETRASTER = 6,
    rwSTANDARDRASTERSETIMAGE = 7,
    rwSTANDARDTEXTURESETRASTER = 8,
    rwSTANDARDIMAGEFINDRASTERFORMAT = 9,
    rwSTANDARDCAMERAENDUPDATE = 10,
    rwSTANDARDSETRASTERCONTEXT = 11,
    rwSTANDARDRASTERSUBRASTER = 12,
    rwSTANDARDRASTERCLEARRECT = 13,
    rwSTANDARDRASTERCLEAR = 14,
    rwSTANDARDRASTERLOCK = 15,
    rwSTANDARDRASTERUNLOCK = 16,
    rwSTANDARDRASTERRENDER = 17,
    rwSTANDARDRASTERRENDERSCALED = 18,
    rwSTANDARDRASTERRENDERFAST = 19,
    rwSTANDARDRASTERSHOWRASTER = 20,
    rwSTANDARDCAMERACLEAR = 21,
    rwSTANDARDHINTRENDERF2B = 22,
    rwSTANDARDRASTERLOCKPALETTE = 23,
    rwSTANDARDRASTERUNLOCKPALETTE = 24,
    rwSTANDARDNATIVETEXTUREGETSIZE = 25,
    rwSTANDARDNATIVETEXTUREREAD = 26,
    rwSTANDARDNATIVETEXTUREWRITE = 27,
    rwSTANDARDRASTERGETMIPLEVELS = 28,
    rwSTANDARDNUMOFSTANDARD = 29,
};

// Life-cycle status.
enum RwEngineStatus : RwInt32 {
    rwENGINESTATUSIDLE = 0,
    rwENGINESTATUSINITED = 1,
    rwENGINESTATUSOPENED = 2,
    rwENGINESTATUSSTARTED = 3,
};

struct RwFreeListFunctions {
    void *(*rwFreeListAlloc)(RwFreeList *freelist, RwUInt32 hint);
    RwFreeList *(*rwFreeListFree)(RwFreeList *freelist, void *entry);
};

// Fixed part of the engine object; module globals follow at their offsets.
struct RwGlobals {
    RwCamera *curCamera;
    void *curWorld;
    RwUInt32 renderFrame;          // low 16 bits are the counter
    RwDevice dOpenDevice;
    RwStandardFunc stdFunc[rwSTANDARDNUMOFSTANDARD];
    RwLinkList dirtyFrameList;
    RwStringFunctions stringFuncs;
    RwMemoryFunctions memoryFuncs;
    RwFreeListFunctions memoryAlloc;
    RwInt32 engineStatus;
    RwUInt32 resArenaInitSize;
    RwBool simdAvailable;          // processor capability flag (set by the driver)
    RwUInt32 lightFrame;           // lighting-pass counter, apart from the render frame; low 16 bits count
};
static_assert(sizeof(RwGlobals) == 300, "engine base size is 300 bytes (75 words)");

extern RwGlobals *RwEngineInstance;

// Module globals: RwEngineInstance plus the module's registered offset.
template <typename T>
inline T *RwEngineModuleGlobals(RwInt32 offset)
{
    return reinterpret_cast<T *>(reinterpret_cast<RwUInt8 *>(RwEngineInstance) + offset);
}

// Open parameters of the driver: the first word is the window handle.
struct RwEngineOpenParams {
    void *displayID;
};

// Video-mode record (request 6).
struct RwVideoMode {
    RwInt32 width;
    RwInt32 height;
    RwInt32 depth;
    RwInt32 flags;      // bit 0: exclusive (full screen)
    RwInt32 refRate;
    RwInt32 format;
};
enum : RwInt32 { rwVIDEOMODEEXCLUSIVE = 0x1 };

// Sub-system record (request 14): the adapter name as text.
struct RwSubSystemInfo {
    RwChar name[80];
};

typedef void *(*RwPluginEngineCallBack)(void *instance, RwInt32 offset, RwInt32 size);

RwBool RwEngineInit(const RwMemoryFunctions *memFuncs, RwUInt32 initFlags, RwUInt32 resArenaSize);
RwBool RwEngineOpen(RwEngineOpenParams *initParams);
RwBool RwEngineStart(void);
RwBool RwEngineStop(void);
RwBool RwEngineClose(void);
RwBool RwEngineTerm(void);
RwInt32 RwEngineRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginEngineCallBack initCB,
                               RwPluginEngineCallBack termCB);
RwInt32 RwEngineGetPluginOffset(RwUInt32 pluginID);
RwInt32 RwEngineGetVersion(void);
RwInt32 RwEngineGetOpenCount(void);
RwInt32 RwEngineGetNumSubSystems(void);
RwSubSystemInfo *RwEngineGetSubSystemInfo(RwSubSystemInfo *subSystemInfo, RwInt32 subSystemIndex);
RwInt32 RwEngineGetCurrentSubSystem(void);
RwBool RwEngineSetSubSystem(RwInt32 subSystemIndex);
RwInt32 RwEngineGetNumVideoModes(void);
RwVideoMode *RwEngineGetVideoModeInfo(RwVideoMode *modeinfo, RwInt32 modeIndex);
RwInt32 RwEngineGetCurrentVideoMode(void);
RwBool RwEngineSetVideoMode(RwInt32 modeIndex);
RwBool RwEngineDeviceRequest(const RwDevice *device, RwInt32 request, void *out, void *inOut, RwInt32 in);
RwInt32 RwEngineGetStatus(void);

// Calls standard function n of the engine.
inline RwBool RwStandardFunction(RwInt32 n, void *out, void *inOut, RwInt32 in)
{
    return RwEngineInstance->stdFunc[n](out, inOut, in);
}

// Supplied by the device driver (or a stand-in driver in tests).
RwDevice *RwD3D9GetDeviceBlock(void);
RwBool RwD3D9DriverRegisterPlugins(void);

// Small helpers that the core calls.
RwBool RwReturnTrue(...);
RwBool RwReturnZero(...);
// The empty callback, for hooks that must be set but have nothing to do.
void RwDoNothing(...);
RwUInt32 RwGetThirdWord(const void *record);

enum : RwUInt32 { rwLIBRARYCURRENTVERSION = 0x37002, rwLIBRARYBUILD = 0x55 };
