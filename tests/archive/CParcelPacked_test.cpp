// Packed mode of the archive object: format on disk, entries, folders, handles, flush.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "archive/CParcelFolder.h"

namespace {

typedef std::vector<uint8_t> Blob;

std::string TempDir()
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return dir;
}

Blob LoadDisk(const std::string &path)
{
    Blob b;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return b;
    b.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!b.empty())
        ::ReadFile(f, b.data(), (DWORD)b.size(), &got, nullptr);
    ::CloseHandle(f);
    return b;
}

void SaveDisk(const std::string &path, const Blob &b)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    DWORD done = 0;
    if (!b.empty())
        ::WriteFile(f, b.data(), (DWORD)b.size(), &done, nullptr);
    ::CloseHandle(f);
}

Blob Pattern(size_t n, uint32_t seed)
{
    Blob b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = (uint8_t)(seed >> 16);
    }
    return b;
}

bool Put(CParcel &p, const char *name, const Blob &data)
{
    HANDLE h = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    p.SetFileSize(h, (DWORD)data.size(), 0);
    DWORD done = 0;
    BOOL ok = data.empty() || p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
    p.CloseHandle(h);
    return ok && done == data.size();
}

// The whole entry, read the engine's way; false when it cannot be opened.
bool Get(CParcel &p, const char *name, Blob *out)
{
    HANDLE h = p.CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    DWORD size = p.GetFileSize(h, &high);
    out->assign(size, 0);
    DWORD got = 0;
    if (size)
        p.ReadFile(h, out->data(), size, &got, nullptr);
    p.CloseHandle(h);
    return got == size;
}

typedef std::map<std::string, Blob> Contents;

bool PutAll(CParcel &p, const Contents &files)
{
    for (auto &f : files)
        if (!Put(p, f.first.c_str(), f.second))
            return false;
    return true;
}

// Every entry named reads back with exactly its bytes.
::testing::AssertionResult Holds(CParcel &p, const Contents &want)
{
    for (auto &f : want) {
        Blob b;
        if (!Get(p, f.first.c_str(), &b))
            return ::testing::AssertionFailure() << f.first << " cannot be read";
        if (b != f.second)
            return ::testing::AssertionFailure() << f.first << " reads back different bytes";
    }
    return ::testing::AssertionSuccess();
}

bool Missing(CParcel &p, const char *name)
{
    Blob b;
    return !Get(p, name, &b);
}

struct Bytes {
    Blob b;
    void U8(uint8_t v) { b.push_back(v); }
    void U16(uint16_t v)
    {
        U8((uint8_t)v);
        U8((uint8_t)(v >> 8));
    }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            U8((uint8_t)(v >> (8 * i)));
    }
    void Name(const char *s)
    {
        char f[256] = {0};
        strcpy(f, s);
        b.insert(b.end(), f, f + 256);
    }
    void Raw(const char *s) { b.insert(b.end(), s, s + strlen(s)); }
    void Patch(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + i] = (uint8_t)(v >> (8 * i));
    }
};

// Offsets of fields in the hand-made archive below.
struct Layout {
    size_t storage, storageCount, regionIndex, folders, folderCount, firstFileCount, fileRegion;
};

// An archive written from the format tables: "hello" in "Data\a.txt" and
// "world!" in root entry "b.bin"; a free 3-byte hole between them.
Bytes HandMade(Layout *at)
{
    Bytes a;
    a.U32(1);
    a.U16(0x1101);
    a.U32(6 + 4 + 5 + 3 + 6);
    a.U32(1);
    a.Raw("hello");
    a.Raw("xyz");
    a.Raw("world!");
    at->storage = a.b.size();
    a.U16(0x1102);
    a.U32(6 + 12 + 3 * 21 + 12 + 3 * 4 + 4);
    a.U32(2);
    a.U32(16);
    at->storageCount = a.b.size();
    a.U32(3);
    const uint32_t recs[3][3] = {{4, 14, 5}, {2, 19, 3}, {4, 22, 6}};
    for (auto &r : recs) {
        a.U8((uint8_t)r[0]);
        a.U32(r[1]);
        a.U32(0);
        a.U32(r[2]);
        a.U32(0);
        a.U32(0);
    }
    a.U32(3);
    a.U32(1);
    a.U32(0);
    at->regionIndex = a.b.size();
    a.U32(0);
    a.U32(1);
    a.U32(2);
    a.U32(1);
    at->folders = a.b.size();
    a.U16(0x1103);
    a.U32(6 + 8 + 2 * (268 + 4) + 2 * 280);
    a.U32(1);
    at->folderCount = a.b.size();
    a.U32(2);
    a.Name("");
    a.U32(16);
    a.U32(0x11111111);
    a.U32(0x01D00000);
    at->firstFileCount = a.b.size();
    a.U32(1);
    a.Name("b.bin");
    a.U32(0);
    a.U32(0);
    a.U32(0);
    a.U32(6);
    a.U32(0);
    a.U32(2);
    a.Name("Data\\");
    a.U32(16);
    a.U32(0);
    a.U32(0);
    a.U32(1);
    a.Name("a.txt");
    a.U32(0x20);
    a.U32(0);
    a.U32(0);
    a.U32(5);
    a.U32(0);
    at->fileRegion = a.b.size();
    a.U32(0);
    return a;
}

