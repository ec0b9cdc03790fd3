// One frame of the calls made on a Direct3D 9 device, captured from the device itself and replayed straight to it.
#include "devicecapture.h"

#include <cstring>
#include <map>

namespace {

// Places of the methods in the interfaces' tables (the order of d3d9.h).
enum DeviceMethod {
    kTestCooperativeLevel = 3, kPresent = 17, kStretchRect = 34, kColorFill = 35, kSetRenderTarget = 37,
    kSetDepthStencilSurface = 39, kBeginScene = 41, kEndScene = 42, kClear = 43, kSetTransform = 44,
    kSetViewport = 47, kSetMaterial = 49, kSetLight = 51, kLightEnable = 53, kSetClipPlane = 55,
    kSetRenderState = 57, kSetTexture = 65, kSetTextureStageState = 67, kSetSamplerState = 69,
    kSetCurrentTexturePalette = 73, kSetScissorRect = 75, kDrawPrimitive = 81, kDrawIndexedPrimitive = 82,
    kDrawPrimitiveUP = 83, kDrawIndexedPrimitiveUP = 84, kSetVertexDeclaration = 87, kSetFVF = 89,
    kSetVertexShader = 92, kSetVertexShaderConstantF = 94, kSetStreamSource = 100, kSetStreamSourceFreq = 102,
    kSetIndices = 104, kSetPixelShader = 107, kSetPixelShaderConstantF = 109, kDeviceMethods = 119,
};
enum BufferMethod { kLock = 11, kUnlock = 12, kBufferMethods = 14 };

// Recorded operations; the state setters come first.
enum Op {
    OpRenderState, OpStageState, OpSampler, OpTexture, OpMaterial, OpLight, OpLightEnable, OpTransform,
    OpViewport, OpVertexConstants, OpPixelConstants, OpVertexShader, OpPixelShader, OpDeclaration, OpFVF,
    OpStream, OpIndices, OpRenderTarget, OpDepthStencil, OpScissor, OpPalette,
    OpLastState = OpPalette,
    OpClear, OpBeginScene, OpEndScene, OpPresent, OpCooperative, OpDraw, OpDrawIndexed, OpDrawUP,
    OpDrawIndexedUP, OpLockVertices, OpLockIndices,
    OpStretchRect, OpColorFill, OpClipPlane, OpStreamFrequency,   // noted, not replayed
    OpCount,
};
const Op kFirstUnreplayed = OpStretchRect;

const char *const kOpNames[OpCount] = {
    "SetRenderState", "SetTextureStageState", "SetSamplerState", "SetTexture", "SetMaterial", "SetLight",
    "LightEnable", "SetTransform", "SetViewport", "SetVertexShaderConstantF", "SetPixelShaderConstantF",
    "SetVertexShader", "SetPixelShader", "SetVertexDeclaration", "SetFVF", "SetStreamSource", "SetIndices",
    "SetRenderTarget", "SetDepthStencilSurface", "SetScissorRect", "SetCurrentTexturePalette", "Clear",
    "BeginScene", "EndScene", "Present", "TestCooperativeLevel", "DrawPrimitive", "DrawIndexedPrimitive",
    "DrawPrimitiveUP", "DrawIndexedPrimitiveUP", "vertex buffer Lock", "index buffer Lock", "StretchRect",
    "ColorFill", "SetClipPlane", "SetStreamSourceFreq",
};

DeviceCapture *Active;
void **DeviceTable;                  // the device's own table
void *DeviceCopy[kDeviceMethods];    // the recording table

// A buffer wearing the recording table, and its pending lock.
struct Patched {
    void **table;
    bool vertices;
    UINT offset, size;
    DWORD flags;
    void *pointer;
};
std::map<IUnknown *, Patched> Buffers;
std::map<void **, std::vector<void *>> BufferCopies;   // by original table

template <typename Fn>
Fn Original(int method)
{
    return reinterpret_cast<Fn>(DeviceTable[method]);
}

void **&TableOf(void *object)
{
    return *static_cast<void ***>(object);
}

typedef IDirect3DDevice9 Dev;

DeviceCapture::Call Make(int op, DWORD a0 = 0, DWORD a1 = 0, DWORD a2 = 0, DWORD a3 = 0, DWORD a4 = 0,
                         DWORD a5 = 0)
{
    DeviceCapture::Call c = {};
    c.op = op;
    c.a[0] = a0, c.a[1] = a1, c.a[2] = a2, c.a[3] = a3, c.a[4] = a4, c.a[5] = a5;
    return c;
}

DWORD Bits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

bool Recording()
{
    return Active && Active->recording;
}

// ---------------------------------------------------------------------------
// Buffers: bound ones get the recording table; the device checks a buffer's
// table when it is bound, so binding goes through with the buffer's own.

HRESULT STDMETHODCALLTYPE BufferLock(IUnknown *self, UINT offset, UINT size, void **pointer, DWORD flags)
{
    Patched &p = Buffers[self];
    typedef HRESULT(STDMETHODCALLTYPE * Fn)(IUnknown *, UINT, UINT, void **, DWORD);
    const HRESULT hr = reinterpret_cast<Fn>(p.table[kLock])(self, offset, size, pointer, flags);
    p.offset = offset, p.size = size, p.flags = flags;
    p.pointer = SUCCEEDED(hr) && pointer ? *pointer : nullptr;
    return hr;
}

// Bytes from the offset to the buffer's end: what a lock of size 0 covers.
UINT BytesFrom(IUnknown *buffer, bool vertices, UINT offset)
{
    D3DVERTEXBUFFER_DESC vd = {};
    D3DINDEXBUFFER_DESC id = {};
    const UINT size = vertices ? (SUCCEEDED(static_cast<IDirect3DVertexBuffer9 *>(buffer)->GetDesc(&vd)) ? vd.Size : 0)
                               : (SUCCEEDED(static_cast<IDirect3DIndexBuffer9 *>(buffer)->GetDesc(&id)) ? id.Size : 0);
    return size > offset ? size - offset : 0;
}

HRESULT STDMETHODCALLTYPE BufferUnlock(IUnknown *self)
{
    Patched &p = Buffers[self];
    if (Recording() && p.pointer) {
        const UINT size = p.size ? p.size : BytesFrom(self, p.vertices, p.offset);
        // A read submits nothing: the replay leaves it out (it stays counted).
        const bool read = p.flags & D3DLOCK_READONLY;
        DeviceCapture::Call c = Make(p.vertices ? OpLockVertices : OpLockIndices, p.offset, size, p.flags);
        c.object = self;
        c.size = read ? 0 : size;
        Active->Note(c, read ? nullptr : p.pointer);
    }
    p.pointer = nullptr;
    typedef HRESULT(STDMETHODCALLTYPE * Fn)(IUnknown *);
    return reinterpret_cast<Fn>(p.table[kUnlock])(self);
}

void Watch(IUnknown *buffer, bool vertices)
{
    if (!buffer || Buffers.count(buffer))
        return;
    void **table = TableOf(buffer);
    std::vector<void *> &copy = BufferCopies[table];
    if (copy.empty()) {
        copy.assign(table, table + kBufferMethods);
        copy[kLock] = reinterpret_cast<void *>(BufferLock);
        copy[kUnlock] = reinterpret_cast<void *>(BufferUnlock);
    }
    buffer->AddRef();
    Buffers[buffer] = {table, vertices, 0, 0, 0, nullptr};
    TableOf(buffer) = copy.data();
}

// Runs the call with the buffer wearing its own table.
template <typename Call>
HRESULT Unmasked(IUnknown *buffer, Call call)
{
    auto found = buffer ? Buffers.find(buffer) : Buffers.end();
    if (found == Buffers.end())
        return call();
    void **mine = TableOf(buffer);
    TableOf(buffer) = found->second.table;
    const HRESULT hr = call();
    TableOf(buffer) = mine;
    return hr;
}

// ---------------------------------------------------------------------------
// Device entries: each notes the call (with whether it changes anything) and passes it on.

void NoteState(DeviceCapture::Call c, bool same, const void *bytes = nullptr)
{
    c.redundant = same;
    Active->Note(c, bytes);
}

template <typename T>
void Drop(T *object)
{
    if (object)
        object->Release();
}

// Setters of one bound object: the getter's answer decides redundancy.
template <typename T, typename Get>
void NoteBound(int op, T *object, Get get, DWORD index = 0)
{
    if (!Recording())
        return;
    T *now = nullptr;
    const bool known = SUCCEEDED(get(&now));
    Drop(now);
    DeviceCapture::Call c = Make(op, index);
    c.object = object;
    NoteState(c, known && now == object);
}

// Setters of one structure: compared byte by byte with what the device holds.
template <typename T, typename Get>
void NoteValue(int op, const T *value, Get get, DWORD index = 0)
{
    if (!Recording() || !value)
        return;
    T now;
    const bool known = SUCCEEDED(get(&now));
    DeviceCapture::Call c = Make(op, index);
    c.size = sizeof(T);
    NoteState(c, known && std::memcmp(&now, value, sizeof(T)) == 0, value);
}

HRESULT STDMETHODCALLTYPE HookSetRenderState(Dev *self, D3DRENDERSTATETYPE s, DWORD v)
{
    if (Recording()) {
        DWORD now = 0;
        const bool known = SUCCEEDED(Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DRENDERSTATETYPE, DWORD *)>(
            kSetRenderState + 1)(self, s, &now));
        NoteState(Make(OpRenderState, s, v), known && now == v);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DRENDERSTATETYPE, DWORD)>(kSetRenderState)(self, s, v);
}

