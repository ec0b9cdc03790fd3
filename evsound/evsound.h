// Event sound layer: event projects, event groups and events, 2-D samples on channels, the listener.
#pragma once

#include <cstdint>

// What it is
// ----------
// A small sound layer for the engine. An event system loads one event project
// (a "sound.fev" file, format below) from memory. The project holds groups by
// index; a group holds events by index. Each event has a name, a duration, a
// loop flag, a user-flags byte (property 14) and, optionally, a PCM WAV file
// below the system's media path. An event, once started, plays for its
// duration (a looping one until stopped) on the system clock, which only the
// update call advances. Besides events the mixer plays 2-D samples and streams
// (PCM WAV files) on channels, and keeps the listener and the 3-D settings.
//
// Output is silent unless the platform opens a wave output device; then the
// WAV data of events and channels plays through it with the same timing. No
// device (or a device that does not open) is not an error: the system runs on,
// silently, and every state change still happens on the clock. In a system
// initialised with EVS_INIT_SPATIAL, an event given a position plays on the
// device at its volume / (1 + rolloff x (distance - 1)) when farther than one
// unit (distance x distance factor) from listener 0; its volume is unchanged.
// A position counts for one play: set before the start or while it plays, it
// holds until the event ends or is stopped; a start after that without a new
// position is 2-D again (the position itself is kept for EvsEventGetPosition).
//
// Every call returns an EvsResult; 0 is success. Handles handed out are cleared on
// failure. All calls belong to one thread; the layer starts no threads.
//
// Project file format (all values little-endian, no padding)
// ---------------------------------------------------------
//   header   : "EVSP" (4 bytes), u16 version (1), u16 group count
//   per group: u16 event count, then that many events
//   per event: u8 name length (1..63), the name bytes (no NUL byte stored)
//              u32 duration in milliseconds (0 with a WAV: the WAV's length)
//              u8  flags: 0x01 loops; every other bit must be 0
//              u8  user flags (event property 14)
//              u8  WAV path length (0: no WAV, else 1..127), the path bytes:
//                  relative to the media path, no "..", no drive or leading
//                  slash, no NUL byte
// The file ends right after the last event. Anything else (wrong magic or
// version, a count the remaining bytes cannot hold, a short or long file, a bad
// name, flag or path) fails the load with EVS_ERR_FORMAT. WAV files are read
// when a group's data is loaded, not with the project.
//
// Trace
// -----
// Calls and state changes are recorded as short text lines, oldest first, in
// a bounded process-wide log (EvsTrace*), e.g. "start 1:2 bgm_town",
// "end 1:2", "volume 1:2 0.500", "listener 1.00 2.00 3.00". Events are named
// "group:event".

enum EvsResult : int32_t {
    EVS_OK = 0,
    EVS_ERR_INVALID_PARAM = 1,     // NULL where a value is needed, value out of range, unknown flag
    EVS_ERR_INVALID_HANDLE = 2,    // a channel that has ended, or a handle of another system
    EVS_ERR_UNINITIALISED = 3,     // the system is not initialised
    EVS_ERR_ALREADY = 4,           // initialised twice, or a project already loaded
    EVS_ERR_MEMORY = 5,
    EVS_ERR_FILE_NOT_FOUND = 6,
    EVS_ERR_FILE_READ = 7,
    EVS_ERR_FORMAT = 8,            // malformed project or WAV file
    EVS_ERR_INDEX = 9,             // group, event, driver or listener index out of range
    EVS_ERR_NOT_LOADED = 10,       // the event's group data is not loaded
    EVS_ERR_NO_CHANNEL = 11,       // every channel is busy
};

enum : uint32_t {
    // Initialisation flags.
    EVS_INIT_SILENT = 0x01,        // never open the output device
    EVS_INIT_SPATIAL = 0x02,       // events and the listener take 3-D positions
    // Driver capability flags.
    EVS_CAPS_OUTPUT = 0x01,        // a wave output device answers behind this driver
    // Event state bits.
    EVS_STATE_READY = 0x01,        // the group's data is loaded
    EVS_STATE_PLAYING = 0x10,      // started, duration not yet over, not stopped
    EVS_STATE_AUDIBLE = 0x20,      // its WAV data is playing on the device
    // Sample modes.
    EVS_MODE_LOOP = 0x02,
    EVS_MODE_2D = 0x20,            // accepted: channels are always 2-D
    EVS_MODE_STREAM = 0x80,        // kept for the caller: streams are read whole like samples
    // Event flags in the project.
    EVS_EVENT_LOOP = 0x01,
    // Group data to load.
    EVS_RESOURCES_ALL = 0xFFFFFFFFu,
    // The user-flags property.
    EVS_PROPERTY_USER = 14,
    // Limits.
    EVS_MAX_CHANNELS = 1024,
    EVS_MAX_NAME = 63,
    EVS_MAX_WAV_PATH = 127,
    EVS_MAX_MEDIA_PATH = 259,
};

