// Vertex-shader constants: world-view-projection matrices, lights in object space, material colour and fog.
#include "d3d9shaderconst.h"

#include <cmath>
#include <cstring>

#include <d3dx9math.h>

#include "d3d9device.h"
#include "d3d9lightwalk.h"
#include "d3d9renderstate.h"
#include "d3d9standard.h"
#include "d3d9state.h"
#include "d3d9vertexshader.h"
#include "gfx/core/finite.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "gfx/core/engine.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"

struct ShaderConstantState {
    const RwMatrix *world;          // NULL: none
    D3DXMATRIX worldCopy;
    const D3DXMATRIX *inverse;      // derived, NULL until needed
    const D3DXMATRIX *directionInverse;
    D3DXMATRIX inverseStore;
    D3DXMATRIX orthoInverseStore;
    D3DXMATRIX viewProjStore;
    const D3DXMATRIX *viewProj;     // NULL until needed after a camera update
};

static ShaderConstantState Constants;

static const D3DXMATRIX Identity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);

static void FromRwMatrix(D3DXMATRIX *out, const RwMatrix *m)
{
    const RwV3d *rows[4] = {&m->right, &m->up, &m->at, &m->pos};
    for (int r = 0; r < 4; r++) {
        out->m[r][0] = rows[r]->x;
        out->m[r][1] = rows[r]->y;
        out->m[r][2] = rows[r]->z;
        out->m[r][3] = r == 3 ? 1.0f : 0.0f;
    }
}

void RwD3D9SetVertexShaderWorldMatrix(const RwMatrix *matrix)
{
    Constants.world = matrix;
    if (matrix)
        FromRwMatrix(&Constants.worldCopy, matrix);
    Constants.inverse = nullptr;
    Constants.directionInverse = nullptr;
}

void RwD3D9VertexShaderNewCamera(void)
{
    Constants.viewProj = nullptr;
}

static D3DXMATRIX Transform(RwUInt32 state)
{
    D3DXMATRIX m;
    RwD3D9GetTransform(state, &m);
    return m;
}

static const D3DXMATRIX *ViewProjection(void)
{
    if (!Constants.viewProj) {
        const D3DXMATRIX view = Transform(D3DTS_VIEW);
        const D3DXMATRIX projection = Transform(D3DTS_PROJECTION);
        D3DXMatrixMultiply(&Constants.viewProjStore, &view, &projection);
        Constants.viewProj = &Constants.viewProjStore;
    }
    return Constants.viewProj;
}

void RwD3D9GetWorldViewProjTransposed(D3DMATRIX *out)
{
    D3DXMATRIX *o = static_cast<D3DXMATRIX *>(out);
    if (Constants.world)
        D3DXMatrixMultiplyTranspose(o, &Constants.worldCopy, ViewProjection());
    else
        D3DXMatrixTranspose(o, ViewProjection());
}

void RwD3D9GetWorldViewTransposed(D3DMATRIX *out)
{
    D3DXMATRIX *o = static_cast<D3DXMATRIX *>(out);
    const D3DXMATRIX view = Transform(D3DTS_VIEW);
    if (Constants.world)
        D3DXMatrixMultiplyTranspose(o, &Constants.worldCopy, &view);
    else
        D3DXMatrixTranspose(o, &view);
}

void RwD3D9GetProjectionTransposed(D3DMATRIX *out)
{
    const D3DXMATRIX projection = Transform(D3DTS_PROJECTION);
    D3DXMatrixTranspose(static_cast<D3DXMATRIX *>(out), &projection);
}

static bool WorldIsIdentity(void)
{
    return !Constants.world || (Constants.world->flags & rwMATRIXINTERNALIDENTITY);
}

static bool WorldIsOrthonormal(void)
{
    return (Constants.world->flags & rwMATRIXTYPEMASK) == rwMATRIXTYPEORTHONORMAL;
}

// The inverse of a rotation and translation, without a general inversion.
static void FastInverse(D3DXMATRIX *out, const D3DXMATRIX &m)
{
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++)
            out->m[r][c] = m.m[c][r];
        out->m[r][3] = 0.0f;
    }
    for (int c = 0; c < 3; c++)
        out->m[3][c] = -(m.m[3][0] * m.m[c][0] + m.m[3][1] * m.m[c][1] + m.m[3][2] * m.m[c][2]);
    out->m[3][3] = 1.0f;
}

