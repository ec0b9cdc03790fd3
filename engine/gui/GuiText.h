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

// Orders texts as their lower-case keys would be ordered, without making
// them: a lookup by a caller's text allocates nothing, so release paths can
// find what they hold.
struct GuiKeyLess {
    using is_transparent = void;
    bool operator()(const std::string &a, const std::string &b) const { return Less(a.c_str(), b.c_str()); }
    bool operator()(const std::string &a, const char *b) const { return Less(a.c_str(), b); }
    bool operator()(const char *a, const std::string &b) const { return Less(a, b.c_str()); }
    static bool Less(const char *a, const char *b);
};

// Splits after the last '/' or '\\': directory (with its separator) and the
// file name, lower case.
void GuiSplitPath(const char *path, std::string *directory, std::string *file);
