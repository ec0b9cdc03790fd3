// A small event project assembled by hand from the file layout, shared by the sound layer tests.
#pragma once

#include <cstdint>
#include <vector>

#include "evsound/evsound.h"

// Group 0: "bgm_town" (length from its WAV, loops, "town.wav"), "hit" (500 ms,
// user flags 0x08); group 1: empty; group 2: "step" (250 ms).
static const uint8_t kEvsProject[] = {
    'E', 'V', 'S', 'P', 1, 0, 3, 0,
    2, 0,
    8, 'b', 'g', 'm', '_', 't', 'o', 'w', 'n', 0, 0, 0, 0, 0x01, 0x00,
    8, 't', 'o', 'w', 'n', '.', 'w', 'a', 'v',
    3, 'h', 'i', 't', 0xF4, 0x01, 0, 0, 0x00, 0x08, 0,
    0, 0,
    1, 0,
    4, 's', 't', 'e', 'p', 0xFA, 0, 0, 0, 0x00, 0x00, 0,
};

inline EvsLoadInfo EvsTestLoadInfo(uint32_t length)
{
    EvsLoadInfo info = {};
    info.size = sizeof(EvsLoadInfo);
    info.dataLength = length;
    return info;
}

inline EvsResult EvsTestLoad(EvsSystem *system, const std::vector<uint8_t> &bytes, EvsProject **project)
{
    EvsLoadInfo info = EvsTestLoadInfo(static_cast<uint32_t>(bytes.size()));
    return EvsSystemLoadProject(system, bytes.data(), &info, project);
}
