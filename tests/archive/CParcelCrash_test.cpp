// A packed archive under failed writes and stopped processes: what a flush committed stays whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FormatReader.h"
#include "ParcelCrash.h"
#include "support/scratch_folder.h"

namespace {

const char kChildVariable[] = "KIV_PARCEL_CRASH_CHILD";

// Everyday use of 40 entries in four folders, a table with no record to
// spare, where compaction can only slide contents down, some over their own
// old place, and which then takes writes into its flushed entries, and
// writes into entries that already have their contents.
enum { STORY_EVERYDAY, STORY_FULL_TABLE, STORY_IN_PLACE, STORY_KINDS };

// Sizes of the full table's entries, in file order.
const size_t kFullTableSizes[] = {100, 30, 5000, 20, 25, 300, 10, 40, 200, 15, 60, 40};
const uint32_t kFullTableCount = sizeof kFullTableSizes / sizeof kFullTableSizes[0];

// Writes over part of an entry opened with that disposition.
bool WriteAt(CParcel &p, const std::string &name, DWORD at, const std::string &data, DWORD disposition)
{
    HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    p.SetFilePointer(h, (LONG)at, nullptr, FILE_BEGIN);
    DWORD done = 0;
    const BOOL ok = p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
    p.CloseHandle(h);
    return ok && done == data.size();
}

// Changes and flushes on an open archive, mirrored in a model: after each
// flush the model is what that flush commits.
class Story {
public:
    Story(CParcel &p, int kind) : m_p(p), m_kind(kind), m_model(Base(kind)) { m_states.push_back(m_model); }

    static Contents Base(int kind)
    {
        Contents c;
        if (kind == STORY_FULL_TABLE) {
            for (uint32_t i = 0; i < kFullTableCount; ++i) {
                char name[32];
                sprintf(name, "t\\e%02u", i);
                c[name] = Pattern(kFullTableSizes[i], i + 50);
            }
            return c;
        }
        if (kind == STORY_IN_PLACE) {
            c["w\\big.bin"] = Pattern(20000, 300);
            for (int i = 0; i < 8; ++i) {
                char name[32];
                sprintf(name, "w\\e%02d", i);
                c[name] = Pattern(100 + (size_t)i * 250, (uint32_t)i + 310);
            }
            return c;
        }
        for (int i = 0; i < 40; ++i) {
            char name[32];
            sprintf(name, "f%d\\n%02d.bin", i % 4, i);
            c[name] = Pattern(200 + (size_t)(i * 337) % 3000, (uint32_t)i);
        }
        return c;
    }

    void Run()
    {
        if (m_kind == STORY_FULL_TABLE) {
            // The hole of 30 has 5000 bytes after it (more than the room the
            // tables leave behind them); the one of 40 an entry of the same
            // size at the end.
            Delete("t\\e01");
            Flush(1);
            Delete("t\\e07");
            Flush(2);
            Flush(0);
            // Writes into flushed entries and the rewrite of one: more
            // copies than the deletes gave records back.
            Patch("t\\e02", 1000, Pattern(500, 60), OPEN_EXISTING);
            Patch("t\\e05", 10, Pattern(50, 61), OPEN_EXISTING);
            Patch("t\\e08", 0, Pattern(200, 62), OPEN_ALWAYS);
            Put("t\\e10", Pattern(60, 63));
            Flush(0);
            return;
        }
        if (m_kind == STORY_IN_PLACE) {
            // Twice into one entry before a flush, once over a whole entry,
            // again into entries flushed since, and right before compactions.
            Patch("w\\big.bin", 1000, Pattern(3000, 200), OPEN_EXISTING);
            Patch("w\\big.bin", 15000, Pattern(600, 201), OPEN_EXISTING);
            Patch("w\\e02", 0, Pattern(600, 202), OPEN_ALWAYS);
            Delete("w\\e05");
            Flush(0);
            Patch("w\\big.bin", 500, Pattern(200, 203), OPEN_EXISTING);
            Put("w\\new.bin", Pattern(1500, 204));
            Flush(0);
            Patch("w\\e03", 10, Pattern(300, 205), OPEN_EXISTING);
            Delete("w\\e01");
            Flush(1);
            Patch("w\\big.bin", 19000, Pattern(1000, 206), OPEN_ALWAYS);
            Patch("w\\new.bin", 700, Pattern(800, 207), OPEN_EXISTING);
            Delete("w\\e06");
            Flush(2);
            return;
        }
        // It grows, shrinks, deletes, adds and renames entries, adds entries
        // without contents after deleting the newest ones (new tables that
        // outgrow the old ones in place), and compacts at both levels.
        Put("f0\\n00.bin", Pattern(5000, 100));
        Put("f1\\n01.bin", Pattern(60, 101));
        Resize("f2\\n02.bin", 100);
        Delete("f2\\n06.bin");
        Delete("f3\\n07.bin");
        Delete("f0\\n04.bin");
        Put("f1\\new1.bin", Pattern(1200, 102));
        Put("f4\\new2.bin", Pattern(700, 103));
        Rename("f2\\n10.bin", "f2\\renamed.bin");
        Flush(0);
        // The cut part of a shrunk entry reads as zeros when it grows back
        // within its room (contents written since the last flush keep
        // theirs); an entry written only in its middle reads zeros around it.
        Put("f2\\regrown.bin", Pattern(874, 108));
        Resize("f2\\regrown.bin", 100);
        Resize("f2\\regrown.bin", 874);
        Sparse("f3\\sparse.bin", 4000, 3000, Pattern(200, 107));
        Delete("f1\\new1.bin");
        Delete("f4\\new2.bin");
        Delete("f2\\renamed.bin");
        for (int i = 0; i < 20; ++i) {
            char name[32];
            sprintf(name, "f%d\\empty%02d", i % 4, i);
            Empty(name);
        }
        Flush(0);
        for (int i : {3, 9, 13, 17, 21, 26, 29, 35})
            Delete(Name(i));
        Put("f3\\late.bin", Pattern(2500, 104));
        Flush(1);
        for (int i : {11, 15, 22, 38})
            Delete(Name(i));
        Put("f1\\n05.bin", Pattern(3900, 105));
        Empty("f0\\void.bin");
        Flush(2);
        Put("top.bin", Pattern(900, 106));
        Delete(Name(8));
        Flush(0);
    }

