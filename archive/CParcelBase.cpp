// The archive file interface and its plain-disk implementation over loose files.
#include "CParcelBase.h"

#include <cstring>
#include <initializer_list>

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

static void DestroyName(TextData *key, TextData *, void *)
{
    TextData::Destroy(key);
}

// Whether a part of a name opens a device wherever it stands: "nul", "con",
// "aux", "prn", "com1"-"com9", "lpt1"-"lpt9" (and the console's "conin$" and
// "conout$"), in any case, with any extension or stream and trailing spaces.
static bool IsDeviceName(const char *part, size_t length)
{
    size_t n = 0;
    while (n < length && part[n] != '.' && part[n] != ':')
        ++n;
    while (n > 0 && part[n - 1] == ' ')
        --n;
    for (const char *device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (n == std::strlen(device) && _strnicmp(part, device, n) == 0)
            return true;
    return n == 4 && (_strnicmp(part, "com", 3) == 0 || _strnicmp(part, "lpt", 3) == 0) && part[3] >= '1' &&
           part[3] <= '9';
}

// What follows a drive letter and its colon, if the name starts with one.
static const char *AfterDrive(const char *name)
{
    const bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
    return letter && name[1] == ':' ? name + 2 : name;
}

// How deep below the root a name leads, -1 when it climbs above the root
// on the way, names a device (never a file below the root) or holds a
// component of dots and spaces other than "." and ".." (which Windows reads
// in ways of its own). Without wildcards, a wildcard or stream separator is
// refused as well (-1).
static int NameDepth(LPCSTR name, bool wildcards)
{
    const char *p = AfterDrive(name);
    int depth = 0;
    while (*p) {
        while (IsSeparator(*p))
            ++p;
        if (!*p)
            break;
        const char *start = p;
        bool onlyDots = true;
        while (*p && !IsSeparator(*p)) {
            if (!wildcards && (*p == '*' || *p == '?' || *p == ':'))
                return -1;
            if (*p != '.' && *p != ' ')
                onlyDots = false;
            ++p;
        }
        const size_t length = static_cast<size_t>(p - start);
        if (!onlyDots) {
            if (IsDeviceName(start, length))
                return -1;
            ++depth;
        } else if (length == 1 && start[0] == '.') {
            // the same folder
        } else if (length == 2 && start[0] == '.' && start[1] == '.') {
            if (--depth < 0)
                return -1;
        } else {
            return -1;
        }
    }
    return depth;
}

// Whether a name ends in a folder's own name: not empty, not a drive or
// its root, not "." or ".." (the folder it was named from or the one above),
// and with no wildcard or stream separator that would widen the delete.
static bool EndsInAFolderName(LPCSTR name)
{
    const char *p = AfterDrive(name);
    bool named = false;
    while (*p) {
        while (IsSeparator(*p))
            ++p;
        if (!*p)
            break;
        bool onlyDots = true;
        for (; *p && !IsSeparator(*p); ++p) {
            if (*p == '*' || *p == '?' || *p == ':')
                return false;
            if (*p != '.' && *p != ' ')
                onlyDots = false;
        }
        named = !onlyDots;
    }
    return named;
}

CParcelBase::CParcelBase()
{
    InitializeCriticalSection(&m_namesLock);
    CParcelBase::Reset();
}

CParcelBase::~CParcelBase()
{
    EmptyNameSets();
    DeleteCriticalSection(&m_namesLock);
}

void CParcelBase::Reset()
{
    m_mode = 0;
    m_root[0] = 0;
    m_recordNames = 0;
    m_changed = 0;
    m_changeCallback = nullptr;
    m_changeContext = 0;
}

// The root becomes the directory with exactly one trailing backslash. A failed
// Open leaves the root empty rather than half-formed.
BOOL CParcelBase::Open(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize)
{
    m_root[0] = 0;
    if (!path || !path[0])
        return TRUE;

    size_t length = std::strlen(path);
    // Room for the backslash appended below and the terminator.
    if (length + 2 > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    char directory[MAX_PATH];
    std::memcpy(directory, path, length + 1);
    while (length > 0 && IsSeparator(directory[length - 1]))
        directory[--length] = 0;

    // A drive or the current drive's root is tested with its backslash; any
    // other directory without it.
    char probe[MAX_PATH];
    std::memcpy(probe, directory, length + 1);
    const bool driveRoot = length == 0 || (length == 2 && directory[1] == ':');
    if (driveRoot) {
        probe[length] = '\\';
        probe[length + 1] = 0;
    }
    const DWORD attributes = GetFileAttributesA(probe);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    directory[length] = '\\';
    directory[length + 1] = 0;
    std::memcpy(m_root, directory, length + 2);
    return TRUE;
}

void CParcelBase::Close()
{
    EmptyNameSets();
    Reset();
}

HANDLE CParcelBase::CreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    char path[MAX_PATH];
    if (!FormPath(name, path)) {
        RecordRequested(name);
        RecordFailed(name);
        return INVALID_HANDLE_VALUE;
    }
    RecordRequested(path);
    HANDLE file = ::CreateFileA(path, access, share, security, disposition, attributes, templateFile);
    if (file == INVALID_HANDLE_VALUE)
        RecordFailed(path);
    return file;
}

BOOL CParcelBase::CloseHandle(HANDLE file)
{
    return ::CloseHandle(file);
}

BOOL CParcelBase::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped)
{
    return ::ReadFile(file, buffer, count, read, overlapped);
}

