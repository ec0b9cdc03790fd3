// The engine's script binder: the "KivEngine", "Clump", "Avatar" and "World" tables and their metatables.
#include "engine/CKivEngineScriptBinder.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include <lua.hpp>

#include "engine/CKivAnimManager.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/CKivWorld.h"
#include "engine/KivEngineLock.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"

const char CKivEngineScriptBinder::kAvatarMeta[] = "KivEngine.Avatar";
const char CKivEngineScriptBinder::kClumpMeta[] = "KivEngine.Clump";
const char CKivEngineScriptBinder::kWorldMeta[] = "KivEngine.World";

namespace {

// Registry table: object pointer -> its userdata, values weak.
const char kObjectsKey[] = "KivEngine.Objects";

// The slot of a full userdata with that metatable; null for any other value.
void **ToSlot(lua_State *L, int index, const char *meta)
{
    if (lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index))
        return nullptr;
    luaL_getmetatable(L, meta);
    const int same = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return same ? static_cast<void **>(lua_touserdata(L, index)) : nullptr;
}

// A flag: a boolean, or a number (numeric strings too) where 0 is off; Lua's
// own truth would turn a script's 0 on.
int ToFlag(lua_State *L, int index)
{
    if (lua_type(L, index) == LUA_TBOOLEAN)
        return lua_toboolean(L, index);
    return lua_tonumber(L, index) != 0 ? 1 : 0;
}

float ToFloat(lua_State *L, int index)
{
    return static_cast<float>(lua_tonumber(L, index));
}

int ToInt(lua_State *L, int index)
{
    return static_cast<int>(lua_tointeger(L, index));
}

RwFrame *RootFrame(CKivClump *clump)
{
    return clump->GetClump() ? static_cast<RwFrame *>(clump->GetClump()->object.parent) : nullptr;
}

CKivAnimManager *AnimManager()
{
    CKivBase *base = CKivBase::GetInstance();
    return base ? base->GetAnimManager() : nullptr;
}

// No C++ exception of ours reaches Lua: every table function runs inside
// this, and memory running out makes the call do nothing and give nil. Lua's
// own errors (its memory running out in a push) are thrown too, since Lua is
// built as C++, but not as std::exception: they pass on to the protected
// call, freeing what the function held on the way.
template <lua_CFunction Function>
int Guarded(lua_State *L)
{
    const int top = lua_gettop(L);
    try {
        return Function(L);
    } catch (const std::exception &) {
    }
    lua_settop(L, top);
    lua_pushnil(L);
    return 1;
}

// Every function below reads its arguments without raising a Lua error: a
// missing or wrong object (or a name that is no string) makes the call do
// nothing, and numbers are read as Lua converts them.

// --- "KivEngine" ---

int LoadAnimation(lua_State *L)
{
    const char *file = lua_tostring(L, 1);
    const char *name = lua_tostring(L, 2);
    if (file && AnimManager())
        AnimManager()->LoadAnimation(file, name);
    return 1;
}

int RemoveAnimation(lua_State *L)
{
    const char *name = lua_tostring(L, 1);
    if (name && AnimManager())
        AnimManager()->RemoveAnimation(name);
    return 1;
}

int GetCurrentWorld(lua_State *L)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivEngineScriptBinder::PushObject(L, CKivEngineScriptBinder::kWorldMeta,
                                       base ? base->GetCurrentWorld() : nullptr);
    return 1;
}

// --- "Clump" and "KivEngine.Clump" ---

int ClumpLoad(lua_State *L)
{
    const char *file = lua_tostring(L, 1);
    const char *imagePath = lua_tostring(L, 2);
    // The userdata first: once the clump exists, nothing may leave before
    // the script holds it.
    void **slot = static_cast<void **>(lua_newuserdata(L, sizeof(void *)));
    *slot = nullptr;
    luaL_getmetatable(L, CKivEngineScriptBinder::kClumpMeta);
    lua_setmetatable(L, -2);
    std::unique_ptr<CKivClump> clump(new CKivClump);
    clump->Load(file, imagePath);
    // The script owns the clump ("Release"), loaded or not.
    *slot = clump.release();
    return 1;
}

int ClumpRelease(lua_State *L)
{
    // Only the script's own clumps: an avatar belongs to the game.
    void **slot = ToSlot(L, 1, CKivEngineScriptBinder::kClumpMeta);
    if (!slot)
        return 1;
    CKivClump *clump = static_cast<CKivClump *>(*slot);
    *slot = nullptr;
    delete clump;
    return 1;
}

