// The file-system manager: mounted file systems, their open-file slots and the C-style file calls.
#include "filesys.h"

#include <windows.h>
#include <climits>
#include <cstring>

#include "memory.h"

static RwFileSystemManager FileSystemManager;
// Guards the slot states, so that several threads may open and close files.
static CRITICAL_SECTION SlotLock;

static RwChar FoldAscii(RwChar c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<RwChar>(c - 'A' + 'a') : c;
}

static RwBool EqualNoCase(const RwChar *a, const RwChar *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return FALSE;
        }
        if (a[i] == '\0') {
            return TRUE;
        }
    }
    return TRUE;
}

static RwChar *DuplicateString(const RwChar *s)
{
    size_t n = std::strlen(s) + 1;
    RwChar *copy = static_cast<RwChar *>(RwMalloc(n, 0x401BE));
    if (copy) {
        std::memcpy(copy, s, n);
    }
    return copy;
}

static RwBool HasRoom(void)
{
    const RwFileSystemManager *m = &FileSystemManager;
    return m->maxFS < 1 || m->numFS + 1 <= m->maxFS;
}

RwFileSystemManager *RwFileSystemManagerGetGlobals(void)
{
    return &FileSystemManager;
}

RwBool RwFileSystemManagerOpen(RwInt32 maxFS)
{
    RwFileSystemManager *m = &FileSystemManager;
    if (m->isOpen) {
        // A second open would lose the mounted systems and their files.
        return FALSE;
    }
    m->numFS = 0;
    m->maxFS = maxFS;
    m->errorCallBack = nullptr;
    m->defaultFS = nullptr;
    m->fsList = nullptr;
    m->lastError = 0;
    InitializeCriticalSection(&SlotLock);
    m->isOpen = TRUE;
    return TRUE;
}

// Files still open at shutdown are closed so that no system handle outlives
// its file system.
static void CloseOpenFiles(RwFileSystem *fs)
{
    for (RwInt32 i = 0;; i++) {
        RwFile *file = fs->getFile(fs, i);
        if (!file) {
            break;
        }
        if (file->state != rwFILESTATEFREE) {
            RwFclose(file);
        }
    }
}

void RwFileSystemManagerClose(void)
{
    RwFileSystemManager *m = &FileSystemManager;
    if (!m->isOpen) {
        return;
    }
    RwFileSystem *fs = m->fsList;
    while (fs) {
        RwFileSystem *next = fs->next;
        CloseOpenFiles(fs);
        if (fs->close) {
            fs->close(fs);
        }
        if (fs->devicePrefix) {
            RwFree(fs->devicePrefix);
        }
        if (fs->unregisterNotify) {
            fs->unregisterNotify(fs->name);
        }
        RwFree(fs);
        fs = next;
    }
    DeleteCriticalSection(&SlotLock);
    m->fsList = nullptr;
    m->defaultFS = nullptr;
    m->isOpen = FALSE;
    m->numFS = 0;
}

RwFileSystem *RwFileSystemFindByName(const RwChar *name)
{
    if (!name) {
        return nullptr;
    }
    for (RwFileSystem *fs = FileSystemManager.fsList; fs; fs = fs->next) {
        if (std::strcmp(fs->name, name) == 0) {
            return fs;
        }
    }
    return nullptr;
}

RwFileSystem *RwFileSystemFindByDevice(const RwChar *devicePrefix)
{
    if (!devicePrefix) {
        return nullptr;
    }
    size_t n = std::strlen(devicePrefix) + 1;
    for (RwFileSystem *fs = FileSystemManager.fsList; fs; fs = fs->next) {
        if (fs->devicePrefix && EqualNoCase(fs->devicePrefix, devicePrefix, n)) {
            return fs;
        }
    }
    return nullptr;
}

RwBool RwFileSystemCheckNameInUse(const RwChar *name)
{
    return RwFileSystemFindByName(name) != nullptr;
}

