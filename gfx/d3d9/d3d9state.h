// Device state setters: last-set caches, transforms, lights, declarations, shaders.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "gfx/core/rwtypes.h"

struct RwMatrix;
struct RwCamera;
struct RwRaster;
struct RwBBox;

// A vertex stream as the instanced data records it.
struct RwD3D9VertexStream {
    void *vertexBuffer;
    RwUInt32 offset;
    RwUInt32 stride;
    RwUInt16 geometryFlags;
    RwUInt8 managed;
    RwUInt8 dynamicLock;
};
static_assert(sizeof(RwD3D9VertexStream) == 16, "vertex stream is four words");

// One cached stream binding (the fourth word is not used by the cache).
struct RwD3D9StreamRecord {
    void *vertexBuffer;
    RwUInt32 offset;
    RwUInt32 stride;
    RwUInt32 unused;
};

// A light and whether it is enabled on the device (108 bytes). After the
// device was handed out the light's type is 0 and enabled -1: not known.
struct RwD3D9LightRecord {
    D3DLIGHT9 light;
    RwInt32 enabled;
};
static_assert(sizeof(D3DLIGHT9) == 104, "D3DLIGHT9 is 104 bytes");
static_assert(sizeof(RwD3D9LightRecord) == 108, "light record is 108 bytes");

// A shared vertex declaration and the elements it was made from.
struct RwD3D9DeclarationEntry {
    IDirect3DVertexDeclaration9 *declaration;   // NULL once released
    RwUInt32 numElements;                       // including the end marker; 0 once its device stopped
    D3DVERTEXELEMENT9 *elements;
};
static_assert(sizeof(RwD3D9DeclarationEntry) == 12, "declaration entry is three words");

enum : RwUInt32 {
    rwD3D9NUMTRANSFORMS = 260,
    rwD3D9NUMSTREAMS = 4,
    rwD3D9NUMRENDERTARGETS = 4,
    rwD3D9NUMVERTEXCONSTANTS = 256,   // float registers the cache shadows
};

// The last-set caches, shared by every part of the driver that sets state.
struct RwD3D9StateCache {
    RwUInt32 lastFVF;
    void *lastDeclaration;
    void *lastVertexShader;
    void *lastPixelShader;
    void *lastIndexBuffer;
    RwD3D9StreamRecord streams[rwD3D9NUMSTREAMS];
    IDirect3DSurface9 *renderTargets[rwD3D9NUMRENDERTARGETS];
    IDirect3DSurface9 *depthSurface;
    D3DVIEWPORT9 viewport;
    RwBool viewportKnown;
};

extern RwD3D9StateCache rwD3D9Cache;

// State setter calls that the caches answered without calling the device
// (for diagnostics and the benchmark).
extern RwUInt32 rwD3D9FilteredStateCalls;

// The "unknown" value of a pointer cache: no real object has it.
#define rwD3D9UNKNOWN (reinterpret_cast<void *>(static_cast<intptr_t>(-1)))

// Start-up and shut-down of the caches (device start and stop).
RwBool RwD3D9StateOpen(void);
void RwD3D9StateClose(void);
// Resets the last-set values, stream records and transform cache.
void RwD3D9StateResetCaches(void);
// The same before a reset, except that the transforms stay: a reset inside a
// camera update must not lose the camera's view and projection.
void RwD3D9StateResetCachesForReset(void);
// Sends every cached transform again after a reset; FALSE when one was refused.
RwBool RwD3D9StateRestoreTransforms(void);
// Empties the render-target and depth caches.
void RwD3D9StateResetTargets(void);
// Unbinds textures, indices, streams, shaders and the declaration on the
// device and switches its lights off; the light store keeps them.
void RwD3D9StateUnbindDevice(void);
// Sends every stored light again after a reset; FALSE when one was refused.
RwBool RwD3D9StateRestoreLights(void);
// Releases the declaration cache (device stop). Declarations still held
// elsewhere stay listed until their holders delete them.
void RwD3D9StateReleaseDeclarations(void);

