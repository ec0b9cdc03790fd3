// Engine script tables: scripts in real Lua reach real clumps and worlds; wrong objects do nothing.
#include "engine_host.h"
#include "sample/engine_scene.h"
#include "motion_files.h"
#include "support/failnew/fail_new.h"
#include "support/failnew/fail_new_sweep.h"
#include "support/failnew/malloc_probe.h"
#include "sample/avatar_data.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include <lua.hpp>

#include "engine/CGameCharacterManager.h"
#include "engine/CKivAnimManager.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBase.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivLight.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/CKivWorld.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "viewer/scenescript.h"

namespace {

auto *const host = HostEngine();

class Scripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        binder = CKivBase::GetScriptBinder();
        ASSERT_NE(nullptr, binder);
        L = binder->GetState();
        WriteFileBytes("Lua.log", "");
    }
    // Runs the text; 1 when it ran without error.
    int Run(const std::string &text) { return binder->RunString(text.c_str()); }
    std::string Log() { return ReadFileBytes("Lua.log"); }
    // A clump of the engine, given to scripts as a global of the clump metatable.
    void Expose(const char *global, CKivClump *clump, const char *meta = CKivEngineScriptBinder::kClumpMeta)
    {
        *static_cast<void **>(lua_newuserdata(L, sizeof(void *))) = clump;
        luaL_getmetatable(L, meta);
        lua_setmetatable(L, -2);
        lua_setglobal(L, global);
    }
    CKivClump *Part(const char *file)
    {
        WriteFileBytes(file, KivTestModel({{KivTestQuad{}, {0, 0, 0}}}));
        CKivClump *clump = new CKivClump(file);
        EXPECT_EQ(1, clump->Load(file, nullptr));
        return clump;
    }
    static RwFrame *Root(CKivClump *clump) { return static_cast<RwFrame *>(clump->GetClump()->object.parent); }
    static int Alpha(CKivClump *clump)
    {
        RwAtomic *first = nullptr;
        RwClumpForAllAtomics(clump->GetClump(), [](RwAtomic *a, void *d) { *static_cast<RwAtomic **>(d) = a; return (RwAtomic *)nullptr; }, &first);
        return first->geometry->matList.materials[0]->color.alpha;
    }
    CKivEngineScriptBinder *binder = nullptr;
    lua_State *L = nullptr;
};

TEST_F(Scripts, ClumpsLoadReleaseOnceAndReachWorlds)
{
    CKivWorld *world = new CKivWorld("Stage");
    WriteFileBytes("stage.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    ASSERT_EQ(1, world->Load("stage.bsp", nullptr, nullptr));
    ASSERT_EQ(1, Run("empty = KivEngine.GetCurrentWorld():IsEmpty()"));
    lua_getglobal(L, "empty");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_pop(L, 1);

    WriteFileBytes("scripted.dff", KivTestModel({{KivTestQuad{}, {0, 0, 0}}}));
    CKivBase::GetInstance()->SetCurrentWorld(world);
    EXPECT_EQ(1, Run("c = Clump.Load('scripted.dff', '')\n"
                     "w = KivEngine.GetCurrentWorld()\n"
                     "assert(not w:IsEmpty() and c:GetWorld():IsEmpty())\n"
                     "w:AddClump(c)\n"
                     "assert(c:GetWorld() == w and not c:GetWorld():IsEmpty())"))
        << Log();
    ASSERT_EQ(1u, world->GetWorld() != nullptr);
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);

    // The world goes; the script's userdata of it is emptied, not left dangling.
    delete world;
    EXPECT_EQ(1, Run("assert(w:IsEmpty() and c:GetWorld():IsEmpty())")) << Log();
    EXPECT_EQ(1, Run("w:AddClump(c) assert(c:GetWorld():IsEmpty())")) << Log();
    EXPECT_EQ(1, Run("c:Release() c:Release() assert(c:GetName() == nil)")) << Log();
}

TEST_F(Scripts, MissingFileStillGivesAClumpNamedByAddress)
{
    remove("absent-model.dff");
    ASSERT_EQ(1, Run("m = Clump.Load('absent-model.dff', '') name = m:GetName()\n"
                     "m:UpdateObjects() m:SetAlpha(3) m:UpdateAnimation(0.5) m:CopyPos(m) m:Release()"))
        << Log();
    lua_getglobal(L, "name");
    const std::string name = lua_tostring(L, -1);
    lua_pop(L, 1);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789abcdefx"));
}

TEST_F(Scripts, AlphaKeepsTheLowEightBitsOfTheTruncatedNumber)
{
    CKivClump *clump = Part("alpha.dff");
    Expose("a", clump);
    const struct {
        const char *value;
        int alpha;
    } cases[] = {{"255.9", 255}, {"256", 0}, {"100.5", 100}, {"-1", 255}, {"1e300", 0}, {"0/0", 0},
                 {"'77'", 77},   {"'x'", 0}};   // strings as Lua converts them
    for (const auto &c : cases) {
        ASSERT_EQ(1, Run(std::string("a:SetAlpha(") + c.value + ")")) << Log();
        EXPECT_EQ(c.alpha, Alpha(clump)) << c.value;
    }
    delete clump;
}

TEST_F(Scripts, MatricesAndPositionsCopyBetweenClumps)
{
    CKivClump *to = Part("to.dff"), *from = Part("from.dff");
    const RwV3d axis = {0, 1, 0}, place = {3, 4, 5};
    from->SetRotation(&axis, 90.0f);
    from->SetPosition(&place);
    Expose("to", to);
    Expose("from", from);
    ASSERT_EQ(1, Run("to:CopyPos(from)")) << Log();
    EXPECT_EQ(4.0f, Root(to)->modelling.pos.y);
    EXPECT_NEAR(1.0f, Root(to)->modelling.right.x, 1e-5f);
    ASSERT_EQ(1, Run("to:CopyMatrix(from)")) << Log();
    EXPECT_EQ(0, memcmp(&Root(to)->modelling, &Root(from)->modelling, sizeof(RwMatrix)));
    delete to;
    delete from;
}

