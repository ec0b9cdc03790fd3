// Generated vertex shaders: descriptors, assembly text, the shader cache and drawing with a shader.
#include "d3d9vertexshader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <d3dx9shader.h>

#include "d3d9device.h"
#include "d3d9im2d.h"
#include "d3d9instance.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/engine.h"
#include "gfx/core/memory.h"
#include "gfx/world/material.h"

enum : RwUInt32 {
    rwD3D9VSTEXTHINT = 0x1050D,
    rwD3D9VSMAXSETS = 8,        // v5-v12: the inputs below the tangent
    rwD3D9VSMAXWEIGHTS = 4,
};

struct ShaderCacheEntry {
    RwUInt32 key;
    RwUInt16 stamp;             // render frame of the last use
    void *shader;
    RwD3D9VertexShaderRegisters registers;
};

struct ShaderLimits {
    RwInt32 level;
    RwUInt32 numConstants;
    RwBool wFog;
};

static ShaderLimits Limits;
static ShaderCacheEntry Cache[rwD3D9VSCACHESIZE];
static RwUInt32 CacheCount;
static ShaderCacheEntry LastFound;      // copy of the entry found last (key 0xFFFFFFFF when none)
static RwInt32 LastFoundIndex = -1;

static const RwUInt8 EffectRegisters[64] = {0, 2, 2, 4, 0, 0, 2, 2, 0, 2, 4, 6};

RwUInt32 RwD3D9VertexShaderDescriptorKey(const RwD3D9VertexShaderDescriptor *d)
{
    return static_cast<RwUInt32>(d->lights) | static_cast<RwUInt32>(d->spotsAndSets) << 8 |
           static_cast<RwUInt32>(d->flags) << 16 | static_cast<RwUInt32>(d->fogAndEffect) << 24;
}

static void ForgetLastFound(void)
{
    std::memset(&LastFound, 0xFF, sizeof LastFound);
    LastFoundIndex = -1;
}

void RwD3D9VertexShaderCacheInit(void)
{
    std::memset(Cache, 0, sizeof Cache);
    CacheCount = 0;
    ForgetLastFound();
    D3DCAPS9 &caps = rwD3D9Driver.caps;
    const RwUInt32 version = caps.VertexShaderVersion & 0xFFFF;
    Limits.level = 0;
    if (version >= 0x300)
        Limits.level = 25;
    else if (version >= 0x200)
        Limits.level = caps.VS20Caps.DynamicFlowControlDepth >= 1 ? 25 : 20;
    else if (version >= 0x100) {
        Limits.level = 10;
        caps.DeclTypes &= ~static_cast<DWORD>(D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N |
                                              D3DDTCAPS_USHORT2N | D3DDTCAPS_USHORT4N);
    } else
        return;
    Limits.numConstants = caps.MaxVertexShaderConst < 256 ? caps.MaxVertexShaderConst : 256;
    Limits.wFog = (caps.RasterCaps & D3DPRASTERCAPS_WFOG) != 0;
}

static void FreeText(void);

void RwD3D9VertexShaderCacheTerm(void)
{
    FreeText();
    for (RwUInt32 i = 0; i < CacheCount; i++)
        RwD3D9DeleteShader(Cache[i].shader);
    std::memset(Cache, 0, sizeof Cache);
    CacheCount = 0;
    ForgetLastFound();
}

RwInt32 RwD3D9VertexShaderGetLevel(void)
{
    return Limits.level;
}

// The descriptor's fields, unpacked once.
struct ShaderFeatures {
    RwUInt32 dirs, points, spots, lights, sets, weights, fog, effect;
    bool morph, prelit, normals, normalize, modulate, litNormal, tangent;
};

