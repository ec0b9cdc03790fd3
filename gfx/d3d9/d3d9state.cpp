// Device state setters: last-set caches, transforms, lights, declarations, shaders.
#include "d3d9state.h"

#include <cstring>

#include "d3d9cpu.h"
#include "d3d9device.h"
#include "d3d9renderstate.h"
#include "d3d9raster.h"
#include "gfx/core/camera.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"

RwUInt32 rwD3D9FilteredStateCalls = 0;
RwD3D9StateCache rwD3D9Cache;

enum : RwUInt32 {
    rwD3D9TRANSFORMHINT = 0x30411,
    rwD3D9LIGHTHINT = 0x1030411,
    rwD3D9DECLELEMENTSHINT = 0x40411,
    rwD3D9DECLCACHEHINT = 0x1040411,
    rwD3D9TRANSFORMWORLD = 256,
    rwD3D9MATRIXIDENTITY = 0x20000,
    rwD3D9MAXDECLELEMENTS = 65,     // 64 elements and the end marker
};

// Light indices the store takes: one record per index up to the highest, so
// a stray index would otherwise grow it without bound.
static const RwInt32 rwD3D9MAXLIGHTS = 0x10000;
// The enabled flag of a record whose state on the device is not known.
static const RwInt32 rwD3D9LIGHTUNKNOWN = -1;

static const D3DMATRIX IdentityMatrix = {{{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f,
                                           0.0f, 0.0f, 0.0f, 1.0f}}};

// Transform cache.
static RwFreeList *TransformFreeList;
static D3DMATRIX *Transforms[rwD3D9NUMTRANSFORMS];
// FALSE where the device refused the entry's matrix: it holds something else,
// and the next set of any matrix is sent.
static RwBool TransformSent[rwD3D9NUMTRANSFORMS];
static RwBool WorldIsIdentity;
static D3DMATRIX WorldBuffer = IdentityMatrix;

// Light store.
static RwD3D9LightRecord *Lights;
static RwInt32 NumLights;

// Shared vertex declarations.
static RwD3D9DeclarationEntry *Declarations;
static RwUInt32 NumDeclarations;
static RwUInt32 MaxDeclarations;

// What the device holds in its vertex-shader float registers.
static RwReal VertexConstants[rwD3D9NUMVERTEXCONSTANTS][4];
static RwBool VertexConstantsKnown[rwD3D9NUMVERTEXCONSTANTS];

static RwD3D9DeviceRestoreCallBack RestoreCallback;
static RwD3D9DeviceRestoreCallBack ReleaseCallback;

static IDirect3DDevice9 *Device(void)
{
    return rwD3D9Driver.device;
}

// ---------------------------------------------------------------------------
// Life cycle of the caches

static void EmptyTransforms(void)
{
    for (RwUInt32 i = 0; i < rwD3D9NUMTRANSFORMS; i++) {
        if (Transforms[i] && i != rwD3D9TRANSFORMWORLD) {
            RwFreeListFree(TransformFreeList, Transforms[i]);
            Transforms[i] = nullptr;
        }
    }
    if (Transforms[rwD3D9TRANSFORMWORLD])
        *Transforms[rwD3D9TRANSFORMWORLD] = IdentityMatrix;
    WorldIsIdentity = FALSE;
    for (RwBool &sent : TransformSent)
        sent = TRUE;
    // The entry says identity, but what the device holds is not known: the
    // next world matrix, the identity too, must reach it.
    TransformSent[rwD3D9TRANSFORMWORLD] = FALSE;
}

// Records the device's answer to the matrix just sent for a state.
static RwBool TransformAnswered(RwUInt32 state, HRESULT hr)
{
    TransformSent[state] = SUCCEEDED(hr);
    if (FAILED(hr) && state == rwD3D9TRANSFORMWORLD)
        WorldIsIdentity = FALSE;
    return SUCCEEDED(hr);
}

