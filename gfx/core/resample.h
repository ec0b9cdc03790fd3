// Box-filter resampling of 32-bit images.
#pragma once

#include "rwtypes.h"

struct RwImage;

RwImage *RwImageResample(RwImage *dstImage, const RwImage *srcImage);
RwImage *RwImageCreateResample(const RwImage *srcImage, RwInt32 width, RwInt32 height);
