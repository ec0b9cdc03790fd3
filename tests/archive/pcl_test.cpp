// The pack tool: the names a packed tree gets, and archives whose records lie about folders refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "EngineRead.h"
#include "FormatReader.h"
#include "HandMade.h"
#include "tests/support/scratch_folder.h"
#include "ParcelCrash.h"
#include "archive/CParcel.h"
#include "archive/tools/PclTool.h"
#include "support/failnew/fail_new.h"
#include "support/failnew/fail_new_sweep.h"
#include "support/run_program.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace {

int Pcl(const std::string &arguments)
{
    return KivRunProgram(KIV_PCL_EXE, arguments, 60000);
}

std::string Quoted(const std::string &s)
{
    return "\"" + s + "\"";
}

// What the tool printed, through a file of the scratch folder.
std::string PclPrinted(const ScratchFolder &t, const std::string &arguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(t.Full("printed.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             0, nullptr);
    const int code = KivRunProgram(KIV_PCL_EXE, arguments, 60000, out);
    CloseHandle(out);
    return std::to_string(code) + ": " + t.Read("printed.txt");
}

TEST(Pcl, PacksATreeUnderTheNamesItIsAskedFor)
{
    ScratchFolder t;
    for (const char *folder : {"tree", "tree\\Data", "tree\\Data\\Avatar"})
        t.Folder(folder);
    for (const char *folder : {"tree\\empty1", "tree\\empty1\\empty2", "tree\\Data\\emptyk"})
        t.Folder(folder);
    t.File("tree\\top.bin", "top");
    t.File("tree\\Data\\Avatar\\1.dff", "avatar");
    // -c leaves the folder's own name out; -f makes folders of the path's parts; letters fold.
    // Empty folders are kept, named as the entries in them would be.
    const struct {
        const char *options, *avatar, *top, *absent, *empty, *emptyk;
    } cases[] = {
        {"-c", "Data/Avatar/1.dff", "TOP.bin", "Data\\Avatar\\1.dff", "empty1/empty2", "Data/emptyk"},
        {"-c -f", "Data\\Avatar\\1.dff", "top.bin", "Data/Avatar/1.dff", "empty1\\empty2", "Data\\emptyk"},
        {"", "tree/Data/Avatar/1.dff", "tree/top.bin", "Data/Avatar/1.dff", "tree/empty1/empty2",
         "tree/Data/emptyk"},
        {"-f", "tree\\Data\\Avatar\\1.dff", "tree\\top.bin", "tree/Data/Avatar/1.dff", "tree\\empty1\\empty2",
         "tree\\Data\\emptyk"},
    };
    const std::string archive = t.Full("out.pcl");
    for (const auto &c : cases) {
        ASSERT_EQ(0, Pcl(std::string("pack ") + c.options + " " + Quoted(t.Full("tree")) + " " + Quoted(archive)))
            << c.options;
        CParcel p;
        ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240)) << c.options;
        EXPECT_EQ("avatar", ReadWhole(p, c.avatar)) << c.options;
        EXPECT_EQ("top", ReadWhole(p, c.top)) << c.options;
        EXPECT_EQ("<missing>", ReadWhole(p, c.absent)) << c.options;
        EXPECT_NE(p.FindFolder(c.empty), nullptr) << c.options;
        EXPECT_NE(p.FindFolder(c.emptyk), nullptr) << c.options;
        p.Close();
    }
    // Of nested empty folders only the innermost count: the others hold it.
    EXPECT_NE(PclPrinted(t, "pack " + Quoted(t.Full("tree")) + " " + Quoted(archive)).find("0: 2 files, 2 empty folders"),
              std::string::npos);
    EXPECT_EQ(2, Pcl("pack -x " + Quoted(t.Full("tree")) + " " + Quoted(archive)));
}

// Finding tells folders from entries by the directory bit: the tool's
// commands refuse an archive whose records get it wrong and leave it as it was.
TEST(Pcl, RefusesRecordsThatLieAboutTheDirectoryBit)
{
    ScratchFolder t;
    Layout at;
    const Bytes intact = HandMade(&at);
    const size_t root = at.folderCount + 4, rootFile = at.firstFileCount + 4, folder = rootFile + 280,
                 file = folder + 268 + 4;
    const struct {
        const char *what;
        size_t attributes;
        uint32_t value;
    } cases[] = {
        {"intact", 0, 0},
        {"root without the bit", root + 256, 0x80},
        {"folder without the bit", folder + 256, 0x20},
        {"root entry with the bit", rootFile + 256, 0x10},
        {"entry with the bit", file + 256, 0x30},
    };
    const std::string archive = Quoted(t.Full("test.pcl"));
    for (const auto &c : cases) {
        Bytes a = intact;
        if (c.attributes)
            a.Patch(c.attributes, c.value);
        for (const std::string &command :
             {"list " + archive, "extract " + archive + " b.bin " + Quoted(t.Full("b.bin")), "compact " + archive}) {
            t.File("test.pcl", a.Str());
            EXPECT_EQ(c.attributes ? 1 : 0, Pcl(command)) << c.what << ": " << command;
            if (c.attributes) {
                EXPECT_EQ(a.Str(), t.Read("test.pcl")) << c.what << ": " << command;
            }
        }
    }
    EXPECT_EQ("world!", t.Read("b.bin"));
}

