// Replaceable platform binding of the sound layer: the clock and the wave output calls.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

// Everything the layer asks of the operating system besides files goes
// through this table, so tests can script the device and drive the clock.
// The default binding is the system's wave output and millisecond timer.
struct EvsPlatform {
    uint32_t(WINAPI *clockMs)(void);
    UINT(WINAPI *outDeviceCount)(void);
    MMRESULT(WINAPI *outOpen)(HWAVEOUT *out, UINT device, const WAVEFORMATEX *format, DWORD_PTR callback,
                        DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI *outPrepare)(HWAVEOUT out, WAVEHDR *header, UINT headerSize);
    MMRESULT(WINAPI *outUnprepare)(HWAVEOUT out, WAVEHDR *header, UINT headerSize);
    MMRESULT(WINAPI *outWrite)(HWAVEOUT out, WAVEHDR *header, UINT headerSize);
    MMRESULT(WINAPI *outPause)(HWAVEOUT out);
    MMRESULT(WINAPI *outRestart)(HWAVEOUT out);
    MMRESULT(WINAPI *outReset)(HWAVEOUT out);
    MMRESULT(WINAPI *outClose)(HWAVEOUT out);
    MMRESULT(WINAPI *outSetVolume)(HWAVEOUT out, DWORD volume);
};

// The binding the layer uses from now on (copied); NULL restores the default.
// Change it only while no system exists.
void EvsPlatformSet(const EvsPlatform *platform);
const EvsPlatform *EvsPlatformGet(void);
const EvsPlatform *EvsPlatformDefault(void);

// Test hook: this many more allocations succeed, then every one fails (-1: none fails).
void EvsFailAllocationsAfter(int32_t count);
