#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "EngineRead.h"
#include "support/scratch_folder.h"
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
void operator delete(void *p) noexcept
{
    CountedFree(p);
}
void operator delete(void *p, size_t) noexcept
{
    CountedFree(p);
}

namespace {

void MakeDataTree(const ScratchFolder &tree)
{
    tree.Folder("Data");
    tree.Folder("Data\\Configs");
    tree.File("Data\\Configs\\Item.cfb", "item table");
    tree.Folder("Data\\Scene");
    tree.File("Data\\Scene\\Empty.bsp", "");
}

} // namespace

// Life of the object.

TEST(ParcelLife, OpeningLooseFilesReleasesTheArchiveAndLeavesPackedMode)
{
    ScratchFolder tree;
    MakeDataTree(tree);
    const std::string archive = tree.Full("new.pcl");
    CParcel parcel;
    CParcelBase &base = parcel;
    // Through the base class the archive object's own Open runs.
    EXPECT_FALSE(base.Open(1, archive.c_str(), 2, 10240));
    EXPECT_NE(0u, parcel.GetMode());
    ASSERT_TRUE(base.Open(1, archive.c_str(), 4, 1024));
    ASSERT_TRUE(parcel.Flush(0));
    ASSERT_TRUE(parcel.Open(1, archive.c_str(), 2, 1024));
    EXPECT_TRUE(parcel.IsReadOnly());
    ASSERT_TRUE(base.Open(0, tree.Full("Data").c_str(), 2, 10240));
    EXPECT_EQ(0u, parcel.GetMode());
    EXPECT_TRUE(DeleteFileA(archive.c_str()));
    // The engine's read pattern through the archive object.
    EXPECT_EQ("item table", ReadWhole(parcel, "Configs/Item.cfb"));
    EXPECT_EQ("", ReadWhole(parcel, "Scene\\Empty.bsp"));
    EXPECT_EQ("<missing>", ReadWhole(parcel, "Configs/Skill.cfb"));

    // The operations only an archive gives meaning to are neutral.
    EXPECT_FALSE(parcel.IsReadOnly());
    EXPECT_EQ(nullptr, parcel.FindFolder(""));
    EXPECT_FALSE(parcel.Flush(1));
    DWORD low = 9, high = 9;
    EXPECT_TRUE(parcel.GetFileLocation("Configs/Item.cfb", &low, &high));
    EXPECT_EQ(0u, low);
    EXPECT_EQ(0u, high);
    EXPECT_TRUE(parcel.GetFileLocation("any", nullptr, nullptr));

    // Writes, seeks and folder operations reach the disk.
    ASSERT_TRUE(parcel.CreateDirectory("New", nullptr));
    HANDLE h = parcel.CreateFile("New\\f.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD done = 0;
    EXPECT_TRUE(parcel.WriteFile(h, "0123456789", 10, &done, nullptr));
    EXPECT_EQ(10u, done);
    EXPECT_EQ(4u, parcel.SetFilePointer(h, 4, nullptr, FILE_BEGIN));
    char buffer[4] = {};
    EXPECT_TRUE(parcel.ReadFile(h, buffer, 3, &done, nullptr));
    EXPECT_STREQ("456", buffer);
    EXPECT_EQ(8u, parcel.SetFilePointer(h, -2, nullptr, FILE_END));
    EXPECT_TRUE(parcel.CloseHandle(h));
    EXPECT_TRUE(tree.Exists("Data\\New\\f.txt"));
    EXPECT_TRUE(parcel.DeleteFile("New\\f.txt"));
    EXPECT_FALSE(tree.Exists("Data\\New\\f.txt"));
    EXPECT_FALSE(parcel.DeleteFile("New\\f.txt"));
    EXPECT_TRUE(parcel.RemoveDirectory("New"));
    EXPECT_FALSE(tree.Exists("Data\\New"));

    // And the object opens again after Close.
    parcel.Close();
    EXPECT_STREQ("", parcel.GetRoot());
    ASSERT_TRUE(parcel.Open(0, tree.Full("Data\\Configs").c_str(), 2, 10240));
    EXPECT_EQ("item table", ReadWhole(parcel, "Item.cfb"));
}

TEST(ParcelLife, DestructorReleasesRecordedNamesAndTheArchive)
{
    ScratchFolder tree;
    const std::string archive = tree.Full("new.pcl");
    const LONG before = s_liveBlocks;
    for (DWORD mode : {0u, 1u}) {
        CParcel *parcel = new CParcel;
        ASSERT_TRUE(parcel->Open(mode, mode ? archive.c_str() : tree.Path().c_str(), mode ? 4 : 2, 1024));
        parcel->SetRecordNames(TRUE);
        parcel->CreateFile("none.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        parcel->MmioOpen("b.wav", nullptr, MMIO_READ);
        HANDLE h = parcel->CreateFile("a.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        parcel->SetFileSize(h, 3, 0);
        DWORD written = 0;
        EXPECT_TRUE(parcel->WriteFile(h, "abc", 3, &written, nullptr));
        EXPECT_TRUE(parcel->CloseHandle(h));
        delete parcel;
        EXPECT_EQ(before, s_liveBlocks) << mode;
    }
    // Nothing holds the archive file any more.
    EXPECT_TRUE(DeleteFileA(archive.c_str()));
}

// Each call makes an object of its own: the first holder keeps writing into
// its own archive, and releases that object itself.
TEST(ParcelExports, CreateTwiceHandsOutTwoObjectsAndLeaksNothing)
{
    ScratchFolder tree;
    ReleaseParcel(); // an empty slot: nothing happens
    const LONG before = s_liveBlocks;
    CParcel *first = CreateParcel();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(0u, first->GetMode());
    ASSERT_TRUE(first->Open(1, tree.Full("x.pcl").c_str(), 4, 1024));
    CParcel *second = CreateParcel();
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    ASSERT_TRUE(second->Open(1, tree.Full("y.pcl").c_str(), 4, 1024));
    HANDLE h = first->CreateFile("meant-for-x.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    first->SetFileSize(h, 1, 0);
    DWORD done = 0;
    EXPECT_TRUE(first->WriteFile(h, "x", 1, &done, nullptr));
    first->CloseHandle(h);
    EXPECT_TRUE(first->Flush(0));
    EXPECT_TRUE(second->Flush(0));
    ReleaseParcel(); // the second object, the one in the slot
    first->Close();
    delete first;
    EXPECT_EQ(before, s_liveBlocks);
    ReleaseParcel();
    CParcel x, y;
    ASSERT_TRUE(x.Open(1, tree.Full("x.pcl").c_str(), 2, 1024));
    ASSERT_TRUE(y.Open(1, tree.Full("y.pcl").c_str(), 2, 1024));
    EXPECT_EQ("x", ReadWhole(x, "meant-for-x.txt"));
    EXPECT_EQ("<missing>", ReadWhole(y, "meant-for-x.txt"));
}
