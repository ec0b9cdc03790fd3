// Default world-sector and atomic pipelines, the current ones render callbacks fall back on, and the restore list.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwGeometry;
struct RxPipeline;

// Run by the world module's open and close.
RwBool RwWorldPipelinesOpen(void);
void RwWorldPipelinesClose(void);
// The attach step of RwWorldPluginAttach: the device's own steps.
RwBool RwWorldPipelineAttach(void);
// Supplied by the device driver (or the stand-in driver in tests): attaches the
// device's world plug-ins and hooks the device-restore event so that it ends
// in RwWorldDeviceRestoreCallback.
RwBool RwD3D9WorldPipelineAttach(void);

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
