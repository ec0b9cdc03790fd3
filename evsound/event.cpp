// Events: start and stop on the system clock, volume, 3-D position, properties and state.
#include <cmath>

#include "evsound/internal.h"

static EvsSystem *evsSystemOf(const EvsEvent *event)
{
    return event->group->project->system;
}

static uint32_t evsEventLength(const EvsEvent *event)
{
    return event->durationMs ? event->durationMs : evsWaveLengthMs(&event->wave);
}

// What the device plays: the volume, for a placed event of a spatial system
// lowered by its distance from the listener beyond one unit.
static float evsEventGain(const EvsEvent *event)
{
    const EvsSystem *system = evsSystemOf(event);
    if (!event->placed || !(system->flags & EVS_INIT_SPATIAL)) {
        return event->volume;
    }
    const EvsMixer &m = system->mixer;
    float dx = event->position.x - m.listenerPosition.x;
    float dy = event->position.y - m.listenerPosition.y;
    float dz = event->position.z - m.listenerPosition.z;
    float distance = std::sqrt(dx * dx + dy * dy + dz * dz) * m.distanceFactor;
    return event->volume / (1.0f + m.rolloff * (distance > 1.0f ? distance - 1.0f : 0.0f));
}

// Stops an event now, without a trace line of a call. Its position belongs
// to the play that ends: the next start is 2-D unless it is placed again.
void evsEventHalt(EvsEvent *event)
{
    evsVoiceStop(&event->voice);
    event->playing = false;
    event->placed = false;
}

EvsResult EvsGroupGetEvent(EvsGroup *group, int32_t index, uint32_t mode, EvsEvent **event)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    *event = NULL;
    if (!group || mode != 0) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (index < 0 || index >= group->eventCount) {
        return EVS_ERR_INDEX;
    }
    *event = &group->events[index];
    return EVS_OK;
}

EvsResult EvsEventGetInfo(EvsEvent *event, int32_t *index, const char **name, uint32_t *durationMs)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (index) *index = event->index;
    if (name) *name = event->name;
    if (durationMs) *durationMs = evsEventLength(event);
    return EVS_OK;
}

EvsResult EvsEventStart(EvsEvent *event)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (!event->group->loaded) {
        return EVS_ERR_NOT_LOADED;
    }
    EvsSystem *system = evsSystemOf(event);
    event->playing = true;
    event->startMs = system->now;
    evsTrace("start %d:%d %s", event->group->index, event->index, event->name);
    if (evsVoiceStart(system, &event->voice, &event->wave, event->flags & EVS_EVENT_LOOP,
                      evsEventGain(event))) {
        evsTrace("audible %d:%d", event->group->index, event->index);
    }
    return EVS_OK;
}

EvsResult EvsEventStop(EvsEvent *event)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (event->playing) {
        evsTrace("stop %d:%d", event->group->index, event->index);
    }
    evsEventHalt(event);
    return EVS_OK;
}

EvsResult EvsEventGetState(EvsEvent *event, uint32_t *state)
{
    if (!state) {
        return EVS_ERR_INVALID_PARAM;
    }
    *state = 0;
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (event->group->loaded) *state |= EVS_STATE_READY;
    if (event->playing) *state |= EVS_STATE_PLAYING;
    if (event->voice.open) *state |= EVS_STATE_AUDIBLE;
    return EVS_OK;
}

EvsResult EvsEventSetVolume(EvsEvent *event, float volume)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    event->volume = evsClampVolume(volume);
    evsVoiceSetVolume(&event->voice, evsEventGain(event));
    evsTrace("volume %d:%d %.3f", event->group->index, event->index, event->volume);
    return EVS_OK;
}

EvsResult EvsEventGetVolume(EvsEvent *event, float *volume)
{
    if (!event || !volume) {
        return EVS_ERR_INVALID_PARAM;
    }
    *volume = event->volume;
    return EVS_OK;
}

EvsResult EvsEventSetPosition(EvsEvent *event, const EvsVector *position, const EvsVector *velocity)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (position) event->position = *position;
    if (velocity) event->velocity = *velocity;
    event->placed = event->placed || position;
    evsVoiceSetVolume(&event->voice, evsEventGain(event));
    evsTrace("position %d:%d %.2f %.2f %.2f", event->group->index, event->index, event->position.x,
             event->position.y, event->position.z);
    return EVS_OK;
}

EvsResult EvsEventGetPosition(EvsEvent *event, EvsVector *position, EvsVector *velocity)
{
    if (!event) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (position) *position = event->position;
    if (velocity) *velocity = event->velocity;
    return EVS_OK;
}

EvsResult EvsEventGetProperty(EvsEvent *event, int32_t index, void *value)
{
    if (!event || !value) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (index != static_cast<int32_t>(EVS_PROPERTY_USER)) {
        return EVS_ERR_INDEX;
    }
    *static_cast<uint8_t *>(value) = event->user;
    return EVS_OK;
}

void evsEventsAdvance(EvsSystem *system)
{
    EvsProject *project = system->project;
    if (!project) {
        return;
    }
    for (int32_t g = 0; g < project->groupCount; ++g) {
        EvsGroup *group = &project->groups[g];
        for (int32_t e = 0; e < group->eventCount; ++e) {
            EvsEvent *event = &group->events[e];
            if (event->playing && !(event->flags & EVS_EVENT_LOOP) &&
                system->now - event->startMs >= evsEventLength(event)) {
                evsEventHalt(event);
                evsTrace("end %d:%d", g, e);
            }
            evsVoiceSetVolume(&event->voice, evsEventGain(event));   // the listener may have moved
        }
    }
}
