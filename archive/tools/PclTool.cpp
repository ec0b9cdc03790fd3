// The pcl commands: pack a folder into a packed archive, list an archive, extract or compact one.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "archive/tools/PclTool.h"

namespace {

struct Source {
    std::string name; // as stored in the archive
    std::string path; // on disk
    DWORD size;
};

void Usage()
{
    printf("usage:\n"
           "  pcl pack [-f] [-c] <folder> <archive>\n"
           "                                     pack a folder; entries are named\n"
           "                                     folder/sub/file (the engine's names),\n"
           "                                     or with -f stored in folders folder\\sub\\;\n"
           "                                     with -c the folder's own name is left\n"
           "                                     out (sub/file: a game's data tree)\n"
           "  pcl list <archive>                 list folders and entries\n"
           "  pcl extract <archive> <name> [out] copy one entry to a disk file\n"
           "  pcl compact <archive> [level]      close holes (level 1 or 2) and rewrite\n");
}

// The name GetTempFileNameA gives pack's own files: pcl, one to four hex
// digits, .tmp.
bool TempName(const char *name)
{
    const size_t n = strlen(name);
    if (n < 8 || n > 11 || _strnicmp(name, "pcl", 3) != 0 || _stricmp(name + n - 4, ".tmp") != 0)
        return false;
    for (size_t i = 3; i < n - 4; ++i)
        if (!isxdigit((unsigned char)name[i]))
            return false;
    return true;
}

// Whether a file is one a pack writes: empty (just named, or left), held by
// a pack under way (it shares nothing), or a whole archive. Anything else is
// somebody else's file that only looks like one.
bool PackFile(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    DWORD high = 0;
    const DWORD low = GetFileSize(f, &high);
    CloseHandle(f);
    if (!low && !high)
        return true;
    CParcel parcel;
    const BOOL archive = parcel.Open(1, path.c_str(), 2, 0);
    parcel.Close();
    return archive != FALSE;
}

// Files a pack must not take in: the archive it writes, and its own
// temporary files, which lie beside that archive (in folder temps).
struct Skip {
    std::string archive;
    std::string temps;

    bool Has(const std::string &folder, const std::string &path, const char *name) const
    {
        return lstrcmpiA(path.c_str(), archive.c_str()) == 0 ||
               (TempName(name) && lstrcmpiA((folder + "\\").c_str(), temps.c_str()) == 0 && PackFile(path));
    }
};

bool Collect(const std::string &disk, const std::string &name, char sep, const Skip &skip,
             std::vector<Source> *out)
{
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA((disk + "\\*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
            continue;
        std::string path = disk + "\\" + d.cFileName;
        std::string entry = name.empty() ? std::string(d.cFileName) : name + sep + d.cFileName;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Collect(path, entry, sep, skip, out);
        } else if (!skip.Has(disk, path, d.cFileName)) {
            if (d.nFileSizeHigh) {
                fprintf(stderr, "skipped (4 GiB or more): %s\n", path.c_str());
                continue;
            }
            out->push_back(Source{entry, path, d.nFileSizeLow});
        }
    } while (FindNextFileA(f, &d));
    FindClose(f);
    return true;
}

std::string FullPath(const char *path)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::string(full) : std::string(path);
}