HRESULT STDMETHODCALLTYPE HookSetTextureStageState(Dev *self, DWORD stage, D3DTEXTURESTAGESTATETYPE t, DWORD v)
{
    if (Recording()) {
        DWORD now = 0;
        const bool known = SUCCEEDED(self->GetTextureStageState(stage, t, &now));
        NoteState(Make(OpStageState, stage, t, v), known && now == v);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, D3DTEXTURESTAGESTATETYPE, DWORD)>(
        kSetTextureStageState)(self, stage, t, v);
}

HRESULT STDMETHODCALLTYPE HookSetSamplerState(Dev *self, DWORD sampler, D3DSAMPLERSTATETYPE t, DWORD v)
{
    if (Recording()) {
        DWORD now = 0;
        const bool known = SUCCEEDED(self->GetSamplerState(sampler, t, &now));
        NoteState(Make(OpSampler, sampler, t, v), known && now == v);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, D3DSAMPLERSTATETYPE, DWORD)>(kSetSamplerState)(
        self, sampler, t, v);
}

HRESULT STDMETHODCALLTYPE HookSetTexture(Dev *self, DWORD stage, IDirect3DBaseTexture9 *texture)
{
    NoteBound(OpTexture, texture, [self, stage](IDirect3DBaseTexture9 **now) { return self->GetTexture(stage, now); },
              stage);
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, IDirect3DBaseTexture9 *)>(kSetTexture)(self, stage,
                                                                                                     texture);
}

