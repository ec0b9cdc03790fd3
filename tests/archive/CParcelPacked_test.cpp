// Packed mode of the archive object: format on disk, entries, folders, handles, flush.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "EngineRead.h"
#include "FormatReader.h"
#include "HandMade.h"
#include "LeBytes.h"
#include "Layouts.h"
#include "support/scratch_folder.h"
#include "archive/CParcel.h"
#include "archive/CParcelFolder.h"
#include "archive/ParcelIo.h"
#include "engine/KivFileRead.h"

namespace {

typedef std::map<std::string, std::string> Contents;

std::string Pattern(size_t n, uint32_t seed)
{
    std::string b(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = (char)(seed >> 16);
    }
    return b;
}

bool Put(CParcel &p, const std::string &name, const std::string &data)
{
    HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    p.SetFileSize(h, (DWORD)data.size(), 0);
    DWORD done = 0;
    BOOL ok = data.empty() || p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
    p.CloseHandle(h);
    return ok && done == data.size();
}

// An empty entry given its place (a region of no size at the end) by a seek.
bool PutEmptyPlaced(CParcel &p, const std::string &name)
{
    HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const DWORD at = p.SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    p.CloseHandle(h);
    return at == 0;
}

// Every entry named reads back, the engine's way, with exactly its bytes.
::testing::AssertionResult Holds(CParcel &p, const Contents &want)
{
    for (auto &f : want)
        if (ReadWhole(p, f.first.c_str()) != f.second)
            return ::testing::AssertionFailure() << f.first << " does not read back";
    return ::testing::AssertionSuccess();
}

bool Missing(CParcel &p, const char *name)
{
    return ReadWhole(p, name) == "<missing>";
}

class Packed : public ::testing::Test {
protected:
    Packed() : m_path(m_tree.Full("test.pcl")) {}
    BOOL Create(CParcel &p, DWORD table = 1024) { return p.Open(1, m_path.c_str(), 4, table); }
    BOOL Reopen(CParcel &p) { return p.Open(1, m_path.c_str(), 0, 10240); }
    // A new archive holding these files, flushed and closed.
    bool Store(const Contents &files)
    {
        CParcel p;
        if (!Create(p))
            return false;
        for (auto &f : files)
            if (!Put(p, f.first, f.second))
                return false;
        return p.Flush(0) != FALSE;
    }

    std::string Disk() const { return m_tree.Read("test.pcl"); }
    void SetDisk(const std::string &bytes) const { m_tree.File("test.pcl", bytes); }

    ScratchFolder m_tree;
    std::string m_path;
};

std::vector<std::string> FindAll(CParcel &p, const char *pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA d;
    HANDLE f = p.FindFirstFile(pattern, &d);
    if (f == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(std::string(d.cFileName) + ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
        memset(&d, 0, sizeof d); // the walk's place is not in the caller's data
    } while (p.FindNextFile(f, &d));
    p.FindClose(f);
    return names;
}

// The size a listing of the pattern gives its first entry.
DWORD ListedSize(CParcel &p, const char *pattern)
{
    WIN32_FIND_DATAA d;
    memset(&d, 0, sizeof d);
    HANDLE f = p.FindFirstFile(pattern, &d);
    if (f == INVALID_HANDLE_VALUE)
        return 0xDEAD;
    p.FindClose(f);
    return d.nFileSizeLow;
}

// A table with no record to spare: its stated capacity cut to its count.
void SetCapacityToCount(std::string &bytes)
{
    uint32_t length, count;
    memcpy(&length, &bytes[6], 4);
    const size_t table = 4 + (size_t)length + 6;
    memcpy(&count, &bytes[table + 8], 4);
    memcpy(&bytes[table + 4], &count, 4);
}

// The archive file's writes, their bytes and its forcing calls while it lives.
struct IoTally {
    IoTally() { ParcelSetIoHook(&IoTally::Hook, this); }
    ~IoTally() { ParcelSetIoHook(nullptr, nullptr); }
    static BOOL Hook(void *context, ParcelIoCall call, HANDLE, const void *, DWORD count)
    {
        IoTally *t = static_cast<IoTally *>(context);
        t->writes += call == PARCEL_IO_WRITE;
        t->bytes += call == PARCEL_IO_WRITE ? count : 0;
        t->forced += call == PARCEL_IO_FLUSH;
        return TRUE;
    }
    unsigned writes = 0, forced = 0;
    uint64_t bytes = 0;
};

DWORD Location(CParcel &p, const char *name)
{
    DWORD low = 0xDEAD;
    return p.GetFileLocation(name, &low, nullptr) ? low : 0xDEAD;
}

} // namespace

// ------------------------------------------------------------------ opening

TEST_F(Packed, OpeningWhatIsNoArchiveCreatesOrReplacesNothing)
{
    CParcel p;
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 2, 10240));
    EXPECT_NE(p.GetMode(), 0u);
    EXPECT_FALSE(m_tree.Exists("test.pcl"));
    // Every file is then missing, and nothing can be made.
    EXPECT_TRUE(Missing(p, "a"));
    EXPECT_EQ(p.CreateFile("a", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindAll(p, "*.*").empty());
    EXPECT_EQ(p.MmioOpen("a.wav", nullptr, MMIO_READ), nullptr);
    EXPECT_FALSE(p.Flush(1));
    p.Close();
    EXPECT_EQ(p.GetMode(), 0u);
    EXPECT_STREQ(p.GetRoot(), "");
    // An empty file counts as absent; junk is never replaced by a new archive.
    SetDisk("");
    EXPECT_FALSE(Reopen(p));
    ASSERT_TRUE(Create(p));
    p.Close();
    const std::string junk(300, 'Z');
    SetDisk(junk);
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 4 | 1, 1024));
    EXPECT_FALSE(Create(p));
    p.Close();
    EXPECT_EQ(Disk(), junk);
}

TEST_F(Packed, NewEmptyArchiveIsWrittenAsTheTablesSay)
{
    CParcel p;
    ASSERT_TRUE(Create(p, 100)); // raised to 1024
    EXPECT_EQ(p.GetChanged(), 1u);
    ASSERT_TRUE(p.Flush(0));
    EXPECT_EQ(p.GetChanged(), 0u);
    p.Close();
    Bytes e;
    e.U32(1);
    e.U16(0x1101);
    e.U32s({10, 1});
    e.U16(0x1102);
    e.U32s({6 + 12 + 12, 2, 1024, 0, 0, 0, 0});
    e.U16(0x1103);
    e.U32s({6 + 8 + 268 + 4, 1, 1});
    e.Name("");
    e.U32s({16, 0, 0, 0}); // the time is compared apart
    const std::string disk = Disk();
    ASSERT_EQ(disk.size(), e.b.size());
    const size_t time = 14 + 30 + 14 + 256 + 4;
    EXPECT_EQ(disk, e.Str().replace(time, 8, disk, time, 8));
    ASSERT_TRUE(Reopen(p));
    EXPECT_NE(p.FindFolder(""), nullptr);
    EXPECT_TRUE(FindAll(p, "*.*").empty());
}

// A new archive is on disk from the start, and what is written into it
// before the first flush lies as in any archive: from the start of the data
// on, with the first tables right after it and nothing past them.
TEST_F(Packed, NewArchiveFilledBeforeItsFirstFlushLeavesNoRoomBehind)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    const std::string big = Pattern(300000, 2);
    ASSERT_TRUE(Put(p, "a", Pattern(100, 1)));
    ASSERT_TRUE(Put(p, "big", big));
    ASSERT_TRUE(Put(p, "c", Pattern(70000, 3)));
    EXPECT_EQ(Location(p, "a"), 14u);
    EXPECT_EQ(Location(p, "big"), 114u);
    EXPECT_EQ(Location(p, "c"), 300114u);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    const std::string disk = Disk();
    uint32_t length = 0;
    memcpy(&length, &disk[6], 4);
    EXPECT_EQ(length, 370114u - 4);
    const size_t tables = 6 + 12 + 3 * 21 + 12 + 3 * 4 + 6 + 8 + 268 + 4 + 3 * 280;
    EXPECT_EQ(disk.size(), 370114u + tables);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"a", Pattern(100, 1)}, {"big", big}, {"c", Pattern(70000, 3)}}));
    p.Close();
    // Contents that end just before where the new archive's tables wait.
    SetDisk("");
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "x", Pattern(65000, 4)));
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    EXPECT_EQ(Disk().size(), 65014u + 6 + 12 + 21 + 12 + 4 + 6 + 8 + 268 + 4 + 280);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"x", Pattern(65000, 4)}}));
}

// Before its first flush a large new archive keeps its waiting tables a
// bounded way past the data, not as far again as the data.
TEST_F(Packed, NewArchiveTablesWaitABoundedWayPastTheData)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    const std::string big = Pattern(40u << 20, 5);
    ASSERT_TRUE(Put(p, "big", big));
    const size_t data = 14 + big.size();
    p.Close();
    const size_t size = Disk().size();
    EXPECT_GT(size, data);
    EXPECT_LE(size, data + (16u << 20) + 4096);
    // Closed without a flush: the archive is the empty one it was created as.
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Missing(p, "big"));
}