enum EvsSpeakers : int32_t {
    EVS_SPEAKERS_MONO = 1,
    EVS_SPEAKERS_STEREO = 2,
    EVS_SPEAKERS_QUAD = 3,
    EVS_SPEAKERS_SURROUND = 4,
    EVS_SPEAKERS_5POINT1 = 5,
    EVS_SPEAKERS_7POINT1 = 6,
};

struct EvsVector {
    float x, y, z;
};

// How a project is handed over: size must be sizeof(EvsLoadInfo); projects
// are never encrypted, so key must be NULL or empty; entryLimit is accepted
// for compatibility with callers that budget sound definitions (0 = no limit);
// dataLength is the byte length of the memory image.
struct EvsLoadInfo {
    uint32_t size;
    const char *key;
    float entryLimit;
    uint32_t dataLength;
    uint32_t reserved[7];
};
static_assert(sizeof(EvsLoadInfo) == 44, "load information is 44 bytes on the target");

// Optional extra information for samples: size must be sizeof(EvsSampleInfo),
// or 0 for an all-zero record that asks for nothing; length limits the bytes
// of the file read (0 = the whole file).
struct EvsSampleInfo {
    uint32_t size;
    uint32_t length;
    uint32_t reserved[25];
};
static_assert(sizeof(EvsSampleInfo) == 108, "sample information is 108 bytes on the target");

struct EvsSystem;
struct EvsMixer;
struct EvsProject;
struct EvsGroup;
struct EvsEvent;
struct EvsSample;
typedef uint32_t EvsChannel;       // 0 = none; a channel id dies when its sound ends

// ---- event system ----
EvsResult EvsSystemCreate(EvsSystem **system);
// Stops everything, closes the device and frees all the system owns. NULL is a no-op.
EvsResult EvsSystemRelease(EvsSystem *system);
EvsResult EvsSystemGetMixer(EvsSystem *system, EvsMixer **mixer);
// maxChannels 1..EVS_MAX_CHANNELS; flags EVS_INIT_*; driverData is ignored;
// eventFlags must be 0. Opens the output device unless silent; none is fine.
EvsResult EvsSystemInit(EvsSystem *system, int32_t maxChannels, uint32_t flags,
                        void *driverData, uint32_t eventFlags);
// Folder the events' WAV paths are relative to (at most EVS_MAX_MEDIA_PATH bytes).
EvsResult EvsSystemSetMediaPath(EvsSystem *system, const char *path);
// Where the media path's WAV files come from when not from the file system
// (e.g. a packed archive): asked first with buffer NULL for the size, then
// with a buffer of that size to fill. False: the file is not there.
typedef bool (*EvsMediaReader)(void *user, const char *path, void *buffer, uint32_t capacity,
                               uint32_t *size);
// NULL restores the system's file calls.
EvsResult EvsSystemSetMediaReader(EvsSystem *system, EvsMediaReader reader, void *user);
// Parses a project image (copied; the caller may free it afterwards). One
// project per system.
EvsResult EvsSystemLoadProject(EvsSystem *system, const void *data, const EvsLoadInfo *info,
                               EvsProject **project);
// Reads the clock, ends events and channels whose time is over, reaps finished
// device buffers.
EvsResult EvsSystemUpdate(EvsSystem *system);
// The clock as of the last update (or init), in milliseconds.
EvsResult EvsSystemGetTime(EvsSystem *system, uint32_t *ms);

