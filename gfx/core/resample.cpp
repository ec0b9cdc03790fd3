// Box-filter resampling of 32-bit images.
#include "resample.h"

#include <vector>

#include "engine.h"
#include "image.h"
#include "modules.h"

namespace {

const RwReal rwINV255 = 0.003921569f;

// One source pixel that a destination span covers, with the fraction of it covered.
struct SpanTap {
    RwInt32 pixel;
    RwReal weight;
};

}  // namespace

static void RaiseError(RwUInt32 code)
{
    RwErrorRaise(rwID_IMAGEMODULE, code);
}

// Source pixels under destination pixel i for a 16.16 step; positions are 64-bit so that a
// large reduction cannot wrap around.
static void SpanTaps(int64_t step, RwInt32 i, std::vector<SpanTap> &taps)
{
    taps.clear();
    const int64_t start = static_cast<int64_t>(i) * step;
    const int64_t end = start + step - 1;
    const int64_t first = start >> 16;
    const int64_t last = end >> 16;
    if (first == last) {
        // A step of one unit (enlarging more than 32768 times) spans nothing: the pixel still counts.
        const int64_t covered = end > start ? end - start : 1;
        taps.push_back({static_cast<RwInt32>(first), static_cast<RwReal>(covered) / 65536.0f});
        return;
    }
    taps.push_back({static_cast<RwInt32>(first), static_cast<RwReal>(((first + 1) << 16) - start) / 65536.0f});
    for (int64_t p = first + 1; p < last; p++)
        taps.push_back({static_cast<RwInt32>(p), 1.0f});
    taps.push_back({static_cast<RwInt32>(last), static_cast<RwReal>(end - (last << 16)) / 65536.0f});
}

static RwBool IsResamplable(const RwImage *image)
{
    return image && image->depth == 32 && image->cpPixels && image->width > 0 && image->height > 0;
}

RwImage *RwImageResample(RwImage *dstImage, const RwImage *srcImage)
{
    if (!dstImage || !srcImage) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (!IsResamplable(dstImage) || !IsResamplable(srcImage)) {
        // A zero size would divide by zero when the step is computed.
        RaiseError(dstImage->depth != 32 || srcImage->depth != 32 ? static_cast<RwUInt32>(E_RW_INVIMAGEDEPTH)
                                                                 : static_cast<RwUInt32>(E_RW_INVIMAGESIZE));
        return nullptr;
    }
    dstImage->flags |= srcImage->flags & rwIMAGEGAMMACORRECTED;

    int64_t stepX = static_cast<int64_t>(static_cast<RwReal>(srcImage->width) /
                                               static_cast<RwReal>(dstImage->width) * 65536.0f);
    int64_t stepY = static_cast<int64_t>(static_cast<RwReal>(srcImage->height) /
                                               static_cast<RwReal>(dstImage->height) * 65536.0f);
    // An enlargement beyond 65536 times would step by less than one fixed-point unit; keep
    // the spans inside the source and the division safe.
    if (stepX < 1)
        stepX = 1;
    if (stepY < 1)
        stepY = 1;
    const RwReal spanX = stepX > 1 ? static_cast<RwReal>(stepX - 1) / 65536.0f : 1.0f / 65536.0f;
    const RwReal spanY = stepY > 1 ? static_cast<RwReal>(stepY - 1) / 65536.0f : 1.0f / 65536.0f;
    const RwReal area = spanX * spanY;

    std::vector<std::vector<SpanTap>> columns(static_cast<size_t>(dstImage->width));
    for (RwInt32 i = 0; i < dstImage->width; i++) {
        SpanTaps(stepX, i, columns[static_cast<size_t>(i)]);
        for (SpanTap &t : columns[static_cast<size_t>(i)])
            if (t.pixel >= srcImage->width)
                t.pixel = srcImage->width - 1;
    }
    std::vector<SpanTap> rows;
    for (RwInt32 j = 0; j < dstImage->height; j++) {
        SpanTaps(stepY, j, rows);
        RwUInt8 *dst = dstImage->cpPixels + static_cast<size_t>(j) * dstImage->stride;
        for (RwInt32 i = 0; i < dstImage->width; i++) {
            RwReal sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (const SpanTap &ty : rows) {
                const RwInt32 sy = ty.pixel < srcImage->height ? ty.pixel : srcImage->height - 1;
                const RwUInt8 *srcRow = srcImage->cpPixels + static_cast<size_t>(sy) * srcImage->stride;
                RwReal rowSum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                for (const SpanTap &tx : columns[static_cast<size_t>(i)]) {
                    const RwUInt8 *p = srcRow + static_cast<size_t>(tx.pixel) * 4;
                    for (RwInt32 c = 0; c < 4; c++)
                        rowSum[c] += static_cast<RwReal>(p[c]) * rwINV255 * tx.weight;
                }
                for (RwInt32 c = 0; c < 4; c++)
                    sum[c] += rowSum[c] * ty.weight;
            }
            for (RwInt32 c = 0; c < 4; c++) {
                const RwReal v = sum[c] / area * 255.0f + 0.5f;
                dst[i * 4 + c] = v >= 255.0f ? 255 : (v <= 0.0f ? 0 : static_cast<RwUInt8>(static_cast<RwInt32>(v)));
            }
        }
    }
    return dstImage;
}

RwImage *RwImageCreateResample(const RwImage *srcImage, RwInt32 width, RwInt32 height)
{
    if (!srcImage) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    if (width <= 0 || height <= 0) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    RwImage *dst = RwImageCreate(width, height, 32);
    if (!dst)
        return nullptr;
    if (!RwImageAllocatePixels(dst)) {
        RwImageDestroy(dst);
        return nullptr;
    }
    if (srcImage->depth == 32) {
        if (!RwImageResample(dst, srcImage)) {
            RwImageDestroy(dst);
            return nullptr;
        }
        return dst;
    }
    RwImage *wide = RwImageCreate(srcImage->width, srcImage->height, 32);
    RwBool ok = wide != nullptr;
    ok = ok && RwImageAllocatePixels(wide) && RwImageCopy(wide, srcImage) && RwImageResample(dst, wide);
    if (wide)
        RwImageDestroy(wide);
    if (!ok) {
        RwImageDestroy(dst);
        return nullptr;
    }
    return dst;
}
