// The third-party libraries as the engine uses them: Lua states running
// chunks from memory, PNG images written and read on memory streams, FreeImage
// decoding from memory, and zlib.
#include <windows.h>

#include <cstring>
#include <csetjmp>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>
// FreeImage's PNG save flags reuse a name that png.h defines too.
#undef PNG_Z_DEFAULT_COMPRESSION
#include <FreeImage.h>
#include <lua.hpp>

#include <gtest/gtest.h>

namespace {

// --- Lua ---------------------------------------------------------------

int AddNumbers(lua_State *L)
{
    lua_pushnumber(L, luaL_checknumber(L, 1) + luaL_checknumber(L, 2));
    return 1;
}

class LuaState : public ::testing::Test {
protected:
    void SetUp() override
    {
        L = luaL_newstate();
        ASSERT_NE(L, nullptr);
        luaL_openlibs(L);
    }
    void TearDown() override { lua_close(L); }

    int Run(const char *chunk)
    {
        int status = luaL_loadbuffer(L, chunk, std::strlen(chunk), "chunk");
        if (status == 0)
            status = lua_pcall(L, 0, 1, 0);
        return status;
    }

    lua_State *L = nullptr;
};

TEST_F(LuaState, RunsChunkWithStandardLibraries)
{
    ASSERT_EQ(Run("local t = {} for i = 1, 10 do t[i] = i * i end "
                  "return string.format('%d:%d', #t, t[10])"), 0);
    EXPECT_STREQ(lua_tostring(L, -1), "10:100");
}

TEST_F(LuaState, CallsRegisteredCFunction)
{
    static const luaL_Reg functions[] = {{"Add", AddNumbers}, {nullptr, nullptr}};
    luaL_register(L, "Host", functions);
    lua_pop(L, 1);
    ASSERT_EQ(Run("return Host.Add(40, 2.5)"), 0);
    EXPECT_DOUBLE_EQ(lua_tonumber(L, -1), 42.5);
}

TEST_F(LuaState, ReportsSyntaxAndRuntimeErrors)
{
    EXPECT_EQ(Run("return +"), LUA_ERRSYNTAX);
    lua_settop(L, 0);
    ASSERT_EQ(Run("error('broken')"), LUA_ERRRUN);
    EXPECT_NE(std::string(lua_tostring(L, -1)).find("broken"), std::string::npos);
}

// Lua is compiled as C++: an error raised in a host function unwinds that
// function's frame, running its destructors on the way to the protected call.
int g_unwound = 0;

struct CountsUnwinding {
    ~CountsUnwinding() { g_unwound++; }
};

int RaisesFromHostFrame(lua_State *L)
{
    CountsUnwinding held;
    return luaL_error(L, "raised from the host");
}

TEST_F(LuaState, ErrorsUnwindHostFrames)
{
    lua_register(L, "Raise", RaisesFromHostFrame);
    g_unwound = 0;
    ASSERT_EQ(Run("Raise()"), LUA_ERRRUN);
    EXPECT_NE(std::string(lua_tostring(L, -1)).find("raised from the host"), std::string::npos);
    EXPECT_EQ(g_unwound, 1);
    lua_settop(L, 0);
    ASSERT_EQ(Run("return pcall(Raise)"), 0);
    EXPECT_EQ(g_unwound, 2);
}

// --- libpng -------------------------------------------------------------

const int kWidth = 3, kHeight = 2;
// Row-major RGBA, top row first.
const unsigned char kPixels[kHeight][kWidth * 4] = {
    {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255},
    {10, 20, 30, 40, 200, 100, 50, 128, 255, 255, 255, 0},
};

struct Reader {
    const std::vector<unsigned char> *data;
    size_t offset;
};

void WriteToVector(png_structp png, png_bytep bytes, png_size_t size)
{
    auto *out = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
    out->insert(out->end(), bytes, bytes + size);
}

void FlushNothing(png_structp) {}

void ReadFromVector(png_structp png, png_bytep bytes, png_size_t size)
{
    auto *in = static_cast<Reader *>(png_get_io_ptr(png));
    if (in->offset + size > in->data->size())
        png_error(png, "read past the end");
    std::memcpy(bytes, in->data->data() + in->offset, size);
    in->offset += size;
}

std::vector<unsigned char> EncodePng()
{
    std::vector<unsigned char> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kHeight; ++y)
        png_write_row(png, kPixels[y]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Decodes to RGBA rows; false when libpng reports an error.
bool DecodePng(const std::vector<unsigned char> &data, std::vector<unsigned char> *rgba,
               png_uint_32 *width, png_uint_32 *height)
{
    Reader reader = {&data, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, ReadFromVector);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_RGBA || png_get_bit_depth(png, info) != 8)
        png_error(png, "unexpected pixel format");
    rgba->assign(*width * *height * 4, 0);
    for (png_uint_32 y = 0; y < *height; ++y)
        png_read_row(png, rgba->data() + y * *width * 4, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

TEST(Png, RoundTripsRgbaImageInMemory)
{
    std::vector<unsigned char> file = EncodePng();
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(png_sig_cmp(file.data(), 0, 8), 0);

    std::vector<unsigned char> rgba;
    png_uint_32 width = 0, height = 0;
    ASSERT_TRUE(DecodePng(file, &rgba, &width, &height));
    EXPECT_EQ(width, png_uint_32(kWidth));
    EXPECT_EQ(height, png_uint_32(kHeight));
    EXPECT_EQ(std::memcmp(rgba.data(), kPixels, sizeof kPixels), 0);
}

TEST(Png, TruncatedFileFailsThroughErrorHandler)
{
    std::vector<unsigned char> file = EncodePng();
    ASSERT_FALSE(file.empty());
    std::vector<unsigned char> rgba;
    png_uint_32 width = 0, height = 0;
    for (size_t keep : {size_t(8), size_t(20), file.size() / 2, file.size() - 13}) {
        std::vector<unsigned char> cut(file.begin(), file.begin() + keep);
        EXPECT_FALSE(DecodePng(cut, &rgba, &width, &height)) << "kept " << keep << " bytes";
    }
}

// --- FreeImage ----------------------------------------------------------

class FreeImageLib : public ::testing::Test {
protected:
    static void SetUpTestSuite() { FreeImage_Initialise(FALSE); }
    static void TearDownTestSuite() { FreeImage_DeInitialise(); }
};

TEST_F(FreeImageLib, DecodesPngFromMemoryTo32Bits)
{
    std::vector<unsigned char> file = EncodePng();
    FIMEMORY *memory = FreeImage_OpenMemory(file.data(), DWORD(file.size()));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(FreeImage_GetFileTypeFromMemory(memory, 0), FIF_PNG);
    FIBITMAP *loaded = FreeImage_LoadFromMemory(FIF_PNG, memory, 0);
    FreeImage_CloseMemory(memory);
    ASSERT_NE(loaded, nullptr);
    FIBITMAP *image = FreeImage_ConvertTo32Bits(loaded);
    FreeImage_Unload(loaded);
    ASSERT_NE(image, nullptr);

    EXPECT_EQ(FreeImage_GetWidth(image), unsigned(kWidth));
    EXPECT_EQ(FreeImage_GetHeight(image), unsigned(kHeight));
    EXPECT_EQ(FreeImage_GetBPP(image), 32u);
    for (int y = 0; y < kHeight; ++y) {
        // FreeImage keeps rows bottom-up.
        const BYTE *row = FreeImage_GetScanLine(image, kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) {
            const BYTE *pixel = row + x * 4;
            const unsigned char *expected = &kPixels[y][x * 4];
            EXPECT_EQ(pixel[FI_RGBA_RED], expected[0]) << x << "," << y;
            EXPECT_EQ(pixel[FI_RGBA_GREEN], expected[1]) << x << "," << y;
            EXPECT_EQ(pixel[FI_RGBA_BLUE], expected[2]) << x << "," << y;
            EXPECT_EQ(pixel[FI_RGBA_ALPHA], expected[3]) << x << "," << y;
        }
    }

    FIBITMAP *larger = FreeImage_Rescale(image, kWidth * 2, kHeight * 2, FILTER_BOX);
    ASSERT_NE(larger, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(larger), unsigned(kWidth * 2));
    EXPECT_EQ(FreeImage_GetHeight(larger), unsigned(kHeight * 2));
    FreeImage_Unload(larger);
    FreeImage_Unload(image);
}

TEST_F(FreeImageLib, KeepsFormatIdsOfCodecsLeftOut)
{
    EXPECT_EQ(FreeImage_GetFIFCount(), FIF_JXR + 1);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("JPEG"), FIF_JPEG);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("PNG"), FIF_PNG);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("TIFF"), FIF_TIFF);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("TARGA"), FIF_TARGA);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("DDS"), FIF_DDS);
    EXPECT_EQ(FreeImage_GetFIFFromFormat("WebP"), FIF_WEBP);
    EXPECT_EQ(FreeImage_GetFIFFromFilename("picture.jpg"), FIF_JPEG);
    EXPECT_STREQ(FreeImage_GetFIFMimeType(FIF_JPEG), "image/jpeg");
    EXPECT_TRUE(FreeImage_FIFSupportsReading(FIF_PNG));
    EXPECT_TRUE(FreeImage_FIFSupportsReading(FIF_BMP));
    EXPECT_FALSE(FreeImage_FIFSupportsReading(FIF_JPEG));
    EXPECT_FALSE(FreeImage_FIFSupportsWriting(FIF_JPEG));
}

