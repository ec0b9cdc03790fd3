// Worlds: the sector tree of static polygons, its walks, rendering, world membership of objects and world streams.
#pragma once

#include "gfx/core/bbox.h"
#include "gfx/core/plugin.h"
#include "gfx/core/rwtypes.h"
#include "clump.h"
#include "material.h"

struct RwCamera;
struct RwLight;
struct RwMeshHeader;
struct RwResourceEntry;
struct RwStream;
struct RwTexCoords;
struct RwTriangle;
struct RxPipeline;

enum : RwUInt8 { rwWORLD = 7 };    // object type
enum : RwUInt8 { rwWORLDSINGLEMALLOC = 0x01 };

enum : RwUInt32 {
    rwID_WORLDMODULE = 0x507,
    rwID_WORLDOBJMODULE = 0x509,      // world ties and the world extensions
    rwID_SECTORMODULE = 0x50A,
    rwID_BINWORLDMODULE = 0x50B,
    rwID_NATIVEDATAPLUGIN = 0x510,
    rwID_ATOMICSECT = 0x09,           // chunk types
    rwID_PLANESECT = 0x0A,
    rwID_WORLD = 0x0B,
    rwWORLDFORMATEXTENTS = 0x40000000,
    rwMEMHINT_WORLD = 0x3000B,
};

enum : RwInt32 {
    rwSECTORATOMIC = -1,
    rwSECTORBUILD = -2,               // placeholder that is only freed
    rwRENDERORDERFRONT2BACK = 1,
    rwRENDERORDERBACK2FRONT = 2,
    rwMAXSECTORDEPTH = 64,            // deepest sector tree the walks hold
};

struct RwSector {
    RwInt32 type;                     // below zero: a world sector
};

struct RwPlaneSector {
    RwInt32 type;                     // byte offset of the split axis in an RwV3d
    RwReal value;
    RwSector *leftSubTree;
    RwSector *rightSubTree;
    RwReal leftValue;
    RwReal rightValue;
};
static_assert(sizeof(RwPlaneSector) == 24, "plane sector is 24 bytes");

struct RwWorldSector {
    RwInt32 type;
    RwTriangle *polygons;             // material index counted from matListWindowBase
    RwV3d *vertices;
    RwUInt32 *normals;                // compressed, as stored
    RwTexCoords *texCoords[8];
    RwRGBA *preLitLum;
    RwResourceEntry *repEntry;
    RwLinkList collAtomicsInWorldSector;
    RwLinkList lightsInWorldSector;
    RwBBox boundingBox;
    RwBBox tightBoundingBox;
    RwMeshHeader *mesh;
    RxPipeline *pipeline;
    RwUInt16 matListWindowBase;
    RwUInt16 numVertices;
    RwUInt16 numPolygons;
    RwUInt16 pad;
};
static_assert(sizeof(RwWorldSector) == 136, "world sector base size is 136 bytes");

// One tie per object and sector it overlaps; cursor ties of the walks carry
// no object.
struct RwTie {
    RwLLLink lWorldSector;            // in the sector's atomic or light list
    void *object;
    RwLLLink lObject;                 // in the object's tie list
    RwWorldSector *worldSector;
};
static_assert(sizeof(RwTie) == 24, "tie is 24 bytes");

inline RwAtomic *RwTieGetAtomic(RwLLLink *sectorLink)
{
    return static_cast<RwAtomic *>(rwLLLinkGetData(sectorLink, RwTie, lWorldSector)->object);
}

struct RwWorld;
typedef RwWorldSector *(*RwWorldSectorCallBackRender)(RwWorldSector *sector);
typedef RwWorldSector *(*RwWorldSectorCallBack)(RwWorldSector *sector, void *data);

struct RwWorld {
    RwObject object;
    RwUInt32 flags;
    RwInt32 renderOrder;
    RwMaterialList matList;
    RwSector *rootSector;
    RwInt32 numTexCoordSets;
    RwInt32 numClumpsInWorld;
    RwLLLink *currentClumpLink;
    RwLinkList clumpList;
    RwLinkList lightList;             // local lights
    RwLinkList directionalLightList;  // global lights
    RwV3d worldOrigin;
    RwBBox boundingBox;
    RwWorldSectorCallBackRender renderCallBack;
    RxPipeline *pipeline;
};
static_assert(sizeof(RwWorld) == 112, "world base size is 112 bytes");