void RwD3D9StateResetCachesForReset(void)
{
    RwD3D9StateCache &c = rwD3D9Cache;
    c.lastFVF = 0xFFFFFFFFu;
    c.lastDeclaration = rwD3D9UNKNOWN;
    c.lastVertexShader = rwD3D9UNKNOWN;
    c.lastPixelShader = rwD3D9UNKNOWN;
    c.lastIndexBuffer = rwD3D9UNKNOWN;
    for (RwD3D9StreamRecord &s : c.streams) {
        s.vertexBuffer = rwD3D9UNKNOWN;
        s.offset = 0;
        s.stride = 0;
        s.unused = 0;
    }
    c.viewportKnown = FALSE;
    std::memset(VertexConstantsKnown, 0, sizeof(VertexConstantsKnown));
}

void RwD3D9StateResetCaches(void)
{
    RwD3D9StateResetCachesForReset();
    EmptyTransforms();
}

RwBool RwD3D9StateRestoreTransforms(void)
{
    IDirect3DDevice9 *device = Device();
    RwBool ok = TRUE;
    for (RwUInt32 i = 0; i < rwD3D9NUMTRANSFORMS; i++) {
        if (Transforms[i] &&
            !TransformAnswered(i, device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(i), Transforms[i])))
            ok = FALSE;
    }
    return ok;
}

void RwD3D9StateResetTargets(void)
{
    for (IDirect3DSurface9 *&t : rwD3D9Cache.renderTargets)
        t = nullptr;
    rwD3D9Cache.depthSurface = nullptr;
    rwD3D9Cache.viewportKnown = FALSE;
}

static void FreeLights(void)
{
    if (Lights)
        RwFree(Lights);
    Lights = nullptr;
    NumLights = 0;
}

RwBool RwD3D9StateOpen(void)
{
    if (TransformFreeList == nullptr) {
        TransformFreeList = RwFreeListCreate(sizeof(D3DMATRIX), 15, 16, rwD3D9TRANSFORMHINT);
        if (TransformFreeList == nullptr)
            return FALSE;
    }
    if (Transforms[rwD3D9TRANSFORMWORLD] == nullptr) {
        void *entry = RwFreeListAlloc(TransformFreeList, rwD3D9TRANSFORMHINT);
        if (entry == nullptr)
            return FALSE;
        Transforms[rwD3D9TRANSFORMWORLD] = static_cast<D3DMATRIX *>(entry);
    }
    RwD3D9StateResetCaches();
    FreeLights();
    return TRUE;
}

void RwD3D9StateClose(void)
{
    if (TransformFreeList) {
        for (D3DMATRIX *&m : Transforms) {
            if (m)
                RwFreeListFree(TransformFreeList, m);
            m = nullptr;
        }
        RwFreeListDestroy(TransformFreeList);
        TransformFreeList = nullptr;
    }
    WorldIsIdentity = FALSE;
    FreeLights();
}

void RwD3D9StateUnbindDevice(void)
{
    IDirect3DDevice9 *device = Device();
    for (DWORD stage = 0; stage < 8; stage++)
        device->SetTexture(stage, nullptr);
    device->SetIndices(nullptr);
    for (UINT n = 0; n < rwD3D9NUMSTREAMS; n++)
        device->SetStreamSource(n, nullptr, 0, 0);
    device->SetPixelShader(nullptr);
    device->SetVertexDeclaration(nullptr);
    device->SetVertexShader(nullptr);
    // No light may be on at a reset: some devices keep the slot of every
    // light enabled through it, and once those run out, lights enabled
    // later stay dark. The store keeps the flags for the restore.
    for (RwInt32 i = 0; i < NumLights; i++) {
        if (Lights[i].enabled)
            device->LightEnable(i, FALSE);
    }
}

// Takes entry i out of the cache, keeping the order of the others.
static void RemoveDeclarationEntry(RwUInt32 i)
{
    NumDeclarations--;
    std::memmove(Declarations + i, Declarations + i + 1, (NumDeclarations - i) * sizeof(RwD3D9DeclarationEntry));
    if (NumDeclarations == 0) {
        RwFree(Declarations);
        Declarations = nullptr;
        MaxDeclarations = 0;
    }
}

