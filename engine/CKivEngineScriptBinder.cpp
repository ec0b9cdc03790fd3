// The engine's script binder: the "KivEngine", "Clump", "Avatar" and "World" tables and their metatables.
#include "engine/CKivEngineScriptBinder.h"

#include <cmath>
#include <cstdio>

#include <lua.hpp>

#include "engine/CKivAnimManager.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/CKivWorld.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"

const char CKivEngineScriptBinder::kAvatarMeta[] = "KivEngine.Avatar";
const char CKivEngineScriptBinder::kClumpMeta[] = "KivEngine.Clump";
const char CKivEngineScriptBinder::kWorldMeta[] = "KivEngine.World";

namespace {

// Registry table: object pointer -> its userdata, values weak.
const char kObjectsKey[] = "KivEngine.Objects";

void **CheckSlot(lua_State *L, int index, const char *meta)
{
    return static_cast<void **>(luaL_checkudata(L, index, meta));
}

// A clump argument that must still hold its clump.
CKivClump *LiveClump(lua_State *L, int index)
{
    CKivClump *clump = CKivEngineScriptBinder::CheckClump(L, index);
    if (!clump)
        luaL_argerror(L, index, "clump released");
    return clump;
}

CKivWorld *LiveWorld(lua_State *L, int index)
{
    CKivWorld *world = CKivEngineScriptBinder::CheckWorld(L, index);
    if (!world)
        luaL_argerror(L, index, "empty world");
    return world;
}

RwFrame *RootFrame(CKivClump *clump)
{
    return clump->GetClump() ? static_cast<RwFrame *>(clump->GetClump()->object.parent) : nullptr;
}

// --- "KivEngine" ---

int LoadAnimation(lua_State *L)
{
    const char *file = luaL_checkstring(L, 1);
    const char *name = luaL_optstring(L, 2, nullptr);
    CKivBase *base = CKivBase::GetInstance();
    if (base && base->GetAnimManager())
        base->GetAnimManager()->LoadAnimation(file, name);
    return 1;
}

int RemoveAnimation(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    CKivBase *base = CKivBase::GetInstance();
    if (base && base->GetAnimManager())
        base->GetAnimManager()->RemoveAnimation(name);
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
    const char *file = luaL_checkstring(L, 1);
    const char *imagePath = luaL_optstring(L, 2, nullptr);
    CKivClump *clump = new CKivClump;
    clump->Load(file, imagePath);
    // The script owns the clump ("Release"), loaded or not.
    *static_cast<void **>(lua_newuserdata(L, sizeof(void *))) = clump;
    luaL_getmetatable(L, CKivEngineScriptBinder::kClumpMeta);
    lua_setmetatable(L, -2);
    return 1;
}

int ClumpRelease(lua_State *L)
{
    // Only the script's own clumps: an avatar belongs to the game.
    void **slot = CheckSlot(L, 1, CKivEngineScriptBinder::kClumpMeta);
    CKivClump *clump = static_cast<CKivClump *>(*slot);
    *slot = nullptr;
    delete clump;
    return 1;
}

int ClumpGetWorld(lua_State *L)
{
    CKivClump *clump = LiveClump(L, 1);
    CKivEngineScriptBinder::PushObject(L, CKivEngineScriptBinder::kWorldMeta, clump->GetWorld());
    return 1;
}

int CopyFrameMatrix(lua_State *L, bool whole)
{
    CKivClump *destination = LiveClump(L, 1);
    CKivClump *source = LiveClump(L, 2);
    RwFrame *to = RootFrame(destination);
    RwFrame *from = RootFrame(source);
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
    CKivClump *clump = LiveClump(L, 1);
    clump->Update(static_cast<float>(luaL_checknumber(L, 2)));
    return 1;
}

int ClumpUpdateObjects(lua_State *L)
{
    LiveClump(L, 1)->UpdateObjects();
    return 1;
}

int ClumpUpdateParticles(lua_State *L)
{
    CKivClump *clump = LiveClump(L, 1);
    clump->UpdateParticles(static_cast<float>(luaL_checknumber(L, 2)));
    return 1;
}

int ClumpSetAlphaAttribute(lua_State *L)
{
    CKivClump *clump = LiveClump(L, 1);
    clump->SetAlphaAttribute(static_cast<int>(luaL_checkinteger(L, 2)));
    return 1;
}

int ClumpPushAnimation(lua_State *L)
{
    CKivClump *clump = LiveClump(L, 1);
    const char *name = luaL_checkstring(L, 2);
    const float blend = static_cast<float>(luaL_checknumber(L, 3));
    const int loop = lua_toboolean(L, 4);
    CKivBase *base = CKivBase::GetInstance();
    CKivAnimManager *manager = base ? base->GetAnimManager() : nullptr;
    clump->PushAnimation(manager, name, blend, loop);
    return 1;
}

int ClumpSetAlpha(lua_State *L)
{
    CKivClump *clump = LiveClump(L, 1);
    // Truncated toward zero, low 8 bits; values beyond any integer count as 0.
    const double value = std::trunc(luaL_checknumber(L, 2));
    const long long whole = std::fabs(value) < 9.0e18 ? static_cast<long long>(value) : 0;
    clump->SetAlpha(static_cast<int>(whole & 0xFF));
    return 1;
}

int ClumpGetName(lua_State *L)
{
    lua_pushstring(L, LiveClump(L, 1)->GetName());
    return 1;
}

// --- "KivEngine.Avatar" ---

// The avatar of the running call; its userdata is emptied when the call returns.
CKivAvatar *LiveAvatar(lua_State *L, int index)
{
    CKivClump *clump = static_cast<CKivClump *>(*CheckSlot(L, index, CKivEngineScriptBinder::kAvatarMeta));
    if (!clump)
        luaL_argerror(L, index, "avatar call has ended");
    return static_cast<CKivAvatar *>(clump);
}

// Every value of the table at index has the type (no conversions: lua_next would lose its place).
void CheckValues(lua_State *L, int index, int type, const char *what)
{
    luaL_checktype(L, index, LUA_TTABLE);
    for (lua_pushnil(L); lua_next(L, index); lua_pop(L, 1)) {
        if (lua_type(L, -1) != type)
            luaL_argerror(L, index, what);
    }
}

// Inner tables whose first three values are a name, a blend time and a loop flag.
void CheckMotions(lua_State *L, int index)
{
    CheckValues(L, index, LUA_TTABLE, "motions must be tables");
    for (lua_pushnil(L); lua_next(L, index); lua_pop(L, 1)) {
        const int inner = lua_gettop(L);
        const int types[3] = {LUA_TSTRING, LUA_TNUMBER, LUA_TBOOLEAN};
        int n = 0;
        for (lua_pushnil(L); n < 3 && lua_next(L, inner); lua_pop(L, 1), n++) {
            if (lua_type(L, -1) != types[n])
                luaL_argerror(L, index, "a motion is name, blend time, loop flag");
        }
        if (n < 3)
            luaL_argerror(L, index, "a motion is name, blend time, loop flag");
        lua_settop(L, inner);
    }
}

int AvatarCreateBehavior(lua_State *L)
{
    CKivAvatar *avatar = LiveAvatar(L, 1);
    const char *name = luaL_checkstring(L, 2);
    const int sound = static_cast<int>(luaL_checkinteger(L, 3));
    CheckMotions(L, 4);
    CKivBehavior *behavior = avatar->CreateBehavior(name, sound);
    for (lua_pushnil(L); behavior && lua_next(L, 4); lua_pop(L, 1)) {
        const int inner = lua_gettop(L);
        lua_pushnil(L);
        lua_next(L, inner);
        const char *motion = lua_tostring(L, -1);
        lua_pop(L, 1);
        lua_next(L, inner);
        const float blend = static_cast<float>(lua_tonumber(L, -1));
        lua_pop(L, 1);
        lua_next(L, inner);
        const int loop = lua_toboolean(L, -1);
        lua_settop(L, inner);
        behavior->AddMotion(motion, blend, loop);
    }
    return 1;
}

int AvatarAddEmotion(lua_State *L)
{
    CKivAvatar *avatar = LiveAvatar(L, 1);
    const char *name = luaL_checkstring(L, 2);
    const int frame = static_cast<int>(luaL_checkinteger(L, 3));
    const float seconds = static_cast<float>(luaL_checknumber(L, 4));
    avatar->AddEmotion(name, frame, seconds);
    return 1;
}

int AvatarAttachItem(lua_State *L)
{
    CKivAvatar *avatar = LiveAvatar(L, 1);
    const int key = static_cast<int>(luaL_checkinteger(L, 2));
    const int value = static_cast<int>(luaL_checkinteger(L, 3));
    const int mode = static_cast<int>(luaL_checkinteger(L, 4));
    const int flag = lua_toboolean(L, 5);
    CheckValues(L, 6, LUA_TSTRING, "object files must be strings");
    CheckValues(L, 7, LUA_TSTRING, "replaced parts must be strings");
    CheckValues(L, 8, LUA_TNUMBER, "slots must be numbers");
    // Arguments checked: nothing below raises a Lua error.
    CKivAvatarItem *item = new CKivAvatarItem;
    item->SetKey(key);
    item->SetValue(value);
    item->SetDisplayMode(mode);
    item->SetFlag(flag);
    int loaded = 1;
    for (lua_pushnil(L); lua_next(L, 6); lua_pop(L, 1)) {
        char path[CKivAvatar::kNameSize];
        const int n = snprintf(path, sizeof(path), "Data/Avatar/Objects/%s", lua_tostring(L, -1));
        CKivClump *clump = new CKivClump;
        loaded = n > 0 && n < CKivAvatar::kNameSize && clump->Load(path, "Data/Avatar/Objects/Textures/");
        if (loaded)
            item->AddClumpAtomics(clump);
        delete clump;
    }
    if (!loaded) {
        delete item;
        return 1;
    }
    for (lua_pushnil(L); lua_next(L, 7); lua_pop(L, 1))
        item->AddReplacedPart(lua_tostring(L, -1));
    for (lua_pushnil(L); lua_next(L, 8); lua_pop(L, 1))
        item->AddSlot(static_cast<int>(lua_tointeger(L, -1)));
    avatar->AttachItemObject(item);
    return 1;
}

// --- "KivEngine.World" ---

int WorldIsEmpty(lua_State *L)
{
    lua_pushboolean(L, CKivEngineScriptBinder::CheckWorld(L, 1) == nullptr);
    return 1;
}

int WorldAddClump(lua_State *L)
{
    CKivWorld *world = LiveWorld(L, 1);
    world->AddClump(LiveClump(L, 2));
    return 1;
}

int WorldRemoveClump(lua_State *L)
{
    CKivWorld *world = LiveWorld(L, 1);
    world->RemoveClump(LiveClump(L, 2));
    return 1;
}

const luaL_Reg kEngineFunctions[] = {
    {"LoadAnimation", LoadAnimation},
    {"RemoveAnimation", RemoveAnimation},
    {"GetCurrentWorld", GetCurrentWorld},
    {nullptr, nullptr},
};

const luaL_Reg kClumpFunctions[] = {
    {"Load", ClumpLoad},
    {nullptr, nullptr},
};

const luaL_Reg kClumpMethods[] = {
    {"Release", ClumpRelease},
    {"GetWorld", ClumpGetWorld},
    {"CopyMatrix", ClumpCopyMatrix},
    {"CopyPos", ClumpCopyPos},
    {"UpdateAnimation", ClumpUpdateAnimation},
    {"UpdateObjects", ClumpUpdateObjects},
    {"UpdateParticles", ClumpUpdateParticles},
    {"SetAlphaAttribute", ClumpSetAlphaAttribute},
    {"PushAnimation", ClumpPushAnimation},
    {"SetAlpha", ClumpSetAlpha},
    {"GetName", ClumpGetName},
    {nullptr, nullptr},
};

const luaL_Reg kAvatarMethods[] = {
    {"CreateBehavior", AvatarCreateBehavior},
    {"AddEmotion", AvatarAddEmotion},
    {"AttachItem", AvatarAttachItem},
    {nullptr, nullptr},
};

const luaL_Reg kWorldMethods[] = {
    {"IsEmpty", WorldIsEmpty},
    {"AddClump", WorldAddClump},
    {"RemoveClump", WorldRemoveClump},
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

CKivEngineScriptBinder::CKivEngineScriptBinder(HWND window) : CScriptBinder(window, nullptr)
{
    Register();
}

CKivEngineScriptBinder::~CKivEngineScriptBinder() = default;

void CKivEngineScriptBinder::Register()
{
    lua_State *L = GetState();
    if (!L)
        return;
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
    CKivEngineScriptBinder *binder = GetInstance();
    lua_State *L = binder ? binder->GetState() : nullptr;
    if (!L || !object)
        return;
    lua_getfield(L, LUA_REGISTRYINDEX, kObjectsKey);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, object);
        lua_rawget(L, -2);
        if (void **slot = static_cast<void **>(lua_touserdata(L, -1)))
            *slot = nullptr;
        lua_pop(L, 1);
        lua_pushlightuserdata(L, object);
        lua_pushnil(L);
        lua_rawset(L, -3);
    }
    lua_pop(L, 1);
}

CKivClump *CKivEngineScriptBinder::CheckClump(lua_State *L, int index)
{
    void **slot = static_cast<void **>(lua_touserdata(L, index));
    if (slot && lua_getmetatable(L, index)) {
        for (const char *meta : {kClumpMeta, kAvatarMeta}) {
            luaL_getmetatable(L, meta);
            const int same = lua_rawequal(L, -1, -2);
            lua_pop(L, 1);
            if (same) {
                lua_pop(L, 1);
                return static_cast<CKivClump *>(*slot);
            }
        }
        lua_pop(L, 1);
    }
    luaL_typerror(L, index, kClumpMeta);
    return nullptr;
}

CKivWorld *CKivEngineScriptBinder::CheckWorld(lua_State *L, int index)
{
    return static_cast<CKivWorld *>(*CheckSlot(L, index, kWorldMeta));
}
