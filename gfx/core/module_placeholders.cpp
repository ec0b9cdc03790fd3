// Stand-in open and close callbacks of core modules that are not built yet.
// Each module's pair sits in its own section; the module deletes its section
// when it defines the pair itself.
#include "engine.h"
#include "modules.h"

// ---- image module (delete when image.cpp defines its pair) ----
static RwInt32 placeholderImageOpenCount = 0;

void *RwImageModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++placeholderImageOpenCount;
    return instance;
}

void *RwImageModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --placeholderImageOpenCount;
    return instance;
}

// The engine's start hands the device gamma to the image module.
RwBool RwImageSetGamma(RwReal gamma)
{
    return TRUE;
}

// ---- raster module (delete when raster.cpp defines its pair) ----
static RwInt32 placeholderRasterOpenCount = 0;

void *RwRasterModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++placeholderRasterOpenCount;
    return instance;
}

void *RwRasterModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --placeholderRasterOpenCount;
    return instance;
}

// ---- texture module (delete when texture.cpp defines its pair) ----
static RwInt32 placeholderTextureOpenCount = 0;

void *RwTextureModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++placeholderTextureOpenCount;
    return instance;
}

void *RwTextureModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --placeholderTextureOpenCount;
    return instance;
}

// ---- pipeline module (delete when pipeline.cpp defines its pair) ----
static RwInt32 placeholderPipelineOpenCount = 0;

void *RwPipelineModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++placeholderPipelineOpenCount;
    return instance;
}

void *RwPipelineModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --placeholderPipelineOpenCount;
    return instance;
}

// ---- immediate-mode module (delete when the immediate-mode module defines its pair) ----
static RwInt32 placeholderImmediateOpenCount = 0;

void *RwImmediateModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++placeholderImmediateOpenCount;
    return instance;
}

void *RwImmediateModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --placeholderImmediateOpenCount;
    return instance;
}
