// Text helpers of the GUI: bounded copies that keep double-byte characters whole, paths and keys.
#pragma once

#include <string>

// Copies text into a field of size bytes, cut if need be, never ending on
// half a double-byte character; null copies as empty.
void GuiCopyWhole(char *out, int size, const char *text);

// The ANSI text cut to at most limit bytes (terminator not counted) at a
// whole character.
std::string GuiCutWhole(const char *text, int limit);

// The cache key of a path: lower case.
std::string GuiLowerCase(const char *text);

// Splits after the last '/' or '\\': directory (with its separator) and the
// file name, lower case.
void GuiSplitPath(const char *path, std::string *directory, std::string *file);