void RwD3D9SetDepthStencilSurface(IDirect3DSurface9 *surface);
// A new colour target 0 makes the device take its full size as the viewport.
void RwD3D9SetViewport(const D3DVIEWPORT9 *viewport);
RwBool RwD3D9SetRenderTargetSurface(RwUInt32 index, IDirect3DSurface9 *surface);
RwBool RwD3D9SetRenderTarget(RwUInt32 index, RwRaster *raster);

void RwD3D9SetVertexDeclaration(void *declaration);
void RwD3D9SetVertexShader(void *shader);
void RwD3D9SetPixelShader(void *shader);
void RwD3D9SetFVF(RwUInt32 fvf);
void RwD3D9SetStreamSource(RwUInt32 stream, void *buffer, RwUInt32 offset, RwUInt32 stride);
void RwD3D9SetStreams(const RwD3D9VertexStream *streams, RwBool useOffsets);
void RwD3D9SetIndices(void *indexBuffer);
// Float registers of the vertex shaders, four reals each; registers that
// already hold the values are not sent again.
RwBool RwD3D9SetVertexShaderConstant(RwUInt32 start, const RwReal *values, RwUInt32 count);
HRESULT RwD3D9DrawIndexedPrimitive(RwUInt32 primitiveType, RwInt32 baseVertexIndex, RwUInt32 minIndex,
                                   RwUInt32 numVertices, RwUInt32 startIndex, RwUInt32 primitiveCount);
HRESULT RwD3D9DrawPrimitive(RwUInt32 primitiveType, RwUInt32 startVertex, RwUInt32 primitiveCount);
RwBool RwD3D9CreateIndexBuffer(RwUInt32 numIndices, void **indexBuffer);
RwBool RwD3D9CreateVertexShader(const RwUInt32 *function, void **shader);
RwBool RwD3D9CreatePixelShader(const RwUInt32 *function, void **shader);
void RwD3D9DeleteShader(void *shader);
RwBool RwD3D9CreateVertexDeclaration(const void *elements, void **declaration);
void RwD3D9DeleteVertexDeclaration(void *declaration);

RwBool RwD3D9SetTransform(RwUInt32 state, const void *matrix);
void RwD3D9GetTransform(RwUInt32 state, void *matrix);
RwBool RwD3D9SetTransformWorld(const RwMatrix *matrix);
// TRUE when the last world matrix sent was the identity.
RwBool RwD3D9WorldIsIdentity(void);

// Sends a light under its index unless the store says the device holds it;
// FALSE (the store and the device as they were) when it is refused.
RwBool RwD3D9SetLight(RwInt32 index, const D3DLIGHT9 *light);
// Switches a light on or off; switching on is refused (FALSE, nothing sent)
// for an index whose record holds no known light or lies past the store.
RwBool RwD3D9EnableLight(RwInt32 index, RwBool enable);
RwInt32 RwD3D9GetNumLights(void);
const RwD3D9LightRecord *RwD3D9GetLightRecord(RwInt32 index);

const D3DCAPS9 *RwD3D9GetCaps(void);
RwBool RwD3D9CameraIsSphereFullyInsideFrustum(const RwCamera *camera, const RwSphere *sphere);
RwBool RwD3D9CameraIsBBoxFullyInsideFrustum(const RwCamera *camera, const RwBBox *boundingBox);

typedef void (*RwD3D9DeviceRestoreCallBack)(void);
void RwD3D9SetDeviceRestoreCallback(RwD3D9DeviceRestoreCallBack callback);
RwD3D9DeviceRestoreCallBack RwD3D9GetDeviceRestoreCallback(void);
// Called before every reset, while the old device objects are still alive.
void RwD3D9SetDeviceReleaseCallback(RwD3D9DeviceRestoreCallBack callback);
RwD3D9DeviceRestoreCallBack RwD3D9GetDeviceReleaseCallback(void);

// Hands the device to code outside the driver; every cache is emptied first.
IDirect3DDevice9 *RwD3D9GetCurrentD3DDevice(void);
