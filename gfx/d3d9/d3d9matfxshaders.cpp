// Material effects on the device: the six ps_1_1 pixel shaders, as assembly and as the tokens it assembles to.
#include "d3d9matfx.h"

// Shader 1, bump map: t0 (1 - t0.a) D + t1 t1.a D.
static const DWORD shader1[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000042, 0xB00F0001, 0x00000005,
    0x800F0001, 0xB0E40001, 0xB0FF0001, 0x00000004, 0x800F0000, 0xB0E40000,
    0xB6FF0000, 0x80E40001, 0x00000005, 0x800F0000, 0x80E40000, 0x90E40000,
    0x0000FFFF,
};

// Shader 2, environment map over a base texture: colour t0 D + t1 t1.a c0, alpha t0.a D.a.
static const DWORD shader2[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000042, 0xB00F0001, 0x00000005,
    0x800F0001, 0xB0E40001, 0xB0FF0001, 0x00000005, 0x800F0001, 0x80E40001,
    0xA0E40000, 0x00000005, 0x800F0000, 0xB0E40000, 0x90E40000, 0x00000002,
    0x80070000, 0x80E40000, 0x80E40001, 0x0000FFFF,
};

// Shader 3, environment map alone: colour D + t0 t0.a c0, alpha D.a.
static const DWORD shader3[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000005, 0x800F0001, 0xB0E40000,
    0xB0FF0000, 0x00000005, 0x800F0001, 0x80E40001, 0xA0E40000, 0x00000001,
    0x800F0000, 0x90E40000, 0x00000002, 0x80070000, 0x80E40000, 0x80E40001,
    0x0000FFFF,
};

// Shader 4, bump map, then + t2 t2.a c0.
static const DWORD shader4[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000042, 0xB00F0001, 0x00000042,
    0xB00F0002, 0x00000005, 0x800F0001, 0xB0E40001, 0xB0FF0001, 0x00000004,
    0x800F0000, 0xB0E40000, 0xB6FF0000, 0x80E40001, 0x00000005, 0x800F0000,
    0x80E40000, 0x90E40000, 0x00000005, 0x800F0001, 0xB0E40002, 0xB0FF0002,
    0x00000004, 0x800F0000, 0x80E40001, 0xA0E40000, 0x80E40000, 0x0000FFFF,
};

// Shader 5, bump map with alpha A = (t0.a + t1.a) D.a, then + t2 t2.a A c0.
static const DWORD shader5[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000042, 0xB00F0001, 0x00000042,
    0xB00F0002, 0x00000005, 0x800F0001, 0xB0E40001, 0xB0FF0001, 0x00000004,
    0x800F0000, 0xB0E40000, 0xB6FF0000, 0x80E40001, 0x00000005, 0x80070000,
    0x80E40000, 0x90E40000, 0x40000002, 0x80080000, 0xB0FF0000, 0xB0FF0001,
    0x00000005, 0x80080000, 0x80FF0000, 0x90FF0000, 0x00000005, 0x800F0001,
    0xB0E40002, 0xB0FF0002, 0x00000005, 0x800F0001, 0x80E40001, 0x80FF0000,
    0x00000004, 0x80070000, 0x80E40001, 0xA0E40000, 0x80E40000, 0x0000FFFF,
};

// Shader 6, as the previous, for an environment texture without alpha: + t2 A c0.
static const DWORD shader6[] = {
    0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000042, 0xB00F0001, 0x00000042,
    0xB00F0002, 0x00000005, 0x800F0001, 0xB0E40001, 0xB0FF0001, 0x00000004,
    0x800F0000, 0xB0E40000, 0xB6FF0000, 0x80E40001, 0x00000005, 0x80070000,
    0x80E40000, 0x90E40000, 0x40000002, 0x80080000, 0xB0FF0000, 0xB0FF0001,
    0x00000005, 0x80080000, 0x80FF0000, 0x90FF0000, 0x00000005, 0x800F0001,
    0xB0E40002, 0x80FF0000, 0x00000004, 0x80070000, 0x80E40001, 0xA0E40000,
    0x80E40000, 0x0000FFFF,
};

const char *const rwMatFxShaderText[rwMATFXNUMSHADERS] = {
    "ps.1.1\n"
    "tex t0\n"
    "tex t1\n"
    "mul r1, t1, t1.a\n"
    "mad r0, t0, 1-t0.a, r1\n"
    "mul r0, r0, v0\n",
    "ps.1.1\n"
    "tex t0\n"
    "tex t1\n"
    "mul r1, t1, t1.a\n"
    "mul r1, r1, c0\n"
    "mul r0, t0, v0\n"
    "add r0.rgb, r0, r1\n",
    "ps.1.1\n"
    "tex t0\n"
    "mul r1, t0, t0.a\n"
    "mul r1, r1, c0\n"
    "mov r0, v0\n"
    "add r0.rgb, r0, r1\n",
    "ps.1.1\n"
    "tex t0\n"
    "tex t1\n"
    "tex t2\n"
    "mul r1, t1, t1.a\n"
    "mad r0, t0, 1-t0.a, r1\n"
    "mul r0, r0, v0\n"
    "mul r1, t2, t2.a\n"
    "mad r0, r1, c0, r0\n",
    "ps.1.1\n"
    "tex t0\n"
    "tex t1\n"
    "tex t2\n"
    "mul r1, t1, t1.a\n"
    "mad r0, t0, 1-t0.a, r1\n"
    "mul r0.rgb, r0, v0\n"
    "+add r0.a, t0.a, t1.a\n"
    "mul r0.a, r0.a, v0.a\n"
    "mul r1, t2, t2.a\n"
    "mul r1, r1, r0.a\n"
    "mad r0.rgb, r1, c0, r0\n",
    "ps.1.1\n"
    "tex t0\n"
    "tex t1\n"
    "tex t2\n"
    "mul r1, t1, t1.a\n"
    "mad r0, t0, 1-t0.a, r1\n"
    "mul r0.rgb, r0, v0\n"
    "+add r0.a, t0.a, t1.a\n"
    "mul r0.a, r0.a, v0.a\n"
    "mul r1, t2, r0.a\n"
    "mad r0.rgb, r1, c0, r0\n",
};

const DWORD *const rwMatFxShaderTokens[rwMATFXNUMSHADERS] = {shader1, shader2, shader3, shader4, shader5, shader6};