TEST_F(Packed, HandMadeArchiveReadsBack)
{
    Layout at;
    SetDisk(HandMade(&at).Str());
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    EXPECT_EQ(p.GetChanged(), 0u);
    EXPECT_TRUE(Holds(p, {{"data\\A.TXT", "hello"}, {"b.bin", "world!"}}));
    DWORD lo = 0, hi = 7;
    ASSERT_TRUE(p.GetFileLocation("b.bin", &lo, &hi));
    EXPECT_EQ(lo, 22u);
    EXPECT_EQ(hi, 0u);
    EXPECT_EQ(FindAll(p, "*.*"), (std::vector<std::string>{"Data\\", "b.bin"}));
}

// ------------------------------------------------------------- entries

TEST_F(Packed, HandlesFollowTheDispositionAndTheirEntry)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    const std::string want = Pattern(10, 7);
    ASSERT_TRUE(Put(p, "x\\a.bin", want));
    EXPECT_EQ(p.CreateFile("x\\A.BIN", 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE h1 = p.CreateFile("x\\a.bin", 0, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    HANDLE h2 = p.CreateFile("x\\a.bin", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h1, INVALID_HANDLE_VALUE);
    ASSERT_NE(h2, INVALID_HANDLE_VALUE);
    // Two handles keep their own positions.
    char b1[4], b2[2];
    DWORD got = 0;
    ASSERT_TRUE(p.ReadFile(h1, b1, 4, &got, nullptr));
    ASSERT_TRUE(p.ReadFile(h2, b2, 2, &got, nullptr));
    EXPECT_EQ(std::string(b1, 4) + std::string(b2, 2), want.substr(0, 4) + want.substr(0, 2));
    EXPECT_TRUE(p.CloseHandle(h1));
    EXPECT_TRUE(p.CloseHandle(h2));
    // Truncating keeps the name and drops the contents.
    HANDLE t = p.CreateFile("x\\a.bin", 0, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(t, INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.GetFileSize(t, nullptr), 0u);
    p.CloseHandle(t);
    EXPECT_EQ(p.CreateFile("x\\none", 0, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.CreateFile("x\\none", 0, 0, nullptr, 9, 0, nullptr), INVALID_HANDLE_VALUE);

    // Handles of a deleted entry, and handles never handed out, are refused.
    HANDLE stale = p.CreateFile("x\\a.bin", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(p.DeleteFile("x\\a.bin"));
    EXPECT_FALSE(p.ReadFile(stale, b1, 4, &got, nullptr));
    EXPECT_FALSE(p.CloseHandle(stale));
    int junk = 0;
    EXPECT_FALSE(p.CloseHandle((HANDLE)&junk));
    EXPECT_EQ(p.GetFileSize((HANDLE)&junk, nullptr), INVALID_FILE_SIZE);
    EXPECT_TRUE(p.CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(p.CloseHandle(nullptr));
    EXPECT_FALSE(p.FindClose((HANDLE)&junk));
    EXPECT_FALSE(p.FindClose(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(p.FindClose(nullptr));
}

TEST_F(Packed, TransfersAndSeeksStayInsideTheEntry)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    HANDLE h = p.CreateFile("n", 0, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    p.SetFileSize(h, 40, 0);
    std::string data = Pattern(50, 2);
    DWORD done = 0;
    EXPECT_TRUE(p.WriteFile(h, data.data(), 50, &done, nullptr));
    EXPECT_EQ(done, 40u);
    EXPECT_FALSE(p.WriteFile(h, data.data(), 10, &done, nullptr));
    EXPECT_EQ(done, 0u);
    // Reading at the end transfers nothing and fails.
    char buf[16];
    EXPECT_FALSE(p.ReadFile(h, buf, 10, &done, nullptr));
    EXPECT_EQ(done, 0u);

    LONG high = 5;
    EXPECT_EQ(p.SetFilePointer(h, 0, &high, FILE_END), 40u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(p.SetFilePointer(h, -1000, nullptr, FILE_CURRENT), 0u);
    EXPECT_EQ(p.SetFilePointer(h, 1000, nullptr, FILE_BEGIN), 40u);
    EXPECT_EQ(p.SetFilePointer(h, -5, nullptr, FILE_END), 35u);
    ASSERT_TRUE(p.ReadFile(h, buf, 16, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), data.substr(35, 5));
    EXPECT_EQ(p.SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);

    // Overlapped transfers are refused and move nothing.
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    p.SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    done = 99;
    EXPECT_FALSE(p.ReadFile(h, buf, 10, &done, &ov));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(p.WriteFile(h, buf, 10, &done, &ov));
    EXPECT_EQ(p.SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0u);
    p.CloseHandle(h);
    EXPECT_TRUE(Holds(p, {{"a", Pattern(10, 1)}, {"n", data.substr(0, 40)}}));
}

TEST_F(Packed, WhatTheTablesCannotHoldIsRefusedAndTheArchiveReopens)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    // Names longer than the 256-byte field, folder paths included.
    EXPECT_EQ(p.CreateFile(std::string(256, 'n').c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Put(p, std::string(255, 'n'), "fits"));
    const std::string longDir = std::string(300, 'd') + "\\x";
    EXPECT_FALSE(p.CreateDirectory(longDir.c_str(), nullptr));
    EXPECT_EQ(p.CreateFile(longDir.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    // Sizes of 4 GiB or more, and nameless entries.
    HANDLE h = p.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    p.SetFileSize(h, 5, 1);
    DWORD high = 9;
    EXPECT_EQ(p.GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    p.CloseHandle(h);
    EXPECT_EQ(p.CreateFile("dir\\", 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
    EXPECT_EQ(p.CreateFile("", 0, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    // Parts no call could tell from the folder around them: "." and "..",
    // empty ones, a leading backslash. Nothing of them is stored.
    for (const char *name : {"..", ".", "d\\..\\x", "d\\.\\x", "d\\\\x", "\\lead.txt", "..\\x"}) {
        SetLastError(0);
        EXPECT_EQ(p.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME) << name;
        EXPECT_FALSE(p.CreateDirectory(name, nullptr)) << name;
    }
    EXPECT_EQ(FindAll(p, "*.*"), (std::vector<std::string>{"a", std::string(255, 'n')}));
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"a", Pattern(10, 1)}, {std::string(255, 'n'), "fits"}}));
    p.Close();
    // An entry that another program stored below a folder "." opens by
    // every disposition that finds it; a new name there is still refused.
    Layout at;
    Bytes dotted = HandMade(&at);
    dotted.PatchName(at.firstFileCount + 4 + 280, ".\\");
    SetDisk(dotted.Str());
    ASSERT_TRUE(Reopen(p));
    for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING, CREATE_ALWAYS}) {
        HANDLE h = p.CreateFile(".\\a.txt", GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << disposition;
        p.CloseHandle(h);
    }
    EXPECT_EQ(p.CreateFile(".\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_EQ(p.CreateFile(".\\b.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
}

// ------------------------------------------------------------- folders

TEST_F(Packed, CreateDirectoryMakesEveryLevelAndFindListsFoldersFirst)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(p.CreateDirectory("a\\b\\c", nullptr));
    ASSERT_NE(p.FindFolder("a\\"), nullptr);
    ASSERT_NE(p.FindFolder("a\\b"), nullptr);
    CParcelFolder *c = p.FindFolder("A\\B\\C\\");
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->m_name, "a\\b\\c\\");
    ASSERT_TRUE(Put(p, "a\\z.txt", Pattern(3, 1)));
    ASSERT_TRUE(Put(p, "a\\m.txt", Pattern(3, 2)));
    ASSERT_TRUE(p.CreateDirectory("a\\d\\", nullptr));
    std::vector<std::string> all = FindAll(p, "a\\*.*");
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2], "m.txt");
    EXPECT_EQ(all[3], "z.txt");
    EXPECT_TRUE((all[0] == "b\\" && all[1] == "d\\") || (all[0] == "d\\" && all[1] == "b\\"));
    // An exact pattern matches a folder by its own name, and an entry by its name.
    EXPECT_EQ(FindAll(p, "a\\B"), std::vector<std::string>{"b\\"});
    EXPECT_EQ(FindAll(p, "a\\Z.TXT"), std::vector<std::string>{"z.txt"});
    EXPECT_TRUE(FindAll(p, "a\\q*").empty());
    EXPECT_TRUE(FindAll(p, "nowhere\\*.*").empty());

    // A walk keeps its place while the entries it has shown are deleted.
    for (const char *n : {"f\\1", "f\\2", "f\\3", "f\\4"})
        ASSERT_TRUE(Put(p, n, Pattern(5, 1)));
    WIN32_FIND_DATAA d;
    HANDLE f = p.FindFirstFile("f\\*", &d);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    std::vector<std::string> seen;
    do {
        seen.push_back(d.cFileName);
        ASSERT_TRUE(p.DeleteFile(("f\\" + std::string(d.cFileName)).c_str()));
    } while (p.FindNextFile(f, &d));
    p.FindClose(f);
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(Packed, DeleteAndRemoveDirectoryFreeTheSpaceForReuse)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "keep", Pattern(10, 1)));
    ASSERT_TRUE(Put(p, "b", Pattern(10, 2)));
    EXPECT_EQ(Location(p, "b"), 24u);
    EXPECT_TRUE(p.DeleteFile("B"));
    EXPECT_FALSE(p.DeleteFile("b"));
    EXPECT_EQ(Location(p, "b"), 0xDEADu);
    ASSERT_TRUE(Put(p, "c", Pattern(10, 3)));
    EXPECT_EQ(Location(p, "c"), 24u);

    ASSERT_TRUE(Put(p, "gone\\a", Pattern(10, 2)));
    ASSERT_TRUE(Put(p, "gone\\sub\\b", Pattern(10, 3)));
    ASSERT_TRUE(Put(p, "gone\\sub\\deeper\\c", Pattern(10, 4)));
    ASSERT_TRUE(Put(p, "gone2\\x", Pattern(10, 5)));
    WIN32_FIND_DATAA d;
    HANDLE f = p.FindFirstFile("gone\\sub\\*", &d);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(p.RemoveDirectory("gone"));
    EXPECT_FALSE(p.FindNextFile(f, &d)); // its folder is gone: nothing more
    p.FindClose(f);
    EXPECT_EQ(p.FindFolder("gone\\"), nullptr);
    EXPECT_EQ(p.FindFolder("gone\\sub\\deeper\\"), nullptr);
    EXPECT_FALSE(p.RemoveDirectory("gone"));
    EXPECT_TRUE(Holds(p, {{"gone2\\x", Pattern(10, 5)}}));
    // The three freed regions sit between c and gone2\x and are reused.
    ASSERT_TRUE(Put(p, "new", Pattern(30, 6)));
    EXPECT_EQ(Location(p, "new"), 34u);
    EXPECT_EQ(FindAll(p, "*.*"), (std::vector<std::string>{"gone2\\", "c", "keep", "new"}));

    // Removing the root still flushes an archive that opens.
    EXPECT_TRUE(p.RemoveDirectory(""));
    EXPECT_EQ(p.FindFolder("gone2"), nullptr);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_NE(p.FindFolder(""), nullptr);
    EXPECT_TRUE(FindAll(p, "*.*").empty());
}

TEST_F(Packed, FileInfoNamesFoldersAndEntries)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "pics\\Face.png", Pattern(4, 1)));
    SHFILEINFOA info;
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("PICS", 0, &info, sizeof info, 0), 1u);
    EXPECT_STREQ(info.szDisplayName, "pics");
    EXPECT_EQ(info.dwAttributes, 16u);
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics\\face.png", 0, &info, sizeof info, SHGFI_TYPENAME), 1u);
    EXPECT_STREQ(info.szDisplayName, "Face.png");
    EXPECT_EQ(info.dwAttributes, 0u);
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics\\none.png", 0, &info, sizeof info, 0), 0u);
    EXPECT_EQ(info.szDisplayName[0], 0);
}

// ---------------------------------------------------------- multimedia files

TEST_F(Packed, MultimediaCallsSeeOnlyTheEntrysBytes)
{
    Bytes wav;
    wav.Raw("RIFF");
    wav.U32(4 + 8 + 4);
    wav.Raw("WAVEdata");
    wav.U32s({4, 0xA1B2C3D4});
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "before", Pattern(33, 1)));
    ASSERT_TRUE(Put(p, "snd\\a.wav", wav.Str()));
    ASSERT_TRUE(Put(p, "after", Pattern(50, 2)));
    ASSERT_TRUE(Put(p, "empty.wav", ""));
    HANDLE h = p.CreateFile("unwritten.wav", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 64, 0);
    p.CloseHandle(h);
    EXPECT_EQ(p.MmioOpen("snd\\a.wav", nullptr, MMIO_WRITE), nullptr);
    EXPECT_EQ(p.MmioOpen("snd\\none.wav", nullptr, MMIO_READ), nullptr);
    HMMIO m = p.MmioOpen("snd\\a.wav", nullptr, MMIO_READ);
    ASSERT_NE(m, nullptr);
    MMCKINFO riff = {}, data = {};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(p.MmioDescend(m, &riff, nullptr, MMIO_FINDRIFF), 0u);
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(p.MmioDescend(m, &data, &riff, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(data.cksize, 4u);
    uint32_t sample = 0;
    EXPECT_EQ(p.MmioRead(m, (HPSTR)&sample, 4), 4);
    EXPECT_EQ(sample, 0xA1B2C3D4u);
    char more[8];
    EXPECT_EQ(p.MmioRead(m, more, 8), 0); // nothing of "after" leaks in
    EXPECT_EQ(p.MmioSeek(m, 0, SEEK_SET), 0);
    EXPECT_EQ(p.MmioSeek(m, 0, SEEK_END), (LONG)wav.b.size());
    EXPECT_EQ(p.MmioClose(m, 0), 0u);
    EXPECT_EQ(p.MmioRead(m, more, 1), -1);
    EXPECT_EQ(p.MmioClose(nullptr, 0), 0u);
    // Entries without bytes open cleanly, if at all, and give nothing.
    for (const char *name : {"empty.wav", "unwritten.wav"}) {
        m = p.MmioOpen(name, nullptr, MMIO_READ);
        if (m) {
            EXPECT_LE(p.MmioRead(m, more, 1), 0) << name;
            EXPECT_EQ(p.MmioClose(m, 0), 0u) << name;
        }
    }
    // An entry written in part at the archive's end gives the same bytes both
    // ways, before its first flush and after it.
    h = p.CreateFile("part.wav", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 64, 0);
    DWORD done = 0;
    EXPECT_TRUE(p.WriteFile(h, "0123456789", 10, &done, nullptr));
    p.CloseHandle(h);
    for (int flushed = 0; flushed < 2; ++flushed) {
        const std::string direct = ReadWhole(p, "part.wav");
        EXPECT_EQ("0123456789", direct.substr(0, 10));
        m = p.MmioOpen("part.wav", nullptr, MMIO_READ);
        ASSERT_NE(m, nullptr) << flushed;
        std::string viaMmio(100, '?');
        viaMmio.resize((size_t)std::max<LONG>(0, p.MmioRead(m, &viaMmio[0], 100)));
        EXPECT_EQ(direct, viaMmio) << flushed;
        EXPECT_EQ(p.MmioClose(m, 0), 0u);
        ASSERT_TRUE(p.Flush(0));
    }
}

// ------------------------------------------------------------------- flush

// Write, delete, flush with and without compaction, reopen: every entry
// reads back byte for byte.
TEST_F(Packed, CompactionLosesNoData)
{
    srand(99);
    Contents live;
    {
        CParcel p;
        ASSERT_TRUE(Create(p));
        for (int i = 0; i < 200; ++i) {
            const std::string name = "d" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".bin";
            live[name] = Pattern((size_t)(rand() % 5000), (uint32_t)i);
            ASSERT_TRUE(Put(p, name, live[name]));
        }
        ASSERT_TRUE(p.Flush(0));
        int k = 0;
        for (auto it = live.begin(); it != live.end(); ++k) {
            if (k % 3 == 0) {
                ASSERT_TRUE(p.DeleteFile(it->first.c_str()));
                it = live.erase(it);
            } else {
                ++it;
            }
        }
        const Contents more = {
            {"Data\\Avatar\\Motions\\walk.anm", Pattern(70000, 3)},
            {"top.txt", ""},
            // Only the backslash separates folders.
            {"Data/Forward/slash.png", Pattern(17, 5)},
        };
        for (auto &f : more)
            ASSERT_TRUE(Put(p, f.first, live[f.first] = f.second));
        ASSERT_TRUE(p.Flush(1));
        ASSERT_TRUE(Holds(p, live));
        ASSERT_TRUE(p.RemoveDirectory("d3"));
        for (auto it = live.begin(); it != live.end();)
            it = it->first.compare(0, 3, "d3\\") == 0 ? live.erase(it) : std::next(it);
        live["late.bin"] = Pattern(777, 5);
        ASSERT_TRUE(Put(p, "late.bin", live["late.bin"]));
        ASSERT_TRUE(p.Flush(2));
    }
    const size_t size1 = Disk().size();
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    ASSERT_TRUE(Holds(q, live));
    ASSERT_TRUE(q.Flush(7)); // out-of-range level is clamped
    q.Close();
    EXPECT_LE(Disk().size(), size1);
    ASSERT_TRUE(Reopen(q));
    EXPECT_TRUE(Holds(q, live));
    EXPECT_NE(q.FindFolder("Data\\Avatar\\Motions"), nullptr);
    EXPECT_EQ(q.FindFolder("Data/Forward/"), nullptr);
    EXPECT_EQ(FindAll(q, "data/forward/SLASH.png"), std::vector<std::string>{"Data/Forward/slash.png"});
}

TEST_F(Packed, FullRecordTableCompactsSafely)
{
    // 1024 records: fill them, then punch holes no later region fits exactly.
    Contents live;
    CParcel p;
    ASSERT_TRUE(Create(p, 1024));
    for (int i = 0; i < 1024; ++i) {
        char name[16];
        sprintf(name, "e%04d", i);
        live[name] = Pattern((size_t)(i % 5 == 0 ? 40 : 10 + i % 7), (uint32_t)i);
        ASSERT_TRUE(Put(p, name, live[name])) << i;
    }
    ASSERT_FALSE(Put(p, "overflow", Pattern(4, 1)));
    // Without a record for its region every transfer fails and moves nothing.
    HANDLE h = p.CreateFile("overflow", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[4];
    DWORD got = 7;
    EXPECT_FALSE(p.ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(p.SetFilePointer(h, 2, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(Location(p, "overflow"), 0xDEADu);
    p.CloseHandle(h);
    p.DeleteFile("overflow");
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    const size_t full = Disk().size();
    ASSERT_TRUE(Reopen(p));
    for (int i = 0; i < 1024; i += 5) {
        char name[16];
        sprintf(name, "e%04d", i);
        ASSERT_TRUE(p.DeleteFile(name));
        live.erase(name);
    }
    ASSERT_TRUE(p.Flush(1));
    p.Close();
    // Slides close the holes although no record is left for a split.
    EXPECT_LT(Disk().size() + 205 * 40 - 4100, full);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, live));
}

// A hole right before the last region, smaller than the tables: the last
// entry moves into it, and the tables follow the data down, so the file ends
// right after the last used region and no later than before. A compaction
// that would make it longer is not made.
TEST_F(Packed, CompactionPutsTheTablesRightAfterTheData)
{
    Contents live;
    for (int i = 0; i < 40; ++i)
        live["d\\f" + std::to_string(100 + i)] = Pattern((size_t)(2000 - 10 * i), (uint32_t)i);
    ASSERT_TRUE(Store(live));
    const size_t before = Disk().size();
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    // The tables on disk lie past the old ones here, and the new tables
    // outgrow the room the move leaves before them: they go past those
    // first, then right after the data.
    const DWORD hole = Location(p, "d\\f138");
    ASSERT_TRUE(p.DeleteFile("d\\f138"));
    live.erase("d\\f138");
    ASSERT_TRUE(p.Flush(1));
    EXPECT_EQ(Location(p, "d\\f139"), hole);
    uint32_t end = 0;
    for (auto &f : live)
        end = std::max<uint32_t>(end, Location(p, f.first.c_str()) + (uint32_t)f.second.size());
    p.Close();
    const std::string bytes = Disk();
    ASSERT_GT(bytes.size(), (size_t)end + 6);
    uint32_t length = 0;
    memcpy(&length, &bytes[6], 4);
    EXPECT_EQ(length + 4, end);
    EXPECT_EQ((uint8_t)bytes[end] | (uint8_t)bytes[end + 1] << 8, 0x1102);
    EXPECT_LE(bytes.size(), before);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, live));
    p.Close();

    // A hole too small to repay the record that a move into it takes, and
    // one that the entry right after it fits exactly (the hole only moves up
    // behind it): nothing moves, and the file stays as it was.
    const std::vector<Contents> gainless = {
        {{"a", Pattern(100, 1)}, {"x", Pattern(50, 2)}, {"c", Pattern(5, 3)}},
        {{"a", Pattern(100, 1)}, {"x", Pattern(10, 2)}, {"c", Pattern(50, 3)}},
    };
    for (const Contents &files : gainless) {
        live = files;
        ASSERT_TRUE(DeleteFileA(m_path.c_str()));
        ASSERT_TRUE(Create(p));
        for (const char *name : {"a", "b", "x", "c"})
            ASSERT_TRUE(Put(p, name, live.count(name) ? live[name] : Pattern(10, 4)));
        ASSERT_TRUE(p.DeleteFile("b"));
        ASSERT_TRUE(p.Flush(0));
        p.Close();
        const std::string small = Disk();
        ASSERT_TRUE(Reopen(p));
        ASSERT_TRUE(p.Flush(1));
        EXPECT_TRUE(Holds(p, live));
        p.Close();
        EXPECT_EQ(Disk().size(), small.size());
        EXPECT_TRUE(Disk() == small);
    }
}

// A full table whose holes lie before larger entries: only slides over
// their own old places can close them, staged past the data, and those
// batches would end the file later than they found it, though a compaction
// in one go would not. The whole compaction is worked out before anything
// moves; here it only brings the tables down.
TEST_F(Packed, CompactionOfAFullTableNeverEndsLonger)
{
    Contents live;
    const size_t sizes[] = {152, 2153, 195, 4247, 3, 3678, 147, 3466, 145};
    for (int i = 0; i < 9; ++i)
        live["e" + std::to_string(100 + i)] = Pattern(sizes[i], (uint32_t)i);
    ASSERT_TRUE(Store(live));
    std::string bytes = Disk();
    SetCapacityToCount(bytes);
    SetDisk(bytes);
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    for (int i = 0; i < 8; i += 2) {
        ASSERT_TRUE(p.DeleteFile(("e" + std::to_string(100 + i)).c_str()));
        live.erase("e" + std::to_string(100 + i));
    }
    ASSERT_TRUE(p.Flush(0));
    const size_t found = Disk().size();
    ASSERT_TRUE(p.Flush(1));
    p.Close();
    const ReadArchive a = ReadFormat(Disk());
    ASSERT_EQ(a.fault, "");
    EXPECT_EQ(a.usedEnd, a.dataEnd);
    EXPECT_LE(Disk().size(), found);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, live));
}

// Every layout compacts in two commits, and one more where the tables lie in
// the way of their place after the data; it writes at most the contents it
// moves twice and those tables; a compaction right after it writes nothing.
TEST_F(Packed, CompactionCommitsAFewTimesOnEveryLayoutAndOnceIsEnough)
{
    srand(5);
    for (int kind = 0; kind < LAYOUT_KINDS; ++kind) {
        const std::vector<uint32_t> sizes = LayoutSizes(kind, 300);
        Contents live;
        std::vector<std::string> names;
        CParcel p;
        ASSERT_TRUE(DeleteFileA(m_path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
        ASSERT_TRUE(Create(p, 4096));
        for (size_t i = 0; i < sizes.size(); ++i) {
            names.push_back("k" + std::to_string(i % 3) + "\\e" + std::to_string(i));
            ASSERT_TRUE(Put(p, names[i], live[names[i]] = Pattern(sizes[i], (uint32_t)i)));
            // Empty entries, one or two at one offset, between two holes
            // when the entries on both sides go.
            for (int empty = rand() % 5 - 2; empty > 0; --empty) {
                const std::string name = names[i] + "z" + std::to_string(empty);
                live[name] = "";
                ASSERT_TRUE(PutEmptyPlaced(p, name));
            }
        }
        ASSERT_TRUE(p.Flush(0));
        for (size_t i = 0; i < names.size(); ++i)
            if (LayoutPunched(kind, i)) {
                ASSERT_TRUE(p.DeleteFile(names[i].c_str()));
                live.erase(names[i]);
            }
        ASSERT_TRUE(p.Flush(0));
        p.Close();
        // Opened again, the archive lets the test read the file.
        const size_t before = Disk().size();
        ASSERT_TRUE(Reopen(p));
        std::map<std::string, DWORD> was;
        for (auto &f : live)
            was[f.first] = Location(p, f.first.c_str());
        uint64_t moved = 0, written;
        {
            IoTally count;
            ASSERT_TRUE(p.Flush(1)) << kind;
            EXPECT_LE(count.forced, 6u) << kind;
            written = count.bytes;
        }
        for (auto &f : live)
            moved += Location(p, f.first.c_str()) != was[f.first] ? f.second.size() : 0;
        const std::string after = Disk();
        const ReadArchive a = ReadFormat(after);
        ASSERT_EQ(a.fault, "");
        EXPECT_EQ(a.usedEnd, a.dataEnd);
        EXPECT_LE(written, 2 * moved + 3 * (after.size() - a.dataEnd) + 4096) << kind;
        EXPECT_LT(after.size(), before) << kind;
        EXPECT_TRUE(Holds(p, live)) << kind;
        IoTally count;
        ASSERT_TRUE(p.Flush(1));
        EXPECT_EQ(count.writes, 0u) << kind;
    }
}

// Two empty entries share an offset between two holes: compaction moves
// them and still fills the room on both sides, and again later.
TEST_F(Packed, CompactionMovesEmptyEntriesBetweenHoles)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    Contents live = {{"a", Pattern(100, 1)}, {"h1", Pattern(30, 2)}, {"z0", ""}, {"z1", ""},
                     {"h2", Pattern(50, 3)}, {"c", Pattern(60, 4)}, {"d", Pattern(10, 5)}};
    for (const char *name : {"a", "h1", "z0", "z1", "h2", "c", "d"})
        ASSERT_TRUE(live[name].empty() ? PutEmptyPlaced(p, name) : Put(p, name, live[name]));
    ASSERT_EQ(Location(p, "z0"), 144u);
    ASSERT_EQ(Location(p, "z1"), 144u);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    // A compaction that moves no contents leaves them where they were.
    ASSERT_TRUE(p.Flush(1));
    EXPECT_EQ(Location(p, "z0"), 144u);
    for (const char *name : {"h1", "h2"}) {
        ASSERT_TRUE(p.DeleteFile(name));
        live.erase(name);
    }
    ASSERT_TRUE(p.Flush(1));
    ASSERT_TRUE(p.Flush(2));
    EXPECT_TRUE(Holds(p, live));
    EXPECT_EQ(Location(p, "z0"), 14u);
    p.Close();
    // The 80 bytes of the two holes come back, the tables right after.
    const ReadArchive a = ReadFormat(Disk());
    ASSERT_EQ(a.fault, "");
    EXPECT_EQ(a.dataEnd, 14u + 170);
    EXPECT_EQ(a.tablesEnd, Disk().size());
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, live));
}