TEST_F(Scripts, AnimationsLoadWithOrWithoutAName)
{
    WriteMotion("Scripted/Walk.anm", 1, 1.0f);
    CKivAnimManager *manager = CKivBase::GetInstance()->GetAnimManager();
    const int before = manager->GetAnimationCount();
    ASSERT_EQ(1, Run("KivEngine.LoadAnimation('Scripted/Walk.anm', nil)\n"
                     "KivEngine.LoadAnimation('Scripted/Walk.anm', 'stride')"))
        << Log();
    EXPECT_NE(nullptr, manager->FindAnimation("walk"));
    EXPECT_NE(nullptr, manager->FindAnimation("stride"));
    ASSERT_EQ(1, Run("KivEngine.RemoveAnimation('walk') KivEngine.RemoveAnimation('stride')")) << Log();
    EXPECT_EQ(before, manager->GetAnimationCount());
}

// A missing or wrong object makes the call do nothing, without a Lua error;
// the clump and the world stay as they were.
TEST_F(Scripts, WrongObjectsDoNothingAndRaiseNoError)
{
    CKivClump *clump = Part("victim.dff");
    Expose("c", clump);
    Expose("av", clump, CKivEngineScriptBinder::kAvatarMeta);
    Expose("gone", nullptr, CKivEngineScriptBinder::kAvatarMeta);   // an avatar whose call has ended
    CKivWorld *world = new CKivWorld("Victim");
    CKivBase::GetInstance()->SetCurrentWorld(world);
    ASSERT_EQ(1, Run("w = KivEngine.GetCurrentWorld()")) << Log();
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    const char *calls[] = {
        "c.Release(w)", "c.Release(nil)", "c.Release(3)", "c.Release(av)",   // the game's avatar is not the script's to free
        "assert(c.GetName(w) == nil)", "c.SetAlpha(w, 1)", "c.CopyMatrix(c, w)", "c.CopyPos(nil, c)",
        "c.UpdateAnimation({})", "c.UpdateParticles(w, 1)", "c.SetAlphaAttribute(w, 1)",
        "c.PushAnimation(c, nil, 0, true)", "assert(c.GetWorld(1):IsEmpty())", "c.UpdateObjects('c')",
        "w.AddClump(w, w)", "w.AddClump(c, c)", "w.RemoveClump(w, nil)", "assert(w.IsEmpty(c))",
        "KivEngine.LoadAnimation(nil)", "KivEngine.RemoveAnimation({})", "Clump.Load({}, ''):Release()",
        "av.CreateBehavior(c, 'x', 0, {})", "gone:CreateBehavior('x', 0, {})", "av:CreateBehavior(nil, 0, {})",
        "av:CreateBehavior('x', 0)", "av:CreateBehavior('x', 0, {5})", "av:CreateBehavior('x', 0, {{{}}})",
        "av:CreateBehavior('x', 0, {{'walk', 0, 1}, {}})", "gone:AddEmotion('x', 1, 1)", "av:AddEmotion({}, 1, 1)",
        "gone:AttachItem(1, 1, 0, true, {}, {}, {})", "av:AttachItem(1, 1, 0, true, 'a', {}, {})",
        "av:AttachItem(1, 1, 0, true, {{}}, {}, {})", "av:AttachItem(1, 1, 0, true, {}, {true}, {})",
        "av:AttachItem(1, 1, 0, true, {}, {}, nil)",
    };
    for (const char *call : calls) {
        WriteFileBytes("Lua.log", "");
        EXPECT_EQ(1, Run(call)) << call << ": " << Log();
    }
    EXPECT_EQ(0, lua_gettop(L));
    EXPECT_EQ(255, Alpha(clump));
    EXPECT_EQ(nullptr, clump->GetWorld());
    EXPECT_EQ(nullptr, world->FindClump("victim.dff"));
    EXPECT_EQ(0, clump->GetBehaviorManager()->GetBehaviorCount());
    delete world;
    delete clump;
}

// Loop flags as the scripts write them: booleans, or numbers where 0 does not
// loop; numbers and numeric strings read as Lua converts them.
TEST_F(Scripts, BehavioursTakeLoopFlagsAsBooleansOrNumbers)
{
    WriteMotion("Data/Avatar/Motions/step.anm", 1, 1.0f);
    WriteMotion("Data/Avatar/Motions/7.anm", 1, 1.0f);
    CKivClump *clump = Part("walker.dff");
    Expose("av", clump, CKivEngineScriptBinder::kAvatarMeta);
    ASSERT_EQ(1, Run("av:CreateBehavior('flags', '3', {{'step', 0.25, 0}, {'step', '0.5', 1}, {'step', 0, true},\n"
                     "  {'step', 0, false}, {'step', 0, '0'}, {'step', 0, '1'}, {'step', 0}, {'step', 0, 2}, {7, 0, 1}})"))
        << Log();
    const CKivBehavior *behavior = clump->GetBehaviorManager()->FindBehavior("flags");
    ASSERT_NE(nullptr, behavior);
    EXPECT_EQ(3, behavior->GetSoundIndex());
    const int loops[] = {0, 1, 1, 0, 0, 1, 0, 1, 1};
    const std::vector<KivBehaviorMotion> &motions = behavior->GetMotions();
    ASSERT_EQ(9u, motions.size());
    for (size_t i = 0; i < motions.size(); i++)
        EXPECT_EQ(loops[i], motions[i].loopFlags) << i;
    EXPECT_EQ(0.25f, motions[0].blendTime);
    EXPECT_EQ(0.5f, motions[1].blendTime);
    EXPECT_EQ("7", motions[8].name);

    // The name taken again: the first behaviour stays, and the second is not kept anywhere.
    const long blocks = KivLiveHeapBlocks();
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(1, Run("av:CreateBehavior('flags', 0, {{'step', 0, 1}, {'step', 0, 0}})")) << Log();
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
    EXPECT_EQ(behavior, clump->GetBehaviorManager()->FindBehavior("flags"));
    EXPECT_EQ(9u, behavior->GetMotions().size());
    delete clump;
}