class Packed : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[64];
        sprintf(name, "pcltest_%lu_%d.pcl", GetCurrentProcessId(), s_serial++);
        m_path = TempDir() + name;
        DeleteFileA(m_path.c_str());
    }
    void TearDown() override
    {
        SetFileAttributesA(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(m_path.c_str());
    }
    BOOL Create(CParcel &p, DWORD table = 1024) { return p.Open(1, m_path.c_str(), 4, table); }
    BOOL Reopen(CParcel &p) { return p.Open(1, m_path.c_str(), 0, 10240); }
    // A new archive holding these files, flushed and closed.
    bool Store(const Contents &files)
    {
        CParcel p;
        bool ok = Create(p) && PutAll(p, files) && p.Flush(0);
        p.Close();
        return ok;
    }

    std::string m_path;
    static int s_serial;
};
int Packed::s_serial = 0;

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

} // namespace

// ------------------------------------------------------------------ opening

TEST_F(Packed, OpenReadOnlyFlagsOnMissingFileCreatesNothing)
{
    CParcel p;
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 2, 10240));
    EXPECT_NE(p.GetMode(), 0u);
    EXPECT_EQ(GetFileAttributesA(m_path.c_str()), INVALID_FILE_ATTRIBUTES);
    // Every file is then missing, and nothing can be made.
    EXPECT_EQ(p.CreateFile("a", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.CreateFile("a", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA d;
    EXPECT_EQ(p.FindFirstFile("*.*", &d), INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.MmioOpen("a.wav", nullptr, MMIO_READ), nullptr);
    EXPECT_FALSE(p.Flush(1));
    p.Close();
    EXPECT_EQ(p.GetMode(), 0u);
    EXPECT_STREQ(p.GetRoot(), "");
}

TEST_F(Packed, OpenCreateFlagMakesArchiveWithOnlyRoot)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    EXPECT_EQ(p.GetChanged(), 1u);
    EXPECT_NE(p.FindFolder(""), nullptr);
    EXPECT_TRUE(FindAll(p, "*.*").empty());
    p.Close();
}

TEST_F(Packed, EmptyFileIsTreatedAsAbsent)
{
    SaveDisk(m_path, Blob());
    CParcel p;
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 0, 10240));
    p.Close();
    ASSERT_TRUE(Create(p));
    p.Close();
}

TEST_F(Packed, NewEmptyArchiveIsWrittenAsTheTablesSay)
{
    CParcel p;
    ASSERT_TRUE(Create(p, 100)); // raised to 1024
    ASSERT_TRUE(p.Flush(0));
    EXPECT_EQ(p.GetChanged(), 0u);
    p.Close();
    Blob disk = LoadDisk(m_path);
    Bytes e;
    e.U32(1);
    e.U16(0x1101);
    e.U32(10);
    e.U32(1);
    e.U16(0x1102);
    e.U32(6 + 12 + 12);
    e.U32(2);
    e.U32(1024);
    e.U32(0);
    e.U32(0);
    e.U32(0);
    e.U32(0);
    e.U16(0x1103);
    e.U32(6 + 8 + 268 + 4);
    e.U32(1);
    e.U32(1);
    e.Name("");
    e.U32(16);
    e.U32(0); // time, compared apart
    e.U32(0);
    e.U32(0);
    ASSERT_EQ(disk.size(), e.b.size());
    const size_t time = 14 + 30 + 14 + 256 + 4;
    for (size_t i = 0; i < disk.size(); ++i) {
        if (i < time || i >= time + 8) {
            EXPECT_EQ(disk[i], e.b[i]) << "offset " << i;
        }
    }
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    EXPECT_TRUE(FindAll(q, "*.*").empty());
    q.Close();
}

