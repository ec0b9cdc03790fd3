// PNG image files through libpng: the read and write callbacks of the "png" image format.
#include "pngformat.h"

#include <csetjmp>
#include <cstring>
#include <png.h>

#include "engine.h"
#include "image.h"
#include "stream.h"

static void RaiseError(RwUInt32 code)
{
    RwErrorRaise(rwID_PNGIMAGEPLUGIN, code);
}

// libpng's memory goes through the engine's memory functions.
static png_voidp RwPngMalloc(png_structp png, png_alloc_size_t size)
{
    return RwMalloc(static_cast<size_t>(size), rwMEMHINT_PNG);
}

static void RwPngFree(png_structp png, png_voidp ptr)
{
    if (ptr)
        RwFree(ptr);
}

// Frees a buffer of the error path, which may not have been made yet.
static void FreeIfMade(void *ptr)
{
    if (ptr)
        RwFree(ptr);
}

// What the read callback reads from, and how far it has got.
struct RwPngSource {
    RwStream *stream;
    RwUInt32 offset;      // bytes read, up to the end of the first chunk's type
    uint64_t imageData;   // bytes of IDAT data read
    uint64_t limit;       // IDAT data the file may give before it is refused
    volatile RwUInt32 *failure;   // the error the reader records when libpng stops it
    // After the last row libpng inflates whatever compressed data follows to
    // its end before it says there was too much, so a small file could keep it
    // busy for minutes. Once the rows are in, only the stream's end may follow.
    uint64_t rowsLeft;    // rows of image data (of every pass) still to come
    uint64_t rowsDone;    // IDAT data read when the last of them came
};

// The image data may be twice its rows' bytes (stored uncompressed, with
// filter bytes) and 64 KB more. Only IDAT data counts, so how the file cuts
// it into chunks does not matter.
static const uint64_t rwPNGSLACKBYTES = 0x10000;
static const png_uint_32 rwPNGIDAT = 0x49444154;   // "IDAT"
// libpng reads image data in pieces of this size: after the last row at most
// one piece it holds and the tail below are inflated, a few megabytes at most.
static const size_t rwPNGIDATPIECE = 4096;
// What may follow the last row: the end of the last deflate block, empty
// blocks of a flushing writer and the checksum take a few bytes.
static const uint64_t rwPNGTAILBYTES = 1024;

enum : RwUInt32 {
    rwPNGFIRSTCHUNKTYPE = 12,   // after the 8-byte signature and the chunk's length
};

// The first chunk must be IHDR: libpng passes over the chunks it is told to
// ignore, wherever they stand, and would take a header found after them.
static bool FirstChunkTypeOk(const RwPngSource *source, png_const_bytep data, png_size_t length)
{
    static const png_byte ihdr[4] = {'I', 'H', 'D', 'R'};
    for (png_size_t i = 0; i < length; i++) {
        const uint64_t at = source->offset + static_cast<uint64_t>(i);
        if (at >= rwPNGFIRSTCHUNKTYPE + 4)
            break;
        if (at >= rwPNGFIRSTCHUNKTYPE && data[i] != ihdr[at - rwPNGFIRSTCHUNKTYPE])
            return false;
    }
    return true;
}

