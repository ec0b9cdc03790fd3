// Stand-in open and close callbacks of core modules that are not built yet.
// Each module's pair sits in its own section; the module deletes its section
// when it defines the pair itself.
#include "engine.h"
#include "modules.h"

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
