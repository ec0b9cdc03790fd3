// A packed archive whose commit may or may not have reached the disk: both states stay readable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ParcelCrash.h"
#include "support/scratch_folder.h"

namespace {

// Fails the nth forcing call (counted from 0); every other call goes through.
class FailForcing {
public:
    explicit FailForcing(int n) : m_target(n) { ParcelSetIoHook(&FailForcing::Hook, this); }
    ~FailForcing() { ParcelSetIoHook(nullptr, nullptr); }
    FailForcing(const FailForcing &) = delete;
    FailForcing &operator=(const FailForcing &) = delete;

private:
    static BOOL Hook(void *context, ParcelIoCall call, HANDLE, const void *, DWORD)
    {
        FailForcing *f = static_cast<FailForcing *>(context);
        return call != PARCEL_IO_FLUSH || f->m_seen++ != f->m_target;
    }

    int m_target;
    int m_seen = 0;
};

bool PutBytes(CParcel &p, const std::string &name, const std::string &data)
{
    HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    p.SetFileSize(h, (DWORD)data.size(), 0);
    DWORD done = 0;
    const BOOL ok = p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
    p.CloseHandle(h);
    return ok && done == data.size();
}

// The data chunk's length: which tables a reader finds.
uint32_t DataLength(const std::string &bytes)
{
    uint32_t length = 0;
    if (bytes.size() >= 10)
        memcpy(&length, &bytes[6], 4);
    return length;
}

// The forcing after a header fails, so the header may or may not reach the
// disk (here it does). Until a later commit, what either tables name stays
// as it is, whatever is deleted and written meanwhile: a copy of the file
// taken then holds one of the two states, and the next flush commits all.
class UnsureCommit : public ::testing::Test {
protected:
    UnsureCommit() : m_path(m_tree.Full("u.pcl")) {}

    // Four entries of 1000 bytes, the second deleted by a later flush: a hole
    // of 1000 bytes that the tables on disk call free.
    void Build(CParcel &p)
    {
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 4, 1024));
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(PutBytes(p, std::string(1, (char)('a' + i)), Pattern(1000, (uint32_t)i + 1)));
        ASSERT_TRUE(p.Flush(0));
        ASSERT_TRUE(p.DeleteFile("b"));
        ASSERT_TRUE(p.Flush(0));
        // Opened again, it lets others read the file.
        p.Close();
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
    }

    // The file as it is now holds one of the states.
    void CheckCopy(const Contents &last, const Contents &next, const char *what)
    {
        m_tree.File("copy.pcl", m_tree.Read("u.pcl"));
        CParcel q;
        ASSERT_TRUE(q.Open(1, m_tree.Full("copy.pcl").c_str(), 2, 1024)) << what;
        const Contents got = Listed(q);
        EXPECT_TRUE(got == last || got == next) << what;
    }

    void CheckFinal(CParcel &p, const Contents &want)
    {
        ASSERT_TRUE(p.Flush(0));
        p.Close();
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 2, 1024));
        EXPECT_EQ(Listed(p), want);
    }

    ScratchFolder m_tree;
    std::string m_path;
};

} // namespace

// A new entry goes into the hole; after the failed flush it is deleted and
// another entry of its size written.
TEST_F(UnsureCommit, FlushKeepsTheEntriesItNamed)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    const Contents last = Listed(p);
    ASSERT_TRUE(PutBytes(p, "x", Pattern(1000, 10)));
    const Contents next = Listed(p);
    const uint32_t before = DataLength(m_tree.Read("u.pcl"));
    {
        FailForcing fail(1);
        EXPECT_FALSE(p.Flush(0));
    }
    ASSERT_NE(DataLength(m_tree.Read("u.pcl")), before) << "the header was not written";
    ASSERT_TRUE(p.DeleteFile("x"));
    ASSERT_TRUE(PutBytes(p, "y", Pattern(1000, 11)));
    ASSERT_TRUE(PutBytes(p, "z", Pattern(3000, 12)));
    CheckCopy(last, next, "after the writes");
    Contents want = next;
    want.erase("x");
    want["y"] = Pattern(1000, 11);
    want["z"] = Pattern(3000, 12);
    CheckFinal(p, want);
}