int ClumpGetWorld(lua_State *L)
{
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1);
    CKivEngineScriptBinder::PushObject(L, CKivEngineScriptBinder::kWorldMeta, clump ? clump->GetWorld() : nullptr);
    return 1;
}

int CopyFrameMatrix(lua_State *L, bool whole)
{
    CKivClump *destination = CKivEngineScriptBinder::ToClump(L, 1);
    CKivClump *source = CKivEngineScriptBinder::ToClump(L, 2);
    RwFrame *to = destination ? RootFrame(destination) : nullptr;
    RwFrame *from = source ? RootFrame(source) : nullptr;
    if (to && from) {
        if (whole)
            to->modelling = from->modelling;
        else
            to->modelling.pos = from->modelling.pos;
    }
    return 1;
}

int ClumpCopyMatrix(lua_State *L)
{
    return CopyFrameMatrix(L, true);
}

int ClumpCopyPos(lua_State *L)
{
    return CopyFrameMatrix(L, false);
}

int ClumpUpdateAnimation(lua_State *L)
{
    if (CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1))
        clump->Update(ToFloat(L, 2));
    return 1;
}

int ClumpUpdateObjects(lua_State *L)
{
    if (CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1))
        clump->UpdateObjects();
    return 1;
}

int ClumpUpdateParticles(lua_State *L)
{
    if (CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1))
        clump->UpdateParticles(ToFloat(L, 2));
    return 1;
}

int ClumpSetAlphaAttribute(lua_State *L)
{
    if (CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1))
        clump->SetAlphaAttribute(ToInt(L, 2));
    return 1;
}

int ClumpPushAnimation(lua_State *L)
{
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1);
    const char *name = lua_tostring(L, 2);
    if (clump && name)
        clump->PushAnimation(AnimManager(), name, ToFloat(L, 3), ToFlag(L, 4));
    return 1;
}

int ClumpSetAlpha(lua_State *L)
{
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1);
    if (!clump)
        return 1;
    // Truncated toward zero, low 8 bits; values beyond any integer count as 0.
    const double value = std::trunc(lua_tonumber(L, 2));
    const long long whole = std::fabs(value) < 9.0e18 ? static_cast<long long>(value) : 0;
    clump->SetAlpha(static_cast<int>(whole & 0xFF));
    return 1;
}

int ClumpGetName(lua_State *L)
{
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 1);
    if (clump)
        lua_pushstring(L, clump->GetName());
    else
        lua_pushnil(L);
    return 1;
}

// --- "KivEngine.Avatar" ---

// The avatar of the running call; null once the call has returned (its
// userdata is emptied then) or for any other value.
CKivAvatar *ToAvatar(lua_State *L, int index)
{
    void **slot = ToSlot(L, index, CKivEngineScriptBinder::kAvatarMeta);
    return slot ? static_cast<CKivAvatar *>(static_cast<CKivClump *>(*slot)) : nullptr;
}

// A table whose every value Lua can read as a string.
bool IsStringTable(lua_State *L, int index)
{
    if (!lua_istable(L, index))
        return false;
    for (lua_pushnil(L); lua_next(L, index); lua_pop(L, 1)) {
        if (!lua_isstring(L, -1)) {
            lua_pop(L, 2);
            return false;
        }
    }
    return true;
}

// Pushes the first three values of the inner table at index, in lua_next
// order (nil for those missing): motion name, blend time, loop flag.
void PushMotion(lua_State *L, int index)
{
    const int top = lua_gettop(L);
    int n = 0;
    for (lua_pushnil(L); n < 3 && lua_next(L, index); n++)
        lua_insert(L, -2);   // the value stays, its key goes on walking
    if (n == 3)
        lua_pop(L, 1);
    lua_settop(L, top + 3);
}

// A table of inner tables, each with a motion name first.
bool IsMotionTable(lua_State *L, int index)
{
    if (!lua_istable(L, index))
        return false;
    for (lua_pushnil(L); lua_next(L, index); lua_pop(L, 1)) {
        const int inner = lua_gettop(L);
        bool named = false;
        if (lua_istable(L, inner)) {
            PushMotion(L, inner);
            named = lua_isstring(L, inner + 1) != 0;
        }
        lua_settop(L, inner);
        if (!named) {
            lua_pop(L, 2);
            return false;
        }
    }
    return true;
}

