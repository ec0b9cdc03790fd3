// Vertex buffers shared by the pipelines: static space, dynamic buffers and the ring.
#pragma once

#include "gfx/core/rwtypes.h"

enum : RwUInt32 {
    rwD3D9STATICBUFFERSIZE = 131072,
    rwD3D9RINGSLOTS = 4,
    rwD3D9RINGSLOTSIZE = 0x40000,
};

// One slot of the ring: bytes written this frame, its size and its buffer.
struct RwD3D9RingSlot {
    RwUInt32 offset;
    RwUInt32 size;
    void *buffer;
};

// Static space: `size` bytes of a shared managed buffer, drawn from byte `offset`.
RwBool RwD3D9CreateVertexBuffer(RwUInt32 stride, RwUInt32 size, void **vertexBuffer, RwUInt32 *offset);
void RwD3D9DestroyVertexBuffer(RwUInt32 stride, RwUInt32 size, void *vertexBuffer, RwUInt32 offset);

// Dynamic buffers kept by their owner; the manager updates the owner's
// variable when the buffer is released or rebuilt around a device reset.
RwBool RwD3D9DynamicVertexBufferCreate(RwUInt32 size, void **vertexBuffer);
void RwD3D9DynamicVertexBufferDestroy(void *vertexBuffer);
// Gives back the buffer held in the owner's variable, also while a device
// reset has released it (the variable is NULL then and the buffer unknown).
void RwD3D9DynamicVertexBufferDestroyOwned(void **vertexBuffer);

// Room for `count` vertices of `stride` bytes in the ring. A device reset
// between the lock and the draw (a camera update, a raster show or a window
// check in between) releases the buffer handed out: lock, fill, unlock and draw
// with nothing of that kind between them.
RwBool RwD3D9DynamicVertexBufferLock(RwUInt32 stride, RwUInt32 count, void **vertexBuffer, void **data,
                                     RwUInt32 *baseIndex);
RwBool RwD3D9DynamicVertexBufferUnlock(void *vertexBuffer);
void RwD3D9DynamicVertexBufferNewFrame(void);

// The ring as it stands (for tests and diagnostics).
const RwD3D9RingSlot *RwD3D9DynamicVertexBufferGetSlot(RwUInt32 index);
RwUInt32 RwD3D9DynamicVertexBufferGetCurrentSlot(void);

RwBool RwD3D9VertexBufferOpen(void);
void RwD3D9VertexBufferClose(void);
RwBool RwD3D9VertexBufferReleaseVideoMemory(void);
RwBool RwD3D9VertexBufferRestoreVideoMemory(void);