TEST_F(Packed, HandMadeArchiveReadsBack)
{
    Layout at;
    SaveDisk(m_path, HandMade(&at).b);
    CParcel p;
    ASSERT_TRUE(Reopen(p));
    EXPECT_EQ(p.GetChanged(), 0u);
    Blob b;
    ASSERT_TRUE(Get(p, "data\\A.TXT", &b));
    EXPECT_EQ(std::string(b.begin(), b.end()), "hello");
    ASSERT_TRUE(Get(p, "b.bin", &b));
    EXPECT_EQ(std::string(b.begin(), b.end()), "world!");
    DWORD lo = 0, hi = 7;
    ASSERT_TRUE(p.GetFileLocation("b.bin", &lo, &hi));
    EXPECT_EQ(lo, 22u);
    EXPECT_EQ(hi, 0u);
    EXPECT_EQ(FindAll(p, "*.*"), (std::vector<std::string>{"Data\\", "b.bin"}));
    p.Close();
}

TEST_F(Packed, RoundTripKeepsFoldersEntriesAndBytes)
{
    const Contents files = {
        {"Data\\Configs\\Item.cfb", Pattern(1000, 1)},
        {"Data\\Configs\\Skill.cfb", Pattern(3, 2)},
        {"Data\\Avatar\\Motions\\walk.anm", Pattern(70000, 3)},
        {"top.txt", Pattern(0, 4)},
        {"Data/Forward/slash.png", Pattern(17, 5)},
    };
    ASSERT_TRUE(Store(files));
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    EXPECT_TRUE(Holds(q, files));
    EXPECT_NE(q.FindFolder("Data\\Avatar\\Motions"), nullptr);
    q.Close();
}

// ------------------------------------------------------------- entries

TEST_F(Packed, ForwardSlashIsPartOfTheName)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "Data/Configs/Item.cfb", Pattern(10, 1)));
    EXPECT_EQ(p.FindFolder("Data/Configs/"), nullptr);
    EXPECT_EQ(FindAll(p, "*"), std::vector<std::string>{"Data/Configs/Item.cfb"});
    p.Close();
}