HRESULT STDMETHODCALLTYPE HookSetMaterial(Dev *self, const D3DMATERIAL9 *m)
{
    NoteValue(OpMaterial, m, [self](D3DMATERIAL9 *now) { return self->GetMaterial(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, const D3DMATERIAL9 *)>(kSetMaterial)(self, m);
}

HRESULT STDMETHODCALLTYPE HookSetLight(Dev *self, DWORD index, const D3DLIGHT9 *light)
{
    NoteValue(OpLight, light, [self, index](D3DLIGHT9 *now) { return self->GetLight(index, now); }, index);
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, const D3DLIGHT9 *)>(kSetLight)(self, index, light);
}

HRESULT STDMETHODCALLTYPE HookLightEnable(Dev *self, DWORD index, WINBOOL enable)
{
    if (Recording()) {
        WINBOOL now = FALSE;
        const bool known = SUCCEEDED(self->GetLightEnable(index, &now));
        NoteState(Make(OpLightEnable, index, enable), known && !now == !enable);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, WINBOOL)>(kLightEnable)(self, index, enable);
}

HRESULT STDMETHODCALLTYPE HookSetTransform(Dev *self, D3DTRANSFORMSTATETYPE state, const D3DMATRIX *m)
{
    NoteValue(OpTransform, m, [self, state](D3DMATRIX *now) { return self->GetTransform(state, now); }, state);
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DTRANSFORMSTATETYPE, const D3DMATRIX *)>(kSetTransform)(
        self, state, m);
}

