// Text helpers of the GUI: bounded copies that keep double-byte characters whole, paths and keys.
#include "engine/gui/GuiText.h"

#include <windows.h>

#include <cstring>

namespace {

// The bytes of text up to limit that end on a whole character.
int WholeBytes(const char *text, int limit)
{
    int i = 0;
    while (text && text[i] && i < limit) {
        int step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    return i;
}

// The next byte of a text as its key has it; lead tracks double-byte characters.
unsigned char KeyByte(const char *text, size_t i, bool *lead)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (*lead) {
        *lead = false;
        return c;
    }
    if (IsDBCSLeadByte(c) && text[i + 1]) {
        *lead = true;
        return c;
    }
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

} // namespace

std::string GuiCutWhole(const char *text, int limit)
{
    return text ? std::string(text, WholeBytes(text, limit)) : std::string();
}

// Allocates nothing: release and drawing paths copy with it.
void GuiCopyWhole(char *out, int size, const char *text)
{
    if (size <= 0)
        return;
    const int bytes = WholeBytes(text, size - 1);
    if (bytes)
        std::memmove(out, text, bytes);
    out[bytes] = '\0';
}

std::string GuiLowerCase(const char *text)
{
    std::string out = text ? text : "";
    // Byte-wise: the trail byte of a double-byte character can look like a
    // capital letter and must stay as it is.
    for (size_t i = 0; i < out.size(); i++) {
        if (IsDBCSLeadByte(static_cast<BYTE>(out[i])) && i + 1 < out.size()) {
            i++;
            continue;
        }
        if (out[i] >= 'A' && out[i] <= 'Z')
            out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
    return out;
}

bool GuiKeyLess::Less(const char *a, const char *b)
{
    a = a ? a : "";
    b = b ? b : "";
    bool leadA = false, leadB = false;
    for (size_t i = 0;; i++) {
        if (!a[i] || !b[i])
            return !a[i] && b[i];
        const unsigned char x = KeyByte(a, i, &leadA), y = KeyByte(b, i, &leadB);
        if (x != y)
            return x < y;
    }
}

void GuiSplitPath(const char *path, std::string *directory, std::string *file)
{
    std::string p = path ? path : "";
    size_t cut = 0;
    for (size_t i = 0; i < p.size(); i++) {
        if (IsDBCSLeadByte(static_cast<BYTE>(p[i])) && i + 1 < p.size()) {
            i++;
            continue;
        }
        if (p[i] == '/' || p[i] == '\\')
            cut = i + 1;
    }
    *directory = p.substr(0, cut);
    *file = GuiLowerCase(p.c_str() + cut);
}
