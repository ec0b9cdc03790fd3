// Stand-ins for the device part of material effects: empty pipelines and no compressed rasters.
#include <initializer_list>

#include "gfx/core/pipeline.h"
#include "gfx/plugins/matfx/matfx.h"

RwBool RwMatFxPipelinesCreate(void)
{
    rwMatFxPipelines.atomic = RwPipelineCreate();
    rwMatFxPipelines.worldSector = RwPipelineCreate();
    return rwMatFxPipelines.atomic && rwMatFxPipelines.worldSector;
}

void RwMatFxPipelinesDestroy(void)
{
    for (RxPipeline **p : {&rwMatFxPipelines.atomic, &rwMatFxPipelines.worldSector}) {
        if (*p) {
            RwPipelineDestroy(*p);
            *p = nullptr;
        }
    }
}

RwBool RwMatFxRasterIsCompressed(const RwRaster *) { return FALSE; }
