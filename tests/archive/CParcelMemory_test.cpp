// The packed archive when memory runs out: every call fails whole or runs
// whole, lets no exception out and leaves no block behind.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "EngineRead.h"
#include "support/failnew/fail_new.h"
#include "support/failnew/fail_new_sweep.h"
#include "support/failnew/malloc_probe.h"
#include "support/scratch_folder.h"
#include "archive/CParcel.h"
#include "archive/CParcelList.h"
#include "engine/KivFileRead.h"

namespace {

// Every folder (its path, ending in a backslash) and every entry with its
// bytes, as the archive's own calls report them.
typedef std::map<std::string, std::string> Model;
const char kFolder[] = "<folder>";
const char kLong[] = "a folder of a long name\\an entry of a long name";

Model Snapshot(CParcel &p)
{
    Model m;
    std::vector<std::string> dirs(1);
    while (!dirs.empty()) {
        const std::string dir = dirs.back();
        dirs.pop_back();
        WIN32_FIND_DATAA d;
        HANDLE find = p.FindFirstFile((dir + "*.*").c_str(), &d);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::string path = dir + d.cFileName;
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                m[path + "\\"] = kFolder;
                dirs.push_back(path + "\\");
            } else {
                m[path] = ReadWhole(p, path.c_str());
            }
        } while (p.FindNextFile(find, &d));
        p.FindClose(find);
    }
    return m;
}

// One call under test: what it does to the archive it is given (the model's
// change when it succeeds), and what is set up before it (with its change,
// made either way) and undone after it, with memory to spare.
struct Call {
    std::function<void(CParcel &)> before;
    std::function<void(Model &)> prepared;
    std::function<bool(CParcel &)> call;
    std::function<void(Model &)> change;
    std::function<void(CParcel &)> after;
};

class ParcelMemory : public ::testing::Test {
protected:
    ParcelMemory() : m_path(m_tree.Full("memory.pcl"))
    {
        // Eight entries in the root, two folders below it and one below
        // that, with a hole left by a deleted entry for compaction to fill.
        CParcel p;
        EXPECT_TRUE(p.Open(1, m_path.c_str(), 4, 1024));
        for (int i = 0; i < 8; ++i)
            EXPECT_TRUE(WriteWhole(p, "r" + std::to_string(i), std::string(40 + 30 * i, (char)('a' + i))));
        EXPECT_TRUE(WriteWhole(p, "hole", std::string(200, 'h')));
        EXPECT_TRUE(WriteWhole(p, "f4\\c.txt", "contents of c"));
        EXPECT_TRUE(WriteWhole(p, "f4\\sub\\d.txt", "contents of d"));
        EXPECT_TRUE(WriteWhole(p, "f5\\e.txt", std::string(300, 'e')));
        // Names too long to be kept without an allocation of their own.
        EXPECT_TRUE(WriteWhole(p, kLong, "long"));
        EXPECT_TRUE(p.Flush(0));
        EXPECT_TRUE(p.DeleteFile("hole"));
        EXPECT_TRUE(p.Flush(0));
        p.Close();
        m_base = m_tree.Read("memory.pcl");
        EXPECT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
        m_model = Snapshot(p);
        EXPECT_EQ(16u, m_model.size());
    }

    // The call with its allocations refused in turn from the first on (the
    // operator's and malloc's alike) until it runs whole. After each: no
    // exception; the archive holds what the model says, before the call or
    // after it by its result; a flush commits exactly that; and once the
    // object is closed and gone, no block is left.
    void Sweep(const char *name, const Call &c)
    {
        Model unchanged = m_model;
        if (c.prepared)
            c.prepared(unchanged);
        Model changed = unchanged;
        c.change(changed);
        long refused = 1;
        for (long n = 0; refused; n += n < 100 || FailNewFullSweeps() ? 1 : 7) {
            m_tree.File("memory.pcl", m_base);
            const long blocks = KivLiveHeapBlocks(), mallocs = MallocProbeLive();
            CParcel *p = new CParcel;
            ASSERT_TRUE(p->Open(1, m_path.c_str(), 0, 1024));
            if (c.before)
                c.before(*p);
            bool ok = false, threw = false;
            SetLastError(NO_ERROR);
            FailNewAfter(n);
            try {
                ok = c.call(*p);
            } catch (...) {
                threw = true;
            }
            const DWORD error = GetLastError();
            refused = FailNewRefused();
            FailNewEnd();
            EXPECT_FALSE(threw) << name << " threw after " << n << " allocations";
            // With memory the call succeeds: a failure is the memory's.
            if (!ok) {
                EXPECT_EQ(error, (DWORD)ERROR_NOT_ENOUGH_MEMORY) << name << " after " << n;
            }
            if (c.after)
                c.after(*p);
            const Model &want = ok ? changed : unchanged;
            EXPECT_EQ(want, Snapshot(*p)) << name << " after " << n << (ok ? " (done)" : " (failed)");
            EXPECT_TRUE(p->Flush(0)) << name << " after " << n;
            delete p;
            CParcel again;
            EXPECT_TRUE(again.Open(1, m_path.c_str(), 2, 1024)) << name << " after " << n;
            EXPECT_EQ(want, Snapshot(again)) << name << " reopened after " << n;
            again.Close();
            EXPECT_EQ(blocks, KivLiveHeapBlocks()) << name << " after " << n;
            EXPECT_EQ(mallocs, MallocProbeLive()) << name << " after " << n;
            if (HasFailure())
                return;
        }
    }

