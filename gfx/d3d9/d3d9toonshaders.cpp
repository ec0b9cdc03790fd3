// Toon shaders: the four paint pixel shaders and the two ink-extruding vertex shaders, as tokens and as their text.
#include "d3d9toonshaders.h"

// Paint: n = normalize(t0); u = saturate(n . c0); paint at (u, n.y); times base (t1) and colour c1 as named.
// Ink: p = object-to-camera (c4..c6) position; m = its normal, x and y; w = (p.z a + b) p.z [f];
// p.xy += m w / |m| when |m|^2 > 0.000001; projected by c0..c3.

static const RwUInt32 paintATokens[] = {
    0xFFFF0200, 0x0200001F, 0x80000000, 0xB0070000, 0x0200001F, 0x80000000, 0xB0030001, 0x0200001F,
    0x90000000, 0xA00F0800, 0x0200001F, 0x90000000, 0xA00F0801, 0x05000051, 0xA00F0003, 0x00000000,
    0x00000000, 0x00000000, 0x3F800000, 0x02000024, 0x80070000, 0xB0E40000, 0x02000001, 0x800F0001,
    0xA0E40003, 0x03000008, 0x80110001, 0x80E40000, 0xA0E40000, 0x02000001, 0x80020001, 0x80550000,
    0x03000042, 0x800F0002, 0x80E40001, 0xA0E40800, 0x03000042, 0x800F0003, 0xB0E40001, 0xA0E40801,
    0x03000005, 0x800F0002, 0x80E40002, 0x80E40003, 0x03000005, 0x800F0002, 0x80E40002, 0xA0E40001,
    0x02000001, 0x800F0800, 0x80E40002, 0x0000FFFF
};

static const RwUInt32 paintBTokens[] = {
    0xFFFF0200, 0x0200001F, 0x80000000, 0xB0070000, 0x0200001F, 0x90000000, 0xA00F0800, 0x05000051,
    0xA00F0003, 0x00000000, 0x00000000, 0x00000000, 0x3F800000, 0x02000024, 0x80070000, 0xB0E40000,
    0x02000001, 0x800F0001, 0xA0E40003, 0x03000008, 0x80110001, 0x80E40000, 0xA0E40000, 0x02000001,
    0x80020001, 0x80550000, 0x03000042, 0x800F0002, 0x80E40001, 0xA0E40800, 0x03000005, 0x800F0002,
    0x80E40002, 0xA0E40001, 0x02000001, 0x800F0800, 0x80E40002, 0x0000FFFF
};

static const RwUInt32 paintCTokens[] = {
    0xFFFF0200, 0x0200001F, 0x80000000, 0xB0070000, 0x0200001F, 0x80000000, 0xB0030001, 0x0200001F,
    0x90000000, 0xA00F0800, 0x0200001F, 0x90000000, 0xA00F0801, 0x05000051, 0xA00F0003, 0x00000000,
    0x00000000, 0x00000000, 0x3F800000, 0x02000024, 0x80070000, 0xB0E40000, 0x02000001, 0x800F0001,
    0xA0E40003, 0x03000008, 0x80110001, 0x80E40000, 0xA0E40000, 0x02000001, 0x80020001, 0x80550000,
    0x03000042, 0x800F0002, 0x80E40001, 0xA0E40800, 0x03000042, 0x800F0003, 0xB0E40001, 0xA0E40801,
    0x03000005, 0x800F0002, 0x80E40002, 0x80E40003, 0x02000001, 0x800F0800, 0x80E40002, 0x0000FFFF
};

static const RwUInt32 paintDTokens[] = {
    0xFFFF0200, 0x0200001F, 0x80000000, 0xB0070000, 0x0200001F, 0x90000000, 0xA00F0800, 0x05000051,
    0xA00F0003, 0x00000000, 0x00000000, 0x00000000, 0x3F800000, 0x02000024, 0x80070000, 0xB0E40000,
    0x02000001, 0x800F0001, 0xA0E40003, 0x03000008, 0x80110001, 0x80E40000, 0xA0E40000, 0x02000001,
    0x80020001, 0x80550000, 0x03000042, 0x800F0002, 0x80E40001, 0xA0E40800, 0x02000001, 0x800F0800,
    0x80E40002, 0x0000FFFF
};

