// 2-D samples and streams, and the channels that play them on the system clock.
#include <cstring>

#include "evsound/internal.h"

static uint32_t evsSampleLength(const EvsSample *sample)
{
    return evsWaveLengthMs(&sample->wave);
}

// The busy slot a channel id names, or NULL when that sound has ended.
static EvsSlot *evsSlotOf(EvsMixer *mixer, EvsChannel channel)
{
    if (!mixer || !mixer->system->slots) {
        return NULL;
    }
    uint32_t index = (channel & 0xFFFFu) - 1;
    if (index >= static_cast<uint32_t>(mixer->system->slotCount)) {
        return NULL;
    }
    EvsSlot *slot = &mixer->system->slots[index];
    if (!slot->sample || slot->generation != (channel >> 16)) {
        return NULL;
    }
    return slot;
}

static void evsSlotFree(EvsSystem *system, EvsSlot *slot, const char *why)
{
    evsVoiceStop(&slot->voice);
    slot->sample = NULL;
    evsTrace("channel %s %d", why, static_cast<int32_t>(slot - system->slots) + 1);
}

static uint32_t evsSlotElapsed(const EvsSystem *system, const EvsSlot *slot)
{
    return (slot->paused ? slot->pausedMs : system->now) - slot->startMs;
}

EvsResult EvsMixerCreateSample(EvsMixer *mixer, const char *path, uint32_t mode,
                               const EvsSampleInfo *info, EvsSample **sample)
{
    if (!sample) {
        return EVS_ERR_INVALID_PARAM;
    }
    *sample = NULL;
    if (!mixer || !path || strlen(path) >= MAX_PATH ||
        (mode & ~(EVS_MODE_LOOP | EVS_MODE_2D | EVS_MODE_STREAM)) ||
        (info && info->size != 0 && info->size != sizeof(EvsSampleInfo))) {
        return EVS_ERR_INVALID_PARAM;
    }
    EvsSample *s = static_cast<EvsSample *>(evsAlloc(sizeof(EvsSample)));
    if (!s) {
        return EVS_ERR_MEMORY;
    }
    void *block = NULL;
    uint32_t size = 0;
    EvsResult result = evsReadFile(path, info && info->size ? info->length : 0, &block, &size);
    if (result == EVS_OK) {
        result = evsWaveParse(block, size, &s->wave);
    }
    if (result != EVS_OK) {
        evsFree(block);
        evsFree(s);
        evsTrace("sample create %s failed: %s", path, EvsResultText(result));
        return result;
    }
    EvsSystem *system = mixer->system;
    s->system = system;
    s->mode = mode;
    strcpy(s->path, path);
    s->next = system->samples;
    system->samples = s;
    *sample = s;
    evsTrace("sample create %s", path);
    return EVS_OK;
}

void evsChannelsStopSample(EvsSystem *system, const EvsSample *sample)
{
    for (int32_t i = 0; i < system->slotCount; ++i) {
        if (system->slots[i].sample == sample) {
            evsSlotFree(system, &system->slots[i], "stop");
        }
    }
}

EvsResult EvsSampleRelease(EvsSample *sample)
{
    if (!sample) {
        return EVS_ERR_INVALID_PARAM;
    }
    EvsSystem *system = sample->system;
    evsChannelsStopSample(system, sample);
    for (EvsSample **link = &system->samples; *link; link = &(*link)->next) {
        if (*link == sample) {
            *link = sample->next;
            break;
        }
    }
    evsTrace("sample release %s", sample->path);
    evsWaveFree(&sample->wave);
    evsFree(sample);
    return EVS_OK;
}

EvsResult EvsSampleGetLength(EvsSample *sample, uint32_t *ms)
{
    if (!sample || !ms) {
        return EVS_ERR_INVALID_PARAM;
    }
    *ms = evsSampleLength(sample);
    return EVS_OK;
}