// An entry recorded far larger than its region extracts as the bytes stored.
TEST(Pcl, ExtractsWhatIsStoredWhateverSizeIsRecorded)
{
    ScratchFolder t;
    Layout at;
    Bytes a = HandMade(&at);
    a.Patch(at.firstFileCount + 4 + 268, 0xFFFFFFF0u);
    t.File("test.pcl", a.Str());
    EXPECT_EQ(0, Pcl("extract " + Quoted(t.Full("test.pcl")) + " b.bin " + Quoted(t.Full("b.bin"))));
    EXPECT_EQ("world!", t.Read("b.bin"));
}

// The tool's commands run in this process, where the archive's writes can be made to fail.
int PclHere(const std::vector<std::string> &arguments)
{
    std::vector<std::string> args = {"pcl"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return PclMain((int)args.size(), argv.data());
}

// Ctrl-C (the console control handler) arriving at a given call of the archive file.
struct InterruptAt {
    explicit InterruptAt(int target) : m_target(target) { ParcelSetIoHook(&InterruptAt::Hook, this); }
    ~InterruptAt() { ParcelSetIoHook(nullptr, nullptr); }
    static BOOL Hook(void *context, ParcelIoCall, HANDLE, const void *, DWORD)
    {
        InterruptAt *at = static_cast<InterruptAt *>(context);
        if (at->m_calls++ == at->m_target)
            PclConsoleEvent(CTRL_C_EVENT);
        return TRUE;
    }
    int m_target, m_calls = 0;
};

// The archive file's call of that number refused, and every cut of its length.
struct RefuseCuts {
    explicit RefuseCuts(int target) : m_target(target) { ParcelSetIoHook(&RefuseCuts::Hook, this); }
    ~RefuseCuts() { ParcelSetIoHook(nullptr, nullptr); }
    static BOOL Hook(void *context, ParcelIoCall call, HANDLE, const void *, DWORD)
    {
        RefuseCuts *r = static_cast<RefuseCuts *>(context);
        return r->m_calls++ != r->m_target && call != PARCEL_IO_SET_END;
    }
    int m_target, m_calls = 0;
};

// Any one write of a pack refused, or the pack interrupted there: the tool
// says so and exits non-zero, and the archive it was to replace is still
// there, unchanged and readable.
TEST(Pcl, PackThatCannotWriteFailsAndKeepsTheOldArchive)
{
    ScratchFolder t;
    t.Folder("tree");
    t.Folder("tree\\sub");
    for (int i = 0; i < 6; ++i)
        t.File("tree\\sub\\f" + std::to_string(i) + ".bin", Pattern((size_t)(100 + i * 3000), (uint32_t)i));
    const std::string archive = t.Full("data.pcl");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    const std::string old = t.Read("data.pcl");
    for (int i = 0; i < 6; ++i)
        t.File("tree\\sub\\f" + std::to_string(i) + ".bin", Pattern((size_t)(200 + i * 2000), (uint32_t)i + 9));
    int calls;
    {
        Injector count;
        ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), t.Full("dry.pcl")}));
        calls = count.Calls();
    }
    ASSERT_GT(calls, 6);
    for (int i = 0; i < calls; ++i) {
        for (Fault fault : {FAULT_FAIL, FAULT_STOP, FAULT_NONE}) {
            if (fault == FAULT_NONE) {
                InterruptAt at(i);
                EXPECT_EQ(1, PclHere({"pack", "-c", t.Full("tree"), archive})) << "interrupted at call " << i;
            } else {
                Injector in(i, fault);
                EXPECT_EQ(1, PclHere({"pack", "-c", t.Full("tree"), archive})) << "call " << i;
                EXPECT_TRUE(in.Hit());
            }
            ASSERT_EQ(t.Read("data.pcl"), old) << "call " << i;
            // Nothing is left beside it.
            WIN32_FIND_DATAA d;
            HANDLE f = FindFirstFileA(t.Full("*.tmp").c_str(), &d);
            EXPECT_EQ(f, INVALID_HANDLE_VALUE) << d.cFileName;
            if (f != INVALID_HANDLE_VALUE)
                FindClose(f);
        }
    }
    CParcel p;
    ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
    EXPECT_EQ(ReadWhole(p, "sub/f5.bin"), Pattern(15100, 5));
    p.Close();
    // A pack that works replaces it.
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
    EXPECT_EQ(ReadWhole(p, "sub/f5.bin"), Pattern(10200, 14));
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file of the scratch folder by the form that reaches past 260 characters.
HANDLE OpenLong(const ScratchFolder &t, const std::string &name, DWORD access, DWORD disposition)
{
    const std::string full = t.Full(name);
    const std::wstring path = L"\\\\?\\" + std::wstring(full.begin(), full.end());
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, 0, nullptr);
}

