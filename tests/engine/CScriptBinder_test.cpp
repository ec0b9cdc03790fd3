// Script binder: files through the archive, strings, and "Lua.log" holding the last error.
#include "engine_host.h"

#include <lua.hpp>

#include "engine/CKivEngineScriptBinder.h"
#include "engine/CScriptBinder.h"
#include "support/failnew/malloc_probe.h"

namespace {

// Each case starts from an empty "Lua.log", as an owning binder leaves it.
class Binder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        base = new CKivBase;
        ASSERT_EQ(1, InitHost(base));
    }
    static void TearDownTestSuite()
    {
        base->Shutdown();
        delete base;
    }
    void SetUp() override { binder = new CScriptBinder(nullptr, nullptr); }
    void TearDown() override { delete binder; }
    double Global(const char *name)
    {
        lua_getglobal(binder->GetState(), name);
        const double value = lua_tonumber(binder->GetState(), -1);
        lua_pop(binder->GetState(), 1);
        return value;
    }
    CScriptBinder *binder = nullptr;
    static inline CKivBase *base = nullptr;
};

TEST_F(Binder, OwningBinderCreatesAnEmptyLogAndKeepsTheLastError)
{
    EXPECT_EQ("", ReadFileBytes("Lua.log"));
    EXPECT_EQ(0, binder->RunString("error('first')"));
    EXPECT_EQ(0, binder->RunString("x = = 1"));
    const std::string log = ReadFileBytes("Lua.log");
    EXPECT_EQ(std::string::npos, log.find("first"));
    EXPECT_NE(std::string::npos, log.find("'='"));
    EXPECT_EQ('\n', log.back());
    EXPECT_EQ(0, lua_gettop(binder->GetState()));
}

TEST_F(Binder, ErrorsWithoutTextAreLoggedAsPlaceholders)
{
    for (const char *script : {"error({})", "error()", "error(nil)"}) {
        WriteFileBytes("Lua.log", "old\n");
        EXPECT_EQ(0, binder->RunString(script)) << script;
        EXPECT_EQ("(error object is not a string)\n", ReadFileBytes("Lua.log")) << script;
    }
}

TEST_F(Binder, DeletedLogStopsLogging)
{
    DeleteFileA("Lua.log");
    EXPECT_EQ(0, binder->RunString("error('lost')"));
    EXPECT_EQ("<missing>", ReadFileBytes("Lua.log"));
}

TEST_F(Binder, FilesRunThroughTheArchiveWithTheirChunkName)
{
    WriteFileBytes("Scripts/Good.lua", "answer = 6 * 7");
    EXPECT_EQ(1, binder->RunFile("Scripts/Good.lua", "Good"));
    EXPECT_EQ(42.0, Global("answer"));

    WriteFileBytes("Scripts/Bad.lua", "answer = 1\nerror('boom')");
    EXPECT_EQ(0, binder->RunFile("Scripts/Bad.lua", "Bad"));
    EXPECT_EQ(1.0, Global("answer"));
    EXPECT_EQ("[string \"Bad\"]:2: boom\n", ReadFileBytes("Lua.log"));

    WriteFileBytes("Lua.log", "");
    WriteFileBytes("Scripts/Broken.lua", "answer = ");
    EXPECT_EQ(0, binder->RunFile("Scripts/Broken.lua", "Broken"));
    EXPECT_NE(std::string::npos, ReadFileBytes("Lua.log").find("Broken"));
    EXPECT_EQ(1.0, Global("answer"));   // a chunk that does not load runs nothing

    WriteFileBytes("Scripts/Empty.lua", "");
    EXPECT_EQ(1, binder->RunFile("Scripts/Empty.lua", "Empty"));

    WriteFileBytes("Lua.log", "");
    EXPECT_EQ(0, binder->RunFile("Scripts/Absent.lua", "Absent"));
    EXPECT_EQ("", ReadFileBytes("Lua.log"));   // missing files fail silently
    EXPECT_EQ(0, lua_gettop(binder->GetState()));
}

// The packed archive carries compiled scripts: ".lua" is read as ".out".
// An empty one runs, as an empty loose script does.
TEST(PackedBinder, ReadsTheOutFileAndRunsNothingWithoutLua)
{
    for (const char *text : {"packed = 3", ""}) {
        WritePackedFile("Data\\Avatar\\Items\\Item.out", text);
        CKivBase *base = new CKivBase;
        ASSERT_EQ(1, InitHost(base, 1));
        {
            CScriptBinder binder(nullptr, nullptr);
            EXPECT_EQ(0, binder.RunFile("Data/Avatar/Items/Item.txt", "Item"));
            EXPECT_EQ(1, binder.RunFile("Data\\Avatar\\Items\\Item.lua", "Item")) << text;
            lua_getglobal(binder.GetState(), "packed");
            EXPECT_EQ(*text ? 3 : 0, lua_tointeger(binder.GetState(), -1));
        }
        base->Shutdown();
        delete base;
    }
    DeleteFileA("data.pcl");
}

TEST(BinderOnAGivenState, NeitherCreatesTheLogNorClosesTheState)
{
    lua_State *state = luaL_newstate();
    DeleteFileA("Lua.log");
    {
        CScriptBinder borrowed(nullptr, state);
        EXPECT_EQ(state, borrowed.GetState());
        EXPECT_EQ(1, borrowed.RunString("kept = 5"));
    }
    EXPECT_EQ("<missing>", ReadFileBytes("Lua.log"));
    lua_getglobal(state, "kept");
    EXPECT_EQ(5, lua_tointeger(state, -1));
    lua_close(state);
}

// Lua running out of memory at each allocation of the engine binder's
// start-up in turn (opening the libraries, registering the tables): no panic
// ends the process, and the binder has no state or one holding every table.
TEST(BinderStartUp, LuaOutOfMemoryLeavesNoStateOrAWholeOne)
{
    alignas(CKivEngineScriptBinder) unsigned char room[sizeof(CKivEngineScriptBinder)];
    // Lua raises its errors as C++ exceptions: the thread's exception state
    // is made first, as the game's first exception would, since the runtime
    // grows its thread-local blocks with realloc and ends the process without.
    try {
        throw 0;
    } catch (int) {
    }
    long refused = 1;
    long n = 0;
    for (; refused && n < 5000; n++) {
        MallocProbeFailReallocAfter(n);
        CKivEngineScriptBinder *binder = new (room) CKivEngineScriptBinder(nullptr);
        refused = MallocProbeFailEnd();
        EXPECT_EQ(refused != 0, binder->GetState() == nullptr) << "after " << n;
        EXPECT_EQ(binder, CKivBase::GetScriptBinder());
        if (binder->GetState()) {
            EXPECT_EQ(1, binder->RunString("local reg = debug.getregistry()\n"
                                           "assert(KivEngine.GetCurrentWorld and Clump.Load and Avatar and World)\n"
                                           "assert(reg['KivEngine.Avatar'].AttachItem and reg['KivEngine.World'].AddClump)"))
                << ReadFileBytes("Lua.log");
        } else {
            EXPECT_EQ(0, binder->RunString("x = 1"));
        }
        binder->~CKivEngineScriptBinder();
        EXPECT_EQ(nullptr, CKivBase::GetScriptBinder());
    }
    EXPECT_EQ(0, refused);
    EXPECT_LT(100, n);
    // No state dropped on the way closed the program's standard streams.
    for (FILE *stream : {stdout, stderr})
        EXPECT_NE(EOF, fputc('\n', stream));
}

} // namespace
