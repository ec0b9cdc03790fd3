#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "EngineRead.h"
#include "support/scratch_folder.h"
#include "archive/CParcelBase.h"

namespace {

// Reaches the protected hooks a tool would use.
class ProbeParcel : public CParcelBase
{
public:
    using CParcelBase::SetChanged;
};

void LogChange(DWORD changed, DWORD_PTR context)
{
    reinterpret_cast<std::vector<DWORD> *>(context)->push_back(changed);
}

HANDLE OpenForRead(CParcelBase &parcel, const char *name)
{
    return parcel.CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
}

} // namespace

// Open

TEST(ParcelOpen, RootEndsWithExactlyOneBackslash)
{
    ScratchFolder tree;
    tree.Folder("Data");
    tree.File("Data\\a.txt", "A");
    WorkingDirectory cwd(tree.Path());
    const std::string full = tree.Path() + "\\";
    const struct {
        std::string given, root;
    } cases[] = {
        {tree.Path(), full}, {full, full}, {tree.Path() + "/", full}, {tree.Path() + "\\\\", full},
        {"C:\\", "C:\\"},    {"C:", "C:\\"}, {"c:/", "c:\\"},
        // Relative roots and the empty path serve the working directory.
        {"Data", "Data\\"},  {"", ""},
    };
    for (const auto &c : cases) {
        CParcelBase parcel;
        EXPECT_TRUE(parcel.Open(0, c.given.c_str(), 2, 10240)) << c.given;
        EXPECT_EQ(c.root, parcel.GetRoot()) << c.given;
    }
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, nullptr, 2, 10240));
    EXPECT_EQ("A", ReadWhole(parcel, "Data/a.txt"));
    ASSERT_TRUE(parcel.Open(0, "Data", 2, 10240));
    EXPECT_EQ("A", ReadWhole(parcel, "a.txt"));
}

