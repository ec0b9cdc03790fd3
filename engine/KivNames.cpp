// Engine object names: stored lower case; an unnamed object is named after its address.
#include "engine/KivNames.h"

#include <cstdio>
#include <new>

#include "gfx/core/engine.h"

// Every byte in the range A-Z is folded, a Korean character's trail byte
// too (\x81\x41 and \x81\x61 name one object), as engine names always
// were; the archive's file names leave trail bytes as they are.
static char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string KivObjectName(const void *object, const char *name)
{
    char address[32];
    if (!name) {
        // The library's own formatter once it is set up, the C library's before.
        if (RwEngineInstance->stringFuncs.vecSprintf)
            RwEngineInstance->stringFuncs.vecSprintf(address, "%p", object);
        else
            snprintf(address, sizeof(address), "%p", object);
        name = address;
    }
    std::string lower(name);
    for (char &c : lower)
        c = Lower(c);
    return lower;
}

bool KivIsObjectName(const char *stored, const char *name)
{
    for (;; stored++, name++) {
        const char c = Lower(*name);
        if (*stored != c)
            return false;
        if (!c)
            return true;
    }
}

bool KivSetText(std::string *out, const char *text)
{
    try {
        *out = text ? text : "";
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool KivSetObjectName(std::string *out, const void *object, const char *name)
{
    try {
        *out = KivObjectName(object, name);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}
