// Tests of the file-system manager and the Win32 file system on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "fstestutil.h"
#include "gfx/core/memory.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

// A file system that only records what reaches it: opens, closes and exists
// checks (the manager needs nothing else of it here).
struct FakeFileSystem {
    RwFileSystem fs;
    RwFile slots[3];
    char lastPath[300];
    RwUInt32 lastFlags;
    RwInt32 openResult;
};

FakeFileSystem *Fake(RwFileSystem *fs)
{
    return reinterpret_cast<FakeFileSystem *>(fs);
}

RwFile *FakeGetFile(RwFileSystem *fs, RwInt32 index)
{
    return (index >= 0 && index < 3) ? &Fake(fs)->slots[index] : nullptr;
}
void FakeCloseSystem(RwFileSystem *) {}
RwInt32 FakeOpen(RwFileSystem *fs, RwFile *file, const RwChar *path, RwUInt32 flags)
{
    std::strncpy(Fake(fs)->lastPath, path, sizeof(Fake(fs)->lastPath) - 1);
    Fake(fs)->lastFlags = flags;
    if (Fake(fs)->openResult == rwFSOK) {
        file->state = rwFILESTATEREADY;
        file->position = 0;
    }
    return Fake(fs)->openResult;
}
void FakeRelease(RwFile *file) { file->state = rwFILESTATEFREE; }
RwBool FakeExists(RwFileSystem *fs, const RwChar *path)
{
    std::strncpy(Fake(fs)->lastPath, path, sizeof(Fake(fs)->lastPath) - 1);
    return TRUE;
}

// Made with the library's allocator, since the manager frees it at close.
FakeFileSystem *MakeFake(const char *prefix, const char *name, RwInt32 *initResult = nullptr)
{
    FakeFileSystem *fake = static_cast<FakeFileSystem *>(RwMalloc(sizeof(FakeFileSystem), 0x401BE));
    std::memset(fake, 0, sizeof(*fake));
    fake->openResult = rwFSOK;
    RwFileSystem *fs = &fake->fs;
    fs->slots = fake->slots;
    fs->getFile = FakeGetFile;
    fs->close = FakeCloseSystem;
    fs->fOpen = FakeOpen;
    fs->fClose = FakeRelease;
    fs->fRelease = FakeRelease;
    fs->fExists = FakeExists;
    RwInt32 result = RwFileSystemInit(fs, 3, prefix, name);
    if (initResult) {
        *initResult = result;
    }
    if (result != rwFSOK) {
        if (fs->devicePrefix) {
            RwFree(fs->devicePrefix);
        }
        RwFree(fake);
        return nullptr;
    }
    return fake;
}

FakeFileSystem *MountFake(const char *prefix, const char *name)
{
    FakeFileSystem *fake = MakeFake(prefix, name);
    EXPECT_NE(fake, nullptr);
    if (fake) {
        EXPECT_TRUE(RwFileSystemRegister(&fake->fs));
    }
    return fake;
}

class FileSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        ASSERT_TRUE(RwFileSystemManagerOpen(-1));
    }
    void TearDown() override { RwFileSystemManagerClose(); }
};