// A short read is a truncated file: libpng must stop rather than decode stale bytes.
static void RwPngReadData(png_structp png, png_bytep data, png_size_t length)
{
    RwPngSource *source = static_cast<RwPngSource *>(png_get_io_ptr(png));
    const bool imageData =
        (png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_DATA && png_get_io_chunk_type(png) == rwPNGIDAT;
    if (imageData) {
        source->imageData += length;
        if (source->imageData > source->limit ||
            (source->rowsLeft == 0 && source->imageData - source->rowsDone > rwPNGTAILBYTES)) {
            *source->failure = E_RW_INVIMAGESIZE;
            png_error(png, "image data larger than the image");
        }
    }
    if (RwStreamRead(source->stream, data, static_cast<RwUInt32>(length)) != length)
        png_error(png, "truncated file");
    if (!FirstChunkTypeOk(source, data, length))
        png_error(png, "first chunk is not IHDR");
    // Counted only as far as the check looks.
    const uint64_t next = source->offset + static_cast<uint64_t>(length);
    source->offset = next < rwPNGFIRSTCHUNKTYPE + 4 ? static_cast<RwUInt32>(next) : rwPNGFIRSTCHUNKTYPE + 4;
}

// Called once for each row of each pass, after its data was inflated and
// before libpng looks for the end of the image data.
static void CountRow(png_structp png, png_row_infop, png_bytep)
{
    RwPngSource *source = static_cast<RwPngSource *>(png_get_io_ptr(png));
    if (source->rowsLeft > 0 && --source->rowsLeft == 0)
        source->rowsDone = source->imageData;
}

static void RwPngWriteData(png_structp png, png_bytep data, png_size_t length)
{
    RwStream *stream = static_cast<RwStream *>(png_get_io_ptr(png));
    if (!RwStreamWrite(stream, data, static_cast<RwUInt32>(length)))
        png_error(png, "write failed");
}

// A reader that warns has dropped or patched something (a chunk with a bad CRC,
// a bad checksum after the last row): the pixels may be wrong, so it is an error.
static void RwPngReadWarning(png_structp png, png_const_charp message)
{
    png_error(png, message);
}

// Image data that inflates past the rows is too large an image, as when the
// bounds above find it; every other error of libpng's is a read error.
static void RwPngReadError(png_structp png, png_const_charp message)
{
    RwPngSource *source = static_cast<RwPngSource *>(png_get_io_ptr(png));
    if (std::strstr(message, "Too much image data"))
        *source->failure = E_RW_INVIMAGESIZE;
    png_longjmp(png, 1);
}

// Chunks the reader has no use for but libpng would buffer whole (and inflate):
// passed over in small pieces instead, their CRCs still checked, so a length
// the file cannot back never becomes an allocation.
static const png_byte rwPNGUNUSEDCHUNKS[] = "iCCP\0sPLT\0tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sCAL\0hIST";
static const int rwPNGUNUSEDCHUNKCOUNT = 9;

// Compressed data expands at most this much, so a file's remaining bytes bound
// the rows it can fill.
static const uint64_t rwPNGMAXINFLATE = 1032;

RwBool RwPngSizeHeld(RwUInt32 width, RwUInt32 height)
{
    return static_cast<uint64_t>(width) * height <= rwPNGMAXPIXELS;
}

RwBool RwPngRowsFitData(uint64_t rowBytes, RwUInt32 height, RwUInt32 dataBytes)
{
    // Divided, not multiplied: 64-bit pixels on rows of 2^31 wrap the product.
    return height == 0 || rowBytes <= (dataBytes + 1ull) * rwPNGMAXINFLATE / height;
}

uint64_t RwPngImageDataBytes(RwUInt32 width, RwUInt32 height, RwInt32 pixelBits, RwBool interlaced)
{
    const auto rowBytes = [pixelBits](uint64_t columns) { return (columns * pixelBits + 7) / 8; };
    if (!interlaced)
        return static_cast<uint64_t>(height) * (1 + rowBytes(width));
    uint64_t total = 0;
    for (int pass = 0; pass < 7; pass++) {
        const uint64_t columns = PNG_PASS_COLS(static_cast<uint64_t>(width), pass);
        if (columns != 0)
            total += PNG_PASS_ROWS(static_cast<uint64_t>(height), pass) * (1 + rowBytes(columns));
    }
    return total;
}

RwInt32 RwPngGreyTo8(RwInt32 sample, RwInt32 bitDepth)
{
    if (bitDepth == 16)
        return (sample >> 8) & 0xFF;
    if (bitDepth >= 8)
        return sample & 0xFF;
    const RwInt32 maxValue = (1 << bitDepth) - 1;
    return (sample & maxValue) * 255 / maxValue;
}

// Grey ramp, then the file's PLTE colours, then its transparency.
static void FillPalette(png_structp png, png_infop info, RwImage *image, RwInt32 colourType, RwInt32 bitDepth)
{
    const RwInt32 entries = 1 << image->depth;
    for (RwInt32 i = 0; i < entries; i++) {
        image->palette[i].red = image->palette[i].green = image->palette[i].blue = static_cast<RwUInt8>(i);
        image->palette[i].alpha = 255;
    }
    png_colorp plte = nullptr;
    int numPalette = 0;
    if (png_get_valid(png, info, PNG_INFO_PLTE) && png_get_PLTE(png, info, &plte, &numPalette) && plte) {
        for (RwInt32 i = 0; i < numPalette && i < entries; i++) {
            image->palette[i].red = plte[i].red;
            image->palette[i].green = plte[i].green;
            image->palette[i].blue = plte[i].blue;
        }
    }
    png_bytep transAlpha = nullptr;
    int numTrans = 0;
    png_color_16p transColour = nullptr;
    if (!png_get_valid(png, info, PNG_INFO_tRNS) ||
        !png_get_tRNS(png, info, &transAlpha, &numTrans, &transColour))
        return;
    if (colourType == PNG_COLOR_TYPE_PALETTE && transAlpha) {
        for (RwInt32 i = 0; i < numTrans && i < entries; i++)
            image->palette[i].alpha = transAlpha[i];
    } else if (colourType == PNG_COLOR_TYPE_GRAY && transColour) {
        // A grey file's tRNS is one key value, not a list of alphas.
        image->palette[RwPngGreyTo8(transColour->gray, bitDepth)].alpha = 0;
    }
}

// Opens the file stream and makes libpng's structures for reading or writing; on failure
// whatever was made is released and the result is NULL.
static png_structp OpenPng(const RwChar *imageName, RwStreamAccessType access, RwStream **stream, png_infop *info)
{
    *stream = RwStreamOpen(rwSTREAMFILENAME, access, imageName);
    if (!*stream)
        return nullptr;
    const RwBool reading = access == rwSTREAMREAD;
    png_structp png = reading ? png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr, nullptr,
                                                         RwPngMalloc, RwPngFree)
                              : png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr, nullptr,
                                                          RwPngMalloc, RwPngFree);
    *info = png ? png_create_info_struct(png) : nullptr;
    if (png && !*info) {
        if (reading)
            png_destroy_read_struct(&png, nullptr, nullptr);
        else
            png_destroy_write_struct(&png, nullptr);
    }
    if (!*info) {
        RwStreamClose(*stream, nullptr);
        return nullptr;
    }
    return png;
}