static ShaderFeatures Unpack(const RwD3D9VertexShaderDescriptor *d)
{
    ShaderFeatures f;
    f.dirs = d->lights & 0xF;
    f.points = d->lights >> 4;
    f.spots = d->spotsAndSets & 0xF;
    f.sets = d->spotsAndSets >> 4;
    f.lights = f.dirs + f.points + f.spots;
    f.morph = (d->flags & rwD3D9VSMORPH) != 0;
    f.weights = (d->flags & rwD3D9VSWEIGHTSMASK) >> 1;
    f.prelit = (d->flags & rwD3D9VSPRELIT) != 0;
    f.normals = (d->flags & rwD3D9VSNORMALS) != 0;
    f.normalize = (d->flags & rwD3D9VSNORMALIZE) != 0;
    f.modulate = (d->flags & rwD3D9VSMODULATE) != 0;
    f.fog = d->fogAndEffect & 3;
    f.effect = d->fogAndEffect >> 2;
    const bool effectNormal = f.effect == 1 || f.effect == 2 || f.effect == 3 || (f.effect >= 8 && f.effect <= 11);
    f.litNormal = f.normals && (f.lights > 0 || effectNormal);
    f.tangent = f.litNormal && (f.effect == 8 || f.effect == 9);
    return f;
}

static RwUInt32 Groups(RwUInt32 n)
{
    return (n + 3) / 4;
}

RwUInt32 RwD3D9VertexShaderGetNumConstants(const RwD3D9VertexShaderDescriptor *descriptor)
{
    const ShaderFeatures f = Unpack(descriptor);
    RwUInt32 n = 5 + 2 * f.dirs + 2 * f.points + Groups(f.points) + 4 * f.spots + Groups(f.spots);
    n += f.modulate ? 1 : 0;
    n += f.fog ? 1 : 0;
    n += f.effect ? EffectRegisters[f.effect] : 0;
    n += f.morph ? 1 : 0;
    return n;
}

// ---------------------------------------------------------------------------
// Text: a buffer that grows as fragments are added, so no limit cuts a shader short.

struct ShaderText {
    RwChar *text;
    RwUInt32 length;
    RwUInt32 capacity;
    RwBool failed;
};

static ShaderText Text;

static void FreeText(void)
{
    if (Text.text)
        RwFree(Text.text);
    std::memset(&Text, 0, sizeof Text);
}

static void Emit(const RwChar *format, ...)
{
    if (Text.failed)
        return;
    va_list args;
    va_start(args, format);
    RwChar line[128];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof line)) {
        Text.failed = TRUE;
        return;
    }
    if (Text.length + n + 1 > Text.capacity) {
        const RwUInt32 capacity = Text.capacity ? Text.capacity * 2 : 4096;
        void *grown = Text.text ? RwRealloc(Text.text, capacity, rwD3D9VSTEXTHINT) : RwMalloc(capacity, rwD3D9VSTEXTHINT);
        if (!grown) {
            Text.failed = TRUE;
            return;
        }
        Text.text = static_cast<RwChar *>(grown);
        Text.capacity = capacity;
    }
    std::memcpy(Text.text + Text.length, line, static_cast<size_t>(n) + 1);
    Text.length += static_cast<RwUInt32>(n);
}

// Register numbers of a shader, as its layout places them.
struct ShaderLayout {
    RwUInt32 firstPoint;    // radius register of the first point group
    RwUInt32 firstSpot;
    RwUInt32 material, fog, morph, bones, effect;
};

static const char Components[] = "xyzw";
static const char *const Repeated[] = {"xxx", "yyy", "zzz", "www"};
static const char *const Masks[] = {"", "x", "xy", "xyz", "xyzw"};

static bool Allowed(const ShaderFeatures &f)
{
    if (Limits.level != 10 && Limits.level != 20 && Limits.level != 25)
        return false;
    if (static_cast<RwInt32>(f.lights) > Limits.level || f.sets > rwD3D9VSMAXSETS || f.weights > rwD3D9VSMAXWEIGHTS)
        return false;
    // Effects read inputs that must be there.
    const RwUInt32 e = f.effect;
    if ((e == 1 || e == 2 || e == 3 || e == 10 || e == 11) && !f.normals)
        return false;
    if ((e == 1 || e == 3 || e == 5 || e == 6 || e == 11) && f.sets < 1)
        return false;
    if ((e == 4 || e == 7) && f.sets < 2)
        return false;
    if (f.tangent && f.sets < 1)
        return false;
    return true;
}

