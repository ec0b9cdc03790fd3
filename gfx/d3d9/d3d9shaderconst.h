// Vertex-shader constants: world-view-projection matrices, lights in object space, material colour and fog.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

struct RwMatrix;
struct RwLight;
struct RwD3D9VertexShaderDescriptor;
struct RwD3D9VertexShaderRegisters;

enum : RwUInt32 {
    rwD3D9VSMAXLIGHTSPERKIND = 15,
    rwD3D9VSFIRSTLIGHTREGISTER = 4,
    // Ambient, then the most lights of every kind with their group registers.
    rwD3D9VSMAXLIGHTREGISTERS = 1 + 2 * 15 + (2 * 15 + 4) + (4 * 15 + 4),
};

// The world matrix of the next constants (NULL: none); derived inverses are
// computed again only when it changes.
void RwD3D9SetVertexShaderWorldMatrix(const RwMatrix *matrix);
// Each camera update forgets the view-projection product.
void RwD3D9VertexShaderNewCamera(void);

void RwD3D9GetWorldViewProjTransposed(D3DMATRIX *out);
void RwD3D9GetWorldViewTransposed(D3DMATRIX *out);
void RwD3D9GetProjectionTransposed(D3DMATRIX *out);
void RwD3D9GetInverseWorldMatrix(D3DMATRIX *out);

// World-space light values in the object's own space.
void RwD3D9ObjectSpaceDirection(RwV3d *out, const RwV3d *direction);
void RwD3D9ObjectSpacePoint(RwV3d *out, const RwV3d *point);
RwReal RwD3D9ObjectSpaceRadius(RwReal radius);

// Writes the light registers for the lights that reach an object (ambient
// lights add to the ambient register; lights of each other kind are kept in
// the order given, at most 15 of a kind) and puts their counts into the
// descriptor. Returns the end of what was written, 4 reals per register.
RwReal *RwD3D9WriteVertexShaderLights(RwReal *buffer, RwD3D9VertexShaderDescriptor *descriptor, RwBool prelit,
                                      const RwLight *const *lights, RwUInt32 numLights);
// The same for the lights of the current world that reach an atomic (object
// type 1) or a world sector (any other type); only the ambient register when
// the object is not lit or no world is current.
RwReal *RwD3D9GatherVertexShaderLights(void *object, RwUInt32 objectType, RwReal *buffer,
                                       RwD3D9VertexShaderDescriptor *descriptor);
// Scales ambient and light colours and uploads the buffer from register 4.
RwBool RwD3D9SetVertexShaderLightConstants(const RwReal *buffer, const RwD3D9VertexShaderDescriptor *descriptor,
                                           RwReal ambientFactor, RwReal diffuseFactor);
RwBool RwD3D9SetVertexShaderMaterialColor(const RwRGBA *colour, const RwD3D9VertexShaderRegisters *registers);
// FALSE when the camera's fog range is empty (it would divide by zero).
RwBool RwD3D9SetVertexShaderFogConstants(const RwD3D9VertexShaderDescriptor *descriptor,
                                         const RwD3D9VertexShaderRegisters *registers);