// An entry written into after every flush: each flush gives the place of
// the copy before back, so the file swings between the same two sizes.
TEST_F(Packed, RewrittenEntryGivesItsOldPlaceBackAtEveryFlush)
{
    ASSERT_TRUE(Store({{"a", Pattern(3000, 1)}, {"b", Pattern(500, 2)}}));
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    std::vector<size_t> sizes;
    for (int round = 0; round < 6; ++round) {
        HANDLE h = p.CreateFile("a", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        EXPECT_TRUE(p.WriteFile(h, Pattern(100, (uint32_t)round).data(), 100, &done, nullptr));
        p.CloseHandle(h);
        ASSERT_TRUE(p.Flush(0));
        sizes.push_back(Disk().size());
    }
    EXPECT_EQ(sizes[4], sizes[2]);
    EXPECT_EQ(sizes[5], sizes[3]);
}

// A cut of flushed contents takes room for the bytes it keeps alone: the
// file grows by those, not by the entry's old size. A cut that cannot have
// that room changes nothing and says why.
TEST_F(Packed, CutOfFlushedContentsTakesRoomForWhatItKeeps)
{
    const std::string big = Pattern(1 << 20, 7);
    for (DWORD keep : {0u, 100u}) {
        ASSERT_TRUE(Store({{"big.bin", big}, {"b.bin", Pattern(500, 2)}}));
        const size_t before = Disk().size();
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        HANDLE h = p.CreateFile("big.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ParcelSetIoHook([](void *, ParcelIoCall, HANDLE, const void *, DWORD) -> BOOL { return FALSE; }, nullptr);
        p.SetFileSize(h, keep, 0);
        ParcelSetIoHook(nullptr, nullptr);
        if (keep) {
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_WRITE_FAULT);
            EXPECT_EQ(p.GetFileSize(h, nullptr), (DWORD)big.size());
        }
        p.SetFileSize(h, keep, 0);
        p.CloseHandle(h);
        ASSERT_TRUE(p.Flush(0));
        EXPECT_LT(Disk().size(), before + 4096) << keep;
        EXPECT_TRUE(Holds(p, {{"big.bin", big.substr(0, keep)}, {"b.bin", Pattern(500, 2)}})) << keep;
        ASSERT_TRUE(p.Flush(1));
        EXPECT_LT(Disk().size(), 4096u) << keep;
    }
}

TEST_F(Packed, FlushImportsSourceFiles)
{
    const std::string src = m_tree.Full("source.dat"), content = Pattern(5000, 9);
    m_tree.File("source.dat", content);
    CParcel p;
    ASSERT_TRUE(Create(p));
    HANDLE h = p.CreateFile("in\\x.dat", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, (DWORD)content.size(), 0);
    ASSERT_TRUE(p.SetFileSource(h, src.c_str()));
    p.CloseHandle(h);
    // The import writes through the handle a reader had before.
    p.CloseHandle(p.CreateFile("in\\x.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    h = p.CreateFile("in\\missing.dat", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 10, 0);
    ASSERT_TRUE(p.SetFileSource(h, (src + ".none").c_str()));
    p.CloseHandle(h);
    ASSERT_TRUE(p.Flush(0));
    EXPECT_EQ(Location(p, "in\\missing.dat"), 0xDEADu);
    p.Close();
    DeleteFileA(src.c_str());
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"in\\x.dat", content}}));
}

