// The platform binding: the system's wave output and timer by default, replaceable for tests.
#include "evsound/internal.h"

static uint32_t WINAPI evsDefaultClock(void)
{
    return timeGetTime();
}

static MMRESULT WINAPI evsDefaultOpen(HWAVEOUT *out, UINT device, const WAVEFORMATEX *format,
                                      DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    return waveOutOpen(out, device, const_cast<WAVEFORMATEX *>(format), callback, instance, flags);
}

static const EvsPlatform evsDefault = {
    evsDefaultClock,
    waveOutGetNumDevs,
    evsDefaultOpen,
    waveOutPrepareHeader,
    waveOutUnprepareHeader,
    waveOutWrite,
    waveOutPause,
    waveOutRestart,
    waveOutReset,
    waveOutClose,
    waveOutSetVolume,
};

static EvsPlatform evsCurrent = evsDefault;

void EvsPlatformSet(const EvsPlatform *platform)
{
    evsCurrent = platform ? *platform : evsDefault;
}

const EvsPlatform *EvsPlatformGet(void)
{
    return &evsCurrent;
}

const EvsPlatform *EvsPlatformDefault(void)
{
    return &evsDefault;
}
