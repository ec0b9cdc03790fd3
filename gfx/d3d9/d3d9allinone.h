// The world-sector and atomic all-in-one pipeline nodes: instancing, the instance-flags extension and drawing.
#pragma once

#include "d3d9instance.h"
#include "gfx/core/memory.h"

struct RxPipeline;
struct RxPipelineNode;
struct RxPipelineNodeDefinition;
struct RwGeometry;
struct RwWorldSector;
struct RwMeshHeader;

// Object types the callbacks receive.
enum : RwUInt8 {
    rwD3D9OBJECTATOMIC = 1,
    rwD3D9OBJECTSECTOR = 0xFF,
};

enum : RwUInt32 {
    rwID_D3D9INSTANCEFLAGS = 0x50F,
    rwD3D9INSTANCETANGENTS = 0x10000,   // instancing flag: a tangent element
    rwD3D9INSTANCELOCKMASK = 0x0FFF,    // instancing flags naming dynamic data
    rwGEOMETRYNATIVEINSTANCE = 0x02000000,   // build the instance outside the arena, do not draw
};

typedef RwBool (*RwD3D9AllInOneInstanceCallBack)(void *object, RwD3D9InstanceHeader *header, RwBool reinstance);
typedef RwBool (*RwD3D9AllInOneReinstanceCallBack)(void *object, RwResourceEntry *entry,
                                                   RwD3D9AllInOneInstanceCallBack instanceCallback);
typedef void (*RwD3D9AllInOneLightingCallBack)(void *object);
// Render callbacks take the object's resource entry rather than the instance
// header: the node holds the entry, the header is its data
// (RwResourceEntryData), and the default, material-effects, toon and skin
// callbacks all share this one signature.
typedef void (*RwD3D9AllInOneRenderCallBack)(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags);

// The private data of both nodes, in this order.
struct RwD3D9AllInOneNodeCallbacks {
    RwD3D9AllInOneInstanceCallBack instance;
    RwD3D9AllInOneReinstanceCallBack reinstance;
    RwD3D9AllInOneLightingCallBack lighting;
    RwD3D9AllInOneRenderCallBack render;
};
static_assert(sizeof(RwD3D9AllInOneNodeCallbacks) == 16, "callback table is four words");

RwBool RwD3D9InstanceFlagsPluginAttach(void);
void RwD3D9GeometrySetInstanceFlags(RwGeometry *geometry, RwUInt32 flags);
RwUInt32 RwD3D9GeometryGetInstanceFlags(const RwGeometry *geometry);
void RwD3D9WorldSectorSetInstanceFlags(RwWorldSector *sector, RwUInt32 flags);
RwUInt32 RwD3D9WorldSectorGetInstanceFlags(const RwWorldSector *sector);

RxPipelineNodeDefinition *RwD3D9WorldSectorAllInOneNodeGet(void);
RxPipelineNodeDefinition *RwD3D9AtomicAllInOneNodeGet(void);

// A locked, built and unlocked pipeline of the one node, tagged with the plug-in
// id; *node is that node, for the plug-in to set its callbacks. NULL on failure.
RxPipeline *RwD3D9AllInOnePipelineCreate(RxPipelineNodeDefinition *definition, RwUInt32 pluginId,
                                         RxPipelineNode **node);

void RwD3D9AllInOneNodeSetInstanceCallback(RxPipelineNode *node, RwD3D9AllInOneInstanceCallBack callback);
RwD3D9AllInOneInstanceCallBack RwD3D9AllInOneNodeGetInstanceCallback(RxPipelineNode *node);
void RwD3D9AllInOneNodeSetLightingCallback(RxPipelineNode *node, RwD3D9AllInOneLightingCallBack callback);
void RwD3D9AllInOneNodeSetRenderCallback(RxPipelineNode *node, RwD3D9AllInOneRenderCallBack callback);

// The instance callbacks of the two nodes (build, or rewrite what the lock
// flags name) and the atomic's reinstance callback.
RwBool RwD3D9WorldSectorInstance(void *sector, RwD3D9InstanceHeader *header, RwBool reinstance);
RwBool RwD3D9AtomicInstance(void *atomic, RwD3D9InstanceHeader *header, RwBool reinstance);
RwBool RwD3D9AtomicReinstance(void *atomic, RwResourceEntry *entry, RwD3D9AllInOneInstanceCallBack instance);

// Builds the instance of an object's meshes: the entry (in the arena, or
// outside it when keepOutside), the index buffer and, through the callback,
// the vertex data. NULL on failure, with nothing left behind.
RwResourceEntry *RwD3D9InstanceBuild(void *object, void *owner, RwUInt8 type, RwResourceEntry **entryRef,
                                     RwMeshHeader *meshHeader, RwD3D9AllInOneInstanceCallBack instance,
                                     RwBool keepOutside);
// An instance that an atomic owns ends in a fill mark (see the builder).
// FALSE when its mark is behind: a reset, or a lock of its geometry taken in
// by another atomic, came after its last fill; TRUE for any other instance.
RwBool RwD3D9InstanceFillIsCurrent(RwResourceEntry *entry);
// Marks the instance filled, after its render took in the geometry's lock
// flags (which are then cleared).
void RwD3D9InstanceFillMarkCurrent(RwResourceEntry *entry, const RwGeometry *geometry);
// Every fill mark falls behind (the device was reset).
void RwD3D9InstanceFillsInvalidate(void);
// The primitive type, index buffer and mesh records of a header that has its
// mesh count; FALSE when a mesh names vertices the object does not have.
RwBool RwD3D9InstanceIndices(RwD3D9InstanceHeader *header, RwMeshHeader *meshHeader, RwUInt32 numVertices,
                              RwUInt32 numTriangles);
// Primitives that n indices (or vertices) of the type make; 0 for points.
RwUInt32 RwD3D9PrimitiveCountOf(D3DPRIMITIVETYPE type, RwUInt32 n);
// Writes a native instance's dynamic vertex buffers again from the copy kept
// when it was read; TRUE when there was nothing to write.
RwBool RwD3D9NativeInstanceRefill(RwResourceEntry *entry);
// Releases the instance's device objects (the resource entry's destroy notice).
void RwD3D9InstanceDataDestroy(RwResourceEntry *entry);
// Releases one stream record's vertex space and clears it.
void RwD3D9VertexStreamRelease(RwD3D9VertexStream *stream, RwUInt32 numVertices);

struct RwWorld;
// The world of a sector being rendered (the current world when there is one).
const RwWorld *RwD3D9SectorWorld(const RwWorldSector *sector);

// Draws mesh by mesh with each material (and each mesh's vertex shader when it has one).
void RwD3D9DefaultRenderCallback(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags);
// Draws one mesh of the instance with its vertex shader (indices are relative to its base vertex).
void RwD3D9DrawInstanceMesh(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh);
// One operation and argument pair for both the colour and the alpha half of a texture stage.
void RwD3D9SetStageColourAlpha(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2);
// CLIPPING off when the object lies wholly inside the current camera.
void RwD3D9SetObjectClipping(void *object, RwUInt8 type);
