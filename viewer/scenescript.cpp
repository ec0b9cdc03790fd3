// The sample's scene script: run once on the current world, then called every frame and before the world goes.
#include "scenescript.h"

#include <cstdio>

#include <lua.hpp>

#include "engine/CKivBase.h"
#include "engine/CKivEngineScriptBinder.h"

bool SceneScript::Run(const char *file)
{
    CKivEngineScriptBinder *binder = CKivBase::GetScriptBinder();
    m_ran = binder && binder->RunFile(file, nullptr) == 1;
    m_frameFailed = false;
    return m_ran;
}

void SceneScript::Frame(float seconds)
{
    if (m_ran && !m_frameFailed) {
        m_frameFailed = !Call("SampleFrame", 1, seconds, true);
    }
}

// Also after a failed run: what the script made before its error still goes.
// Its absence then is no news, and logging it would replace the real error.
void SceneScript::End()
{
    Call("SampleEnd", 0, 0.0f, m_ran);
    m_ran = false;
}

namespace {

struct SceneCall {
    const char *function;
    int arguments;
    float seconds;
    bool found;
    int status;
};

// The look-up and the call, made inside lua_cpcall: Lua running out of memory
// for the function's name is then an error of the call, not a panic.
int CallInState(lua_State *state)
{
    SceneCall *call = static_cast<SceneCall *>(lua_touserdata(state, 1));
    lua_getglobal(state, call->function);
    call->found = lua_isfunction(state, -1);
    if (!call->found) {
        return 0;
    }
    if (call->arguments > 0) {
        lua_pushnumber(state, call->seconds);
    }
    call->status = lua_pcall(state, call->arguments, 0, 0);
    if (call->status != 0) {
        CKivBase::GetScriptBinder()->LogTopError();
    }
    return 0;
}

} // namespace

// Errors go to "Lua.log" like the binder's own.
bool SceneScript::Call(const char *function, int arguments, float seconds, bool mustExist)
{
    CKivEngineScriptBinder *binder = CKivBase::GetScriptBinder();
    lua_State *state = binder ? binder->GetState() : nullptr;
    if (!state) {
        return false;
    }
    SceneCall call = {function, arguments, seconds, false, 0};
    const int top = lua_gettop(state);
    if (lua_cpcall(state, CallInState, &call) != 0) {
        binder->LogTopError();
        return false;
    }
    lua_settop(state, top);
    if (!call.found) {
        if (mustExist) {
            char line[128];
            snprintf(line, sizeof(line), "the scene script has no function %s", function);
            CScriptBinder::LogError(line);
        }
        return false;
    }
    return call.status == 0;
}