TEST_F(FileSystem, PathGoesToTheSystemOfItsDevicePrefixElseTheDefault)
{
    EXPECT_EQ(RwFopen("C:/x", "rb"), nullptr);  // nothing registered
    FakeFileSystem *c = MountFake("C:", "C");
    EXPECT_EQ(RwFopen("relative.txt", "rb"), nullptr);  // no default
    EXPECT_FALSE(RwFexist("relative.txt"));
    FakeFileSystem *unc = MountFake("\\\\server\\share\\", "unc");
    FakeFileSystem *net = MountFake("NET:A:", "Net");
    RwFileSystemSetDefault(&unc->fs);
    RwFile *file = RwFopen("c:/data/x.txt", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileSystem, &c->fs);
    EXPECT_STREQ(c->lastPath, "c:/data/x.txt");
    EXPECT_EQ(c->lastFlags, rwFILEFLAGREAD);
    EXPECT_EQ(RwFclose(file), 0);
    EXPECT_EQ(RwFclose(file), -1);
    EXPECT_EQ(RwFileSystemGetForPath("textures/a.png"), &unc->fs);
    EXPECT_EQ(RwFileSystemGetForPath("q:/a.png"), &unc->fs);
    EXPECT_TRUE(RwFexist("a.png"));
    EXPECT_STREQ(unc->lastPath, "a.png");
    // A later colon can end the prefix; devices ignore case, names do not.
    EXPECT_EQ(RwFileSystemGetForPath("net:a:/x"), &net->fs);
    EXPECT_EQ(RwFileSystemGetForPath("net:/x"), &unc->fs);
    EXPECT_EQ(RwFileSystemFindByDevice("net:a:"), &net->fs);
    EXPECT_EQ(RwFileSystemFindByName("Net"), &net->fs);
    EXPECT_EQ(RwFileSystemFindByName("net"), nullptr);
    EXPECT_TRUE(RwFileSystemCheckNameInUse("Net"));
    // A failed open gives its slot back.
    c->openResult = rwFSERRORCREATE;
    EXPECT_EQ(RwFopen("C:/x", "rb"), nullptr);
    for (const RwFile &slot : c->slots) {
        EXPECT_EQ(slot.state, rwFILESTATEFREE);
    }
}

TEST_F(FileSystem, RegistrationsThatClashOrDoNotFitAreRefused)
{
    RwFileSystemManagerClose();
    ASSERT_TRUE(RwFileSystemManagerOpen(3));
    RwFileSystem *unc = RwWin32FileSystemCreate(20, "C:\\", "unc");
    ASSERT_NE(unc, nullptr);
    ASSERT_TRUE(RwFileSystemRegister(unc));
    EXPECT_EQ(RwWin32FileSystemCreate(20, "D:\\", "unc"), nullptr);
    MountFake("L:", "sevench");
    const struct {
        const char *prefix;
        const char *name;
        RwInt32 result;
    } refused[] = {{"E:", "unc", rwFSERRORNAMEINUSE},
                   {"l:", "other", rwFSERRORDEVICEINUSE},
                   {"M:", "eightchr", rwFSERRORBADNAME}};
    for (const auto &r : refused) {
        RwInt32 result = 0;
        EXPECT_EQ(MakeFake(r.prefix, r.name, &result), nullptr);
        EXPECT_EQ(result, r.result) << r.name;
    }
    // The third system is made while there is room, but cannot be registered after another.
    FakeFileSystem *late = MakeFake("A3:", "a3");
    ASSERT_NE(late, nullptr);
    MountFake("A2:", "a2");
    EXPECT_FALSE(RwFileSystemRegister(&late->fs));
    RwFree(late->fs.devicePrefix);
    RwFree(late);
    RwInt32 result = 0;
    EXPECT_EQ(MakeFake("A4:", "a4", &result), nullptr);
    EXPECT_EQ(result, rwFSERRORNOROOM);
}

TEST_F(FileSystem, ModeLettersGiveOpenFlags)
{
    const struct {
        const char *mode;
        RwUInt32 flags;
    } modes[] = {{"r", 1}, {"rb", 1}, {"r+", 3}, {"w", 6}, {"w+", 7}, {"a", 10}, {"a+", 11}, {"ab", 14}, {"x", 0}};
    for (const auto &m : modes) {
        EXPECT_EQ(RwFileFlagsFromMode(m.mode), m.flags) << m.mode;
    }
    EXPECT_EQ(RwFileFlagsFromMode(nullptr), 0u);
}

// Real files in a scratch folder.
class Win32File : public ScratchFileTest {
protected:
    std::string ReadAll(RwFile *file)
    {
        std::string text;
        char buffer[64];
        size_t got;
        while ((got = RwFread(buffer, 1, sizeof(buffer), file)) > 0) {
            text.append(buffer, got);
        }
        return text;
    }

    // The lines that RwFgets gives for the text with a buffer of n (at most
    // 64) bytes, each followed by "|".
    std::string Lines(const std::string &text, RwInt32 n)
    {
        folder.File("lines.txt", text);
        RwFile *file = RwFopen("lines.txt", "r");
        EXPECT_NE(file, nullptr);
        std::string parts;
        char line[64];
        while (file && RwFgets(line, n, file)) {
            parts += std::string(line) + "|";
        }
        RwFclose(file);
        return parts;
    }
};