HRESULT STDMETHODCALLTYPE HookSetViewport(Dev *self, const D3DVIEWPORT9 *v)
{
    NoteValue(OpViewport, v, [self](D3DVIEWPORT9 *now) { return self->GetViewport(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, const D3DVIEWPORT9 *)>(kSetViewport)(self, v);
}

// Constants: compared word by word with what the registers already hold.
template <typename Get>
void NoteConstants(int op, UINT start, const float *data, UINT count, Get get)
{
    if (!Recording() || !data)
        return;
    std::vector<float> now(4 * count);
    const bool same = SUCCEEDED(get(start, now.data(), count)) && std::memcmp(now.data(), data, 16 * count) == 0;
    DeviceCapture::Call c = Make(op, start, count);
    c.size = 16 * count;
    NoteState(c, same, data);
}

typedef HRESULT(STDMETHODCALLTYPE *SetConstants)(Dev *, UINT, const float *, UINT);

HRESULT STDMETHODCALLTYPE HookSetVertexShaderConstantF(Dev *self, UINT start, const float *data, UINT count)
{
    NoteConstants(OpVertexConstants, start, data, count,
                  [self](UINT s, float *d, UINT n) { return self->GetVertexShaderConstantF(s, d, n); });
    return Original<SetConstants>(kSetVertexShaderConstantF)(self, start, data, count);
}

HRESULT STDMETHODCALLTYPE HookSetPixelShaderConstantF(Dev *self, UINT start, const float *data, UINT count)
{
    NoteConstants(OpPixelConstants, start, data, count,
                  [self](UINT s, float *d, UINT n) { return self->GetPixelShaderConstantF(s, d, n); });
    return Original<SetConstants>(kSetPixelShaderConstantF)(self, start, data, count);
}

HRESULT STDMETHODCALLTYPE HookSetVertexShader(Dev *self, IDirect3DVertexShader9 *shader)
{
    NoteBound(OpVertexShader, shader, [self](IDirect3DVertexShader9 **now) { return self->GetVertexShader(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DVertexShader9 *)>(kSetVertexShader)(self, shader);
}

HRESULT STDMETHODCALLTYPE HookSetPixelShader(Dev *self, IDirect3DPixelShader9 *shader)
{
    NoteBound(OpPixelShader, shader, [self](IDirect3DPixelShader9 **now) { return self->GetPixelShader(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DPixelShader9 *)>(kSetPixelShader)(self, shader);
}

HRESULT STDMETHODCALLTYPE HookSetVertexDeclaration(Dev *self, IDirect3DVertexDeclaration9 *d)
{
    NoteBound(OpDeclaration, d, [self](IDirect3DVertexDeclaration9 **now) { return self->GetVertexDeclaration(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DVertexDeclaration9 *)>(kSetVertexDeclaration)(self,
                                                                                                              d);
}

HRESULT STDMETHODCALLTYPE HookSetFVF(Dev *self, DWORD fvf)
{
    if (Recording()) {
        DWORD now = 0;
        NoteState(Make(OpFVF, fvf), SUCCEEDED(self->GetFVF(&now)) && now == fvf);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD)>(kSetFVF)(self, fvf);
}

HRESULT STDMETHODCALLTYPE HookSetStreamSource(Dev *self, UINT n, IDirect3DVertexBuffer9 *buffer, UINT offset,
                                              UINT stride)
{
    Watch(buffer, true);
    if (Recording()) {
        IDirect3DVertexBuffer9 *now = nullptr;
        UINT nowOffset = 0, nowStride = 0;
        const bool known = SUCCEEDED(self->GetStreamSource(n, &now, &nowOffset, &nowStride));
        Drop(now);
        DeviceCapture::Call c = Make(OpStream, n, offset, stride);
        c.object = buffer;
        NoteState(c, known && now == buffer && (!buffer || (nowOffset == offset && nowStride == stride)));
    }
    return Unmasked(buffer, [&] {
        return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, UINT, IDirect3DVertexBuffer9 *, UINT, UINT)>(
            kSetStreamSource)(self, n, buffer, offset, stride);
    });
}

HRESULT STDMETHODCALLTYPE HookSetIndices(Dev *self, IDirect3DIndexBuffer9 *buffer)
{
    Watch(buffer, false);
    NoteBound(OpIndices, buffer, [self](IDirect3DIndexBuffer9 **now) { return self->GetIndices(now); });
    return Unmasked(buffer, [&] {
        return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DIndexBuffer9 *)>(kSetIndices)(self, buffer);
    });
}

HRESULT STDMETHODCALLTYPE HookSetRenderTarget(Dev *self, DWORD index, IDirect3DSurface9 *surface)
{
    NoteBound(OpRenderTarget, surface, [self, index](IDirect3DSurface9 **now) { return self->GetRenderTarget(index, now); },
              index);
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, IDirect3DSurface9 *)>(kSetRenderTarget)(self, index,
                                                                                                      surface);
}

HRESULT STDMETHODCALLTYPE HookSetDepthStencilSurface(Dev *self, IDirect3DSurface9 *surface)
{
    NoteBound(OpDepthStencil, surface, [self](IDirect3DSurface9 **now) { return self->GetDepthStencilSurface(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DSurface9 *)>(kSetDepthStencilSurface)(self, surface);
}

HRESULT STDMETHODCALLTYPE HookSetScissorRect(Dev *self, const RECT *rect)
{
    NoteValue(OpScissor, rect, [self](RECT *now) { return self->GetScissorRect(now); });
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, const RECT *)>(kSetScissorRect)(self, rect);
}

HRESULT STDMETHODCALLTYPE HookSetCurrentTexturePalette(Dev *self, UINT palette)
{
    if (Recording()) {
        UINT now = 0;
        NoteState(Make(OpPalette, palette), SUCCEEDED(self->GetCurrentTexturePalette(&now)) && now == palette);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, UINT)>(kSetCurrentTexturePalette)(self, palette);
}

HRESULT STDMETHODCALLTYPE HookClear(Dev *self, DWORD count, const D3DRECT *rects, DWORD flags, D3DCOLOR colour,
                                    float z, DWORD stencil)
{
    if (Recording()) {
        DeviceCapture::Call c = Make(OpClear, rects ? count : 0, flags, colour, Bits(z), stencil);
        c.size = rects ? count * sizeof(D3DRECT) : 0;
        Active->Note(c, rects);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, const D3DRECT *, DWORD, D3DCOLOR, float, DWORD)>(
        kClear)(self, count, rects, flags, colour, z, stencil);
}

HRESULT STDMETHODCALLTYPE HookBeginScene(Dev *self)
{
    if (Recording())
        Active->Note(Make(OpBeginScene));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *)>(kBeginScene)(self);
}

HRESULT STDMETHODCALLTYPE HookEndScene(Dev *self)
{
    if (Recording())
        Active->Note(Make(OpEndScene));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *)>(kEndScene)(self);
}

HRESULT STDMETHODCALLTYPE HookTestCooperativeLevel(Dev *self)
{
    if (Recording())
        Active->Note(Make(OpCooperative));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *)>(kTestCooperativeLevel)(self);
}

HRESULT STDMETHODCALLTYPE HookPresent(Dev *self, const RECT *src, const RECT *dst, HWND window, const RGNDATA *dirty)
{
    if (Recording()) {
        // The rectangles go into the byte store: source then destination.
        DeviceCapture::Call c = Make(OpPresent, src != nullptr, dst != nullptr, static_cast<DWORD>(
                                                                                   reinterpret_cast<UINT_PTR>(window)));
        c.size = src ? sizeof(RECT) : 0;
        c.size2 = dst ? sizeof(RECT) : 0;
        Active->Note(c, src, dst);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, const RECT *, const RECT *, HWND, const RGNDATA *)>(kPresent)(
        self, src, dst, window, dirty);
}

HRESULT STDMETHODCALLTYPE HookDrawPrimitive(Dev *self, D3DPRIMITIVETYPE type, UINT start, UINT count)
{
    if (Recording())
        Active->Note(Make(OpDraw, type, start, count));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DPRIMITIVETYPE, UINT, UINT)>(kDrawPrimitive)(self, type,
                                                                                                      start, count);
}

HRESULT STDMETHODCALLTYPE HookDrawIndexedPrimitive(Dev *self, D3DPRIMITIVETYPE type, INT base, UINT minIndex,
                                                   UINT vertices, UINT start, UINT count)
{
    if (Recording())
        Active->Note(Make(OpDrawIndexed, type, static_cast<DWORD>(base), minIndex, vertices, start, count));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT)>(
        kDrawIndexedPrimitive)(self, type, base, minIndex, vertices, start, count);
}

UINT PrimitiveVertices(D3DPRIMITIVETYPE type, UINT count)
{
    switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return 2 * count;
    case D3DPT_LINESTRIP: return count + 1;
    case D3DPT_TRIANGLELIST: return 3 * count;
    default: return count + 2;   // strips and fans
    }
}

