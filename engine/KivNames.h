// Engine object names: stored lower case; an unnamed object is named after its address.
#pragma once

#include <string>

// The lower-cased name, or the object's address printed with "%p" when name is null.
std::string KivObjectName(const void *object, const char *name);
// Whether a stored (lower-case) name is the one asked for, compared in place
// without allocating.
bool KivIsObjectName(const char *stored, const char *name);
// Sets *out to that name; without memory for it *out stays as it was, and false.
bool KivSetObjectName(std::string *out, const void *object, const char *name);
// Sets *out to the text as it is (null as empty), in the same way.
bool KivSetText(std::string *out, const char *text);