RwInt32 RwFileSystemInit(RwFileSystem *fs, RwInt32 slotCount, const RwChar *devicePrefix, const RwChar *name)
{
    // A longer name would not fit the name field; cutting it could make two
    // different names collide.
    if (!name || !devicePrefix || std::strlen(name) >= rwFILESYSTEMNAMELENGTH) {
        return rwFSERRORBADNAME;
    }
    if (!HasRoom()) {
        return rwFSERRORNOROOM;
    }
    if (RwFileSystemCheckNameInUse(name)) {
        return rwFSERRORNAMEINUSE;
    }
    std::memset(fs->name, 0, sizeof(fs->name));
    std::memcpy(fs->name, name, std::strlen(name));
    fs->slotCount = slotCount;
    for (RwInt32 i = 0; i < slotCount; i++) {
        RwFile *file = fs->getFile(fs, i);
        file->state = rwFILESTATEFREE;
        file->asynchronous = fs->asynchronous;
        file->fileSystem = fs;
        file->position = UINT64_MAX;
    }
    if (RwFileSystemFindByDevice(devicePrefix)) {
        return rwFSERRORDEVICEINUSE;
    }
    fs->devicePrefix = DuplicateString(devicePrefix);
    if (!fs->devicePrefix) {
        return rwFSERRORNOROOM;
    }
    fs->registerNotify = nullptr;
    fs->unregisterNotify = nullptr;
    fs->state = 2;
    return rwFSOK;
}

RwBool RwFileSystemRegister(RwFileSystem *fs)
{
    RwFileSystemManager *m = &FileSystemManager;
    if (!fs || !m->isOpen || !HasRoom()) {
        return FALSE;
    }
    if (RwFileSystemFindByName(fs->name)) {
        return FALSE;
    }
    if (fs->registerNotify) {
        fs->registerNotify(fs->name);
    }
    fs->next = m->fsList;
    m->fsList = fs;
    m->numFS++;
    return TRUE;
}

RwFileSystem *RwFileSystemSetDefault(RwFileSystem *fs)
{
    FileSystemManager.defaultFS = fs;
    return fs;
}

RwFileSystem *RwFileSystemGetDefault(void)
{
    return FileSystemManager.defaultFS;
}

RwFileSystem *RwFileSystemGetForPath(const RwChar *path)
{
    const RwFileSystemManager *m = &FileSystemManager;
    if (!path || !m->isOpen || !m->fsList) {
        return nullptr;
    }
    for (const RwChar *colon = std::strchr(path, ':'); colon; colon = std::strchr(colon + 1, ':')) {
        size_t n = static_cast<size_t>(colon - path) + 1;
        for (RwFileSystem *fs = m->fsList; fs; fs = fs->next) {
            if (fs->devicePrefix && std::strlen(fs->devicePrefix) == n && EqualNoCase(path, fs->devicePrefix, n)) {
                return fs;
            }
        }
    }
    return m->defaultFS;
}

RwFile *RwFileSystemOpenFile(RwFileSystem *fs, const RwChar *path, RwUInt32 flags, RwFileCallBack callback,
                             void *userData)
{
    RwFileSystemManager *m = &FileSystemManager;
    if (!fs || !path || !m->isOpen) {
        return nullptr;
    }
    RwFile *file = nullptr;
    EnterCriticalSection(&SlotLock);
    for (RwInt32 i = 0;; i++) {
        RwFile *slot = fs->getFile(fs, i);
        if (!slot) {
            break;
        }
        if (slot->state == rwFILESTATEFREE) {
            slot->state = rwFILESTATEOPENING;
            file = slot;
            break;
        }
    }
    LeaveCriticalSection(&SlotLock);
    if (!file) {
        m->lastError = rwFSERRORNOSLOT;
        return nullptr;
    }

    if (fs->asynchronous) {
        flags |= rwFILEFLAGASYNC;
    }
    file->callback = nullptr;
    file->userData = nullptr;
    file->pendingOp = rwFILEOPNONE;
    file->byteCount = 0;
    if (flags & rwFILEFLAGASYNC) {
        file->pendingOp = rwFILEOPOPEN;
        file->callback = callback;
        file->userData = userData;
    }
    if (fs->fOpen(fs, file, path, flags) != rwFSOK) {
        EnterCriticalSection(&SlotLock);
        fs->fRelease(file);
        LeaveCriticalSection(&SlotLock);
        return nullptr;
    }
    file->opened = TRUE;
    return file;
}

RwInt32 RwFileSystemFileWait(RwFile *file, RwBool block)
{
    if (!file) {
        return rwFILESTATEERROR;
    }
    return file->fileSystem->fWait(file, block);
}

RwInt32 RwFileSystemFileStatus(RwFile *file)
{
    if (!file) {
        return rwFILESTATEERROR;
    }
    return file->fileSystem->fStatus(file);
}

RwUInt32 RwFileFlagsFromMode(const RwChar *mode)
{
    if (!mode) {
        return 0;
    }
    RwBool plus = std::strchr(mode, '+') != nullptr;
    RwBool binary = std::strchr(mode, 'b') != nullptr;
    const RwUInt32 read = rwFILEFLAGREAD;
    const RwUInt32 create = rwFILEFLAGCREATE;
    switch (mode[0]) {
    case 'r':
        // Update mode reads and writes an existing file from its start.
        return plus ? (rwFILEFLAGREAD | rwFILEFLAGWRITE) : rwFILEFLAGREAD;
    case 'w':
        return rwFILEFLAGWRITE | rwFILEFLAGCREATE | (plus ? read : 0u);
    case 'a':
        return rwFILEFLAGWRITE | rwFILEFLAGATEND | (plus ? read : 0u) | (binary ? create : 0u);
    default:
        return 0;
    }
}