void RwD3D9StateReleaseDeclarations(void)
{
    // Only the cache's own reference goes: users that still hold a
    // declaration keep a valid object. Their entries stay, without elements,
    // so that no later device is handed them and their users' deletes still
    // find them and give their references (and so the device) back.
    RwUInt32 kept = 0;
    for (RwUInt32 i = 0; i < NumDeclarations; i++) {
        RwD3D9DeclarationEntry e = Declarations[i];
        if (e.elements)
            RwFree(e.elements);
        if (e.declaration && e.numElements != 0 && e.declaration->Release() == 0)
            e.declaration = nullptr;
        if (e.declaration)
            Declarations[kept++] = {e.declaration, 0, nullptr};
    }
    NumDeclarations = kept;
    if (kept == 0 && Declarations) {
        RwFree(Declarations);
        Declarations = nullptr;
        MaxDeclarations = 0;
    }
}

RwBool RwD3D9StateRestoreLights(void)
{
    IDirect3DDevice9 *device = Device();
    RwBool ok = TRUE;
    for (RwInt32 i = 0; i < NumLights; i++) {
        RwD3D9LightRecord &r = Lights[i];
        // A record without a light has nothing on the reset device: enabling
        // it there would switch on the device's default light.
        if (r.light.Type == 0) {
            r.enabled = 0;
            continue;
        }
        // What the device refused it does not hold: the record says so, so
        // that the next set or enable reaches it.
        if (FAILED(device->SetLight(i, &r.light))) {
            r.light.Type = static_cast<D3DLIGHTTYPE>(0);
            r.enabled = 0;
            ok = FALSE;
        } else {
            // A reset device has every light off; one whose state was not
            // known stays off until it is enabled again.
            r.enabled = r.enabled == 1 ? 1 : 0;
            if (FAILED(device->LightEnable(i, r.enabled))) {
                r.enabled = 0;
                ok = FALSE;
            }
        }
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Render targets and depth

void RwD3D9SetDepthStencilSurface(IDirect3DSurface9 *surface)
{
    if (rwD3D9Cache.depthSurface == surface) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    rwD3D9Cache.depthSurface = surface;
    Device()->SetDepthStencilSurface(surface);
}

RwBool RwD3D9SetRenderTargetSurface(RwUInt32 index, IDirect3DSurface9 *surface)
{
    if (index >= rwD3D9NUMRENDERTARGETS)
        return FALSE;
    if (rwD3D9Cache.renderTargets[index] == surface) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    if (FAILED(Device()->SetRenderTarget(index, surface)))
        return FALSE;
    rwD3D9Cache.renderTargets[index] = surface;
    if (index == 0) {
        D3DSURFACE_DESC desc;
        rwD3D9Cache.viewportKnown = surface && SUCCEEDED(surface->GetDesc(&desc));
        if (rwD3D9Cache.viewportKnown)
            rwD3D9Cache.viewport = {0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
    }
    return TRUE;
}

void RwD3D9SetViewport(const D3DVIEWPORT9 *viewport)
{
    RwD3D9StateCache &c = rwD3D9Cache;
    if (viewport == nullptr)
        return;
    if (c.viewportKnown && std::memcmp(&c.viewport, viewport, sizeof(D3DVIEWPORT9)) == 0) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    c.viewportKnown = SUCCEEDED(Device()->SetViewport(viewport));
    c.viewport = *viewport;
}

// ---------------------------------------------------------------------------
// Shaders, declarations, streams, indices and drawing

void RwD3D9SetVertexDeclaration(void *declaration)
{
    rwD3D9Cache.lastFVF = 0xFFFFFFFFu;
    if (rwD3D9Cache.lastDeclaration == declaration)
    {
        rwD3D9FilteredStateCalls++;
        return;
    }
    HRESULT hr = Device()->SetVertexDeclaration(static_cast<IDirect3DVertexDeclaration9 *>(declaration));
    rwD3D9Cache.lastDeclaration = SUCCEEDED(hr) ? declaration : rwD3D9UNKNOWN;
}

void RwD3D9SetFVF(RwUInt32 fvf)
{
    if (rwD3D9Cache.lastFVF == fvf) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    if (SUCCEEDED(Device()->SetFVF(fvf))) {
        rwD3D9Cache.lastFVF = fvf;
        rwD3D9Cache.lastDeclaration = rwD3D9UNKNOWN;
    } else {
        rwD3D9Cache.lastFVF = 0xFFFFFFFFu;
    }
}

void RwD3D9SetVertexShader(void *shader)
{
    if (rwD3D9Cache.lastVertexShader == shader)
    {
        rwD3D9FilteredStateCalls++;
        return;
    }
    HRESULT hr = Device()->SetVertexShader(static_cast<IDirect3DVertexShader9 *>(shader));
    rwD3D9Cache.lastVertexShader = SUCCEEDED(hr) ? shader : rwD3D9UNKNOWN;
}

void RwD3D9SetPixelShader(void *shader)
{
    if (rwD3D9Cache.lastPixelShader == shader)
    {
        rwD3D9FilteredStateCalls++;
        return;
    }
    HRESULT hr = Device()->SetPixelShader(static_cast<IDirect3DPixelShader9 *>(shader));
    rwD3D9Cache.lastPixelShader = SUCCEEDED(hr) ? shader : rwD3D9UNKNOWN;
}

void RwD3D9SetStreamSource(RwUInt32 stream, void *buffer, RwUInt32 offset, RwUInt32 stride)
{
    if (stream >= rwD3D9NUMSTREAMS)
        return;
    RwD3D9StreamRecord &s = rwD3D9Cache.streams[stream];
    if (s.vertexBuffer == buffer && s.offset == offset && s.stride == stride) {
        rwD3D9FilteredStateCalls++;
        return;
    }
    s.vertexBuffer = buffer;
    s.offset = offset;
    s.stride = stride;
    Device()->SetStreamSource(stream, static_cast<IDirect3DVertexBuffer9 *>(buffer), offset, stride);
}

void RwD3D9SetStreams(const RwD3D9VertexStream *streams, RwBool useOffsets)
{
    if (streams == nullptr)
        return;
    for (RwUInt32 n = 0; n < 2; n++) {
        const RwD3D9VertexStream &in = streams[n];
        RwD3D9StreamRecord &s = rwD3D9Cache.streams[n];
        if (in.vertexBuffer == nullptr) {
            if (s.vertexBuffer != nullptr) {
                s.vertexBuffer = nullptr;
                s.offset = 0;
                s.stride = 0;
                Device()->SetStreamSource(n, nullptr, 0, 0);
            }
            continue;
        }
        RwUInt32 offset = useOffsets ? in.offset : 0;
        if (s.vertexBuffer == in.vertexBuffer && s.offset == offset && s.stride == in.stride) {
            rwD3D9FilteredStateCalls++;
        } else {
            s.vertexBuffer = in.vertexBuffer;
            s.offset = offset;
            s.stride = in.stride;
            Device()->SetStreamSource(n, static_cast<IDirect3DVertexBuffer9 *>(in.vertexBuffer), offset,
                                      in.stride);
        }
    }
}

void RwD3D9SetIndices(void *indexBuffer)
{
    if (rwD3D9Cache.lastIndexBuffer == indexBuffer)
    {
        rwD3D9FilteredStateCalls++;
        return;
    }
    rwD3D9Cache.lastIndexBuffer = indexBuffer;
    Device()->SetIndices(static_cast<IDirect3DIndexBuffer9 *>(indexBuffer));
}

RwBool RwD3D9SetVertexShaderConstant(RwUInt32 start, const RwReal *values, RwUInt32 count)
{
    if (values == nullptr)
        return FALSE;
    // Registers beyond the shadow go straight to the device, which judges them.
    const RwBool shadowed = start < rwD3D9NUMVERTEXCONSTANTS && count <= rwD3D9NUMVERTEXCONSTANTS - start;
    if (shadowed) {
        RwBool same = TRUE;
        for (RwUInt32 r = 0; r < count && same; r++)
            same = VertexConstantsKnown[start + r] && std::memcmp(VertexConstants[start + r], values + 4 * r, 16) == 0;
        if (same) {
            rwD3D9FilteredStateCalls++;
            return TRUE;
        }
    }
    const RwBool sent = SUCCEEDED(Device()->SetVertexShaderConstantF(start, values, count));
    for (RwUInt32 r = 0; shadowed && r < count; r++) {
        VertexConstantsKnown[start + r] = sent;
        std::memcpy(VertexConstants[start + r], values + 4 * r, 16);
    }
    return sent;
}

HRESULT RwD3D9DrawIndexedPrimitive(RwUInt32 primitiveType, RwInt32 baseVertexIndex, RwUInt32 minIndex,
                                   RwUInt32 numVertices, RwUInt32 startIndex, RwUInt32 primitiveCount)
{
    RwD3D9FlushRenderStates();
    return Device()->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(primitiveType), baseVertexIndex, minIndex,
                                          numVertices, startIndex, primitiveCount);
}

HRESULT RwD3D9DrawPrimitive(RwUInt32 primitiveType, RwUInt32 startVertex, RwUInt32 primitiveCount)
{
    RwD3D9FlushRenderStates();
    return Device()->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(primitiveType), startVertex, primitiveCount);
}

RwBool RwD3D9CreateIndexBuffer(RwUInt32 numIndices, void **indexBuffer)
{
    IDirect3DIndexBuffer9 *buffer = nullptr;
    if (indexBuffer == nullptr)
        return FALSE;
    HRESULT hr = Device()->CreateIndexBuffer(numIndices * sizeof(RwUInt16), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                             D3DPOOL_MANAGED, &buffer, nullptr);
    *indexBuffer = SUCCEEDED(hr) ? buffer : nullptr;
    return SUCCEEDED(hr);
}

RwBool RwD3D9CreateVertexShader(const RwUInt32 *function, void **shader)
{
    IDirect3DVertexShader9 *s = nullptr;
    if (shader == nullptr)
        return FALSE;
    HRESULT hr = Device()->CreateVertexShader(reinterpret_cast<const DWORD *>(function), &s);
    *shader = SUCCEEDED(hr) ? s : nullptr;
    if (FAILED(hr))
        return FALSE;
    rwD3D9Cache.lastVertexShader = rwD3D9UNKNOWN;
    return TRUE;
}

RwBool RwD3D9CreatePixelShader(const RwUInt32 *function, void **shader)
{
    IDirect3DPixelShader9 *s = nullptr;
    if (shader == nullptr)
        return FALSE;
    HRESULT hr = Device()->CreatePixelShader(reinterpret_cast<const DWORD *>(function), &s);
    *shader = SUCCEEDED(hr) ? s : nullptr;
    return SUCCEEDED(hr);
}

void RwD3D9DeleteShader(void *shader)
{
    if (shader)
        static_cast<IUnknown *>(shader)->Release();
}

// Elements up to and including the end marker; 0 when there is none within
// the device's limit.
static RwUInt32 CountElements(const D3DVERTEXELEMENT9 *elements)
{
    for (RwUInt32 i = 0; i < rwD3D9MAXDECLELEMENTS; i++) {
        if (elements[i].Type == D3DDECLTYPE_UNUSED)
            return i + 1;
    }
    return 0;
}

RwBool RwD3D9CreateVertexDeclaration(const void *elementsIn, void **declaration)
{
    if (declaration == nullptr)
        return FALSE;
    *declaration = nullptr;
    const D3DVERTEXELEMENT9 *elements = static_cast<const D3DVERTEXELEMENT9 *>(elementsIn);
    if (elements == nullptr)
        return FALSE;
    RwUInt32 count = CountElements(elements);
    if (count == 0)
        return FALSE;
    size_t bytes = count * sizeof(D3DVERTEXELEMENT9);

    // Every entry holds one reference of its own while its declaration lives;
    // each delivery adds one for the caller.
    for (RwUInt32 i = 0; i < NumDeclarations; i++) {
        RwD3D9DeclarationEntry &e = Declarations[i];
        if (e.numElements != count || std::memcmp(e.elements, elements, bytes) != 0)
            continue;
        if (e.declaration == nullptr &&
            FAILED(Device()->CreateVertexDeclaration(e.elements, &e.declaration))) {
            e.declaration = nullptr;
            return FALSE;
        }
        e.declaration->AddRef();
        *declaration = e.declaration;
        return TRUE;
    }

    if (NumDeclarations >= MaxDeclarations) {
        RwUInt32 capacity = MaxDeclarations + 16;
        size_t size = capacity * sizeof(RwD3D9DeclarationEntry);
        void *grown = Declarations ? RwRealloc(Declarations, size, rwD3D9DECLCACHEHINT)
                                   : RwMalloc(size, rwD3D9DECLCACHEHINT);
        if (grown == nullptr)
            return FALSE;
        Declarations = static_cast<RwD3D9DeclarationEntry *>(grown);
        MaxDeclarations = capacity;
    }
    void *copy = RwMalloc(bytes, rwD3D9DECLELEMENTSHINT);
    if (copy == nullptr)
        return FALSE;
    IDirect3DVertexDeclaration9 *created = nullptr;
    if (FAILED(Device()->CreateVertexDeclaration(elements, &created)) || created == nullptr) {
        RwFree(copy);
        return FALSE;
    }
    std::memcpy(copy, elements, bytes);
    RwD3D9DeclarationEntry &e = Declarations[NumDeclarations++];
    e.declaration = created;
    e.numElements = count;
    e.elements = static_cast<D3DVERTEXELEMENT9 *>(copy);
    created->AddRef();
    *declaration = created;
    return TRUE;
}

void RwD3D9DeleteVertexDeclaration(void *declaration)
{
    if (declaration == nullptr)
        return;
    for (RwUInt32 i = 0; i < NumDeclarations; i++) {
        RwD3D9DeclarationEntry &e = Declarations[i];
        if (e.declaration != declaration || e.numElements == 0)
            continue;
        // When only the entry's own reference is left, the declaration goes;
        // the element copy stays for a later re-creation.
        if (e.declaration->Release() == 1) {
            e.declaration->Release();
            e.declaration = nullptr;
            if (rwD3D9Cache.lastDeclaration == declaration)
                rwD3D9Cache.lastDeclaration = rwD3D9UNKNOWN;
        }
        return;
    }
    // An entry of a stopped device holds no reference of its own: it goes
    // with its last user's.
    for (RwUInt32 i = 0; i < NumDeclarations; i++) {
        RwD3D9DeclarationEntry &e = Declarations[i];
        if (e.declaration == declaration) {
            if (e.declaration->Release() == 0)
                RemoveDeclarationEntry(i);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Transforms

static RwBool SameMatrix(const D3DMATRIX *a, const D3DMATRIX *b)
{
    return std::memcmp(a, b, sizeof(D3DMATRIX)) == 0;
}

RwBool RwD3D9SetTransform(RwUInt32 state, const void *matrix)
{
    if (state >= rwD3D9NUMTRANSFORMS || TransformFreeList == nullptr)
        return FALSE;
    const D3DMATRIX *m = matrix ? static_cast<const D3DMATRIX *>(matrix) : &IdentityMatrix;
    D3DMATRIX *&entry = Transforms[state];
    if (entry && TransformSent[state] && SameMatrix(entry, m)) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    if (entry == nullptr) {
        entry = static_cast<D3DMATRIX *>(RwFreeListAlloc(TransformFreeList, rwD3D9TRANSFORMHINT));
        if (entry == nullptr)
            return FALSE;
    }
    *entry = *m;
    if (state == rwD3D9TRANSFORMWORLD)
        WorldIsIdentity = SameMatrix(m, &IdentityMatrix);
    return TransformAnswered(state, Device()->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(state), m));
}

void RwD3D9GetTransform(RwUInt32 state, void *matrix)
{
    if (matrix == nullptr)
        return;
    const D3DMATRIX *m = (state < rwD3D9NUMTRANSFORMS && Transforms[state]) ? Transforms[state] : &IdentityMatrix;
    std::memcpy(matrix, m, sizeof(D3DMATRIX));
}

RwBool RwD3D9WorldIsIdentity(void)
{
    return WorldIsIdentity;
}

RwBool RwD3D9SetTransformWorld(const RwMatrix *matrix)
{
    D3DMATRIX *world = Transforms[rwD3D9TRANSFORMWORLD];
    if (world == nullptr)
        return FALSE;
    if (matrix == nullptr || (matrix->flags & rwD3D9MATRIXIDENTITY)) {
        if (WorldIsIdentity) {
            rwD3D9FilteredStateCalls++;
            return TRUE;
        }
        *world = IdentityMatrix;
        WorldIsIdentity = TRUE;
        return TransformAnswered(rwD3D9TRANSFORMWORLD, Device()->SetTransform(D3DTS_WORLD, &IdentityMatrix));
    }
    // Rows right, up, at and position; the fourth column stays (0, 0, 0, 1).
    const RwV3d *rows[4] = {&matrix->right, &matrix->up, &matrix->at, &matrix->pos};
    for (int r = 0; r < 4; r++) {
        WorldBuffer.m[r][0] = rows[r]->x;
        WorldBuffer.m[r][1] = rows[r]->y;
        WorldBuffer.m[r][2] = rows[r]->z;
    }
    if (!WorldIsIdentity && TransformSent[rwD3D9TRANSFORMWORLD] && SameMatrix(world, &WorldBuffer)) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    *world = WorldBuffer;
    WorldIsIdentity = FALSE;
    return TransformAnswered(rwD3D9TRANSFORMWORLD, Device()->SetTransform(D3DTS_WORLD, &WorldBuffer));
}

// ---------------------------------------------------------------------------
// Lights

RwBool RwD3D9SetLight(RwInt32 index, const D3DLIGHT9 *light)
{
    if (index < 0 || index >= rwD3D9MAXLIGHTS || light == nullptr)
        return FALSE;
    if (index < NumLights && std::memcmp(&Lights[index].light, light, sizeof(D3DLIGHT9)) == 0) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    const RwInt32 held = NumLights;
    if (index >= NumLights) {
        RwInt32 count = index + 1;
        size_t bytes = static_cast<size_t>(count) * sizeof(RwD3D9LightRecord);
        void *grown = Lights ? RwRealloc(Lights, bytes, rwD3D9LIGHTHINT) : RwMalloc(bytes, rwD3D9LIGHTHINT);
        if (grown == nullptr)
            return FALSE;
        Lights = static_cast<RwD3D9LightRecord *>(grown);
        // New records are disabled and hold no light (type 0 matches none).
        std::memset(&Lights[NumLights], 0, static_cast<size_t>(count - NumLights) * sizeof(RwD3D9LightRecord));
        NumLights = count;
    }
    // A refused light leaves the device as it was, and so the store: the
    // records made for it go again (their room stays for the next growth).
    if (FAILED(Device()->SetLight(index, light))) {
        NumLights = held;
        return FALSE;
    }
    Lights[index].light = *light;
    return TRUE;
}

RwBool RwD3D9EnableLight(RwInt32 index, RwBool enable)
{
    RwInt32 flag = enable ? 1 : 0;
    // Only a light the store knows the device holds is switched on: on any
    // other index the device would make and enable a default light of its
    // own. Nothing the store switched on lies past it.
    if (index < 0 || index >= NumLights)
        return !flag;
    if (flag && Lights[index].light.Type == 0)
        return FALSE;
    if (Lights[index].enabled == flag) {
        rwD3D9FilteredStateCalls++;
        return TRUE;
    }
    if (FAILED(Device()->LightEnable(index, flag)))
        return FALSE;
    Lights[index].enabled = flag;
    return TRUE;
}

RwInt32 RwD3D9GetNumLights(void)
{
    return NumLights;
}

const RwD3D9LightRecord *RwD3D9GetLightRecord(RwInt32 index)
{
    return (index >= 0 && index < NumLights) ? &Lights[index] : nullptr;
}

// ---------------------------------------------------------------------------
// Queries and hooks

const D3DCAPS9 *RwD3D9GetCaps(void)
{
    return &rwD3D9Driver.caps;
}

RwBool RwD3D9CameraIsSphereFullyInsideFrustum(const RwCamera *camera, const RwSphere *sphere)
{
    for (const RwFrustumPlane &p : camera->frustumPlanes) {
        const RwV3d &n = p.plane.normal;
        RwReal s = n.x * sphere->center.x + n.y * sphere->center.y + n.z * sphere->center.z - p.plane.distance;
        if (s > -sphere->radius)
            return FALSE;
    }
    return TRUE;
}

RwBool RwD3D9CameraIsBBoxFullyInsideFrustum(const RwCamera *camera, const RwBBox *box)
{
    for (const RwFrustumPlane &p : camera->frustumPlanes) {
        // The corner furthest along the normal decides.
        RwV3d corner = {p.closestX ? box->sup.x : box->inf.x, p.closestY ? box->sup.y : box->inf.y,
                        p.closestZ ? box->sup.z : box->inf.z};
        const RwV3d &n = p.plane.normal;
        if (n.x * corner.x + n.y * corner.y + n.z * corner.z > p.plane.distance)
            return FALSE;
    }
    return TRUE;
}

RwBool RwD3D9SetRenderTarget(RwUInt32 index, RwRaster *raster)
{
    if (index >= rwD3D9NUMRENDERTARGETS)
        return FALSE;
    IDirect3DSurface9 *surface = nullptr;
    if (raster) {
        surface = RwD3D9RasterGetTextureSurface(raster->parent);
        if (surface == nullptr)
            return FALSE;
    }
    RwBool ok = RwD3D9SetRenderTargetSurface(index, surface);
    if (surface)
        surface->Release();
    return ok;
}

void RwD3D9SetDeviceRestoreCallback(RwD3D9DeviceRestoreCallBack callback)
{
    RestoreCallback = callback;
}

RwD3D9DeviceRestoreCallBack RwD3D9GetDeviceRestoreCallback(void)
{
    return RestoreCallback;
}

void RwD3D9SetDeviceReleaseCallback(RwD3D9DeviceRestoreCallBack callback)
{
    ReleaseCallback = callback;
}

RwD3D9DeviceRestoreCallBack RwD3D9GetDeviceReleaseCallback(void)
{
    return ReleaseCallback;
}

IDirect3DDevice9 *RwD3D9GetCurrentD3DDevice(void)
{
    // Outside code may change any state: every cache must reach the device
    // again. The light store stays, so that lights enabled on the device can
    // still be switched off through it, but no record is taken for what the
    // device holds: the next set and the next enable of each are sent.
    for (RwInt32 i = 0; i < NumLights; i++) {
        Lights[i].light.Type = static_cast<D3DLIGHTTYPE>(0);
        Lights[i].enabled = rwD3D9LIGHTUNKNOWN;
    }
    RwD3D9StateResetTargets();
    RwD3D9StateResetCaches();
    RwD3D9RenderStateCacheHandOut();
    return rwD3D9Driver.device;
}