static const D3DXMATRIX *InverseWorld(void)
{
    if (Constants.inverse)
        return Constants.inverse;
    if (WorldIsIdentity()) {
        Constants.inverse = &Identity;
    } else if (WorldIsOrthonormal()) {
        FastInverse(&Constants.inverseStore, Constants.worldCopy);
        Constants.inverse = &Constants.inverseStore;
    } else {
        RwMatrix inverse;
        std::memset(&inverse, 0, sizeof inverse);
        if (RwMatrixInvert(&inverse, Constants.world))
            FromRwMatrix(&Constants.inverseStore, &inverse);
        else
            Constants.inverseStore = Identity;
        Constants.inverse = &Constants.inverseStore;
    }
    return Constants.inverse;
}

void RwD3D9GetInverseWorldMatrix(D3DMATRIX *out)
{
    *out = *InverseWorld();
}

void RwD3D9ObjectSpaceDirection(RwV3d *out, const RwV3d *direction)
{
    if (WorldIsIdentity()) {
        *out = *direction;
        return;
    }
    if (!Constants.directionInverse) {
        if (WorldIsOrthonormal()) {
            Constants.directionInverse = InverseWorld();
        } else {
            // A scaled world: only the rotation of the inverse turns directions.
            RwMatrix inverse, ortho;
            std::memset(&inverse, 0, sizeof inverse);
            std::memset(&ortho, 0, sizeof ortho);
            RwMatrixInvert(&inverse, Constants.world);
            RwMatrixOrthoNormalize(&ortho, &inverse);
            FromRwMatrix(&Constants.orthoInverseStore, &ortho);
            Constants.directionInverse = &Constants.orthoInverseStore;
        }
    }
    D3DXVec3TransformNormal(reinterpret_cast<D3DXVECTOR3 *>(out), reinterpret_cast<const D3DXVECTOR3 *>(direction),
                            Constants.directionInverse);
}

void RwD3D9ObjectSpacePoint(RwV3d *out, const RwV3d *point)
{
    if (WorldIsIdentity()) {
        *out = *point;
        return;
    }
    D3DXVec3TransformCoord(reinterpret_cast<D3DXVECTOR3 *>(out), reinterpret_cast<const D3DXVECTOR3 *>(point),
                           InverseWorld());
}

RwReal RwD3D9ObjectSpaceRadius(RwReal radius)
{
    if (WorldIsIdentity() || WorldIsOrthonormal())
        return radius;
    // The inverse shrinks a unit vector by the world's scale: the radius
    // shrinks by the same factor (scale 2, radius 10: 5).
    const D3DXVECTOR3 unit(0.57735026f, 0.57735026f, 0.57735026f);
    D3DXVECTOR3 v;
    D3DXVec3TransformNormal(&v, &unit, InverseWorld());
    return radius * std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// ---------------------------------------------------------------------------
// Lights

static RwReal *Register(RwReal *at, RwReal x, RwReal y, RwReal z, RwReal w)
{
    at[0] = x;
    at[1] = y;
    at[2] = z;
    at[3] = w;
    return at + 4;
}

static RwReal *Colour(RwReal *at, const RwLight *light)
{
    return Register(at, light->color.red, light->color.green, light->color.blue, 0.0f);
}

// The light's frame world matrix, or NULL for a light without a frame.
static const RwMatrix *LightMatrix(const RwLight *light)
{
    RwFrame *frame = RwLightGetFrame(light);
    return frame ? RwFrameGetWorldMatrix(frame) : nullptr;
}

static RwReal *Direction(RwReal *at, const RwMatrix *m)
{
    RwV3d d;
    RwD3D9ObjectSpaceDirection(&d, &m->at);
    return Register(at, d.x, d.y, d.z, 0.0f);
}

static RwReal *Position(RwReal *at, const RwMatrix *m)
{
    RwV3d p;
    RwD3D9ObjectSpacePoint(&p, &m->pos);
    return Register(at, p.x, p.y, p.z, 0.0f);
}

// Writes groups of up to four local lights: a register of reciprocal radii,
// then each light's registers.
static RwReal *LocalGroups(RwReal *at, const RwLight *const *lights, RwUInt32 n, bool spot)
{
    for (RwUInt32 first = 0; first < n; first += 4) {
        RwReal *radii = at;
        at = Register(at, 0, 0, 0, 0);
        for (RwUInt32 k = 0; k < 4 && first + k < n; k++) {
            const RwLight *light = lights[first + k];
            const RwMatrix *m = LightMatrix(light);
            radii[k] = 1.0f / RwD3D9ObjectSpaceRadius(light->radius);
            at = Position(at, m);
            if (spot) {
                at = Direction(at, m);
                // The cone is kept within a quarter turn: its cosine in [0, 1].
                RwReal c = -light->minusCosAngle;
                c = c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c);
                RwReal a = 999.99994f;
                if (RwLightGetType(light) == rwLIGHTSPOTSOFT && c < 0.999f)
                    a = 1.0f / (1.0f - c);
                at = Register(at, a, -c * a, 0.5f, 0.0f);
            }
            at = Colour(at, light);
        }
    }
    return at;
}