// Makes a file look last written ten minutes ago.
bool Age(const std::string &path, HANDLE h = INVALID_HANDLE_VALUE)
{
    if (h == INVALID_HANDLE_VALUE)
        h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now, then;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER u;
    u.LowPart = now.dwLowDateTime;
    u.HighPart = now.dwHighDateTime;
    u.QuadPart -= 10ull * 60 * 10000000;
    then.dwLowDateTime = u.LowPart;
    then.dwHighDateTime = u.HighPart;
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &then);
    CloseHandle(h);
    return ok != FALSE;
}

// A pack into an archive inside the folder it packs takes every file of the
// user's in and leaves it, whatever it is named and holds, but neither the
// archive nor its own temporary files. Those an ended pack left are removed
// beside an archive outside the folder packed, never inside it.
TEST(Pcl, PackTakesNeitherItsArchiveNorItsLeftovers)
{
    ScratchFolder t;
    t.Folder("tree");
    t.Folder("tree\\sub");
    t.File("tree\\sub\\a.bin", Pattern(500, 1));
    t.File("tree\\pclnotes.tmp", "notes");
    t.File("tree\\sub\\pcl4.tmp", "user");
    t.File("tree\\pcl2.tmp", "");
    ASSERT_TRUE(Age(t.Full("tree\\pcl2.tmp")));
    // A user's copy of an archive.
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, t.Full("tree\\pclAB.tmp").c_str(), 4, 1024));
        HANDLE h = p.CreateFile("sub/a.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        p.SetFileSize(h, 500, 0);
        DWORD done = 0;
        p.WriteFile(h, Pattern(500, 1).data(), 500, &done, nullptr);
        p.CloseHandle(h);
        p.Close();
    }
    ASSERT_TRUE(Age(t.Full("tree\\pclAB.tmp")));
    const std::string ended = t.Read("tree\\pclAB.tmp");
    // That copy holds nothing, as a pack ended before its one commit leaves
    // it; a user's archive holds an entry.
    const std::string none = ended;
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, t.Full("user.pcl").c_str(), 4, 1024));
        p.CloseHandle(p.CreateFile("kept", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(p.Flush(0));
        p.Close();
    }
    const std::string user = t.Read("user.pcl");
    DeleteFileA(t.Full("user.pcl").c_str());
    // The tool's own beside each archive: empty and old, an old archive that
    // holds nothing, and a complete one a pack under way is about to rename
    // (not old yet). A user's old archive under such a name holds files.
    for (const std::string at : {"tree\\data.pcl", "out.pcl"}) {
        t.File(at + ".pack5.tmp", "");
        t.File(at + ".packa1b.tmp", none);
        t.File(at + ".packa1d.tmp", user);
        ASSERT_TRUE(Age(t.Full(at + ".pack5.tmp")) && Age(t.Full(at + ".packa1b.tmp")) &&
                    Age(t.Full(at + ".packa1d.tmp")));
        t.File(at + ".packa1c.tmp", ended);
    }
    // Old and empty, but not a name the tool gives (its hex is lower-case,
    // without a leading zero): a user's.
    const char *const users[] = {"out.pcl.packnotes.tmp", "out.pcl.packA1E.tmp", "out.pcl.pack0a.tmp",
                                 "out.pcl.PACK6.tmp", "out.pcl.pack7.TMP"};
    for (const char *name : users) {
        t.File(name, "");
        ASSERT_TRUE(Age(t.Full(name)));
    }
    // A pack under way holds its file.
    CParcel busy;
    ASSERT_TRUE(busy.Open(1, t.Full("tree\\data.pcl.pack2.tmp").c_str(), 4, 1024));
    const std::string archive = t.Full("tree\\data.pcl");
    const Contents want = {{"sub/a.bin", Pattern(500, 1)}, {"pclnotes.tmp", "notes"}, {"sub/pcl4.tmp", "user"},
                           {"pcl2.tmp", ""},           {"pclAB.tmp", ended}};
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive})) << "run " << run;
        CParcel p;
        ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
        EXPECT_EQ(Listed(p), want) << "run " << run;
        p.Close();
        for (const char *name : {"pclnotes.tmp", "sub\\pcl4.tmp", "pcl2.tmp", "pclAB.tmp", "data.pcl.pack5.tmp",
                                 "data.pcl.packa1b.tmp", "data.pcl.packa1c.tmp", "data.pcl.packa1d.tmp",
                                 "data.pcl.pack2.tmp"})
            EXPECT_TRUE(Exists(t.Full(std::string("tree\\") + name))) << name;
    }
    busy.Close();
    EXPECT_EQ(t.Read("tree\\pclAB.tmp"), ended);
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), t.Full("out.pcl")}));
    EXPECT_FALSE(Exists(t.Full("out.pcl.pack5.tmp")));
    EXPECT_FALSE(Exists(t.Full("out.pcl.packa1b.tmp")));
    EXPECT_TRUE(Exists(t.Full("out.pcl.packa1c.tmp")));
    EXPECT_TRUE(t.Read("out.pcl.packa1d.tmp") == user);
    for (const char *name : users)
        EXPECT_TRUE(Exists(t.Full(name))) << name;
    EXPECT_TRUE(Exists(t.Full("tree\\data.pcl.pack5.tmp")));
}