static const RwUInt32 inkEdgeTokens[] = {
    0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x0000001F, 0x80000003, 0x900F0001, 0x0000001F,
    0x8000000A, 0x900F0002, 0x0000001F, 0x80000005, 0x900F0003, 0x00000051, 0xA00F0008, 0x358637BD,
    0x00000000, 0x00000000, 0x00000000, 0x00000009, 0x80010000, 0x90E40000, 0xA0E40004, 0x00000009,
    0x80020000, 0x90E40000, 0xA0E40005, 0x00000009, 0x80040000, 0x90E40000, 0xA0E40006, 0x00000001,
    0x80080000, 0x90FF0000, 0x00000008, 0x80010001, 0x90E40001, 0xA0E40004, 0x00000008, 0x80020001,
    0x90E40001, 0xA0E40005, 0x00000005, 0x80030003, 0x80540001, 0x80540001, 0x00000002, 0x80010003,
    0x80000003, 0x80550003, 0x0000000C, 0x80010004, 0xA0000008, 0x80000003, 0x0000000B, 0x80010003,
    0x80000003, 0xA0000008, 0x00000007, 0x80010003, 0x80000003, 0x00000004, 0x80010002, 0x80AA0000,
    0x90000003, 0x90550003, 0x00000005, 0x80010002, 0x80000002, 0x80AA0000, 0x00000005, 0x80010002,
    0x80000002, 0x80000003, 0x00000005, 0x80010002, 0x80000002, 0x80000004, 0x00000004, 0x80030000,
    0x80540001, 0x80000002, 0x80540000, 0x00000014, 0xC00F0000, 0x80E40000, 0xA0E40000, 0x00000001,
    0xD00F0000, 0x90E40002, 0x0000FFFF
};

static const RwUInt32 inkOneTokens[] = {
    0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x0000001F, 0x80000003, 0x900F0001, 0x0000001F,
    0x80000005, 0x900F0002, 0x00000051, 0xA00F0008, 0x358637BD, 0x00000000, 0x00000000, 0x00000000,
    0x00000009, 0x80010000, 0x90E40000, 0xA0E40004, 0x00000009, 0x80020000, 0x90E40000, 0xA0E40005,
    0x00000009, 0x80040000, 0x90E40000, 0xA0E40006, 0x00000001, 0x80080000, 0x90FF0000, 0x00000008,
    0x80010001, 0x90E40001, 0xA0E40004, 0x00000008, 0x80020001, 0x90E40001, 0xA0E40005, 0x00000005,
    0x80030003, 0x80540001, 0x80540001, 0x00000002, 0x80010003, 0x80000003, 0x80550003, 0x0000000C,
    0x80010004, 0xA0000008, 0x80000003, 0x0000000B, 0x80010003, 0x80000003, 0xA0000008, 0x00000007,
    0x80010003, 0x80000003, 0x00000004, 0x80010002, 0x80AA0000, 0xA0000007, 0xA0550007, 0x00000005,
    0x80010002, 0x80000002, 0x80AA0000, 0x00000005, 0x80010002, 0x80000002, 0x90000002, 0x00000005,
    0x80010002, 0x80000002, 0x80000003, 0x00000005, 0x80010002, 0x80000002, 0x80000004, 0x00000004,
    0x80030000, 0x80540001, 0x80000002, 0x80540000, 0x00000014, 0xC00F0000, 0x80E40000, 0xA0E40000,
    0x0000FFFF
};

const RwUInt32 *const rwToonPaintShaderTokens[4] = {paintATokens, paintBTokens, paintCTokens, paintDTokens};
const RwUInt32 *const rwToonInkShaderTokens[2] = {inkEdgeTokens, inkOneTokens};