TEST_F(Win32File, TwentyOpenSlotsThenCode8ThenReuseAndCloseAllAtTheEnd)
{
    folder.File("x.txt", "x");
    RwFile *files[20];
    for (RwFile *&file : files) {
        file = RwFopen("x.txt", "rb");
        ASSERT_NE(file, nullptr);
    }
    EXPECT_EQ(RwFopen("x.txt", "rb"), nullptr);
    EXPECT_EQ(RwFileSystemManagerGetGlobals()->lastError, static_cast<RwUInt32>(rwFSERRORNOSLOT));
    EXPECT_EQ(RwFclose(files[7]), 0);
    RwFile *again = RwFopen("x.txt", "rb");
    EXPECT_EQ(again, files[7]);
    EXPECT_EQ(RwFclose(files[0]), 0);
    // The manager's close closes the files left open: without the system's
    // handles the file can be deleted at once.
    RwFileSystemManagerClose();
    EXPECT_TRUE(DeleteFileA(folder.Full("x.txt").c_str()));
    ASSERT_TRUE(RwFileSystemManagerOpen(-1));
}

TEST_F(Win32File, DrivePathSeparatorsBecomeBackslashes)
{
    std::string full = folder.Full("drive.txt");
    if (full.size() < 2 || full[1] != ':') {
        GTEST_SKIP() << "scratch folder is not on a drive";
    }
    folder.File("drive.txt", "on the drive");
    std::string drive = full.substr(0, 2);
    RwFileSystem *fs = RwWin32FileSystemCreate(20, drive.c_str(), drive.substr(0, 1).c_str());
    ASSERT_NE(fs, nullptr);
    ASSERT_TRUE(RwFileSystemRegister(fs));
    std::string forward = full;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    forward[0] = static_cast<char>(tolower(forward[0]));
    EXPECT_TRUE(RwFexist(forward.c_str()));
    RwFile *file = RwFopen(forward.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileSystem, fs);
    EXPECT_EQ(ReadAll(file), "on the drive");
    RwFclose(file);
    EXPECT_FALSE(RwFexist((forward + ".absent").c_str()));
}

TEST_F(Win32File, FailedOpensKeepTheErrorAndFreeTheSlot)
{
    // A missing file keeps the system's error and frees its slot.
    EXPECT_EQ(RwFopen("absent.txt", "rb"), nullptr);
    EXPECT_EQ(RwFileSystemManagerGetGlobals()->lastError, static_cast<RwUInt32>(ERROR_FILE_NOT_FOUND));
    for (RwInt32 i = 0; i < 20; i++) {
        EXPECT_EQ(unc->getFile(unc, i)->state, rwFILESTATEFREE) << i;
    }
    EXPECT_FALSE(RwFexist("absent.txt"));
    EXPECT_EQ(RwFopen("missing.txt", "r+"), nullptr);
    // So does a full path beyond 255 characters.
    std::string name(256, 'n');
    EXPECT_EQ(RwFopen(name.c_str(), "wb"), nullptr);
    EXPECT_FALSE(RwFexist(name.c_str()));
    // A drive letter that no volume answers to still mounts, without a sector size.
    EXPECT_GT(unc->bytesPerSector, 0u);
    RwFileSystem *none = RwWin32FileSystemCreate(2, "Q:", "q");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->bytesPerSector, 0u);
    ASSERT_TRUE(RwFileSystemRegister(none));
}

TEST_F(Win32File, FgetsDropsCrBeforeLfAndSplitsLongLines)
{
    const struct {
        const char *text;
        const char *lines;
    } cases[] = {
        {"ab\r\ncd", "ab\n|cd|"},
        {"ab\r\nc", "ab\n|c|"},              // CR LF split across two reads
        {"ab\rXc", "ab\r|Xc|"},               // a lone CR at the end of a read
        {"abcdefgh\nz", "abc|def|gh\n|z|"},  // lines longer than the buffer
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Lines(c.text, 4), c.lines) << c.text;
    }
}