    // States[0] is the base; states[k] what flush k commits.
    const std::vector<Contents> &States() const { return m_states; }
    // Seam calls made when flush k returned, from flush 1 on.
    const std::vector<int> &FlushEnds() const { return m_flushEnds; }

    // Told of every flush that fails, with the state the last flush
    // committed and the one this flush was to commit; with retry set the
    // flush is then repeated once.
    std::function<void(const Contents &, const Contents &)> failed;
    bool retry = false;
    const Injector *counter = nullptr;

private:
    static std::string Name(int i)
    {
        char name[32];
        sprintf(name, "f%d\\n%02d.bin", i % 4, i);
        return name;
    }

    // A writer whose write fails writes again, as a caller that checks does.
    void Put(const std::string &name, const std::string &data)
    {
        m_model[name] = data;
        for (int attempt = 0; attempt < 2; ++attempt) {
            HANDLE h = m_p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE)
                return;
            m_p.SetFileSize(h, (DWORD)data.size(), 0);
            DWORD done = 0;
            const BOOL ok = m_p.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
            m_p.CloseHandle(h);
            if (ok && done == data.size())
                return;
        }
    }

    // Bytes written over part of an entry that has its contents. A second
    // handle, open on the entry all along, reads what was written.
    void Patch(const std::string &name, DWORD at, const std::string &data, DWORD disposition)
    {
        m_model[name].replace(at, data.size(), data);
        HANDLE reader = m_p.CreateFile(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (WriteAt(m_p, name, at, data, disposition)) {
                std::string got(data.size(), '\0');
                DWORD done = 0;
                m_p.SetFilePointer(reader, (LONG)at, nullptr, FILE_BEGIN);
                m_p.ReadFile(reader, &got[0], (DWORD)got.size(), &done, nullptr);
                EXPECT_TRUE(got == data) << name << " read through another handle";
                break;
            }
        }
        m_p.CloseHandle(reader);
    }

    // A new entry of that size written only at one place.
    void Sparse(const std::string &name, DWORD size, DWORD at, const std::string &data)
    {
        m_model[name] = std::string(size, '\0').replace(at, data.size(), data);
        for (int attempt = 0; attempt < 2; ++attempt) {
            HANDLE h = m_p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            m_p.SetFileSize(h, size, 0);
            m_p.CloseHandle(h);
            if (WriteAt(m_p, name, at, data, OPEN_EXISTING))
                return;
        }
    }