const RwChar *const rwToonShaderText[6] = {
    "ps_2_0\n"
    "dcl t0.xyz\n"
    "dcl t1.xy\n"
    "dcl_2d s0\n"
    "dcl_2d s1\n"
    "def c3, 0, 0, 0, 1\n"
    "nrm r0.xyz, t0\n"
    "mov r1, c3\n"
    "dp3_sat r1.x, r0, c0\n"
    "mov r1.y, r0.y\n"
    "texld r2, r1, s0\n"
    "texld r3, t1, s1\n"
    "mul r2, r2, r3\n"
    "mul r2, r2, c1\n"
    "mov oC0, r2\n",
    "ps_2_0\n"
    "dcl t0.xyz\n"
    "dcl_2d s0\n"
    "def c3, 0, 0, 0, 1\n"
    "nrm r0.xyz, t0\n"
    "mov r1, c3\n"
    "dp3_sat r1.x, r0, c0\n"
    "mov r1.y, r0.y\n"
    "texld r2, r1, s0\n"
    "mul r2, r2, c1\n"
    "mov oC0, r2\n",
    "ps_2_0\n"
    "dcl t0.xyz\n"
    "dcl t1.xy\n"
    "dcl_2d s0\n"
    "dcl_2d s1\n"
    "def c3, 0, 0, 0, 1\n"
    "nrm r0.xyz, t0\n"
    "mov r1, c3\n"
    "dp3_sat r1.x, r0, c0\n"
    "mov r1.y, r0.y\n"
    "texld r2, r1, s0\n"
    "texld r3, t1, s1\n"
    "mul r2, r2, r3\n"
    "mov oC0, r2\n",
    "ps_2_0\n"
    "dcl t0.xyz\n"
    "dcl_2d s0\n"
    "def c3, 0, 0, 0, 1\n"
    "nrm r0.xyz, t0\n"
    "mov r1, c3\n"
    "dp3_sat r1.x, r0, c0\n"
    "mov r1.y, r0.y\n"
    "texld r2, r1, s0\n"
    "mov oC0, r2\n",
    "vs_1_1\n"
    "def c8, 0.000001, 0, 0, 0\n"
    "dcl_position v0\n"
    "dcl_normal v1\n"
    "dcl_color v2\n"
    "dcl_texcoord v3\n"
    "dp4 r0.x, v0, c4\n"
    "dp4 r0.y, v0, c5\n"
    "dp4 r0.z, v0, c6\n"
    "mov r0.w, v0.w\n"
    "dp3 r1.x, v1, c4\n"
    "dp3 r1.y, v1, c5\n"
    "mul r3.xy, r1.xy, r1.xy\n"
    "add r3.x, r3.x, r3.y\n"
    "slt r4.x, c8.x, r3.x\n"
    "max r3.x, r3.x, c8.x\n"
    "rsq r3.x, r3.x\n"
    "mad r2.x, r0.z, v3.x, v3.y\n"
    "mul r2.x, r2.x, r0.z\n"
    "mul r2.x, r2.x, r3.x\n"
    "mul r2.x, r2.x, r4.x\n"
    "mad r0.xy, r1.xy, r2.x, r0.xy\n"
    "m4x4 oPos, r0, c0\n"
    "mov oD0, v2\n",
    "vs_1_1\n"
    "def c8, 0.000001, 0, 0, 0\n"
    "dcl_position v0\n"
    "dcl_normal v1\n"
    "dcl_texcoord v2\n"
    "dp4 r0.x, v0, c4\n"
    "dp4 r0.y, v0, c5\n"
    "dp4 r0.z, v0, c6\n"
    "mov r0.w, v0.w\n"
    "dp3 r1.x, v1, c4\n"
    "dp3 r1.y, v1, c5\n"
    "mul r3.xy, r1.xy, r1.xy\n"
    "add r3.x, r3.x, r3.y\n"
    "slt r4.x, c8.x, r3.x\n"
    "max r3.x, r3.x, c8.x\n"
    "rsq r3.x, r3.x\n"
    "mad r2.x, r0.z, c7.x, c7.y\n"
    "mul r2.x, r2.x, r0.z\n"
    "mul r2.x, r2.x, v2.x\n"
    "mul r2.x, r2.x, r3.x\n"
    "mul r2.x, r2.x, r4.x\n"
    "mad r0.xy, r1.xy, r2.x, r0.xy\n"
    "m4x4 oPos, r0, c0\n",
};
