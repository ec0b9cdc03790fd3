// The sample's scene script: run once on the current world, then called every frame and before the world goes.
#include "scenescript.h"

#include <string>

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

// Errors go to "Lua.log" like the binder's own.
bool SceneScript::Call(const char *function, int arguments, float seconds, bool mustExist)
{
    CKivEngineScriptBinder *binder = CKivBase::GetScriptBinder();
    lua_State *state = binder ? binder->GetState() : nullptr;
    if (!state) {
        return false;
    }
    lua_getglobal(state, function);
    if (!lua_isfunction(state, -1)) {
        lua_pop(state, 1);
        if (mustExist) {
            CScriptBinder::LogError((std::string("the scene script has no function ") + function).c_str());
        }
        return false;
    }
    if (arguments > 0) {
        lua_pushnumber(state, seconds);
    }
    if (lua_pcall(state, arguments, 0, 0) != 0) {
        binder->LogTopError();
        return false;
    }
    return true;
}