// A compaction whose last step, cutting the file short, fails has committed
// its tables: the archive is whole, but the room is not given back, and the
// tool says so. The next run gives it back.
TEST(Pcl, CompactThatCannotCutTheFileSaysSo)
{
    ScratchFolder t;
    const std::string archive = t.Full("data.pcl");
    Contents want;
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, archive.c_str(), 4, 1024));
        for (int i = 0; i < 8; ++i) {
            const std::string name = "f" + std::to_string(i);
            const std::string data = Pattern((size_t)(300 + 700 * i), (uint32_t)i);
            HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            p.SetFileSize(h, (DWORD)data.size(), 0);
            DWORD done = 0;
            p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
            p.CloseHandle(h);
            if (i % 3 != 0)
                want[name] = data;
        }
        ASSERT_TRUE(p.Flush(0));
        for (int i = 0; i < 8; i += 3)
            ASSERT_TRUE(p.DeleteFile(("f" + std::to_string(i)).c_str()));
        ASSERT_TRUE(p.Flush(0));
        p.Close();
    }
    const std::string holed = t.Read("data.pcl");
    // Another program reading the archive: the compaction is refused, and
    // what the reader's tables name stays where they put it.
    {
        CParcel reader;
        ASSERT_TRUE(reader.Open(1, archive.c_str(), 2, 10240));
        const std::string printed = PclPrinted(t, "compact " + Quoted(archive) + " 2");
        EXPECT_EQ(printed.substr(0, 3), "1: ") << printed;
        EXPECT_NE(printed.find("another program has it open"), std::string::npos) << printed;
        EXPECT_TRUE(t.Read("data.pcl") == holed);
        EXPECT_EQ(Listed(reader), want);
    }
    int cut = -1;
    {
        Injector count;
        ASSERT_EQ(0, PclHere({"compact", archive}));
        for (int i = 0; i < count.Calls(); ++i)
            if (count.Call(i) == PARCEL_IO_SET_END)
                cut = i;
    }
    const size_t compact = t.Read("data.pcl").size();
    ASSERT_LT(compact, holed.size());
    ASSERT_GE(cut, 0);
    t.File("data.pcl", holed);
    {
        Injector in(cut, FAULT_FAIL);
        EXPECT_EQ(1, PclHere({"compact", archive}));
        EXPECT_TRUE(in.Hit());
    }
    EXPECT_GT(t.Read("data.pcl").size(), compact);
    CParcel p;
    ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
    EXPECT_EQ(Listed(p), want);
    p.Close();
    EXPECT_EQ(0, PclHere({"compact", archive}));
    EXPECT_EQ(t.Read("data.pcl").size(), compact);
    ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
    EXPECT_EQ(Listed(p), want);
    p.Close();
    // Any call refused (a full disk) in a compaction whose tables first go
    // past the end (they outgrew the room the first ones left): a
    // compaction that fails leaves the file no longer than it was, holding
    // what it held.
    Contents grown;
    {
        t.File("data.pcl", "");
        ASSERT_TRUE(p.Open(1, archive.c_str(), 4, 1024));
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(WriteWhole(p, "f" + std::to_string(i), Pattern(2000, (uint32_t)i)));
        ASSERT_TRUE(p.Flush(0));
        p.Close();
        ASSERT_TRUE(p.Open(1, archive.c_str(), 0, 1024));
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(WriteWhole(p, "g" + std::to_string(i), Pattern(500, (uint32_t)i + 10)));
        ASSERT_TRUE(p.DeleteFile("f0") && p.DeleteFile("f2"));
        ASSERT_TRUE(p.Flush(0));
        grown = Listed(p);
        p.Close();
    }
    const std::string before = t.Read("data.pcl");
    int calls;
    {
        Injector count;
        ASSERT_EQ(0, PclHere({"compact", archive}));
        calls = count.Calls();
    }
    ASSERT_LT(t.Read("data.pcl").size(), before.size());
    for (int i = 0; i < calls; ++i) {
        t.File("data.pcl", before);
        int code;
        {
            Injector in(i, FAULT_FAIL);
            code = PclHere({"compact", archive});
        }
        if (code) {
            EXPECT_LE(t.Read("data.pcl").size(), before.size()) << "call " << i;
        }
        ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240)) << "call " << i;
        EXPECT_EQ(Listed(p), grown) << "call " << i;
        p.Close();
    }
    // When the file cannot be cut back either, the next flush ends it where
    // the tables it commits end.
    for (int i = 0; i < calls; ++i) {
        t.File("data.pcl", before);
        ASSERT_TRUE(p.Open(1, archive.c_str(), 0, 1024));
        {
            RefuseCuts refuse(i);
            p.Flush(1);
        }
        EXPECT_TRUE(p.Flush(0)) << "call " << i;
        p.Close();
        const std::string after = t.Read("data.pcl");
        EXPECT_EQ(ReadFormat(after).tablesEnd, after.size()) << "call " << i;
    }
}