TEST(ParcelOpen, WhatIsNoFolderFailsAndLeavesNoRoot)
{
    ScratchFolder tree;
    tree.File("plain.txt", "x");
    const struct {
        std::string path;
        DWORD error; // 0: any
    } cases[] = {
        {tree.Full("nowhere"), 0},
        {tree.Full("nowhere\\"), 0},
        {tree.Full("plain.txt"), 0},
        {tree.Full("*"), 0},
        {std::string(400, 'a'), ERROR_FILENAME_EXCED_RANGE},
        // 259 characters leave no room for the backslash.
        {std::string(259, 'a'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto &c : cases) {
        CParcelBase parcel;
        ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
        EXPECT_FALSE(parcel.Open(0, c.path.c_str(), 2, 10240)) << c.path;
        if (c.error) {
            EXPECT_EQ(c.error, GetLastError());
        }
        EXPECT_STREQ("", parcel.GetRoot()) << c.path;
    }
}

// Files

TEST(ParcelFiles, EngineReadPatternWithEitherSlash)
{
    ScratchFolder tree;
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
    EXPECT_EQ("<missing>", ReadWhole(parcel, "Data/none.cfb"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForRead(parcel, nullptr));
}

TEST(ParcelFiles, RootPlusNameBeyondTheBufferFailsCleanly)
{
    ScratchFolder tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    const size_t room = MAX_PATH - 1 - std::strlen(parcel.GetRoot());
    const std::string tooLong(room + 1, 'n');
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForRead(parcel, tooLong.c_str()));
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
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForRead(parcel, std::string(100000, 'h').c_str()));

    // A name that just fits is passed on: the failure is the system's own.
    const std::string fits(room, 'n');
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForRead(parcel, fits.c_str()));
    EXPECT_NE(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_TRUE(parcel.HasFailed((parcel.GetRoot() + fits).c_str()));
}

// Name recording

TEST(ParcelNames, FailedNameRecordedOnceInAnyLetterCase)
{
    ScratchFolder tree;
    tree.File("Here.txt", "h");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    // Nothing is recorded while switched off.
    OpenForRead(parcel, "Missing.png");
    EXPECT_EQ(0, parcel.GetRequestedNames().GetCount());
    parcel.SetRecordNames(TRUE);
    for (const char *name : {"Missing.png", "MISSING.PNG", "missing.png", "Here.txt", "HERE.TXT"}) {
        HANDLE h = OpenForRead(parcel, name);
        if (h != INVALID_HANDLE_VALUE)
            parcel.CloseHandle(h);
        else
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << "recording keeps the error";
    }
    EXPECT_EQ(nullptr, parcel.MmioOpen("none.wav", nullptr, MMIO_READ));
    EXPECT_EQ(nullptr, parcel.MmioOpen("NONE.WAV", nullptr, MMIO_READ));
    const std::string root = parcel.GetRoot();
    EXPECT_EQ(2, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(3, parcel.GetRequestedNames().GetCount());
    // The full path is recorded, as first given.
    EXPECT_STREQ((root + "Missing.png").c_str(), parcel.GetFailedNames().First()->value->text);
    EXPECT_TRUE(parcel.HasFailed((root + "mIsSiNg.PnG").c_str()));
    EXPECT_TRUE(parcel.HasFailed((root + "none.wav").c_str()));
    EXPECT_TRUE(parcel.WasRequested((root + "here.txt").c_str()));
    EXPECT_FALSE(parcel.HasFailed((root + "Here.txt").c_str()));
    EXPECT_FALSE(parcel.HasFailed("Missing.png"));

    parcel.Close();
    EXPECT_EQ(0, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(0, parcel.GetRequestedNames().GetCount());
    EXPECT_FALSE(parcel.GetRecordNames());
    EXPECT_STREQ("", parcel.GetRoot());
}

namespace {

CParcelBase *s_shared;

// Each thread opens missing names of its own and the same shared ones.
DWORD WINAPI OpenMissingNames(LPVOID thread)
{
    for (int i = 0; i < 1000; ++i) {
        OpenForRead(*s_shared, ("t" + std::to_string((INT_PTR)thread) + "_" + std::to_string(i)).c_str());
        OpenForRead(*s_shared, ("SHARED" + std::to_string(i) + ".txt").c_str());
    }
    return 0;
}

} // namespace

TEST(ParcelNames, TwoThreadsRecordEveryNameOnce)
{
    ScratchFolder tree;
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    parcel.SetRecordNames(TRUE);
    s_shared = &parcel;
    HANDLE threads[2];
    for (INT_PTR i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, OpenMissingNames, reinterpret_cast<LPVOID>(i), 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(3000, parcel.GetFailedNames().GetCount());
    EXPECT_EQ(3000, parcel.GetRequestedNames().GetCount());
    EXPECT_TRUE(parcel.HasFailed((std::string(parcel.GetRoot()) + "shared999.TXT").c_str()));
}

TEST(ParcelNames, ChangeCallbackSeesEveryStoreUntilReset)
{
    std::vector<DWORD> log;
    ProbeParcel parcel;
    parcel.SetChanged(1);
    parcel.SetChangeCallback(LogChange, reinterpret_cast<DWORD_PTR>(&log));
    parcel.SetChanged(1);
    parcel.SetChanged(0);
    parcel.SetChanged(0);
    EXPECT_EQ(0u, parcel.GetChanged());
    parcel.Reset();
    parcel.SetChanged(1);
    EXPECT_EQ((std::vector<DWORD>{1, 0, 0}), log);
    EXPECT_EQ(1u, parcel.GetChanged());
}

// Folders

TEST(ParcelFolders, RemoveDirectoryTakesOnlyItsFolderBelowTheRoot)
{
    ScratchFolder tree;
    for (const char *folder :
         {"Root", "Root\\Foo", "Root\\Foo\\Sub", "Root\\Foo2", "Root\\Bar", "outside", "outside\\sub"})
        tree.Folder(folder);
    const char *kept[] = {"Root\\Foobar.txt", "Root\\Foo2\\c.txt", "Root\\Fo.txt", "outside.txt",
                          "outside\\sub\\k.txt"};
    for (const char *file : kept)
        tree.File(file, "k");
    for (const char *file : {"Root\\Foo\\a.txt", "Root\\Foo\\noext", "Root\\Foo\\Sub\\b.txt", "Root\\Bar\\d.txt"})
        tree.File(file, "x");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Full("Root").c_str(), 2, 10240));
    // The root itself, anything above it, wildcards and files are refused.
    for (const char *name : {"", "\\", "/", ".", ".\\", "Foo\\..", "..", "..\\Root", "..\\outside\\sub",
                             "Foo\\..\\..", "*", "F*", "Foo\\*", "...", "C:\\", "C:"}) {
        SetLastError(0);
        EXPECT_FALSE(parcel.RemoveDirectory(name)) << name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << name;
    }
    EXPECT_FALSE(parcel.RemoveDirectory(nullptr));
    EXPECT_FALSE(parcel.RemoveDirectory("Fo.txt"));
    EXPECT_TRUE(tree.Exists("Root\\Foo\\Sub\\b.txt"));
    // Siblings whose names start the same stay; either slash and a trailing
    // one are accepted; going down and up inside the root is still below it.
    EXPECT_TRUE(parcel.RemoveDirectory("Foo\\"));
    EXPECT_FALSE(tree.Exists("Root\\Foo"));
    EXPECT_FALSE(parcel.RemoveDirectory("Foo"));
    EXPECT_TRUE(parcel.RemoveDirectory("Foo2\\..\\Bar"));
    EXPECT_FALSE(tree.Exists("Root\\Bar"));
    for (const char *file : kept)
        EXPECT_TRUE(tree.Exists(file)) << file;
    EXPECT_TRUE(parcel.RemoveDirectory("Foo2/"));
    EXPECT_FALSE(tree.Exists("Root\\Foo2"));
    // Without a root the name is the caller's own, climbing included, but it
    // must end in a folder's name.
    WorkingDirectory cwd(tree.Full("Root"));
    CParcelBase loose;
    ASSERT_TRUE(loose.Open(0, "", 2, 10240));
    for (const char *name : {"", "\\", ".", "..", "..\\", "outside\\..", "*", "..\\out*", "C:\\", "C:"}) {
        SetLastError(0);
        EXPECT_FALSE(loose.RemoveDirectory(name)) << name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << name;
    }
    EXPECT_TRUE(loose.RemoveDirectory("..\\outside\\sub\\"));
    EXPECT_FALSE(tree.Exists("outside\\sub"));
    EXPECT_TRUE(tree.Exists("outside.txt"));
}

// No call that takes a name reaches above the root; going down and up
// inside it is still below it.
TEST(ParcelFolders, EveryCallWithANameStaysBelowTheRoot)
{
    ScratchFolder tree;
    tree.Folder("Root");
    tree.Folder("Root\\Foo");
    tree.File("outside.txt", "k");
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Full("Root").c_str(), 2, 10240));
    for (const char *name : {"..\\outside.txt", "../outside.txt", "Foo\\..\\..\\outside.txt", "C:..\\outside.txt",
                             "...\\outside.txt", "a:..\\outside.txt", "z:..\\outside.txt", "A:..\\outside.txt",
                             "Z:..\\outside.txt"}) {
        SCOPED_TRACE(name);
        const std::string escaped = std::string(name).substr(0, std::string(name).size() - 11) + "escaped.txt";
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(escaped.c_str(), GENERIC_WRITE, 0, nullptr,
                                                          CREATE_ALWAYS, 0, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        EXPECT_FALSE(parcel.DeleteFile(name));
        EXPECT_FALSE(parcel.CreateDirectory((escaped + "d").c_str(), nullptr));
        WIN32_FIND_DATAA data;
        EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.FindFirstFile(name, &data));
        SHFILEINFOA info = {};
        EXPECT_EQ(0u, parcel.GetFileInfo(name, 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
        EXPECT_EQ(nullptr, parcel.MmioOpen(name, nullptr, MMIO_READ));
    }
    EXPECT_EQ("k", tree.Read("outside.txt"));
    EXPECT_FALSE(tree.Exists("escaped.txt"));
    EXPECT_FALSE(tree.Exists("escaped.txtd"));
    HANDLE h = parcel.CreateFile("Foo\\..\\inside.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    parcel.CloseHandle(h);
    EXPECT_TRUE(tree.Exists("Root\\inside.txt"));
    EXPECT_TRUE(parcel.DeleteFile("Foo/../inside.txt"));
    EXPECT_FALSE(tree.Exists("Root\\inside.txt"));
    // The root itself is below it too.
    SHFILEINFOA info = {};
    EXPECT_NE(0u, parcel.GetFileInfo("Foo\\..", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
    // A part that names a device never names a file below the root.
    for (const char *name : {"nul.txt", "Foo\\aux.dat", "CON", "com1.log", "LPT9", "Nul .txt", "prn\\x.txt",
                             "conout$", "nul:"}) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.CreateFile(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr))
            << name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << name;
        WIN32_FIND_DATAA data;
        EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.FindFirstFile(name, &data)) << name;
        EXPECT_EQ(nullptr, parcel.MmioOpen(name, nullptr, MMIO_READ)) << name;
    }
    for (const char *name : {"nully.txt", "Foo\\com10", "auxiliary.dat", "lpt0"}) {
        HANDLE file = parcel.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << name;
        parcel.CloseHandle(file);
        EXPECT_TRUE(tree.Exists(std::string("Root\\") + name)) << name;
    }
    // Without a root, names are used as given from the working folder, and
    // may climb: an absolute name reaches anywhere anyway.
    WorkingDirectory cwd(tree.Full("Root\\Foo"));
    CParcelBase loose;
    ASSERT_TRUE(loose.Open(0, "", 2, 10240));
    for (const char *name : {"..\\..\\outside.txt", "../../outside.txt", ".\\..\\Foo\\..\\..\\outside.txt",
                             "..\\...\\..\\..\\outside.txt", "..\\ \\..\\..\\outside.txt"})
        EXPECT_EQ("k", ReadWhole(loose, name)) << name;
}

TEST(ParcelFolders, FindAndFileInfoWorkBelowTheRoot)
{
    ScratchFolder tree;
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
    EXPECT_TRUE(parcel.FindClose(find));
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"one.txt", "two.txt"}), names);
    EXPECT_EQ(INVALID_HANDLE_VALUE, parcel.FindFirstFile("E\\*.*", &data));

    SHFILEINFOA info = {};
    EXPECT_NE(0u, parcel.GetFileInfo("D\\one.txt", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
    EXPECT_NE(0u, parcel.GetFileInfo("D", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
    EXPECT_EQ(0u, parcel.GetFileInfo("D\\none.png", 0, &info, sizeof(info), SHGFI_ATTRIBUTES));
}

// Multimedia files

TEST(ParcelMmio, ChunksOfAWaveFileBelowTheRoot)
{
    // A RIFF WAVE file written from the chunk layout: "fmt " of 16 bytes and "data" of 4 bytes.
    const unsigned char wave[] = {
        'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 16, 0, 0, 0,
        1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
        'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4,
    };
    ScratchFolder tree;
    tree.Folder("snd");
    tree.File("snd\\a.wav", std::string(reinterpret_cast<const char *>(wave), sizeof(wave)));
    CParcelBase parcel;
    ASSERT_TRUE(parcel.Open(0, tree.Path().c_str(), 2, 10240));
    HMMIO mmio = parcel.MmioOpen("snd/a.wav", nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(nullptr, mmio);
    MMCKINFO riff = {}, chunk = {};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF));
    EXPECT_EQ(40u, riff.cksize);
    chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK));
    EXPECT_EQ(16u, chunk.cksize);
    EXPECT_EQ(MMSYSERR_NOERROR, parcel.MmioAscend(mmio, &chunk, 0));
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(MMSYSERR_NOERROR, parcel.MmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK));
    EXPECT_EQ(4u, chunk.cksize);
    char samples[8];
    EXPECT_EQ(4, parcel.MmioRead(mmio, samples, 8));
    EXPECT_EQ(0, std::memcmp(samples, wave + 44, 4));
    EXPECT_EQ(48, parcel.MmioSeek(mmio, 0, SEEK_CUR));
    EXPECT_EQ(MMSYSERR_NOERROR, parcel.MmioClose(mmio, 0));
}