// What a process that stops before Flush leaves behind: the file as it is on
// disk at that moment, read while the archive object still holds it open.
TEST_F(Packed, StopBeforeFlushLosesOnlyTheUnflushedChanges)
{
    const Contents old = {
        {"Data\\a.bin", Pattern(300, 1)},
        {"Data\\b.bin", Pattern(5000, 2)},
        {"c.txt", Pattern(20, 3)},
    };
    ASSERT_TRUE(Store(old));
    const std::string stopped = m_tree.Full("stopped.pcl");
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    // New contents, a deleted entry whose place a same-sized newcomer would
    // take, an old entry written anew and a removed folder.
    ASSERT_TRUE(Put(p, "Data\\new.bin", Pattern(20000, 4)));
    ASSERT_TRUE(p.DeleteFile("c.txt"));
    ASSERT_TRUE(Put(p, "d.txt", Pattern(20, 5)));
    ASSERT_TRUE(Put(p, "Data\\b.bin", Pattern(5000, 6)));
    ASSERT_TRUE(p.RemoveDirectory("Data"));
    ASSERT_TRUE(Put(p, "e.txt", Pattern(300, 7)));
    m_tree.File("stopped.pcl", Disk());
    {
        CParcel q;
        ASSERT_TRUE(q.Open(1, stopped.c_str(), 0, 10240));
        EXPECT_TRUE(Holds(q, old));
        EXPECT_TRUE(Missing(q, "d.txt"));
        EXPECT_TRUE(Missing(q, "e.txt"));
    }
    // The changes themselves arrive with the next flush, and a later stop
    // keeps them.
    ASSERT_TRUE(p.Flush(0));
    ASSERT_TRUE(Put(p, "f.txt", Pattern(4000, 8)));
    ASSERT_TRUE(p.DeleteFile("e.txt"));
    m_tree.File("stopped.pcl", Disk());
    p.Close();
    const Contents flushed = {{"d.txt", Pattern(20, 5)}, {"e.txt", Pattern(300, 7)}};
    CParcel q;
    ASSERT_TRUE(q.Open(1, stopped.c_str(), 0, 10240));
    EXPECT_TRUE(Holds(q, flushed));
    EXPECT_TRUE(Missing(q, "c.txt"));
    EXPECT_TRUE(Missing(q, "f.txt"));
    EXPECT_EQ(q.FindFolder("Data"), nullptr);
    // Flushed with compaction, the place of the old tables is reused.
    ASSERT_TRUE(q.Flush(1));
    q.Close();
    EXPECT_LT(m_tree.Read("stopped.pcl").size(), 14u + 320u + 1500u);
    ASSERT_TRUE(q.Open(1, stopped.c_str(), 0, 10240));
    EXPECT_TRUE(Holds(q, flushed));
}