    // The recorded size set after the entry has its contents: what a grow
    // gains was never written. A caller that checks sets it again when it
    // did not take.
    void Resize(const std::string &name, DWORD size)
    {
        m_model[name].resize(size, '\0');
        HANDLE h = m_p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        for (int attempt = 0; attempt < 2 && m_p.GetFileSize(h, nullptr) != size; ++attempt)
            m_p.SetFileSize(h, size, 0);
        m_p.CloseHandle(h);
    }

    void Delete(const std::string &name)
    {
        m_model.erase(name);
        m_p.DeleteFile(name.c_str());
    }

    void Empty(const std::string &name)
    {
        m_model[name] = "";
        m_p.CloseHandle(m_p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }

    void Rename(const std::string &from, const std::string &to)
    {
        const std::string data = m_model[from];
        Delete(from);
        Put(to, data);
    }

    void Flush(int level)
    {
        if (!m_p.Flush(level)) {
            if (failed)
                failed(m_states.back(), m_model);
            if (retry)
                m_p.Flush(level);
        }
        m_states.push_back(m_model);
        m_flushEnds.push_back(counter ? counter->Calls() : 0);
    }

    CParcel &m_p;
    int m_kind;
    Contents m_model;
    std::vector<Contents> m_states;
    std::vector<int> m_flushEnds;
};

// Builds a story's base archive; the full table's capacity is cut to the
// records it uses.
std::string BaseArchive(int kind)
{
    ScratchFolder tree;
    const std::string path = tree.Full("base.pcl");
    CParcel p;
    if (!p.Open(1, path.c_str(), 4, 1024))
        return std::string();
    for (auto &f : Story::Base(kind)) {
        HANDLE h = p.CreateFile(f.first.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        p.SetFileSize(h, (DWORD)f.second.size(), 0);
        DWORD done = 0;
        if (!p.WriteFile(h, f.second.data(), (DWORD)f.second.size(), &done, nullptr))
            return std::string();
        p.CloseHandle(h);
    }
    if (!p.Flush(0))
        return std::string();
    p.Close();
    std::string bytes = tree.Read("base.pcl");
    if (kind == STORY_FULL_TABLE) {
        uint32_t length, count;
        memcpy(&length, &bytes[6], 4);
        const size_t table = 4 + (size_t)length + 6;
        memcpy(&count, &bytes[table + 8], 4);
        if (count != kFullTableCount)
            return std::string();
        memcpy(&bytes[table + 4], &count, 4);
    }
    return bytes;
}

// What one story does without faults, worked out once per story.
struct Known {
    std::string base;
    std::vector<Contents> states;
    // Seam calls made when flush k returned, and the kind of every call.
    std::vector<int> flushEnds;
    std::vector<ParcelIoCall> calls;
};

class Crash : public ::testing::TestWithParam<int> {
protected:
    Crash() : m_path(m_tree.Full("save.pcl")) {}

    static void SetUpTestSuite()
    {
        for (int kind = 0; kind < STORY_KINDS; ++kind) {
            Known &k = s_known[kind];
            k.base = BaseArchive(kind);
            ASSERT_FALSE(k.base.empty());
            ScratchFolder tree;
            tree.File("save.pcl", k.base);
            const std::string save = tree.Full("save.pcl");
            CParcel p;
            ASSERT_TRUE(p.Open(1, save.c_str(), 0, 1024));
            Injector count;
            Story story(p, kind);
            story.counter = &count;
            story.Run();
            p.Close();
            k.states = story.States();
            k.flushEnds = story.FlushEnds();
            for (int i = 0; i < count.Calls(); ++i)
                k.calls.push_back(count.Call(i));
            CParcel q;
            ASSERT_TRUE(q.Open(1, save.c_str(), 2, 1024));
            ASSERT_EQ(Listed(q), k.states.back());
            // The full table's last flush is one that states a larger capacity.
            const ReadArchive a = ReadFormat(tree.Read("save.pcl"));
            ASSERT_EQ(a.fault, "");
            if (kind == STORY_FULL_TABLE) {
                ASSERT_GT(a.capacity, kFullTableCount);
            }
        }
    }

    static void TearDownTestSuite()
    {
        for (Known &k : s_known)
            k = Known();
    }

    const Known &K() const { return s_known[GetParam()]; }

    // Flushes done when the call at index stopped.
    size_t Committed(int index) const
    {
        size_t done = 0;
        while (done < K().flushEnds.size() && K().flushEnds[done] <= index)
            ++done;
        return done;
    }

    // The story on the base archive, stopped (or failing) at one call.
    void RunStopped(int index, Fault fault)
    {
        m_tree.File("save.pcl", K().base);
        CParcel p;
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
        Injector in(index, fault, m_path);
        Story story(p, GetParam());
        story.Run();
        ASSERT_TRUE(in.Hit());
        p.Close();
        if (fault == FAULT_CUT)
            m_tree.File("save.pcl", in.CutImage());
    }

    // After a stop at index the archive opens read-only and read/write, holds
    // what the last flush before the stop or the flush under way committed,
    // every entry with its bytes and nothing else, and takes new flushes.
    void CheckAfterStop(int index, const char *how)
    {
        const std::vector<Contents> &states = K().states;
        const size_t done = Committed(index);
        const Contents &last = states[done];
        const Contents *next = done + 1 < states.size() ? &states[done + 1] : nullptr;
        CParcel p;
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 2, 1024)) << how << " at call " << index;
        const Contents got = Listed(p);
        p.Close();
        ASSERT_TRUE(got == last || (next && got == *next))
            << how << " at call " << index << " (flushes done: " << done << ")";
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024)) << how << " at call " << index;
        ASSERT_EQ(Listed(p), got) << how << " at call " << index;
        Contents want = got;
        // A full table takes no new entry.
        if (GetParam() != STORY_FULL_TABLE) {
            HANDLE h = p.CreateFile("after.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            p.SetFileSize(h, 3000, 0);
            DWORD n = 0;
            want["after.bin"] = Pattern(3000, 7);
            p.WriteFile(h, want["after.bin"].data(), 3000, &n, nullptr);
            p.CloseHandle(h);
        }
        ASSERT_TRUE(p.Flush(2)) << how << " at call " << index;
        p.Close();
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 2, 1024));
        ASSERT_EQ(Listed(p), want) << how << " at call " << index;
    }

    static Known s_known[STORY_KINDS];

    ScratchFolder m_tree;
    std::string m_path;
};

