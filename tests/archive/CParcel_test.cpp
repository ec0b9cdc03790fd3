#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "EngineRead.h"
#include "TempTree.h"
#include "archive/CParcel.h"

// Live heap blocks of this program, to see that objects give back what they take.
static volatile LONG s_liveBlocks = 0;

static void *CountedAlloc(size_t size)
{
    void *p = std::malloc(size ? size : 1);
    if (p)
        InterlockedIncrement(&s_liveBlocks);
    return p;
}

static void CountedFree(void *p)
{
    if (!p)
        return;
    InterlockedDecrement(&s_liveBlocks);
    std::free(p);
}

void *operator new(size_t size)
{
    void *p = CountedAlloc(size);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void *operator new[](size_t size)
{
    return operator new(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return CountedAlloc(size);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return CountedAlloc(size);
}
void operator delete(void *p) noexcept
{
    CountedFree(p);
}
void operator delete[](void *p) noexcept
{
    CountedFree(p);
}
void operator delete(void *p, size_t) noexcept
{
    CountedFree(p);
}
void operator delete[](void *p, size_t) noexcept
{
    CountedFree(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    CountedFree(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    CountedFree(p);
}

namespace {

void MakeDataTree(const TempTree &tree)
{
    tree.Folder("Data");
    tree.Folder("Data\\Configs");
    tree.File("Data\\Configs\\Item.cfb", "item table");
    tree.Folder("Data\\Scene");
    tree.File("Data\\Scene\\Empty.bsp", "");
}

struct ReaderJob
{
    CParcel *parcel;
    LONG mismatches;
};

DWORD WINAPI ReadRepeatedly(LPVOID context)
{
    ReaderJob *job = static_cast<ReaderJob *>(context);
    for (int i = 0; i < 300; ++i) {
        if (ReadWhole(*job->parcel, (i & 1) ? "Data/Configs/Item.cfb" : "Data\\Configs\\Item.cfb") != "item table")
            InterlockedIncrement(&job->mismatches);
    }
    return 0;
}

} // namespace

// The engine's access: open the tree with flags 2, then per file one
// CreateFile, one GetFileSize, one ReadFile and one CloseHandle.

TEST(ParcelEngine, ReadsLooseFilesBelowTheWorkingDirectory)
{
    TempTree tree;
    MakeDataTree(tree);
    WorkingDirectory cwd(tree.Path());
    CParcel parcel;
    parcel.Open(0, "", 2, 10240);
    EXPECT_EQ("item table", ReadWhole(parcel, "Data/Configs/Item.cfb"));
    EXPECT_EQ("item table", ReadWhole(parcel, "Data\\Configs\\Item.cfb"));
    EXPECT_EQ("", ReadWhole(parcel, "Data/Scene/Empty.bsp"));
    EXPECT_EQ("<missing>", ReadWhole(parcel, "Data/Configs/Skill.cfb"));
    parcel.Close();
}

TEST(ParcelEngine, ReadsLooseFilesBelowAGivenRoot)
{
    TempTree tree;
    MakeDataTree(tree);
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(0u, parcel.GetMode());
    EXPECT_EQ("item table", ReadWhole(parcel, "Data/Configs/Item.cfb"));
    EXPECT_EQ("item table", ReadWhole(parcel, "Data\\Configs/Item.cfb"));
}

TEST(ParcelEngine, TwoThreadsReadThroughOneObject)
{
    TempTree tree;
    MakeDataTree(tree);
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    ReaderJob jobs[2] = {{&parcel, 0}, {&parcel, 0}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, ReadRepeatedly, &jobs[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        CloseHandle(threads[i]);
        EXPECT_EQ(0, jobs[i].mismatches);
    }
}

// Packed mode through the same interface.

TEST(ParcelPacked, OpeningLooseFilesAfterAnArchiveLeavesPackedMode)
{
    TempTree tree;
    MakeDataTree(tree);
    CParcel parcel;
    CParcelBase &base = parcel;
    // Through the base class the archive object's own Open runs.
    EXPECT_FALSE(base.Open(1, tree.Full("data.pcl").c_str(), 2, 10240));
    EXPECT_NE(0u, parcel.GetMode());
    ASSERT_TRUE(base.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(0u, parcel.GetMode());
    EXPECT_EQ("item table", ReadWhole(parcel, "Data/Configs/Item.cfb"));
}

TEST(ParcelPlain, ArchiveOnlyOperationsAreNeutral)
{
    TempTree tree;
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(nullptr, parcel.FindFolder(""));
    EXPECT_EQ(nullptr, parcel.FindFolder("Data"));
    EXPECT_FALSE(parcel.Flush(1));
    DWORD low = 9, high = 9;
    EXPECT_TRUE(parcel.GetFileLocation("Data/Configs/Item.cfb", &low, &high));
    EXPECT_EQ(0u, low);
    EXPECT_EQ(0u, high);
    EXPECT_FALSE(parcel.IsReadOnly());
}

TEST(ParcelPlain, FolderOperationsReachTheDisk)
{
    TempTree tree;
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    ASSERT_TRUE(parcel.CreateDirectory("New", nullptr));
    HANDLE h = parcel.CreateFile("New\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    EXPECT_TRUE(parcel.WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(3u, parcel.SetFilePointer(h, 0, nullptr, FILE_CURRENT));
    EXPECT_TRUE(parcel.CloseHandle(h));
    EXPECT_TRUE(parcel.RemoveDirectory("New"));
    EXPECT_FALSE(tree.Exists("New"));
}

// Life of the object.

TEST(ParcelLife, DestructorReleasesRecordedNames)
{
    TempTree tree;
    const LONG before = s_liveBlocks;
    {
        CParcel *parcel = new CParcel;
        parcel->Open(0, tree.Path().c_str(), 2, 10240);
        parcel->SetRecordNames(TRUE);
        parcel->CreateFile("a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        parcel->MmioOpen("b.wav", nullptr, MMIO_READ);
        delete parcel;
    }
    EXPECT_EQ(before, s_liveBlocks);
}

TEST(ParcelLife, DestructorClosesAnOpenArchive)
{
    TempTree tree;
    const std::string archive = tree.Full("new.pcl");
    const LONG before = s_liveBlocks;
    {
        CParcel *parcel = new CParcel;
        ASSERT_TRUE(parcel->Open(1, archive.c_str(), 4, 1024));
        parcel->SetRecordNames(TRUE);
        HANDLE h = parcel->CreateFile("a.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        parcel->SetFileSize(h, 3, 0);
        DWORD written = 0;
        EXPECT_TRUE(parcel->WriteFile(h, "abc", 3, &written, nullptr));
        EXPECT_TRUE(parcel->CloseHandle(h));
        delete parcel;
    }
    EXPECT_EQ(before, s_liveBlocks);
    // Nothing holds the archive file any more.
    EXPECT_TRUE(DeleteFileA(archive.c_str()));
}

TEST(ParcelLife, OpeningLooseFilesReleasesTheArchive)
{
    TempTree tree;
    MakeDataTree(tree);
    const std::string archive = tree.Full("new.pcl");
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(1, archive.c_str(), 4, 1024));
    ASSERT_TRUE(parcel.Flush(0));
    ASSERT_TRUE(parcel.Open(1, archive.c_str(), 2, 1024));
    EXPECT_TRUE(parcel.IsReadOnly());
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(0u, parcel.GetMode());
    EXPECT_FALSE(parcel.IsReadOnly());
    EXPECT_TRUE(DeleteFileA(archive.c_str()));
    EXPECT_EQ("item table", ReadWhole(parcel, "Data/Configs/Item.cfb"));
}

TEST(ParcelLife, ObjectOpensAgainAfterClose)
{
    TempTree tree;
    MakeDataTree(tree);
    CParcel parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Full("Data").c_str(), 2, 10240));
    EXPECT_EQ("item table", ReadWhole(parcel, "Configs/Item.cfb"));
    parcel.Close();
    EXPECT_STREQ("", parcel.GetRoot());
    ASSERT_TRUE(parcel.Open(0, tree.Full("Data\\Configs").c_str(), 2, 10240));
    EXPECT_EQ("item table", ReadWhole(parcel, "Item.cfb"));
}

TEST(ParcelExports, ReleaseWithoutCreateAndTwiceIsHarmless)
{
    ReleaseParcel();
    CParcel *parcel = CreateParcel();
    ASSERT_NE(nullptr, parcel);
    ReleaseParcel();
    ReleaseParcel();
}

TEST(ParcelExports, CreateTwiceHandsOutTheSameObjectAndLeaksNothing)
{
    TempTree tree;
    MakeDataTree(tree);
    const LONG before = s_liveBlocks;
    CParcel *first = CreateParcel();
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(first->Open(0, tree.Path().c_str(), 2, 10240));
    // The first holder's object stays valid and is the one handed out again.
    EXPECT_EQ(first, CreateParcel());
    EXPECT_EQ("item table", ReadWhole(*first, "Data/Configs/Item.cfb"));
    ReleaseParcel();
    EXPECT_EQ(before, s_liveBlocks);
}

TEST(ParcelExports, CreatedObjectServesLooseFiles)
{
    TempTree tree;
    MakeDataTree(tree);
    CParcel *parcel = CreateParcel();
    ASSERT_NE(nullptr, parcel);
    EXPECT_EQ(0u, parcel->GetMode());
    ASSERT_TRUE(parcel->Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ("item table", ReadWhole(*parcel, "Data/Configs/Item.cfb"));
    ReleaseParcel();
}