// Every registered function, each argument in turn replaced by a hostile
// value (and all of them at once), on a real avatar, clump and world: no call
// raises a Lua error, crashes or hangs.
const char kHostileCalls[] = R"(
local reg = debug.getregistry()
local tables = {KivEngine, Clump, reg['KivEngine.Clump'], reg['KivEngine.Avatar'], reg['KivEngine.World']}
local base = {
  LoadAnimation = {'Scripted/Walk.anm', 'hostile'}, RemoveAnimation = {'hostile'}, GetCurrentWorld = {},
  Load = {'hostile.dff', ''}, Release = {}, GetWorld = {c}, CopyMatrix = {c, av}, CopyPos = {c, av},
  UpdateAnimation = {av, 0.1}, UpdateObjects = {c}, UpdateParticles = {c, 0.1}, SetAlphaAttribute = {c, 1},
  PushAnimation = {av, 'walk', 0.2, 1}, SetAlpha = {c, 128}, GetName = {c},
  CreateBehavior = {av, 'hostile', 0, {{'walk', 0.2, 1}}}, AddEmotion = {av, 'hostile', 1, 0.5},
  AttachItem = {av, 104, 11, 0, true, {}, {}, {5}},
  IsEmpty = {w}, AddClump = {w, c}, RemoveClump = {w, c},
}
local hostile, n = {}, 0
local function add(v) n = n + 1 hostile[n] = v end
for _, v in ipairs({0/0, 1/0, -1/0, 1e300, -1e300, 2^31, -2^31 - 1, 2^53, -1, 0.5, 'x', '12', '0x10', ' 7 ', '',
                    string.rep('%s', 3000), 'a\0b', {string.rep('a', 3000)},
                    {}, {{}}, {{{}}}, {1, 2}, {{'walk', 0/0, 0/0}}, {{1/0, -1/0, '1e999'}}, {x = {}}, true, false,
                    w, c, av, gone, empty, io.stdout, light, print, coroutine.create(function() end)}) do add(v) end