// Engine modules of the world (0x507), its sectors (0x50A) and its streams (0x50B).
void *RwWorldModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwWorldModuleClose(void *instance, RwInt32 offset, RwInt32 size);
void *RwSectorModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwSectorModuleClose(void *instance, RwInt32 offset, RwInt32 size);
void *RwBinWorldModuleOpen(void *instance, RwInt32 offset, RwInt32 size);
void *RwBinWorldModuleClose(void *instance, RwInt32 offset, RwInt32 size);

// Registers every engine module and extension of the world module.
RwBool RwWorldPluginAttach(void);

RwWorld *RwWorldCreate(const RwBBox *boundingBox);
RwBool RwWorldDestroy(RwWorld *world);
RwWorld *RwWorldRender(RwWorld *world);
// One sector and its atomics, as the world render walks them.
RwWorldSector *RwWorldRenderSector(RwWorldSector *sector);
// One sector alone, through the current world's sector render callback: the
// callback's result, NULL when no world is current.
RwWorldSector *RwWorldSectorRender(RwWorldSector *sector);
RwWorld *RwWorldSetSectorRenderCallBack(RwWorld *world, RwWorldSectorCallBackRender callback);
RwWorldSector *RwWorldSectorDefaultRenderCallBack(RwWorldSector *sector);
RwWorld *RwWorldForAllClumps(RwWorld *world, RwClumpCallBack callback, void *data);
RwWorld *RwWorldForAllMaterials(RwWorld *world, RwMaterialCallBack callback, void *data);
RwWorld *RwWorldForAllWorldSectors(RwWorld *world, RwWorldSectorCallBack callback, void *data);
RwWorld *RwWorldSectorGetWorld(const RwWorldSector *sector);
RwInt32 RwWorldRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwWorldRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwWorldSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB);
RwInt32 RwWorldGetPluginOffset(RwUInt32 pluginID);
RwInt32 RwWorldSectorRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                                    RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB);
RwInt32 RwWorldSectorRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                          RwPluginDataChunkWriteCallBack writeCB,
                                          RwPluginDataChunkGetSizeCallBack getSizeCB);
RwInt32 RwWorldSectorSetStreamRightsCallBack(RwUInt32 pluginID, RwPluginDataChunkRightsCallBack rightsCB);
RwInt32 RwWorldSectorGetPluginOffset(RwUInt32 pluginID);

// Shared by the world code and its stream reader (not for other callers).
const RwPluginRegistry *RwWorldGetPluginRegistry(void);
const RwPluginRegistry *RwWorldSectorGetPluginRegistry(void);
// Links a node for the world (whose memory block has blockSize bytes) into the module's list.
void RwWorldListAdd(RwWorld *world, RwUInt32 blockSize);
// Frees a world sector's resource entry, ties, plug-in data and mesh header.
void RwWorldSectorRelease(RwWorldSector *sector);
// Unlinks and frees a world whose plug-in constructors never ran.
void RwWorldFreeUnconstructed(RwWorld *world);
// Builds the mesh header of every sector that has none; NULL on failure.
RwWorld *RwWorldBuildSectorMeshes(RwWorld *world);
// Sets every world sector's box from the world box and the plane extents.
void RwWorldSetSectorBoxes(RwWorld *world);
// Depth of the sector tree (a world sector alone is 0).
RwInt32 RwSectorTreeDepth(const RwSector *root);

// Right-to-render records: the id and data that the 0x1F chunk of the last
// object of each kind read held (id 0: none).
struct RwRightsRecord {
    RwUInt32 pluginID;
    RwUInt32 data;
};
enum RwRightsKind { rwRIGHTSATOMIC, rwRIGHTSWORLD, rwRIGHTSSECTOR, rwRIGHTSKINDS };
RwRightsRecord *RwWorldGetRightsRecord(RwRightsKind kind);

