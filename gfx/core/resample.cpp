// Box-filter resampling of 32-bit images.
#include "resample.h"

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

// Source pixels under destination pixel i for a 16.16 step, written to taps
// (room for MaxTaps); the count. Positions are 64-bit so that a large
// reduction cannot wrap around.
static RwInt32 SpanTaps(int64_t step, RwInt32 i, SpanTap *taps)
{
    const int64_t start = static_cast<int64_t>(i) * step;
    const int64_t end = start + step - 1;
    const int64_t first = start >> 16;
    const int64_t last = end >> 16;
    if (first == last) {
        // A step of one unit (enlarging more than 32768 times) spans nothing: the pixel still counts.
        const int64_t covered = end > start ? end - start : 1;
        taps[0] = {static_cast<RwInt32>(first), static_cast<RwReal>(covered) / 65536.0f};
        return 1;
    }
    RwInt32 n = 0;
    taps[n++] = {static_cast<RwInt32>(first), static_cast<RwReal>(((first + 1) << 16) - start) / 65536.0f};
    for (int64_t p = first + 1; p < last; p++)
        taps[n++] = {static_cast<RwInt32>(p), 1.0f};
    taps[n++] = {static_cast<RwInt32>(last), static_cast<RwReal>(end - (last << 16)) / 65536.0f};
    return n;
}

// The most source pixels one destination pixel of the step can cover.
static int64_t MaxTaps(int64_t step)
{
    return (step >> 16) + 2;
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

    // The tap tables come from the library's memory, so running out is an error code.
    const int64_t columnTaps = MaxTaps(stepX), rowTaps = MaxTaps(stepY);
    const uint64_t tapCount = static_cast<uint64_t>(dstImage->width) * static_cast<uint64_t>(columnTaps) +
                              static_cast<uint64_t>(rowTaps);
    const uint64_t bytes = tapCount * sizeof(SpanTap) + static_cast<uint64_t>(dstImage->width) * sizeof(RwInt32);
    void *block = bytes <= 0x7FFFFFFFu ? RwMalloc(static_cast<size_t>(bytes), rwMEMHINT_IMAGE) : nullptr;
    if (!block) {
        RaiseError(E_RW_NOMEM);
        return nullptr;
    }
    SpanTap *columns = static_cast<SpanTap *>(block);
    SpanTap *rows = columns + static_cast<size_t>(dstImage->width) * static_cast<size_t>(columnTaps);
    RwInt32 *columnCounts = reinterpret_cast<RwInt32 *>(rows + rowTaps);
    for (RwInt32 i = 0; i < dstImage->width; i++) {
        SpanTap *taps = columns + static_cast<size_t>(i) * static_cast<size_t>(columnTaps);
        columnCounts[i] = SpanTaps(stepX, i, taps);
        for (RwInt32 t = 0; t < columnCounts[i]; t++)
            if (taps[t].pixel >= srcImage->width)
                taps[t].pixel = srcImage->width - 1;
    }
    for (RwInt32 j = 0; j < dstImage->height; j++) {
        const RwInt32 rowCount = SpanTaps(stepY, j, rows);
        RwUInt8 *dst = dstImage->cpPixels + static_cast<size_t>(j) * dstImage->stride;
        for (RwInt32 i = 0; i < dstImage->width; i++) {
            const SpanTap *taps = columns + static_cast<size_t>(i) * static_cast<size_t>(columnTaps);
            RwReal sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (RwInt32 r = 0; r < rowCount; r++) {
                const SpanTap &ty = rows[r];
                const RwInt32 sy = ty.pixel < srcImage->height ? ty.pixel : srcImage->height - 1;
                const RwUInt8 *srcRow = srcImage->cpPixels + static_cast<size_t>(sy) * srcImage->stride;
                RwReal rowSum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                for (RwInt32 t = 0; t < columnCounts[i]; t++) {
                    const RwUInt8 *p = srcRow + static_cast<size_t>(taps[t].pixel) * 4;
                    for (RwInt32 c = 0; c < 4; c++)
                        rowSum[c] += static_cast<RwReal>(p[c]) * rwINV255 * taps[t].weight;
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
    RwFree(block);
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