// The first batch of a compaction moves the last entry into the hole; after
// the failed flush a new entry of that size is written.
TEST_F(UnsureCommit, CompactionKeepsWhatItMoved)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    const Contents last = Listed(p);
    DWORD where = 0;
    ASSERT_TRUE(p.GetFileLocation("d", &where, nullptr));
    const uint32_t before = DataLength(m_tree.Read("u.pcl"));
    {
        // Its own Flush(0) has nothing to commit: the first batch's tables
        // are forced, then its header.
        FailForcing fail(1);
        EXPECT_FALSE(p.Flush(1));
    }
    // That header moved d: a reader of the file would now find d in the hole.
    const std::string disk = m_tree.Read("u.pcl");
    ASSERT_NE(DataLength(disk), before) << "the header was not written";
    ASSERT_TRUE(PutBytes(p, "y", Pattern(1000, 11)));
    CheckCopy(last, last, "after the write");
    Contents want = last;
    want["y"] = Pattern(1000, 11);
    CheckFinal(p, want);
}

// With no record to spare, the entry of 5000 bytes after a hole of 100 can
// only slide down, over its own old place: it is first copied past the data,
// and that copy committed. After that commit fails, the next flush stops
// before its header, its tables written.
TEST_F(UnsureCommit, CompactionKeepsItsStagingCopy)
{
    {
        CParcel p;
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 4, 1024));
        ASSERT_TRUE(PutBytes(p, "a", Pattern(1000, 1)));
        ASSERT_TRUE(PutBytes(p, "b", Pattern(100, 2)));
        ASSERT_TRUE(PutBytes(p, "c", Pattern(5000, 3)));
        ASSERT_TRUE(PutBytes(p, "d", Pattern(40, 4)));
        ASSERT_TRUE(p.Flush(0));
        ASSERT_TRUE(p.DeleteFile("b"));
        ASSERT_TRUE(p.Flush(0));
    }
    // The table's capacity cut to the records it uses.
    std::string bytes = m_tree.Read("u.pcl");
    const size_t table = 4 + (size_t)DataLength(bytes) + 6;
    memcpy(&bytes[table + 4], &bytes[table + 8], 4);
    m_tree.File("u.pcl", bytes);
    CParcel p;
    ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
    const Contents last = Listed(p);
    const uint32_t before = DataLength(m_tree.Read("u.pcl"));
    {
        // Its own Flush(0) has nothing to commit; one commit puts the tables
        // out of the way, then the copy is committed.
        FailForcing fail(3);
        EXPECT_FALSE(p.Flush(1));
    }
    ASSERT_NE(DataLength(m_tree.Read("u.pcl")), before) << "the header was not written";
    {
        // The tables, the forcing call, then the header.
        Injector stop(2, FAULT_STOP);
        EXPECT_FALSE(p.Flush(0));
        ASSERT_TRUE(stop.Hit());
    }
    CheckCopy(last, last, "after the tables");
    CheckFinal(p, last);
}

// A flush with nothing to commit touches nothing, after opening as after a
// flush, however the entries were opened; a size set alone is something to
// commit, and so is everything after a commit of unknown fate.
TEST_F(UnsureCommit, FlushWithNothingToCommitMakesNoCalls)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    Contents want = Listed(p);
    HANDLE h = p.CreateFile("c", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_TRUE(p.Flush(0));
        EXPECT_EQ(count.Calls(), 0);
    }
    p.SetFileSize(h, 600, 0);
    p.CloseHandle(h);
    want["c"].resize(600);
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_GT(count.Calls(), 0);
    }
    ASSERT_TRUE(PutBytes(p, "x", Pattern(1000, 10)));
    want["x"] = Pattern(1000, 10);
    {
        FailForcing fail(1);
        EXPECT_FALSE(p.Flush(0));
    }
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_GT(count.Calls(), 0);
    }
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_EQ(count.Calls(), 0);
    }
    CheckFinal(p, want);
}

