// Scripted stand-in for the sound layer's platform binding, and WAV files for its tests.
#pragma once

#include <string>

#include "evsound/platform.h"

// What the stand-in answers and what it saw. Handles are counted so a test can
// tell every opened output was closed.
struct EvsTestPlatformState {
    uint32_t clock = 0;           // what the clock reads; tests move it
    UINT devices = 1;             // devices listed
    bool failQuery = false;       // the format query at initialisation fails
    bool failOpen = false;        // opening an output fails
    int32_t opens = 0, closes = 0, writes = 0, resets = 0, pauses = 0, restarts = 0, volumes = 0;
    DWORD lastVolume = 0;
    WAVEFORMATEX lastFormat = {};
    DWORD lastLoops = 0;
    DWORD lastLength = 0;
    int32_t Live() const { return opens - closes; }
};
extern EvsTestPlatformState evsTestPlatform;

// Fresh state (one device, clock 0) and the stand-in bound.
void EvsTestPlatformInstall(void);
// The default binding back.
void EvsTestPlatformRemove(void);

// A PCM WAV image, written field by field: dataBytes of silence.
std::string EvsTestWav(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t dataBytes);
// Writes a file (creating its folder); false when it cannot.
bool EvsTestWriteFile(const std::string &path, const std::string &bytes);

