// Event projects: parsing the project image, groups, loading and freeing a group's WAV data.
#include <cstdio>
#include <cstring>

#include "evsound/internal.h"
#include "gfx/core/byteorder.h"

enum : uint32_t {
    EVS_HEADER_SIZE = 8,
    EVS_GROUP_MIN = 2,     // event count
    EVS_EVENT_MIN = 9,     // name length, one name byte, duration, flags, user, path length
};

// Reads from a bounded image; every read checks what is left first.
struct EvsReader {
    const uint8_t *bytes;
    uint32_t size;
    uint32_t at;
    uint32_t left() const { return size - at; }
};

static void evsGroupsFree(EvsGroup *groups, int32_t count)
{
    for (int32_t g = 0; g < count; ++g) {
        EvsGroupFreeData(&groups[g], NULL, false);
        evsFree(groups[g].events);
    }
    evsFree(groups);
}

bool evsWavPathSafe(const char *path)
{
    if (path[0] == '/' || path[0] == '\\' || strchr(path, ':')) {
        return false;
    }
    const char *part = path;
    for (;;) {
        size_t length = strcspn(part, "/\\");
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            return false;
        }
        if (!part[length]) {
            return true;
        }
        part += length + 1;
    }
}

// A counted string of 1..max bytes (0 allowed when optional), no NUL inside.
static bool evsReadText(EvsReader &r, uint32_t max, bool optional, char *out)
{
    if (r.left() < 1) {
        return false;
    }
    uint32_t length = r.bytes[r.at++];
    if ((length == 0 && !optional) || length > max || r.left() < length ||
        memchr(r.bytes + r.at, 0, length)) {
        return false;
    }
    memcpy(out, r.bytes + r.at, length);
    out[length] = 0;
    r.at += length;
    return true;
}

static EvsResult evsReadEvent(EvsReader &r, EvsEvent *event)
{
    if (!evsReadText(r, EVS_MAX_NAME, false, event->name) || r.left() < 6) {
        return EVS_ERR_FORMAT;
    }
    event->durationMs = ReadU32(r.bytes + r.at);
    event->flags = r.bytes[r.at + 4];
    event->user = r.bytes[r.at + 5];
    r.at += 6;
    if ((event->flags & ~EVS_EVENT_LOOP) || !evsReadText(r, EVS_MAX_WAV_PATH, true, event->wavPath) ||
        !evsWavPathSafe(event->wavPath)) {
        return EVS_ERR_FORMAT;
    }
    event->volume = 1.0f;
    return EVS_OK;
}

static EvsResult evsReadGroup(EvsReader &r, EvsGroup *group)
{
    if (r.left() < 2) {
        return EVS_ERR_FORMAT;
    }
    uint32_t count = ReadU16(r.bytes + r.at);
    r.at += 2;
    if (count > r.left() / EVS_EVENT_MIN) {
        return EVS_ERR_FORMAT;
    }
    group->events = static_cast<EvsEvent *>(evsAlloc(sizeof(EvsEvent) * (count ? count : 1)));
    if (!group->events) {
        return EVS_ERR_MEMORY;
    }
    group->eventCount = static_cast<int32_t>(count);
    for (uint32_t e = 0; e < count; ++e) {
        group->events[e].group = group;
        group->events[e].index = static_cast<int32_t>(e);
        EvsResult result = evsReadEvent(r, &group->events[e]);
        if (result != EVS_OK) {
            return result;
        }
    }
    return EVS_OK;
}

EvsResult EvsSystemLoadProject(EvsSystem *system, const void *data, const EvsLoadInfo *info,
                               EvsProject **project)
{
    if (!project) {
        return EVS_ERR_INVALID_PARAM;
    }
    *project = NULL;
    if (!system || !data || !info || info->size != sizeof(EvsLoadInfo) ||
        (info->key && info->key[0]) || !(info->entryLimit >= 0.0f) || info->dataLength == 0) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (!system->initialised) {
        return EVS_ERR_UNINITIALISED;
    }
    if (system->project) {
        return EVS_ERR_ALREADY;
    }
    EvsReader r = {static_cast<const uint8_t *>(data), info->dataLength, 0};
    if (r.size < EVS_HEADER_SIZE || memcmp(r.bytes, "EVSP", 4) != 0 || ReadU16(r.bytes + 4) != 1) {
        return EVS_ERR_FORMAT;
    }
    uint32_t count = ReadU16(r.bytes + 6);
    r.at = EVS_HEADER_SIZE;
    if (count > r.left() / EVS_GROUP_MIN) {
        return EVS_ERR_FORMAT;
    }
    EvsProject *p = static_cast<EvsProject *>(evsAlloc(sizeof(EvsProject)));
    EvsGroup *groups = static_cast<EvsGroup *>(evsAlloc(sizeof(EvsGroup) * (count ? count : 1)));
    if (!p || !groups) {
        evsFree(p);
        evsFree(groups);
        return EVS_ERR_MEMORY;
    }
    p->system = system;
    p->groups = groups;
    EvsResult result = EVS_OK;
    for (uint32_t g = 0; g < count && result == EVS_OK; ++g) {
        groups[g].project = p;
        groups[g].index = static_cast<int32_t>(g);
        p->groupCount = static_cast<int32_t>(g + 1);
        result = evsReadGroup(r, &groups[g]);
    }
    if (result == EVS_OK && r.left() != 0) {
        result = EVS_ERR_FORMAT;   // bytes after the last event
    }
    if (result != EVS_OK) {
        evsGroupsFree(groups, p->groupCount);
        evsFree(p);
        evsTrace("project load failed: %s", EvsResultText(result));
        return result;
    }
    system->project = p;
    *project = p;
    evsTrace("project load groups=%d", p->groupCount);
    return EVS_OK;
}

