// Atomics and clumps: drawable objects on frames, their groups, free lists, cloning and the morph interpolator.
#pragma once

#include "gfx/core/frame.h"
#include "gfx/core/plugin.h"
#include "gfx/core/rwtypes.h"

struct RwCamera;
struct RwClump;
struct RwFrameList;
struct RwGeometry;
struct RwLight;
struct RwResourceEntry;
struct RwStream;
struct RxPipeline;

enum : RwUInt8 {
    rwATOMIC = 1,           // object type
    rwCLUMP = 2,
    rwATOMICCOLLISIONTEST = 0x01,
    rwATOMICRENDER = 0x04,
    rwATOMICPRIVATEWORLDBOUNDDIRTY = 0x01,
};

enum : RwUInt32 {
    rwID_CLUMPMODULE = 0x504,
    rwID_CLUMP = 0x10,      // chunk types
    rwID_ATOMIC = 0x14,
    rwID_GEOMETRYLIST = 0x1A,
    rwID_CLUMPEXTENSION = 0x10,
    rwINTERPOLATORDIRTYINSTANCE = 0x01,
    rwINTERPOLATORDIRTYSPHERE = 0x02,
};

// Error codes raised with plug-in id 2.
enum : RwUInt32 {
    E_RP_WORLD_NOTINWORLD = 4,
    E_RP_WORLD_ATOMICNOFRAME = 5,
};

struct RwInterpolator {
    RwUInt32 flags;
    RwUInt16 startMorphTarget;
    RwUInt16 endMorphTarget;
    RwReal time;
    RwReal recipTime;
    RwReal position;
};
static_assert(sizeof(RwInterpolator) == 20, "interpolator is 20 bytes");

struct RwAtomic;
typedef RwAtomic *(*RwAtomicCallBackRender)(RwAtomic *atomic);
typedef RwAtomic *(*RwAtomicCallBack)(RwAtomic *atomic, void *data);
typedef RwClump *(*RwClumpCallBack)(RwClump *clump, void *data);
typedef RwLight *(*RwLightCallBack)(RwLight *light, void *data);
typedef RwCamera *(*RwCameraCallBack)(RwCamera *camera, void *data);

struct RwAtomic {
    RwObjectHasFrame object;
    RwResourceEntry *repEntry;
    RwGeometry *geometry;
    RwSphere boundingSphere;
    RwSphere worldBoundingSphere;
    RwClump *clump;
    RwLLLink inClumpLink;
    RwAtomicCallBackRender renderCallBack;
    RwInterpolator interpolator;
    RwUInt16 renderFrame;
    RwUInt16 pad;
    RwLinkList llWorldSectorsInAtomic;
    RxPipeline *pipeline;
};
static_assert(sizeof(RwAtomic) == 112, "atomic base size is 112 bytes");

struct RwClump {
    RwObject object;            // parent: the root frame
    RwLinkList atomicList;
    RwLinkList lightList;
    RwLinkList cameraList;
    RwLLLink inWorldLink;
    RwClumpCallBack callback;
};
static_assert(sizeof(RwClump) == 44, "clump base size is 44 bytes");

// Clump extension of lights and cameras.
struct RwClumpMember {
    RwClump *clump;
    RwLLLink inClumpLink;
};
static_assert(sizeof(RwClumpMember) == 12, "clump extension is 12 bytes");

// Engine module 0x504 (8 bytes of globals).
void *RwClumpModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwClumpModuleClose(void *instance, RwInt32 offset, RwInt32 size);
// Registers the clump extension on lights and cameras.
RwBool RwClumpAttachExtensions(void);
RwClumpMember *RwLightGetClumpMember(const RwLight *light);
RwClumpMember *RwCameraGetClumpMember(const RwCamera *camera);

RwAtomic *RwAtomicCreate(void);
RwBool RwAtomicDestroy(RwAtomic *atomic);
RwAtomic *RwAtomicClone(RwAtomic *atomic);
RwAtomic *RwAtomicSetGeometry(RwAtomic *atomic, RwGeometry *geometry, RwUInt32 flags);
RwAtomic *RwAtomicSetFrame(RwAtomic *atomic, RwFrame *frame);
RwAtomic *RwAtomicUpdateBoundingSphere(RwAtomic *atomic);
const RwSphere *RwAtomicGetWorldBoundingSphere(RwAtomic *atomic);
RwAtomic *RwAtomicDefaultRenderCallBack(RwAtomic *atomic);
RwObjectHasFrame *RwAtomicSyncCallBack(RwObjectHasFrame *object);
RwInt32 RwAtomicRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                               RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwAtomicRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                     RwPluginDataChunkWriteCallBack writeCB,
                                     RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwAtomicSetStreamAlwaysCallBack(RwUInt32 pluginID, RwPluginDataChunkAlwaysCallBack alwaysCB);
RwInt32 RwAtomicSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB);
RwInt32 RwAtomicGetPluginOffset(RwUInt32 pluginID);
const RwPluginRegistry *RwAtomicGetPluginRegistry(void);

RwClump *RwClumpCreate(void);
RwBool RwClumpDestroy(RwClump *clump);
RwClump *RwClumpClone(RwClump *clump);
RwClump *RwClumpRender(RwClump *clump);
RwClump *RwClumpForAllAtomics(RwClump *clump, RwAtomicCallBack callback, void *data);
RwClump *RwClumpForAllLights(RwClump *clump, RwLightCallBack callback, void *data);
RwClump *RwClumpForAllCameras(RwClump *clump, RwCameraCallBack callback, void *data);
RwClump *RwClumpAddAtomic(RwClump *clump, RwAtomic *atomic);
RwClump *RwClumpRemoveAtomic(RwClump *clump, RwAtomic *atomic);
RwClump *RwClumpAddLight(RwClump *clump, RwLight *light);
RwClump *RwClumpAddCamera(RwClump *clump, RwCamera *camera);
RwClump *RwClumpSetCallBack(RwClump *clump, RwClumpCallBack callback);
RwInt32 RwClumpRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwClumpRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwClumpGetPluginOffset(RwUInt32 pluginID);
const RwPluginRegistry *RwClumpGetPluginRegistry(void);

inline RwFrame *RwAtomicGetFrame(const RwAtomic *atomic) { return RwObjectGetFrame(atomic); }
inline RwFrame *RwClumpGetFrame(const RwClump *clump) { return static_cast<RwFrame *>(clump->object.parent); }
inline void RwClumpSetFrame(RwClump *clump, RwFrame *frame) { clump->object.parent = frame; }

// Geometries read from a clump's geometry list.
struct RwGeometryList {
    RwGeometry **geometries;
    RwInt32 numGeoms;
};

// Clump chunk (0x10) and atomic chunk (0x14): readers take the stream just
// after the chunk header.
RwClump *RwClumpStreamRead(RwStream *stream);
RwAtomic *RwAtomicStreamRead(RwStream *stream, const RwFrameList *frameList, const RwGeometryList *geomList);

// Right-to-render extension (0x1F) of atomics.
RwInt32 RwAtomicRightsStreamGetSize(const void *atomic, RwInt32 offset, RwInt32 size);
RwStream *RwAtomicRightsStreamWrite(RwStream *stream, RwInt32 length, const void *atomic, RwInt32 offset,
                                    RwInt32 size);
RwStream *RwAtomicRightsStreamRead(RwStream *stream, RwInt32 length, void *atomic, RwInt32 offset, RwInt32 size);
