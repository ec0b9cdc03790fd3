// Internal records of the sound layer and the helpers its modules share.
#pragma once

#include "evsound/evsound.h"
#include "evsound/platform.h"

// Decoded PCM WAV data; pcm points into block, which owns the file bytes.
struct EvsWave {
    void *block;
    const uint8_t *pcm;
    uint32_t bytes;
    WAVEFORMATEX format;
};

// One open wave output handle playing one buffer.
struct EvsVoice {
    HWAVEOUT out;
    WAVEHDR header;
    bool open;
    float level;               // the volume last given to the device
};

struct EvsEvent {
    EvsGroup *group;
    int32_t index;
    char name[EVS_MAX_NAME + 1];
    char wavPath[EVS_MAX_WAV_PATH + 1];
    uint32_t durationMs;       // as stored; 0 with a WAV means the WAV's length
    uint8_t flags;
    uint8_t user;
    EvsWave wave;
    bool playing;
    uint32_t startMs;
    float volume;
    EvsVector position, velocity;
    bool placed;               // a position was set for this play: the listener's distance lowers it
    EvsVoice voice;
};

struct EvsGroup {
    EvsProject *project;
    int32_t index;
    int32_t eventCount;
    EvsEvent *events;
    bool loaded;
};

struct EvsProject {
    EvsSystem *system;
    int32_t groupCount;
    EvsGroup *groups;
};

struct EvsSample {
    EvsSystem *system;
    EvsSample *next;
    uint32_t mode;
    EvsWave wave;
    char path[MAX_PATH];
};

struct EvsSlot {
    EvsSample *sample;         // NULL: free
    uint16_t generation;
    bool paused;
    float volume;
    uint32_t startMs;          // clock at play, moved on by the time spent paused
    uint32_t pausedMs;         // clock when paused
    EvsVoice voice;
};

struct EvsMixer {
    EvsSystem *system;
    EvsSpeakers speakers;
    float doppler, distanceFactor, rolloff;
    EvsVector listenerPosition, listenerVelocity, listenerForward, listenerUp;
};

struct EvsSystem {
    EvsMixer mixer;
    bool initialised;
    bool device;               // an output device answered at initialisation
    uint32_t flags;
    int32_t slotCount;
    EvsSlot *slots;
    char mediaPath[EVS_MAX_MEDIA_PATH + 1];
    EvsMediaReader reader;
    void *readerUser;
    EvsProject *project;
    EvsSample *samples;
    uint32_t now;              // the clock as of the last update
    uint32_t lastClock;        // the platform's reading then
};

// Counted, zeroed allocation.
void *evsAlloc(size_t size);
void evsFree(void *block);

// One trace line (printf form).
void evsTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Reads a whole file with the system's file calls; at most limit bytes when
// limit is nonzero. The block is evsAlloc'ed.
EvsResult evsReadFile(const char *path, uint32_t limit, void **block, uint32_t *size);
// Parses a PCM WAV file image held in block, taking ownership of it on success.
EvsResult evsWaveParse(void *block, uint32_t size, EvsWave *wave);
uint32_t evsWaveLengthMs(const EvsWave *wave);
void evsWaveFree(EvsWave *wave);

// Starts buffer playback on the device when the system has one; false when
// nothing plays (no device, no data, or the device refused).
bool evsVoiceStart(EvsSystem *system, EvsVoice *voice, const EvsWave *wave, bool loop, float volume);
void evsVoiceStop(EvsVoice *voice);
void evsVoiceSetVolume(EvsVoice *voice, float volume);
void evsVoicePause(EvsVoice *voice, bool paused);

// Event and channel clock work of one update.
void evsEventsAdvance(EvsSystem *system);
void evsChannelsAdvance(EvsSystem *system);
void evsEventHalt(EvsEvent *event);
void evsChannelsStopSample(EvsSystem *system, const EvsSample *sample);

float evsClampVolume(float volume);
// A WAV path that stays below the media path.
bool evsWavPathSafe(const char *path);
