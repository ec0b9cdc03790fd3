// The sample tree's generated data: the event project in Data/sound/ and the texture loader's placeholders.
#pragma once

#include <windows.h>

#include <FreeImage.h>

#include <string>

#include "evsound/projectbuild.h"
#include "sample/png_bytes.h"
#include "sample/sample_files.h"

// Groups 0, 1 and 16 are the ones the game loads at start.
inline const char *KivSampleSoundDescription()
{
    return "group\n"
           "event BGM_town 2000 loop\n"
           "event bGm_battle 1000\n"
           "event bgx_hit 500\n"
           "event hit_half 1000 user=0x08\n"
           "event step 300\n"
           "group\n"
           "event voice 1000\n"
           "event swing 400\n"
           "group\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\ngroup\n"
           "group\n"
           "event ui_click 200\n";
}

// root ends with '/' or is empty (the working folder).
inline bool KivSampleWriteSound(const std::string &root = "")
{
    const std::string text = KivSampleSoundDescription();
    void *image = nullptr;
    uint32_t size = 0;
    int32_t line = 0;
    if (EvsProjectBuild(text.data(), static_cast<uint32_t>(text.size()), &image, &size, &line) != EVS_OK)
        return false;
    const bool ok = KivSampleWrite(root + "Data/sound/sound.fev", image, size);
    EvsProjectFreeImage(image);
    return ok;
}

// A 2 x 2 opaque PNG of one colour.
inline bool KivSampleWriteSolidPng(const std::string &path, BYTE r, BYTE g, BYTE b)
{
    // Usable before the engine starts: the PNG plug-in needs an initialised library.
    FreeImage_Initialise(FALSE);
    FIBITMAP *dib = FreeImage_Allocate(2, 2, 32);
    for (unsigned y = 0; y < 2; y++) {
        BYTE *row = FreeImage_GetScanLine(dib, y);
        for (unsigned x = 0; x < 2; x++) {
            row[x * 4 + FI_RGBA_RED] = r;
            row[x * 4 + FI_RGBA_GREEN] = g;
            row[x * 4 + FI_RGBA_BLUE] = b;
            row[x * 4 + FI_RGBA_ALPHA] = 255;
        }
    }
    const std::string png = SavePng(dib);
    const bool ok = !png.empty() && KivSampleWrite(path, png.data(), png.size());
    FreeImage_DeInitialise();
    return ok;
}

// World placeholder blue-grey, model placeholder orange.
inline bool KivSampleWritePlaceholders(const std::string &root = "")
{
    return KivSampleWriteSolidPng(root + "Data/Interface/Dummy/fill_bsp.png", 40, 60, 200) &&
           KivSampleWriteSolidPng(root + "Data/Interface/Dummy/fill_dff.png", 230, 120, 20);
}
