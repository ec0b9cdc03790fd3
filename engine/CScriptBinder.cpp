// The script binder: a Lua 5.1 state that runs script files and strings, logging errors to "Lua.log".
#include "engine/CScriptBinder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <lua.hpp>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileRead.h"

namespace {

const char kLogName[] = "Lua.log";

// The packed archive carries compiled scripts: the first ".lua" reads as ".out".
bool PackedName(const char *fileName, std::string *packed)
{
    const char *dot = std::strstr(fileName, ".lua");
    if (!dot)
        return false;
    *packed = fileName;
    packed->replace(static_cast<size_t>(dot - fileName) + 1, 3, "out");
    return true;
}

} // namespace

CScriptBinder::CScriptBinder(HWND window, lua_State *state) : m_window(window), m_state(state), m_ownsState(0)
{
    if (state)
        return;
    m_ownsState = 1;
    HANDLE log = CreateFileA(kLogName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (log != INVALID_HANDLE_VALUE)
        CloseHandle(log);
    m_state = luaL_newstate();
    if (m_state && !Protected(OpenLibraries, nullptr)) {
        KeepStandardStreams(m_state);
        DropState();
    }
}

// Outside a protected call Lua running out of memory would end the process.
int CScriptBinder::Protected(lua_CFunction function, void *data)
{
    // The state is shared by both threads' engine calls (see KivEngineLock.h).
    EngineLock lock;
    return m_state && lua_cpcall(m_state, function, data) == 0;
}

int CScriptBinder::OpenLibraries(lua_State *L)
{
    luaL_openlibs(L);
    return 0;
}

// The io library makes each standard stream a file handle that closing the
// state leaves open only once the handle has its own environment; memory
// running out in between leaves one that closing the state would fclose.
// Before such a state is closed the file handles lose their finaliser (no
// script has opened a file yet). Everything here already exists in the
// state, so nothing is allocated outside a protected call.
void CScriptBinder::KeepStandardStreams(lua_State *L)
{
    lua_gc(L, LUA_GCSTOP, 0);
    lua_pushnil(L);
    while (lua_next(L, LUA_REGISTRYINDEX)) {
        if (lua_type(L, -2) == LUA_TSTRING && !std::strcmp(lua_tostring(L, -2), LUA_FILEHANDLE) &&
            lua_istable(L, -1)) {
            lua_pushstring(L, "__gc");   // made with the state
            lua_rawget(L, -2);
            const bool finalised = !lua_isnil(L, -1);
            lua_pop(L, 1);
            if (finalised) {
                lua_pushstring(L, "__gc");
                lua_pushnil(L);
                lua_rawset(L, -3);
            }
        }
        lua_pop(L, 1);
    }
}

// Scripts then fail to run, as without Lua.
void CScriptBinder::DropState()
{
    if (m_ownsState && m_state)
        lua_close(m_state);
    m_state = nullptr;
}

CScriptBinder::~CScriptBinder()
{
    DropState();
}

void CScriptBinder::LogError(const char *text)
{
    HANDLE log = CreateFileA(kLogName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(log, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(log, "\n", 1, &written, nullptr);
    CloseHandle(log);
}

void CScriptBinder::LogTopError()
{
    // Often outside any protected call: a number is formatted here, since
    // lua_tostring would make a string of it in place, and Lua running out of
    // memory for that would end the process. error({}) and error() leave no
    // text: log a placeholder rather than nothing.
    char number[LUAI_MAXNUMBER2STR];
    const char *text = "(error object is not a string)";
    if (lua_type(m_state, -1) == LUA_TSTRING) {
        text = lua_tostring(m_state, -1);
    } else if (lua_type(m_state, -1) == LUA_TNUMBER) {
        snprintf(number, sizeof(number), LUA_NUMBER_FMT, lua_tonumber(m_state, -1));
        text = number;
    }
    LogError(text);
    lua_pop(m_state, 1);
}

int CScriptBinder::RunFile(const char *fileName, const char *chunkName)
{
    EngineLock lock;
    CKivBase *base = CKivBase::GetInstance();
    if (!m_state || !fileName || !base)
        return 0;
    std::string name;
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    // No exception leaves the binder: memory running out for the name (or
    // inside the archive) runs nothing, as a short read does.
    try {
        name = fileName;
        if (base->IsPackedArchive() && !PackedName(fileName, &name))
            return 0;
        if (KivReadWholeFile(base->GetParcel(), name.c_str(), bytes, &size) != kKivReadOk)
            return 0;
    } catch (...) {
        return 0;
    }
    if (luaL_loadbuffer(m_state, reinterpret_cast<const char *>(bytes.get()), size,
                        chunkName ? chunkName : name.c_str()) != 0) {
        LogTopError();
        return 0;
    }
    if (lua_pcall(m_state, 0, 0, 0) != 0) {
        LogTopError();
        return 0;
    }
    return 1;
}

int CScriptBinder::RunString(const char *text)
{
    EngineLock lock;
    if (!m_state || !text)
        return 0;
    if (luaL_loadstring(m_state, text) != 0 || lua_pcall(m_state, 0, 0, 0) != 0) {
        LogTopError();
        return 0;
    }
    return 1;
}