static ShaderLayout Layout(const ShaderFeatures &f, RwD3D9VertexShaderRegisters *out)
{
    ShaderLayout l;
    RwUInt32 r = 5 + 2 * f.dirs;
    l.firstPoint = r;
    r += 2 * f.points + Groups(f.points);
    l.firstSpot = r;
    r += 4 * f.spots + Groups(f.spots);
    l.material = f.modulate ? r++ : rwD3D9VSUNUSED;
    l.fog = f.fog && !Limits.wFog ? r++ : rwD3D9VSUNUSED;
    l.morph = f.morph ? r++ : rwD3D9VSUNUSED;
    const RwUInt32 effectCount = f.effect ? EffectRegisters[f.effect] : 0;
    l.bones = f.weights ? r : rwD3D9VSUNUSED;
    l.effect = rwD3D9VSUNUSED;
    if (effectCount)
        l.effect = f.weights ? Limits.numConstants - effectCount : r;
    std::memset(out, rwD3D9VSUNUSED, sizeof *out);
    out->materialColor = static_cast<RwUInt8>(l.material);
    out->fog = static_cast<RwUInt8>(l.fog);
    out->effect = static_cast<RwUInt8>(l.effect);
    out->morph = static_cast<RwUInt8>(l.morph);
    out->bones = static_cast<RwUInt8>(l.bones);
    return l;
}

// Registers the shader reads, bones needing at least one matrix.
static bool FitsRegisters(const ShaderFeatures &f, const RwD3D9VertexShaderDescriptor *d)
{
    RwUInt32 needed = RwD3D9VertexShaderGetNumConstants(d);
    if (f.fog && Limits.wFog)
        needed--;
    if (f.weights)
        needed += 3;
    return needed <= Limits.numConstants;
}

static void EmitDeclarations(const ShaderFeatures &f)
{
    Emit("dcl_position0 v0\n");
    if (f.weights) {
        if (f.weights > 1)
            Emit("dcl_blendweight0 v1\n");
        Emit("dcl_blendindices0 v2\n");
    }
    if (f.prelit)
        Emit("dcl_color0 v4\n");
    if (f.litNormal)
        Emit("dcl_normal0 v3\n");
    if (f.tangent)
        Emit("dcl_tangent0 v13\n");
    switch (f.effect) {
    case 1:
    case 2:
    case 3:
    case 5:
    case 6:
    case 10:
    case 11:
        if (f.sets >= 1)
            Emit("dcl_texcoord0 v5\n");
        break;
    case 4:
    case 7:
        if (f.sets >= 2)
            Emit("dcl_texcoord1 v6\n");
        break;
    default:
        for (RwUInt32 i = 0; i < f.sets; i++)
            Emit("dcl_texcoord%u v%u\n", i, i + 5);
        break;
    }
    if (f.morph) {
        Emit("dcl_position1 v14\n");
        if (f.litNormal)
            Emit("dcl_normal1 v15\n");
    }
}