Known Crash::s_known[STORY_KINDS];

// What a process that ends before, or half-way through, any write leaves.
TEST_P(Crash, StopAtEveryWriteLeavesTheLastOrTheNextCommit)
{
    const int calls = (int)K().calls.size();
    ASSERT_GT(calls, 20);
    for (int i = 0; i < calls; ++i) {
        for (Fault fault : {FAULT_STOP, FAULT_TEAR}) {
            if (fault == FAULT_TEAR && K().calls[(size_t)i] != PARCEL_IO_WRITE)
                continue;
            const char *how = fault == FAULT_STOP ? "stopped" : "torn";
            RunStopped(i, fault);
            if (HasFatalFailure())
                return;
            CheckAfterStop(i, how);
            if (HasFatalFailure())
                return;
        }
    }
}

// A power cut at any call: what was not forced to disk before it may have
// arrived in any order, here only the latest of it.
TEST_P(Crash, PowerCutAtEveryCallLeavesTheLastOrTheNextCommit)
{
    const int calls = (int)K().calls.size();
    for (int i = 0; i < calls; ++i) {
        RunStopped(i, FAULT_CUT);
        if (HasFatalFailure())
            return;
        CheckAfterStop(i, "cut");
        if (HasFatalFailure())
            return;
    }
}

// The same, with the process really ended, at the writes that commit, the
// forcing calls before them and points spread over the whole story.
TEST_P(Crash, EndedProcessLeavesTheLastOrTheNextCommit)
{
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const int calls = (int)K().calls.size();
    std::vector<int> points;
    for (int i = 1; i < calls; ++i) {
        // A header write comes between two forcing calls.
        const bool commit = K().calls[(size_t)i - 1] == PARCEL_IO_FLUSH && K().calls[(size_t)i] == PARCEL_IO_WRITE;
        if (commit)
            points.push_back(i - 1);
        if (commit || i % 25 == 0)
            points.push_back(i);
    }
    for (int i : points) {
        m_tree.File("save.pcl", K().base);
        const std::string value = m_path + "|" + std::to_string(GetParam()) + "|" + std::to_string(i);
        SetEnvironmentVariableA(kChildVariable, value.c_str());
        std::string line = std::string("\"") + self + "\" --gtest_filter=CrashChild.RunsTheStory";
        // The child's own report would only repeat what the checks below say.
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                 0, nullptr);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = nul;
        si.hStdError = nul;
        PROCESS_INFORMATION pi = {};
        const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(nul);
        ASSERT_TRUE(started);
        SetEnvironmentVariableA(kChildVariable, nullptr);
        DWORD code = 0;
        ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        ASSERT_EQ(code, (DWORD)Injector::EXIT_CODE) << "child for call " << i;
        CheckAfterStop(i, "ended");
        if (HasFatalFailure())
            return;
    }
}