// The lights of one object by kind, at most 15 of each, and the summed ambient.
struct ShaderLightSet {
    RwRGBAReal ambient;
    const RwLight *dirs[rwD3D9VSMAXLIGHTSPERKIND];
    const RwLight *points[rwD3D9VSMAXLIGHTSPERKIND];
    const RwLight *spots[rwD3D9VSMAXLIGHTSPERKIND];
    RwUInt32 numDirs, numPoints, numSpots;
};

static void Collect(const RwLight *light, ShaderLightSet *set)
{
    if (!light)
        return;
    const RwInt32 type = RwLightGetType(light);
    if (type == rwLIGHTAMBIENT) {
        set->ambient.red += light->color.red;
        set->ambient.green += light->color.green;
        set->ambient.blue += light->color.blue;
        return;
    }
    // Lights without a place, or local lights that reach nothing, are left out.
    if (!LightMatrix(light))
        return;
    if (type == rwLIGHTDIRECTIONAL && set->numDirs < rwD3D9VSMAXLIGHTSPERKIND)
        set->dirs[set->numDirs++] = light;
    else if (type == rwLIGHTPOINT && light->radius > 0.0f && set->numPoints < rwD3D9VSMAXLIGHTSPERKIND)
        set->points[set->numPoints++] = light;
    else if ((type == rwLIGHTSPOT || type == rwLIGHTSPOTSOFT) && light->radius > 0.0f &&
             set->numSpots < rwD3D9VSMAXLIGHTSPERKIND)
        set->spots[set->numSpots++] = light;
}

static RwReal *WriteSet(RwReal *buffer, RwD3D9VertexShaderDescriptor *descriptor, RwBool prelit,
                        const ShaderLightSet &set)
{
    RwReal *at = Register(buffer, set.ambient.red, set.ambient.green, set.ambient.blue, prelit ? 0.0f : 1.0f);
    for (RwUInt32 i = 0; i < set.numDirs; i++) {
        at = Direction(at, LightMatrix(set.dirs[i]));
        at = Colour(at, set.dirs[i]);
    }
    at = LocalGroups(at, set.points, set.numPoints, false);
    at = LocalGroups(at, set.spots, set.numSpots, true);
    descriptor->lights = static_cast<RwUInt8>(set.numDirs | set.numPoints << 4);
    descriptor->spotsAndSets = static_cast<RwUInt8>((descriptor->spotsAndSets & 0xF0) | set.numSpots);
    return at;
}

RwReal *RwD3D9WriteVertexShaderLights(RwReal *buffer, RwD3D9VertexShaderDescriptor *descriptor, RwBool prelit,
                                      const RwLight *const *lights, RwUInt32 numLights)
{
    ShaderLightSet set;
    std::memset(&set, 0, sizeof set);
    for (RwUInt32 i = 0; i < numLights; i++)
        Collect(lights[i], &set);
    return WriteSet(buffer, descriptor, prelit, set);
}