EvsResult EvsProjectRelease(EvsProject *project)
{
    if (!project) {
        return EVS_OK;
    }
    evsGroupsFree(project->groups, project->groupCount);
    project->system->project = NULL;
    evsFree(project);
    evsTrace("project release");
    return EVS_OK;
}

EvsResult EvsProjectGetGroupCount(EvsProject *project, int32_t *count)
{
    if (!project || !count) {
        return EVS_ERR_INVALID_PARAM;
    }
    *count = project->groupCount;
    return EVS_OK;
}

EvsResult EvsProjectGetGroup(EvsProject *project, int32_t index, bool cacheEvents, EvsGroup **group)
{
    if (!group) {
        return EVS_ERR_INVALID_PARAM;
    }
    *group = NULL;
    if (!project) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (index < 0 || index >= project->groupCount) {
        return EVS_ERR_INDEX;
    }
    *group = &project->groups[index];
    return EVS_OK;
}

EvsResult EvsGroupGetEventCount(EvsGroup *group, int32_t *count)
{
    if (!group || !count) {
        return EVS_ERR_INVALID_PARAM;
    }
    *count = group->eventCount;
    return EVS_OK;
}

// A media file through the system's reader; a size that changes between
// the two asks is a read failure.
static EvsResult evsReadMedia(const EvsSystem *system, const char *path, void **block, uint32_t *size)
{
    uint32_t length = 0, got = 0;
    if (!system->reader(system->readerUser, path, NULL, 0, &length)) {
        return EVS_ERR_FILE_NOT_FOUND;
    }
    void *bytes = evsAlloc(length);
    if (!bytes) {
        return EVS_ERR_MEMORY;
    }
    if (!system->reader(system->readerUser, path, bytes, length, &got) || got != length) {
        evsFree(bytes);
        return EVS_ERR_FILE_READ;
    }
    *block = bytes;
    *size = length;
    return EVS_OK;
}

static EvsResult evsLoadWave(const EvsSystem *system, EvsEvent *event)
{
    char path[EVS_MAX_MEDIA_PATH + EVS_MAX_WAV_PATH + 2];
    size_t base = strlen(system->mediaPath);
    bool slash = base == 0 || system->mediaPath[base - 1] == '/' || system->mediaPath[base - 1] == '\\';
    snprintf(path, sizeof(path), "%s%s%s", system->mediaPath, slash ? "" : "/", event->wavPath);
    void *block = NULL;
    uint32_t size = 0;
    EvsResult result = system->reader ? evsReadMedia(system, path, &block, &size)
                                      : evsReadFile(path, 0, &block, &size);
    if (result == EVS_OK) {
        result = evsWaveParse(block, size, &event->wave);
        if (result != EVS_OK) {
            evsFree(block);
        }
    }
    return result;
}

EvsResult EvsGroupLoadData(EvsGroup *group, uint32_t resources, uint32_t mode)
{
    if (!group || resources == 0 || mode != 0) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (group->loaded) {
        return EVS_OK;
    }
    const EvsSystem *system = group->project->system;
    for (int32_t e = 0; e < group->eventCount; ++e) {
        EvsEvent *event = &group->events[e];
        if (!event->wavPath[0]) {
            continue;
        }
        EvsResult result = evsLoadWave(system, event);
        if (result != EVS_OK) {
            for (int32_t k = 0; k < e; ++k) {
                evsWaveFree(&group->events[k].wave);
            }
            evsTrace("group load %d failed at %d:%d: %s", group->index, group->index, e,
                     EvsResultText(result));
            return result;
        }
    }
    group->loaded = true;
    evsTrace("group load %d", group->index);
    return EVS_OK;
}

EvsResult EvsGroupFreeData(EvsGroup *group, EvsEvent *event, bool waitUntilReady)
{
    if (!group || (event && event->group != group)) {
        return EVS_ERR_INVALID_PARAM;
    }
    if (event) {
        evsEventHalt(event);
        evsWaveFree(&event->wave);
        return EVS_OK;
    }
    for (int32_t e = 0; e < group->eventCount; ++e) {
        evsEventHalt(&group->events[e]);
        evsWaveFree(&group->events[e].wave);
    }
    if (group->loaded) {
        group->loaded = false;
        evsTrace("group free %d", group->index);
    }
    return EVS_OK;
}