TEST_F(Packed, ReadOnlyArchiveRefusesWritesAndFlush)
{
    ASSERT_TRUE(Store({{"a", Pattern(10, 1)}}));
    const std::string before = Disk();
    CParcel q;
    ASSERT_TRUE(q.Open(1, m_path.c_str(), 2, 10240)); // the engine's flags
    EXPECT_TRUE(q.IsReadOnly());
    EXPECT_TRUE(Holds(q, {{"a", Pattern(10, 1)}}));
    HANDLE h = q.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    EXPECT_FALSE(q.WriteFile(h, "x", 1, &done, nullptr));
    q.CloseHandle(h);
    EXPECT_FALSE(q.Flush(0));
    EXPECT_FALSE(q.Flush(1));
    // Held alone (flag 8), for writing or reading, only while nobody else
    // holds it, and then by nobody else.
    CParcel r;
    for (DWORD flags : {9u, 10u}) {
        EXPECT_FALSE(r.Open(1, m_path.c_str(), flags, 10240)) << flags;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << flags;
    }
    q.Close();
    for (DWORD flags : {9u, 10u}) {
        ASSERT_TRUE(r.Open(1, m_path.c_str(), flags, 10240)) << flags;
        EXPECT_FALSE(q.Open(1, m_path.c_str(), 2, 10240)) << flags;
        r.Close();
    }
    EXPECT_EQ(Disk(), before);
}