add(nil)
failures, calls = {}, 0
local function try(name, f, args)
  calls = calls + 1
  local ok, result = pcall(f, unpack(args, 1, 8))
  if not ok then failures[#failures + 1] = name .. ': ' .. tostring(result) end
  if name == 'Load' and ok then result:Release() end
end
local names, release = {}, {}
for _, t in ipairs(tables) do
  for name, f in pairs(t) do
    if type(f) == 'function' then
      if not base[name] then failures[#failures + 1] = 'no base arguments for ' .. name end
      names[#names + 1] = {name, f}
    end
  end
end
table.sort(names, function(a, b) return (a[1] == 'Release') ~= (b[1] == 'Release') and b[1] == 'Release' or a[1] < b[1] end)
for _, entry in ipairs(names) do
  local name, f = entry[1], entry[2]
  for i = 1, n do
    local v = hostile[i]
    try(name, f, {v, v, v, v, v, v, v, v})
    for pos = 1, 8 do
      local args = {}
      for k = 1, 8 do args[k] = base[name][k] end
      args[pos] = v
      try(name, f, args)
    end
  end
end
)";

TEST_F(Scripts, HostileArgumentsToEveryFunctionRaiseNothing)
{
    ASSERT_TRUE(KivTestWriteAvatarData());
    CKivAvatar::LoadScripts("Data/Avatar/");
    WriteMotion("Scripted/Walk.anm", 1, 1.0f);
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    WriteFileBytes("hostile-target.dff", KivTestModel({{KivTestQuad{}, {0, 0, 0}}}));
    CKivWorld *world = new CKivWorld("Hostile");
    WriteFileBytes("hostile.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    ASSERT_EQ(1, world->Load("hostile.bsp", nullptr, nullptr));
    CKivBase::GetInstance()->SetCurrentWorld(world);
    // The script owns its clump: the "Release" calls free it at the end.
    ASSERT_EQ(1, Run("w = KivEngine.GetCurrentWorld() c = Clump.Load('hostile-target.dff', '')\n"
                     "empty = Clump.Load('hostile-none.dff', '') empty:Release()"));
    Expose("av", &avatar, CKivEngineScriptBinder::kAvatarMeta);
    Expose("gone", nullptr, CKivEngineScriptBinder::kAvatarMeta);
    int local = 0;
    lua_pushlightuserdata(L, &local);
    lua_setglobal(L, "light");

    // Hostile blend times and loop flags reach a real queue, then hostile steps play it.
    ASSERT_EQ(1, avatar.PushAnimation(CKivBase::GetInstance()->GetAnimManager(), "walk", 0.2f, 1));
    ASSERT_EQ(1, Run(kHostileCalls)) << Log();
    lua_getglobal(L, "calls");
    EXPECT_LT(5000, lua_tointeger(L, -1));
    lua_getglobal(L, "failures");
    const int failures = static_cast<int>(lua_objlen(L, -1));
    for (int i = 1; i <= failures && i <= 10; i++) {
        lua_rawgeti(L, -1, i);
        ADD_FAILURE() << lua_tostring(L, -1);
        lua_pop(L, 1);
    }
    lua_pop(L, 2);
    EXPECT_EQ(0, failures);

    // The avatar is still whole and out of the world; the clump was released.
    EXPECT_EQ(nullptr, avatar.GetWorld());
    EXPECT_EQ(1, Run("assert(c:GetName() == nil)")) << Log();
    avatar.Update(0.1f);
    EXPECT_NE(nullptr, avatar.GetBehaviorManager()->FindBehavior("walk"));
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    Run("c, av, gone, w, empty, light = nil");
    delete world;
}

} // namespace

namespace {

// Each registered function with the arguments scripts give it; methods
// reached through their tables, as the avatar holds only its own three.
struct TableCall {
    const char *name;
    const char *call;
};
const TableCall kTableCalls[] = {
    {"LoadAnimation", "KivEngine.LoadAnimation('Scripted/Short.anm', 'short')"},
    {"RemoveAnimation", "KivEngine.RemoveAnimation('short')"},
    {"GetCurrentWorld", "KivEngine.GetCurrentWorld()"},
    {"Load", "local loaded = Clump.Load('short-part.dff', '') if loaded then loaded:Release() end"},
    {"Release", "spare:Release()"},
    {"GetWorld", "c:GetWorld()"},
    {"CopyMatrix", "c:CopyMatrix(av)"},
    {"CopyPos", "c:CopyPos(av)"},
    {"UpdateAnimation", "c.UpdateAnimation(av, 0.1)"},
    {"UpdateObjects", "c:UpdateObjects()"},
    {"UpdateParticles", "c:UpdateParticles(0.1)"},
    {"SetAlphaAttribute", "c:SetAlphaAttribute(1)"},
    {"PushAnimation", "c.PushAnimation(av, 'walk', 0.2, true)"},
    {"SetAlpha", "c:SetAlpha(128)"},
    {"GetName", "c:GetName()"},
    {"CreateBehavior", "av:CreateBehavior('short', 1, {{'walk', 0.2, 1}, {'idle', 0.1, 0}})"},
    {"AddEmotion", "av:AddEmotion('Short', 1, 0.5)"},
    {"AttachItem", "av:AttachItem(104, 11, 0, true, {'Hat.dff'}, {'head'}, {5})"},
    {"IsEmpty", "w:IsEmpty()"},
    {"AddClump", "w:AddClump(c)"},
    {"RemoveClump", "w:RemoveClump(c)"},
};

const char kListFunctions[] = R"(
local reg = debug.getregistry()
names = {}
for _, t in ipairs({KivEngine, Clump, reg['KivEngine.Clump'], reg['KivEngine.Avatar'], reg['KivEngine.World']}) do
  for name, f in pairs(t) do
    if type(f) == 'function' then names[#names + 1] = name end
  end
end
table.sort(names)
names = table.concat(names, ' ')
)";

// How deeply parentheses may nest in a chunk: what the state's C call depth leaves to the parser.
int SyntaxDepth(lua_State *L)
{
    int depth = 0;
    while (depth < 1000) {
        const std::string text = "return " + std::string(depth + 1, '(') + "1" + std::string(depth + 1, ')');
        const int status = luaL_loadstring(L, text.c_str());
        lua_pop(L, 1);
        if (status != 0)
            break;
        depth++;
    }
    return depth;
}

// A script whose own pcall must come back, whatever the call met.
std::string Protected(const char *call)
{
    return std::string("back = false ok, err = pcall(function() ") + call + " end) back = true";
}

} // namespace

class ScriptsOutOfMemory : public Scripts {
protected:
    void SetUp() override
    {
        Scripts::SetUp();
        ASSERT_TRUE(KivTestWriteAvatarData());
        CKivAvatar::LoadScripts("Data/Avatar/");
        WriteMotion("Scripted/Short.anm", 1, 1.0f);
        WriteFileBytes("short-part.dff", KivTestModel({{KivTestQuad{}, {0, 0, 0}}}));
        WriteFileBytes("short.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    }
    // An avatar, a world and a clump for the calls, as scripts see them.
    void Stage()
    {
        avatar.reset(new CKivAvatar);
        ASSERT_EQ(1, avatar->Create(1, 1, 1));
        world.reset(new CKivWorld("Short"));
        ASSERT_EQ(1, world->Load("short.bsp", nullptr, nullptr));
        CKivBase::GetInstance()->SetCurrentWorld(world.get());
        ASSERT_EQ(1, Run("w = KivEngine.GetCurrentWorld() c = Clump.Load('short-part.dff', '')")) << Log();
        CKivBase::GetInstance()->SetCurrentWorld(nullptr);
        Expose("av", avatar.get(), CKivEngineScriptBinder::kAvatarMeta);
    }
    void Unstage()
    {
        ASSERT_EQ(1, Run("w:RemoveClump(c) c:Release() c, w, av, spare, ok, back, count = nil")) << Log();
        ASSERT_EQ(1, Run("KivEngine.RemoveAnimation('short') collectgarbage()")) << Log();
        avatar.reset();
        world.reset();
    }
    // Runs the call whole, or with the C++ allocations failing after each
    // count in turn until it runs whole; the number of calls thrown out of
    // the binder. With mallocToo the C runtime's allocations fail as well
    // (Lua's, the graphics library's): the script, compiled beforehand, may
    // then stop with Lua's own "not enough memory", and nothing else.
    int Call(const TableCall &entry, bool failing, bool mallocToo = false)
    {
        if (!strcmp(entry.name, "Release"))
            Expose("spare", Part("short-spare.dff"));
        const std::string script = Protected(entry.call);
        int escaped = 0;
        long refused = 1;
        for (long n = 0; refused && n < 1000; n++) {
            int ran = 0;
            if (mallocToo && luaL_loadbuffer(L, script.data(), script.size(), "swept") != 0) {
                ADD_FAILURE() << entry.call;
                return escaped;
            }
            if (failing)
                FailNewAfter(n, mallocToo);
            try {
                ran = mallocToo ? lua_pcall(L, 0, 0, 0) : Run(script);
            } catch (...) {
                ran = -1;
            }
            refused = failing ? FailNewRefused() : 0;
            FailNewEnd();
            if (ran < 0) {
                escaped++;
                continue;
            }
            if (mallocToo) {
                EXPECT_TRUE(ran == 0 || ran == LUA_ERRMEM) << entry.call << " after " << n << ": " << ran;
                if (ran) {
                    lua_pop(L, 1);
                    continue;
                }
                ran = 1;
            }
            EXPECT_EQ(1, ran) << entry.call << " after " << n << " allocations: " << Log();
            lua_getglobal(L, "back");
            lua_getglobal(L, "ok");
            lua_getglobal(L, "err");
            const char *error = lua_tostring(L, -1);
            const bool luaRanOut = mallocToo && error && !strcmp(error, "not enough memory");
            EXPECT_TRUE(lua_toboolean(L, -3)) << entry.call << " after " << n << " allocations";
            // The call raises nothing, run whole or not: a function registered
            // without its guard raises the C++ exception as a Lua error.
            EXPECT_TRUE(lua_toboolean(L, -2) || luaRanOut)
                << entry.call << " after " << n << " allocations: " << (error ? error : "");
            lua_pop(L, 3);
        }
        EXPECT_EQ(0, refused) << entry.call << " never ran whole";
        EXPECT_EQ(0, lua_gettop(L)) << entry.call;
        return escaped;
    }
    std::unique_ptr<CKivAvatar> avatar;
    std::unique_ptr<CKivWorld> world;
};

// Memory running out at each allocation of each function in turn: the
// script's own pcall comes back and nothing is thrown out of the binder; each
// call, run whole at last, did its work once; the state then has its whole
// call depth and runs hundreds of scripts; and once everything is gone no C++
// block is left beyond what the same calls leave without failures.
TEST_F(ScriptsOutOfMemory, InAnyFunctionLeavesTheStateWhole)
{
    // Every registered function is called.
    ASSERT_EQ(1, Run(kListFunctions)) << Log();
    lua_getglobal(L, "names");
    const std::string listed = lua_tostring(L, -1);
    lua_pop(L, 1);
    std::vector<std::string> named;
    for (const TableCall &entry : kTableCalls)
        named.push_back(entry.name);
    std::sort(named.begin(), named.end());
    std::string expected;
    for (const std::string &name : named)
        expected += (expected.empty() ? "" : " ") + name;
    EXPECT_EQ(expected, listed);

    // The same calls without failures first: what they load stays loaded.
    Stage();
    for (const TableCall &entry : kTableCalls)
        ASSERT_EQ(0, Call(entry, false));
    Unstage();
    const long blocks = KivLiveHeapBlocks();
    const int depth = SyntaxDepth(L);
    ASSERT_LT(100, depth);

    Stage();
    int escaped = 0;
    for (const TableCall &entry : kTableCalls)
        escaped += Call(entry, true);
    // Again on fresh objects, the C runtime's allocations failing too.
    Unstage();
    Stage();
    for (const TableCall &entry : kTableCalls)
        escaped += Call(entry, true, true);
    EXPECT_EQ(0, escaped) << "allocation failures thrown out of the binder";

    // Run whole at last, each call did all of its work once.
    const CKivBehavior *behavior = avatar->GetBehaviorManager()->FindBehavior("short");
    ASSERT_NE(nullptr, behavior);
    EXPECT_EQ(2u, behavior->GetMotions().size());
    ASSERT_NE(nullptr, avatar->FindEmotion("short"));
    EXPECT_EQ(1, avatar->FindEmotion("short")->GetFrameCount());
    ASSERT_NE(nullptr, avatar->GetItem(104));
    EXPECT_EQ(1u, avatar->GetItem(104)->GetAtomics().size());

    // Hundreds of loads with no memory at all, then hundreds of scripts.
    {
        const std::string load = Protected("Clump.Load('short-part.dff', '')");
        for (int i = 0; i < 250; i++) {
            int ran = 0;
            FailNewBegin(0);
            try {
                ran = Run(load);
            } catch (...) {
                ran = -1;
            }
            FailNewEnd();
            escaped += ran != 1;
        }
    }
    EXPECT_EQ(0, escaped);
    EXPECT_EQ(depth, SyntaxDepth(L)) << "calls thrown out of the binder stay counted as running";
    int ran = 0;
    for (int i = 0; i < 300; i++)
        ran += Run("count = (count or 0) + 1 local name = c:GetName() assert(name and not w:IsEmpty())");
    EXPECT_EQ(300, ran) << Log();
    EXPECT_EQ(0, lua_gettop(L));
    Unstage();
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
}

namespace {

// The engine's public calls the game makes, on the staged objects, each one
// undone or made again whole by the next so that repeating it leaves no more.
struct EngineCall {
    const char *name;
    std::function<void()> call;
};

} // namespace

// Memory running out at each allocation of each engine call in turn, as the
// script tables meet it above: nothing is thrown out of the engine; the calls
// leave their objects whole, so that once everything is gone no C++ block is
// left beyond what the same calls leave without failures; and the engine's
// Shutdown after it all releases everything (the engine then starts again).
TEST_F(ScriptsOutOfMemory, InAnyEngineCallLeavesTheObjectsWhole)
{
    WriteMotion("Data/Avatar/Motions/7.anm", 1, 1.0f);
    WriteFileBytes("Scripted/ink.png", GradientPng(4, 4));
    CKivBase *base = CKivBase::GetInstance();
    static const char kLongName[] = "A name longer than the short strings' room";
    const RwRGBA grey = {128, 128, 128, 200};
    std::unique_ptr<CKivTextureTrailer> trailer;
    const auto calls = [&]() -> std::vector<EngineCall> {
        CKivAvatar *a = avatar.get();
        CKivWorld *w = world.get();
        CKivTextureTrailer *t = trailer.get();
        return {
            {"Avatar::Create", [] { CKivAvatar made; made.CreateVariant(1, 2, 1, 1, 0, 5); }},
            {"Avatar::SetBody", [a] { a->SetBody(1); }},
            {"Avatar::SetSkin", [a] { a->SetSkin(2); }},
            {"Avatar::SetFace", [a] { a->SetFace(1); }},
            {"Avatar::AddEmotion", [a] { a->RemoveEmotion(kLongName); a->AddEmotion(kLongName, 3, 0.1f); }},
            {"Avatar::SetEmotion", [a] { a->SetEmotion(kLongName); }},
            {"Avatar::PlayEmotion", [a] { a->PlayEmotion("Normal", 0.5f, 1); a->Update(0.6f); }},
            {"Avatar::AttachItem", [a] { a->RemoveItem(101); a->AttachItem(101, 101, 0, 0); }},
            {"Avatar::GetItemSlots", [a] { a->GetItemSlots(102, 102); }},
            {"Avatar::RebuildParts", [a] { a->RebuildParts(); }},
            {"Avatar::ResetColor", [a, &grey] { a->SetColor(&grey); a->ResetColor(); }},
            {"Avatar::SetAlpha", [a] { a->SetAlpha(100); a->SetAlpha(255); }},
            {"Avatar::SetMaterialTexture", [a] { a->SetMaterialTextureByName("spine", "_1spine_1"); }},
            {"Avatar::SetVariant", [] {
                 CKivAvatar made;
                 made.CreateVariant(1, 1, 1, 0, 0, 0);
                 made.SetVariant(1, 1, 0, 5, 0);
                 made.RestoreVariant();
             }},
            {"Clump::Load", [] { CKivClump made; made.Load("short-part.dff", ""); }},
            {"Clump::Clone", [a] { CKivClump made; made.CloneWithOwnGeometry(a); }},
            {"Clump::PushAnimation", [a, base] { a->ClearAnimationQueue(); a->PushAnimation(base->GetAnimManager(), "7", 0.1f, 1); }},
            {"Clump::PlayBehavior", [a] { a->ClearAnimationQueue(); a->PlayBehavior("walk"); a->Update(0.1f); }},
            {"Clump::CreateBehavior", [a] { a->CreateBehavior("sweep", 1); }},
            {"Clump::SetTextureTrailer", [a, t] { a->RemoveTextureTrailer(t); a->SetTextureTrailer("_headShape", t); }},
            {"Clump::CreateShadow", [a] { a->CreateShadow(nullptr, 1.0f); a->DestroyShadow(); }},
            {"Clump::SetName", [a] { a->SetName(kLongName); }},
            {"World::AddClump", [a, w] { w->RemoveClump(a); w->AddClump(a); }},
            {"World::AddCamera", [w, base] {
                 CKivCamera camera(kLongName);
                 camera.Create(0.1f, 100.0f, 1.0f, base->GetViewport());
                 w->AddCamera(&camera);
                 w->RemoveCamera(&camera);
             }},
            {"Light::SetName", [] { CKivLight light(kLongName); light.SetName(kLongName); }},
            {"Behavior::AddMotion", [] { CKivBehavior behavior(kLongName, 1); behavior.AddMotion("7", 0.1f, 1); }},
            {"AvatarItem::AddClumpAtomics", [a] {
                 CKivAvatarItem item;
                 item.AddSlot(3);
                 item.AddReplacedPart(kLongName);
                 item.AddClumpAtomics(a);
             }},
            {"CharacterManager::AddCharacter", [a] { CGameCharacterManager characters; characters.AddCharacter(a); }},
            {"World::Load", [] { CKivWorld made("Sweep"); made.Load("short.bsp", nullptr, nullptr); }},
            {"World::Render", [w] { w->Render(); }},
            {"Base::ReadTexture", [base] {
                 if (RwTexture *texture = base->ReadTexture("ink", "Scripted/"))
                     RwTextureDestroy(texture);
             }},
            {"Base::ReportTextureMemory", [base] { base->ReportTextureMemory(nullptr, nullptr, 0); }},
            {"AnimManager::LoadAnimation", [base] {
                 base->GetAnimManager()->RemoveAnimation("sweep");
                 base->GetAnimManager()->LoadAnimation("Scripted/Short.anm", "sweep");
             }},
        };
    };
    const auto stage = [&] {
        Stage();
        trailer.reset(new CKivTextureTrailer);
        trailer->AddFrame("sweep", RwTextureDictionaryFindTexture(RwTextureDictionaryGetCurrent(), "_1face1_01_1"), 0.5f);
        ASSERT_EQ(1, world->AddClump(avatar.get()));
    };
    const auto unstage = [&] {
        if (avatar)
            world->RemoveClump(avatar.get());
        Unstage();
        trailer.reset();
        base->GetAnimManager()->RemoveAnimation("sweep");
        base->GetAnimManager()->RemoveAnimation("7");
    };

    // The head's material: one reference of the model's, one of the trailer's binding.
    const auto headReferences = [&] {
        RwAtomic *head = avatar->FindAtomic("_headShape");
        return head ? head->geometry->matList.materials[0]->refCount : -1;
    };
    stage();
    for (const EngineCall &entry : calls())
        entry.call();
    const int references = headReferences();
    unstage();
    const long blocks = KivLiveHeapBlocks(), cBlocks = MallocProbeLive();

    stage();
    int escaped = 0;
    for (const EngineCall &entry : calls())
        escaped += FailNewSweep(entry.name, entry.call, 2000);
    EXPECT_EQ(0, escaped);
    EXPECT_EQ(references, headReferences()) << "a reference kept by a call that ran out of memory";

    // Teardown allocates nothing: the avatar, with its items, emotions,
    // trailer and textures, goes with no memory at all.
    ASSERT_EQ(1, world->RemoveClump(avatar.get()));
    FailNewBegin(0);
    try {
        avatar.reset();
    } catch (...) {
        ADD_FAILURE() << "the avatar's teardown threw";
    }
    const long refused = FailNewRefused();
    FailNewEnd();
    EXPECT_EQ(0, refused);
    unstage();
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
    EXPECT_EQ(cBlocks, MallocProbeLive());

    // Everything the engine holds goes with its Shutdown; it starts again whole.
    EXPECT_EQ(1, base->Shutdown());
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    ASSERT_EQ(1, InitHost(base));
    binder = CKivBase::GetScriptBinder();
    ASSERT_NE(nullptr, binder);
    L = binder->GetState();
}

// The file's name and bytes are C++ allocations: when they fail, nothing runs
// and nothing is thrown.
TEST_F(Scripts, FilesRunNothingWhenMemoryRunsOut)
{
    const char name[] = "Scripted/A script with a long name.lua";
    WriteFileBytes(name, "ran_long = (ran_long or 0) + 1");
    int ran = -1;
    FailNewBegin(0);
    try {
        ran = binder->RunFile(name, "long");
    } catch (...) {
        ran = -2;
    }
    FailNewEnd();
    EXPECT_EQ(0, ran);
    ASSERT_EQ(1, binder->RunFile(name, "long"));
    lua_getglobal(L, "ran_long");
    EXPECT_EQ(1, lua_tointeger(L, -1));
    lua_pop(L, 1);
    EXPECT_EQ(0, lua_gettop(L));
}

namespace {

// Lua's own allocator made to fail: the next allowed allocations succeed and
// every later one fails. Frees and shrinks always succeed, as Lua requires.
struct FailingLua {
    lua_Alloc original = nullptr;
    void *data = nullptr;
    long allowed = 0;
    long refused = 0;
};

void *FailingLuaAlloc(void *ud, void *block, size_t oldSize, size_t newSize)
{
    FailingLua *fail = static_cast<FailingLua *>(ud);
    if (newSize > oldSize) {
        if (fail->allowed == 0) {
            fail->refused++;
            return nullptr;
        }
        fail->allowed--;
    }
    return fail->original(fail->data, block, oldSize, newSize);
}

// Lua's allocations failing after a count while it lives.
class LuaFailing {
public:
    LuaFailing(lua_State *L, long allowed) : m_state(L)
    {
        m_fail.original = lua_getallocf(L, &m_fail.data);
        m_fail.allowed = allowed;
        lua_setallocf(L, FailingLuaAlloc, &m_fail);
    }
    ~LuaFailing() { End(); }
    // Gives Lua its allocator back; the allocations refused until then.
    long End()
    {
        if (m_state)
            lua_setallocf(m_state, m_fail.original, m_fail.data);
        m_state = nullptr;
        return m_fail.refused;
    }

private:
    lua_State *m_state;
    FailingLua m_fail;
};

// A host function that is not guarded: memory runs out in it.
int StrayOutOfMemory(lua_State *)
{
    throw std::bad_alloc();
}

// A host function raising a Lua error while it holds C++ blocks.
int RaisesHoldingBlocks(lua_State *L)
{
    std::vector<std::string> held(3, std::string(64, 'x'));
    return luaL_error(L, "raised with %d blocks held", static_cast<int>(held.size()));
}

// A C++ exception thrown and caught on the calling thread; true when caught.
bool ThrowAndCatch()
{
    bool caught = false;
    FailNewBegin(0);
    try {
        std::vector<char> grown;
        grown.reserve(4096);
    } catch (const std::bad_alloc &) {
        caught = true;
    }
    FailNewEnd();
    return caught;
}

} // namespace

// Lua's own allocations failing inside the table functions, at each in turn
// (the functions making strings and userdata while they hold C++ objects):
// the error reaches the protected call through the functions' C++ frames, so
// what they held is freed; C++ exceptions thrown afterwards on the same thread
// reach their handlers; and the state runs on with its whole call depth.
TEST_F(ScriptsOutOfMemory, LuaRunningOutInsideFunctionsUnwindsThem)
{
    const char *const calls[] = {
        "av:CreateBehavior('numbered', 1, {{7, 0.2, 1}, {'idle', 0.1, 0}})",
        "av:AttachItem(105, 12, 0, true, {'Hat.dff'}, {'head', 9}, {6})",
        "local name = c:GetName()",
        "local world = c:GetWorld()",
        "local world = KivEngine.GetCurrentWorld()",
    };
    WriteMotion("Data/Avatar/Motions/7.anm", 1, 1.0f);
    const auto define = [&](const char *call) {
        ASSERT_EQ(1, Run(std::string("function f() ") + call + " reached = true end")) << Log();
    };
    // The same calls without failures first.
    Stage();
    for (const char *call : calls) {
        define(call);
        ASSERT_EQ(1, Run("f()")) << Log();
    }
    Unstage();
    const long blocks = KivLiveHeapBlocks();
    const int depth = SyntaxDepth(L);

    Stage();
    CKivBase::GetInstance()->SetCurrentWorld(world.get());
    for (const char *call : calls) {
        define(call);
        long refused = 1;
        for (long n = 0; refused && n < 400; n++) {
            ASSERT_EQ(1, Run("reached = false"));
            FailingLua fail;
            fail.original = lua_getallocf(L, &fail.data);
            fail.allowed = n;
            lua_getglobal(L, "f");
            lua_setallocf(L, FailingLuaAlloc, &fail);
            int status = 0;
            try {
                status = lua_pcall(L, 0, 0, 0);
            } catch (...) {
                status = -100;
            }
            lua_setallocf(L, fail.original, fail.data);
            refused = fail.refused;
            ASSERT_TRUE(status == 0 || status == LUA_ERRMEM) << call << " after " << n << ": " << status;
            if (status != 0) {
                EXPECT_STREQ("not enough memory", lua_tostring(L, -1)) << call;
                lua_pop(L, 1);
            }
            EXPECT_EQ(status != 0, refused != 0) << call << " after " << n;
            ASSERT_EQ(0, lua_gettop(L)) << call;
            // An error ends the script where it was raised.
            lua_getglobal(L, "reached");
            EXPECT_EQ(status == 0, lua_toboolean(L, -1) != 0) << call << " after " << n;
            lua_pop(L, 1);
        }
        EXPECT_EQ(0, refused) << call << " never ran whole";
    }
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    EXPECT_TRUE(ThrowAndCatch());
    // A table function stopping a C++ exception of its own.
    {
        const std::string load = Protected("Clump.Load('short-part.dff', '')");
        FailNewBegin(0);
        const int loaded = Run(load);
        FailNewEnd();
        EXPECT_EQ(1, loaded);
    }
    EXPECT_TRUE(ThrowAndCatch());

    // Run whole at last, each call did its work once.
    const CKivBehavior *behavior = avatar->GetBehaviorManager()->FindBehavior("numbered");
    ASSERT_NE(nullptr, behavior);
    ASSERT_EQ(2u, behavior->GetMotions().size());
    EXPECT_EQ("7", behavior->GetMotions()[0].name);
    ASSERT_NE(nullptr, avatar->GetItem(105));
    EXPECT_EQ(1u, avatar->GetItem(105)->GetAtomics().size());

    EXPECT_EQ(depth, SyntaxDepth(L));
    int ran = 0;
    for (int i = 0; i < 300; i++)
        ran += Run("count = (count or 0) + 1 local name = c:GetName() assert(name and not w:IsEmpty())");
    EXPECT_EQ(300, ran) << Log();
    EXPECT_EQ(0, lua_gettop(L));
    ASSERT_EQ(1, Run("f, reached = nil"));
    Unstage();
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
}

// Host functions that are not guarded: a C++ exception reaching the protected
// call is an error of that call, with the state whole; a Lua error raised from
// C++ code frees what that code held.
TEST_F(Scripts, ErrorsCrossingHostFunctionsLeaveTheStateWhole)
{
    lua_register(L, "StrayOutOfMemory", StrayOutOfMemory);
    lua_register(L, "RaisesHoldingBlocks", RaisesHoldingBlocks);
    const int depth = SyntaxDepth(L);
    const long blocks = KivLiveHeapBlocks();
    int escaped = 0, failed = 0, back = 0;
    for (int i = 0; i < 250; i++) {
        for (const char *call : {"StrayOutOfMemory()", "RaisesHoldingBlocks()"}) {
            try {
                failed += Run(call) == 0;
                ASSERT_EQ(1, Run(Protected(call))) << Log();
                lua_getglobal(L, "back");
                lua_getglobal(L, "ok");
                back += lua_toboolean(L, -2) && !lua_toboolean(L, -1);
                lua_pop(L, 2);
            } catch (...) {
                escaped++;
            }
        }
    }
    EXPECT_EQ(0, escaped);
    EXPECT_EQ(500, failed);
    EXPECT_EQ(500, back);
    EXPECT_EQ(0, lua_gettop(L));
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
    EXPECT_EQ(depth, SyntaxDepth(L));
    EXPECT_TRUE(ThrowAndCatch());
    ASSERT_EQ(1, Run("count = (count or 0) + 1"));
    EXPECT_NE(std::string::npos, Log().find("raised with 3 blocks held")) << Log();
    lua_pushnil(L);
    lua_setglobal(L, "StrayOutOfMemory");
    lua_pushnil(L);
    lua_setglobal(L, "RaisesHoldingBlocks");
}

// Lua's allocations failing where the engine calls Lua outside any script:
// the avatar's script calls and worlds going away raise no unprotected error
// (which would end the process); a call cut short reports failure and leaves
// no avatar behind in the script's hands, and it runs whole once memory is back.
TEST_F(ScriptsOutOfMemory, LuaRunningOutAroundScriptCallsEndsNothing)
{
    Stage();
    long refused = 1;
    for (long n = 0; refused && n < 1000; n++) {
        ASSERT_EQ(1, Run("keptAvatar = nil"));
        LuaFailing fail(L, n);
        const int set = avatar->SetFace(1);
        refused = fail.End();
        EXPECT_EQ(set == 0, refused != 0) << "after " << n;
        ASSERT_EQ(0, lua_gettop(L));
        lua_getglobal(L, "keptAvatar");
        if (void **slot = static_cast<void **>(lua_touserdata(L, -1))) {
            EXPECT_EQ(nullptr, *slot) << "after " << n;
        }
        lua_pop(L, 1);
    }
    EXPECT_EQ(0, refused);
    ASSERT_NE(nullptr, avatar->FindEmotion("normal"));
    EXPECT_EQ(2, avatar->FindEmotion("normal")->GetFrameCount());
    ASSERT_NE(nullptr, avatar->FindEmotion("smile"));
    EXPECT_EQ(2, avatar->FindEmotion("smile")->GetFrameCount());

    // Worlds going away, one of them known to scripts, with no memory for Lua.
    CKivWorld *known = new CKivWorld("Known");
    CKivBase::GetInstance()->SetCurrentWorld(known);
    ASSERT_EQ(1, Run("known = KivEngine.GetCurrentWorld()")) << Log();
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    std::vector<CKivWorld *> unknown;
    for (int i = 0; i < 64; i++)
        unknown.push_back(new CKivWorld("Unknown"));
    {
        LuaFailing fail(L, 0);
        delete known;
        for (CKivWorld *gone : unknown)
            delete gone;
        EXPECT_EQ(0, fail.End());
    }
    EXPECT_EQ(1, Run("assert(known:IsEmpty()) known, keptAvatar, reached = nil")) << Log();
    EXPECT_EQ(0, lua_gettop(L));
    Unstage();
}

// A script's error object logged with Lua's memory running out at each
// allocation in turn: a number is logged as Lua writes it, with nothing made
// in the state (which, outside any protected call, would end the process).
TEST_F(Scripts, ErrorNumbersAreLoggedWithoutLuaMemory)
{
    long refused = 1;
    for (long n = 0; refused && n < 400; n++) {
        LuaFailing fail(L, n);
        const int ran = Run("error(12.5, 0)");
        refused = fail.End();
        EXPECT_EQ(0, ran);
        ASSERT_EQ(0, lua_gettop(L));
        const std::string logged = Log();
        EXPECT_TRUE(logged == "12.5\n" || (refused && logged == "not enough memory\n")) << logged << " after " << n;
    }
    EXPECT_EQ(0, refused);
}

// The sample's scene script: a function it lacks is looked up by a name Lua
// must make, here with Lua's memory running out at each allocation in turn.
// The call fails and says why; the process goes on.
TEST_F(Scripts, SceneScriptLooksFunctionsUpWithoutLuaMemory)
{
    WriteFileBytes("Scripted/scene.lua", "function SampleFrame(s) end");
    SceneScript scene;
    long refused = 1;
    for (long n = 0; refused && n < 400; n++) {
        ASSERT_TRUE(scene.Run("Scripted/scene.lua")) << Log();
        WriteFileBytes("Lua.log", "");
        LuaFailing fail(L, n);
        scene.End();
        refused = fail.End();
        ASSERT_EQ(0, lua_gettop(L));
        EXPECT_EQ(refused ? "not enough memory\n" : "the scene script has no function SampleEnd\n", Log())
            << "after " << n;
    }
    EXPECT_EQ(0, refused);
    ASSERT_EQ(1, Run("SampleFrame = nil"));
}
