// The engine's script binder: the "KivEngine", "Clump", "Avatar" and "World" tables and their metatables.
#pragma once

#include "engine/CBaseManager.h"
#include "engine/CScriptBinder.h"

class CKivClump;
class CKivWorld;

class CKivEngineScriptBinder : public CScriptBinder, public CBaseManager<CKivEngineScriptBinder>
{
public:
    // Metatable names in the registry.
    static const char kAvatarMeta[];
    static const char kClumpMeta[];
    static const char kWorldMeta[];

    // Its own state, with every table registered; no state when Lua runs out of memory.
    explicit CKivEngineScriptBinder(HWND window);
    ~CKivEngineScriptBinder() override;

    // A userdata of the metatable holding the pointer; a world has one
    // userdata for its whole life, so that ForgetObject can empty it.
    static void PushObject(lua_State *state, const char *meta, void *object);
    // Empties the userdata of an object about to be freed (no binder: nothing to do).
    static void ForgetObject(void *object);
    // The clump of a "KivEngine.Clump" or "KivEngine.Avatar" userdata, the
    // world of a "KivEngine.World" one; null once released and for any other
    // value (no Lua error).
    static CKivClump *ToClump(lua_State *state, int index);
    static CKivWorld *ToWorld(lua_State *state, int index);

private:
    // Run inside a protected call: Lua may run out of memory on the way.
    static int Register(lua_State *L);
};