BOOL CParcelBase::WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                            LPOVERLAPPED overlapped)
{
    return ::WriteFile(file, buffer, count, written, overlapped);
}

DWORD CParcelBase::SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    return ::SetFilePointer(file, distance, distanceHigh, method);
}

BOOL CParcelBase::DeleteFile(LPCSTR name)
{
    char path[MAX_PATH];
    if (!FormPath(name, path))
        return FALSE;
    return ::DeleteFileA(path);
}

BOOL CParcelBase::CreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES security)
{
    char path[MAX_PATH];
    if (!FormPath(name, path))
        return FALSE;
    return ::CreateDirectoryA(path, security);
}

// Empties the folder through the shell, then removes it. The pattern always
// gets its own backslash before "*.*", so "Data\Foo" empties only the folder
// Foo and never matches a sibling such as "Data\Foobar.txt".
//
// Below a root the folder must lie below it, never be the root itself or a
// place above it; without one (names taken as given) the name must end in
// a folder's own name.
BOOL CParcelBase::RemoveDirectory(LPCSTR name)
{
    if (!name || !(m_root[0] ? NameDepth(name, false) > 0 : EndsInAFolderName(name))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char path[MAX_PATH];
    if (!FormPath(name, path))
        return FALSE;

    // Folder, backslash, "*.*" and the list's two terminators.
    char pattern[MAX_PATH + 6];
    size_t length = std::strlen(path);
    std::memcpy(pattern, path, length);
    if (!IsSeparator(pattern[length - 1]))
        pattern[length++] = '\\';
    std::memcpy(pattern + length, "*.*\0", 5);

    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = pattern;
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&operation);
    return ::RemoveDirectoryA(path);
}

DWORD_PTR CParcelBase::GetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                                   UINT flags)
{
    // An item identifier list is no name and gets no root.
    if (flags & SHGFI_PIDL)
        return SHGetFileInfoA(name, attributes, info, infoSize, flags);
    char path[MAX_PATH];
    if (!FormPath(name, path))
        return 0;
    return SHGetFileInfoA(path, attributes, info, infoSize, flags);
}

DWORD CParcelBase::GetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    return ::GetFileSize(file, sizeHigh);
}

BOOL CParcelBase::GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write)
{
    return ::GetFileTime(file, creation, access, write);
}

HANDLE CParcelBase::FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    char path[MAX_PATH];
    if (!FormPath(pattern, path))
        return INVALID_HANDLE_VALUE;
    return ::FindFirstFileA(path, data);
}

BOOL CParcelBase::FindNextFile(HANDLE find, LPWIN32_FIND_DATAA data)
{
    return ::FindNextFileA(find, data);
}

BOOL CParcelBase::FindClose(HANDLE find)
{
    return ::FindClose(find);
}

void CParcelBase::SetOptions(DWORD, DWORD, DWORD)
{
}

HMMIO CParcelBase::MmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags)
{
    char path[MAX_PATH];
    if (!FormPath(name, path)) {
        RecordRequested(name);
        RecordFailed(name);
        return nullptr;
    }
    RecordRequested(path);
    HMMIO mmio = mmioOpenA(path, info, flags);
    if (!mmio)
        RecordFailed(path);
    return mmio;
}

