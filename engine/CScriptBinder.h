// The script binder: a Lua 5.1 state that runs script files and strings, logging errors to "Lua.log".
#pragma once

#include <windows.h>

struct lua_State;

class CScriptBinder
{
public:
    // Without a state the binder makes its own (and an empty "Lua.log");
    // a given state is only borrowed.
    CScriptBinder(HWND window, lua_State *state);
    virtual ~CScriptBinder();
    CScriptBinder(const CScriptBinder &) = delete;
    CScriptBinder &operator=(const CScriptBinder &) = delete;

    // Reads through the engine's archive (".lua" as ".out" from the packed one); 1 when it ran.
    int RunFile(const char *fileName, const char *chunkName);
    int RunString(const char *text);
    // Replaces the content of "Lua.log" with the text and a newline; nothing
    // happens when the file does not exist.
    static void LogError(const char *text);
    // Logs the error object on top of the stack and pops it.
    void LogTopError();

    lua_State *GetState() const { return m_state; }
    HWND GetWindow() const { return m_window; }

protected:
    // Runs the function on the state inside a protected call; 1 when it raised no error.
    int Protected(int (*function)(lua_State *), void *data);
    // Closes an owned state and forgets it; a borrowed one is only forgotten.
    void DropState();

private:
    static int OpenLibraries(lua_State *L);
    static void KeepStandardStreams(lua_State *L);

    HWND m_window;
    lua_State *m_state;
    int m_ownsState;
};