// Position and normal into clip space and registers; P and N name the sources afterwards.
static void EmitPosition(const ShaderFeatures &f, const ShaderLayout &l, const char **P, const char **N)
{
    *P = "v0";
    *N = "v3";
    if (!f.morph && !f.weights) {
        Emit("m4x4 oPos.xyzw, v0, c[0]\n");
        return;
    }
    const int m = static_cast<int>(l.morph);
    const int b = static_cast<int>(l.bones);
    if (f.morph && !f.weights) {
        Emit("mul r3, v0, c[%d].x\n", m);
        Emit("mad r3, v14, c[%d].y, r3\n", m);
        if (f.litNormal) {
            Emit("mul r5, v3, c[%d].x\n", m);
            Emit("mad r5, v15, c[%d].y, r5\n", m);
        }
    } else if (f.morph) {
        Emit("mul r2, v0, c[%d].x\n", m);
        Emit("mad r2, v14, c[%d].y, r2\n", m);
        *P = "r2";
        if (f.litNormal) {
            Emit("mul r4, v3, c[%d].x\n", m);
            Emit("mad r4, v15, c[%d].y, r4\n", m);
            *N = "r4";
        }
    }
    if (f.weights == 1) {
        Emit(Limits.level == 10 ? "mov a0.x, v2.x\n" : "mova a0.x, v2.x\n");
        Emit("m4x3 r3.xyz, %s, c[a0.x + %d]\n", *P, b);
        if (f.litNormal)
            Emit("m3x3 r5.xyz, %s, c[a0.x + %d]\n", *N, b);
    } else if (f.weights > 1) {
        const RwUInt32 k = f.weights;
        if (Limits.level != 10)
            Emit("mova a0.%s, v2\n", Masks[k]);
        for (RwUInt32 j = 0; j < k; j++) {
            const char c = Components[j];
            // One address component on vs_1_1: it is reloaded per weight.
            const char a = Limits.level == 10 ? 'x' : c;
            if (Limits.level == 10)
                Emit("mov a0.x, v2.%c\n", c);
            if (f.litNormal) {
                for (int row = 0; row < 3; row++) {
                    if (j == 0)
                        Emit("mul r%d, v1.%c, c[a0.%c + %d]\n", 8 + row, c, a, b + row);
                    else
                        Emit("mad r%d, v1.%c, c[a0.%c + %d], r%d\n", 8 + row, c, a, b + row, 8 + row);
                }
            } else {
                Emit("m4x3 r5.xyz, %s, c[a0.%c + %d]\n", *P, a, b);
                if (j == 0)
                    Emit("mul r3.xyz, v1.%c, r5.xyz\n", c);
                else
                    Emit("mad r3.xyz, v1.%c, r5.xyz, r3.xyz\n", c);
            }
        }
        if (f.litNormal) {
            Emit("m4x3 r3.xyz, %s, r8\n", *P);
            Emit("m3x3 r5.xyz, %s, r8\n", *N);
        }
    }
    *P = "r3";
    if (f.litNormal)
        *N = "r5";
    Emit("mov r3.w, v0.w\n");
    Emit("m4x4 oPos.xyzw, r3, c[0]\n");
}

static void EmitFog(const ShaderFeatures &f, const ShaderLayout &l, const char *P)
{
    if (!f.fog)
        return;
    if (Limits.wFog) {
        Emit("dp4 oFog, %s, c[3]\n", P);
        return;
    }
    const int r = static_cast<int>(l.fog);
    Emit("dp4 r0.w, %s, c[3]\n", P);
    if (f.fog == 1) {
        Emit("mad oFog, r0.w, c[%d].x, c[%d].y\n", r, r);
        return;
    }
    Emit("mul r0.w, r0.w, c[%d].x\n", r);
    if (f.fog == 3)
        Emit("mul r0.w, r0.w, r0.w\n");
    Emit("expp r0.w, r0.w\n");
    Emit("rcp oFog, r0.w\n");
}

// One light's contribution; the last light of all writes the output when
// no material colour follows.
static void EmitContribution(int colour, RwUInt32 component, bool last)
{
    if (last)
        Emit("mad oD0, c[%d], r6.%c, r11\n", colour, Components[component]);
    else
        Emit("mad r11.xyz, c[%d].xyz, r6.%s, r11.xyz\n", colour, Repeated[component]);
}

// The vector from a local light at register `position` to the vertex, the
// reciprocal distance into r1.c and the unnormalised cosine into r6.c.
static void EmitToLocalLight(char c, int position, const char *P, const char *N)
{
    Emit("add r7.xyz, -c[%d].xyz, %s.xyz\n", position, P);
    Emit("dp3 r1.%c, r7, r7\n", c);
    Emit("rsq r1.%c, r1.%c\n", c, c);
    Emit("dp3 r6.%c, %s, r7\n", c, N);
}