    ScratchFolder m_tree;
    std::string m_path;
    std::string m_base;
    Model m_model;
};

void Unchanged(Model &) {}

TEST_F(ParcelMemory, CallsChangingEntriesFailWhole)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    auto closeHandle = [&](CParcel &p) {
        if (h != INVALID_HANDLE_VALUE)
            p.CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    };
    auto create = [&](const char *name) {
        return [&h, name](CParcel &p) {
            h = p.CreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            return h != INVALID_HANDLE_VALUE;
        };
    };
    Sweep("CreateFile of a new entry in new folders",
          {nullptr, nullptr, create("f6\\g\\new.txt"),
           [](Model &m) {
               m["f6\\"] = m["f6\\g\\"] = kFolder;
               m["f6\\g\\new.txt"] = "";
           },
           closeHandle});
    Sweep("CreateFile over an entry", {nullptr, nullptr, create("r3"), [](Model &m) { m["r3"] = ""; }, closeHandle});
    for (DWORD disposition : {(DWORD)OPEN_EXISTING, (DWORD)OPEN_ALWAYS, (DWORD)CREATE_NEW}) {
        const std::string name = "CreateFile with disposition " + std::to_string(disposition);
        Sweep(name.c_str(), {nullptr, nullptr,
                             [&h, disposition](CParcel &p) {
                                 h = p.CreateFile(disposition == CREATE_NEW ? "f5\\new" : "f5\\e.txt", GENERIC_READ,
                                                  0, nullptr, disposition, 0, nullptr);
                                 return h != INVALID_HANDLE_VALUE;
                             },
                             [disposition](Model &m) {
                                 if (disposition == CREATE_NEW)
                                     m["f5\\new"] = "";
                             },
                             closeHandle});
    }
    Sweep("CreateFile truncating an entry",
          {nullptr, nullptr,
           [&](CParcel &p) {
               h = p.CreateFile("f5\\e.txt", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
               return h != INVALID_HANDLE_VALUE;
           },
           [](Model &m) { m["f5\\e.txt"] = ""; }, closeHandle});
    Sweep("WriteFile into a flushed entry",
          {[&](CParcel &p) { h = p.CreateFile("r5", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr); },
           nullptr,
           [&](CParcel &p) {
               DWORD done = 0;
               return p.WriteFile(h, "XYZ", 3, &done, nullptr) && done == 3;
           },
           [](Model &m) { m["r5"].replace(0, 3, "XYZ"); }, closeHandle});
    // The cut moves the entry off what the flush holds: a copy to have.
    Sweep("SetFileSize cutting a flushed entry",
          {[&](CParcel &p) { h = p.CreateFile("f5\\e.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr); },
           nullptr,
           [&](CParcel &p) {
               p.SetFileSize(h, 100, 0);
               const DWORD error = GetLastError();
               const bool cut = p.GetFileSize(h, nullptr) == 100;
               SetLastError(error);
               return cut;
           },
           [](Model &m) { m["f5\\e.txt"].resize(100); }, closeHandle});
    Sweep("DeleteFile", {nullptr, nullptr, [](CParcel &p) { return p.DeleteFile(kLong) != FALSE; },
                         [](Model &m) { m.erase(kLong); }, nullptr});
    // Written since the flush, so freed at once: its record and both
    // neighbours' go spare, with nodes set aside before.
    Sweep("DeleteFile between two free regions",
          {[](CParcel &p) {
               for (const char *name : {"x1", "x2", "x3", "x4"})
                   WriteWhole(p, name, std::string(50, name[1]));
               p.DeleteFile("x1");
               p.DeleteFile("x3");
           },
           [](Model &m) {
               m["x2"] = std::string(50, '2');
               m["x4"] = std::string(50, '4');
           },
           [](CParcel &p) { return p.DeleteFile("x2") != FALSE; }, [](Model &m) { m.erase("x2"); }, nullptr});
    Sweep("RemoveDirectory", {nullptr, nullptr, [](CParcel &p) { return p.RemoveDirectory("f4") != FALSE; },
                              [](Model &m) {
                                  for (const char *k : {"f4\\", "f4\\c.txt", "f4\\sub\\", "f4\\sub\\d.txt"})
                                      m.erase(k);
                              },
                              nullptr});
}

// A failed flush keeps every entry, and the next one commits them all.
TEST_F(ParcelMemory, FlushesAtEveryLevelLoseNothing)
{
    for (int level = 0; level < 3; ++level) {
        const std::string name = "DeleteFile then Flush(" + std::to_string(level) + ")";
        Sweep(name.c_str(), {[](CParcel &p) { p.DeleteFile("r1"); }, [](Model &m) { m.erase("r1"); },
                             [level](CParcel &p) { return p.Flush(level) != FALSE; }, Unchanged, nullptr});
    }
}

TEST_F(ParcelMemory, CallsThatChangeNothingLeaveNothing)
{
    Sweep("FindFirstFile", {nullptr, nullptr,
                            [](CParcel &p) {
                                WIN32_FIND_DATAA d;
                                HANDLE find = p.FindFirstFile("f4\\*.*", &d);
                                return find != INVALID_HANDLE_VALUE && p.FindClose(find);
                            },
                            Unchanged, nullptr});
    // A search through folders and entries whose names need blocks of their
    // own: running out of memory at any point says so, never "nothing found"
    // or "no more".
    Sweep("FindFirstFile and FindNextFile over long names",
          {nullptr, nullptr,
           [](CParcel &p) {
               for (const char *pattern : {"*.*", "a folder of a long name\\*.*"}) {
                   WIN32_FIND_DATAA d;
                   HANDLE find = p.FindFirstFile(pattern, &d);
                   if (find == INVALID_HANDLE_VALUE)
                       return false;
                   while (p.FindNextFile(find, &d)) {
                   }
                   const DWORD ended = GetLastError();
                   p.FindClose(find);
                   SetLastError(ended);
                   if (ended != ERROR_NO_MORE_FILES)
                       return false;
               }
               return true;
           },
           Unchanged, nullptr});
    // The engine's whole-file read takes memory that ran out for a failed
    // read, never for a missing file.
    Sweep("KivReadWholeFile", {nullptr, nullptr,
                               [](CParcel &p) {
                                   std::unique_ptr<unsigned char[]> bytes;
                                   DWORD size = 0;
                                   const KivReadStatus status = KivReadWholeFile(&p, kLong, bytes, &size);
                                   SetLastError(status == kKivReadMissing ? ERROR_FILE_NOT_FOUND
                                                                          : ERROR_NOT_ENOUGH_MEMORY);
                                   return status == kKivReadOk;
                               },
                               Unchanged, nullptr});
    Sweep("MmioOpen", {nullptr, nullptr,
                       [](CParcel &p) {
                           HMMIO m = p.MmioOpen("f5\\e.txt", nullptr, MMIO_READ);
                           return m && p.MmioClose(m, 0) == 0;
                       },
                       Unchanged, nullptr});
    Sweep("Close and Open",
          {nullptr, nullptr,
           [this](CParcel &p) {
               p.Close();
               return p.Open(1, m_path.c_str(), 0, 1024) != FALSE;
           },
           Unchanged,
           // A failed open leaves no archive: the next open is the one checked.
           [this](CParcel &p) {
               if (!p.FindFolder("")) {
                   EXPECT_TRUE(p.Open(1, m_path.c_str(), 0, 1024));
               }
           }});
}

// Nodes set aside are there when memory is not: a change that asked for them
// first cannot stop half way.
TEST(ParcelListMemory, ReservedNodesNeedNoMemory)
{
    CParcelList<uint32_t> list;
    ASSERT_TRUE(list.Reserve(3));
    FailNewBegin(0, true);
    EXPECT_NE(nullptr, list.PushBack(1));
    EXPECT_NE(nullptr, list.PushFront(0));
    EXPECT_NE(nullptr, list.InsertAfter(list.First(), 2));
    EXPECT_EQ(nullptr, list.PushBack(3));
    FailNewEnd();
    EXPECT_EQ(3u, list.Count());
    EXPECT_TRUE(list.Reserve(1));
    EXPECT_NE(nullptr, list.PushBack(3));
}

}  // namespace