// Whether a file was last written more than a minute ago.
bool Old(const FILETIME &written)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t a = ((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime;
    const uint64_t b = ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return b > a && b - a > 60ull * 10000000ull;
}

// A pack that was ended leaves its temporary file: one not written for a
// minute (a pack under way writes at once, and renames it as soon as it is
// complete) that is empty or an archive no pack holds (it opens, and it can
// be deleted). The archive to be replaced is never one, whatever its name.
void RemoveStaleTemps(const std::string &folder, const std::string &archive)
{
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA((folder + "pcl*.tmp").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> stale;
    do {
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !TempName(d.cFileName) ||
            !Old(d.ftLastWriteTime))
            continue;
        const std::string path = folder + d.cFileName;
        if (lstrcmpiA(path.c_str(), archive.c_str()) == 0)
            continue;
        if (!d.nFileSizeLow && !d.nFileSizeHigh) {
            stale.push_back(path);
            continue;
        }
        CParcel parcel;
        const BOOL archive = parcel.Open(1, path.c_str(), 2, 0);
        parcel.Close();
        if (archive)
            stale.push_back(path);
    } while (FindNextFileA(f, &d));
    FindClose(f);
    for (const std::string &path : stale)
        if (DeleteFileA(path.c_str()))
            printf("removed %s, left by an unfinished pack\n", path.c_str());
}

int Pack(int argc, char **argv)
{
    bool folders = false, contents = false;
    int i = 0;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (!strcmp(argv[i], "-f")) {
            folders = true;
        } else if (!strcmp(argv[i], "-c")) {
            contents = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (argc - i != 2) {
        Usage();
        return 2;
    }
    std::string dir = FullPath(argv[i]);
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    std::string archive = FullPath(argv[i + 1]);
    size_t cut = dir.find_last_of("\\/:");
    std::string top = cut == std::string::npos ? dir : dir.substr(cut + 1);
    // The new archive is built in a file of its own beside the old one and
    // takes its name only when it is complete and on disk: a pack that fails
    // anywhere (a full disk, a stopped process) leaves the old one as it was.
    const size_t slash = archive.find_last_of("\\/");
    const std::string beside = slash == std::string::npos ? std::string(".") : archive.substr(0, slash + 1);
    RemoveStaleTemps(beside, archive);
    std::vector<Source> sources;
    if (top.empty() ||
        !Collect(dir, contents ? std::string() : top, folders ? '\\' : '/', Skip{archive, beside}, &sources)) {
        fprintf(stderr, "cannot read folder %s\n", dir.c_str());
        return 1;
    }
    char temp[MAX_PATH];
    if (!GetTempFileNameA(beside.c_str(), "pcl", 0, temp)) {
        fprintf(stderr, "cannot create a file beside %s\n", archive.c_str());
        return 1;
    }
    int failed = 0;
    uint64_t total = 0;
    {
        CParcel parcel;
        DWORD table = (DWORD)sources.size() * 2 + 16;
        if (!parcel.Open(1, temp, 4, table)) {
            fprintf(stderr, "cannot create %s\n", temp);
            DeleteFileA(temp);
            return 1;
        }
        for (const Source &s : sources) {
            HANDLE h = parcel.CreateFile(s.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                fprintf(stderr, "cannot add %s (name too long or already present)\n", s.name.c_str());
                ++failed;
                continue;
            }
            parcel.SetFileSize(h, s.size, 0);
            parcel.SetFileSource(h, s.path.c_str());
            parcel.CloseHandle(h);
            total += s.size;
        }
        // The flush copies every source file in and fails when the archive
        // file refuses any of it.
        if (!failed && !parcel.Flush(0)) {
            fprintf(stderr, "cannot write %s\n", temp);
            ++failed;
        }
        for (const Source &s : sources) {
            DWORD lo;
            if (!failed && s.size && !parcel.GetFileLocation(s.name.c_str(), &lo, nullptr)) {
                fprintf(stderr, "not stored: %s\n", s.name.c_str());
                ++failed;
            }
        }
        parcel.Close();
    }
    if (failed) {
        DeleteFileA(temp);
        fprintf(stderr, "%s left as it was\n", archive.c_str());
        return 1;
    }
    if (!MoveFileExA(temp, archive.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fprintf(stderr, "cannot replace %s\n", archive.c_str());
        DeleteFileA(temp);
        return 1;
    }
    printf("%u files, %llu bytes packed into %s\n", (unsigned)sources.size(), (unsigned long long)total,
           archive.c_str());
    return 0;
}

void ListFolder(CParcel &parcel, const std::string &folder, unsigned *files, uint64_t *bytes)
{
    WIN32_FIND_DATAA d;
    HANDLE f = parcel.FindFirstFile((folder + "*.*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> subfolders;
    do {
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subfolders.push_back(folder + d.cFileName + "\\");
            continue;
        }
        std::string name = folder + d.cFileName;
        DWORD lo = 0;
        if (parcel.GetFileLocation(name.c_str(), &lo, nullptr))
            printf("%10lu %10lu  %s\n", (unsigned long)lo, (unsigned long)d.nFileSizeLow, name.c_str());
        else
            printf("%10s %10lu  %s\n", "-", (unsigned long)d.nFileSizeLow, name.c_str());
        ++*files;
        *bytes += d.nFileSizeLow;
    } while (parcel.FindNextFile(f, &d));
    parcel.FindClose(f);
    for (const std::string &s : subfolders) {
        printf("%10s %10s  %s\n", "", "<dir>", s.c_str());
        ListFolder(parcel, s, files, bytes);
    }
}

// Opens an existing archive (flags as for Open); says why when it cannot.
bool OpenArchive(CParcel &parcel, const char *path, DWORD flags)
{
    if (parcel.Open(1, path, flags, 0))
        return true;
    fprintf(stderr, "cannot open %s%s: missing, in use or not a valid archive\n", path,
            (flags & 2) ? "" : " for writing");
    return false;
}

int List(int argc, char **argv)
{
    if (argc != 1) {
        Usage();
        return 2;
    }
    CParcel parcel;
    if (!OpenArchive(parcel, argv[0], 2))
        return 1;
    unsigned files = 0;
    uint64_t bytes = 0;
    printf("%10s %10s  %s\n", "offset", "size", "name");
    ListFolder(parcel, "", &files, &bytes);
    printf("%u files, %llu bytes\n", files, (unsigned long long)bytes);
    parcel.Close();
    return 0;
}

int Extract(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        Usage();
        return 2;
    }
    CParcel parcel;
    if (!OpenArchive(parcel, argv[0], 2))
        return 1;
    std::string out;
    if (argc == 3) {
        out = argv[2];
    } else {
        out = argv[1];
        size_t cut = out.find_last_of("\\/");
        if (cut != std::string::npos)
            out = out.substr(cut + 1);
    }
    HANDLE h = parcel.CreateFile(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "no entry %s\n", argv[1]);
        parcel.Close();
        return 1;
    }
    DWORD size = parcel.GetFileSize(h, nullptr);
    std::vector<char> data(size ? size : 1);
    DWORD got = 0;
    if (size)
        parcel.ReadFile(h, data.data(), size, &got, nullptr);
    parcel.CloseHandle(h);
    parcel.Close();
    if (got != size) {
        fprintf(stderr, "short read: %lu of %lu bytes\n", (unsigned long)got, (unsigned long)size);
        return 1;
    }
    HANDLE f = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    DWORD done = 0;
    bool ok = f != INVALID_HANDLE_VALUE && (!size || (WriteFile(f, data.data(), size, &done, nullptr) &&
                                                      done == size));
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    if (!ok) {
        fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
    }
    printf("%lu bytes to %s\n", (unsigned long)size, out.c_str());
    return 0;
}

int Compact(int argc, char **argv)
{
    if (argc != 1 && argc != 2) {
        Usage();
        return 2;
    }
    int level = argc == 2 ? atoi(argv[1]) : 1;
    CParcel parcel;
    if (!OpenArchive(parcel, argv[0], 1))
        return 1;
    BOOL ok = parcel.Flush(level < 1 ? 1 : level);
    parcel.Close();
    if (!ok) {
        fprintf(stderr, "compaction failed\n");
        return 1;
    }
    return 0;
}

} // namespace

int PclMain(int argc, char **argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    const char *cmd = argv[1];
    if (!strcmp(cmd, "pack"))
        return Pack(argc - 2, argv + 2);
    if (!strcmp(cmd, "list"))
        return List(argc - 2, argv + 2);
    if (!strcmp(cmd, "extract"))
        return Extract(argc - 2, argv + 2);
    if (!strcmp(cmd, "compact"))
        return Compact(argc - 2, argv + 2);
    Usage();
    return 2;
}