static void EmitLighting(const ShaderFeatures &f, const ShaderLayout &l, const char *P, const char *N)
{
    const int m = static_cast<int>(l.material);
    if (!f.litNormal || f.lights == 0) {
        if (!f.modulate) {
            Emit(f.prelit ? "add oD0, v4, c[4]\n" : "mov oD0, c[4]\n");
            return;
        }
        Emit(f.prelit ? "add r11, v4, c[4]\n" : "mov r11, c[4]\n");
        Emit("mul oD0, r11, c[%d]\n", m);
        return;
    }
    Emit(f.prelit ? "add r11, v4, c[4]\n" : "mov r11, c[4]\n");
    RwUInt32 done = 0;
    auto isLast = [&]() { return !f.modulate && done + 1 == f.lights; };

    for (RwUInt32 first = 0; first < f.dirs; first += 4) {
        const RwUInt32 n = f.dirs - first < 4 ? f.dirs - first : 4;
        for (RwUInt32 k = 0; k < n; k++)
            Emit("dp3 r6.%c, c[%d], %s\n", Components[k], static_cast<int>(5 + 2 * (first + k)), N);
        Emit("max r6.%s, c[5].w, -r6.%s\n", Masks[n], Masks[n]);
        for (RwUInt32 k = 0; k < n; k++, done++)
            EmitContribution(static_cast<int>(6 + 2 * (first + k)), k, isLast());
    }
    RwUInt32 g = l.firstPoint;
    for (RwUInt32 first = 0; first < f.points; first += 4) {
        const RwUInt32 n = f.points - first < 4 ? f.points - first : 4;
        const char *s = Masks[n];
        const int gi = static_cast<int>(g);
        for (RwUInt32 k = 0; k < n; k++)
            EmitToLocalLight(Components[k], gi + 1 + 2 * static_cast<int>(k), P, N);
        Emit("max r8.%s, c[%d].%s, r1.%s\n", s, gi, s, s);
        Emit("max r6.%s, c[%d].wwww, -r6.%s\n", s, gi + 1, s);
        Emit("add r8.%s, -c[%d].%s, r8.%s\n", s, gi, s, s);
        Emit("mul r6.%s, r6.%s, r8.%s\n", s, s, s);
        for (RwUInt32 k = 0; k < n; k++, done++)
            EmitContribution(gi + 2 + 2 * static_cast<int>(k), k, isLast());
        g += 1 + 2 * n;
    }
    g = l.firstSpot;
    for (RwUInt32 first = 0; first < f.spots; first += 4) {
        const RwUInt32 n = f.spots - first < 4 ? f.spots - first : 4;
        const char *s = Masks[n];
        const int gi = static_cast<int>(g);
        for (RwUInt32 k = 0; k < n; k++) {
            const char c = Components[k];
            const int at = gi + 1 + 4 * static_cast<int>(k);
            EmitToLocalLight(c, at, P, N);
            Emit("mul r7.xyz, r7.xyz, r1.%c\n", c);
            Emit("dp3 r7.w, r7, c[%d]\n", at + 1);
            Emit("mad r9.%c, r7.w, c[%d].x, c[%d].y\n", c, at + 2, at + 2);
        }
        Emit("max r8.%s, c[%d].%s, r1.%s\n", s, gi, s, s);
        Emit("max r9.%s, c[%d].wwww, r9.%s\n", s, gi + 1, s);
        Emit("max r6.%s, c[%d].wwww, -r6.%s\n", s, gi + 1, s);
        Emit("add r8.%s, -c[%d].%s, r8.%s\n", s, gi, s, s);
        Emit("mul r6.%s, r6.%s, r8.%s\n", s, s, s);
        Emit("mul r6.%s, r6.%s, r9.%s\n", s, s, s);
        for (RwUInt32 k = 0; k < n; k++, done++)
            EmitContribution(gi + 4 + 4 * static_cast<int>(k), k, isLast());
        g += 1 + 4 * n;
    }
    if (f.modulate)
        Emit("mul oD0, r11, c[%d]\n", m);
}

