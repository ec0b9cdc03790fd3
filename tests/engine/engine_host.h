// The game's host for engine tests: a 1024x768 popup window, an engine root on it, file helpers.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "sample/png_bytes.h"
#include "sample/sample_files.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9window.h"

inline HWND HostWindow()
{
    static HWND window = KivTestCreateWindow(1024, 768, "KivEngineHost");
    return window;
}

inline int InitHost(CKivBase *base, int packedArchive = 0)
{
    return base->Init(HostWindow(), GetModuleHandleA(nullptr), 1024, 768, "kiv test", packedArchive, 0);
}

// One engine root initialised for the whole test program; Base makes it.
template <typename Base = CKivBase>
class HostedEngine : public ::testing::Environment {
public:
    void SetUp() override
    {
        base = new Base;
        ASSERT_EQ(1, InitHost(base));
    }
    void TearDown() override
    {
        base->Shutdown();
        delete base;
    }
    static inline CKivBase *base = nullptr;
};

// Registers the program's one engine root; each file of a program may ask.
inline ::testing::Environment *HostEngine()
{
    static ::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new HostedEngine<>);
    return environment;
}

inline std::string ReadFileBytes(const std::string &name)
{
    std::string bytes;
    FILE *f = fopen(name.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

// Makes the folders on the way.
inline void WriteFileBytes(const std::string &name, const std::string &bytes)
{
    ASSERT_TRUE(KivSampleWrite(name, bytes)) << name;
}

// A new "data.pcl" in the working folder holding one file.
inline void WritePackedFile(const char *name, const std::string &bytes)
{
    CParcel writer;
    DeleteFileA("data.pcl");
    ASSERT_TRUE(writer.Open(1, "data.pcl", 4, 1024));
    HANDLE h = writer.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    writer.SetFileSize(h, static_cast<DWORD>(bytes.size()), 0);   // an entry's room is set before writing
    DWORD done = 0;
    ASSERT_TRUE(bytes.empty() || writer.WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    writer.CloseHandle(h);
    ASSERT_TRUE(writer.Flush(0));
    writer.Close();
}

// A PNG of w x h made by FreeImage: pixel (x, y) of the picture (top row
// first) has red x, green y, blue 7 and alpha 0 on the diagonal, else 255.
inline std::string GradientPng(int w, int h)
{
    FIBITMAP *dib = FreeImage_Allocate(w, h, 32);
    for (int y = 0; y < h; y++) {
        BYTE *row = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; x++) {
            row[4 * x + FI_RGBA_RED] = static_cast<BYTE>(x);
            row[4 * x + FI_RGBA_GREEN] = static_cast<BYTE>(y);
            row[4 * x + FI_RGBA_BLUE] = 7;
            row[4 * x + FI_RGBA_ALPHA] = x == y ? 0 : 255;
        }
    }
    return SavePng(dib);
}

// The RGBA pixels of a raster, rows without padding.
inline std::vector<RwUInt8> RasterPixels(RwRaster *raster)
{
    RwImage *image = RwImageCreate(raster->width, raster->height, 32);
    RwImageAllocatePixels(image);
    RwImageSetFromRaster(image, raster);
    std::vector<RwUInt8> pixels;
    for (int y = 0; y < image->height; y++)
        pixels.insert(pixels.end(), image->cpPixels + y * image->stride,
                      image->cpPixels + y * image->stride + image->width * 4);
    RwImageDestroy(image);
    return pixels;
}

// A model file without atomics: frames (parent index and position, no
// rotation), then lights and cameras given as (frame index, object chunk).
struct ModelFrame {
    int parent;
    float x, y, z;
};
inline std::string ModelFile(const std::vector<ModelFrame> &frames,
                             const std::vector<std::pair<int, std::string>> &lights,
                             const std::vector<std::pair<int, std::string>> &cameras)
{
    std::string head, list, members;
    for (unsigned n : {0u, static_cast<unsigned>(lights.size()), static_cast<unsigned>(cameras.size())})
        PutU32(head, n);
    PutU32(list, static_cast<unsigned>(frames.size()));
    for (const ModelFrame &f : frames) {
        for (float v : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, f.x, f.y, f.z})
            PutF32(list, v);
        PutU32(list, static_cast<unsigned>(f.parent));
        PutU32(list, 0);
    }
    std::string extensions;
    for (size_t i = 0; i < frames.size(); i++)
        extensions += Chunk(0x03, "");
    std::string noGeometry;
    PutU32(noGeometry, 0);
    for (const auto *group : {&lights, &cameras}) {
        for (const auto &m : *group) {
            std::string index;
            PutU32(index, static_cast<unsigned>(m.first));
            members += Chunk(0x01, index) + m.second;
        }
    }
    return Chunk(0x10, Chunk(0x01, head) + Chunk(0x0E, Chunk(0x01, list) + extensions) +
                           Chunk(0x1A, Chunk(0x01, noGeometry)) + members + Chunk(0x03, ""));
}
