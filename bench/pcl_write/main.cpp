// Times flushes and compactions of a packed archive and measures how far the file grows between compactions.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "archive/ParcelIo.h"
#include "bench/benchmode.h"

namespace {

const int kFolders = 20;
const int kFiles = 2000;

uint32_t s_seed = 20261207u;
uint32_t Next()
{
    s_seed = s_seed * 1664525u + 1013904223u;
    return s_seed >> 8;
}

// Every write and forcing call the archive makes, counted.
struct Calls {
    unsigned writes, forced;
    uint64_t bytes;
};
Calls s_calls;

BOOL CountCall(void *, ParcelIoCall call, HANDLE, const void *, DWORD count)
{
    if (call == PARCEL_IO_WRITE) {
        ++s_calls.writes;
        s_calls.bytes += count;
    } else if (call == PARCEL_IO_FLUSH) {
        ++s_calls.forced;
    }
    return TRUE;
}

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

std::string Name(int i)
{
    char name[64];
    sprintf(name, "sub%02d\\file%04d.bin", i % kFolders, i);
    return name;
}

bool Put(CParcel &p, const std::string &name, DWORD size, std::vector<char> &buf)
{
    HANDLE h = p.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    p.SetFileSize(h, size, 0);
    for (DWORD i = 0; i < size; ++i)
        buf[i] = (char)(i * 7 + size);
    DWORD done = 0;
    BOOL ok = !size || p.WriteFile(h, buf.data(), size, &done, nullptr);
    p.CloseHandle(h);
    return ok && done == size;
}

uint64_t FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
        return 0;
    return ((uint64_t)a.nFileSizeHigh << 32) | a.nFileSizeLow;
}

// Best of a few runs of one flush, each after the same kind of change.
template <class Change>
double TimeFlush(CParcel &p, int level, int runs, Change change)
{
    double best = 1e9;
    for (int r = 0; r < runs; ++r) {
        change(r);
        const double t0 = Now();
        if (!p.Flush(level))
            fprintf(stderr, "flush %d failed\n", level);
        const double t = Now() - t0;
        if (t < best)
            best = t;
    }
    return best;
}

// How the cost of a pack, of removing half its entries and of the
// compaction after it grows with the entry count: per entry it should stay
// flat. Entries of 64 to 1087 bytes in 20 folders.
// A new archive of that name, room for count entries in its table.
bool CreateNew(CParcel &p, const std::string &archive, int count)
{
    DeleteFileA(archive.c_str());
    if (p.Open(1, archive.c_str(), 4, (DWORD)count * 2))
        return true;
    fprintf(stderr, "cannot create %s\n", archive.c_str());
    return false;
}

void Scaling(const std::string &archive, int count, std::vector<char> &buf)
{
    CParcel p;
    if (!CreateNew(p, archive, count))
        return;
    double t0 = Now();
    for (int i = 0; i < count; ++i)
        Put(p, Name(i), 64 + (DWORD)(Next() % 1024), buf);
    const bool packed = p.Flush(0) != FALSE;
    const double pack = Now() - t0;
    t0 = Now();
    for (int i = 0; i < count; i += 2)
        p.DeleteFile(Name(i).c_str());
    const double remove = Now() - t0;
    const uint64_t holed = FileSize(archive);
    s_calls = Calls();
    ParcelSetIoHook(CountCall, nullptr);
    t0 = Now();
    const bool compacted = p.Flush(1) != FALSE;
    const double compact = Now() - t0;
    ParcelSetIoHook(nullptr, nullptr);
    printf("%7d entries: pack %8.3f s, delete half %7.3f s, compact %8.3f s (%5.2f packs; %4.1f us per entry; "
           "%u writes, %u forced; file %.0f KB -> %.0f KB)%s\n",
           count, pack, remove, compact, compact / pack, compact * 1e6 / count, s_calls.writes, s_calls.forced,
           holed / 1024.0, FileSize(archive) / 1024.0, packed && compacted ? "" : "  FAILED");
    p.Close();
    DeleteFileA(archive.c_str());
}