// Light vector in tangent space (effects 8 and 9) in place of the lighting.
static void EmitTangentSpace(const ShaderFeatures &f, const ShaderLayout &l, const char *P, const char *N)
{
    const int b = static_cast<int>(l.bones);
    if (!f.weights)
        Emit("mov r4, v13\n");
    else if (f.weights == 1)
        Emit("m3x3 r4.xyz, v13, c[a0.x + %d]\n", b);
    else
        Emit("m3x3 r4.xyz, v13, r8\n");
    if (f.weights && f.normalize) {
        Emit("dp3 r4.w, r4, r4\n");
        Emit("rsq r4.w, r4.w\n");
        Emit("mul r4.xyz, r4, r4.w\n");
    }
    if (f.weights)
        Emit("slt r4.w, v13.w, v13.w\n");
    if (f.morph || f.weights)
        Emit("mov %s.w, v3.w\n", N);
    Emit("mul r2, r4.zxyw, %s.yzxw\n", N);
    Emit("mad r2, r4.yzxw, %s.zxyw, -r2\n", N);
    if (f.normalize) {
        Emit("dp3 r2.w, r2, r2\n");
        Emit("rsq r2.w, r2.w\n");
        Emit("mul r2.xyz, r2, r2.w\n");
    }
    if (f.prelit)
        Emit("mov oD0, v4\n");
    const char *out = f.effect == 8 ? "oT2" : (f.prelit ? "oD1" : "oD0");
    if (f.dirs) {
        Emit("dp3 r1.x, c[5], r4\n");
        Emit("dp3 r1.y, c[5], r2\n");
        Emit("dp3 r1.z, c[5], %s\n", N);
        Emit("dp3 r1.w, r1, r1\n");
        Emit("rsq r1.w, r1.w\n");
        Emit("mul r1.xyz, r1, r1.w\n");
        Emit("mad %s.xyz, r1, c[5].w, c[5].w\n", out);
    } else if (f.points || f.spots) {
        Emit("add r7.xyz, c[1 + 5].xyz, -%s.xyz\n", P);
        Emit("dp3 r7.w, r7, r7\n");
        Emit("rsq r7.w, r7.w\n");
        Emit("mul r7.xyz, r7, r7.w\n");
        if (!f.points) {
            Emit("dp3 r9.w, r7, c[2 + 5]\n");
            Emit("mad r9.w, r9.w, c[3 + 5].x, c[3 + 5].y\n");
        }
        Emit("rcp r7.w, r7.w\n");
        Emit("mad r7.w, r7.w, c[5].x, c[5].y\n");
        Emit("max r7.w, r7.w, c[5].w\n");
        if (!f.points)
            Emit("max r9.w, r9.w, c[5].w\n");
        Emit("dp3 r1.x, r7, r4\n");
        Emit("dp3 r1.y, r7, r2\n");
        Emit("dp3 r1.z, r7, %s\n", N);
        Emit("dp3 r1.w, r1, r1\n");
        Emit("rsq r1.w, r1.w\n");
        Emit("mul r1.xyz, r1, r1.w\n");
        Emit("mul r1.xyz, r1, r7.w\n");
        if (!f.points)
            Emit("mul r1.xyz, r1, r9.w\n");
        Emit("mad %s.xyz, r1, c[5].z, c[5].z\n", out);
    }
    if (f.effect == 9) {
        const int e = static_cast<int>(l.effect);
        Emit("dp3 oT2.x, c[%d], r4\n", e);
        Emit("dp3 oT2.y, c[%d], r2\n", e);
        Emit("dp3 oT2.z, c[%d], %s\n", e, N);
        Emit("dp3 oT3.x, c[%d], r4\n", e + 1);
        Emit("dp3 oT3.y, c[%d], r2\n", e + 1);
        Emit("dp3 oT3.z, c[%d], %s\n", e + 1, N);
    }
    Emit("mov oT0.xy, v%d\n", static_cast<int>(4 + f.sets));
    Emit("mov oT1.xy, v5\n");
}

static void EmitNormalOffset(int e, const char *N)
{
    Emit("dp3 r9.x, %s, c[%d]\n", N, e);
    Emit("dp3 r9.y, %s, c[%d]\n", N, e + 1);
    Emit("mov oT0.xy, v5\n");
    Emit("add oT1.xy, r9.xy, v5.xy\n");
}

// The reflection about the normal of the direction to the eye at register `eye`, into r7.
static void EmitReflection(int eye, const char *P, const char *N)
{
    Emit("add r7.xyz, c[%d].xyz, -%s.xyz\n", eye, P);
    Emit("dp3 r7.w, r7, r7\n");
    Emit("rsq r7.w, r7.w\n");
    Emit("mul r7.xyz, r7, r7.w\n");
    Emit("dp3 r7.w, r7, %s\n", N);
    Emit("add r7.w, r7.w, r7.w\n");
    Emit("mad r7, r7.w, %s, -r7\n", N);
}

