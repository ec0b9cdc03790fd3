// Text helpers of the GUI: bounded copies that keep double-byte characters whole, paths and keys.
#include "engine/gui/GuiText.h"

#include <windows.h>

#include <cstring>

std::string GuiCutWhole(const char *text, int limit)
{
    std::string out;
    if (!text)
        return out;
    int i = 0;
    while (text[i] && i < limit) {
        int step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    out.assign(text, i);
    return out;
}

void GuiCopyWhole(char *out, int size, const char *text)
{
    if (size <= 0)
        return;
    std::string cut = GuiCutWhole(text, size - 1);
    std::memcpy(out, cut.c_str(), cut.size() + 1);
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