TEST_F(FreeImageLib, LeftOutCodecFailsCleanly)
{
    static BYTE jpegStart[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    FIMEMORY *memory = FreeImage_OpenMemory(jpegStart, sizeof jpegStart);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(FreeImage_GetFileTypeFromMemory(memory, 0), FIF_UNKNOWN);
    EXPECT_EQ(FreeImage_LoadFromMemory(FIF_JPEG, memory, 0), nullptr);
    FreeImage_CloseMemory(memory);
}

TEST_F(FreeImageLib, RejectsDamagedPng)
{
    std::vector<unsigned char> file = EncodePng();
    file.resize(file.size() / 2);
    FIMEMORY *memory = FreeImage_OpenMemory(file.data(), DWORD(file.size()));
    ASSERT_NE(memory, nullptr);
    FIBITMAP *image = FreeImage_LoadFromMemory(FIF_PNG, memory, 0);
    EXPECT_EQ(image, nullptr);
    if (image)
        FreeImage_Unload(image);
    FreeImage_CloseMemory(memory);
}

// --- zlib ---------------------------------------------------------------

TEST(Zlib, CompressesAndRestores)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "Chunked streams compress well. ";
    std::vector<Bytef> packed(compressBound(uLong(text.size())));
    uLongf packedSize = uLongf(packed.size());
    ASSERT_EQ(compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef *>(text.data()),
                        uLong(text.size()), Z_BEST_COMPRESSION), Z_OK);
    EXPECT_LT(packedSize, text.size() / 10);

    std::vector<Bytef> restored(text.size());
    uLongf restoredSize = uLongf(restored.size());
    ASSERT_EQ(uncompress(restored.data(), &restoredSize, packed.data(), packedSize), Z_OK);
    EXPECT_EQ(std::string(restored.begin(), restored.begin() + restoredSize), text);

    restoredSize = uLongf(restored.size());
    EXPECT_NE(uncompress(restored.data(), &restoredSize, packed.data(), packedSize / 2), Z_OK);
}

TEST(Zlib, ComputesStandardCrc)
{
    const char check[] = "123456789";
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef *>(check), 9), 0xCBF43926ul);
}

}  // namespace