HRESULT STDMETHODCALLTYPE HookDrawPrimitiveUP(Dev *self, D3DPRIMITIVETYPE type, UINT count, const void *data,
                                              UINT stride)
{
    if (Recording() && data) {
        DeviceCapture::Call c = Make(OpDrawUP, type, count, stride);
        c.size = PrimitiveVertices(type, count) * stride;
        Active->Note(c, data);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DPRIMITIVETYPE, UINT, const void *, UINT)>(
        kDrawPrimitiveUP)(self, type, count, data, stride);
}

HRESULT STDMETHODCALLTYPE HookDrawIndexedPrimitiveUP(Dev *self, D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices,
                                                     UINT count, const void *indices, D3DFORMAT format,
                                                     const void *data, UINT stride)
{
    if (Recording() && indices && data) {
        DeviceCapture::Call c = Make(OpDrawIndexedUP, type, minIndex, vertices, count, format, stride);
        c.size = PrimitiveVertices(type, count) * (format == D3DFMT_INDEX32 ? 4 : 2);
        c.size2 = (minIndex + vertices) * stride;
        Active->Note(c, indices, data);
    }
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, D3DPRIMITIVETYPE, UINT, UINT, UINT, const void *, D3DFORMAT,
                                                 const void *, UINT)>(kDrawIndexedPrimitiveUP)(
        self, type, minIndex, vertices, count, indices, format, data, stride);
}