RwFile *RwFopen(const RwChar *path, const RwChar *mode)
{
    RwUInt32 flags = RwFileFlagsFromMode(mode);
    if (flags == 0) {
        return nullptr;
    }
    RwFileSystem *fs = RwFileSystemGetForPath(path);
    if (!fs) {
        return nullptr;
    }
    return RwFileSystemOpenFile(fs, path, flags, nullptr, nullptr);
}

RwInt32 RwFclose(RwFile *file)
{
    if (!file || !file->fileSystem || !FileSystemManager.isOpen) {
        return -1;
    }
    RwInt32 result = -1;
    EnterCriticalSection(&SlotLock);
    if (file->state != rwFILESTATEFREE) {
        file->fileSystem->fClose(file);
        file->opened = FALSE;
        result = 0;
    }
    LeaveCriticalSection(&SlotLock);
    return result;
}

// Byte count of size x count, or 0 when either is 0 or the product does not
// fit one request.
static RwUInt32 RequestBytes(size_t size, size_t count)
{
    if (size == 0 || count == 0 || count > UINT32_MAX / size) {
        return 0;
    }
    return static_cast<RwUInt32>(size * count);
}

size_t RwFread(void *buffer, size_t size, size_t count, RwFile *file)
{
    RwUInt32 n = RequestBytes(size, count);
    if (!file || !buffer || n == 0) {
        return 0;
    }
    return file->fileSystem->fRead(file, buffer, n) / size;
}

size_t RwFwrite(const void *buffer, size_t size, size_t count, RwFile *file)
{
    RwUInt32 n = RequestBytes(size, count);
    if (!file || !buffer || n == 0) {
        return 0;
    }
    return file->fileSystem->fWrite(file, buffer, n) / size;
}

RwInt32 RwFseek(RwFile *file, long offset, RwInt32 origin)
{
    if (!file || origin < 0 || origin > 2) {
        return -1;
    }
    RwInt32 mode = origin + 1;
    if (file->asynchronous) {
        // A seek must not overwrite a request that is still in flight.
        if (file->state != rwFILESTATEREADY) {
            return -1;
        }
        file->pendingOp = rwFILEOPSEEK;
        file->state = rwFILESTATEPENDING;
    }
    if (file->fileSystem->fSeek(file, offset, mode) < 0) {
        if (file->asynchronous) {
            file->pendingOp = rwFILEOPNONE;
            file->state = rwFILESTATEREADY;
        }
        return -1;
    }
    return 0;
}

RwChar *RwFgets(RwChar *buffer, RwInt32 n, RwFile *file)
{
    if (!buffer || !file || n < 2) {
        return nullptr;
    }
    RwUInt32 got = static_cast<RwUInt32>(RwFread(buffer, 1, static_cast<size_t>(n - 1), file));
    if (got == 0) {
        return nullptr;
    }
    RwUInt32 out = 0;
    for (RwUInt32 in = 0; in < got; in++) {
        RwChar c = buffer[in];
        if (c == '\r' && in + 1 < got && buffer[in + 1] == '\n') {
            continue;
        }
        buffer[out++] = c;
        if (c == '\n') {
            RwUInt32 beyond = got - (in + 1);
            if (beyond > 0) {
                RwFseek(file, -static_cast<long>(beyond), 1);
            }
            buffer[out] = '\0';
            return buffer;
        }
    }
    // A CR that ends the bytes read may be the first half of a CR-LF pair:
    // look at the next byte, and give it back unless it completes the pair.
    if (buffer[out - 1] == '\r') {
        RwChar next;
        if (RwFread(&next, 1, 1, file) == 1) {
            if (next == '\n') {
                buffer[out - 1] = '\n';
            } else {
                RwFseek(file, -1, 1);
            }
        }
    }
    buffer[out] = '\0';
    return buffer;
}

RwBool RwFeof(RwFile *file)
{
    if (!file) {
        return TRUE;
    }
    return file->fileSystem->fEof(file);
}

RwBool RwFexist(const RwChar *path)
{
    RwFileSystem *fs = RwFileSystemGetForPath(path);
    if (!fs) {
        return FALSE;
    }
    return fs->fExists(fs, path);
}
