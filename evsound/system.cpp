// The event system: creation, initialisation, media path, the update that advances the clock.
#include <cstring>

#include "evsound/internal.h"

EvsResult EvsSystemCreate(EvsSystem **system)
{
    if (!system) {
        return EVS_ERR_INVALID_PARAM;
    }
    *system = NULL;
    EvsSystem *s = static_cast<EvsSystem *>(evsAlloc(sizeof(EvsSystem)));
    if (!s) {
        return EVS_ERR_MEMORY;
    }
    s->mixer.system = s;
    s->mixer.speakers = EVS_SPEAKERS_STEREO;
    s->mixer.doppler = 1.0f;
    s->mixer.distanceFactor = 1.0f;
    s->mixer.rolloff = 1.0f;
    s->mixer.listenerForward = EvsVector{0.0f, 0.0f, 1.0f};
    s->mixer.listenerUp = EvsVector{0.0f, 1.0f, 0.0f};
    *system = s;
    evsTrace("system create");
    return EVS_OK;
}

EvsResult EvsSystemRelease(EvsSystem *system)
{
    if (!system) {
        return EVS_OK;
    }
    EvsProjectRelease(system->project);
    while (system->samples) {
        EvsSampleRelease(system->samples);
    }
    evsFree(system->slots);
    evsFree(system);
    evsTrace("system release");
    return EVS_OK;
}

EvsResult EvsSystemGetMixer(EvsSystem *system, EvsMixer **mixer)
{
    if (!mixer) {
        return EVS_ERR_INVALID_PARAM;
    }
    *mixer = system ? &system->mixer : NULL;
    return system ? EVS_OK : EVS_ERR_INVALID_PARAM;
}

// A device counts when the system lists one and it accepts a common format.
static bool evsProbeDevice(void)
{
    const EvsPlatform *p = EvsPlatformGet();
    if (p->outDeviceCount() == 0) {
        return false;
    }
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    return p->outOpen(NULL, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

EvsResult EvsSystemInit(EvsSystem *system, int32_t maxChannels, uint32_t flags, void *driverData,
                        uint32_t eventFlags)
{
    if (!system || maxChannels < 1 || maxChannels > static_cast<int32_t>(EVS_MAX_CHANNELS) ||
        (flags & ~(EVS_INIT_SILENT | EVS_INIT_SPATIAL)) || eventFlags != 0) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (system->initialised) {
        return EVS_ERR_ALREADY;
    }
    system->slots = static_cast<EvsSlot *>(evsAlloc(sizeof(EvsSlot) * maxChannels));
    if (!system->slots) {
        return EVS_ERR_MEMORY;
    }
    system->slotCount = maxChannels;
    system->flags = flags;
    system->device = !(flags & EVS_INIT_SILENT) && evsProbeDevice();
    system->lastClock = EvsPlatformGet()->clockMs();
    system->now = 0;
    system->initialised = true;
    evsTrace("init channels=%d flags=0x%x output=%s", maxChannels, flags,
             system->device ? "device" : "none");
    return EVS_OK;
}

EvsResult EvsSystemSetMediaPath(EvsSystem *system, const char *path)
{
    if (!system || !path || strlen(path) > EVS_MAX_MEDIA_PATH) {
        return EVS_ERR_INVALID_PARAM;
    }
    strcpy(system->mediaPath, path);
    evsTrace("mediapath %s", path);
    return EVS_OK;
}

EvsResult EvsSystemSetMediaReader(EvsSystem *system, EvsMediaReader reader, void *user)
{
    if (!system) {
        return EVS_ERR_INVALID_PARAM;
    }
    system->reader = reader;
    system->readerUser = user;
    return EVS_OK;
}

EvsResult EvsSystemUpdate(EvsSystem *system)
{
    if (!system) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (!system->initialised) {
        return EVS_ERR_UNINITIALISED;
    }
    uint32_t clock = EvsPlatformGet()->clockMs();
    system->now += clock - system->lastClock;   // wraps with the timer
    system->lastClock = clock;
    evsEventsAdvance(system);
    evsChannelsAdvance(system);
    return EVS_OK;
}

EvsResult EvsSystemGetTime(EvsSystem *system, uint32_t *ms)
{
    if (!system || !ms) {
        return EVS_ERR_INVALID_PARAM;
    }
    *ms = system->now;
    return EVS_OK;
}

EvsResult EvsMixerGetDriverInfo(EvsMixer *mixer, int32_t driver, uint32_t *caps, int32_t *minRate,
                                int32_t *maxRate, EvsSpeakers *speakers)
{
    if (caps) *caps = 0;
    if (minRate) *minRate = 0;
    if (maxRate) *maxRate = 0;
    if (speakers) *speakers = EVS_SPEAKERS_STEREO;
    if (!mixer) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (driver != 0) {
        return EVS_ERR_INDEX;
    }
    if (caps && EvsPlatformGet()->outDeviceCount() > 0) {
        *caps = EVS_CAPS_OUTPUT;
    }
    if (minRate) *minRate = 1000;
    if (maxRate) *maxRate = 192000;
    return EVS_OK;
}

EvsResult EvsMixerSetSpeakers(EvsMixer *mixer, EvsSpeakers speakers)
{
    if (!mixer || speakers < EVS_SPEAKERS_MONO || speakers > EVS_SPEAKERS_7POINT1) {
        return EVS_ERR_INVALID_PARAM;
    }
    mixer->speakers = speakers;
    evsTrace("speakers %d", speakers);
    return EVS_OK;
}

EvsResult EvsMixerSetSpatial(EvsMixer *mixer, float doppler, float distanceFactor, float rolloff)
{
    if (!mixer || !(doppler >= 0.0f) || !(distanceFactor > 0.0f) || !(rolloff >= 0.0f)) {
        return EVS_ERR_INVALID_PARAM;
    }
    mixer->doppler = doppler;
    mixer->distanceFactor = distanceFactor;
    mixer->rolloff = rolloff;
    evsTrace("spatial %.2f %.2f %.4f", doppler, distanceFactor, rolloff);
    return EVS_OK;
}

EvsResult EvsMixerGetSpatial(EvsMixer *mixer, float *doppler, float *distanceFactor, float *rolloff)
{
    if (!mixer) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (doppler) *doppler = mixer->doppler;
    if (distanceFactor) *distanceFactor = mixer->distanceFactor;
    if (rolloff) *rolloff = mixer->rolloff;
    return EVS_OK;
}

EvsResult EvsMixerSetListener(EvsMixer *mixer, int32_t listener, const EvsVector *position,
                              const EvsVector *velocity, const EvsVector *forward, const EvsVector *up)
{
    if (!mixer) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (listener != 0) {
        return EVS_ERR_INDEX;
    }
    if (position) mixer->listenerPosition = *position;
    if (velocity) mixer->listenerVelocity = *velocity;
    if (forward) mixer->listenerForward = *forward;
    if (up) mixer->listenerUp = *up;
    const EvsVector &at = mixer->listenerPosition;
    evsTrace("listener %.2f %.2f %.2f", at.x, at.y, at.z);
    return EVS_OK;
}

EvsResult EvsMixerGetListener(EvsMixer *mixer, int32_t listener, EvsVector *position,
                              EvsVector *velocity, EvsVector *forward, EvsVector *up)
{
    if (!mixer) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (listener != 0) {
        return EVS_ERR_INDEX;
    }
    if (position) *position = mixer->listenerPosition;
    if (velocity) *velocity = mixer->listenerVelocity;
    if (forward) *forward = mixer->listenerForward;
    if (up) *up = mixer->listenerUp;
    return EVS_OK;
}