int AvatarCreateBehavior(lua_State *L)
{
    CKivAvatar *avatar = ToAvatar(L, 1);
    const char *name = lua_tostring(L, 2);
    const int sound = ToInt(L, 3);
    CKivBehaviorManager *manager = avatar ? avatar->GetBehaviorManager() : nullptr;
    // A name already taken (a body set again) keeps its first behaviour.
    if (!manager || !name || !IsMotionTable(L, 4) || manager->FindBehavior(name))
        return 1;
    // Registered only once whole: a behaviour cut short by memory running
    // out would hold the name with its motions missing.
    std::unique_ptr<CKivBehavior> behavior(new CKivBehavior(name, sound));
    if (std::strcmp(behavior->GetName(), name))
        return 1;
    for (lua_pushnil(L); lua_next(L, 4); lua_pop(L, 1)) {
        const int inner = lua_gettop(L);
        PushMotion(L, inner);
        if (!behavior->AddMotion(lua_tostring(L, inner + 1), ToFloat(L, inner + 2), ToFlag(L, inner + 3)))
            return 1;
        lua_settop(L, inner);
    }
    if (manager->AddBehavior(behavior.get()))
        behavior.release();
    return 1;
}

int AvatarAddEmotion(lua_State *L)
{
    CKivAvatar *avatar = ToAvatar(L, 1);
    const char *name = lua_tostring(L, 2);
    if (avatar && name)
        avatar->AddEmotion(name, ToInt(L, 3), ToFloat(L, 4));
    return 1;
}

int AvatarAttachItem(lua_State *L)
{
    CKivAvatar *avatar = ToAvatar(L, 1);
    if (!avatar || !IsStringTable(L, 6) || !IsStringTable(L, 7) || !lua_istable(L, 8))
        return 1;
    std::unique_ptr<CKivAvatarItem> item(new CKivAvatarItem);
    item->SetKey(ToInt(L, 2));
    item->SetValue(ToInt(L, 3));
    item->SetDisplayMode(ToInt(L, 4));
    item->SetFlag(ToFlag(L, 5));
    int loaded = 1;
    for (lua_pushnil(L); lua_next(L, 6); lua_pop(L, 1)) {
        char path[CKivAvatar::kNameSize];
        const int n = snprintf(path, sizeof(path), "Data/Avatar/Objects/%s", lua_tostring(L, -1));
        std::unique_ptr<CKivClump> clump(new CKivClump);
        loaded = n > 0 && n < CKivAvatar::kNameSize && clump->Load(path, "Data/Avatar/Objects/Textures/");
        if (loaded && !item->AddClumpAtomics(clump.get()))
            return 1;
    }
    if (!loaded)
        return 1;
    // An item short of a part or a slot (memory running out) is not worn.
    for (lua_pushnil(L); lua_next(L, 7); lua_pop(L, 1)) {
        if (!item->AddReplacedPart(lua_tostring(L, -1)))
            return 1;
    }
    for (lua_pushnil(L); lua_next(L, 8); lua_pop(L, 1)) {
        if (!item->AddSlot(ToInt(L, -1)))
            return 1;
    }
    // The avatar takes the item whatever comes of it, memory running out included.
    avatar->AttachItemObject(item.release());
    return 1;
}

// --- "KivEngine.World" ---

int WorldIsEmpty(lua_State *L)
{
    lua_pushboolean(L, CKivEngineScriptBinder::ToWorld(L, 1) == nullptr);
    return 1;
}

int WorldAddClump(lua_State *L)
{
    CKivWorld *world = CKivEngineScriptBinder::ToWorld(L, 1);
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 2);
    if (world && clump)
        world->AddClump(clump);
    return 1;
}

int WorldRemoveClump(lua_State *L)
{
    CKivWorld *world = CKivEngineScriptBinder::ToWorld(L, 1);
    CKivClump *clump = CKivEngineScriptBinder::ToClump(L, 2);
    if (world && clump)
        world->RemoveClump(clump);
    return 1;
}

const luaL_Reg kEngineFunctions[] = {
    {"LoadAnimation", Guarded<LoadAnimation>},
    {"RemoveAnimation", Guarded<RemoveAnimation>},
    {"GetCurrentWorld", Guarded<GetCurrentWorld>},
    {nullptr, nullptr},
};

const luaL_Reg kClumpFunctions[] = {
    {"Load", Guarded<ClumpLoad>},
    {nullptr, nullptr},
};

const luaL_Reg kClumpMethods[] = {
    {"Release", Guarded<ClumpRelease>},
    {"GetWorld", Guarded<ClumpGetWorld>},
    {"CopyMatrix", Guarded<ClumpCopyMatrix>},
    {"CopyPos", Guarded<ClumpCopyPos>},
    {"UpdateAnimation", Guarded<ClumpUpdateAnimation>},
    {"UpdateObjects", Guarded<ClumpUpdateObjects>},
    {"UpdateParticles", Guarded<ClumpUpdateParticles>},
    {"SetAlphaAttribute", Guarded<ClumpSetAlphaAttribute>},
    {"PushAnimation", Guarded<ClumpPushAnimation>},
    {"SetAlpha", Guarded<ClumpSetAlpha>},
    {"GetName", Guarded<ClumpGetName>},
    {nullptr, nullptr},
};