RwImage *RwImageReadPng(const RwChar *imageName)
{
    if (!imageName) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    RwStream *stream = nullptr;
    png_infop info = nullptr;
    png_structp png = OpenPng(imageName, rwSTREAMREAD, &stream, &info);
    if (!png)
        return nullptr;
    // Set after the jump is armed, so they must live in memory for the error path.
    RwImage *volatile image = nullptr;
    png_bytep *volatile rows = nullptr;
    volatile RwUInt32 failure = E_RW_READ;
    if (setjmp(png_jmpbuf(png))) {
        RaiseError(failure);
        FreeIfMade(rows);
        if (image)
            RwImageDestroy(image);
        png_destroy_read_struct(&png, &info, nullptr);
        RwStreamClose(stream, nullptr);
        return nullptr;
    }
    RwPngSource source = {stream, 0, 0, UINT64_MAX, &failure, UINT64_MAX, 0};
    png_set_read_fn(png, &source, RwPngReadData);
    png_set_error_fn(png, nullptr, RwPngReadError, RwPngReadWarning);
    png_set_benign_errors(png, 0);
    png_set_compression_buffer_size(png, rwPNGIDATPIECE);
    // An index past the file's palette reads as the grey ramp's entry, which
    // the image's palette holds there: libpng's own check would refuse it.
    png_set_check_for_invalid_index(png, 0);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, rwPNGUNUSEDCHUNKS, rwPNGUNUSEDCHUNKCOUNT);
    // Those chunks are never held whole, so no length is too large for them,
    // wherever they stand; libpng's own limit would refuse legal files.
    png_set_chunk_malloc_max(png, PNG_UINT_31_MAX);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if (!RwPngSizeHeld(width, height)) {
        failure = E_RW_INVIMAGESIZE;
        png_error(png, "image larger than the reader takes");
    }
    // The file's rows; interlaced ones hold up to 15 more bytes each (filter
    // bytes and partial bytes of seven passes).
    const uint64_t rowData = (png_get_rowbytes(png, info) + 16) * static_cast<uint64_t>(height);
    // Nothing is allocated for rows the rest of the file could not fill.
    RwUInt32 left = 0;
    if (RwStreamGetRemaining(stream, &left) && !RwPngRowsFitData(png_get_rowbytes(png, info), height, left))
        png_error(png, "image larger than its data");
    png_set_strip_16(png);
    RwInt32 depth = 32;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
        if (bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        depth = 8;
        break;
    case PNG_COLOR_TYPE_RGB:
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        break;
    case PNG_COLOR_TYPE_PALETTE:
        if (bitDepth < 8) {
            png_set_packing(png);
            depth = 4;
        } else {
            depth = 8;
        }
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        break;
    default:
        png_error(png, "unknown colour type");
    }

    image = RwImageCreate(static_cast<RwInt32>(width), static_cast<RwInt32>(height), depth);
    if (!image)
        png_error(png, "no image");
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || !RwImageAllocatePixels(image))
        png_error(png, "no pixels");
    if (depth <= 8)
        FillPalette(png, info, image, colourType, bitDepth);

    // Interlaced files are read whole; the rows the transformations make must fit the stride.
    png_set_interlace_handling(png);
    png_set_read_user_transform_fn(png, CountRow);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) > static_cast<png_size_t>(image->stride))
        png_error(png, "row does not fit");

    rows = static_cast<png_bytep *>(RwMalloc(sizeof(png_bytep) * height, rwMEMHINT_PNG));
    if (!rows)
        png_error(png, "no row array");
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = image->cpPixels + static_cast<size_t>(y) * image->stride;
    source.limit = source.imageData + 2 * rowData + rwPNGSLACKBYTES;
    // With no pixel bits each row of each pass is its filter byte alone.
    source.rowsLeft = RwPngImageDataBytes(width, height, 0, png_get_interlace_type(png, info) != PNG_INTERLACE_NONE);
    png_read_image(png, rows);
    // What follows is passed over, not inflated: only the limit holds.
    source.rowsLeft = UINT64_MAX;
    // Damage or truncation after the rows is damage too.
    png_read_end(png, nullptr);

    png_destroy_read_struct(&png, &info, nullptr);
    RwFree(rows);
    RwStreamClose(stream, nullptr);
    return image;
}