// Runs only as the child of the test above: the story on the archive it is
// given, ended at the call it is given.
TEST(CrashChild, RunsTheStory)
{
    char value[MAX_PATH + 32];
    const DWORD n = GetEnvironmentVariableA(kChildVariable, value, sizeof value);
    if (n == 0 || n >= sizeof value)
        GTEST_SKIP() << "runs as a child process only";
    std::string v(value);
    const size_t bar = v.rfind('|');
    const int index = atoi(v.c_str() + bar + 1);
    v.resize(bar);
    const size_t kindBar = v.rfind('|');
    const int kind = atoi(v.c_str() + kindBar + 1);
    const std::string path = v.substr(0, kindBar);
    CParcel p;
    ASSERT_TRUE(p.Open(1, path.c_str(), 0, 1024));
    Injector in(index, FAULT_EXIT);
    Story story(p, kind);
    story.Run();
    ADD_FAILURE() << "call " << index << " never came";
}

// Any one write refused: the flush reports it and leaves the archive as the
// last flush committed, and the next flushes commit everything.
TEST_P(Crash, FailedWriteLeavesTheCommitAndLaterFlushesAreRight)
{
    const int calls = (int)K().calls.size();
    for (int i = 0; i < calls; ++i) {
        m_tree.File("save.pcl", K().base);
        CParcel p;
        ASSERT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
        int failures = 0;
        {
            Injector in(i, FAULT_FAIL);
            Story story(p, GetParam());
            story.retry = true;
            // A compacting flush may fail after its first commit, and the
            // forcing of the header after the header itself: the disk holds
            // one of the two then, never anything else.
            story.failed = [&](const Contents &last, const Contents &next) {
                ++failures;
                m_tree.File("copy.pcl", m_tree.Read("save.pcl"));
                CParcel q;
                ASSERT_TRUE(q.Open(1, m_tree.Full("copy.pcl").c_str(), 2, 1024)) << "write " << i;
                const Contents got = Listed(q);
                EXPECT_TRUE(got == last || got == next) << "call " << i;
            };
            story.Run();
            ASSERT_TRUE(in.Hit());
        }
        p.Close();
        CParcel q;
        ASSERT_TRUE(q.Open(1, m_path.c_str(), 2, 1024));
        ASSERT_EQ(Listed(q), K().states.back()) << "call " << i << " failed";
        // Only calls of a flush make it fail; a refused write of contents is
        // the writer's to repeat.
        EXPECT_LE(failures, 1) << "call " << i;
        if (HasFailure())
            return;
    }
}

// A flush whose header reached the file but whose forcing failed may have
// committed: what its tables name stays as it wrote it, so a write that
// follows before the next flush leaves the file holding one of the two.
TEST(CrashInPlace, WriteAfterAFlushThatMayHaveCommittedLeavesOneCommit)
{
    ScratchFolder tree;
    const std::string base = BaseArchive(STORY_IN_PLACE);
    ASSERT_FALSE(base.empty());
    const std::string path = tree.Full("save.pcl");
    const Contents before = Story::Base(STORY_IN_PLACE);
    Contents after = before;
    const std::string patch = Pattern(3000, 200), later = Pattern(3000, 201);
    after["w\\big.bin"].replace(1000, 3000, patch);
    after.erase("w\\e05");
    int force = -1;
    for (int run = 0; run < 2; ++run) {
        tree.File("save.pcl", base);
        CParcel p;
        ASSERT_TRUE(p.Open(1, path.c_str(), 0, 1024));
        {
            // The first run finds the forcing call after the header.
            Injector in(force, FAULT_FAIL);
            ASSERT_TRUE(WriteAt(p, "w\\big.bin", 1000, patch, OPEN_EXISTING));
            ASSERT_TRUE(p.DeleteFile("w\\e05"));
            const int first = in.Calls();
            EXPECT_EQ(p.Flush(0), run == 0);
            for (int i = first; i < in.Calls(); ++i)
                if (in.Call(i) == PARCEL_IO_FLUSH)
                    force = i;
            if (run == 1) {
                ASSERT_TRUE(WriteAt(p, "w\\big.bin", 1000, later, OPEN_EXISTING));
            }
        }
        p.Close();
    }
    CParcel q;
    ASSERT_TRUE(q.Open(1, path.c_str(), 2, 1024));
    const Contents got = Listed(q);
    EXPECT_TRUE(got == before || got == after);
}

