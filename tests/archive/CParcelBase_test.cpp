#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "EngineRead.h"
#include "TempTree.h"
#include "archive/CParcelBase.h"

namespace {

// Reaches the protected hooks a tool would use.
class ProbeParcel : public CParcelBase
{
public:
    using CParcelBase::SetChanged;
};

struct CallbackLog
{
    std::vector<DWORD> values;
};

void LogChange(DWORD changed, DWORD_PTR context)
{
    reinterpret_cast<CallbackLog *>(context)->values.push_back(changed);
}

} // namespace

// Open

TEST(ParcelOpen, EmptyPathServesTheWorkingDirectory)
{
    TempTree tree;
    tree.Folder("Data");
    tree.Folder("Data\\Configs");
    tree.File("Data\\Configs\\Item.cfb", "items");
    WorkingDirectory cwd(tree.Path());
    CParcelBase parcel;
    EXPECT_TRUE(parcel.Open(0, "", 2, 10240));
    EXPECT_STREQ("", parcel.GetRoot());
    EXPECT_EQ("items", ReadWhole(parcel, "Data/Configs/Item.cfb"));
    EXPECT_TRUE(parcel.Open(0, nullptr, 2, 10240));
    EXPECT_EQ("items", ReadWhole(parcel, "Data\\Configs\\Item.cfb"));
}

TEST(ParcelOpen, RootEndsWithExactlyOneBackslash)
{
    TempTree tree;
    const std::string expected = tree.Path() + "\\";
    for (const std::string &given : {tree.Path(), tree.Path() + "\\", tree.Path() + "/", tree.Path() + "\\\\"}) {
        CParcelBase parcel;
        EXPECT_TRUE(parcel.Open(0, given.c_str(), 2, 10240)) << given;
        EXPECT_EQ(expected, parcel.GetRoot()) << given;
    }
}

TEST(ParcelOpen, RelativeRootIsBelowTheWorkingDirectory)
{
    TempTree tree;
    tree.Folder("Data");
    tree.File("Data\\a.txt", "A");
    WorkingDirectory cwd(tree.Path());
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, "Data", 2, 10240));
    EXPECT_STREQ("Data\\", parcel.GetRoot());
    EXPECT_EQ("A", ReadWhole(parcel, "a.txt"));
}

TEST(ParcelOpen, MissingDirectoryFailsAndLeavesNoRoot)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_FALSE(parcel.Open(0, tree.Full("nowhere").c_str(), 2, 10240));
    EXPECT_STREQ("", parcel.GetRoot());
    EXPECT_FALSE(parcel.Open(0, tree.Full("nowhere\\").c_str(), 2, 10240));
    EXPECT_STREQ("", parcel.GetRoot());
}

TEST(ParcelOpen, FileOrWildcardIsNoRoot)
{
    TempTree tree;
    tree.File("plain.txt", "x");
    CParcelBase parcel;
    EXPECT_FALSE(parcel.Open(0, tree.Full("plain.txt").c_str(), 2, 10240));
    EXPECT_STREQ("", parcel.GetRoot());
    EXPECT_FALSE(parcel.Open(0, tree.Full("*").c_str(), 2, 10240));
    EXPECT_STREQ("", parcel.GetRoot());
}

TEST(ParcelOpen, DriveRootOpens)
{
    CParcelBase parcel;
    EXPECT_TRUE(parcel.Open(0, "C:\\", 2, 10240));
    EXPECT_STREQ("C:\\", parcel.GetRoot());
    EXPECT_TRUE(parcel.Open(0, "C:", 2, 10240));
    EXPECT_STREQ("C:\\", parcel.GetRoot());
    EXPECT_TRUE(parcel.Open(0, "c:/", 2, 10240));
    EXPECT_STREQ("c:\\", parcel.GetRoot());
}