// Entries created in one folder in name order, then flushed.
void SortedCreate(const std::string &archive, int count, std::vector<char> &buf)
{
    CParcel p;
    if (!CreateNew(p, archive, count))
        return;
    const double t0 = Now();
    char name[64];
    for (int i = 0; i < count; ++i) {
        sprintf(name, "one\\file%06d.bin", i);
        Put(p, name, 64, buf);
    }
    const bool ok = p.Flush(0) != FALSE;
    const double t = Now() - t0;
    printf("%7d entries created in name order in one folder and flushed %8.3f s (%4.1f us per entry)%s\n",
           count, t, t * 1e6 / count, ok ? "" : "  FAILED");
    p.Close();
    DeleteFileA(archive.c_str());
}

// The layouts compaction must handle at the same cost per entry; every
// other entry deleted (a chain loses its first entry and its bytes of room).
enum { LAYOUT_RANDOM, LAYOUT_DECREASING, LAYOUT_CHAIN, LAYOUT_HUGE_AMONG_TINY, LAYOUT_COUNT };
const char *const kLayoutNames[LAYOUT_COUNT] = {"random", "decreasing", "chains", "huge among tiny"};

DWORD LayoutSize(int kind, int i, int count)
{
    switch (kind) {
    case LAYOUT_DECREASING: return 64 + (DWORD)((int64_t)(count - i) * 1024 / count);
    // Runs of 500 entries, each a byte smaller than the last, a byte of room after each.
    case LAYOUT_CHAIN: return i % 2 ? 1 : 600 - (DWORD)(i / 2 % 500);
    // The huge one is kept.
    case LAYOUT_HUGE_AMONG_TINY: return i == (count / 3 | 1) ? 64u << 20 : 1 + (DWORD)(Next() % 40);
    default: return 64 + (DWORD)(Next() % 1024);
    }
}

bool Deleted(int kind, int i)
{
    return kind == LAYOUT_CHAIN ? i % 2 == 1 || i % 1000 == 0 : i % 2 == 0;
}

DWORD Place(CParcel &p, const std::string &name)
{
    DWORD low = 0;
    return p.GetFileLocation(name.c_str(), &low, nullptr) ? low : 0;
}

void Layout(const std::string &archive, int kind, int count, std::vector<char> &buf)
{
    CParcel p;
    if (!CreateNew(p, archive, count))
        return;
    std::vector<char> big;
    std::vector<DWORD> sizes(count), places(count);
    for (int i = 0; i < count; ++i) {
        sizes[i] = LayoutSize(kind, i, count);
        if (sizes[i] > big.size())
            big.resize(sizes[i]);
        Put(p, Name(i), sizes[i], sizes[i] > buf.size() ? big : buf);
    }
    bool ok = p.Flush(0) != FALSE;
    for (int i = 0; i < count; ++i)
        if (Deleted(kind, i))
            p.DeleteFile(Name(i).c_str());
    ok = p.Flush(0) && ok;
    for (int i = 0; i < count; ++i)
        places[i] = Deleted(kind, i) ? 0 : Place(p, Name(i));
    const uint64_t before = FileSize(archive);
    s_calls = Calls();
    ParcelSetIoHook(CountCall, nullptr);
    const double t0 = Now();
    ok = p.Flush(1) && ok;
    const double t = Now() - t0;
    const Calls compaction = s_calls;
    s_calls = Calls();
    ok = p.Flush(1) && ok;
    const Calls again = s_calls;
    ParcelSetIoHook(nullptr, nullptr);
    // Each commit writes the whole tables, which end the file.
    uint64_t moved = 0, dataEnd = 0;
    for (int i = 0; i < count; ++i) {
        if (Deleted(kind, i))
            continue;
        const DWORD at = Place(p, Name(i));
        moved += at != places[i] ? sizes[i] : 0;
        dataEnd = std::max<uint64_t>(dataEnd, (uint64_t)at + sizes[i]);
    }
    const uint64_t after = FileSize(archive), tables = after - dataEnd * (dataEnd < after);
    const uint64_t contents = compaction.bytes - std::min<uint64_t>(compaction.bytes, compaction.forced / 2 * tables);
    printf("%-15s %7d entries: compact %7.3f s (%5.1f us per entry); moved %6.1f MB, written %6.1f MB in %u "
           "forced (tables %5.1f MB each; contents %4.2f x moved); file %6.1f MB -> %6.1f MB (%5.1f%%); again "
           "%u writes%s\n",
           kLayoutNames[kind], count, t, t * 1e6 / count, moved / 1048576.0, compaction.bytes / 1048576.0,
           compaction.forced, tables / 1048576.0, moved ? (double)contents / moved : 0.0, before / 1048576.0,
           after / 1048576.0, 100.0 * after / before, again.writes, ok ? "" : "  FAILED");
    p.Close();
    DeleteFileA(archive.c_str());
}