// An empty entry reads whole as its 0 bytes through the engine's readers of
// whole files, packed as loose, though a packed read at an entry's end
// transfers nothing and fails; a buffer too small for a file fails.
TEST_F(Packed, EmptyEntryReadsWholeInEveryMode)
{
    ASSERT_TRUE(Store({{"empty.lua", ""}, {"a.lua", "abc"}}));
    m_tree.File("empty.lua", "");
    m_tree.File("a.lua", "abc");
    for (DWORD flags : {1u, 0u, 2u}) {
        CParcel p;
        ASSERT_TRUE(flags == 1 ? p.Open(0, m_tree.Path().c_str(), 0, 0) : p.Open(1, m_path.c_str(), flags, 10240));
        for (const char *name : {"empty.lua", "a.lua"}) {
            const DWORD want = name[0] == 'a' ? 3 : 0;
            std::unique_ptr<unsigned char[]> bytes;
            DWORD size = 9;
            EXPECT_EQ(KivReadWholeFile(&p, name, bytes, &size), kKivReadOk) << flags << name;
            EXPECT_EQ(size, want) << flags << name;
            char buffer[8];
            for (DWORD capacity : {0u, 2u, 8u}) {
                EXPECT_EQ(KivReadFileInto(&p, name, buffer, capacity, &size),
                          capacity < want ? kKivReadFailed : kKivReadOk)
                    << flags << name << capacity;
                EXPECT_EQ(size, capacity < want ? 0 : want) << flags << name << capacity;
            }
            EXPECT_EQ(KivReadFileInto(&p, name, nullptr, 0, &size), kKivReadOk) << flags << name;
            EXPECT_EQ(size, want) << flags << name;
        }
        if (flags != 1) {
            HANDLE h = p.CreateFile("empty.lua", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            char buffer[8];
            DWORD got = 7;
            EXPECT_FALSE(p.ReadFile(h, buffer, sizeof buffer, &got, nullptr)) << flags;
            EXPECT_EQ(got, 0u) << flags;
            p.CloseHandle(h);
        }
    }
}

// ---------------------------------------------------------------- hostile

TEST_F(Packed, TruncationAtEveryOffsetFailsAndLeavesTheFile)
{
    Layout at;
    const std::string whole = HandMade(&at).Str();
    for (size_t n = 1; n < whole.size(); ++n) {
        const std::string cut = whole.substr(0, n);
        SetDisk(cut);
        CParcel p;
        EXPECT_FALSE(Create(p)) << n;
        EXPECT_TRUE(Missing(p, "b.bin"));
        EXPECT_FALSE(p.Flush(0));
        p.Close();
        ASSERT_EQ(Disk(), cut) << n;
    }
}

TEST_F(Packed, CorruptTablesFailAndLeaveTheFile)
{
    Layout at;
    HandMade(&at);
    const size_t fileName = at.firstFileCount + 4, folder2 = fileName + 280, file2 = folder2 + 268 + 4;
    const std::vector<std::pair<const char *, std::function<void(Bytes &)>>> cases = {
        {"archive version", [&](Bytes &a) { a.Patch(0, 2); }},
        {"data chunk id", [&](Bytes &a) { a.Patch16(4, 0x1102); }},
        {"data chunk past file", [&](Bytes &a) { a.Patch(6, 0x7FFFFFFF); }},
        {"data chunk too short", [&](Bytes &a) { a.Patch(6, 9); }},
        {"data version", [&](Bytes &a) { a.Patch(10, 0); }},
        {"storage id", [&](Bytes &a) { a.Patch16(at.storage, 0x1101); }},
        {"storage length", [&](Bytes &a) { a.Patch(at.storage + 2, 0xFFFFFFF0u); }},
        {"record count above capacity", [&](Bytes &a) { a.Patch(at.storageCount, 17); }},
        {"record count huge", [&](Bytes &a) { a.Patch(at.storageCount, 0xFFFFFFFFu); }},
        {"region index out of range", [&](Bytes &a) { a.Patch(at.regionIndex, 9); }},
        {"folder chunk id", [&](Bytes &a) { a.Patch16(at.folders, 0x1104); }},
        {"folder count huge", [&](Bytes &a) { a.Patch(at.folderCount, 0x10000000u); }},
        {"file count huge", [&](Bytes &a) { a.Patch(at.firstFileCount, 0x7FFFFFFFu); }},
        {"entry region out of range", [&](Bytes &a) { a.Patch(at.fileRegion, 3); }},
        {"entry region free", [&](Bytes &a) { a.Patch(at.fileRegion, 1); }},
        {"entries share a region", [&](Bytes &a) { a.Patch(at.fileRegion, 2); }},
        {"unterminated name", [&](Bytes &a) { a.PatchName(fileName, std::string(256, 'x').c_str()); }},
        {"parent missing", [&](Bytes &a) { a.PatchName(folder2, "No\\Data\\"); }},
        {"folder without backslash", [&](Bytes &a) { a.PatchName(folder2, "Data"); }},
        {"entry name with a backslash", [&](Bytes &a) { a.PatchName(fileName, "x\\b.bin"); }},
        {"entry name splitting off its folder", [&](Bytes &a) { a.PatchName(file2, "\\a.txt"); }},
        {"folder without the directory bit", [&](Bytes &a) { a.Patch(folder2 + 256, 0); }},
        {"root without the directory bit", [&](Bytes &a) { a.Patch(at.folderCount + 4 + 256, 0x80); }},
        {"entry with the directory bit", [&](Bytes &a) { a.Patch(file2 + 256, 0x30); }},
    };
    for (const auto &c : cases) {
        Bytes a = HandMade(&at);
        c.second(a);
        SetDisk(a.Str());
        CParcel p;
        EXPECT_FALSE(Create(p)) << c.first;
        p.Close();
        EXPECT_EQ(Disk(), a.Str()) << c.first;
    }
    // Two names of one folder that the archive's name comparison finds equal.
    const struct {
        const char *first, *second, *from, *to;
    } twins[] = {{"d\\one", "d\\two", "two", "ONE"}, {"p\\x", "q\\y", "q\\", "P\\"}};
    for (const auto &t : twins) {
        SetDisk("");
        ASSERT_TRUE(Store({{t.first, "1"}, {t.second, "2"}}));
        std::string disk = Disk();
        const size_t at = disk.find(std::string(t.from) + '\0');
        ASSERT_NE(std::string::npos, at) << t.from;
        disk.replace(at, strlen(t.to), t.to);
        SetDisk(disk);
        CParcel p;
        EXPECT_FALSE(Create(p)) << t.to;
        p.Close();
        EXPECT_EQ(Disk(), disk) << t.to;
    }
}

// The format puts the folders in no order and asks for none: a writer may
// put the root anywhere, or write no folder at all.
TEST_F(Packed, FoldersInAnyOrderOrNoneOpen)
{
    Layout at;
    Bytes a = HandMade(&at);
    const size_t root = at.folderCount + 4, folder = root + 268 + 4 + 280, end = folder + 268 + 4 + 280;
    std::vector<uint8_t> swapped(a.b.begin() + folder, a.b.begin() + end);
    swapped.insert(swapped.end(), a.b.begin() + root, a.b.begin() + folder);
    std::copy(swapped.begin(), swapped.end(), a.b.begin() + root);
    SetDisk(a.Str());
    {
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        EXPECT_TRUE(Holds(p, {{"Data\\a.txt", "hello"}, {"b.bin", "world!"}}));
        WIN32_FIND_DATAA d;
        HANDLE find = p.FindFirstFile("*.*", &d);
        ASSERT_NE(INVALID_HANDLE_VALUE, find);
        EXPECT_STREQ("Data", d.cFileName);
        p.FindClose(find);
    }
    Bytes none = HandMade(&at);
    none.b.resize(at.folders);
    none.U16(0x1103);
    none.U32s({6 + 8, 1, 0});
    SetDisk(none.Str());
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    WIN32_FIND_DATAA d;
    EXPECT_EQ(INVALID_HANDLE_VALUE, p.FindFirstFile("*.*", &d));
    EXPECT_TRUE(Put(p, "c\\new", "new"));
    EXPECT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"c\\new", "new"}}));
}

// A read-only archive never reports more bytes than an entry holds: the
// engine allocates the size it is told before it reads.
TEST_F(Packed, ReadOnlySizesStopAtTheStoredBytes)
{
    Layout at;
    HandMade(&at);
    const size_t size = at.firstFileCount + 4 + 268;
    const struct {
        uint32_t sizeLow, region;
        const char *want;
    } cases[] = {{0x7FFFFFF0u, 2, "world!"}, {0x30000000u, 2, "world!"}, {4, 2, "worl"},
                 {0x30000000u, 0xFFFFFFFFu, ""}, {6, 0xFFFFFFFFu, ""}};
    for (const auto &c : cases) {
        Bytes a = HandMade(&at);
        a.Patch(size, c.sizeLow);
        a.Patch(size + 8, c.region);
        SetDisk(a.Str());
        CParcel p;
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 2, 0)) << c.sizeLow;
        HANDLE h = p.CreateFile("b.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(p.GetFileSize(h, nullptr), strlen(c.want)) << c.sizeLow;
        p.CloseHandle(h);
        EXPECT_EQ(ReadWhole(p, "b.bin"), c.want) << c.sizeLow;
        // A listing gives the same size.
        EXPECT_EQ(ListedSize(p, "b.bin"), strlen(c.want)) << c.sizeLow;
        p.Close();
        // Opened for writing, the entry keeps the size recorded for it.
        ASSERT_TRUE(Reopen(p));
        h = p.CreateFile("b.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(p.GetFileSize(h, nullptr), c.sizeLow);
        p.CloseHandle(h);
        EXPECT_EQ(ListedSize(p, "b.bin"), c.sizeLow);
    }
}