MMRESULT CParcelBase::MmioClose(HMMIO mmio, UINT flags)
{
    return mmioClose(mmio, flags);
}

LONG CParcelBase::MmioRead(HMMIO mmio, HPSTR buffer, LONG count)
{
    return mmioRead(mmio, buffer, count);
}

LONG CParcelBase::MmioSeek(HMMIO mmio, LONG offset, int origin)
{
    return mmioSeek(mmio, offset, origin);
}

MMRESULT CParcelBase::MmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags)
{
    return mmioAscend(mmio, chunk, flags);
}

MMRESULT CParcelBase::MmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags)
{
    return mmioDescend(mmio, chunk, parent, flags);
}

MMRESULT CParcelBase::MmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    return mmioAdvance(mmio, info, flags);
}

MMRESULT CParcelBase::MmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags)
{
    return mmioSetInfo(mmio, info, flags);
}

MMRESULT CParcelBase::MmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    return mmioGetInfo(mmio, info, flags);
}

// Loose files have nothing to write back.
BOOL CParcelBase::Flush(int)
{
    return FALSE;
}

void CParcelBase::SetFileSize(HANDLE, DWORD, DWORD)
{
}

BOOL CParcelBase::GetFileLocation(LPCSTR, LPDWORD offsetLow, LPDWORD offsetHigh)
{
    if (offsetLow)
        *offsetLow = 0;
    if (offsetHigh)
        *offsetHigh = 0;
    return TRUE;
}

void CParcelBase::SetChangeCallback(ParcelChangeCallback callback, DWORD_PTR context)
{
    m_changeCallback = callback;
    m_changeContext = context;
}

BOOL CParcelBase::WasRequested(LPCSTR name) const
{
    return HasName(m_requested, name);
}

BOOL CParcelBase::HasFailed(LPCSTR name) const
{
    return HasName(m_failed, name);
}

void CParcelBase::SetChanged(DWORD changed)
{
    m_changed = changed;
    if (m_changeCallback)
        m_changeCallback(changed, m_changeContext);
}

void CParcelBase::RecordRequested(LPCSTR name)
{
    if (m_recordNames)
        AddName(m_requested, name);
}

void CParcelBase::RecordFailed(LPCSTR name)
{
    if (m_recordNames)
        AddName(m_failed, name);
}

// Below a root every name stays there: one that climbs out of it or names a
// device is refused, as RemoveDirectory refuses it. Without a root, names
// are used as the caller gives them, relative to the working folder.
BOOL CParcelBase::FormPath(LPCSTR name, char *path) const
{
    if (!name || (m_root[0] && NameDepth(name, true) < 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t rootLength = std::strlen(m_root);
    const size_t nameLength = std::strlen(name);
    if (rootLength + nameLength + 1 > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    std::memcpy(path, m_root, rootLength);
    std::memcpy(path + rootLength, name, nameLength + 1);
    return TRUE;
}

// Entering a name must not disturb the error code of the call that used it.
void CParcelBase::AddName(CParcelNameSet &set, LPCSTR name)
{
    if (!name)
        return;
    const DWORD error = GetLastError();
    EnterCriticalSection(&m_namesLock);
    if (!set.Find(name)) {
        TextData *copy = TextData::Create(name);
        if (copy && !set.Insert(copy))
            TextData::Destroy(copy);
    }
    LeaveCriticalSection(&m_namesLock);
    SetLastError(error);
}

BOOL CParcelBase::HasName(const CParcelNameSet &set, LPCSTR name) const
{
    if (!name)
        return FALSE;
    EnterCriticalSection(&m_namesLock);
    const bool found = set.Find(name) != nullptr;
    LeaveCriticalSection(&m_namesLock);
    return found ? TRUE : FALSE;
}

void CParcelBase::EmptyNameSets()
{
    EnterCriticalSection(&m_namesLock);
    m_requested.ForEach(DestroyName, nullptr);
    m_requested.Clear();
    m_failed.ForEach(DestroyName, nullptr);
    m_failed.Clear();
    LeaveCriticalSection(&m_namesLock);
}
