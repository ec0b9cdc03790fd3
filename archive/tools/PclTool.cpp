// The pcl commands: pack a folder into a packed archive, list an archive, extract or compact one.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/CParcel.h"
#include "archive/ParcelChunk.h"
#include "archive/ParcelIo.h"
#include "archive/tools/PclTool.h"

namespace {

struct Source {
    std::string name; // as stored in the archive
    std::string path; // on disk
    DWORD size;
};

// A usage error: what was wrong, then how the commands are used, on the
// error output; exit code 2.
int Usage(const std::string &wrong)
{
    fprintf(stderr, "pcl: %s\n", wrong.c_str());
    fprintf(stderr, "usage:\n"
           "  pcl pack [-f] [-c] <folder> <archive>\n"
           "                                     pack a folder; entries are named\n"
           "                                     folder/sub/file (the engine's names),\n"
           "                                     or with -f stored in folders folder\\sub\\;\n"
           "                                     with -c the folder's own name is left\n"
           "                                     out (sub/file: a game's data tree)\n"
           "  pcl list <archive>                 list folders and entries\n"
           "  pcl extract [-r] <archive> <name> [out]\n"
           "                                     copy one entry to a disk file: out, or\n"
           "                                     the entry's last name in the current\n"
           "                                     folder; an existing file is replaced\n"
           "                                     only with -r, and never the archive\n"
           "  pcl compact <archive> [level]      close holes (level 1 or 2) and rewrite\n");
    return 2;
}

// The tool's temporary files are named for the file they become:
// <name>.<kind><hex>.tmp, beside it (kind "pack" or "extract"), the hex as
// "%lx" writes a 32-bit number (one to eight lower-case digits, no leading
// zero). The name compares as the file system does; what the tool adds to it
// must be exactly that.
bool TempName(const std::string &target, const char *kind, const char *name)
{
    const std::string lead = target + "." + kind;
    const size_t n = strlen(name);
    if (n < lead.size() + 5 || n > lead.size() + 12 || _strnicmp(name, lead.c_str(), lead.size()) != 0 ||
        strncmp(name + lead.size() - strlen(kind), kind, strlen(kind)) != 0 || strcmp(name + n - 4, ".tmp") != 0 ||
        (name[lead.size()] == '0' && n - 4 - lead.size() > 1))
        return false;
    for (size_t i = lead.size(); i < n - 4; ++i)
        if (!isdigit((unsigned char)name[i]) && (name[i] < 'a' || name[i] > 'f'))
            return false;
    return true;
}

// A call that failed for want of memory ends the command (PclMain says so).
void ThrowIfNoMemory()
{
    if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY)
        throw std::bad_alloc();
}

// What opening a file for reading finds.
enum FileState { FILE_ABSENT, FILE_HELD, FILE_EMPTY, FILE_FILLED };

FileState StateOf(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? FILE_HELD : FILE_ABSENT;
    DWORD high = 0;
    const DWORD low = GetFileSize(f, &high);
    CloseHandle(f);
    return !low && !high ? FILE_EMPTY : FILE_FILLED;
}

// Whether a file is one a pack writes: empty (just named, or left), held by
// a pack under way (it shares nothing), or a whole archive. Anything else is
// somebody else's file that only looks like one.
bool PackFile(const std::string &path)
{
    const FileState state = StateOf(path);
    if (state != FILE_FILLED)
        return state != FILE_ABSENT;
    CParcel parcel;
    const BOOL archive = parcel.Open(1, path.c_str(), 2, 0);
    if (!archive)
        ThrowIfNoMemory();
    parcel.Close();
    return archive != FALSE;
}

// Where a pack writes: the archive, and the folder beside it (ending in a
// backslash) that holds its temporary files.
struct Target {
    std::string archive;
    std::string folder;
    std::string name;