// A read-only archive hands out no space: an entry stored without contents
// reads nothing, not the bytes a deleted entry left in a hole.
TEST_F(Packed, ReadOnlyEntryWithoutContentsReadsNothing)
{
    const std::string gone = Pattern(800, 1);
    ASSERT_TRUE(Store({{"a.bin", gone}, {"b.bin", Pattern(100, 2)}}));
    {
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        ASSERT_TRUE(p.DeleteFile("a.bin"));
        HANDLE h = p.CreateFile("never.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        p.SetFileSize(h, 800, 0);
        p.CloseHandle(h);
        ASSERT_TRUE(p.Flush(0));
    }
    const std::string before = Disk();
    CParcel q;
    ASSERT_TRUE(q.Open(1, m_path.c_str(), 2, 10240));
    HANDLE h = q.CreateFile("never.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(q.GetFileSize(h, nullptr), 0u);
    EXPECT_EQ(ListedSize(q, "never.bin"), 0u);
    std::string buf(800, '\0');
    DWORD got = 7;
    EXPECT_FALSE(q.ReadFile(h, &buf[0], 800, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(q.SetFilePointer(h, 100, nullptr, FILE_BEGIN), 0u);
    EXPECT_FALSE(q.ReadFile(h, &buf[0], 800, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(buf, std::string(800, '\0'));
    q.CloseHandle(h);
    EXPECT_EQ(Location(q, "never.bin"), 0xDEADu);
    EXPECT_TRUE(Holds(q, {{"b.bin", Pattern(100, 2)}}));
    q.Close();
    EXPECT_EQ(Disk(), before);
}

// Bytes of an entry that were never written read as zeros, whatever the
// region it took held before (here a deleted entry's bytes): through
// ReadFile and a multimedia handle, before and after a flush, and in a
// read-only open.
TEST_F(Packed, NeverWrittenBytesReadAsZeros)
{
    ASSERT_TRUE(Store({{"a.bin", Pattern(8192, 5)}, {"b.bin", Pattern(100, 2)}}));
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    ASSERT_TRUE(p.DeleteFile("a.bin"));
    ASSERT_TRUE(p.Flush(0));
    std::string part(4096, '\0');
    part.replace(2000, 10, "0123456789");
    for (const char *name : {"never.bin", "part.bin"}) {
        HANDLE h = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        p.SetFileSize(h, 4096, 0);
        DWORD done = 0;
        if (name[0] == 'p') {
            EXPECT_EQ(p.SetFilePointer(h, 2000, nullptr, FILE_BEGIN), 2000u);
            EXPECT_TRUE(p.WriteFile(h, "0123456789", 10, &done, nullptr));
        }
        p.CloseHandle(h);
    }
    const Contents want = {{"never.bin", std::string(4096, '\0')}, {"part.bin", part}, {"b.bin", Pattern(100, 2)}};
    for (int round = 0; round < 3; ++round) {
        CParcel q;
        CParcel &r = round < 2 ? p : q;
        if (round == 2) {
            p.Close();
            ASSERT_TRUE(q.Open(1, m_path.c_str(), 2, 10240));
        }
        EXPECT_TRUE(Holds(r, want)) << round;
        HMMIO m = r.MmioOpen("part.bin", nullptr, MMIO_READ);
        ASSERT_NE(m, nullptr) << round;
        std::string viaMmio(5000, '?');
        viaMmio.resize((size_t)std::max<LONG>(0, r.MmioRead(m, &viaMmio[0], 5000)));
        EXPECT_TRUE(viaMmio == part) << round;
        r.MmioClose(m, 0);
        if (round == 0) {
            ASSERT_TRUE(p.Flush(0));
        }
    }
}

// The tests' own reader of the format takes every state the archive leaves:
// an entry recorded larger than its region, and bytes after the tables that
// a session closed without a flush wrote.
TEST_F(Packed, FormatReaderReadsEveryStateTheArchiveLeaves)
{
    ASSERT_TRUE(Store({{"a.bin", Pattern(300, 1)}}));
    {
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        HANDLE h = p.CreateFile("a.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        p.SetFileSize(h, 1000, 0);
        p.CloseHandle(h);
        ASSERT_TRUE(p.Flush(0));
    }
    EXPECT_EQ(ReadFormat(Disk()).fault, "");
    const std::string flushed = Disk();
    {
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        ASSERT_TRUE(Put(p, "b.bin", Pattern(5000, 2)));
    }
    ASSERT_GT(Disk().size(), flushed.size());
    const ReadArchive a = ReadFormat(Disk());
    EXPECT_EQ(a.fault, "");
    EXPECT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(a.tablesEnd, (uint32_t)flushed.size());
}

// An entry whose recorded size shrinks after it has its region reads only
// that size to its end, before and after a flush, in either mode.
TEST_F(Packed, EntryShrunkAfterItsRegionReadsOnlyItsSize)
{
    const std::string whole = Pattern(1000, 3);
    ASSERT_TRUE(Store({{"a.bin", whole}}));
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    HANDLE h = p.CreateFile("a.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    p.SetFileSize(h, 300, 0);
    std::string buf(1000, '\0');
    DWORD got = 0;
    EXPECT_TRUE(p.ReadFile(h, &buf[0], 1000, &got, nullptr));
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(buf.substr(0, 300), whole.substr(0, 300));
    EXPECT_FALSE(p.ReadFile(h, &buf[0], 1000, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(p.SetFilePointer(h, -10, nullptr, FILE_END), 290u);
    EXPECT_TRUE(p.ReadFile(h, &buf[0], 1000, &got, nullptr));
    EXPECT_EQ(got, 10u);
    p.CloseHandle(h);
    EXPECT_EQ(ReadWhole(p, "a.bin"), whole.substr(0, 300));
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    for (DWORD flags : {0u, 2u}) {
        ASSERT_TRUE(p.Open(1, m_path.c_str(), flags, 10240));
        EXPECT_EQ(ReadWhole(p, "a.bin"), whole.substr(0, 300)) << flags;
        p.Close();
    }
    // Grown back within its room, it reads zeros past the cut, as a file
    // does: right after the cut, after a flush and a compaction. A cut of
    // flushed contents leaves room for what it keeps alone, so the file
    // takes no more than those bytes; grown past that room, it reads its
    // room, as any entry grown past its region does.
    const std::string regrown = whole.substr(0, 300) + std::string(700, '\0');
    const auto resize = [&](DWORD size, const char *name = "a.bin") {
        HANDLE r = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        p.SetFileSize(r, size, 0);
        p.CloseHandle(r);
    };
    ASSERT_TRUE(Store({{"a.bin", whole}}));
    ASSERT_TRUE(Reopen(p));
    resize(300);
    resize(1000);
    EXPECT_EQ(ReadWhole(p, "a.bin"), whole.substr(0, 300));
    ASSERT_TRUE(Put(p, "a.bin", whole));
    resize(300);
    resize(1000);
    EXPECT_TRUE(ReadWhole(p, "a.bin") == regrown);
    resize(300);
    ASSERT_TRUE(p.Flush(0));
    resize(1000);
    EXPECT_TRUE(ReadWhole(p, "a.bin") == regrown);
    for (int level : {0, 2}) {
        ASSERT_TRUE(p.Flush(level));
        EXPECT_TRUE(ReadWhole(p, "a.bin") == regrown) << level;
    }
    p.Close();
    // A session opened for reading, or a handle opened for reading, cuts
    // nothing and says so.
    ASSERT_TRUE(Store({{"a.bin", whole}}));
    for (DWORD flags : {2u, 0u}) {
        ASSERT_TRUE(p.Open(1, m_path.c_str(), flags, 10240));
        const DWORD access = flags ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        HANDLE r = p.CreateFile("a.bin", access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetLastError(NO_ERROR);
        p.SetFileSize(r, 100, 0);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << flags;
        EXPECT_EQ(p.GetFileSize(r, nullptr), 1000u) << flags;
        DWORD done = 7;
        EXPECT_FALSE(p.WriteFile(r, "x", 1, &done, nullptr)) << flags;
        EXPECT_EQ(done, 0u) << flags;
        p.CloseHandle(r);
        EXPECT_TRUE(ReadWhole(p, "a.bin") == whole) << flags;
        p.Close();
    }
    // What is written past the size after the cut stays once the size is
    // set over it.
    const auto writeAt = [&](DWORD at, const std::string &data, const char *name = "a.bin") {
        HANDLE w = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD done = 0;
        p.SetFilePointer(w, (LONG)at, nullptr, FILE_BEGIN);
        EXPECT_TRUE(p.WriteFile(w, data.data(), (DWORD)data.size(), &done, nullptr) && done == data.size());
        p.CloseHandle(w);
    };
    ASSERT_TRUE(Store({{"a.bin", whole}}));
    ASSERT_TRUE(Reopen(p));
    ASSERT_TRUE(Put(p, "a.bin", whole));
    resize(300);
    writeAt(300, Pattern(700, 4));
    resize(1000);
    EXPECT_TRUE(ReadWhole(p, "a.bin") == whole.substr(0, 300) + Pattern(700, 4));
    p.Close();
    // An older build left the cut bytes in the region past the recorded size;
    // a write first does not bring them back either.
    Layout at;
    Bytes old = HandMade(&at);
    old.Patch(at.fileRegion - 8, 3);
    for (DWORD flags : {0u, 2u}) {
        SetDisk(old.Str());
        ASSERT_TRUE(p.Open(1, m_path.c_str(), flags, 10240));
        EXPECT_EQ(ReadWhole(p, "Data\\a.txt"), "hel");
        // Set to the size it has, it keeps its room.
        resize(3, "Data\\a.txt");
        resize(5, "Data\\a.txt");
        EXPECT_EQ(ReadWhole(p, "Data\\a.txt"), flags ? std::string("hel") : std::string("hel\0\0", 5)) << flags;
        p.Close();
    }
    SetDisk(old.Str());
    ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 10240));
    writeAt(0, "H", "Data\\a.txt");
    resize(5, "Data\\a.txt");
    EXPECT_EQ(ReadWhole(p, "Data\\a.txt"), std::string("Hel\0\0", 5));
}

// Writing over part of an entry that a flush committed leaves the committed
// bytes where they are until the next flush: a process that stops before it
// finds them, while every handle of the entry reads the new ones, each at its
// own position.
TEST_F(Packed, WriteIntoFlushedEntryKeepsTheFlushedBytesUntilTheNextFlush)
{
    const std::string a = Pattern(5000, 1), b = Pattern(300, 2);
    Contents committed = {{"Data\\a.bin", a}, {"b.bin", b}};
    ASSERT_TRUE(Store(committed));
    const std::string stopped = m_tree.Full("stopped.pcl");
    for (int cycle = 0; cycle < 2; ++cycle) {
        const std::string patch = Pattern(500, 10 + (uint32_t)cycle);
        std::string want = committed["Data\\a.bin"];
        want.replace(1000, 500, patch);
        want.replace(4900, 100, patch.substr(0, 100));
        for (bool flush : {false, true}) {
            CParcel p;
            ASSERT_TRUE(Reopen(p));
            HANDLE r = p.CreateFile("Data\\a.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            std::string got(1000, '\0');
            DWORD n = 0;
            ASSERT_TRUE(p.ReadFile(r, &got[0], 1000, &n, nullptr));
            EXPECT_EQ(got, committed["Data\\a.bin"].substr(0, 1000));
            HANDLE w = p.CreateFile("Data\\a.bin", GENERIC_WRITE, 0, nullptr, cycle ? OPEN_ALWAYS : OPEN_EXISTING,
                                    0, nullptr);
            ASSERT_NE(w, INVALID_HANDLE_VALUE);
            EXPECT_EQ(p.SetFilePointer(w, 1000, nullptr, FILE_BEGIN), 1000u);
            EXPECT_TRUE(p.WriteFile(w, patch.data(), 500, &n, nullptr));
            EXPECT_EQ(n, 500u);
            // The second write stops at the entry's end, as before.
            EXPECT_EQ(p.SetFilePointer(w, 4900, nullptr, FILE_BEGIN), 4900u);
            EXPECT_TRUE(p.WriteFile(w, patch.data(), 500, &n, nullptr));
            EXPECT_EQ(n, 100u);
            got.assign(500, '\0');
            ASSERT_TRUE(p.ReadFile(r, &got[0], 500, &n, nullptr));
            EXPECT_EQ(got, patch);
            EXPECT_EQ(ReadWhole(p, "Data\\a.bin"), want);
            m_tree.File("stopped.pcl", Disk());
            {
                CParcel q;
                ASSERT_TRUE(q.Open(1, stopped.c_str(), 2, 10240));
                EXPECT_TRUE(Holds(q, committed)) << "cycle " << cycle;
            }
            p.CloseHandle(w);
            p.CloseHandle(r);
            if (flush) {
                ASSERT_TRUE(p.Flush(0));
            }
            p.Close();
        }
        committed["Data\\a.bin"] = want;
        CParcel p;
        ASSERT_TRUE(Reopen(p));
        EXPECT_TRUE(Holds(p, committed)) << "cycle " << cycle;
    }
    // The copy refused by the file: the write fails, and the room taken for
    // the copy goes back, so the next tables name nothing past the entries.
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    HANDLE w = p.CreateFile("b.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ParcelSetIoHook(
        [](void *, ParcelIoCall call, HANDLE, const void *, DWORD) -> BOOL { return call != PARCEL_IO_WRITE; },
        nullptr);
    DWORD n = 7;
    EXPECT_FALSE(p.WriteFile(w, "x", 1, &n, nullptr));
    ParcelSetIoHook(nullptr, nullptr);
    EXPECT_EQ(n, 0u);
    p.CloseHandle(w);
    ASSERT_TRUE(p.Flush(0));
    const uint32_t end = std::max(Location(p, "Data\\a.bin") + 5000, Location(p, "b.bin") + 300);
    p.Close();
    const ReadArchive disk = ReadFormat(Disk());
    ASSERT_EQ(disk.fault, "");
    EXPECT_EQ(disk.usedEnd, end);
}

// Writes into committed contents and a rewrite of a whole entry take no
// more of the table than writing in place did, however full it is: their
// copies' records come on top of it until the next flush gives the old ones
// back. New contents beyond it are refused, and not as a full disk.
TEST_F(Packed, WritesIntoFlushedEntriesOfAFullTableNeedNoRecord)
{
    CParcel p;
    ASSERT_TRUE(Create(p, 1024));
    Contents want;
    for (int i = 0; i < 1024; ++i) {
        char name[16];
        sprintf(name, "e%04d", i);
        want[name] = Pattern(20, (uint32_t)i);
        ASSERT_TRUE(Put(p, name, want[name])) << i;
    }
    ASSERT_TRUE(p.Flush(0));
    const std::string patch = Pattern(4, 99);
    for (int i = 0; i < 1000; i += 25) {
        char name[16];
        sprintf(name, "e%04d", i);
        HANDLE h = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD n = 0;
        EXPECT_EQ(p.SetFilePointer(h, 8, nullptr, FILE_BEGIN), 8u);
        EXPECT_TRUE(p.WriteFile(h, patch.data(), 4, &n, nullptr)) << name;
        p.CloseHandle(h);
        want[name].replace(8, 4, patch);
    }
    want["e0001"] = Pattern(30, 500);
    EXPECT_TRUE(Put(p, "e0001", want["e0001"]));
    HANDLE h = p.CreateFile("overflow", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 4, 0);
    DWORD n = 7;
    EXPECT_FALSE(p.WriteFile(h, patch.data(), 4, &n, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_MAKE);
    EXPECT_EQ(n, 0u);
    p.CloseHandle(h);
    ASSERT_TRUE(p.DeleteFile("overflow"));
    EXPECT_TRUE(Holds(p, want));
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, want));
}

// ---------------------------------------------------------------- threads

namespace {
struct Reader {
    CParcel *parcel;
    Contents want;
    int failures;
};

DWORD WINAPI ReadLoop(void *arg)
{
    Reader *r = (Reader *)arg;
    for (int round = 0; round < 40; ++round)
        if (!Holds(*r->parcel, r->want))
            ++r->failures;
    return 0;
}
} // namespace

TEST_F(Packed, TwoThreadsReadThroughOneArchive)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    Reader readers[2] = {{&p, {}, 0}, {&p, {}, 0}};
    for (int i = 0; i < 40; ++i) {
        const std::string name = "t\\" + std::to_string(i) + ".bin";
        readers[i % 2].want[name] = Pattern((size_t)(100 + i * 97), (uint32_t)i);
        ASSERT_TRUE(Put(p, name, readers[i % 2].want[name]));
    }
    ASSERT_TRUE(p.Flush(0));
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, ReadLoop, &readers[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        ::CloseHandle(threads[i]);
        EXPECT_EQ(readers[i].failures, 0);
    }
}

// A table with no record to spare: a write into a flushed entry takes its
// copy's record past the capacity, and the next flush states the larger one.
TEST_F(Packed, FullTableStatesTheCapacityItRanUpTo)
{
    ASSERT_TRUE(Store({{"a", "hello"}, {"b", "world!"}, {"c", "xyz"}}));
    std::string old = Disk();
    SetCapacityToCount(old);
    SetDisk(old);
    ASSERT_EQ(old.size(), 28u + 1231u);
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    HANDLE h = p.CreateFile("b", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    ASSERT_TRUE(p.WriteFile(h, "W", 1, &n, nullptr));
    p.CloseHandle(h);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    // The copy follows the old tables (1259), which leave a free region
    // behind them, as does b's old place; the new tables follow the copy.
    const std::string bytes = Disk();
    Bytes want;
    want.U32(1);
    want.U16(0x1101);
    want.U32s({1265 - 4, 1});
    want.Raw("hello");
    EXPECT_EQ(bytes.substr(0, 19), want.Str());
    EXPECT_EQ(bytes.substr(1259, 6), "World!");
    Bytes table;
    table.U16(0x1102);
    table.U32s({6 + 12 + 5 * 21 + 12 + 7 * 4, 2, 5, 5});
    table.Record(4, 14, 5);
    table.Record(2, 19, 6);
    table.Record(4, 25, 3);
    table.Record(2, 28, 1231);
    table.Record(4, 1259, 6);
    table.U32s({5, 2, 0, 0, 1, 2, 3, 4, 1, 3});
    ASSERT_GT(bytes.size(), 1265u + table.b.size());
    EXPECT_EQ(bytes.substr(1265, table.b.size()), table.Str());
    const ReadArchive a = ReadFormat(bytes);
    ASSERT_EQ(a.fault, "");
    EXPECT_EQ(a.entries.size(), 3u);
    EXPECT_EQ(a.entries.at("b").region, 4u);
    EXPECT_EQ(a.entries.at("a").region, 0u);
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"a", "hello"}, {"b", "World!"}, {"c", "xyz"}}));
}

// Over flush after flush of writes into flushed entries, whole rewrites,
// deletes and adds on a table with no record to spare, every file read back
// from the format states a capacity that holds its records.
TEST_F(Packed, FullTableReadsBackAfterEveryFlush)
{
    Contents live;
    for (int i = 0; i < 30; ++i)
        live["e" + std::to_string(100 + i)] = Pattern((size_t)(20 + 37 * i % 300), (uint32_t)i);
    ASSERT_TRUE(Store(live));
    std::string bytes = Disk();
    SetCapacityToCount(bytes);
    SetDisk(bytes);
    uint32_t capacity = 30;
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    for (int cycle = 0; cycle < 6; ++cycle) {
        for (int i = cycle; i < 30; i += 4) {
            const std::string name = "e" + std::to_string(100 + i);
            if (!live.count(name))
                continue;
            HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD n = 0;
            live[name][3] = (char)cycle;
            EXPECT_EQ(p.SetFilePointer(h, 3, nullptr, FILE_BEGIN), 3u);
            EXPECT_TRUE(p.WriteFile(h, &live[name][3], 1, &n, nullptr)) << name;
            p.CloseHandle(h);
        }
        // Of the same size, and of one the deleted entry leaves.
        const std::string rewrite = "e" + std::to_string(100 + (cycle * 7) % 30);
        live[rewrite] = Pattern(live[rewrite].size(), (uint32_t)cycle + 900);
        EXPECT_TRUE(Put(p, rewrite, live[rewrite])) << rewrite;
        const std::string gone = "e" + std::to_string(129 - cycle);
        if (live.count(gone)) {
            const size_t size = live[gone].size();
            live.erase(gone);
            ASSERT_TRUE(p.DeleteFile(gone.c_str()));
            const std::string added = "n" + std::to_string(cycle);
            live[added] = Pattern(size, (uint32_t)cycle + 700);
            EXPECT_TRUE(Put(p, added, live[added])) << added;
        }
        ASSERT_TRUE(p.Flush(cycle == 3 ? 1 : 0));
        const ReadArchive a = ReadFormat(Disk());
        ASSERT_EQ(a.fault, "") << "cycle " << cycle;
        EXPECT_GE(a.capacity, capacity) << "cycle " << cycle;
        capacity = a.capacity;
        EXPECT_EQ(a.entries.size(), live.size());
    }
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, live));
    EXPECT_EQ(FindAll(p, "*.*").size(), live.size());
}