// Names like its own temporary files do not make a file pack's: the archive
// it replaces, and a user's file beside it in the folder it packs, however old.
TEST(Pcl, PackKeepsFilesThatOnlyLookLikeItsOwn)
{
    ScratchFolder t;
    t.Folder("tree");
    t.File("tree\\a.bin", Pattern(500, 1));
    t.File("tree\\pcl1A.tmp", "the user's own notes");
    ASSERT_TRUE(Age(t.Full("tree\\pcl1A.tmp")));
    const std::string archive = t.Full("tree\\data.pcl");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    CParcel p;
    ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 10240));
    const Contents want = {{"a.bin", Pattern(500, 1)}, {"pcl1A.tmp", "the user's own notes"}};
    EXPECT_EQ(Listed(p), want);
    p.Close();
    EXPECT_EQ(t.Read("tree\\pcl1A.tmp"), "the user's own notes");

    // An archive named so, last written long ago, and a pack into it that fails.
    const std::string named = t.Full("pcl2B.tmp");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), named}));
    const std::string old = t.Read("pcl2B.tmp");
    ASSERT_TRUE(p.Open(1, named.c_str(), 2, 10240));
    const Contents packed = Listed(p);
    p.Close();
    ASSERT_TRUE(Age(named));
    t.File("tree\\b.bin", Pattern(700, 2));
    {
        Injector in(0, FAULT_FAIL);
        EXPECT_EQ(1, PclHere({"pack", "-c", t.Full("tree"), named}));
        EXPECT_TRUE(in.Hit());
    }
    EXPECT_EQ(t.Read("pcl2B.tmp"), old);
    ASSERT_TRUE(p.Open(1, named.c_str(), 2, 10240));
    EXPECT_EQ(Listed(p), packed);
    p.Close();
}

// Extract writes over neither the archive it reads, by whatever name the
// out file reaches it, nor any other file unless asked to (-r).
TEST(Pcl, ExtractWritesOverNeitherTheArchiveNorUnaskedFiles)
{
    ScratchFolder t;
    t.Folder("tree");
    t.Folder("tree\\sub");
    t.File("tree\\sub\\data.pcl", "inner");
    t.File("tree\\sub\\b.bin", "bee");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), t.Full("data.pcl")}));
    const std::string archive = t.Read("data.pcl");
    t.File("b.bin", "mine");
    WorkingDirectory here(t.Full(""));
    // A name past the 260-character limit that leads back to the archive.
    std::string climbing;
    while (climbing.size() < 270)
        climbing += "x\\..\\";
    climbing += "data.pcl";
    const struct {
        std::vector<std::string> arguments;
        int code;
    } cases[] = {
        {{"extract", "data.pcl", "sub/data.pcl"}, 1},
        {{"extract", "-r", "data.pcl", "sub/b.bin", climbing}, 1},
        {{"extract", "-r", "data.pcl", "sub/data.pcl"}, 1},
        {{"extract", "-r", "data.pcl", "sub/b.bin", ".\\DATA.PCL"}, 1},
        {{"extract", "-r", t.Full("data.pcl"), "sub/b.bin", "data.pcl"}, 1},
        {{"extract", "data.pcl", "sub/b.bin"}, 1},
        {{"extract", "data.pcl", "sub/b.bin", "b.bin"}, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.code, PclHere(c.arguments)) << c.arguments[1] << " " << c.arguments[2];
        ASSERT_TRUE(t.Read("data.pcl") == archive) << c.arguments[1] << " " << c.arguments[2];
        EXPECT_EQ("mine", t.Read("b.bin"));
    }
    // A write refused at any point (a full disk): exit 1, the file it was to
    // replace as it was, and no part of the entry anywhere.
    for (const char *out : {"b.bin", "new.bin"}) {
        for (int i = 0; i < 2; ++i) {
            Injector in(i, FAULT_FAIL);
            EXPECT_EQ(1, PclHere({"extract", "-r", "data.pcl", "sub/b.bin", out})) << out << " call " << i;
            EXPECT_TRUE(in.Hit()) << out << " call " << i;
            EXPECT_EQ("mine", t.Read("b.bin")) << out << " call " << i;
            EXPECT_FALSE(Exists(t.Full("new.bin"))) << out << " call " << i;
            WIN32_FIND_DATAA d;
            HANDLE f = FindFirstFileA(t.Full("*.tmp").c_str(), &d);
            EXPECT_EQ(f, INVALID_HANDLE_VALUE) << d.cFileName;
            if (f != INVALID_HANDLE_VALUE)
                FindClose(f);
        }
    }
    EXPECT_EQ(0, PclHere({"extract", "-r", "data.pcl", "sub/b.bin"}));
    EXPECT_EQ("bee", t.Read("b.bin"));
    EXPECT_EQ(0, PclHere({"extract", "data.pcl", "sub/data.pcl", "inner.pcl"}));
    EXPECT_EQ("inner", t.Read("inner.pcl"));
}