// A new archive, filled, flushed, changed and closed without a second flush.
// FALSE when a stop ended it early.
bool NewArchiveRun(const std::string &path, size_t big, Contents *flushed)
{
    CParcel p;
    if (!p.Open(1, path.c_str(), 4, 1024))
        return false;
    Contents model;
    const std::pair<const char *, size_t> first[] = {{"a\\one", 3000}, {"big", big}, {"a\\none", 0}};
    for (const auto &f : first) {
        HANDLE h = p.CreateFile(f.first, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        p.SetFileSize(h, (DWORD)f.second, 0);
        model[f.first] = Pattern(f.second, (uint32_t)f.second);
        DWORD done = 0;
        if (f.second)
            p.WriteFile(h, model[f.first].data(), (DWORD)f.second, &done, nullptr);
        p.CloseHandle(h);
    }
    if (flushed)
        *flushed = model;
    if (!p.Flush(0))
        return false;
    HANDLE h = p.CreateFile("c", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 5000, 0);
    DWORD done = 0;
    p.WriteFile(h, Pattern(5000, 3).data(), 5000, &done, nullptr);
    p.CloseHandle(h);
    p.DeleteFile("a\\one");
    p.Close();
    return true;
}

// Stopped anywhere from its creation on, a new archive leaves a file that
// opens, empty or as the flush left it (an empty file counts as absent), and
// creating it again opens what is there.
TEST(CrashNew, StopAnywhereLeavesAnArchiveThatOpens)
{
    ScratchFolder tree;
    const std::string path = tree.Full("new.pcl");
    // The large entry reaches past where the new archive's tables wait, or
    // the first flush's tables do.
    for (size_t big : {(size_t)70000, (size_t)61900}) {
        Contents flushed;
        std::vector<ParcelIoCall> calls;
        DeleteFileA(path.c_str());
        {
            Injector count;
            ASSERT_TRUE(NewArchiveRun(path, big, &flushed));
            for (int i = 0; i < count.Calls(); ++i)
                calls.push_back(count.Call(i));
        }
        for (int i = 0; i < (int)calls.size(); ++i) {
            for (Fault fault : {FAULT_STOP, FAULT_TEAR}) {
                if (fault == FAULT_TEAR && calls[(size_t)i] != PARCEL_IO_WRITE)
                    continue;
                DeleteFileA(path.c_str());
                {
                    Injector in(i, fault);
                    NewArchiveRun(path, big, nullptr);
                    ASSERT_TRUE(in.Hit());
                }
                const char *how = fault == FAULT_STOP ? "stopped" : "torn";
                Contents got;
                CParcel p;
                if (!tree.Read("new.pcl").empty()) {
                    ASSERT_TRUE(p.Open(1, path.c_str(), 2, 1024)) << how << " at call " << i;
                    got = Listed(p);
                    p.Close();
                    EXPECT_TRUE(got.empty() || got == flushed) << how << " at call " << i;
                }
                ASSERT_TRUE(p.Open(1, path.c_str(), 4, 1024)) << how << " at call " << i;
                EXPECT_EQ(Listed(p), got) << how << " at call " << i;
                ASSERT_TRUE(p.Flush(0)) << how << " at call " << i;
                p.Close();
                ASSERT_TRUE(p.Open(1, path.c_str(), 0, 1024)) << how << " at call " << i;
                EXPECT_EQ(Listed(p), got) << how << " at call " << i;
                p.Close();
            }
        }
    }
    // Closed without a flush, it is still the new, empty archive.
    DeleteFileA(path.c_str());
    CParcel p;
    ASSERT_TRUE(p.Open(1, path.c_str(), 4, 1024));
    HANDLE h = p.CreateFile("lost", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    p.SetFileSize(h, 100, 0);
    DWORD done = 0;
    EXPECT_TRUE(p.WriteFile(h, Pattern(100, 1).data(), 100, &done, nullptr));
    p.CloseHandle(h);
    p.Close();
    ASSERT_TRUE(p.Open(1, path.c_str(), 0, 1024));
    EXPECT_TRUE(Listed(p).empty());
    p.Close();
}

INSTANTIATE_TEST_SUITE_P(Stories, Crash, ::testing::Values(STORY_EVERYDAY, STORY_FULL_TABLE, STORY_IN_PLACE));

} // namespace