// Calls a frame should not need; they are counted so that a replay that
// misses them shows it.
HRESULT STDMETHODCALLTYPE HookStretchRect(Dev *self, IDirect3DSurface9 *src, const RECT *srcRect,
                                          IDirect3DSurface9 *dst, const RECT *dstRect, D3DTEXTUREFILTERTYPE filter)
{
    if (Recording())
        Active->Note(Make(OpStretchRect));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DSurface9 *, const RECT *, IDirect3DSurface9 *,
                                                 const RECT *, D3DTEXTUREFILTERTYPE)>(kStretchRect)(
        self, src, srcRect, dst, dstRect, filter);
}

HRESULT STDMETHODCALLTYPE HookColorFill(Dev *self, IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR colour)
{
    if (Recording())
        Active->Note(Make(OpColorFill));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, IDirect3DSurface9 *, const RECT *, D3DCOLOR)>(kColorFill)(
        self, surface, rect, colour);
}

HRESULT STDMETHODCALLTYPE HookSetClipPlane(Dev *self, DWORD index, const float *plane)
{
    if (Recording())
        Active->Note(Make(OpClipPlane));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, DWORD, const float *)>(kSetClipPlane)(self, index, plane);
}

HRESULT STDMETHODCALLTYPE HookSetStreamSourceFreq(Dev *self, UINT n, UINT divider)
{
    if (Recording())
        Active->Note(Make(OpStreamFrequency));
    return Original<HRESULT(STDMETHODCALLTYPE *)(Dev *, UINT, UINT)>(kSetStreamSourceFreq)(self, n, divider);
}

void Hook(int method, void *entry)
{
    DeviceCopy[method] = entry;
}

template <typename Fn>
void *Entry(Fn fn)
{
    return reinterpret_cast<void *>(fn);
}

void FillDeviceCopy(void)
{
    std::memcpy(DeviceCopy, DeviceTable, sizeof(DeviceCopy));
    Hook(kSetRenderState, Entry(HookSetRenderState));
    Hook(kSetTextureStageState, Entry(HookSetTextureStageState));
    Hook(kSetSamplerState, Entry(HookSetSamplerState));
    Hook(kSetTexture, Entry(HookSetTexture));
    Hook(kSetMaterial, Entry(HookSetMaterial));
    Hook(kSetLight, Entry(HookSetLight));
    Hook(kLightEnable, Entry(HookLightEnable));
    Hook(kSetTransform, Entry(HookSetTransform));
    Hook(kSetViewport, Entry(HookSetViewport));
    Hook(kSetVertexShaderConstantF, Entry(HookSetVertexShaderConstantF));
    Hook(kSetPixelShaderConstantF, Entry(HookSetPixelShaderConstantF));
    Hook(kSetVertexShader, Entry(HookSetVertexShader));
    Hook(kSetPixelShader, Entry(HookSetPixelShader));
    Hook(kSetVertexDeclaration, Entry(HookSetVertexDeclaration));
    Hook(kSetFVF, Entry(HookSetFVF));
    Hook(kSetStreamSource, Entry(HookSetStreamSource));
    Hook(kSetIndices, Entry(HookSetIndices));
    Hook(kSetRenderTarget, Entry(HookSetRenderTarget));
    Hook(kSetDepthStencilSurface, Entry(HookSetDepthStencilSurface));
    Hook(kSetScissorRect, Entry(HookSetScissorRect));
    Hook(kSetCurrentTexturePalette, Entry(HookSetCurrentTexturePalette));
    Hook(kClear, Entry(HookClear));
    Hook(kBeginScene, Entry(HookBeginScene));
    Hook(kEndScene, Entry(HookEndScene));
    Hook(kTestCooperativeLevel, Entry(HookTestCooperativeLevel));
    Hook(kPresent, Entry(HookPresent));
    Hook(kDrawPrimitive, Entry(HookDrawPrimitive));
    Hook(kDrawIndexedPrimitive, Entry(HookDrawIndexedPrimitive));
    Hook(kDrawPrimitiveUP, Entry(HookDrawPrimitiveUP));
    Hook(kDrawIndexedPrimitiveUP, Entry(HookDrawIndexedPrimitiveUP));
    Hook(kStretchRect, Entry(HookStretchRect));
    Hook(kColorFill, Entry(HookColorFill));
    Hook(kSetClipPlane, Entry(HookSetClipPlane));
    Hook(kSetStreamSourceFreq, Entry(HookSetStreamSourceFreq));
}