    explicit Target(const std::string &path) : archive(path)
    {
        const size_t slash = path.find_last_of("\\/");
        folder = slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
        name = slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // The archive itself, or one of pack's own files beside it.
    bool Owns(const std::string &folderPath, const std::string &path, const char *leaf) const
    {
        return lstrcmpiA(path.c_str(), archive.c_str()) == 0 ||
               (TempName(name, "pack", leaf) && lstrcmpiA(folderPath.c_str(), folder.c_str()) == 0 && PackFile(path));
    }
};

// The files below a folder, and the folders below it that hold none: an
// archive keeps those as folders of its own.
struct Tree {
    std::vector<Source> files;
    std::vector<std::string> empty;
};

// Fails, saying which, at a folder that cannot be listed (its path too long)
// or a name the code page cannot spell (it comes back with a '?', which no
// name holds): a pack without them would say it packed the tree.
bool Collect(const std::string &disk, const std::string &name, char sep, const Target &target, Tree *out)
{
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA((disk + "\\*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot list folder %s\n", disk.c_str());
        return false;
    }
    const size_t before = out->files.size();
    bool subfolders = false;
    do {
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
            continue;
        std::string path = disk + "\\" + d.cFileName;
        std::string entry = name.empty() ? std::string(d.cFileName) : name + sep + d.cFileName;
        if (strchr(d.cFileName, '?')) {
            fprintf(stderr, "cannot read %s: a name outside the code page\n", path.c_str());
            FindClose(f);
            return false;
        }
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subfolders = true;
            if (!Collect(path, entry, sep, target, out)) {
                FindClose(f);
                return false;
            }
        } else if (!target.Owns(disk + "\\", path, d.cFileName)) {
            if (d.nFileSizeHigh) {
                fprintf(stderr, "skipped (4 GiB or more): %s\n", path.c_str());
                continue;
            }
            out->files.push_back(Source{entry, path, d.nFileSizeLow});
        }
    } while (FindNextFileA(f, &d));
    FindClose(f);
    if (!subfolders && out->files.size() == before && !name.empty())
        out->empty.push_back(name);
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

// Whether a path lies in a folder or below it (both full paths).
bool Inside(const std::string &path, const std::string &folder)
{
    std::string f = folder;
    if (f.empty() || f.back() != '\\')
        f += '\\';
    return path.size() >= f.size() && _strnicmp(path.c_str(), f.c_str(), f.size()) == 0;
}

// A pack that was ended leaves its temporary file: one of its own names
// beside the archive, not written for a minute (a pack under way writes at
// once, and renames it as soon as it is complete). Its one commit comes
// right before that rename, so what it leaves holds nothing: an empty file,
// or an archive with no entry and no folder. A file that holds anything
// may be somebody's, whatever its name, and stays. Inside the folder being
// packed nothing is removed: whatever lies there is the user's tree.
bool Leftover(const std::string &path)
{
    const FileState state = StateOf(path);
    if (state != FILE_FILLED)
        return state == FILE_EMPTY;
    CParcel parcel;
    bool empty = false;
    if (parcel.Open(1, path.c_str(), 2, 0)) {
        WIN32_FIND_DATAA d;
        HANDLE find = parcel.FindFirstFile("*.*", &d);
        // A search that failed for want of memory found nothing out.
        empty = find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
        if (find != INVALID_HANDLE_VALUE)
            parcel.FindClose(find);
    }
    parcel.Close();
    return empty;
}

void RemoveStaleTemps(const Target &target, const std::string &packed)
{
    if (Inside(target.folder, packed))
        return;
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA((target.folder + target.name + ".pack*.tmp").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> stale;
    do {
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !TempName(target.name, "pack", d.cFileName) ||
            !Old(d.ftLastWriteTime))
            continue;
        const std::string path = target.folder + d.cFileName;
        if (lstrcmpiA(path.c_str(), target.archive.c_str()) != 0 && Leftover(path))
            stale.push_back(path);
    } while (FindNextFileA(f, &d));
    FindClose(f);
    for (const std::string &path : stale)
        if (DeleteFileA(path.c_str()))
            printf("removed %s, left by an unfinished pack\n", path.c_str());
}

// A name in the wide form the system keeps it in (the code page's bytes
// read as the program's narrow calls read them).
std::wstring Wide(const std::string &s)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? (size_t)n : 1, L'\0');
    if (n <= 0 || MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], n) != n)
        return std::wstring();
    w.resize((size_t)n - 1);
    return w;
}

std::string Narrow(const wchar_t *w)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? (size_t)n : 1, '\0');
    if (n <= 0 || WideCharToMultiByte(CP_ACP, 0, w, -1, &s[0], n, nullptr, nullptr) != n)
        return std::string();
    s.resize((size_t)n - 1);
    return s;
}