const luaL_Reg kAvatarMethods[] = {
    {"CreateBehavior", Guarded<AvatarCreateBehavior>},
    {"AddEmotion", Guarded<AvatarAddEmotion>},
    {"AttachItem", Guarded<AvatarAttachItem>},
    {nullptr, nullptr},
};

const luaL_Reg kWorldMethods[] = {
    {"IsEmpty", Guarded<WorldIsEmpty>},
    {"AddClump", Guarded<WorldAddClump>},
    {"RemoveClump", Guarded<WorldRemoveClump>},
    {nullptr, nullptr},
};

const luaL_Reg kNoFunctions[] = {
    {nullptr, nullptr},
};

// A metatable that is its own "__index", holding the methods.
void RegisterMeta(lua_State *L, const char *meta, const luaL_Reg *methods)
{
    luaL_newmetatable(L, meta);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_register(L, nullptr, methods);
    lua_pop(L, 1);
}

void RegisterTable(lua_State *L, const char *name, const luaL_Reg *functions)
{
    luaL_register(L, name, functions);
    lua_pop(L, 1);
}

} // namespace

// A state that cannot hold every table is dropped: scripts then fail to run.
CKivEngineScriptBinder::CKivEngineScriptBinder(HWND window) : CScriptBinder(window, nullptr)
{
    if (GetState() && !Protected(Register, nullptr))
        DropState();
}

CKivEngineScriptBinder::~CKivEngineScriptBinder() = default;

int CKivEngineScriptBinder::Register(lua_State *L)
{
    RegisterTable(L, "KivEngine", kEngineFunctions);
    RegisterMeta(L, kAvatarMeta, kAvatarMethods);
    RegisterTable(L, "Avatar", kNoFunctions);
    RegisterMeta(L, kClumpMeta, kClumpMethods);
    RegisterTable(L, "Clump", kClumpFunctions);
    RegisterMeta(L, kWorldMeta, kWorldMethods);
    RegisterTable(L, "World", kNoFunctions);

    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, kObjectsKey);
    return 0;
}

void CKivEngineScriptBinder::PushObject(lua_State *L, const char *meta, void *object)
{
    lua_getfield(L, LUA_REGISTRYINDEX, kObjectsKey);
    if (object) {
        lua_pushlightuserdata(L, object);
        lua_rawget(L, -2);
        if (!lua_isnil(L, -1)) {
            lua_remove(L, -2);
            return;
        }
        lua_pop(L, 1);
    }
    *static_cast<void **>(lua_newuserdata(L, sizeof(void *))) = object;
    luaL_getmetatable(L, meta);
    lua_setmetatable(L, -2);
    if (object && lua_istable(L, -2)) {
        lua_pushlightuserdata(L, object);
        lua_pushvalue(L, -2);
        lua_rawset(L, -4);
    }
    lua_remove(L, -2);
}

void CKivEngineScriptBinder::ForgetObject(void *object)
{
    EngineLock lock;
    CKivEngineScriptBinder *binder = GetInstance();
    lua_State *L = binder ? binder->GetState() : nullptr;
    if (!L || !object)
        return;
    lua_getfield(L, LUA_REGISTRYINDEX, kObjectsKey);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, object);
        lua_rawget(L, -2);
        void **slot = static_cast<void **>(lua_touserdata(L, -1));
        lua_pop(L, 1);
        // Only a key the table holds: setting an absent one inserts it, which
        // may need memory, and no protected call is running here.
        if (slot) {
            *slot = nullptr;
            lua_pushlightuserdata(L, object);
            lua_pushnil(L);
            lua_rawset(L, -3);
        }
    }
    lua_pop(L, 1);
}

CKivClump *CKivEngineScriptBinder::ToClump(lua_State *L, int index)
{
    for (const char *meta : {kClumpMeta, kAvatarMeta}) {
        if (void **slot = ToSlot(L, index, meta))
            return static_cast<CKivClump *>(*slot);
    }
    return nullptr;
}

CKivWorld *CKivEngineScriptBinder::ToWorld(lua_State *L, int index)
{
    void **slot = ToSlot(L, index, kWorldMeta);
    return slot ? static_cast<CKivWorld *>(*slot) : nullptr;
}