RwImage *RwImageWritePng(RwImage *image, const RwChar *imageName)
{
    if (!image)
        return nullptr;
    // Nothing written is a failure, whatever the reason.
    if (!imageName || !image->cpPixels) {
        RaiseError(E_RW_NULLP);
        return nullptr;
    }
    RwInt32 bitDepth = 8;
    RwInt32 colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    if (image->depth == 4 || image->depth == 8) {
        if (!image->palette) {
            RaiseError(E_RW_NULLP);
            return nullptr;
        }
        bitDepth = image->depth;
        colourType = PNG_COLOR_TYPE_PALETTE;
    } else if (image->depth != 32) {
        // No file is made for an image that cannot be written.
        RaiseError(E_RW_INVIMAGEDEPTH);
        return nullptr;
    }
    if (image->width <= 0 || image->height <= 0) {
        RaiseError(E_RW_INVIMAGESIZE);
        return nullptr;
    }
    RwStream *stream = nullptr;
    png_infop info = nullptr;
    png_structp png = OpenPng(imageName, rwSTREAMWRITE, &stream, &info);
    if (!png)
        return nullptr;
    png_colorp volatile plte = nullptr;
    png_bytep volatile trans = nullptr;
    png_bytep *volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        FreeIfMade(rows);
        FreeIfMade(trans);
        FreeIfMade(plte);
        png_destroy_write_struct(&png, &info);
        RwStreamClose(stream, nullptr);
        return nullptr;
    }
    // Stream writes go straight through: flushing has nothing to do.
    png_set_write_fn(png, stream, RwPngWriteData, reinterpret_cast<png_flush_ptr>(RwDoNothing));
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height),
                 bitDepth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        const RwInt32 entries = 1 << image->depth;
        plte = static_cast<png_colorp>(RwMalloc(sizeof(png_color) * entries, rwMEMHINT_PNG));
        trans = static_cast<png_bytep>(RwMalloc(static_cast<size_t>(entries), rwMEMHINT_PNG));
        if (!plte || !trans)
            png_error(png, "no palette buffers");
        for (RwInt32 i = 0; i < entries; i++) {
            plte[i].red = image->palette[i].red;
            plte[i].green = image->palette[i].green;
            plte[i].blue = image->palette[i].blue;
            trans[i] = image->palette[i].alpha;
        }
        png_set_PLTE(png, info, plte, entries);
        png_set_tRNS(png, info, trans, entries, nullptr);
    }
    png_write_info(png, info);
    // A 4-bit image keeps one index per byte; the file packs two.
    png_set_packing(png);
    rows = static_cast<png_bytep *>(RwMalloc(sizeof(png_bytep) * static_cast<size_t>(image->height), rwMEMHINT_PNG));
    if (!rows)
        png_error(png, "no row array");
    for (RwInt32 y = 0; y < image->height; y++)
        rows[y] = image->cpPixels + static_cast<size_t>(y) * image->stride;
    png_write_image(png, rows);
    png_write_end(png, nullptr);

    RwFree(plte);
    RwFree(trans);
    RwFree(rows);
    png_destroy_write_struct(&png, &info);
    if (!RwStreamClose(stream, nullptr))
        return nullptr;
    return image;
}