template <typename Buffer>
void Upload(Buffer *buffer, const DeviceCapture::Call &c, const BYTE *bytes)
{
    void *p = nullptr;
    if (!(c.a[2] & D3DLOCK_READONLY) && SUCCEEDED(buffer->Lock(c.a[0], c.a[1], &p, c.a[2]))) {
        if (p)
            std::memcpy(p, bytes, c.size);
        buffer->Unlock();
    }
}

std::string ByMethod(const std::vector<DeviceCapture::Call> &calls, bool (*counted)(const DeviceCapture::Call &))
{
    int n[OpCount] = {};
    for (const DeviceCapture::Call &c : calls)
        n[c.op] += counted(c);
    std::string s;
    for (int op = 0; op < OpCount; op++) {
        if (n[op])
            s += (s.empty() ? "" : ", ") + std::string(kOpNames[op]) + " " + std::to_string(n[op]);
    }
    return s.empty() ? "none" : s;
}

}  // namespace

DeviceCapture::~DeviceCapture()
{
    Detach();
    Clear();
}

bool DeviceCapture::Attach(IDirect3DDevice9 *d)
{
    if (Active || !d)
        return false;
    Active = this;
    device = d;
    DeviceTable = TableOf(d);
    FillDeviceCopy();
    TableOf(d) = DeviceCopy;
    return true;
}

void DeviceCapture::Detach()
{
    if (Active != this)
        return;
    recording = false;
    TableOf(device) = DeviceTable;
    for (auto &b : Buffers) {
        TableOf(b.first) = b.second.table;
        b.first->Release();
    }
    Buffers.clear();
    BufferCopies.clear();
    Active = nullptr;
}

void DeviceCapture::Clear()
{
    for (const Call &c : m_calls) {
        if (c.object)
            c.object->Release();
    }
    m_calls.clear();
    m_bytes.clear();
}

void DeviceCapture::Start()
{
    Clear();
    recording = true;
}

void DeviceCapture::Stop()
{
    recording = false;
}

void DeviceCapture::Note(const Call &call, const void *bytes, const void *bytes2)
{
    Call c = call;
    c.data = m_bytes.size();
    if (bytes)
        m_bytes.insert(m_bytes.end(), static_cast<const BYTE *>(bytes), static_cast<const BYTE *>(bytes) + c.size);
    c.data2 = m_bytes.size();
    if (bytes2)
        m_bytes.insert(m_bytes.end(), static_cast<const BYTE *>(bytes2), static_cast<const BYTE *>(bytes2) + c.size2);
    if (c.object)
        c.object->AddRef();
    m_calls.push_back(c);
}

