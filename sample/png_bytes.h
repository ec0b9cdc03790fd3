// PNG files encoded by FreeImage, for engine tests and benchmarks.
#pragma once

#include <windows.h>

#include <FreeImage.h>

#include <string>

// The bitmap's PNG bytes; the bitmap is unloaded.
inline std::string SavePng(FIBITMAP *dib)
{
    FIMEMORY *memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_PNG, dib, memory, 0);
    BYTE *data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    std::string png(reinterpret_cast<char *>(data), size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(dib);
    return png;
}