// A change undone after a commit of unknown fate: the tables in memory are
// again those of the last sure commit, but the header on disk may name the
// changed ones, so the flush still commits. (A size set larger and back
// undoes itself; a cut does not: the cut bytes read as zeros after it.)
TEST_F(UnsureCommit, FlushAfterAnUnsureCommitCommitsAnUndoneChange)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    const Contents want = Listed(p);
    HANDLE h = p.CreateFile("c", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    p.SetFileSize(h, 1200, 0);
    {
        FailForcing fail(1);
        EXPECT_FALSE(p.Flush(0));
    }
    p.SetFileSize(h, 1000, 0);
    p.CloseHandle(h);
    CheckFinal(p, want);
}

// Changes whose tables are as long as the last ones, or differ from them
// only in a time, each commit.
TEST_F(UnsureCommit, FlushCommitsEveryChangeOfTheSameLength)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    Contents want = Listed(p);
    const std::string same = want["a"];
    HANDLE h = p.CreateFile("a", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    ASSERT_TRUE(p.WriteFile(h, same.data(), (DWORD)same.size(), &n, nullptr));
    p.CloseHandle(h);
    const auto committed = [&](const char *what) {
        Injector count;
        EXPECT_TRUE(p.Flush(0)) << what;
        EXPECT_GT(count.Calls(), 0) << what;
    };
    committed("the same bytes");
    DWORD where = 0;
    ASSERT_TRUE(p.GetFileLocation("a", &where, nullptr));
    ASSERT_TRUE(p.DeleteFile("d"));
    ASSERT_TRUE(PutBytes(p, "e", want["d"]));
    want["e"] = want["d"];
    want.erase("d");
    committed("a rename");
    p.CloseHandle(p.CreateFile("v", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    committed("a new empty entry");
    Sleep(30);
    h = p.CreateFile("v", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    FILETIME made;
    ASSERT_TRUE(p.GetFileTime(h, &made, nullptr, nullptr));
    p.CloseHandle(h);
    want["v"] = "";
    committed("a time");
    p.Close();
    ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
    DWORD moved = 0;
    EXPECT_TRUE(p.GetFileLocation("a", &moved, nullptr));
    EXPECT_EQ(moved, where);
    h = p.CreateFile("v", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME read = {};
    p.GetFileTime(h, &read, nullptr, nullptr);
    p.CloseHandle(h);
    EXPECT_EQ(CompareFileTime(&read, &made), 0);
    CheckFinal(p, want);
}

// What a session that ended without a flush wrote lies after the tables and
// is named by nothing: the next session's flush with nothing changed writes
// nothing, and a compaction gives that room back. Nothing carries over from
// an archive open before either: another one opened without Close commits a
// change that gives it the very tables the first one last committed.
TEST_F(UnsureCommit, NothingCarriesOverFromTheLastSession)
{
    CParcel p;
    Build(p);
    if (HasFatalFailure())
        return;
    Contents want = Listed(p);
    ASSERT_TRUE(PutBytes(p, "x", Pattern(3000, 7)));
    p.Close();
    const std::string left = m_tree.Read("u.pcl");
    ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_EQ(count.Calls(), 0);
    }
    EXPECT_TRUE(m_tree.Read("u.pcl") == left);
    ASSERT_TRUE(p.Flush(1));
    EXPECT_LT(m_tree.Read("u.pcl").size() + 3000, left.size());
    EXPECT_EQ(Listed(p), want);

    m_tree.File("v.pcl", m_tree.Read("u.pcl"));
    const auto shorten = [&]() {
        HANDLE h = p.CreateFile("c", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        p.SetFileSize(h, 600, 0);
        p.CloseHandle(h);
    };
    shorten();
    ASSERT_TRUE(p.Flush(0));
    ASSERT_TRUE(p.Open(1, m_tree.Full("v.pcl").c_str(), 0, 1024));
    shorten();
    {
        Injector count;
        EXPECT_TRUE(p.Flush(0));
        EXPECT_GT(count.Calls(), 0);
    }
    p.Close();
    ASSERT_TRUE(p.Open(1, m_tree.Full("v.pcl").c_str(), 2, 1024));
    want["c"].resize(600);
    EXPECT_EQ(Listed(p), want);
}
