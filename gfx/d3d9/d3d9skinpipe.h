// The skinning pipelines on the device: capability record, node callbacks, instancing, processor and shader draws.
#pragma once

#include "d3d9instance.h"
#include "d3d9vertexshader.h"
#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwResourceEntry;
struct RxPipeline;

// What the device offers the skinning pipelines, filled when the plain
// pipeline is made. Tests may change it to force a path.
struct RwD3D9SkinCaps {
    RwBool hardwareTransform;
    RwBool vertexShaderSkinning;
    RwUInt32 maxConstants;
    RwUInt32 maxBones;              // (constants - 12) / 3
    RwUInt32 declTypes;             // declaration-type caps the layouts choose from
};

RwD3D9SkinCaps *RwD3D9SkinGetCaps(void);
// Fills the record from a device capability record.
void RwD3D9SkinCapsFromDevice(RwD3D9SkinCaps *caps, const D3DCAPS9 *d3dCaps);

// The node's callback table, in this order.
typedef void (*RwD3D9SkinRenderFn)(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags);
typedef void (*RwD3D9SkinLightingFn)(void *object);
typedef void (*RwD3D9SkinDescriptorFn)(const RwAtomic *atomic, RwUInt8 type,
                                             RwD3D9VertexShaderDescriptor *descriptor);
typedef RwReal *(*RwD3D9SkinGatherFn)(void *object, RwUInt32 type, RwReal *buffer,
                                            RwD3D9VertexShaderDescriptor *descriptor);
typedef void *(*RwD3D9SkinLookupFn)(void *unused, const RwD3D9VertexShaderDescriptor *descriptor,
                                          RwD3D9VertexShaderRegisters *registers);
typedef void (*RwD3D9SkinMeshDrawFn)(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh,
                                           const RwD3D9VertexShaderDescriptor *descriptor,
                                           const RwD3D9VertexShaderRegisters *registers);
typedef void (*RwD3D9SkinEndFn)(...);

struct RwD3D9SkinNodeCallbacks {
    RwD3D9SkinRenderFn render;
    RwD3D9SkinLightingFn lighting;
    RwD3D9SkinDescriptorFn descriptor;
    RwD3D9SkinGatherFn gatherLights;
    RwD3D9SkinLookupFn lookupShader;
    RwD3D9SkinMeshDrawFn meshDraw;
    RwD3D9SkinEndFn end;
};

// The form with the descriptor and registers, served by the two-argument one.
void RwD3D9RenderMeshWithVertexShader(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh,
                                      const RwD3D9VertexShaderDescriptor *descriptor,
                                      const RwD3D9VertexShaderRegisters *registers);
void RwD3D9SkinDescriptorCallback(const RwAtomic *atomic, RwUInt8 type, RwD3D9VertexShaderDescriptor *descriptor);

// Vertex layouts of an instance.
enum RwD3D9SkinLayout : RwUInt32 {
    rwD3D9SKINLAYOUTNONE = 0,
    rwD3D9SKINLAYOUTPROCESSOR = 1,  // skinned in place in the instance's own buffer
    rwD3D9SKINLAYOUTDYNAMIC = 2,    // skinned into the rotating dynamic buffers
    rwD3D9SKINLAYOUTSHADER = 3,     // weights and indices for the vertex shader
};

// The layout an atomic's last render used (for tests and diagnostics).
RwD3D9SkinLayout RwD3D9SkinAtomicGetLayout(const RwAtomic *atomic);
// The declaration elements of a layout for a geometry's format (tangents: the
// geometry asks for a tangent element) and a skin's maximum weights under the
// caps; returns the element count before the end element.
RwUInt32 RwD3D9SkinBuildDeclaration(D3DVERTEXELEMENT9 *elements, RwD3D9SkinLayout layout, RwUInt32 geometryFlags,
                                    RwBool tangents, RwUInt32 numTexCoordSets, const RwUInt32 *texCoordTypes,
                                    RwUInt32 maxWeights, const RwD3D9SkinCaps *caps, RwUInt32 *stride);