EvsResult EvsMixerPlaySample(EvsMixer *mixer, EvsSample *sample, bool paused, EvsChannel *channel)
{
    if (!channel) {
        return EVS_ERR_INVALID_PARAM;
    }
    *channel = 0;
    if (!mixer || !sample || sample->system != mixer->system) {
        return EVS_ERR_INVALID_PARAM;
    }
    EvsSystem *system = mixer->system;
    if (!system->initialised) {
        return EVS_ERR_UNINITIALISED;
    }
    int32_t index = 0;
    while (index < system->slotCount && system->slots[index].sample) {
        ++index;
    }
    if (index == system->slotCount) {
        return EVS_ERR_NO_CHANNEL;
    }
    EvsSlot *slot = &system->slots[index];
    slot->sample = sample;
    slot->generation = static_cast<uint16_t>(slot->generation + 1);
    slot->volume = 1.0f;
    slot->startMs = system->now;
    slot->pausedMs = system->now;
    slot->paused = paused;
    *channel = static_cast<EvsChannel>(index + 1) | (static_cast<EvsChannel>(slot->generation) << 16);
    evsTrace("channel play %d %s%s", index + 1, sample->path, paused ? " paused" : "");
    if (evsVoiceStart(system, &slot->voice, &sample->wave, sample->mode & EVS_MODE_LOOP, 1.0f)) {
        if (paused) {
            evsVoicePause(&slot->voice, true);
        }
        evsTrace("channel audible %d", index + 1);
    }
    return EVS_OK;
}

EvsResult EvsChannelStop(EvsMixer *mixer, EvsChannel channel)
{
    EvsSlot *slot = evsSlotOf(mixer, channel);
    if (!slot) {
        return EVS_ERR_INVALID_HANDLE;
    }
    evsSlotFree(mixer->system, slot, "stop");
    return EVS_OK;
}

EvsResult EvsChannelIsPlaying(EvsMixer *mixer, EvsChannel channel, bool *playing)
{
    if (!playing) {
        return EVS_ERR_INVALID_PARAM;
    }
    EvsSlot *slot = evsSlotOf(mixer, channel);
    *playing = slot != NULL;
    return slot ? EVS_OK : EVS_ERR_INVALID_HANDLE;
}

EvsResult EvsChannelSetPaused(EvsMixer *mixer, EvsChannel channel, bool paused)
{
    EvsSlot *slot = evsSlotOf(mixer, channel);
    if (!slot) {
        return EVS_ERR_INVALID_HANDLE;
    }
    if (slot->paused != paused) {
        if (paused) {
            slot->pausedMs = mixer->system->now;
        } else {
            slot->startMs += mixer->system->now - slot->pausedMs;
        }
        slot->paused = paused;
        evsVoicePause(&slot->voice, paused);
        evsTrace("channel pause %d %d", static_cast<int32_t>(channel & 0xFFFFu), paused ? 1 : 0);
    }
    return EVS_OK;
}

EvsResult EvsChannelSetVolume(EvsMixer *mixer, EvsChannel channel, float volume)
{
    EvsSlot *slot = evsSlotOf(mixer, channel);
    if (!slot) {
        return EVS_ERR_INVALID_HANDLE;
    }
    slot->volume = evsClampVolume(volume);
    evsVoiceSetVolume(&slot->voice, slot->volume);
    evsTrace("channel volume %d %.3f", static_cast<int32_t>(channel & 0xFFFFu), slot->volume);
    return EVS_OK;
}

EvsResult EvsChannelGetVolume(EvsMixer *mixer, EvsChannel channel, float *volume)
{
    if (!volume) {
        return EVS_ERR_INVALID_PARAM;
    }
    *volume = 0.0f;
    EvsSlot *slot = evsSlotOf(mixer, channel);
    if (!slot) {
        return EVS_ERR_INVALID_HANDLE;
    }
    *volume = slot->volume;
    return EVS_OK;
}

EvsResult EvsChannelGetPosition(EvsMixer *mixer, EvsChannel channel, uint32_t *ms)
{
    if (!ms) {
        return EVS_ERR_INVALID_PARAM;
    }
    *ms = 0;
    EvsSlot *slot = evsSlotOf(mixer, channel);
    if (!slot) {
        return EVS_ERR_INVALID_HANDLE;
    }
    uint32_t length = evsSampleLength(slot->sample);
    uint32_t elapsed = evsSlotElapsed(mixer->system, slot);
    *ms = length ? elapsed % length : 0;
    if (!(slot->sample->mode & EVS_MODE_LOOP) && elapsed >= length) {
        *ms = length;
    }
    return EVS_OK;
}

void evsChannelsAdvance(EvsSystem *system)
{
    for (int32_t i = 0; i < system->slotCount; ++i) {
        EvsSlot *slot = &system->slots[i];
        if (slot->sample && !(slot->sample->mode & EVS_MODE_LOOP) &&
            evsSlotElapsed(system, slot) >= evsSampleLength(slot->sample)) {
            evsSlotFree(system, slot, "end");
        }
    }
}