// ---- project, groups, events ----
// Frees the project's groups and events (stopping them). The pointers die.
EvsResult EvsProjectRelease(EvsProject *project);
EvsResult EvsProjectGetGroupCount(EvsProject *project, int32_t *count);
// cacheEvents is accepted for callers that ask for it: events always exist
// with their group.
EvsResult EvsProjectGetGroup(EvsProject *project, int32_t index, bool cacheEvents, EvsGroup **group);
EvsResult EvsGroupGetEventCount(EvsGroup *group, int32_t *count);
// Reads the group's WAV files (resources: EVS_RESOURCES_ALL or any nonzero
// mask; mode must be 0). Loading a loaded group does nothing.
EvsResult EvsGroupLoadData(EvsGroup *group, uint32_t resources, uint32_t mode);
// event NULL: the whole group. Stops the events, then frees the WAV data
// (one event alone: the group stays loaded and that event plays silently).
EvsResult EvsGroupFreeData(EvsGroup *group, EvsEvent *event, bool waitUntilReady);
// One instance per event: the same index gives the same pointer. mode must be 0.
EvsResult EvsGroupGetEvent(EvsGroup *group, int32_t index, uint32_t mode, EvsEvent **event);
// Any out-pointer may be NULL. The name lives as long as the project.
EvsResult EvsEventGetInfo(EvsEvent *event, int32_t *index, const char **name, uint32_t *durationMs);
// Starts (or restarts) at the current clock. Needs the group's data.
EvsResult EvsEventStart(EvsEvent *event);
EvsResult EvsEventStop(EvsEvent *event);
EvsResult EvsEventGetState(EvsEvent *event, uint32_t *state);
// Volume 0..1 (values outside are clamped).
EvsResult EvsEventSetVolume(EvsEvent *event, float volume);
EvsResult EvsEventGetVolume(EvsEvent *event, float *volume);
// position or velocity may be NULL (kept as they were).
EvsResult EvsEventSetPosition(EvsEvent *event, const EvsVector *position, const EvsVector *velocity);
EvsResult EvsEventGetPosition(EvsEvent *event, EvsVector *position, EvsVector *velocity);
// Only EVS_PROPERTY_USER exists: one byte written to value.
EvsResult EvsEventGetProperty(EvsEvent *event, int32_t index, void *value);

// ---- mixer: driver, listener, 3-D settings, samples, channels ----
// Driver 0 is the default output and always exists. minRate and maxRate may
// be NULL; so may the others.
EvsResult EvsMixerGetDriverInfo(EvsMixer *mixer, int32_t driver, uint32_t *caps, int32_t *minRate,
                                int32_t *maxRate, EvsSpeakers *speakers);
EvsResult EvsMixerSetSpeakers(EvsMixer *mixer, EvsSpeakers speakers);
EvsResult EvsMixerSetSpatial(EvsMixer *mixer, float doppler, float distanceFactor, float rolloff);
EvsResult EvsMixerGetSpatial(EvsMixer *mixer, float *doppler, float *distanceFactor, float *rolloff);
// Listener 0 only. Any vector may be NULL (kept as it was).
EvsResult EvsMixerSetListener(EvsMixer *mixer, int32_t listener, const EvsVector *position,
                              const EvsVector *velocity, const EvsVector *forward, const EvsVector *up);
EvsResult EvsMixerGetListener(EvsMixer *mixer, int32_t listener, EvsVector *position,
                              EvsVector *velocity, EvsVector *forward, EvsVector *up);
// A PCM WAV file read with the platform's file calls (not the media path).
// mode: EVS_MODE_* (EVS_MODE_STREAM: createStream form); info may be NULL.
EvsResult EvsMixerCreateSample(EvsMixer *mixer, const char *path, uint32_t mode,
                               const EvsSampleInfo *info, EvsSample **sample);
// Stops the channels that play it, then frees it.
EvsResult EvsSampleRelease(EvsSample *sample);
EvsResult EvsSampleGetLength(EvsSample *sample, uint32_t *ms);
// Plays on a free channel at volume 1.
EvsResult EvsMixerPlaySample(EvsMixer *mixer, EvsSample *sample, bool paused, EvsChannel *channel);
EvsResult EvsChannelStop(EvsMixer *mixer, EvsChannel channel);
// A channel that has ended reports 0 and EVS_ERR_INVALID_HANDLE.
EvsResult EvsChannelIsPlaying(EvsMixer *mixer, EvsChannel channel, bool *playing);
EvsResult EvsChannelSetPaused(EvsMixer *mixer, EvsChannel channel, bool paused);
EvsResult EvsChannelSetVolume(EvsMixer *mixer, EvsChannel channel, float volume);
EvsResult EvsChannelGetVolume(EvsMixer *mixer, EvsChannel channel, float *volume);
EvsResult EvsChannelGetPosition(EvsMixer *mixer, EvsChannel channel, uint32_t *ms);

// ---- diagnostics ----
const char *EvsResultText(EvsResult result);
// Process-wide trace, bounded to the latest EVS_TRACE_CAPACITY lines.
enum : int32_t { EVS_TRACE_CAPACITY = 2048, EVS_TRACE_LINE = 96 };
void EvsTraceClear(void);
int32_t EvsTraceSize(void);
// Line i (0 = oldest kept), or NULL.
const char *EvsTraceLine(int32_t index);
// Lines that begin with prefix.
int32_t EvsTraceCount(const char *prefix);
// Blocks the layer holds right now (0 once every system is released).
int32_t EvsLiveBlocks(void);
