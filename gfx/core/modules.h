// Open and close callbacks of the core modules that RwEngineInit registers.
// Each module defines its pair in its own source file.
#pragma once

#include "rwtypes.h"

#define rwDECLARE_MODULE(name)                                              \
    void *name##ModuleOpen(void *instance, RwInt32 offset, RwInt32 size);   \
    void *name##ModuleClose(void *instance, RwInt32 offset, RwInt32 size)

// Plug-in ids of the core modules.
enum : RwUInt32 {
    rwID_COREPLUGIN = 0x01,
    rwID_VECTORMODULE = 0x401,
    rwID_MATRIXMODULE = 0x402,
    rwID_FRAMEMODULE = 0x403,
    rwID_STREAMMODULE = 0x404,
    rwID_CAMERAMODULE = 0x405,
    rwID_IMAGEMODULE = 0x406,
    rwID_RASTERMODULE = 0x407,
    rwID_TEXTUREMODULE = 0x408,
    rwID_PIPEMODULE = 0x409,
    rwID_IMMEDIATEMODULE = 0x40A,
    rwID_RESOURCESMODULE = 0x40B,
    rwID_COLORMODULE = 0x40D,
    rwID_ERRORMODULE = 0x40F,
    rwID_CHUNKGROUPMODULE = 0x412,
};

rwDECLARE_MODULE(RwError);
rwDECLARE_MODULE(RwVector);
rwDECLARE_MODULE(RwColor);
rwDECLARE_MODULE(RwMatrix);
rwDECLARE_MODULE(RwFrame);
rwDECLARE_MODULE(RwStream);
rwDECLARE_MODULE(RwCamera);
rwDECLARE_MODULE(RwImage);
rwDECLARE_MODULE(RwRaster);
rwDECLARE_MODULE(RwTexture);
rwDECLARE_MODULE(RwPipeline);
rwDECLARE_MODULE(RwChunkGroup);
rwDECLARE_MODULE(RwImmediate);
rwDECLARE_MODULE(RwResources);
