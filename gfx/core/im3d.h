// Immediate-mode 3D drawing: caller-owned vertex batches run through transform and render pipelines.
#pragma once

#include "matrix.h"
#include "pipeline.h"
#include "rwtypes.h"

// 36 bytes, as the device reads it.
struct RwIm3DVertex {
    RwV3d objVertex;
    RwV3d objNormal;
    RwUInt32 color;     // alpha in the top byte, then red, green, blue
    RwReal u;
    RwReal v;
};
static_assert(sizeof(RwIm3DVertex) == 36, "immediate-mode vertex is 36 bytes");

enum RwPrimitiveType : RwInt32 {
    rwPRIMTYPENAPRIMTYPE = 0,
    rwPRIMTYPELINELIST = 1,
    rwPRIMTYPEPOLYLINE = 2,
    rwPRIMTYPETRILIST = 3,
    rwPRIMTYPETRISTRIP = 4,
    rwPRIMTYPETRIFAN = 5,
    rwPRIMTYPEPOINTLIST = 6,    // a pipeline slot only: not drawable
};

// Batch flags; RwIm3DTransform always adds 0x08 and 0x10.
enum : RwUInt32 {
    rwIM3D_VERTEXUV = 0x01,
    rwIM3D_ALLOPAQUE = 0x02,
    rwIM3D_NOCLIP = 0x04,
    rwIM3D_VERTEXXYZ = 0x08,
    rwIM3D_VERTEXRGBA = 0x10,
    rwIM3D_MAXVERTICES = 65536,
};

// What a render pipeline receives: the batch record from its flags on.
struct RwIm3DRenderRecord {
    RwUInt32 flags;
    RwMatrix *matrix;
    RwUInt32 deviceWords[6];    // the device's own use
    RxPipeline *pipeline;
    RwInt32 primType;
    RwUInt16 *indices;          // NULL when not indexed
    RwInt32 numIndices;
};
static_assert(sizeof(RwIm3DRenderRecord) == 48, "render record is 12 words");

// What the transform pipeline receives.
struct RwIm3DTransformRecord {
    RwUInt32 numVerts;
    RwIm3DVertex *objVerts;
    RwUInt32 stride;
    RwIm3DRenderRecord render;
};
static_assert(sizeof(RwIm3DTransformRecord) == 60, "batch record is 60 bytes");

// Error codes (plug-in id 1).
enum : RwInt32 {
    E_RW_IM3DNOTACTIVE = 35,
    E_RW_INVALIDPRIMTYPE = 37,
    E_RW_IM3DTOOMANYVERTICES = 50,   // a batch holds at most 65536 vertices
};

void *RwIm3DTransform(void *vertices, RwUInt32 numVertices, RwMatrix *matrix, RwUInt32 flags);
RwBool RwIm3DEnd(void);
RwBool RwIm3DRenderPrimitive(RwPrimitiveType primType);
RwBool RwIm3DRenderIndexedPrimitive(RwPrimitiveType primType, RwUInt16 *indices, RwInt32 numIndices);
// NULL restores the default; the pipeline now in force.
RxPipeline *RwIm3DSetTransformPipeline(RxPipeline *pipeline);
RxPipeline *RwIm3DSetRenderPipeline(RxPipeline *pipeline, RwPrimitiveType primType);
RxPipeline *RwIm3DGetTransformPipeline(void);
RxPipeline *RwIm3DGetRenderPipeline(RwPrimitiveType primType);

// Supplied by the device driver: they make the default pipelines, store them
// in the module's slots and install them; the render slots are in the order
// triangle list, fan, strip, line list, poly-line, point list.
RwBool RwD3D9Im3DTransformPipelineCreate(RxPipeline **slot);
void RwD3D9Im3DTransformPipelineDestroy(RxPipeline **slot);
RwBool RwD3D9Im3DRenderPipelinesCreate(RxPipeline **slots);
void RwD3D9Im3DRenderPipelinesDestroy(RxPipeline **slots);