static void EmitRotatedReflection(int firstRow, RwUInt32 out)
{
    for (int i = 0; i < 3; i++)
        Emit("dp3 oT%u.%c, r7, c[%d]\n", out, Components[i], firstRow + i);
}

static void EmitTexCoords(const ShaderFeatures &f, const ShaderLayout &l, const char *P, const char *N)
{
    const int e = static_cast<int>(l.effect);
    switch (f.effect) {
    case 1:
        EmitNormalOffset(e, N);
        break;
    case 2:
        if (f.sets) {
            Emit("mov oT0.xy, v5\n");
            Emit("dp4 oT1.x, %s, c[%d]\n", N, e);
            Emit("dp4 oT1.y, %s, c[%d]\n", N, e + 1);
        } else {
            Emit("dp4 oT0.x, %s, c[%d]\n", N, e);
            Emit("dp4 oT0.y, %s, c[%d]\n", N, e + 1);
        }
        break;
    case 3:
        Emit("dp4 oT2.x, %s, c[%d]\n", N, e + 2);
        Emit("dp4 oT2.y, %s, c[%d]\n", N, e + 3);
        EmitNormalOffset(e, N);
        break;
    case 4:
        Emit("mov oT0.xy, v6\n");
        break;
    case 5:
        Emit("mov oT0.xy, v5\n");
        Emit("mov oT1.xy, v5\n");
        break;
    case 6:
    case 7:
        Emit("dp4 oT0.x, v%d, c[%d]\n", f.effect == 6 ? 5 : 6, e);
        Emit("dp4 oT0.y, v%d, c[%d]\n", f.effect == 6 ? 5 : 6, e + 1);
        break;
    case 8:
    case 9:
        break;
    case 10:
        EmitReflection(e, P, N);
        if (f.sets) {
            Emit("mov oT0.xy, v5\n");
            EmitRotatedReflection(e + 1, 1);
        } else {
            EmitRotatedReflection(e + 1, 0);
        }
        break;
    case 11:
        EmitNormalOffset(e, N);
        EmitReflection(e + 2, P, N);
        EmitRotatedReflection(e + 3, 2);
        break;
    default:
        for (RwUInt32 i = 0; i < f.sets; i++)
            Emit("mov oT%u.xy, v%u\n", i, i + 5);
        break;
    }
}

RwBool RwD3D9VertexShaderGenerateText(const RwD3D9VertexShaderDescriptor *descriptor, const RwChar **text,
                                      RwD3D9VertexShaderRegisters *registers)
{
    const ShaderFeatures f = Unpack(descriptor);
    if (!Allowed(f) || !FitsRegisters(f, descriptor))
        return FALSE;
    const ShaderLayout l = Layout(f, registers);
    Text.length = 0;
    Text.failed = FALSE;
    static const char *const versions[] = {"vs_1_1\n", "vs_2_0\n", "vs_2_x\n"};
    Emit(versions[Limits.level == 10 ? 0 : (Limits.level == 20 ? 1 : 2)]);
    EmitDeclarations(f);
    const char *P, *N;
    EmitPosition(f, l, &P, &N);
    EmitFog(f, l, P);
    if (f.litNormal && f.normalize) {
        Emit("dp3 r5.w, %s, %s\n", N, N);
        Emit("rsq r5.w, r5.w\n");
        Emit("mul r5.xyz, %s, r5.w\n", N);
        N = "r5";
    }
    if (f.tangent)
        EmitTangentSpace(f, l, P, N);
    else
        EmitLighting(f, l, P, N);
    EmitTexCoords(f, l, P, N);
    if (Text.failed)
        return FALSE;
    *text = Text.text;
    return TRUE;
}

