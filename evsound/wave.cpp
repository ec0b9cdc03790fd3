// PCM WAV files: reading, parsing, and playing one buffer on the wave output device.
#include <cstring>

#include "evsound/internal.h"
#include "gfx/core/byteorder.h"

EvsResult evsReadFile(const char *path, uint32_t limit, void **block, uint32_t *size)
{
    *block = NULL;
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return EVS_ERR_FILE_NOT_FOUND;
    }
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    if (length == INVALID_FILE_SIZE || high != 0 || length > 0x7FFFFFFFu) {
        CloseHandle(file);
        return EVS_ERR_FILE_READ;
    }
    if (limit && limit < length) {
        length = limit;
    }
    void *bytes = evsAlloc(length);
    if (!bytes) {
        CloseHandle(file);
        return EVS_ERR_MEMORY;
    }
    DWORD got = 0;
    BOOL ok = ReadFile(file, bytes, length, &got, NULL);
    CloseHandle(file);
    if (!ok || got != length) {
        evsFree(bytes);
        return EVS_ERR_FILE_READ;
    }
    *block = bytes;
    *size = length;
    return EVS_OK;
}

static bool evsFormatUsable(const WAVEFORMATEX &f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

EvsResult evsWaveParse(void *block, uint32_t size, EvsWave *wave)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(block);
    memset(wave, 0, sizeof(*wave));
    if (size < 12 || memcmp(bytes, "RIFF", 4) != 0 || memcmp(bytes + 8, "WAVE", 4) != 0) {
        return EVS_ERR_FORMAT;
    }
    bool haveFormat = false, haveData = false;
    uint32_t at = 12;
    while (size - at >= 8) {
        uint32_t chunk = ReadU32(bytes + at + 4);
        const uint8_t *body = bytes + at + 8;
        if (chunk > size - at - 8) {
            return EVS_ERR_FORMAT;   // truncated chunk
        }
        if (memcmp(bytes + at, "fmt ", 4) == 0 && chunk >= 16) {
            wave->format.wFormatTag = ReadU16(body);
            wave->format.nChannels = ReadU16(body + 2);
            wave->format.nSamplesPerSec = ReadU32(body + 4);
            wave->format.nAvgBytesPerSec = ReadU32(body + 8);
            wave->format.nBlockAlign = ReadU16(body + 12);
            wave->format.wBitsPerSample = ReadU16(body + 14);
            haveFormat = true;
        } else if (memcmp(bytes + at, "data", 4) == 0) {
            wave->pcm = body;
            wave->bytes = chunk;
            haveData = true;
        }
        uint32_t step = 8 + chunk + (chunk & 1);
        if (step > size - at) {
            break;
        }
        at += step;
    }
    if (!haveFormat || !haveData || !evsFormatUsable(wave->format)) {
        memset(wave, 0, sizeof(*wave));
        return EVS_ERR_FORMAT;
    }
    wave->bytes -= wave->bytes % wave->format.nBlockAlign;
    wave->block = block;
    return EVS_OK;
}

uint32_t evsWaveLengthMs(const EvsWave *wave)
{
    if (!wave->block) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(wave->bytes) * 1000u /
                                 wave->format.nAvgBytesPerSec);
}

void evsWaveFree(EvsWave *wave)
{
    evsFree(wave->block);
    memset(wave, 0, sizeof(*wave));
}

static DWORD evsVolumeWord(float volume)
{
    DWORD level = static_cast<DWORD>(evsClampVolume(volume) * 65535.0f + 0.5f);
    return level | (level << 16);
}

bool evsVoiceStart(EvsSystem *system, EvsVoice *voice, const EvsWave *wave, bool loop, float volume)
{
    evsVoiceStop(voice);
    if (!system->device || !wave->block || wave->bytes == 0) {
        return false;
    }
    const EvsPlatform *p = EvsPlatformGet();
    if (p->outOpen(&voice->out, WAVE_MAPPER, &wave->format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return false;
    }
    memset(&voice->header, 0, sizeof(voice->header));
    voice->header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t *>(wave->pcm));
    voice->header.dwBufferLength = wave->bytes;
    if (loop) {
        voice->header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        voice->header.dwLoops = 0xFFFFFFFFu;
    }
    if (p->outPrepare(voice->out, &voice->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        p->outClose(voice->out);
        return false;
    }
    voice->level = volume;
    p->outSetVolume(voice->out, evsVolumeWord(volume));
    if (p->outWrite(voice->out, &voice->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        p->outUnprepare(voice->out, &voice->header, sizeof(WAVEHDR));
        p->outClose(voice->out);
        return false;
    }
    voice->open = true;
    return true;
}

void evsVoiceStop(EvsVoice *voice)
{
    if (!voice->open) {
        return;
    }
    const EvsPlatform *p = EvsPlatformGet();
    p->outReset(voice->out);
    p->outUnprepare(voice->out, &voice->header, sizeof(WAVEHDR));
    p->outClose(voice->out);
    voice->open = false;
}

void evsVoiceSetVolume(EvsVoice *voice, float volume)
{
    if (voice->open && voice->level != volume) {
        voice->level = volume;
        EvsPlatformGet()->outSetVolume(voice->out, evsVolumeWord(volume));
    }
}

void evsVoicePause(EvsVoice *voice, bool paused)
{
    if (voice->open) {
        const EvsPlatform *p = EvsPlatformGet();
        if (paused) {
            p->outPause(voice->out);
        } else {
            p->outRestart(voice->out);
        }
    }
}

float evsClampVolume(float volume)
{
    if (!(volume > 0.0f)) {
        return 0.0f;   // also NaN
    }
    return volume > 1.0f ? 1.0f : volume;
}
