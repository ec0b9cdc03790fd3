// Debugger-output messages of the engine, through a sink that tests may replace.
#include "engine/KivDebug.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

static KivDebugSink kivSink = nullptr;

KivDebugSink KivDebugSetSink(KivDebugSink sink)
{
    KivDebugSink previous = kivSink;
    kivSink = sink;
    return previous;
}

// Teardown prints too, so a message that finds no memory is cut to a
// buffer of its own rather than thrown.
void KivDebugPrintf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    char shortText[512];
    std::string text;
    const char *out = shortText;
    try {
        text.assign(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length > 0)
            vsnprintf(&text[0], text.size() + 1, format, args);
        out = text.c_str();
    } catch (const std::bad_alloc &) {
        vsnprintf(shortText, sizeof(shortText), format, args);
    }
    va_end(args);
    if (kivSink)
        kivSink(out);
    else
        OutputDebugStringA(out);
}
