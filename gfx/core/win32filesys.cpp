// The Win32 file system: the file-system manager's file functions over the Windows file calls.
#include "win32filesys.h"

#include <windows.h>
#include <cstring>

#include "memory.h"

static_assert(sizeof(OVERLAPPED) == sizeof(RwFileOverlapped), "overlapped record matches the system's");
static_assert(offsetof(OVERLAPPED, Offset) == offsetof(RwFileOverlapped, offset), "offset word");
static_assert(offsetof(OVERLAPPED, hEvent) == offsetof(RwFileOverlapped, event), "event word");

static const RwUInt32 Win32FileSystemHint = 0x401BE;

static HANDLE FileHandle(const RwFile *file)
{
    return static_cast<HANDLE>(file->handle);
}

static OVERLAPPED *FileOverlapped(RwFile *file)
{
    return reinterpret_cast<OVERLAPPED *>(&file->overlapped);
}

static void KeepSystemError(void)
{
    RwFileSystemManagerGetGlobals()->lastError = GetLastError();
}

// Device prefix + the path after its first ':' (the whole path when it has
// none), every separator a backslash; FALSE when longer than 255 characters.
static RwBool BuildFullPath(const RwFileSystem *fs, const RwChar *path, RwChar *out)
{
    const RwChar *colon = std::strchr(path, ':');
    const RwChar *rest = colon ? colon + 1 : path;
    size_t prefixLength = std::strlen(fs->devicePrefix);
    size_t restLength = std::strlen(rest);
    if (prefixLength + restLength > rwFILESYSTEMMAXPATH) {
        return FALSE;
    }
    std::memcpy(out, fs->devicePrefix, prefixLength);
    std::memcpy(out + prefixLength, rest, restLength + 1);
    for (RwChar *c = out; *c; c++) {
        if (*c == '/') {
            *c = '\\';
        }
    }
    return TRUE;
}

// Completion of an asynchronous request: the callback learns the byte count
// (the new position for a seek) and which request finished.
static void CompleteRequest(RwFile *file)
{
    RwInt32 operation = file->pendingOp;
    file->pendingOp = rwFILEOPNONE;
    if (!file->asynchronous || operation == rwFILEOPNONE || !file->callback) {
        return;
    }
    RwUInt32 bytes = (operation == rwFILEOPSEEK) ? static_cast<RwUInt32>(file->position) : file->byteCount;
    file->callback(file, bytes, file->state, operation, file->userData);
}

// One event per file, reused by each request, so that no request leaves a
// handle behind.
static RwBool PrepareOverlapped(RwFile *file)
{
    if (!file->event) {
        file->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!file->event) {
            KeepSystemError();
            return FALSE;
        }
    } else {
        ResetEvent(static_cast<HANDLE>(file->event));
    }
    std::memset(&file->overlapped, 0, sizeof(file->overlapped));
    file->overlapped.offset = static_cast<RwUInt32>(file->position);
    file->overlapped.offsetHigh = static_cast<RwUInt32>(file->position >> 32);
    file->overlapped.event = file->event;
    return TRUE;
}

static RwBool RequestInFlight(const RwFile *file)
{
    return file->state == rwFILESTATEPENDING &&
           (file->pendingOp == rwFILEOPREAD || file->pendingOp == rwFILEOPWRITE);
}

static void Advance(RwFile *file, RwUInt32 bytes, RwBool wrote)
{
    file->position += bytes;
    if (wrote && file->position > file->size) {
        file->size = file->position;
    }
}

static RwFile *Win32GetFile(RwFileSystem *fs, RwInt32 index)
{
    if (index < 0 || index >= fs->slotCount) {
        return nullptr;
    }
    return &fs->slots[index];
}