TEST_F(Win32File, FreadCountsWholeItemsAndFseekRefusesBadOrigins)
{
    folder.File("ten.bin", "0123456789");
    RwFile *file = RwFopen("ten.bin", "rb");
    char buffer[16];
    EXPECT_EQ(RwFread(buffer, 0, 4, file), 0u);
    EXPECT_EQ(RwFread(buffer, 4, 0, file), 0u);
    EXPECT_EQ(file->position, 0u);
    ASSERT_EQ(RwFseek(file, 4, 0), 0);
    EXPECT_EQ(RwFseek(file, 2, 3), -1);
    EXPECT_EQ(RwFseek(file, -5, 1), -1);
    ASSERT_EQ(RwFread(buffer, 1, 1, file), 1u);
    EXPECT_EQ(buffer[0], '4');
    ASSERT_EQ(RwFseek(file, -2, 2), 0);
    ASSERT_EQ(RwFread(buffer, 1, 1, file), 1u);
    EXPECT_EQ(buffer[0], '8');
    EXPECT_FALSE(RwFeof(file));
    ASSERT_EQ(RwFseek(file, 0, 0), 0);
    EXPECT_EQ(RwFread(buffer, 4, 3, file), 2u);
    EXPECT_TRUE(RwFeof(file));
    RwFclose(file);
}