TEST(ParcelOpen, OverlongPathFailsCleanly)
{
    CParcelBase parcel;
    const std::string longPath(400, 'a');
    EXPECT_FALSE(parcel.Open(0, longPath.c_str(), 2, 10240));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_STREQ("", parcel.GetRoot());
    // 259 characters leave no room for the backslash.
    const std::string edge(259, 'a');
    EXPECT_FALSE(parcel.Open(0, edge.c_str(), 2, 10240));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
}

// Files

TEST(ParcelFiles, EngineReadPatternWithEitherSlash)
{
    TempTree tree;
    tree.Folder("Data");
    tree.Folder("Data\\Scene");
    std::string contents;
    for (int i = 0; i < 70000; ++i)
        contents.push_back(static_cast<char>(i * 7));
    tree.File("Data\\Scene\\World.bsp", contents);
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(contents, ReadWhole(parcel, "Data/Scene/World.bsp"));
    EXPECT_EQ(contents, ReadWhole(parcel, "Data\\Scene\\World.bsp"));
    EXPECT_EQ(contents, ReadWhole(parcel, "data/scene\\WORLD.BSP"));
}

TEST(ParcelFiles, MissingFileGivesInvalidHandle)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile("Data/none.cfb", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(nullptr, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(ParcelFiles, WriteSeekReadRoundTrip)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    ASSERT_TRUE(parcel.CreateDirectory("out", nullptr));
    HANDLE h = parcel.CreateFile("out\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    EXPECT_TRUE(parcel.WriteFile(h, "0123456789", 10, &written, nullptr));
    EXPECT_EQ(10u, written);
    EXPECT_EQ(4u, parcel.SetFilePointer(h, 4, nullptr, FILE_BEGIN));
    char buffer[4] = {};
    DWORD read = 0;
    EXPECT_TRUE(parcel.ReadFile(h, buffer, 3, &read, nullptr));
    EXPECT_EQ(0, std::memcmp(buffer, "456", 3));
    EXPECT_EQ(8u, parcel.SetFilePointer(h, -2, nullptr, FILE_END));
    EXPECT_EQ(10u, parcel.GetFileSize(h, nullptr));
    FILETIME creation = {}, write = {};
    EXPECT_TRUE(parcel.GetFileTime(h, &creation, nullptr, &write));
    EXPECT_NE(0u, write.dwLowDateTime | write.dwHighDateTime);
    EXPECT_TRUE(parcel.CloseHandle(h));
    EXPECT_TRUE(tree.Exists("out\\f.bin"));
    EXPECT_TRUE(parcel.DeleteFile("out\\f.bin"));
    EXPECT_FALSE(tree.Exists("out\\f.bin"));
    EXPECT_FALSE(parcel.DeleteFile("out\\f.bin"));
}

TEST(ParcelFiles, RootPlusNameBeyondTheBufferFailsCleanly)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    const size_t room = MAX_PATH - 1 - std::strlen(parcel.GetRoot());
    const std::string tooLong(room + 1, 'n');
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(tooLong.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_TRUE(parcel.HasFailed(tooLong.c_str()));
    EXPECT_FALSE(parcel.DeleteFile(tooLong.c_str()));
    EXPECT_FALSE(parcel.CreateDirectory(tooLong.c_str(), nullptr));
    EXPECT_FALSE(parcel.RemoveDirectory(tooLong.c_str()));
    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.FindFirstFile(tooLong.c_str(), &data));
    EXPECT_EQ(nullptr, parcel.MmioOpen(tooLong.c_str(), nullptr, MMIO_READ));
    SHFILEINFOA info;
    EXPECT_EQ(0u, parcel.GetFileInfo(tooLong.c_str(), 0, &info, sizeof(info), SHGFI_DISPLAYNAME));
    const std::string huge(100000, 'h');
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(huge.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));

    // A name that just fits is passed on: the failure is the system's own.
    const std::string fits(room, 'n');
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(fits.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_NE(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_TRUE(parcel.HasFailed((parcel.GetRoot() + fits).c_str()));
}

// Name recording

TEST(ParcelNames, FailedNameRecordedOnceInAnyLetterCase)
{
    TempTree tree;
    tree.File("Here.txt", "h");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    for (const char *name : {"Missing.png", "MISSING.PNG", "missing.png", "Here.txt", "HERE.TXT"}) {
        HANDLE h = parcel.CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            parcel.CloseHandle(h);
    }
    const std::string root = parcel.GetRoot();
    EXPECT_EQ(1, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(2, parcel.GetRequestedNames().GetCount());
    // The full path is recorded, as first given.
    EXPECT_STREQ((root + "Missing.png").c_str(), parcel.GetFailedNames().GetRoot()->value->text);
    EXPECT_TRUE(parcel.HasFailed((root + "mIsSiNg.PnG").c_str()));
    EXPECT_TRUE(parcel.WasRequested((root + "here.txt").c_str()));
    EXPECT_FALSE(parcel.HasFailed((root + "Here.txt").c_str()));
    EXPECT_FALSE(parcel.HasFailed("Missing.png"));
}

TEST(ParcelNames, RecordingFailureKeepsTheErrorCode)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile("none.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

namespace {

struct RecordJob
{
    CParcelBase *parcel;
    int thread;
};

DWORD WINAPI OpenMissingNames(LPVOID context)
{
    RecordJob *job = static_cast<RecordJob *>(context);
    for (int i = 0; i < 300; ++i) {
        const std::string own = "t" + std::to_string(job->thread) + "_" + std::to_string(i) + ".txt";
        const std::string shared = "SHARED" + std::to_string(i) + ".txt";
        for (const std::string &name : {own, shared})
            job->parcel->CreateFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return 0;
}

} // namespace

TEST(ParcelNames, TwoThreadsRecordEveryNameOnce)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    RecordJob jobs[2] = {{&parcel, 0}, {&parcel, 1}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, OpenMissingNames, &jobs[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(900, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(900, parcel.GetRequestedNames().GetCount());
    EXPECT_TRUE(parcel.HasFailed((std::string(parcel.GetRoot()) + "shared299.TXT").c_str()));
}

TEST(ParcelNames, NothingRecordedWhileSwitchedOff)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.CreateFile("none.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    EXPECT_EQ(0, parcel.GetRequestedNames().GetCount());
    EXPECT_EQ(0, parcel.GetFailedNames().GetCount());
}

TEST(ParcelNames, CloseEmptiesSetsAndResets)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    parcel.MmioOpen("none.wav", nullptr, MMIO_READ);
    EXPECT_EQ(1, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(1, parcel.GetRequestedNames().GetCount());
    parcel.Close();
    EXPECT_EQ(0, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(0, parcel.GetRequestedNames().GetCount());
    EXPECT_FALSE(parcel.GetRecordNames());
    EXPECT_STREQ("", parcel.GetRoot());
    EXPECT_EQ(0u, parcel.GetMode());
}

TEST(ParcelNames, ChangeCallbackSeesEveryStoreUntilReset)
{
    CallbackLog log;
    ProbeParcel parcel;
    parcel.SetChanged(1);
    parcel.SetChangeCallback(LogChange, reinterpret_cast<DWORD_PTR>(&log));
    parcel.SetChanged(1);
    parcel.SetChanged(0);
    parcel.SetChanged(0);
    EXPECT_EQ(0u, parcel.GetChanged());
    parcel.Reset();
    parcel.SetChanged(1);
    EXPECT_EQ((std::vector<DWORD>{1, 0, 0}), log.values);
    EXPECT_EQ(1u, parcel.GetChanged());
}

// Folders

TEST(ParcelFolders, RemoveDirectoryLeavesSiblingsWithTheSamePrefix)
{
    TempTree tree;
    tree.Folder("Data");
    tree.Folder("Data\\Foo");
    tree.Folder("Data\\Foo\\Sub");
    tree.File("Data\\Foo\\a.txt", "a");
    tree.File("Data\\Foo\\noext", "n");
    tree.File("Data\\Foo\\Sub\\b.txt", "b");
    tree.File("Data\\Foobar.txt", "keep");
    tree.Folder("Data\\Foo2");
    tree.File("Data\\Foo2\\c.txt", "keep");
    tree.File("Data\\Fo.txt", "keep");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_TRUE(parcel.RemoveDirectory("Data\\Foo"));
    EXPECT_FALSE(tree.Exists("Data\\Foo"));
    EXPECT_TRUE(tree.Exists("Data\\Foobar.txt"));
    EXPECT_TRUE(tree.Exists("Data\\Foo2\\c.txt"));
    EXPECT_TRUE(tree.Exists("Data\\Fo.txt"));
}

TEST(ParcelFolders, RemoveDirectoryAcceptsTrailingSeparatorAndForwardSlash)
{
    TempTree tree;
    tree.Folder("A");
    tree.Folder("A\\B");
    tree.File("A\\B\\x.txt", "x");
    tree.Folder("A\\C");
    tree.File("A\\C\\y.txt", "y");
    tree.File("A\\keep.txt", "k");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_TRUE(parcel.RemoveDirectory("A\\B\\"));
    EXPECT_TRUE(parcel.RemoveDirectory("A/C"));
    EXPECT_FALSE(tree.Exists("A\\B"));
    EXPECT_FALSE(tree.Exists("A\\C"));
    EXPECT_TRUE(tree.Exists("A\\keep.txt"));
    EXPECT_FALSE(parcel.RemoveDirectory("A\\B"));
}

TEST(ParcelFolders, RemoveDirectoryNeverEmptiesTheRootOrAbove)
{
    TempTree tree;
    tree.Folder("Root");
    tree.File("Root\\keep.txt", "k");
    tree.Folder("Root\\Sub");
    tree.File("Root\\Sub\\keep.txt", "k");
    tree.File("outside.txt", "k");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Full("Root").c_str(), 2, 10240));
    for (const char *name : {"", "\\", "/", ".", ".\\", "Sub\\..", "..", "..\\Root", "Sub\\..\\..", "*", "S*",
                             "Sub\\*", "...", "C:\\", "C:"}) {
        SetLastError(0);
        EXPECT_FALSE(parcel.RemoveDirectory(name)) << name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << name;
    }
    EXPECT_FALSE(parcel.RemoveDirectory(nullptr));
    EXPECT_TRUE(tree.Exists("Root\\keep.txt"));
    EXPECT_TRUE(tree.Exists("Root\\Sub\\keep.txt"));
    EXPECT_TRUE(tree.Exists("outside.txt"));
    // Going down and up inside the root is still below it.
    EXPECT_TRUE(parcel.RemoveDirectory("Sub\\..\\Sub"));
    EXPECT_FALSE(tree.Exists("Root\\Sub"));
    EXPECT_TRUE(tree.Exists("Root\\keep.txt"));
}

TEST(ParcelFolders, RemoveDirectoryOnAFileRemovesNothing)
{
    TempTree tree;
    tree.File("file.txt", "k");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    EXPECT_FALSE(parcel.RemoveDirectory("file.txt"));
    EXPECT_TRUE(tree.Exists("file.txt"));
}

TEST(ParcelFolders, FindEnumeratesBelowTheRoot)
{
    TempTree tree;
    tree.Folder("D");
    tree.File("D\\one.txt", "1");
    tree.File("D\\two.txt", "2");
    tree.File("D\\three.dat", "3");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    WIN32_FIND_DATAA data;
    HANDLE find = parcel.FindFirstFile("D\\*.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    std::vector<std::string> names{data.cFileName};
    while (parcel.FindNextFile(find, &data))
        names.push_back(data.cFileName);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(parcel.FindClose(find));
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"one.txt", "two.txt"}), names);
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.FindFirstFile("E\\*.*", &data));
}

TEST(ParcelFolders, GetFileInfoAsksTheShellBelowTheRoot)
{
    TempTree tree;
    tree.Folder("Sub");
    tree.File("Sub\\image.png", "png");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    SHFILEINFOA info = {};
    EXPECT_NE(0u, parcel.GetFileInfo("Sub\\image.png", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
    EXPECT_NE(0u, parcel.GetFileInfo("Sub", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
    EXPECT_EQ(0u, parcel.GetFileInfo("Sub\\none.png", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
}

// Multimedia files

namespace {

// A RIFF WAVE file written from the chunk layout: "fmt " of 16 bytes and
// "data" of 4 bytes.
const unsigned char kWave[] = {
    'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', 16, 0, 0, 0,
    1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
    'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4,
};

} // namespace

TEST(ParcelMmio, ChunksOfAWaveFileBelowTheRoot)
{
    TempTree tree;
    tree.Folder("snd");
    tree.File("snd\\a.wav", std::string(reinterpret_cast<const char *>(kWave), sizeof(kWave)));
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    HMMIO mmio = parcel.MmioOpen("snd/a.wav", nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(nullptr, mmio);
    MMCKINFO riff = {};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF));
    EXPECT_EQ(40u, riff.cksize);
    MMCKINFO chunk = {};
    chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK));
    EXPECT_EQ(16u, chunk.cksize);
    unsigned char format[16];
    EXPECT_EQ(16, parcel.MmioRead(mmio, reinterpret_cast<HPSTR>(format), 16));
    EXPECT_EQ(0, std::memcmp(format, kWave + 20, 16));
    EXPECT_EQ(MMSYSERR_NOERROR, parcel.MmioAscend(mmio, &chunk, 0));
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK));
    EXPECT_EQ(4u, chunk.cksize);
    EXPECT_EQ(44, parcel.MmioSeek(mmio, 0, SEEK_CUR));

    // Direct buffer access: read the four samples through the info block.
    MMIOINFO info = {};
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioGetInfo(mmio, &info, 0));
    if (info.pchNext >= info.pchEndRead) {
        ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioAdvance(mmio, &info, MMIO_READ));
    }
    ASSERT_GE(info.pchEndRead - info.pchNext, 4);
    EXPECT_EQ(0, std::memcmp(info.pchNext, kWave + 44, 4));
    info.pchNext += 4;
    EXPECT_EQ(MMSYSERR_NOERROR, parcel.MmioSetInfo(mmio, &info, 0));
    EXPECT_EQ(48, parcel.MmioSeek(mmio, 0, SEEK_CUR));
    EXPECT_EQ(0, parcel.MmioSeek(mmio, 0, SEEK_SET));
    EXPECT_EQ(MMSYSERR_NOERROR, parcel.MmioClose(mmio, 0));
}

TEST(ParcelMmio, MissingFileRecordedAsFailed)
{
    TempTree tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    EXPECT_EQ(nullptr, parcel.MmioOpen("none.wav", nullptr, MMIO_READ));
    EXPECT_EQ(nullptr, parcel.MmioOpen("NONE.WAV", nullptr, MMIO_READ));
    EXPECT_EQ(1, parcel.GetFailedNames().GetCount());
    EXPECT_TRUE(parcel.HasFailed((std::string(parcel.GetRoot()) + "none.wav").c_str()));
}

// Operations that only a packed archive gives meaning to.

TEST(ParcelPlain, ArchiveOnlyOperationsAreNeutral)
{
    CParcelBase parcel;
    EXPECT_FALSE(parcel.Flush(0));
    EXPECT_FALSE(parcel.Flush(2));
    DWORD low = 5, high = 6;
    EXPECT_TRUE(parcel.GetFileLocation("any", &low, &high));
    EXPECT_EQ(0u, low);
    EXPECT_EQ(0u, high);
    EXPECT_TRUE(parcel.GetFileLocation("any", nullptr, nullptr));
    parcel.SetOptions(7, 8, 9);
    parcel.SetFileSize(INVALID_HANDLE_VALUE, 1, 0);
    EXPECT_EQ(0u, parcel.GetMode());
}