RwReal *RwD3D9GatherVertexShaderLights(void *object, RwUInt32 objectType, RwReal *buffer,
                                       RwD3D9VertexShaderDescriptor *descriptor)
{
    ShaderLightSet set;
    std::memset(&set, 0, sizeof set);
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    RwUInt32 flags = 0;
    if (objectType == rwATOMIC) {
        const RwGeometry *geometry = static_cast<const RwAtomic *>(object)->geometry;
        flags = geometry ? geometry->flags : 0;
    } else if (world) {
        flags = world->flags;
    }
    auto collect = [](RwLight *light, RwBool, void *data) { Collect(light, static_cast<ShaderLightSet *>(data)); };
    if (objectType == rwATOMIC)
        RwD3D9ForLightsReachingAtomic(static_cast<RwAtomic *>(object), collect, &set);
    else
        RwD3D9ForLightsReachingSector(static_cast<RwWorldSector *>(object), collect, &set);
    return WriteSet(buffer, descriptor, (flags & rwGEOMETRYPRELIT) != 0, set);
}

static RwUInt32 Groups(RwUInt32 n)
{
    return (n + 3) / 4;
}

RwBool RwD3D9SetVertexShaderLightConstants(const RwReal *buffer, const RwD3D9VertexShaderDescriptor *descriptor,
                                           RwReal ambientFactor, RwReal diffuseFactor)
{
    const RwUInt32 dirs = descriptor->lights & 0xF, points = descriptor->lights >> 4,
                   spots = descriptor->spotsAndSets & 0xF;
    const RwUInt32 count = 1 + 2 * dirs + 2 * points + Groups(points) + 4 * spots + Groups(spots);
    RwReal scaled[rwD3D9VSMAXLIGHTREGISTERS * 4];
    std::memcpy(scaled, buffer, count * 4 * sizeof(RwReal));
    auto scale = [&scaled](RwUInt32 reg, RwReal f) {
        for (int i = 0; i < 3; i++)
            scaled[4 * reg + i] *= f;
    };
    scale(0, ambientFactor);
    RwUInt32 reg = 1;
    for (RwUInt32 i = 0; i < dirs; i++, reg += 2)
        scale(reg + 1, diffuseFactor);
    for (RwUInt32 i = 0; i < points; i++, reg += 2) {
        if (i % 4 == 0)
            reg++;
        scale(reg + 1, diffuseFactor);
    }
    for (RwUInt32 i = 0; i < spots; i++, reg += 4) {
        if (i % 4 == 0)
            reg++;
        scale(reg + 3, diffuseFactor);
    }
    return RwD3D9SetVertexShaderConstant(rwD3D9VSFIRSTLIGHTREGISTER, scaled, count);
}

RwBool RwD3D9SetVertexShaderMaterialColor(const RwRGBA *colour, const RwD3D9VertexShaderRegisters *registers)
{
    if (registers->materialColor == rwD3D9VSUNUSED)
        return FALSE;
    const RwReal c[4] = {colour->red / 255.0f, colour->green / 255.0f, colour->blue / 255.0f,
                         colour->alpha / 255.0f};
    return RwD3D9SetVertexShaderConstant(registers->materialColor, c, 1);
}

RwBool RwD3D9SetVertexShaderFogConstants(const RwD3D9VertexShaderDescriptor *descriptor,
                                         const RwD3D9VertexShaderRegisters *registers)
{
    if ((rwD3D9Driver.caps.RasterCaps & D3DPRASTERCAPS_WFOG) || registers->fog == rwD3D9VSUNUSED)
        return TRUE;
    RwReal c[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    const RwUInt32 mode = descriptor->fogAndEffect & 3;
    if (mode == 1) {
        const RwCamera *camera = static_cast<const RwCamera *>(RwD3D9GetCurrentCamera());
        if (!camera)
            return FALSE;
        // A range so small that its reciprocal is not finite has no fog either.
        const RwReal range = camera->farPlane - camera->fogPlane;
        c[0] = -1.0f / range;
        c[1] = camera->farPlane / range;
        if (!RwRealsFinite(c, 2))
            return FALSE;
    } else if (mode >= 2) {
        RwUInt32 bits = 0;
        RwD3D9GetRenderState(D3DRS_FOGDENSITY, &bits);
        RwReal density;
        std::memcpy(&density, &bits, sizeof density);
        c[0] = density * 1.442695f;
    }
    return RwD3D9SetVertexShaderConstant(registers->fog, c, 1);
}
