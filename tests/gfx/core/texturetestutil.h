// Shared set-up of the texture tests: the image engine on memory rasters, a fake image format
// whose files hold their pixels' colour, and a fixture that checks nothing leaks.
#pragma once

#include "imagetestutil.h"
#include "support/stream_bytes.h"
#include "support/test_rasters.h"
#include "gfx/core/texture.h"

// The engine on memory rasters; free lists settled so that leak checks balance.
class TextureEnvironment : public ImageEngineEnvironment {
public:
    explicit TextureEnvironment(RegisterFunction registerPlugins = nullptr) : ImageEngineEnvironment(registerPlugins) {}
    void SetUp() override
    {
        ImageEngineEnvironment::SetUp();
        RwTestRastersInstall();
        RwTextureDestroy(RwTextureCreate(nullptr));
    }
};

// Files "<name>.tft" of the working folder; the image read is width x height
// (from the file's first two bytes), 32-bit, every pixel the colour of bytes
// 2-5; a seventh byte of 8 or 4 makes an image of that depth, the colour at index 1.
inline RwImage *ReadTestFormat(const RwChar *name)
{
    const std::string bytes = ReadFileBytes(name);
    if (bytes.size() < 6)
        return nullptr;
    const RwInt32 depth = bytes.size() > 6 ? bytes[6] : 32;
    RwImage *image = MakeImage(static_cast<RwUInt8>(bytes[0]), static_cast<RwUInt8>(bytes[1]), depth);
    const RwRGBA c = Rgba(static_cast<RwUInt8>(bytes[2]), static_cast<RwUInt8>(bytes[3]),
                          static_cast<RwUInt8>(bytes[4]), static_cast<RwUInt8>(bytes[5]));
    for (RwInt32 y = 0; y < image->height; y++)
        for (RwInt32 x = 0; x < image->width; x++) {
            if (depth == 32)
                *PixelAt(image, x, y) = c;
            else
                image->cpPixels[y * image->stride + x] = 1;
        }
    if (depth != 32)
        image->palette[1] = c;
    return image;
}

inline void PutTestImage(const std::string &name, RwInt32 width, RwInt32 height, RwRGBA c, RwInt32 depth = 32)
{
    std::string bytes = {static_cast<char>(width), static_cast<char>(height), static_cast<char>(c.red),
                         static_cast<char>(c.green), static_cast<char>(c.blue), static_cast<char>(c.alpha)};
    if (depth != 32)
        bytes.push_back(static_cast<char>(depth));
    WriteFileBytes(name + ".tft", bytes);
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        RwTestRastersInstall();
        RwImageRegisterFormat("tft", ReadTestFormat, nullptr);
        RwImageSetPath("");
        TakeError();
        liveBefore = rwTestMemory.live;
    }
    void TearDown() override
    {
        rwTestMemory.failAfter = -1;
        RwImageSetGamma(1.0f);
        RwTextureDictionarySetCurrent(Default());
        RwTextureSetMipmapping(FALSE);
        RwTextureSetAutoMipmapping(FALSE);
        RwTextureSetReadCallback(RwTextureDefaultRead);
        RwTextureSetFindCallback(RwTextureDefaultFind);
        EXPECT_EQ(0, RwTestRastersLive()) << "rasters leaked";
        EXPECT_EQ(liveBefore, rwTestMemory.live) << "allocations leaked";
    }
    // The dictionary the module made at open (the oldest one).
    static RwTextureDictionary *Default()
    {
        RwTextureDictionary *last = nullptr;
        RwTextureDictionaryForAllDictionaries(
            [](RwTextureDictionary *d, void *data) {
                *static_cast<RwTextureDictionary **>(data) = d;
                return d;
            },
            &last);
        return last;
    }
    static std::vector<std::string> Names(RwTextureDictionary *dict)
    {
        std::vector<std::string> names;
        RwTextureDictionaryForAllTextures(
            dict,
            [](RwTexture *t, void *data) {
                static_cast<std::vector<std::string> *>(data)->push_back(t->name);
                return t;
            },
            &names);
        return names;
    }
    RwInt32 liveBefore = 0;
};

// Runs a stream reader over the bytes, or over their first n bytes.
template <class T>
T *ReadFrom(T *(*read)(RwStream *), Bytes bytes, size_t n = static_cast<size_t>(-1))
{
    RwStream *stream = OpenRead(bytes, n);
    T *object = read(stream);
    RwStreamClose(stream, nullptr);
    return object;
}