void Layouts(const std::string &archive, int largest, std::vector<char> &buf)
{
    for (int kind = 0; kind < LAYOUT_COUNT; ++kind)
        for (int n : {2000, 16000, 100000})
            if (n <= largest)
                Layout(archive, kind, n, buf);
}

} // namespace

int main(int argc, char **argv)
{
    KivBenchSayDirect3DMode(false);
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    char tag[64];
    sprintf(tag, "pcl_write_bench_%lu.pcl", GetCurrentProcessId());
    const std::string archive = std::string(tmp) + tag;
    DeleteFileA(archive.c_str());

    std::vector<char> buf(64 * 1024);
    // "layouts [largest]" runs only the compaction of each layout.
    if (argc > 1 && !strcmp(argv[1], "layouts")) {
        const int largest = argc > 2 ? atoi(argv[2]) : 100000;
        Layouts(archive, largest, buf);
        return 0;
    }
    // "scale [largest]" runs only the growth figures, up to that many entries.
    if (argc > 1 && !strcmp(argv[1], "scale")) {
        const int largest = argc > 2 ? atoi(argv[2]) : 100000;
        for (int n = 1000; n <= largest; n *= 10)
            Scaling(archive, n, buf);
        for (int n = 1000; n <= largest; n *= 10)
            SortedCreate(archive, n, buf);
        printf("compaction of every other entry deleted, by layout:\n");
        Layouts(archive, largest, buf);
        return 0;
    }
    std::vector<DWORD> sizes(kFiles);
    uint64_t bytes = 0;
    CParcel p;
    if (!p.Open(1, archive.c_str(), 4, kFiles * 2)) {
        fprintf(stderr, "cannot create %s\n", archive.c_str());
        return 1;
    }
    for (int i = 0; i < kFiles; ++i) {
        sizes[i] = 512 + Next() % (32 * 1024);
        Put(p, Name(i), sizes[i], buf);
        bytes += sizes[i];
    }
    double t0 = Now();
    p.Flush(0);
    const double first = Now() - t0;
    printf("archive: %d entries, %.1f MB of contents, file %.1f MB\n", kFiles, bytes / 1048576.0,
           FileSize(archive) / 1048576.0);
    printf("first flush (tables of %d entries)          %8.2f ms\n", kFiles, first * 1000);

    int added = 0;
    const double small = TimeFlush(p, 0, 5, [&](int) {
        for (int k = 0; k < 10; ++k) {
            p.DeleteFile(Name((int)(Next() % kFiles)).c_str());
            Put(p, "new\\" + std::to_string(added++), 4096, buf);
        }
    });
    printf("flush after 10 deletes and 10 adds          %8.2f ms\n", small * 1000);
    ParcelSetIoHook(CountCall, nullptr);
    const double none = TimeFlush(p, 0, 5, [&](int) {});
    ParcelSetIoHook(nullptr, nullptr);
    printf("flush with nothing changed                  %8.2f ms  (%u writes, %u forced in 5 flushes)\n",
           none * 1000, s_calls.writes, s_calls.forced);
    s_calls = Calls();

    // Growth between compactions: the same contents rewritten again and
    // again (every rewrite frees a region the next one may reuse), and
    // entries without contents added (the tables grow).
    const uint64_t startSize = FileSize(archive);
    uint64_t largest = startSize;
    for (int round = 0; round < 100; ++round) {
        for (int k = 0; k < 5; ++k) {
            const int i = (int)(Next() % 50);
            Put(p, "hot\\" + std::to_string(i), 2000 + (DWORD)(i * 37), buf);
        }
        p.Flush(0);
        const uint64_t now = FileSize(archive);
        if (now > largest)
            largest = now;
    }
    printf("rewrites: 100 flushes of 5 rewritten entries: file from %.1f KB to at most %.1f KB (+%.1f KB), "
           "%.1f KB after\n",
           startSize / 1024.0, largest / 1024.0, (largest - startSize) / 1024.0, FileSize(archive) / 1024.0);
    const uint64_t beforeEmpty = FileSize(archive);
    largest = beforeEmpty;
    for (int round = 0; round < 20; ++round) {
        for (int k = 0; k < 5; ++k) {
            HANDLE h = p.CreateFile(("empty\\" + std::to_string(round * 5 + k)).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, 0, nullptr);
            p.CloseHandle(h);
        }
        p.Flush(0);
        const uint64_t now = FileSize(archive);
        if (now > largest)
            largest = now;
    }
    printf("empty entries: 20 flushes of 5 new entries: file from %.1f KB to at most %.1f KB (+%.1f KB; "
           "the tables grew by %.1f KB)\n",
           beforeEmpty / 1024.0, largest / 1024.0, (largest - beforeEmpty) / 1024.0, 100 * 280 / 1024.0);

    // Compaction after a third of the entries went.
    ParcelSetIoHook(CountCall, nullptr);
    for (int i = 0; i < kFiles; i += 3)
        p.DeleteFile(Name(i).c_str());
    const uint64_t holed = FileSize(archive);
    t0 = Now();
    p.Flush(1);
    const double level1 = Now() - t0;
    printf("compaction level 1 after deleting a third   %8.2f ms  (file %.1f MB -> %.1f MB; %u writes of "
           "%.1f MB, %u forced)\n",
           level1 * 1000, holed / 1048576.0, FileSize(archive) / 1048576.0, s_calls.writes,
           s_calls.bytes / 1048576.0, s_calls.forced);
    s_calls = Calls();
    for (int i = 1; i < kFiles; i += 7)
        p.DeleteFile(Name(i).c_str());
    const uint64_t holed2 = FileSize(archive);
    t0 = Now();
    p.Flush(2);
    const double level2 = Now() - t0;
    printf("compaction level 2 after deleting a seventh %8.2f ms  (file %.1f MB -> %.1f MB; %u writes of "
           "%.1f MB, %u forced)\n",
           level2 * 1000, holed2 / 1048576.0, FileSize(archive) / 1048576.0, s_calls.writes,
           s_calls.bytes / 1048576.0, s_calls.forced);

    // Part of a big entry written over in place (opened as it is, not
    // created anew), then flushed; the first write after a flush pays for
    // whatever keeps the flushed bytes intact.
    const DWORD bigSize = 4 * 1024 * 1024;
    std::vector<char> big(bigSize);
    for (DWORD i = 0; i < bigSize; ++i)
        big[i] = (char)(i * 13);
    HANDLE h = p.CreateFile("big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    p.SetFileSize(h, bigSize, 0);
    DWORD done = 0;
    p.WriteFile(h, big.data(), bigSize, &done, nullptr);
    p.CloseHandle(h);
    p.Flush(0);
    const uint64_t beforeRewrites = FileSize(archive);
    double firstWrite = 1e9, laterWrite = 1e9, rewriteFlush = 1e9;
    s_calls = Calls();
    const int rewrites = 5;
    for (int r = 0; r < rewrites; ++r) {
        h = p.CreateFile("big.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        for (int k = 0; k < 2; ++k) {
            p.SetFilePointer(h, (LONG)(bigSize / 2 + k * 65536), nullptr, FILE_BEGIN);
            t0 = Now();
            if (!p.WriteFile(h, buf.data(), 65536, &done, nullptr) || done != 65536)
                fprintf(stderr, "rewrite failed\n");
            const double t = Now() - t0;
            double &best = k == 0 ? firstWrite : laterWrite;
            if (t < best)
                best = t;
        }
        p.CloseHandle(h);
        t0 = Now();
        p.Flush(0);
        const double t = Now() - t0;
        if (t < rewriteFlush)
            rewriteFlush = t;
    }
    printf("in-place rewrite of 64 KB in a %u MB entry: first write after a flush %8.2f ms, next write "
           "%8.2f ms, flush %8.2f ms (%d cycles: %u writes of %.1f MB; file %.1f MB -> %.1f MB)\n",
           (unsigned)(bigSize >> 20), firstWrite * 1000, laterWrite * 1000, rewriteFlush * 1000, rewrites,
           s_calls.writes, s_calls.bytes / 1048576.0, beforeRewrites / 1048576.0, FileSize(archive) / 1048576.0);
    ParcelSetIoHook(nullptr, nullptr);
    p.Close();
    DeleteFileA(archive.c_str());

    printf("growth with the entry count (run \"pcl_write_bench scale\" for these alone):\n");
    for (int n = 1000; n <= 100000; n *= 10)
        Scaling(archive, n, buf);
    for (int n = 1000; n <= 100000; n *= 10)
        SortedCreate(archive, n, buf);
    return 0;
}
