// Reads a few thousand files once from a packed archive and once as loose files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "bench/benchmode.h"

namespace {

const int kFolders = 30;
const int kFiles = 3000;

struct Item {
    std::string name;
    DWORD size;
};

uint32_t s_seed = 20261206u;
uint32_t Next()
{
    s_seed = s_seed * 1664525u + 1013904223u;
    return s_seed >> 8;
}

void Fill(std::vector<char> &buf, DWORD size, uint32_t salt)
{
    for (DWORD i = 0; i < size; ++i)
        buf[i] = (char)((i * 31u + salt) >> 3);
}

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

// The engine's way: open, size, one read, close.
uint64_t ReadAll(CParcel &parcel, const std::vector<Item> &items, std::vector<char> &buf, int *missing)
{
    uint64_t total = 0;
    for (const Item &it : items) {
        HANDLE h = parcel.CreateFile(it.name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ++*missing;
            continue;
        }
        DWORD high = 0;
        DWORD size = parcel.GetFileSize(h, &high);
        DWORD got = 0;
        if (size)
            parcel.ReadFile(h, buf.data(), size, &got, nullptr);
        parcel.CloseHandle(h);
        total += got;
    }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    KivBenchSayDirect3DMode(false);
    bool keep = argc > 1 && !strcmp(argv[1], "--keep");
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    char tag[64];
    sprintf(tag, "pcl_read_bench_%lu", GetCurrentProcessId());
    std::string root = std::string(tmp) + tag;
    std::string archive = root + ".pcl";
    CreateDirectoryA(root.c_str(), nullptr);

    printf("generating %d files in %s\n", kFiles, root.c_str());
    std::vector<Item> items;
    std::vector<char> buf(140 * 1024);
    uint64_t bytes = 0;
    for (int d = 0; d < kFolders; ++d) {
        char sub[32];
        sprintf(sub, "\\sub%02d", d);
        CreateDirectoryA((root + sub).c_str(), nullptr);
    }
    for (int i = 0; i < kFiles; ++i) {
        char name[64];
        sprintf(name, "sub%02d/file%04d.bin", i % kFolders, i);
        DWORD size = 1024 + Next() % (134 * 1024);
        Fill(buf, size, (uint32_t)i);
        std::string path = root + "\\" + name;
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        DWORD done = 0;
        WriteFile(f, buf.data(), size, &done, nullptr);
        CloseHandle(f);
        items.push_back(Item{name, size});
        bytes += size;
    }

    printf("packing %.1f MB into %s\n", bytes / 1048576.0, archive.c_str());
    DeleteFileA(archive.c_str());
    {
        CParcel pack;
        if (!pack.Open(1, archive.c_str(), 4, kFiles * 2)) {
            fprintf(stderr, "cannot create the archive\n");
            return 1;
        }
        for (const Item &it : items) {
            HANDLE h = pack.CreateFile(it.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
            pack.SetFileSize(h, it.size, 0);
            Fill(buf, it.size, (uint32_t)(&it - items.data()));
            DWORD done = 0;
            pack.WriteFile(h, buf.data(), it.size, &done, nullptr);
            pack.CloseHandle(h);
        }
        pack.Flush(0);
        pack.Close();
    }

    CParcel loose, packed;
    loose.Open(0, root.c_str(), 2, 10240);
    packed.Open(1, archive.c_str(), 2, 10240);
    int missing = 0;
    // One pass each to bring both into the page cache, then the best of three.
    ReadAll(loose, items, buf, &missing);
    ReadAll(packed, items, buf, &missing);
    double bestLoose = 1e9, bestPacked = 1e9;
    uint64_t readLoose = 0, readPacked = 0;
    for (int run = 0; run < 3; ++run) {
        double t0 = Now();
        readLoose = ReadAll(loose, items, buf, &missing);
        double t1 = Now();
        readPacked = ReadAll(packed, items, buf, &missing);
        double t2 = Now();
        if (t1 - t0 < bestLoose)
            bestLoose = t1 - t0;
        if (t2 - t1 < bestPacked)
            bestPacked = t2 - t1;
    }
    loose.Close();
    packed.Close();

    printf("files %d, bytes %llu (loose read %llu, packed read %llu), missing %d\n", kFiles,
           (unsigned long long)bytes, (unsigned long long)readLoose, (unsigned long long)readPacked, missing);
    printf("loose  %8.1f ms  %7.1f MB/s\n", bestLoose * 1000, bytes / 1048576.0 / bestLoose);
    printf("packed %8.1f ms  %7.1f MB/s\n", bestPacked * 1000, bytes / 1048576.0 / bestPacked);
    printf("ratio loose/packed %.2f (above 1: the archive reads faster)\n", bestLoose / bestPacked);

    if (!keep) {
        for (const Item &it : items)
            DeleteFileA((root + "\\" + it.name).c_str());
        for (int d = 0; d < kFolders; ++d) {
            char sub[32];
            sprintf(sub, "\\sub%02d", d);
            RemoveDirectoryA((root + sub).c_str());
        }
        RemoveDirectoryA(root.c_str());
        DeleteFileA(archive.c_str());
    }
    return 0;
}
