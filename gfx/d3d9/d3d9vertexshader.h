// Generated vertex shaders: descriptors, assembly text, the shader cache and drawing with a shader.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwD3D9InstanceHeader;
struct RwD3D9InstanceMesh;

// What a shader does, compared as one little-endian 32-bit key.
struct RwD3D9VertexShaderDescriptor {
    RwUInt8 lights;         // bits 0-3 directional lights, 4-7 point lights
    RwUInt8 spotsAndSets;   // bits 0-3 spot lights, 4-7 texture-coordinate sets
    RwUInt8 flags;          // rwD3D9VS* bits; bits 1-3 the number of bone weights
    RwUInt8 fogAndEffect;   // bits 0-1 fog mode, 2-7 texture-coordinate effect
};
static_assert(sizeof(RwD3D9VertexShaderDescriptor) == 4, "descriptor is one 32-bit key");

enum : RwUInt8 {
    rwD3D9VSMORPH = 0x01,
    rwD3D9VSWEIGHTSMASK = 0x0E,
    rwD3D9VSPRELIT = 0x10,
    rwD3D9VSNORMALS = 0x20,
    rwD3D9VSNORMALIZE = 0x40,
    rwD3D9VSMODULATE = 0x80,
};

// Constant registers of a shader's inputs; 0xFF where unused.
struct RwD3D9VertexShaderRegisters {
    RwUInt8 materialColor;
    RwUInt8 fog;
    RwUInt8 effect;
    RwUInt8 morph;
    RwUInt8 bones;
    RwUInt8 unused[3];
};
static_assert(sizeof(RwD3D9VertexShaderRegisters) == 8, "register information is 8 bytes");

enum : RwUInt32 {
    rwD3D9VSCACHESIZE = 256,
    rwD3D9VSUNUSED = 0xFF,
};

RwUInt32 RwD3D9VertexShaderDescriptorKey(const RwD3D9VertexShaderDescriptor *descriptor);

// Limits from the device's caps; the vertex-shader level also trims the
// declaration-type caps a vs_1_1 device cannot read in shaders.
void RwD3D9VertexShaderCacheInit(void);
void RwD3D9VertexShaderCacheTerm(void);
// 10, 20 or 25 when shaders can be made, else 0.
RwInt32 RwD3D9VertexShaderGetLevel(void);

// Registers a descriptor needs before the bones.
RwUInt32 RwD3D9VertexShaderGetNumConstants(const RwD3D9VertexShaderDescriptor *descriptor);

// The assembly text for a descriptor, or FALSE when the device's limits do
// not allow it; the text stays valid until the next call.
RwBool RwD3D9VertexShaderGenerateText(const RwD3D9VertexShaderDescriptor *descriptor, const RwChar **text,
                                      RwD3D9VertexShaderRegisters *registers);
// A new shader for the descriptor (only the cache calls it), or NULL.
void *RwD3D9GenerateVertexShader(const RwD3D9VertexShaderDescriptor *descriptor,
                                 RwD3D9VertexShaderRegisters *registers);
// The cached or newly made shader for the descriptor; NULL when none can be made.
void *RwD3D9GetVertexShaderForDescriptor(void *unused, const RwD3D9VertexShaderDescriptor *descriptor,
                                         RwD3D9VertexShaderRegisters *registers);
// Entries in the cache (for tests and diagnostics).
RwUInt32 RwD3D9VertexShaderCacheGetCount(void);
RwUInt32 RwD3D9VertexShaderCacheGetKey(RwUInt32 index);

void RwD3D9RenderMeshWithVertexShader(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh);
