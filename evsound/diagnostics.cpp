// Trace of calls and state changes, and the texts of the result codes.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "evsound/internal.h"

static char evsLines[EVS_TRACE_CAPACITY][EVS_TRACE_LINE];
static int32_t evsFirst = 0;   // oldest kept line
static int32_t evsCount = 0;

void evsTrace(const char *format, ...)
{
    int32_t slot = (evsFirst + evsCount) % EVS_TRACE_CAPACITY;
    if (evsCount == EVS_TRACE_CAPACITY) {
        evsFirst = (evsFirst + 1) % EVS_TRACE_CAPACITY;
    } else {
        ++evsCount;
    }
    va_list args;
    va_start(args, format);
    vsnprintf(evsLines[slot], EVS_TRACE_LINE, format, args);
    va_end(args);
}

void EvsTraceClear(void)
{
    evsFirst = 0;
    evsCount = 0;
}

int32_t EvsTraceSize(void)
{
    return evsCount;
}

const char *EvsTraceLine(int32_t index)
{
    if (index < 0 || index >= evsCount) {
        return NULL;
    }
    return evsLines[(evsFirst + index) % EVS_TRACE_CAPACITY];
}

int32_t EvsTraceCount(const char *prefix)
{
    if (!prefix) {
        return 0;
    }
    size_t length = strlen(prefix);
    int32_t found = 0;
    for (int32_t i = 0; i < evsCount; ++i) {
        if (strncmp(EvsTraceLine(i), prefix, length) == 0) {
            ++found;
        }
    }
    return found;
}

const char *EvsResultText(EvsResult result)
{
    switch (result) {
    case EVS_OK: return "success";
    case EVS_ERR_INVALID_PARAM: return "invalid parameter";
    case EVS_ERR_INVALID_HANDLE: return "invalid handle";
    case EVS_ERR_UNINITIALISED: return "system not initialised";
    case EVS_ERR_ALREADY: return "already done";
    case EVS_ERR_MEMORY: return "out of memory";
    case EVS_ERR_FILE_NOT_FOUND: return "file not found";
    case EVS_ERR_FILE_READ: return "file read failed";
    case EVS_ERR_FORMAT: return "malformed data";
    case EVS_ERR_INDEX: return "index out of range";
    case EVS_ERR_NOT_LOADED: return "group data not loaded";
    case EVS_ERR_NO_CHANNEL: return "no free channel";
    }
    return "unknown result";
}
