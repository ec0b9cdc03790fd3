// Engine object names: stored lower case; an unnamed object is named after its address.
#include "engine/KivNames.h"

#include <cstdio>
#include <new>

#include "gfx/core/engine.h"

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
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
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
