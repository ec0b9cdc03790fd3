// Event project images from text descriptions: validated line by line, written field by field.
#include <cstdlib>
#include <cstring>

#include "evsound/internal.h"
#include "evsound/projectbuild.h"
#include "gfx/core/byteorder.h"

// Where the image goes; with no bytes only the size is counted.
struct EvsImageWriter {
    uint8_t *bytes;
    uint32_t at;
    void put8(uint32_t v) { if (bytes) WriteU8(bytes + at, static_cast<uint8_t>(v)); at += 1; }
    void put16(uint32_t v) { if (bytes) WriteU16(bytes + at, static_cast<uint16_t>(v)); at += 2; }
    void put32(uint32_t v) { if (bytes) WriteU32(bytes + at, v); at += 4; }
    void text(const char *s, uint32_t n) { put8(n); if (bytes) memcpy(bytes + at, s, n); at += n; }
};

static bool evsNumber(const char *token, uint32_t max, uint32_t *value)
{
    char *end = NULL;
    unsigned long long v = strtoull(token, &end, 0);
    if (!*token || *token == '-' || *end || v > max) {
        return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

// The rest of an "event" statement, taken on from the tokeniser; false on any fault.
static bool evsEventLine(EvsImageWriter &w)
{
    const char *seps = " \t\r";
    char *name = strtok(NULL, seps);
    char *duration = strtok(NULL, seps);
    uint32_t ms = 0, user = 0, flags = 0;
    const char *wav = "";
    if (!name || strlen(name) > EVS_MAX_NAME || !duration || !evsNumber(duration, 0xFFFFFFFFu, &ms)) {
        return false;
    }
    for (char *option = strtok(NULL, seps); option; option = strtok(NULL, seps)) {
        if (strcmp(option, "loop") == 0) {
            flags |= EVS_EVENT_LOOP;
        } else if (strncmp(option, "user=", 5) == 0) {
            if (!evsNumber(option + 5, 255, &user)) {
                return false;
            }
        } else if (strncmp(option, "wav=", 4) == 0) {
            wav = option + 4;
            if (!*wav || strlen(wav) > EVS_MAX_WAV_PATH || !evsWavPathSafe(wav)) {
                return false;
            }
        } else {
            return false;
        }
    }
    w.text(name, static_cast<uint32_t>(strlen(name)));
    w.put32(ms);
    w.put8(flags);
    w.put8(user);
    w.text(wav, static_cast<uint32_t>(strlen(wav)));
    return true;
}

// One pass over the description: counts the size, or writes when w has bytes.
static EvsResult evsBuildPass(const char *text, uint32_t length, EvsImageWriter &w, int32_t *errorLine)
{
    w.at = 0;
    w.put32(0);   // magic, written at the end of the pass
    w.put16(1);
    w.put16(0);   // group count
    uint32_t groups = 0, events = 0, countAt = 0;
    int32_t line = 0;
    char buffer[512];
    for (uint32_t at = 0; at < length;) {
        ++line;
        uint32_t end = at;
        while (end < length && text[end] != '\n') {
            ++end;
        }
        uint32_t n = end - at;
        if (n >= sizeof(buffer) || memchr(text + at, 0, n)) {
            *errorLine = line;
            return EVS_ERR_FORMAT;
        }
        memcpy(buffer, text + at, n);
        buffer[n] = 0;
        at = end + 1;
        if (char *hash = strchr(buffer, '#')) {
            *hash = 0;
        }
        char *keyword = strtok(buffer, " \t\r");
        bool ok = true;
        if (!keyword) {
            continue;
        } else if (strcmp(keyword, "group") == 0) {
            ok = groups < 0xFFFF && !strtok(NULL, " \t\r");
            if (ok && w.bytes && groups) {
                WriteU16(w.bytes + countAt, static_cast<uint16_t>(events));
            }
            ++groups;
            events = 0;
            countAt = w.at;
            w.put16(0);
        } else if (strcmp(keyword, "event") == 0) {
            ok = groups > 0 && events < 0xFFFF && evsEventLine(w);
            ++events;
        } else {
            ok = false;
        }
        if (!ok) {
            *errorLine = line;
            return EVS_ERR_FORMAT;
        }
    }
    if (w.bytes) {
        memcpy(w.bytes, "EVSP", 4);
        WriteU16(w.bytes + 6, static_cast<uint16_t>(groups));
        if (groups) {
            WriteU16(w.bytes + countAt, static_cast<uint16_t>(events));
        }
    }
    return EVS_OK;
}

EvsResult EvsProjectBuild(const char *text, uint32_t length, void **image, uint32_t *size,
                          int32_t *errorLine)
{
    int32_t ignored = 0;
    errorLine = errorLine ? errorLine : &ignored;
    *errorLine = 0;
    if (!image || !size) {
        return EVS_ERR_INVALID_PARAM;
    }
    *image = NULL;
    *size = 0;
    if (!text && length) {
        return EVS_ERR_INVALID_PARAM;
    }
    EvsImageWriter w = {NULL, 0};
    EvsResult result = evsBuildPass(text, length, w, errorLine);
    if (result != EVS_OK) {
        return result;
    }
    w.bytes = static_cast<uint8_t *>(evsAlloc(w.at));
    if (!w.bytes) {
        return EVS_ERR_MEMORY;
    }
    evsBuildPass(text, length, w, errorLine);
    *image = w.bytes;
    *size = w.at;
    return EVS_OK;
}

void EvsProjectFreeImage(void *image)
{
    evsFree(image);
}