void *RwD3D9GenerateVertexShader(const RwD3D9VertexShaderDescriptor *descriptor,
                                 RwD3D9VertexShaderRegisters *registers)
{
    const RwChar *text = nullptr;
    if (!RwD3D9VertexShaderGenerateText(descriptor, &text, registers))
        return nullptr;
    ID3DXBuffer *code = nullptr;
    if (FAILED(D3DXAssembleShader(text, Text.length, nullptr, nullptr, D3DXSHADER_SKIPVALIDATION, &code, nullptr)) ||
        !code) {
        if (code)
            code->Release();
        return nullptr;
    }
    void *shader = nullptr;
    if (!RwD3D9CreateVertexShader(static_cast<const RwUInt32 *>(code->GetBufferPointer()), &shader))
        shader = nullptr;
    code->Release();
    return shader;
}

// ---------------------------------------------------------------------------
// Cache

static RwUInt16 CurrentStamp(void)
{
    return static_cast<RwUInt16>(RwEngineInstance->renderFrame & 0xFFFF);
}

static void *Deliver(RwInt32 index, RwD3D9VertexShaderRegisters *registers)
{
    ShaderCacheEntry &e = Cache[index];
    e.stamp = CurrentStamp();
    LastFound = e;
    LastFoundIndex = index;
    if (registers)
        *registers = e.registers;
    return e.shader;
}

void *RwD3D9GetVertexShaderForDescriptor(void *, const RwD3D9VertexShaderDescriptor *descriptor,
                                         RwD3D9VertexShaderRegisters *registers)
{
    if (!descriptor)
        return nullptr;
    const RwUInt32 key = RwD3D9VertexShaderDescriptorKey(descriptor);
    if (LastFoundIndex >= 0 && LastFound.key == key)
        return Deliver(LastFoundIndex, registers);
    RwUInt32 lo = 0, hi = CacheCount;
    while (lo < hi) {
        const RwUInt32 mid = (lo + hi) / 2;
        if (Cache[mid].key < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < CacheCount && Cache[lo].key == key)
        return Deliver(static_cast<RwInt32>(lo), registers);

    // A descriptor that cannot be made is kept too, so it is not tried again.
    ShaderCacheEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.key = key;
    entry.shader = RwD3D9GenerateVertexShader(descriptor, &entry.registers);
    if (!entry.shader)
        std::memset(&entry.registers, rwD3D9VSUNUSED, sizeof entry.registers);
    if (CacheCount == rwD3D9VSCACHESIZE) {
        // The least recently used entry goes; the rest close up so that the
        // table stays in key order for the search.
        RwUInt32 oldest = 0;
        for (RwUInt32 i = 1; i < CacheCount; i++) {
            if (Cache[i].stamp < Cache[oldest].stamp)
                oldest = i;
        }
        RwD3D9DeleteShader(Cache[oldest].shader);
        std::memmove(&Cache[oldest], &Cache[oldest + 1], (CacheCount - oldest - 1) * sizeof(ShaderCacheEntry));
        CacheCount--;
        if (oldest < lo)
            lo--;
    }
    std::memmove(&Cache[lo + 1], &Cache[lo], (CacheCount - lo) * sizeof(ShaderCacheEntry));
    Cache[lo] = entry;
    CacheCount++;
    return Deliver(static_cast<RwInt32>(lo), registers);
}

RwUInt32 RwD3D9VertexShaderCacheGetCount(void)
{
    return CacheCount;
}

RwUInt32 RwD3D9VertexShaderCacheGetKey(RwUInt32 index)
{
    return index < CacheCount ? Cache[index].key : 0xFFFFFFFFu;
}

// ---------------------------------------------------------------------------
// Drawing

void RwD3D9RenderMeshWithVertexShader(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh)
{
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetTexture(mesh->material ? mesh->material->texture : nullptr, 0);
    RwD3D9SetStageZeroForDiffuse();
    RwD3D9SetVertexShader(mesh->vertexShader);
    if (header->indexBuffer)
        RwD3D9DrawIndexedPrimitive(header->primType, static_cast<RwInt32>(mesh->baseVertexIndex), 0,
                                   mesh->numVertices, mesh->startIndex, mesh->numPrimitives);
    else
        RwD3D9DrawPrimitive(header->primType, mesh->baseVertexIndex, mesh->numPrimitives);
}