static RwInt32 Win32Open(RwFileSystem *fs, RwFile *file, const RwChar *path, RwUInt32 flags)
{
    RwChar fullPath[rwFILESYSTEMMAXPATH + 1];
    if (!BuildFullPath(fs, path, fullPath)) {
        return rwFSERRORPATHTOOLONG;
    }
    DWORD access = 0;
    DWORD share = 0;
    DWORD creation;
    DWORD attributes = 0;
    file->asynchronous = FALSE;
    if (flags & rwFILEFLAGASYNC) {
        attributes = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING;
        file->asynchronous = TRUE;
        file->state = rwFILESTATEPENDING;
    }
    if (flags & rwFILEFLAGWRITE) {
        access = GENERIC_WRITE;
        share = FILE_SHARE_WRITE;
        if (flags & rwFILEFLAGATEND) {
            creation = OPEN_ALWAYS;
        } else if (flags & rwFILEFLAGCREATE) {
            creation = CREATE_ALWAYS;
        } else {
            creation = OPEN_EXISTING;   // update mode: the file must exist and keeps its bytes
        }
        if (!file->asynchronous) {
            attributes = FILE_ATTRIBUTE_NORMAL;
        }
    } else {
        creation = OPEN_EXISTING;
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (flags & rwFILEFLAGREAD) {
        access |= GENERIC_READ;
        share |= FILE_SHARE_READ;
    }
    HANDLE handle = CreateFileA(fullPath, access, share, nullptr, creation, attributes, nullptr);
    KeepSystemError();
    if (handle == INVALID_HANDLE_VALUE) {
        return rwFSERRORCREATE;
    }
    file->handle = handle;
    if (!file->asynchronous) {
        file->state = rwFILESTATEREADY;
    }
    file->position = 0;
    file->byteCount = 0;
    LARGE_INTEGER size;
    file->size = GetFileSizeEx(handle, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    if (flags & rwFILEFLAGATEND) {
        file->position = file->size;
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        SetFilePointerEx(handle, zero, nullptr, FILE_END);
    }
    return rwFSOK;
}

static RwUInt32 Win32Read(RwFile *file, void *buffer, RwUInt32 n)
{
    if (file->state != rwFILESTATEREADY) {
        return 0;
    }
    DWORD got = 0;
    if (!file->asynchronous) {
        file->state = rwFILESTATEPENDING;
        if (!ReadFile(FileHandle(file), buffer, n, &got, nullptr)) {
            KeepSystemError();
            file->state = rwFILESTATEERROR;
            return 0;
        }
        Advance(file, got, FALSE);
        file->state = rwFILESTATEREADY;
        return got;
    }

    file->pendingOp = rwFILEOPREAD;
    if (!PrepareOverlapped(file)) {
        file->state = rwFILESTATEERROR;
        CompleteRequest(file);
        return 0;
    }
    file->state = rwFILESTATEPENDING;
    if (ReadFile(FileHandle(file), buffer, n, &got, FileOverlapped(file))) {
        Advance(file, got, FALSE);
        file->byteCount = got;
        file->state = rwFILESTATEREADY;
        CompleteRequest(file);
        return got;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING || error == 0) {
        return 0;
    }
    file->byteCount = 0;
    // Reading at the end of the file is an empty read, not a broken file.
    file->state = (error == ERROR_HANDLE_EOF) ? rwFILESTATEREADY : rwFILESTATEERROR;
    RwFileSystemManagerGetGlobals()->lastError = error;
    CompleteRequest(file);
    return 0;
}

static RwUInt32 Win32Write(RwFile *file, const void *buffer, RwUInt32 n)
{
    if (RequestInFlight(file)) {
        return 0;
    }
    DWORD wrote = 0;
    if (!file->asynchronous) {
        file->state = rwFILESTATEPENDING;
        if (!WriteFile(FileHandle(file), buffer, n, &wrote, nullptr)) {
            KeepSystemError();
            file->state = rwFILESTATEERROR;
            return 0;
        }
        Advance(file, wrote, TRUE);
        file->state = rwFILESTATEREADY;
        return wrote;
    }

    file->pendingOp = rwFILEOPWRITE;
    if (!PrepareOverlapped(file)) {
        file->pendingOp = rwFILEOPNONE;
        file->state = rwFILESTATEERROR;
        return 0;
    }
    file->state = rwFILESTATEPENDING;
    if (WriteFile(FileHandle(file), buffer, n, &wrote, FileOverlapped(file))) {
        // Overlapped requests do not move the system's file pointer, so the
        // position is advanced here.
        Advance(file, wrote, TRUE);
        file->byteCount = wrote;
        file->pendingOp = rwFILEOPNONE;
        file->state = rwFILESTATEREADY;
        return wrote;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING || error == 0) {
        return 0;
    }
    RwFileSystemManagerGetGlobals()->lastError = error;
    file->byteCount = 0;
    file->pendingOp = rwFILEOPNONE;
    file->state = rwFILESTATEERROR;
    return 0;
}

static int64_t Win32Seek(RwFile *file, int64_t offset, RwInt32 mode)
{
    // The target is worked out from the file's own position: overlapped
    // requests leave the system's file pointer behind.
    int64_t base;
    switch (mode) {
    case rwFILESEEKBEGIN:
        base = 0;
        break;
    case rwFILESEEKCURRENT:
        base = static_cast<int64_t>(file->position);
        break;
    case rwFILESEEKEND: {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(FileHandle(file), &size)) {
            KeepSystemError();
            return -1;
        }
        base = size.QuadPart;
        break;
    }
    default:
        return -1;
    }
    int64_t target = base + offset;
    if (target < 0 || file->position == UINT64_MAX) {
        return -1;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = target;
    if (!SetFilePointerEx(FileHandle(file), distance, nullptr, FILE_BEGIN)) {
        KeepSystemError();
        return -1;
    }
    file->position = static_cast<uint64_t>(target);
    return target;
}

static RwInt32 Win32Wait(RwFile *file, RwBool block)
{
    if (!file->asynchronous || file->state != rwFILESTATEPENDING) {
        return file->state;
    }
    if (file->pendingOp == rwFILEOPREAD || file->pendingOp == rwFILEOPWRITE) {
        DWORD bytes = 0;
        if (!GetOverlappedResult(FileHandle(file), FileOverlapped(file), &bytes, block ? TRUE : FALSE)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING || error == ERROR_IO_INCOMPLETE || error == 0) {
                return file->state;
            }
            if (!(error == ERROR_HANDLE_EOF && file->pendingOp == rwFILEOPREAD)) {
                RwFileSystemManagerGetGlobals()->lastError = error;
                file->byteCount = 0;
                file->state = rwFILESTATEERROR;
                CompleteRequest(file);
                return file->state;
            }
            bytes = 0;
        }
        Advance(file, bytes, file->pendingOp == rwFILEOPWRITE);
        file->byteCount = bytes;
    }
    file->state = rwFILESTATEREADY;
    CompleteRequest(file);
    return file->state;
}

static RwInt32 Win32Status(RwFile *file)
{
    if (file->state == rwFILESTATEFREE) {
        return rwFILESTATEFREE;
    }
    return Win32Wait(file, FALSE);
}

static RwBool Win32Eof(RwFile *file)
{
    return file->position == UINT64_MAX || file->position >= file->size;
}

static RwBool Win32Exists(RwFileSystem *fs, const RwChar *path)
{
    RwChar fullPath[rwFILESYSTEMMAXPATH + 1];
    if (!BuildFullPath(fs, path, fullPath)) {
        return FALSE;
    }
    return GetFileAttributesA(fullPath) != INVALID_FILE_ATTRIBUTES;
}

static void Win32Release(RwFile *file)
{
    file->state = rwFILESTATEFREE;
    file->asynchronous = file->fileSystem->asynchronous;
    file->pendingOp = rwFILEOPNONE;
    file->position = UINT64_MAX;
}

static void Win32CloseFile(RwFile *file)
{
    HANDLE handle = FileHandle(file);
    if (handle && handle != INVALID_HANDLE_VALUE) {
        if (file->asynchronous && RequestInFlight(file)) {
            // The system may still write into the caller's buffer and into
            // this slot's overlapped record: cancel and wait before the slot
            // can be reused.
            DWORD bytes;
            CancelIo(handle);
            GetOverlappedResult(handle, FileOverlapped(file), &bytes, TRUE);
        }
        CloseHandle(handle);
    }
    if (file->event) {
        CloseHandle(static_cast<HANDLE>(file->event));
        file->event = nullptr;
    }
    file->handle = nullptr;
    Win32Release(file);
}

static void Win32CloseSystem(RwFileSystem *fs)
{
    RwFree(fs->slots);
    fs->slots = nullptr;
    fs->slotCount = 0;
}

// Bytes per sector of the prefix's volume; 0 when it does not answer. The
// error mode keeps an empty drive from raising a system dialog.
static RwUInt32 QueryBytesPerSector(const RwChar *devicePrefix)
{
    RwChar root[rwFILESYSTEMMAXPATH + 2];
    size_t n = std::strlen(devicePrefix);
    if (n == 0 || n > rwFILESYSTEMMAXPATH) {
        return 0;
    }
    std::memcpy(root, devicePrefix, n + 1);
    if (root[n - 1] != '\\') {
        root[n] = '\\';
        root[n + 1] = '\0';
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
    BOOL ok = GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
    SetErrorMode(previous);
    return ok ? bytesPerSector : 0;
}

RwFileSystem *RwWin32FileSystemCreate(RwInt32 slotCount, const RwChar *devicePrefix, const RwChar *name)
{
    if (slotCount < 1 || slotCount > 0x10000 || !devicePrefix || !name) {
        return nullptr;
    }
    if (RwFileSystemCheckNameInUse(name)) {
        return nullptr;
    }
    RwFileSystem *fs = static_cast<RwFileSystem *>(RwMalloc(sizeof(RwFileSystem), Win32FileSystemHint));
    if (!fs) {
        return nullptr;
    }
    std::memset(fs, 0, sizeof(*fs));
    fs->slots = static_cast<RwFile *>(RwCalloc(static_cast<size_t>(slotCount), sizeof(RwFile)));
    if (!fs->slots) {
        RwFree(fs);
        return nullptr;
    }
    fs->slotCount = slotCount;
    fs->getFile = Win32GetFile;
    fs->close = Win32CloseSystem;
    fs->fOpen = Win32Open;
    fs->fClose = Win32CloseFile;
    fs->fRead = Win32Read;
    fs->fWrite = Win32Write;
    fs->fSeek = Win32Seek;
    fs->fWait = Win32Wait;
    fs->fRelease = Win32Release;
    fs->fEof = Win32Eof;
    fs->fStatus = Win32Status;
    fs->fExists = Win32Exists;
    if (RwFileSystemInit(fs, slotCount, devicePrefix, name) != rwFSOK) {
        if (fs->devicePrefix) {
            RwFree(fs->devicePrefix);
        }
        RwFree(fs->slots);
        RwFree(fs);
        return nullptr;
    }
    fs->bytesPerSector = QueryBytesPerSector(devicePrefix);
    return fs;
}