TEST_F(Packed, DispositionsOfCreateFile)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "x\\a.bin", Pattern(10, 7)));
    EXPECT_EQ(p.CreateFile("x\\A.BIN", 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE h1 = p.CreateFile("x\\a.bin", 0, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    HANDLE h2 = p.CreateFile("x\\a.bin", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h1, INVALID_HANDLE_VALUE);
    ASSERT_NE(h2, INVALID_HANDLE_VALUE);
    EXPECT_NE(h1, h2);
    // Two handles keep their own positions.
    uint8_t b1[4], b2[2];
    DWORD got = 0;
    ASSERT_TRUE(p.ReadFile(h1, b1, 4, &got, nullptr));
    ASSERT_TRUE(p.ReadFile(h2, b2, 2, &got, nullptr));
    Blob want = Pattern(10, 7);
    EXPECT_EQ(memcmp(b1, want.data(), 4), 0);
    EXPECT_EQ(memcmp(b2, want.data(), 2), 0);
    EXPECT_EQ(p.SetFilePointer(h1, 0, nullptr, FILE_CURRENT), 4u);
    EXPECT_EQ(p.SetFilePointer(h2, 0, nullptr, FILE_CURRENT), 2u);
    EXPECT_TRUE(p.CloseHandle(h1));
    EXPECT_TRUE(p.CloseHandle(h2));
    // Truncating keeps the name and drops the contents.
    HANDLE t = p.CreateFile("x\\a.bin", 0, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(t, INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.GetFileSize(t, nullptr), 0u);
    p.CloseHandle(t);
    EXPECT_EQ(p.CreateFile("x\\none", 0, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.CreateFile("x\\none", 0, 0, nullptr, 9, 0, nullptr), INVALID_HANDLE_VALUE);
    p.Close();
}

TEST_F(Packed, WritesAreBoundedByTheRecordedSize)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    HANDLE h = p.CreateFile("n", 0, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    p.SetFileSize(h, 100, 0);
    Blob data = Pattern(150, 3);
    DWORD done = 0;
    EXPECT_TRUE(p.WriteFile(h, data.data(), 150, &done, nullptr));
    EXPECT_EQ(done, 100u);
    EXPECT_FALSE(p.WriteFile(h, data.data(), 10, &done, nullptr));
    EXPECT_EQ(done, 0u);
    // Reading at the end transfers nothing and fails.
    EXPECT_FALSE(p.ReadFile(h, data.data(), 10, &done, nullptr));
    EXPECT_EQ(done, 0u);
    p.CloseHandle(h);
    p.Close();
}

TEST_F(Packed, SeeksAreClampedToTheRegion)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    ASSERT_TRUE(Put(p, "b", Pattern(40, 2)));
    HANDLE h = p.CreateFile("b", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LONG high = 5;
    EXPECT_EQ(p.SetFilePointer(h, 0, &high, FILE_END), 40u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(p.SetFilePointer(h, -1000, nullptr, FILE_CURRENT), 0u);
    EXPECT_EQ(p.SetFilePointer(h, 1000, nullptr, FILE_BEGIN), 40u);
    EXPECT_EQ(p.SetFilePointer(h, -5, nullptr, FILE_END), 35u);
    uint8_t buf[16];
    DWORD got = 0;
    ASSERT_TRUE(p.ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(memcmp(buf, Pattern(40, 2).data() + 35, 5), 0);
    EXPECT_EQ(p.SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    p.CloseHandle(h);
    p.Close();
}

TEST_F(Packed, OverlappedTransfersAreRefused)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    HANDLE h = p.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    uint8_t buf[10];
    DWORD got = 99;
    EXPECT_FALSE(p.ReadFile(h, buf, 10, &got, &ov));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(p.WriteFile(h, buf, 10, &got, &ov));
    EXPECT_EQ(p.SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0u);
    p.CloseHandle(h);
    p.Close();
}

TEST_F(Packed, NamesLongerThanTheFieldAreRefused)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    std::string longName(256, 'n');
    std::string fits(255, 'n');
    EXPECT_EQ(p.CreateFile(longName.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE h = p.CreateFile(fits.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    p.CloseHandle(h);
    std::string longDir = std::string(300, 'd') + "\\x";
    EXPECT_FALSE(p.CreateDirectory(longDir.c_str(), nullptr));
    EXPECT_EQ(p.CreateFile(longDir.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    p.Close();
}

TEST_F(Packed, WhatTheTablesCannotHoldIsRefusedAndTheArchiveReopens)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    HANDLE h = p.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    p.SetFileSize(h, 5, 1);
    DWORD high = 9;
    EXPECT_EQ(p.GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    p.CloseHandle(h);
    EXPECT_EQ(p.CreateFile("dir\\", 0, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
    EXPECT_EQ(p.CreateFile("", 0, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_TRUE(Holds(p, {{"a", Pattern(10, 1)}}));
    p.Close();
}

TEST_F(Packed, StaleAndForeignHandlesAreRefused)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    HANDLE h = p.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(p.DeleteFile("a"));
    uint8_t buf[4];
    DWORD got = 0;
    EXPECT_FALSE(p.ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_FALSE(p.CloseHandle(h));
    int junk = 0;
    EXPECT_FALSE(p.CloseHandle((HANDLE)&junk));
    EXPECT_EQ(p.GetFileSize((HANDLE)&junk, nullptr), INVALID_FILE_SIZE);
    EXPECT_TRUE(p.CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(p.CloseHandle(nullptr));
    EXPECT_FALSE(p.FindClose((HANDLE)&junk));
    EXPECT_FALSE(p.FindClose(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(p.FindClose(nullptr));
    p.Close();
}

TEST_F(Packed, DeleteFileFreesTheRegion)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(10, 1)));
    ASSERT_TRUE(Put(p, "b", Pattern(10, 2)));
    DWORD lo = 0;
    ASSERT_TRUE(p.GetFileLocation("b", &lo, nullptr));
    EXPECT_EQ(lo, 24u);
    EXPECT_TRUE(p.DeleteFile("B"));
    EXPECT_FALSE(p.DeleteFile("b"));
    EXPECT_FALSE(p.GetFileLocation("b", &lo, nullptr));
    ASSERT_TRUE(Put(p, "c", Pattern(10, 3)));
    ASSERT_TRUE(p.GetFileLocation("c", &lo, nullptr));
    EXPECT_EQ(lo, 24u);
    p.Close();
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
    EXPECT_EQ(c->m_attributes, 16u);
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
    WIN32_FIND_DATAA d;
    EXPECT_EQ(p.FindFirstFile("nowhere\\*.*", &d), INVALID_HANDLE_VALUE);
    p.Close();
}

TEST_F(Packed, FindKeepsItsPlaceWhileEntriesAreDeleted)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
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
    p.Close();
}

TEST_F(Packed, RemoveDirectoryTakesDescendantsAndTheirSpace)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "keep", Pattern(10, 1)));
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
    EXPECT_NE(p.FindFolder("gone2\\"), nullptr);
    EXPECT_FALSE(p.RemoveDirectory("gone"));
    Blob b;
    EXPECT_TRUE(Get(p, "gone2\\x", &b));
    // The three freed regions sit between keep and gone2\x and are reused.
    ASSERT_TRUE(Put(p, "new", Pattern(30, 6)));
    DWORD lo = 0;
    ASSERT_TRUE(p.GetFileLocation("new", &lo, nullptr));
    EXPECT_EQ(lo, 24u);
    EXPECT_EQ(FindAll(p, "*.*"), (std::vector<std::string>{"gone2\\", "keep", "new"}));
    p.Close();
}

TEST_F(Packed, RemovingTheRootStillFlushesAnArchiveThatOpens)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a\\b.txt", Pattern(10, 1)));
    ASSERT_TRUE(Put(p, "c.txt", Pattern(10, 2)));
    EXPECT_TRUE(p.RemoveDirectory(""));
    EXPECT_EQ(p.FindFolder("a"), nullptr);
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    ASSERT_TRUE(Reopen(p));
    EXPECT_NE(p.FindFolder(""), nullptr);
    EXPECT_TRUE(FindAll(p, "*.*").empty());
    p.Close();
}

TEST_F(Packed, FolderInfoCarriesTheCodePageTypeName)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(p.CreateDirectory("pics\\", nullptr));
    p.SetOptions(0, 1, 7);
    SHFILEINFOA info;
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics", 0, &info, sizeof info, 0), 1u);
    const unsigned char typeName[] = {0xC6, 0xC4, 0xC0, 0xCF, 0x20, 0xC6, 0xFA, 0xB4, 0xF5, 0};
    EXPECT_EQ(memcmp(info.szTypeName, typeName, sizeof typeName), 0);
    EXPECT_STREQ(info.szDisplayName, "pics");
    EXPECT_EQ(info.iIcon, 7);
    EXPECT_EQ(info.hIcon, (HICON)1);
    EXPECT_EQ(info.dwAttributes, 16u);
    ASSERT_TRUE(Put(p, "pics\\Face.png", Pattern(4, 1)));
    memset(&info, 0, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics\\face.png", 0, &info, sizeof info, SHGFI_TYPENAME), 1u);
    EXPECT_STREQ(info.szDisplayName, "Face.png");
    EXPECT_EQ(info.dwAttributes, 0u);
    ASSERT_TRUE(Put(p, "pics\\noext", Pattern(4, 2)));
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics\\noext", 0, &info, sizeof info, SHGFI_TYPENAME), 1u);
    EXPECT_STREQ(info.szDisplayName, "noext");
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(p.GetFileInfo("pics\\none.png", 0, &info, sizeof info, 0), 0u);
    EXPECT_EQ(info.szDisplayName[0], 0);
    p.Close();
}

// ---------------------------------------------------------- multimedia files

TEST_F(Packed, MultimediaCallsSeeOnlyTheEntrysBytes)
{
    Bytes wav;
    wav.Raw("RIFF");
    wav.U32(4 + 8 + 4);
    wav.Raw("WAVE");
    wav.Raw("data");
    wav.U32(4);
    wav.U32(0xA1B2C3D4);
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "before", Pattern(33, 1)));
    ASSERT_TRUE(Put(p, "snd\\a.wav", wav.b));
    ASSERT_TRUE(Put(p, "after", Pattern(50, 2)));
    EXPECT_EQ(p.MmioOpen("snd\\a.wav", nullptr, MMIO_WRITE), nullptr);
    EXPECT_EQ(p.MmioOpen("snd\\none.wav", nullptr, MMIO_READ), nullptr);
    HMMIO m = p.MmioOpen("snd\\a.wav", nullptr, MMIO_READ);
    ASSERT_NE(m, nullptr);
    MMCKINFO riff;
    memset(&riff, 0, sizeof riff);
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(p.MmioDescend(m, &riff, nullptr, MMIO_FINDRIFF), 0u);
    MMCKINFO data;
    memset(&data, 0, sizeof data);
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
    p.Close();
}

TEST_F(Packed, MultimediaOpenOfEmptyOrUnwrittenEntryIsClean)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "empty.wav", Blob()));
    HANDLE h = p.CreateFile("unwritten.wav", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 64, 0);
    p.CloseHandle(h);
    for (const char *name : {"empty.wav", "unwritten.wav"}) {
        HMMIO m = p.MmioOpen(name, nullptr, MMIO_READ);
        if (m) {
            char c;
            EXPECT_LE(p.MmioRead(m, &c, 1), 0) << name;
            EXPECT_EQ(p.MmioClose(m, 0), 0u) << name;
        }
    }
    p.Close();
}

// ------------------------------------------------------------------- flush

TEST_F(Packed, FlushOnHolesEndsDataAtLastUsedRegion)
{
    CParcel p;
    ASSERT_TRUE(Create(p));
    ASSERT_TRUE(Put(p, "a", Pattern(100, 1)));
    ASSERT_TRUE(Put(p, "b", Pattern(100, 2)));
    ASSERT_TRUE(Put(p, "c", Pattern(50, 3)));
    ASSERT_TRUE(p.DeleteFile("a"));
    ASSERT_TRUE(p.Flush(1));
    p.Close();
    Blob disk = LoadDisk(m_path);
    uint32_t len = disk[6] | (disk[7] << 8) | (disk[8] << 16) | ((uint32_t)disk[9] << 24);
    EXPECT_EQ(len, 10u + 150u);
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    Blob b;
    ASSERT_TRUE(Get(q, "b", &b));
    EXPECT_EQ(b, Pattern(100, 2));
    ASSERT_TRUE(Get(q, "c", &b));
    EXPECT_EQ(b, Pattern(50, 3));
    q.Close();
}

TEST_F(Packed, CompactionLosesNoData)
{
    srand(99);
    Contents live;
    {
        CParcel p;
        ASSERT_TRUE(Create(p));
        for (int i = 0; i < 200; ++i) {
            char name[32];
            sprintf(name, "d%d\\f%03d.bin", i % 7, i);
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
        ASSERT_TRUE(p.Flush(1));
        ASSERT_TRUE(Holds(p, live));
        ASSERT_TRUE(p.RemoveDirectory("d3"));
        for (auto it = live.begin(); it != live.end();)
            it = it->first.compare(0, 3, "d3\\") == 0 ? live.erase(it) : std::next(it);
        ASSERT_TRUE(Put(p, "late.bin", Pattern(777, 5)));
        live["late.bin"] = Pattern(777, 5);
        ASSERT_TRUE(p.Flush(2));
        p.Close();
    }
    uint32_t size1 = (uint32_t)LoadDisk(m_path).size();
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    ASSERT_TRUE(Holds(q, live));
    ASSERT_TRUE(q.Flush(7)); // out-of-range level is clamped
    q.Close();
    EXPECT_LE(LoadDisk(m_path).size(), size1);
    CParcel r;
    ASSERT_TRUE(Reopen(r));
    EXPECT_TRUE(Holds(r, live));
    r.Close();
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
    uint8_t buf[4];
    DWORD got = 7;
    EXPECT_FALSE(p.ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(p.SetFilePointer(h, 2, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    DWORD lo = 0;
    EXPECT_FALSE(p.GetFileLocation("overflow", &lo, nullptr));
    p.CloseHandle(h);
    p.DeleteFile("overflow");
    ASSERT_TRUE(p.Flush(0));
    p.Close();
    const size_t full = LoadDisk(m_path).size();
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
    EXPECT_LT(LoadDisk(m_path).size() + 205 * 40 - 4100, full);
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    EXPECT_TRUE(Holds(q, live));
    q.Close();
}

TEST_F(Packed, FlushImportsSourceFiles)
{
    std::string src = m_path + ".src";
    Blob content = Pattern(5000, 9);
    SaveDisk(src, content);
    CParcel p;
    ASSERT_TRUE(Create(p));
    HANDLE h = p.CreateFile("in\\x.dat", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, (DWORD)content.size(), 0);
    ASSERT_TRUE(p.SetFileSource(h, src.c_str()));
    p.CloseHandle(h);
    h = p.CreateFile("in\\missing.dat", 0, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 10, 0);
    ASSERT_TRUE(p.SetFileSource(h, (src + ".none").c_str()));
    p.CloseHandle(h);
    ASSERT_TRUE(p.Flush(0));
    DWORD lo = 0;
    EXPECT_FALSE(p.GetFileLocation("in\\missing.dat", &lo, nullptr));
    p.Close();
    DeleteFileA(src.c_str());
    CParcel q;
    ASSERT_TRUE(Reopen(q));
    Blob b;
    ASSERT_TRUE(Get(q, "in\\x.dat", &b));
    EXPECT_EQ(b, content);
    q.Close();
}

// What a process that stops before Flush leaves behind: the file as it is on
// disk at that moment, read while the archive object still holds it open.
static Blob Snapshot(const std::string &path)
{
    Blob b;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return b;
    b.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!b.empty())
        ::ReadFile(f, b.data(), (DWORD)b.size(), &got, nullptr);
    ::CloseHandle(f);
    return b;
}

TEST_F(Packed, StopBeforeFlushLosesOnlyTheUnflushedChanges)
{
    const Contents old = {
        {"Data\\a.bin", Pattern(300, 1)},
        {"Data\\b.bin", Pattern(5000, 2)},
        {"c.txt", Pattern(20, 3)},
    };
    ASSERT_TRUE(Store(old));
    const std::string stopped = m_path + ".stopped";
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
    SaveDisk(stopped, Snapshot(m_path));
    {
        CParcel q;
        ASSERT_TRUE(q.Open(1, stopped.c_str(), 0, 10240));
        EXPECT_TRUE(Holds(q, old));
        EXPECT_TRUE(Missing(q, "d.txt"));
        EXPECT_TRUE(Missing(q, "e.txt"));
        q.Close();
    }
    // The changes themselves arrive with the next flush, and a later stop
    // keeps them.
    ASSERT_TRUE(p.Flush(0));
    ASSERT_TRUE(Put(p, "f.txt", Pattern(4000, 8)));
    ASSERT_TRUE(p.DeleteFile("e.txt"));
    SaveDisk(stopped, Snapshot(m_path));
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
    EXPECT_LT(LoadDisk(stopped).size(), 14u + 320u + 1500u);
    ASSERT_TRUE(q.Open(1, stopped.c_str(), 0, 10240));
    EXPECT_TRUE(Holds(q, flushed));
    q.Close();
    DeleteFileA(stopped.c_str());
}

TEST_F(Packed, ReadOnlyArchiveRefusesWritesAndFlush)
{
    ASSERT_TRUE(Store({{"a", Pattern(10, 1)}}));
    Blob before = LoadDisk(m_path);
    CParcel q;
    ASSERT_TRUE(q.Open(1, m_path.c_str(), 2, 10240)); // the engine's flags
    EXPECT_TRUE(q.IsReadOnly());
    Blob b;
    ASSERT_TRUE(Get(q, "a", &b));
    HANDLE h = q.CreateFile("a", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    EXPECT_FALSE(q.WriteFile(h, b.data(), 1, &done, nullptr));
    q.CloseHandle(h);
    EXPECT_FALSE(q.Flush(0));
    EXPECT_FALSE(q.Flush(1));
    q.Close();
    EXPECT_EQ(LoadDisk(m_path), before);
}

// ---------------------------------------------------------------- hostile

TEST_F(Packed, TruncationAtEveryOffsetFailsAndLeavesTheFile)
{
    Layout at;
    Blob whole = HandMade(&at).b;
    for (size_t n = 1; n < whole.size(); ++n) {
        Blob cut(whole.begin(), whole.begin() + (long)n);
        SaveDisk(m_path, cut);
        CParcel p;
        EXPECT_FALSE(p.Open(1, m_path.c_str(), 4, 1024)) << n;
        EXPECT_EQ(p.CreateFile("b.bin", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_FALSE(p.Flush(0));
        p.Close();
        ASSERT_EQ(LoadDisk(m_path), cut) << n;
    }
}

TEST_F(Packed, CorruptTablesFailCleanly)
{
    Layout at;
    HandMade(&at);
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"archive version", 0, 2},
        {"data chunk id", 4, 0x1102},
        {"data chunk past file", 6, 0x7FFFFFFF},
        {"data chunk too short", 6, 9},
        {"data version", 10, 0},
        {"storage id", at.storage, 0x1101},
        {"storage length", at.storage + 2, 0xFFFFFFF0u},
        {"record count above capacity", at.storageCount, 17},
        {"record count huge", at.storageCount, 0xFFFFFFFFu},
        {"region index out of range", at.regionIndex, 9},
        {"folder count huge", at.folderCount, 0x10000000u},
        {"folder count zero", at.folderCount, 0},
        {"file count huge", at.firstFileCount, 0x7FFFFFFFu},
        {"entry region out of range", at.fileRegion, 3},
        {"entry region free", at.fileRegion, 1},
        {"entries share a region", at.fileRegion, 2},
        {"folder chunk id", at.folders, 0x1104},
    };
    for (const Case &c : cases) {
        Bytes a = HandMade(&at);
        if (c.at == 4 || c.at == at.storage || c.at == at.folders) {
            a.b[c.at] = (uint8_t)c.value;
            a.b[c.at + 1] = (uint8_t)(c.value >> 8);
        } else {
            a.Patch(c.at, c.value);
        }
        SaveDisk(m_path, a.b);
        CParcel p;
        EXPECT_FALSE(p.Open(1, m_path.c_str(), 4, 1024)) << c.what;
        p.Close();
        EXPECT_EQ(LoadDisk(m_path), a.b) << c.what;
    }
}

TEST_F(Packed, CorruptNamesAndFolderOrderFailCleanly)
{
    Layout at;
    HandMade(&at);
    // A name field with no terminator.
    {
        Bytes a = HandMade(&at);
        size_t fileName = at.firstFileCount + 4;
        memset(&a.b[fileName], 'x', 256);
        SaveDisk(m_path, a.b);
        CParcel p;
        EXPECT_FALSE(p.Open(1, m_path.c_str(), 0, 1024));
        p.Close();
    }
    // A folder that is not the root comes first.
    {
        Bytes a = HandMade(&at);
        a.b[at.folderCount + 4] = 'q';
        a.b[at.folderCount + 5] = '\\';
        SaveDisk(m_path, a.b);
        CParcel p;
        EXPECT_FALSE(p.Open(1, m_path.c_str(), 0, 1024));
        p.Close();
    }
    // A folder whose parent is missing, or whose path lacks its backslash.
    for (const char *bad : {"No\\Data\\", "Data"}) {
        Bytes a = HandMade(&at);
        size_t folder2 = at.firstFileCount + 4 + 280;
        memset(&a.b[folder2], 0, 256);
        memcpy(&a.b[folder2], bad, strlen(bad));
        SaveDisk(m_path, a.b);
        CParcel p;
        EXPECT_FALSE(p.Open(1, m_path.c_str(), 0, 1024)) << bad;
        p.Close();
    }
}

TEST_F(Packed, CorruptArchiveIsNeverReplacedByCreate)
{
    Blob junk = Pattern(300, 4);
    SaveDisk(m_path, junk);
    CParcel p;
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 4 | 1, 1024));
    p.Close();
    EXPECT_FALSE(p.Open(1, m_path.c_str(), 4, 1024));
    p.Close();
    EXPECT_EQ(LoadDisk(m_path), junk);
}

// ---------------------------------------------------------------- threads

namespace {
struct Reader {
    CParcel *parcel;
    std::vector<std::string> names;
    std::map<std::string, Blob> *want;
    int failures;
};

DWORD WINAPI ReadLoop(void *arg)
{
    Reader *r = (Reader *)arg;
    for (int round = 0; round < 40; ++round) {
        for (const std::string &n : r->names) {
            Blob b;
            if (!Get(*r->parcel, n.c_str(), &b) || b != (*r->want)[n])
                ++r->failures;
        }
    }
    return 0;
}
} // namespace

TEST_F(Packed, TwoThreadsReadThroughOneArchive)
{
    std::map<std::string, Blob> want;
    CParcel p;
    ASSERT_TRUE(Create(p));
    Reader a{&p, {}, &want, 0}, b{&p, {}, &want, 0};
    for (int i = 0; i < 40; ++i) {
        char name[32];
        sprintf(name, "t\\%d.bin", i);
        want[name] = Pattern((size_t)(100 + i * 97), (uint32_t)i);
        ASSERT_TRUE(Put(p, name, want[name]));
        (i % 2 ? a : b).names.push_back(name);
    }
    ASSERT_TRUE(p.Flush(0));
    HANDLE t1 = CreateThread(nullptr, 0, ReadLoop, &a, 0, nullptr);
    HANDLE t2 = CreateThread(nullptr, 0, ReadLoop, &b, 0, nullptr);
    WaitForSingleObject(t1, INFINITE);
    WaitForSingleObject(t2, INFINITE);
    ::CloseHandle(t1);
    ::CloseHandle(t2);
    EXPECT_EQ(a.failures, 0);
    EXPECT_EQ(b.failures, 0);
    p.Close();
}