// A folder that cannot be listed fails the pack as an unreadable file does:
// exit 1, the archive it was to replace as it was, nothing left beside it.
TEST(Pcl, PackThatCannotListAFolderFailsAndKeepsTheOldArchive)
{
    ScratchFolder t;
    t.Folder("tree");
    t.Folder("tree\\sub");
    t.File("tree\\sub\\a.bin", "a");
    const std::string archive = t.Full("data.pcl");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    const std::string old = t.Read("data.pcl");
    // A name code page 949 cannot spell, then a path past 260 characters.
    const std::string narrow = t.Full("tree");
    const std::wstring tree = L"\\\\?\\" + std::wstring(narrow.begin(), narrow.end());
    const std::wstring thai = tree + L"\\sub\\\x0E01", deep = tree + L"\\" + std::wstring(150, L'd'),
                       deeper = deep + L"\\" + std::wstring(150, L'e');
    for (int run = 0; run < 2; ++run) {
        if (run == 0) {
            ASSERT_TRUE(CreateDirectoryW(thai.c_str(), nullptr));
        } else {
            ASSERT_TRUE(RemoveDirectoryW(thai.c_str()));
            ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) && CreateDirectoryW(deeper.c_str(), nullptr));
        }
        EXPECT_EQ(1, PclHere({"pack", "-c", t.Full("tree"), archive})) << run;
        ASSERT_TRUE(t.Read("data.pcl") == old) << run;
        WIN32_FIND_DATAA d;
        HANDLE f = FindFirstFileA(t.Full("*.tmp").c_str(), &d);
        EXPECT_EQ(f, INVALID_HANDLE_VALUE) << d.cFileName;
        if (f != INVALID_HANDLE_VALUE)
            FindClose(f);
    }
    RemoveDirectoryW(deeper.c_str());
    RemoveDirectoryW(deep.c_str());
}