TEST_F(Win32File, UpdateKeepsTheBytesWriteTruncatesAppendAddsAtTheEnd)
{
    folder.File("log.txt", "hello");
    RwFile *file = RwFopen("log.txt", "r+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->position, 0u);
    ASSERT_EQ(RwFwrite("J", 1, 1, file), 1u);
    EXPECT_EQ(ReadAll(file), "ello");
    RwFclose(file);
    EXPECT_EQ(folder.Read("log.txt"), "Jello");
    file = RwFopen("log.txt", "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(RwFwrite("ab", 1, 2, file), 2u);
    RwFclose(file);
    file = RwFopen("log.txt", "ab");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->position, 2u);
    ASSERT_EQ(RwFwrite("cd", 2, 1, file), 1u);
    RwFclose(file);
    EXPECT_EQ(folder.Read("log.txt"), "abcd");
    file = RwFopen("new.txt", "a");
    ASSERT_NE(file, nullptr);
    RwFclose(file);
    EXPECT_TRUE(RwFexist("new.txt"));
}

// Threads that open and close files of one system at once never share a slot.
struct SlotRace {
    RwFileSystem *fs;
    volatile LONG owners[20];
    volatile LONG clashes;
    volatile LONG failures;
};

DWORD WINAPI OpenAndCloseMany(void *data)
{
    SlotRace *race = static_cast<SlotRace *>(data);
    for (int i = 0; i < 200; i++) {
        RwFile *file = RwFopen("shared.txt", "rb");
        if (!file) {
            InterlockedIncrement(&race->failures);
            continue;
        }
        LONG index = static_cast<LONG>(file - race->fs->slots);
        if (InterlockedCompareExchange(&race->owners[index], 1, 0) != 0) {
            InterlockedIncrement(&race->clashes);
        }
        char c = 0;
        if (RwFread(&c, 1, 1, file) != 1 || c != 's') {
            InterlockedIncrement(&race->failures);
        }
        Sleep(0);
        InterlockedExchange(&race->owners[index], 0);
        RwFclose(file);
    }
    return 0;
}

TEST_F(Win32File, ThreadsNeverShareASlot)
{
    folder.File("shared.txt", "s");
    SlotRace race = {};
    race.fs = unc;
    HANDLE threads[4];
    for (HANDLE &thread : threads) {
        thread = CreateThread(nullptr, 0, OpenAndCloseMany, &race, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    EXPECT_EQ(race.clashes, 0);
    EXPECT_EQ(race.failures, 0);
    for (RwInt32 i = 0; i < unc->slotCount; i++) {
        EXPECT_EQ(unc->slots[i].state, rwFILESTATEFREE);
    }
}

// Overlapped files: every request completes through the wait, which calls back.
struct Completion {
    int calls = 0;
    RwUInt32 bytes = 0;
    RwInt32 operation = 0;
    void *userData = nullptr;
};

void Completed(RwFile *, RwUInt32 bytes, RwInt32, RwInt32 operation, void *userData)
{
    Completion *c = static_cast<Completion *>(userData);
    c->calls++;
    c->bytes = bytes;
    c->operation = operation;
    c->userData = userData;
}

class Win32Overlapped : public Win32File {
protected:
    void SetUp() override
    {
        Win32File::SetUp();
        // Unbuffered requests need sector-aligned buffers.
        buffer = static_cast<unsigned char *>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
        std::string data(1024, 0);
        for (size_t i = 0; i < data.size(); i++) {
            data[i] = static_cast<char>(i * 7);
        }
        folder.File("async.bin", data);
    }
    void TearDown() override
    {
        VirtualFree(buffer, 0, MEM_RELEASE);
        Win32File::TearDown();
    }

    unsigned char *buffer = nullptr;
    Completion done;
};

TEST_F(Win32Overlapped, OpenReadAndSeekCompleteThroughTheWait)
{
    RwFile *file = RwFileSystemOpenFile(unc, "async.bin", rwFILEFLAGREAD | rwFILEFLAGASYNC, Completed, &done);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(RwFileSystemFileStatus(file), rwFILESTATEREADY);
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(done.operation, rwFILEOPOPEN);
    EXPECT_EQ(done.userData, &done);
    for (int block = 0; block < 2; block++) {
        done = Completion();
        RwFread(buffer, 1, 512, file);
        EXPECT_EQ(RwFileSystemFileWait(file, TRUE), rwFILESTATEREADY);
        EXPECT_EQ(done.calls, 1);
        EXPECT_EQ(done.operation, rwFILEOPREAD);
        EXPECT_EQ(done.bytes, 512u);
        EXPECT_EQ(file->position, 512u * (block + 1));
        EXPECT_EQ(buffer[511], static_cast<unsigned char>((512 * block + 511) * 7));
    }
    // A read at the end is empty, and the file stays usable.
    done = Completion();
    RwFread(buffer, 1, 512, file);
    EXPECT_EQ(RwFileSystemFileWait(file, TRUE), rwFILESTATEREADY);
    EXPECT_EQ(done.bytes, 0u);
    EXPECT_TRUE(RwFeof(file));
    done = Completion();
    ASSERT_EQ(RwFseek(file, 512, 0), 0);
    EXPECT_EQ(file->state, rwFILESTATEPENDING);
    EXPECT_EQ(RwFileSystemFileWait(file, TRUE), rwFILESTATEREADY);
    EXPECT_EQ(done.operation, rwFILEOPSEEK);
    EXPECT_EQ(done.bytes, 512u);
    RwFread(buffer, 1, 512, file);
    RwFileSystemFileWait(file, TRUE);
    EXPECT_EQ(buffer[0], static_cast<unsigned char>(512 * 7));
    EXPECT_EQ(RwFclose(file), 0);
}

TEST_F(Win32Overlapped, WritesReuseOneEventAndCloseReleasesIt)
{
    RwFile *file = RwFileSystemOpenFile(unc, "written.bin", rwFILEFLAGWRITE | rwFILEFLAGCREATE | rwFILEFLAGASYNC,
                                        Completed, &done);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->state, rwFILESTATEPENDING);
    EXPECT_EQ(RwFileSystemFileWait(file, TRUE), rwFILESTATEREADY);
    std::memset(buffer, 'w', 512);
    void *event = nullptr;
    for (int block = 0; block < 2; block++) {
        RwFwrite(buffer, 1, 512, file);
        EXPECT_EQ(RwFileSystemFileWait(file, TRUE), rwFILESTATEREADY);
        EXPECT_EQ(file->position, 512u * (block + 1));
        EXPECT_NE(file->event, nullptr);
        EXPECT_TRUE(block == 0 || file->event == event);
        event = file->event;
    }
    RwFclose(file);
    EXPECT_EQ(file->event, nullptr);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(static_cast<HANDLE>(event), &flags)) << "event left open";
    EXPECT_EQ(folder.Read("written.bin").size(), 1024u);
}

}  // namespace