// A path as a full one past the 260-character limit (\\?\ before it), so
// that a name longer than the path it was made from still works; empty
// when the path has no full form.
std::wstring LongForm(const std::string &path)
{
    const std::wstring given = Wide(path);
    if (given.empty())
        return given;
    const DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full(n ? n : 1, L'\0');
    const DWORD got = n ? GetFullPathNameW(given.c_str(), n, &full[0], nullptr) : 0;
    if (!got || got >= n)
        return std::wstring();
    full.resize(got);
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// How many bytes a name takes where the system keeps names as UTF-8 (never
// fewer than its UTF-16 units, the limit's measure elsewhere).
size_t Utf8Length(const wchar_t *name, size_t units)
{
    return (size_t)WideCharToMultiByte(CP_UTF8, 0, name, (int)units, nullptr, 0, nullptr, nullptr);
}

// The part of a path that names a temporary file of that kind beside it:
// the whole path, or, when the name and the longest suffix the tool adds
// would pass the 255 a name may take, the path with its name cut short (never
// inside a character), so that any name the out file may have works.
std::wstring TempStem(const std::wstring &path, const char *kind)
{
    const size_t slash = path.find_last_of(L'\\');
    const size_t leaf = slash == std::wstring::npos ? 0 : slash + 1;
    const size_t room = 255 - strlen(".") - strlen(kind) - 8 - strlen(".tmp");
    size_t end = path.size();
    while (end > leaf && Utf8Length(path.c_str() + leaf, end - leaf) > room) {
        --end;
        if (end > leaf && IS_HIGH_SURROGATE(path[end - 1]))
            --end;
    }
    return path.substr(0, end);
}

// A new file of the tool's own beside another, named stem.<kind><hex>.tmp;
// its name goes to temp and what follows the stem to suffix, without an
// allocation once the file is there.
bool CreateTemp(const std::wstring &stem, const char *kind, std::wstring *temp, std::string *suffix = nullptr)
{
    if (stem.empty())
        return false;
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    std::wstring name;
    std::string tail;
    for (int attempt = 0; attempt < 64; ++attempt, seed = seed * 1664525u + 1013904223u) {
        char text[32];
        sprintf(text, ".%s%lx.tmp", kind, (unsigned long)(seed & 0xFFFFFFFFu));
        tail = text;
        name = stem + std::wstring(tail.begin(), tail.end());
        HANDLE f = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            CloseHandle(f);
            temp->swap(name);
            if (suffix)
                suffix->swap(tail);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// A temporary file goes with the command unless it took its place, however
// the command ends (an allocation that fails included).
struct TempFile {
    std::wstring path;
    bool kept = false;
    ~TempFile()
    {
        if (!path.empty() && !kept)
            DeleteFileW(path.c_str());
    }
};

bool SameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// An extract that was ended unseen (SIGTERM, SIGKILL) leaves its temporary
// file beside the out file: one of its names there (after the stem the
// out file gives them), not written for a minute and held by nobody (an
// extract under way holds its file while it writes, and renames it at once
// after), and not the archive being read.
void RemoveStaleExtracts(const std::wstring &stem, const BY_HANDLE_FILE_INFORMATION &archive)
{
    const size_t slash = stem.find_last_of(L'\\');
    const std::wstring folder = stem.substr(0, slash + 1);
    const std::string leaf = Narrow(stem.c_str() + slash + 1);
    WIN32_FIND_DATAW d;
    HANDLE f = FindFirstFileW((stem + L".extract*.tmp").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::wstring> stale;
    do {
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !leaf.empty() &&
            TempName(leaf, "extract", Narrow(d.cFileName).c_str()) && Old(d.ftLastWriteTime))
            stale.push_back(folder + d.cFileName);
    } while (FindNextFileW(f, &d));
    FindClose(f);
    for (const std::wstring &path : stale) {
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            continue;
        BY_HANDLE_FILE_INFORMATION info;
        const bool other = GetFileInformationByHandle(held, &info) && !SameFile(info, archive);
        CloseHandle(held);
        if (other && DeleteFileW(path.c_str()))
            printf("removed %s, left by an unfinished extract\n", Narrow(path.c_str() + folder.size()).c_str());
    }
}

// Ctrl-C, Ctrl-Break or a closing console (what Wine passes on of SIGINT;
// SIGTERM, SIGHUP and SIGKILL end the process unseen) while a command that
// writes a temporary file runs: it stops at its next step, failing, and takes
// the file with it. A console that closes ends the process once the handler
// returns, so the handler waits for that. With no such command under way the
// process ends at once, failing; once the command's work is done, an event
// changes nothing (a closing console ends it with the command's own code).
enum { PCL_RUNNING, PCL_STOPPABLE, PCL_DONE };
volatile LONG s_phase = PCL_RUNNING;
volatile LONG s_result = 0;
volatile LONG s_interrupted = 0;
HANDLE s_stopped = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (s_phase == PCL_DONE) {
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE;
        ExitProcess((UINT)s_result);
    }
    if (s_phase != PCL_STOPPABLE)
        ExitProcess(1);
    InterlockedExchange(&s_interrupted, 1);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && s_stopped)
        WaitForSingleObject(s_stopped, 4000);
    return TRUE;
}

// While it lives, an interruption stops the command instead of ending the
// process; declared before the temporary file, it outlives it.
struct Stoppable {
    Stoppable()
    {
        InterlockedExchange(&s_interrupted, 0);
        if (!s_stopped)
            s_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (s_stopped)
            ResetEvent(s_stopped);
        InterlockedExchange(&s_phase, PCL_STOPPABLE);
    }
    ~Stoppable()
    {
        InterlockedCompareExchange(&s_phase, PCL_RUNNING, PCL_STOPPABLE);
        if (s_stopped)
            SetEvent(s_stopped);
    }
    Stoppable(const Stoppable &) = delete;
    Stoppable &operator=(const Stoppable &) = delete;
};

bool Interrupted()
{
    return s_interrupted != 0;
}

// The command's work is done with that result: from now on nothing changes it.
int Done(int code)
{
    InterlockedExchange(&s_result, code);
    InterlockedExchange(&s_phase, PCL_DONE);
    return code;
}

// An import that cannot read its source says so here and fails the pack:
// nobody is there to click a message box away.
void ImportFailed(void *context, const char *text, const char *source)
{
    fprintf(stderr, "cannot read %s: %s\n", source, text);
    ++*static_cast<int *>(context);
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
            return Usage(std::string("pack has no option ") + argv[i]);
        }
    }
    if (argc - i != 2)
        return Usage("pack takes a folder and an archive");
    std::string dir = FullPath(argv[i]);
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    std::string archive = FullPath(argv[i + 1]);
    size_t cut = dir.find_last_of("\\/:");
    std::string top = cut == std::string::npos ? dir : dir.substr(cut + 1);
    // The new archive is built in a file of its own beside the old one and
    // takes its name only when it is complete and on disk: a pack that fails
    // anywhere (a full disk, a stopped process) leaves the old one as it was.
    const Target target(archive);
    RemoveStaleTemps(target, dir);
    Tree tree;
    if (top.empty() || !Collect(dir, contents ? std::string() : top, folders ? '\\' : '/', target, &tree)) {
        fprintf(stderr, "cannot read folder %s; %s left as it was\n", dir.c_str(), archive.c_str());
        return 1;
    }
    const std::vector<Source> &sources = tree.files;
    Stoppable stoppable;
    TempFile tempFile;
    std::string suffix;
    if (!CreateTemp(Wide(archive), "pack", &tempFile.path, &suffix)) {
        fprintf(stderr, "cannot create a file beside %s\n", archive.c_str());
        return 1;
    }
    const std::string tempName = archive + suffix;
    const char *temp = tempName.c_str();
    int failed = 0;
    uint64_t total = 0;
    {
        CParcel parcel;
        parcel.SetImportReport(ImportFailed, &failed);
        DWORD table = (DWORD)sources.size() * 2 + 16;
        if (!parcel.Open(1, temp, 4, table)) {
            ThrowIfNoMemory();
            fprintf(stderr, "cannot create %s\n", temp);
            return 1;
        }
        for (const Source &s : sources) {
            if (Interrupted())
                break;
            HANDLE h = parcel.CreateFile(s.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                ThrowIfNoMemory();
                fprintf(stderr, "cannot add %s (name too long or already present)\n", s.name.c_str());
                ++failed;
                continue;
            }
            parcel.SetFileSize(h, s.size, 0);
            const BOOL named = parcel.SetFileSource(h, s.path.c_str());
            parcel.CloseHandle(h);
            if (!named)
                throw std::bad_alloc();
            total += s.size;
        }
        for (const std::string &name : tree.empty) {
            if (!parcel.CreateDirectory(name.c_str(), nullptr)) {
                ThrowIfNoMemory();
                fprintf(stderr, "cannot add folder %s (name too long)\n", name.c_str());
                ++failed;
            }
        }
        // The flush copies every source file in and fails when the archive
        // file refuses any of it.
        if (!failed && !Interrupted() && !parcel.Flush(0)) {
            ThrowIfNoMemory();
            fprintf(stderr, "cannot write %s\n", temp);
            ++failed;
        }
        for (const Source &s : sources) {
            DWORD lo;
            if (!failed && !Interrupted() && s.size && !parcel.GetFileLocation(s.name.c_str(), &lo, nullptr)) {
                ThrowIfNoMemory();
                fprintf(stderr, "cannot read %s: it does not open (held by another program, or gone); %s not stored\n",
                        s.path.c_str(), s.name.c_str());
                ++failed;
            }
        }
        parcel.Close();
    }
    if (failed || Interrupted()) {
        fprintf(stderr, "%s%s left as it was\n", failed ? "" : "interrupted; ", archive.c_str());
        return 1;
    }
    if (!MoveFileExA(temp, archive.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fprintf(stderr, "cannot replace %s\n", archive.c_str());
        return 1;
    }
    tempFile.kept = true;
    Done(0);
    printf("%u files, %u empty folders, %llu bytes packed into %s\n", (unsigned)sources.size(),
           (unsigned)tree.empty.size(), (unsigned long long)total, archive.c_str());
    return 0;
}