void DeviceCapture::Replay(bool present) const
{
    IDirect3DDevice9 *d = device;
    const BYTE *bytes = m_bytes.data();
    for (const Call &c : m_calls) {
        const BYTE *data = bytes + c.data;
        const DWORD *a = c.a;
        switch (c.op) {
        case OpRenderState: d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(a[0]), a[1]); break;
        case OpStageState:
            d->SetTextureStageState(a[0], static_cast<D3DTEXTURESTAGESTATETYPE>(a[1]), a[2]);
            break;
        case OpSampler: d->SetSamplerState(a[0], static_cast<D3DSAMPLERSTATETYPE>(a[1]), a[2]); break;
        case OpTexture: d->SetTexture(a[0], static_cast<IDirect3DBaseTexture9 *>(c.object)); break;
        case OpMaterial: d->SetMaterial(reinterpret_cast<const D3DMATERIAL9 *>(data)); break;
        case OpLight: d->SetLight(a[0], reinterpret_cast<const D3DLIGHT9 *>(data)); break;
        case OpLightEnable: d->LightEnable(a[0], a[1]); break;
        case OpTransform:
            d->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(a[0]), reinterpret_cast<const D3DMATRIX *>(data));
            break;
        case OpViewport: d->SetViewport(reinterpret_cast<const D3DVIEWPORT9 *>(data)); break;
        case OpVertexConstants: d->SetVertexShaderConstantF(a[0], reinterpret_cast<const float *>(data), a[1]); break;
        case OpPixelConstants: d->SetPixelShaderConstantF(a[0], reinterpret_cast<const float *>(data), a[1]); break;
        case OpVertexShader: d->SetVertexShader(static_cast<IDirect3DVertexShader9 *>(c.object)); break;
        case OpPixelShader: d->SetPixelShader(static_cast<IDirect3DPixelShader9 *>(c.object)); break;
        case OpDeclaration: d->SetVertexDeclaration(static_cast<IDirect3DVertexDeclaration9 *>(c.object)); break;
        case OpFVF: d->SetFVF(a[0]); break;
        case OpStream: d->SetStreamSource(a[0], static_cast<IDirect3DVertexBuffer9 *>(c.object), a[1], a[2]); break;
        case OpIndices: d->SetIndices(static_cast<IDirect3DIndexBuffer9 *>(c.object)); break;
        case OpRenderTarget: d->SetRenderTarget(a[0], static_cast<IDirect3DSurface9 *>(c.object)); break;
        case OpDepthStencil: d->SetDepthStencilSurface(static_cast<IDirect3DSurface9 *>(c.object)); break;
        case OpScissor: d->SetScissorRect(reinterpret_cast<const RECT *>(data)); break;
        case OpPalette: d->SetCurrentTexturePalette(a[0]); break;
        case OpClear: {
            float z;
            std::memcpy(&z, &a[3], 4);
            d->Clear(a[0], a[0] ? reinterpret_cast<const D3DRECT *>(data) : nullptr, a[1], a[2], z, a[4]);
            break;
        }
        case OpBeginScene: d->BeginScene(); break;
        case OpEndScene: d->EndScene(); break;
        case OpCooperative: d->TestCooperativeLevel(); break;
        case OpPresent:
            if (!present)
                break;
            d->Present(a[0] ? reinterpret_cast<const RECT *>(data) : nullptr,
                       a[1] ? reinterpret_cast<const RECT *>(bytes + c.data2) : nullptr,
                       reinterpret_cast<HWND>(static_cast<UINT_PTR>(a[2])), nullptr);
            break;
        case OpDraw: d->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(a[0]), a[1], a[2]); break;
        case OpDrawIndexed:
            d->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(a[0]), static_cast<INT>(a[1]), a[2], a[3], a[4],
                                    a[5]);
            break;
        case OpDrawUP: d->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(a[0]), a[1], data, a[2]); break;
        case OpDrawIndexedUP:
            d->DrawIndexedPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(a[0]), a[1], a[2], a[3], data,
                                      static_cast<D3DFORMAT>(a[4]), bytes + c.data2, a[5]);
            break;
        case OpLockVertices: Upload(static_cast<IDirect3DVertexBuffer9 *>(c.object), c, data); break;
        case OpLockIndices: Upload(static_cast<IDirect3DIndexBuffer9 *>(c.object), c, data); break;
        default: break;
        }
    }
}

void DeviceCapture::ReplayPresent() const
{
    for (const Call &c : m_calls) {
        if (c.op == OpPresent) {
            device->Present(c.a[0] ? reinterpret_cast<const RECT *>(&m_bytes[c.data]) : nullptr,
                            c.a[1] ? reinterpret_cast<const RECT *>(&m_bytes[c.data2]) : nullptr,
                            reinterpret_cast<HWND>(static_cast<UINT_PTR>(c.a[2])), nullptr);
        }
    }
}

DeviceCapture::Counts DeviceCapture::GetCounts() const
{
    Counts n = {};
    for (const Call &c : m_calls) {
        n.calls++;
        n.draws += c.op >= OpDraw && c.op <= OpDrawIndexedUP;
        n.stateCalls += c.op <= OpLastState;
        n.redundant += c.redundant;
        n.unreplayed += c.op >= kFirstUnreplayed;
    }
    return n;
}

std::string DeviceCapture::RedundantByMethod() const
{
    return ByMethod(m_calls, [](const Call &c) { return c.redundant; });
}

std::string DeviceCapture::UnreplayedByMethod() const
{
    return ByMethod(m_calls, [](const Call &c) { return c.op >= kFirstUnreplayed; });
}

std::string DeviceCapture::CallsByMethod() const
{
    return ByMethod(m_calls, [](const Call &) { return true; });
}
