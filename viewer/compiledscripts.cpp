// The packed tree's scripts: every .lua file of a folder also as the compiled .out chunk read from "data.pcl".
#include "compiledscripts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <string>

#include "sample/sample_files.h"

namespace {

int Append(lua_State *, const void *bytes, size_t size, void *out)
{
    static_cast<std::string *>(out)->append(static_cast<const char *>(bytes), size);
    return 0;
}

bool ReadAll(const std::string &path, std::string *text)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) {
        text->append(block, n);
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The chunk is compiled by this program's own Lua, so it matches the
// engine's (same word sizes and number type).
bool Compile(const std::string &path)
{
    std::string text, chunk;
    if (!ReadAll(path, &text)) {
        std::fprintf(stderr, "viewer: cannot read %s\n", path.c_str());
        return false;
    }
    lua_State *state = luaL_newstate();
    bool ok = state && luaL_loadbuffer(state, text.data(), text.size(), path.c_str()) == 0 &&
              lua_dump(state, Append, &chunk) == 0;
    if (!ok) {
        const char *why = state ? lua_tostring(state, -1) : "no memory";
        std::fprintf(stderr, "viewer: cannot compile %s: %s\n", path.c_str(), why ? why : "");
    }
    if (state) {
        lua_close(state);
    }
    return ok && KivSampleWrite(path.substr(0, path.size() - 4) + ".out", chunk);
}

bool IsScript(const char *name)
{
    const size_t n = std::strlen(name);
    return n > 4 && lstrcmpiA(name + n - 4, ".lua") == 0;
}

}  // namespace

bool KivViewerCompileScripts(const char *folder)
{
    WIN32_FIND_DATAA found;
    const std::string prefix = std::string(folder) + "/";
    HANDLE find = FindFirstFileA((prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool ok = true;
    do {
        const std::string path = prefix + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const bool dots = std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0;
            ok = (dots || KivViewerCompileScripts(path.c_str())) && ok;
        } else if (IsScript(found.cFileName)) {
            ok = Compile(path) && ok;
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return ok;
}