// Throws when memory runs out, rather than listing less than there is.
void ListFolder(CParcel &parcel, const std::string &folder, unsigned *files, uint64_t *bytes)
{
    WIN32_FIND_DATAA d;
    HANDLE f = parcel.FindFirstFile((folder + "*.*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE) {
        // An empty folder finds nothing; anything else is a failure.
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            throw std::bad_alloc();
        return;
    }
    std::vector<std::string> subfolders;
    do {
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subfolders.push_back(folder + d.cFileName + "\\");
            continue;
        }
        std::string name = folder + d.cFileName;
        DWORD lo = 0;
        SetLastError(NO_ERROR);
        if (parcel.GetFileLocation(name.c_str(), &lo, nullptr)) {
            printf("%10lu %10lu  %s\n", (unsigned long)lo, (unsigned long)d.nFileSizeLow, name.c_str());
        } else {
            ThrowIfNoMemory();
            printf("%10s %10lu  %s\n", "-", (unsigned long)d.nFileSizeLow, name.c_str());
        }
        ++*files;
        *bytes += d.nFileSizeLow;
    } while (parcel.FindNextFile(f, &d));
    const DWORD ended = GetLastError();
    parcel.FindClose(f);
    if (ended != ERROR_NO_MORE_FILES)
        throw std::bad_alloc();
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
    ThrowIfNoMemory();
    if ((flags & PARCEL_OPEN_ALONE) && GetLastError() == ERROR_SHARING_VIOLATION) {
        fprintf(stderr, "cannot open %s alone: another program has it open; nothing changed\n", path);
        return false;
    }
    fprintf(stderr, "cannot open %s%s: missing, in use or not a valid archive\n", path,
            (flags & 2) ? "" : " for writing");
    return false;
}