// A usage error names what was wrong, and a pack that cannot read a source
// (another program holds it) names the file and fails.
TEST(Pcl, SaysWhatItCouldNotDo)
{
    ScratchFolder t;
    t.Folder("tree");
    t.File("tree\\a.bin", "a");
    const std::string archive = Quoted(t.Full("data.pcl")), tree = Quoted(t.Full("tree"));
    ASSERT_EQ(0, Pcl("pack " + tree + " " + archive));
    const std::string old = t.Read("data.pcl");
    EXPECT_NE(PclPrinted(t, "compact " + archive + " 3").find("2: pcl: compact takes level 1 or 2, not \"3\""),
              std::string::npos);
    EXPECT_NE(PclPrinted(t, "pack -x a b").find("2: pcl: pack has no option -x"), std::string::npos);
    EXPECT_NE(PclPrinted(t, "list").find("2: pcl: list takes one archive"), std::string::npos);
    HANDLE held = CreateFileA(t.Full("tree\\a.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string printed = PclPrinted(t, "pack " + tree + " " + archive);
    CloseHandle(held);
    EXPECT_EQ(printed.substr(0, 3), "1: ") << printed;
    EXPECT_NE(printed.find("cannot read " + t.Full("tree\\a.bin")), std::string::npos) << printed;
    EXPECT_TRUE(t.Read("data.pcl") == old);
}

// A command run here with every allocation from the n-th on refused (its
// refusals to refused), and what it printed: its standard and error output
// go to a file of the scratch folder meanwhile.
int PclHereFailing(const ScratchFolder &t, std::vector<std::string> args, long n, long *refused,
                   std::string *printed)
{
    args.insert(args.begin(), "pcl");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    fflush(stdout);
    fflush(stderr);
    const int saved = _dup(1), savedError = _dup(2);
    const int file = _open(t.Full("printed.txt").c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IWRITE);
    _dup2(file, 1);
    _dup2(file, 2);
    _close(file);
    FailNewAfter(n);
    const int code = PclMain((int)args.size(), argv.data());
    *refused = FailNewRefused();
    FailNewEnd();
    fflush(stdout);
    fflush(stderr);
    _dup2(saved, 1);
    _dup2(savedError, 2);
    _close(saved);
    _close(savedError);
    *printed = t.Read("printed.txt");
    return code;
}

// The name of a temporary file left beside the archive, or "".
std::string TempLeft(const ScratchFolder &t)
{
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA(t.Full("*.tmp").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return "";
    FindClose(f);
    return d.cFileName;
}

// An extract says when it was interrupted, and an event after its work is
// done changes nothing. What one ended unseen left beside its out file goes
// with the next extract there, once a minute old and held by nobody. An out
// path that leaves no room for the temporary file's longer name works.
TEST(Pcl, ExtractLeavesNothingOfItsOwnBehind)
{
    ScratchFolder t;
    t.Folder("tree");
    t.File("tree\\b.bin", "bee");
    const std::string archive = t.Full("data.pcl");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    for (int i = 0; i < 2; ++i) {
        InterruptAt at(i);
        std::string printed;
        long refused;
        EXPECT_EQ(1, PclHereFailing(t, {"extract", archive, "b.bin", t.Full("out.bin")}, 1000000, &refused, &printed));
        EXPECT_NE(printed.find("interrupted; " + t.Full("out.bin") + " left as it was"), std::string::npos) << printed;
        EXPECT_FALSE(Exists(t.Full("out.bin")));
        EXPECT_EQ(TempLeft(t), "");
    }
    ASSERT_EQ(0, PclHere({"extract", archive, "b.bin", t.Full("out.bin")}));
    PclConsoleEvent(CTRL_C_EVENT);
    EXPECT_EQ("bee", t.Read("out.bin"));
    for (const char *name : {"out.bin.extract1f.tmp", "out.bin.extractA2.tmp", "out.bin.extract3c.tmp",
                             "out.bin.extractzz.tmp", "other.bin.extract4.tmp", "out.bin.extractABC.tmp"}) {
        t.File(name, "left");
        if (name[15] != '3') {
            ASSERT_TRUE(Age(t.Full(name)));
        }
    }
    HANDLE held = CreateFileA(t.Full("out.bin.extractA2.tmp").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(0, PclHere({"extract", "-r", archive, "b.bin", t.Full("out.bin")}));
    CloseHandle(held);
    EXPECT_FALSE(Exists(t.Full("out.bin.extract1f.tmp")));
    for (const char *name : {"out.bin.extractA2.tmp", "out.bin.extract3c.tmp", "out.bin.extractzz.tmp",
                             "other.bin.extract4.tmp", "out.bin.extractABC.tmp"})
        EXPECT_TRUE(Exists(t.Full(name))) << name;
    // The archive read is no leftover, whatever its name.
    const std::string named = t.Full("out.bin.extract5.tmp");
    ASSERT_TRUE(CopyFileA(archive.c_str(), named.c_str(), FALSE));
    ASSERT_TRUE(Age(named));
    EXPECT_EQ(0, PclHere({"extract", "-r", named, "b.bin", t.Full("out.bin")}));
    EXPECT_TRUE(Exists(named) && t.Read("out.bin.extract5.tmp") == t.Read("data.pcl"));
    const std::string deep = t.Full(std::string(std::max<size_t>(200, t.Full("").size() + 1) - t.Full("").size(), 'd'));
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    const std::string out = deep + "\\" + std::string(250 - deep.size(), 'o');
    EXPECT_EQ(0, PclHere({"extract", archive, "b.bin", out}));
    EXPECT_EQ("bee", t.Read(out.substr(t.Full("").size())));
    // Any name an out file may have, up to 255 characters: its temporary
    // file takes the first part of it, and so does what an extract ended
    // unseen left there, which goes.
    for (size_t n : {236u, 238u, 240u, 247u, 255u}) {
        const std::string name(n, (char)('a' + n % 26));
        HANDLE left = OpenLong(t, name.substr(0, 235) + ".extract2b.tmp", GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                               CREATE_NEW);
        ASSERT_TRUE(Age("", left)) << n;
        EXPECT_EQ(0, PclHere({"extract", archive, "b.bin", t.Full(name)})) << n;
        HANDLE h = OpenLong(t, name, GENERIC_READ, OPEN_EXISTING);
        char got[8] = {};
        DWORD done = 0;
        EXPECT_TRUE(ReadFile(h, got, sizeof got, &done, nullptr) && std::string(got, done) == "bee") << n;
        CloseHandle(h);
        EXPECT_EQ(OpenLong(t, name.substr(0, 235) + ".extract2b.tmp", 0, OPEN_EXISTING), INVALID_HANDLE_VALUE) << n;
    }
}

// Each command with its allocations refused in turn from the first on: it
// exits 0 having done all of it, or 1 having changed nothing and left
// nothing behind; it never aborts, never waits for a click (an import that
// runs out of memory is reported, not shown in a box) and never prints a
// listing short of what the archive holds.
TEST(Pcl, CommandsWithoutMemoryFailWholeAndSaySo)
{
    ScratchFolder t;
    t.Folder("tree");
    t.Folder("tree\\sub");
    // A folder name too long to be kept without a block of its own.
    t.Folder("tree\\an empty folder of a long name");
    for (int i = 0; i < 4; ++i)
        t.File("tree\\sub\\f" + std::to_string(i) + ".bin", Pattern((size_t)(100 + 3000 * i), (uint32_t)i));
    t.File("tree\\top.bin", "top");
    const std::string archive = t.Full("data.pcl");
    ASSERT_EQ(0, PclHere({"pack", "-c", t.Full("tree"), archive}));
    Contents packed;
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 0));
        packed = Listed(p);
    }
    ASSERT_EQ(5u, packed.size());
    const Contents full = packed;
    // An archive with holes, for compaction, and a tree that differs from it.
    std::string holed;
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, archive.c_str(), 0, 0));
        ASSERT_TRUE(p.DeleteFile("sub/f1.bin"));
        ASSERT_TRUE(p.Flush(0));
        p.Close();
        packed.erase("sub/f1.bin");
        holed = t.Read("data.pcl");
    }
    std::string listing;
    long refused = 0;
    ASSERT_EQ(0, PclHereFailing(t, {"list", archive}, 1000000, &refused, &listing));
    const std::vector<std::string> commands[] = {
        {"pack", "-c", t.Full("tree"), archive},
        {"list", archive},
        {"extract", archive, "sub/f3.bin", t.Full("out.bin")},
        {"compact", archive, "2"},
    };
    // The first allocations of a process that has run no command yet.
    for (const std::vector<std::string> &args : commands) {
        std::string line;
        for (const std::string &a : args)
            line += Quoted(a) + " ";
        for (long n = 0; n < 4; ++n) {
            t.File("data.pcl", holed);
            SetEnvironmentVariableA("KIV_PCL_FAIL_AFTER", std::to_string(n).c_str());
            std::string printed;
            EXPECT_EQ(1, KivRunProgramPrinting(KIV_PCL_FAILING_EXE, line, &printed, 30000)) << line << n;
            EXPECT_NE(printed.find("pcl: out of memory"), std::string::npos) << line << n << ": " << printed;
            EXPECT_TRUE(t.Read("data.pcl") == holed) << line << n;
            EXPECT_EQ(TempLeft(t), "") << line << n;
        }
    }
    SetEnvironmentVariableA("KIV_PCL_FAIL_AFTER", nullptr);
    for (const std::vector<std::string> &args : commands) {
        const std::string &command = args[0];
        refused = 1;
        for (long n = 0; refused; n += n < 100 || FailNewFullSweeps() ? 1 : 7) {
            t.File("data.pcl", holed);
            DeleteFileA(t.Full("out.bin").c_str());
            std::string printed;
            const int code = PclHereFailing(t, args, n, &refused, &printed);
            ASSERT_TRUE(code == 0 || code == 1) << command << " after " << n << ": " << code;
            EXPECT_EQ(TempLeft(t), "") << command << " after " << n << ": " << printed;
            if (code) {
                EXPECT_NE(printed.find("emory"), std::string::npos) << command << " after " << n << ": " << printed;
                // A compaction may have committed its first step: the
                // contents are the same either way (checked below).
                EXPECT_TRUE(t.Read("data.pcl") == holed || command == "compact")
                    << command << " after " << n;
                EXPECT_FALSE(Exists(t.Full("out.bin"))) << command << " after " << n;
            }
            if (!code && command == "list") {
                EXPECT_EQ(printed, listing) << "after " << n;
            }
            if (!code && command == "extract") {
                EXPECT_TRUE(t.Read("out.bin") == packed["sub/f3.bin"]) << "after " << n;
            }
            CParcel p;
            ASSERT_TRUE(p.Open(1, archive.c_str(), 2, 0)) << command << " after " << n;
            EXPECT_EQ(Listed(p), command == "pack" && !code ? full : packed) << command << " after " << n;
            p.Close();
            if (HasFailure())
                return;
        }
    }
    // Compaction takes level 1 or 2 and nothing else for one.
    for (const char *level : {"abc", "7", "-3", "0", "1x", ""}) {
        t.File("data.pcl", holed);
        EXPECT_EQ(2, PclHere({"compact", archive, level})) << level;
        EXPECT_TRUE(t.Read("data.pcl") == holed) << level;
    }
}

} // namespace
