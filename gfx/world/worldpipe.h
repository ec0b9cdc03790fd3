// Default world-sector and atomic pipelines, the current ones render callbacks fall back on, and the restore list.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwGeometry;
struct RwStream;
struct RwWorldSector;
struct RxPipeline;
struct RxPipelineNodeDefinition;

// Run by the world module's open and close.
RwBool RwWorldPipelinesOpen(void);
void RwWorldPipelinesClose(void);
// The attach step of RwWorldPluginAttach: the device's own steps.
RwBool RwWorldPipelineAttach(void);
// Supplied by the device driver (or the stand-in driver in tests): attaches the
// device's world plug-ins and hooks the device-restore event so that it ends
// in RwWorldDeviceRestoreCallback.
RwBool RwD3D9WorldPipelineAttach(void);
// Also the driver's: the all-in-one nodes of the default pipelines, and the
// lighting state and vertex-shader cache that live as long as they do.
RxPipelineNodeDefinition *RwD3D9WorldSectorAllInOneNodeGet(void);
RxPipelineNodeDefinition *RwD3D9AtomicAllInOneNodeGet(void);
void RwD3D9LightingStateInit(void);
void RwD3D9LightingStateTerm(void);
void RwD3D9VertexShaderCacheInit(void);
void RwD3D9VertexShaderCacheTerm(void);

// The native-data extension (0x510): the instanced form of a native geometry
// or of a sector of a native world. Owners that are not native carry none.
RwStream *RwGeometryNativeStreamWrite(RwStream *stream, const RwGeometry *geometry);
RwStream *RwGeometryNativeStreamRead(RwStream *stream, RwGeometry *geometry);
RwInt32 RwGeometryNativeStreamGetSize(const RwGeometry *geometry);
RwStream *RwWorldSectorNativeStreamWrite(RwStream *stream, const RwWorldSector *sector);
RwStream *RwWorldSectorNativeStreamRead(RwStream *stream, RwWorldSector *sector);
RwInt32 RwWorldSectorNativeStreamGetSize(const RwWorldSector *sector);

RwBool RwAtomicPipelineCreateDefault(void);
RwBool RwWorldSectorPipelineCreateDefault(void);
void RwAtomicPipelineDestroyDefault(void);
void RwWorldSectorPipelineDestroyDefault(void);
// NULL makes the module's default current again.
void RwAtomicSetDefaultPipeline(RxPipeline *pipeline);
void RwWorldSetDefaultSectorPipeline(RxPipeline *pipeline);
RxPipeline *RwAtomicGetDefaultPipeline(void);
RxPipeline *RwWorldGetDefaultSectorPipeline(void);

// Geometries instanced into dynamic vertex buffers, re-instanced after a lost device.
void RwGeometryAddToRestoreList(RwGeometry *geometry);
void RwGeometryRemoveFromRestoreList(RwGeometry *geometry);
// Flags every listed geometry for full re-instancing.
void RwWorldDeviceRestoreCallback(void);