int List(int argc, char **argv)
{
    if (argc != 1)
        return Usage("list takes one archive");
    CParcel parcel;
    if (!OpenArchive(parcel, argv[0], 2))
        return 1;
    unsigned files = 0;
    uint64_t bytes = 0;
    printf("%10s %10s  %s\n", "offset", "size", "name");
    ListFolder(parcel, "", &files, &bytes);
    Done(0);
    printf("%u files, %llu bytes\n", files, (unsigned long long)bytes);
    parcel.Close();
    return 0;
}

// The file a path names, told apart from every other whatever the name it
// is reached by (another case, a relative path, a link); false when there is
// none.
bool Identity(const std::wstring &path, BY_HANDLE_FILE_INFORMATION *info)
{
    // An empty path (no full form) opens nothing either.
    HANDLE f = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    const BOOL ok = GetFileInformationByHandle(f, info);
    CloseHandle(f);
    return ok != FALSE;
}

int Extract(int argc, char **argv)
{
    const bool replace = argc > 0 && !strcmp(argv[0], "-r");
    if (replace) {
        --argc;
        ++argv;
    }
    if ((argc != 2 && argc != 3) || argv[0][0] == '-')
        return Usage("extract takes an archive, an entry and at most one out file, after -r if any");
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
        ThrowIfNoMemory();
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
    // The out file is written by the form that takes paths past 260
    // characters (its temporary file's name is longer), so it is known by
    // that form too. The archive read is never written over, however the out
    // name reaches it; any other file only when asked to.
    const std::wstring target = LongForm(out);
    BY_HANDLE_FILE_INFORMATION archive, existing;
    const bool archiveKnown = Identity(LongForm(argv[0]), &archive);
    if (Identity(target, &existing)) {
        if (!archiveKnown || SameFile(archive, existing)) {
            fprintf(stderr, "%s is the archive being read: not written over\n", out.c_str());
            return 1;
        }
        if (!replace) {
            fprintf(stderr, "%s exists: not written over (-r replaces it)\n", out.c_str());
            return 1;
        }
    }
    // Written beside the out file and moved into place only when whole: a
    // failure (a full disk) leaves the file it was to replace as it was, and
    // no part of the entry behind.
    Stoppable stoppable;
    TempFile temp;
    const std::wstring stem = TempStem(target, "extract");
    if (!stem.empty() && archiveKnown)
        RemoveStaleExtracts(stem, archive);
    bool ok = CreateTemp(stem, "extract", &temp.path);
    if (ok) {
        HANDLE f = CreateFileW(temp.path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = f != INVALID_HANDLE_VALUE && (!size || ParcelWriteExact(f, data.data(), size)) && ParcelIoFlush(f);
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
        ok = ok && !Interrupted() && MoveFileExW(temp.path.c_str(), target.c_str(),
                               (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH);
        temp.kept = ok;
    }
    if (!ok) {
        if (Interrupted())
            fprintf(stderr, "interrupted; %s left as it was\n", out.c_str());
        else
            fprintf(stderr, "cannot write %s; nothing written\n", out.c_str());
        return 1;
    }
    Done(0);
    printf("%lu bytes to %s\n", (unsigned long)size, out.c_str());
    return 0;
}

int Compact(int argc, char **argv)
{
    if (argc != 1 && argc != 2)
        return Usage("compact takes an archive and at most a level");
    // Level 1 or 2, as the usage says; nothing else is taken for one.
    if (argc == 2 && strcmp(argv[1], "1") != 0 && strcmp(argv[1], "2") != 0)
        return Usage(std::string("compact takes level 1 or 2, not \"") + argv[1] + "\"");
    const int level = argc == 2 ? argv[1][0] - '0' : 1;
    // Compaction moves contents that another program reading the archive
    // would still look for where its tables put them: it runs only with the
    // archive held alone, as a pack replaces one only when nobody holds it.
    CParcel parcel;
    if (!OpenArchive(parcel, argv[0], PARCEL_OPEN_NO_READONLY | PARCEL_OPEN_ALONE))
        return 1;
    if (!parcel.Flush(level)) {
        ThrowIfNoMemory();
        fprintf(stderr, "compaction failed; the archive holds what it held\n");
        return 1;
    }
    Done(0);
    parcel.Close();
    return 0;
}

} // namespace

static int Dispatch(int argc, char **argv)
{
    if (argc < 2)
        return Usage("no command");
    const char *cmd = argv[1];
    if (!strcmp(cmd, "pack"))
        return Pack(argc - 2, argv + 2);
    if (!strcmp(cmd, "list"))
        return List(argc - 2, argv + 2);
    if (!strcmp(cmd, "extract"))
        return Extract(argc - 2, argv + 2);
    if (!strcmp(cmd, "compact"))
        return Compact(argc - 2, argv + 2);
    return Usage(std::string("no command ") + cmd);
}

// Installed once for the process, by a flag of constant initialisation: a
// guarded local static would allocate, and fail without a check, when
// memory runs out at the start.
static volatile LONG s_handlerInstalled = 0;

static void InstallConsoleHandler()
{
    if (InterlockedExchange(&s_handlerInstalled, 1) == 0 && !SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
        InterlockedExchange(&s_handlerInstalled, 0);
}

// As the program's runtime starts, before main and any command, so that an
// interruption from then on ends it failing, never by the system's default
// handler, whose exit code tells nothing.
__attribute__((constructor)) static void InstallConsoleHandlerFirst()
{
    InstallConsoleHandler();
}

// Memory running out anywhere ends the command with a message and exit 1;
// what it had made goes with the objects that made it.
int PclMain(int argc, char **argv)
{
    InterlockedExchange(&s_phase, PCL_RUNNING);
    InstallConsoleHandler();
    int code;
    try {
        code = Dispatch(argc, argv);
    } catch (const std::bad_alloc &) {
        fputs("pcl: out of memory\n", stderr);
        code = 1;
    }
    return Done(code);
}

void PclConsoleEvent(unsigned long event)
{
    OnConsoleEvent((DWORD)event);
}
