// One-colour PNG images written through the library for the GUI tests.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"

// Writes a PNG of one colour (R, G, B, A) at path + ".png", making its folders.
inline void WriteGuiPng(const std::string &path, int w, int h, RwRGBA colour)
{
    for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    RwImage *image = RwImageCreate(w, h, 32);
    ASSERT_NE(image, nullptr);
    RwImageAllocatePixels(image);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            std::memcpy(image->cpPixels + y * image->stride + 4 * x, &colour, 4);
    ASSERT_NE(RwImageWritePng(image, (path + ".png").c_str()), nullptr);
    RwImageDestroy(image);
}