// World membership of clumps, lights and cameras.
RwBool RwWorldRegisterObjectExtensions(void);
// The world-ties engine module and the world extensions of cameras, atomics, clumps and lights.
RwBool RwWorldRegisterWorldTies(void);
RwWorld *RwWorldAddClump(RwWorld *world, RwClump *clump);
RwWorld *RwWorldRemoveClump(RwWorld *world, RwClump *clump);
RwWorld *RwWorldAddLight(RwWorld *world, RwLight *light);
RwWorld *RwWorldRemoveLight(RwWorld *world, RwLight *light);
RwWorld *RwWorldAddCamera(RwWorld *world, RwCamera *camera);
RwWorld *RwWorldRemoveCamera(RwWorld *world, RwCamera *camera);
// Sends every camera still in the world out of it (when the world goes).
void RwWorldRemoveAllCameras(RwWorld *world);
RwWorld *RwAtomicGetWorld(const RwAtomic *atomic);
RwWorld *RwClumpGetWorld(const RwClump *clump);
RwWorld *RwLightGetWorld(const RwLight *light);
RwWorld *RwCameraGetWorld(const RwCamera *camera);
RwAtomic *RwAtomicForAllWorldSectors(RwAtomic *atomic, RwWorldSectorCallBack callback, void *data);
RwWorldSector *RwWorldSectorForAllAtomics(RwWorldSector *sector, RwAtomicCallBack callback, void *data);
RwWorldSector *RwWorldSectorForAllLights(RwWorldSector *sector, RwLightCallBack callback, void *data);
RwCamera *RwCameraForAllSectorsInFrustum(RwCamera *camera, RwWorldSectorCallBack callback, void *data);
RwCamera *RwCameraForAllClumpsInFrustum(RwCamera *camera, void *data);
// The camera's frustum sector list, in render order.
RwInt32 RwCameraGetFrustumSectorCount(const RwCamera *camera);
RwWorldSector *RwCameraGetFrustumSector(const RwCamera *camera, RwInt32 index);
// Frees an atomic's sector ties (when leaving a world).
void RwAtomicFreeTies(RwAtomic *atomic);
// Puts an atomic that joined or left a clump into the clump's world, or into
// none, so that no atomic keeps ties to a world its clump has left.
void RwAtomicFollowClumpWorld(RwAtomic *atomic);
// Frees the ties hanging on a sector (when its world goes).
void RwWorldSectorFreeTies(RwWorldSector *sector);

// World chunk (0x0B): the reader takes the stream just after the chunk header.
RwWorld *RwWorldStreamRead(RwStream *stream);
const RwWorld *RwWorldStreamWrite(const RwWorld *world, RwStream *stream);
RwUInt32 RwWorldStreamGetSize(const RwWorld *world);

// A sector reader's place in the block it reads into, and what the world's
// totals still allow: sector records go from next on, their arrays from
// arrays on.
struct RwWorldStreamCursor {
    RwUInt8 *next;
    RwUInt8 *arrays;
    RwInt32 worldSectors;
    RwInt32 planeSectors;
    RwInt32 vertices;
    RwInt32 polygons;
    RwInt32 depth;      // plane sectors above the one being read
};

// One sector chunk: a world sector (0x09), or a plane sector (0x0A) with the
// subtree below it. The writers write the chunk header too, in the world's
// format. The readers take the stream just after the chunk header and the
// world's format; the sector's plug-in data is read against the world given.
// A world sector's record is cleared before it is filled, whatever the block
// held. NULL on failure.
const RwWorldSector *RwAtomicSectorStreamWrite(const RwWorldSector *sector, const RwWorld *world, RwStream *stream);
const RwPlaneSector *RwPlaneSectorStreamWrite(const RwPlaneSector *plane, const RwWorld *world, RwStream *stream);
RwWorldSector *RwAtomicSectorStreamRead(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world,
                                        RwUInt32 format);
RwPlaneSector *RwPlaneSectorStreamRead(RwStream *stream, RwWorldStreamCursor *cursor, RwWorld *world,
                                       RwUInt32 format);
