// Scripted stand-in for the sound layer's platform binding, and WAV files for its tests.
#include "tests/evsound/test_platform.h"

#include <cstring>

EvsTestPlatformState evsTestPlatform;

static uint32_t WINAPI testClock(void) { return evsTestPlatform.clock; }
static UINT WINAPI testDevices(void) { return evsTestPlatform.devices; }

static MMRESULT WINAPI testOpen(HWAVEOUT *out, UINT, const WAVEFORMATEX *format, DWORD_PTR, DWORD_PTR,
                                DWORD flags)
{
    if (flags & WAVE_FORMAT_QUERY) {
        return evsTestPlatform.failQuery ? WAVERR_BADFORMAT : MMSYSERR_NOERROR;
    }
    if (evsTestPlatform.failOpen) {
        return MMSYSERR_NODRIVER;
    }
    *out = reinterpret_cast<HWAVEOUT>(static_cast<uintptr_t>(++evsTestPlatform.opens));
    evsTestPlatform.lastFormat = *format;
    return MMSYSERR_NOERROR;
}

static MMRESULT WINAPI testHeader(HWAVEOUT, WAVEHDR *, UINT) { return MMSYSERR_NOERROR; }

static MMRESULT WINAPI testWrite(HWAVEOUT, WAVEHDR *header, UINT)
{
    ++evsTestPlatform.writes;
    evsTestPlatform.lastLoops = (header->dwFlags & WHDR_BEGINLOOP) ? header->dwLoops : 0;
    evsTestPlatform.lastLength = header->dwBufferLength;
    return MMSYSERR_NOERROR;
}

static MMRESULT WINAPI testPause(HWAVEOUT) { ++evsTestPlatform.pauses; return MMSYSERR_NOERROR; }
static MMRESULT WINAPI testRestart(HWAVEOUT) { ++evsTestPlatform.restarts; return MMSYSERR_NOERROR; }
static MMRESULT WINAPI testReset(HWAVEOUT) { ++evsTestPlatform.resets; return MMSYSERR_NOERROR; }
static MMRESULT WINAPI testClose(HWAVEOUT) { ++evsTestPlatform.closes; return MMSYSERR_NOERROR; }

static MMRESULT WINAPI testVolume(HWAVEOUT, DWORD volume)
{
    ++evsTestPlatform.volumes;
    evsTestPlatform.lastVolume = volume;
    return MMSYSERR_NOERROR;
}

void EvsTestPlatformInstall(void)
{
    static const EvsPlatform binding = {testClock, testDevices, testOpen, testHeader, testHeader, testWrite,
                                        testPause, testRestart, testReset, testClose, testVolume};
    evsTestPlatform = EvsTestPlatformState();
    EvsPlatformSet(&binding);
}

void EvsTestPlatformRemove(void)
{
    EvsPlatformSet(NULL);
}

static void put(std::string &s, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        s.push_back(static_cast<char>(value >> (8 * i)));
    }
}

std::string EvsTestWav(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t dataBytes)
{
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    std::string s = "RIFF";
    put(s, 36 + dataBytes, 4);
    s += "WAVEfmt ";
    put(s, 16, 4);
    put(s, 1, 2);               // PCM
    put(s, channels, 2);
    put(s, rate, 4);
    put(s, rate * align, 4);
    put(s, align, 2);
    put(s, bits, 2);
    s += "data";
    put(s, dataBytes, 4);
    s.append(dataBytes, bits == 8 ? '\x80' : '\0');
    return s;
}

bool EvsTestWriteFile(const std::string &path, const std::string &bytes)
{
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) {
        CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(h);
    return ok && written == bytes.size();
}
