// Packed-archive operations of CParcel: entries, folders and handles inside one archive file.
#include "archive/CParcel.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "archive/CFileOpen.h"
#include "archive/CParcelFile.h"
#include "archive/CParcelFindData.h"
#include "archive/CParcelFolder.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelStorage.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelChunk.h"
#include "archive/ParcelIo.h"
#include "archive/ParcelName.h"
#include "archive/ParcelPath.h"

enum {
    PARCEL_ARCHIVE_VERSION = 1,
    PARCEL_DATA_VERSION = 1,
    PARCEL_FOLDERS_VERSION = 1,
    PARCEL_MIN_TABLE = 1024,
    // Where a new archive keeps its empty tables until its first flush: the
    // contents written before that flush go below them.
    PARCEL_NEW_TABLES_AT = 65536,
    PARCEL_SHFILEINFO_SIZE = 352,
    PARCEL_FIND_DATA_SIZE = 320,
};

static_assert(sizeof(SHFILEINFOA) == PARCEL_SHFILEINFO_SIZE, "SHFILEINFOA is 352 bytes");
static_assert(sizeof(WIN32_FIND_DATAA) == PARCEL_FIND_DATA_SIZE, "WIN32_FIND_DATAA is 320 bytes");

// What one attempt to open an existing archive file found.
enum {
    PARCEL_FILE_ABSENT,
    PARCEL_FILE_EMPTY,
    PARCEL_FILE_READ,
    PARCEL_FILE_BAD,
};

// "파일 폴더" in code page 949, the type name the shell gives folders.
static const char kFolderTypeName[] = "\xC6\xC4\xC0\xCF\x20\xC6\xFA\xB4\xF5";

// The archive's 14-byte header, whose data chunk ends where the tables at
// tablesAt begin: writing it is what commits those tables.
static BOOL NoMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

static void WriteArchiveHeader(CParcelWriter &w, uint32_t tablesAt)
{
    w.WriteU32(PARCEL_ARCHIVE_VERSION);
    w.WriteU16(PARCEL_CHUNK_DATA);
    w.WriteU32(tablesAt - 4);
    w.WriteU32(PARCEL_DATA_VERSION);
}

static bool FileNotEmpty(HANDLE file)
{
    DWORD high = 0;
    DWORD low = ::GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    return low != 0 || high != 0;
}

// The folder a folder path hangs in: its path up to the previous backslash.
static std::string ParentKey(const char *folderPath)
{
    std::string p(folderPath);
    if (!p.empty() && p.back() == '\\')
        p.pop_back();
    size_t slash = p.rfind('\\');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

// Whether the archive's own calls could reach the entry: its folder path and
// name, joined and split again, give back the same two parts. A name with a
// backslash splits elsewhere and could never be opened, deleted or freed.
static bool EntryReachable(const CParcelFolder *folder, const CParcelFile *file)
{
    std::string dir, leaf;
    ParcelSplitPath((std::string(folder->m_name) + file->m_name).c_str(), &dir, &leaf);
    return dir == folder->m_name && leaf == file->m_name;
}

static void CopyName(char *dst, size_t size, const std::string &src)
{
    size_t n = src.size() < size - 1 ? src.size() : size - 1;
    memcpy(dst, src.data(), n);
    dst[n] = 0;
}

// How long a file is whose tables follow that storage's data.
static uint64_t EndWithTables(const CParcelStorage *storage, const CParcelWriter &folders)
{
    return (uint64_t)storage->EndOfUsedData() + 2 * PARCEL_CHUNK_HEADER_SIZE + storage->TableSize() + folders.Size();
}

// Where a commit puts next's tables of that size, at or past above, with
// the tables of kept on disk.
static bool PlaceTables(const CParcelStorage *kept, const CParcelStorage *next, uint32_t size, uint32_t above,
                        uint32_t *at)
{
    const uint32_t dataEnd = next->EndOfUsedData();
    return kept->SafePlace(dataEnd > above ? dataEnd : above, size, at);
}

// ---------------------------------------------------------------- open, close

BOOL CParcel::PackedOpen(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize)
{
    CParcelLock::Scope lock(m_lock);
    m_mode = mode;
    m_readOnly = 0;
    // Nothing of an archive open before (without Close) carries over.
    m_fresh = false;
    m_longer = false;
    m_committed.clear();
    m_root[0] = 0;
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    strncpy(m_root, path, MAX_PATH - 1);
    m_root[MAX_PATH - 1] = 0;

    const bool alone = (flags & PARCEL_OPEN_ALONE) != 0;
    int found = PARCEL_FILE_ABSENT;
    if (!(flags & PARCEL_OPEN_READONLY_ONLY))
        found = OpenArchiveFile(path, GENERIC_READ | GENERIC_WRITE, alone ? 0 : FILE_SHARE_READ);
    // An empty file that opens for writing is recreated, not opened read-only.
    if (found == PARCEL_FILE_ABSENT && !(flags & PARCEL_OPEN_NO_READONLY))
        found = OpenArchiveFile(path, GENERIC_READ, alone ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (found == PARCEL_FILE_READ)
        return TRUE;
    if (found == PARCEL_FILE_BAD)
        return FALSE;
    if (!(flags & PARCEL_OPEN_CREATE) || (flags & PARCEL_OPEN_READONLY_ONLY)) {
        // An archive another holds is there: the caller may say so.
        SetLastError(GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Never replace a non-empty file that could not be opened above (shared
    // elsewhere, or readable only): it may be somebody's archive.
    WIN32_FILE_ATTRIBUTE_DATA attr;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &attr) &&
        (attr.nFileSizeLow || attr.nFileSizeHigh)) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    HANDLE f = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return FALSE;
    m_archive = f;
    m_storage = new (std::nothrow) CParcelStorage;
    int32_t capacity = initialTableSize < PARCEL_MIN_TABLE ? PARCEL_MIN_TABLE
                       : initialTableSize > 0x7FFFFFFFu ? 0x7FFFFFFF
                                                         : (int32_t)initialTableSize;
    if (!m_storage || !m_storage->Create(capacity) || !MakeRootFolder()) {
        PackedClose();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!CommitNewArchive()) {
        // What is on disk is empty or an empty archive: absent or opening.
        const DWORD error = GetLastError();
        PackedClose();
        SetLastError(error);
        return FALSE;
    }
    SetChanged(1);
    return TRUE;
}

// A new archive is an empty one on disk from the start, so that a process
// that ends before the first flush leaves a file that opens. The whole of it
// goes in one write that fits the first sector; a second commit then moves
// its tables out of the way of the contents written before the first flush,
// which can put its own tables right after them.
BOOL CParcel::CommitNewArchive()
{
    CParcelWriter folders, tables, whole;
    if (!WriteFolders(folders))
        return FALSE;
    TablesImage(m_storage, folders, &tables);
    WriteArchiveHeader(whole, PARCEL_DATA_START);
    whole.WriteBytes(tables.Data(), tables.Size());
    if (!ParcelSeek(m_archive, 0) || !ParcelWriteExact(m_archive, whole.Data(), (uint32_t)whole.Size()) ||
        !ParcelIoFlush(m_archive))
        return FALSE;
    m_storage->Protect(PARCEL_DATA_START, (uint32_t)whole.Size());
    CParcelStorage *work = m_storage->Clone();
    if (!work)
        return NoMemory();
    work->Commit();
    if (!CommitWork(work, folders, PARCEL_NEW_TABLES_AT))
        return FALSE;
    m_freshTables.assign((const char *)tables.Data(), tables.Size());
    m_fresh = true;
    return TRUE;
}

// Commits the empty tables of a new archive again at or past at, when they
// begin before end, so that end bytes of contents or tables fit below them.
BOOL CParcel::MoveFreshTables(uint32_t end, uint32_t at)
{
    if (!m_fresh || end <= m_storage->TablesStart())
        return TRUE;
    const uint32_t size = (uint32_t)m_freshTables.size();
    if (at < end)
        at = end;
    if (at < m_storage->TablesEnd())
        at = m_storage->TablesEnd();
    if (at < m_storage->EndOfRegions())
        at = m_storage->EndOfRegions();
    if ((uint64_t)at + size > 0xFFFFFFFFu)
        return FALSE;
    switch (WriteTablesAndHeader(m_freshTables.data(), size, at)) {
    case TABLES_NOT_COMMITTED:
        return FALSE;
    case TABLES_MAYBE_COMMITTED:
        m_fresh = false;
        m_storage->KeepTables(at, at + size);
        return FALSE;
    case TABLES_COMMITTED:
        break;
    }
    m_storage->MoveTables(at, at + size);
    return TRUE;
}

CParcel::TablesCommit CParcel::WriteTablesAndHeader(const void *tables, uint32_t size, uint32_t at)
{
    if (!ParcelSeek(m_archive, at) || !ParcelWriteExact(m_archive, tables, size) || !ParcelIoFlush(m_archive))
        return TABLES_NOT_COMMITTED;
    CParcelWriter header;
    WriteArchiveHeader(header, at);
    if (!ParcelSeek(m_archive, 0) || !ParcelWriteExact(m_archive, header.Data(), (uint32_t)header.Size()) ||
        !ParcelIoFlush(m_archive))
        return TABLES_MAYBE_COMMITTED;
    return TABLES_COMMITTED;
}

// One attempt of Open on an existing file: a non-empty one is read as the
// archive (read-only unless the access allows writing), and a failed read
// closes it again.
int CParcel::OpenArchiveFile(LPCSTR path, DWORD access, DWORD share)
{
    HANDLE f = ::CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return PARCEL_FILE_ABSENT;
    if (!FileNotEmpty(f)) {
        ::CloseHandle(f);
        return PARCEL_FILE_EMPTY;
    }
    m_archive = f;
    m_readOnly = (access & GENERIC_WRITE) ? 0 : 1;
    // What memory refuses while reading says so; anything else is damage.
    SetLastError(NO_ERROR);
    if (ReadArchive())
        return PARCEL_FILE_READ;
    const DWORD error = GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_CORRUPT;
    PackedClose();
    SetLastError(error);
    return PARCEL_FILE_BAD;
}

void CParcel::PackedClose()
{
    CParcelLock::Scope lock(m_lock);
    while (CParcelFindData *find = m_handles.FindAfter(nullptr)) {
        m_handles.RemoveFind(find);
        delete find;
    }
    while (CFileOpen *handle = m_handles.FileAfter(nullptr))
        ReleaseHandle(handle);
    DestroyFolders();
    if (m_storage) {
        m_storage->Clear();
        delete m_storage;
        m_storage = nullptr;
    }
    if (m_archive != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_archive);
    m_archive = INVALID_HANDLE_VALUE;
    m_readOnly = 0;
}

void CParcel::DestroyFolders()
{
    for (CParcelFolderTree::Node *n = m_folders.First(); n; n = CParcelFolderTree::Next(n))
        delete n->value;
    m_folders.Clear();
}

CParcelFolder *CParcel::MakeRootFolder()
{
    if (CParcelFolder *root = m_folders.Lookup(""))
        return root;
    CParcelFolder *root = new (std::nothrow) CParcelFolder;
    if (!root || !m_folders.Insert(root)) {
        delete root;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return root;
}

// ------------------------------------------------------------- archive format

BOOL CParcel::ReadArchive()
{
    uint32_t fileSize, version, dataStart, dataVersion;
    ParcelChunkHeader h;
    if (!ParcelFileSize(m_archive, &fileSize) || !ParcelSeek(m_archive, 0))
        return FALSE;
    if (!ParcelReadU32(m_archive, &version) || version != PARCEL_ARCHIVE_VERSION)
        return FALSE;
    if (!ParcelPeekHeader(m_archive, &h) || h.id != PARCEL_CHUNK_DATA)
        return FALSE;
    if (!ParcelEnterChunk(m_archive, &dataStart))
        return FALSE;
    if (h.length < PARCEL_DATA_START - 4 || (uint64_t)dataStart + h.length > fileSize)
        return FALSE;
    if (!ParcelReadU32(m_archive, &dataVersion) || dataVersion != PARCEL_DATA_VERSION)
        return FALSE;
    if (!ParcelSkipChunk(m_archive, dataStart, h))
        return FALSE;
    const uint32_t dataEnd = dataStart + h.length;

    // Owned here until it is linked in: a read that fails, for any reason,
    // leaves nothing behind.
    std::unique_ptr<CParcelStorage> storage(new (std::nothrow) CParcelStorage);
    if (!storage)
        return NoMemory();
    // Contents must lie inside the data chunk, not over the tables.
    if (!storage->Read(m_archive) || storage->EndOfUsedData() > dataEnd)
        return FALSE;
    std::vector<uint8_t> body;
    if (!ParcelReadChunk(m_archive, PARCEL_CHUNK_FOLDERS, &body, nullptr))
        return FALSE;
    // The tables end where the header says they do: whatever a session that
    // ended without a flush left after them is named by nothing.
    uint32_t tablesEnd;
    CParcelReader reader(body.data(), body.size());
    if (!ParcelTell(m_archive, &tablesEnd) || !ReadFolders(reader, storage.get())) {
        DestroyFolders();
        return FALSE;
    }
    // Anything between the last region and the tables is named by nothing.
    storage->Protect(dataEnd, tablesEnd);
    m_storage = storage.release();
    SetChanged(0);
    return TRUE;
}

// How deep a folder path lies: the root 0, its folders 1, and so on.
static size_t FolderDepth(const CParcelFolder *folder)
{
    return (size_t)std::count(folder->m_name, folder->m_name + strlen(folder->m_name), '\\');
}

// The folders may come in any order, and there may be none. The tree's shape
// says which folder holds which, so they are linked in by depth, each after
// its parent (siblings in the order read): the root, found by its name,
// comes first; folders without a root get one.
BOOL CParcel::ReadFolders(CParcelReader &r, CParcelStorage *storage)
{
    uint32_t version = r.ReadU32();
    uint32_t folders = r.ReadU32();
    if (!r.Ok() || version != PARCEL_FOLDERS_VERSION)
        return FALSE;
    if ((uint64_t)folders * (PARCEL_FOLDER_RECORD_SIZE + 4) > r.Remaining())
        return FALSE;
    // A region belongs to one entry at most, or two entries would overwrite
    // each other's contents.
    std::vector<bool> owned((size_t)storage->GetCount(), false);
    std::vector<std::unique_ptr<CParcelFolder>> read;
    read.reserve(folders);
    for (uint32_t i = 0; i < folders; ++i) {
        std::unique_ptr<CParcelFolder> folder(new (std::nothrow) CParcelFolder);
        if (!folder)
            return NoMemory();
        if (!folder->ReadRecord(r))
            return FALSE;
        uint32_t files = r.ReadU32();
        if (!r.Ok() || (uint64_t)files * PARCEL_FILE_RECORD_SIZE > r.Remaining())
            return FALSE;
        for (uint32_t k = 0; k < files; ++k) {
            std::unique_ptr<CParcelFile> file(new (std::nothrow) CParcelFile);
            if (!file)
                return NoMemory();
            bool ok = file->ReadRecord(r) && file->m_name[0] != 0 && file->m_sizeHigh == 0 &&
                      EntryReachable(folder.get(), file.get());
            if (ok && file->m_region != PARCEL_NO_REGION) {
                const CParcelBox *box = storage->GetBox(file->m_region);
                ok = box && box->m_state == PARCEL_BOX_USED && !owned[file->m_region];
                if (ok)
                    owned[file->m_region] = true;
            }
            if (!ok)
                return FALSE;
            if (!folder->AddFile(file.get()))
                return NoMemory();
            file.release();
        }
        read.push_back(std::move(folder));
    }
    std::stable_sort(read.begin(), read.end(), [](const std::unique_ptr<CParcelFolder> &a,
                                                  const std::unique_ptr<CParcelFolder> &b) {
        return FolderDepth(a.get()) < FolderDepth(b.get());
    });
    if (!read.empty() && read.front()->m_name[0] != 0 && !MakeRootFolder())
        return FALSE;
    for (std::unique_ptr<CParcelFolder> &folder : read) {
        // Each path once, and every folder in one that is there.
        if (m_folders.Find(folder->m_name) ||
            (folder->m_name[0] && !m_folders.Find(ParentKey(folder->m_name).c_str())))
            return FALSE;
        if (!m_folders.Insert(folder.get()))
            return NoMemory();
        folder.release();
    }
    return TRUE;
}

BOOL CParcel::WriteFolders(CParcelWriter &w)
{
    w.WriteU32(PARCEL_FOLDERS_VERSION);
    w.WriteU32((uint32_t)m_folders.GetCount());
    int written = 0;
    // Pre-order (node, left, right) puts every folder after its parent.
    std::vector<CParcelFolderTree::Node *> stack;
    if (m_folders.GetRoot())
        stack.push_back(m_folders.GetRoot());
    while (!stack.empty()) {
        CParcelFolderTree::Node *n = stack.back();
        stack.pop_back();
        if (n->right)
            stack.push_back(n->right);
        if (n->left)
            stack.push_back(n->left);
        CParcelFolder *folder = n->value;
        ++written;
        folder->WriteRecord(w);
        if (!folder->RebuildBalanced())
            return NoMemory();
        w.WriteU32((uint32_t)folder->m_files.GetCount());
        int files = 0;
        std::vector<CParcelFileTree::Node *> fstack;
        if (folder->m_files.GetRoot())
            fstack.push_back(folder->m_files.GetRoot());
        while (!fstack.empty()) {
            CParcelFileTree::Node *f = fstack.back();
            fstack.pop_back();
            if (f->right)
                fstack.push_back(f->right);
            if (f->left)
                fstack.push_back(f->left);
            f->value->WriteRecord(w);
            ++files;
        }
        if (files != folder->m_files.GetCount())
            return FALSE;
    }
    return written == m_folders.GetCount();
}

void CParcel::ReportImport(const char *text, const char *source) const
{
    if (m_importReport)
        m_importReport(m_importContext, text, source);
    else
        MessageBoxA(GetForegroundWindow(), text, source, MB_OK);
}

BOOL CParcel::ImportSources()
{
    for (CParcelFolderTree::Node *n = m_folders.First(); n; n = CParcelFolderTree::Next(n)) {
        CParcelFolder *folder = n->value;
        for (CParcelFileTree::Node *f = folder->m_files.First(); f; f = CParcelFileTree::Next(f)) {
            CParcelFile *entry = f->value;
            if (entry->m_region != PARCEL_NO_REGION || !entry->m_source)
                continue;
            HANDLE src = ::CreateFileA(entry->m_source, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (src == INVALID_HANDLE_VALUE)
                continue;
            CFileOpen *handle = OpenHandle(entry, PARCEL_HANDLE_FILE);
            DWORD size = ::GetFileSize(src, nullptr);
            bool refused = false;
            char *buffer = nullptr;
            // A handle refused is memory wanting too.
            if (!handle || (size != INVALID_FILE_SIZE && !(buffer = new (std::nothrow) char[size ? size : 1]))) {
                ReportImport("FileRead Error(Memory Error)", entry->m_source);
            } else if (size == INVALID_FILE_SIZE) {
                ReportImport("FileRead Error", entry->m_source);
            } else {
                DWORD got = 0;
                if (!::ReadFile(src, buffer, size, &got, nullptr) || got < size) {
                    ReportImport("FileRead Error", entry->m_source);
                } else {
                    // The region holds the recorded size, and takes no more.
                    const DWORD want = size < entry->m_sizeLow ? size : entry->m_sizeLow;
                    DWORD written = 0;
                    const BOOL ok = PackedWriteFile((HANDLE)handle, buffer, size, &written, nullptr);
                    refused = want && (!ok || written < want);
                }
            }
            delete[] buffer;
            if (handle)
                ReleaseHandle(handle);
            ::CloseHandle(src);
            if (refused) {
                // The archive file took not all of it: the entry goes without
                // contents, to be imported again by a later flush, and this
                // flush fails before it commits anything.
                if (entry->m_region != PARCEL_NO_REGION)
                    m_storage->Release(entry->m_region);
                entry->m_region = PARCEL_NO_REGION;
                return FALSE;
            }
        }
    }
    return TRUE;
}

// Imports go in while the tables on disk are still kept, and both new tables
// are assembled before the file is touched, so a failed folder count leaves
// the archive as it was.
BOOL CParcel::WriteArchive()
{
    if (!ImportSources() || !ZeroUnfilled())
        return FALSE;
    // A reader needs the root folder; removing "" took it away.
    if (!MakeRootFolder())
        return FALSE;
    CParcelWriter folders;
    if (!WriteFolders(folders))
        return FALSE;
    std::unique_ptr<CParcelStorage> next(m_storage->Clone());
    if (!next)
        return NoMemory();
    next->Commit();
    CParcelWriter tables;
    TablesImage(next.get(), folders, &tables);
    if (!OnDisk(tables) && !CommitWork(next.release(), folders))
        return FALSE;
    SetChanged(0);
    return TRUE;
}

// After opening, the tables on disk are compared once as the file holds
// them; after a commit, as it wrote them. A commit of unknown fate, a file
// not yet cut short and a new archive's waiting tables all call for one more.
bool CParcel::OnDisk(const CParcelWriter &tables)
{
    const uint32_t at = m_storage->TablesStart();
    const size_t size = tables.Size();
    if (m_fresh || m_longer || !m_storage->Settled() || m_storage->TablesEnd() - at != size)
        return false;
    if (m_committed.empty()) {
        std::string disk(size, '\0');
        DWORD got = 0;
        if (!size || !ParcelSeek(m_archive, at) || !::ReadFile(m_archive, &disk[0], (DWORD)size, &got, nullptr) ||
            got != size)
            return false;
        m_committed.swap(disk);
    }
    return m_committed.size() == size && memcmp(m_committed.data(), tables.Data(), size) == 0;
}

// The storage-table and folder-tree chunks, as they follow the data chunk.
void CParcel::TablesImage(const CParcelStorage *storage, const CParcelWriter &folders, CParcelWriter *both)
{
    CParcelWriter table;
    storage->WriteTable(table);
    both->WriteU16(PARCEL_CHUNK_STORAGE);
    both->WriteU32((uint32_t)(table.Size() + PARCEL_CHUNK_HEADER_SIZE));
    both->WriteBytes(table.Data(), table.Size());
    both->WriteU16(PARCEL_CHUNK_FOLDERS);
    both->WriteU32((uint32_t)(folders.Size() + PARCEL_CHUNK_HEADER_SIZE));
    both->WriteBytes(folders.Data(), folders.Size());
}

// Makes next the state on disk. Readers find the tables only through the
// data chunk's length in the header, so that one write in the first sector
// is the commit: the new tables go where no byte the current tables name
// lives and are forced to disk before it, and the file is cut short only
// after it is forced too. Until it succeeds the storage in memory stays the
// one that describes the disk.
BOOL CParcel::CommitTables(CParcelStorage *next, const CParcelWriter &folders, uint32_t above)
{
    // What can run out of memory comes before the commit, and fails it.
    try {
        return CommitTablesAt(next, folders, above);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL CParcel::CommitTablesAt(CParcelStorage *next, const CParcelWriter &folders, uint32_t above)
{
    CParcelWriter both;
    TablesImage(next, folders, &both);
    uint32_t at;
    const uint32_t dataEnd = next->EndOfUsedData();
    if (both.Size() > 0x7FFFFFFFu)
        return FALSE;
    const uint32_t from = dataEnd > above ? dataEnd : above;
    // A new archive's first tables go right after its contents.
    if (m_fresh && (uint64_t)from + both.Size() < 0xFFFFFFFFu)
        MoveFreshTables(from + (uint32_t)both.Size(), from + (uint32_t)both.Size());
    m_fresh = false;
    if (!PlaceTables(m_storage, next, (uint32_t)both.Size(), above, &at))
        return FALSE;
    const uint32_t end = at + (uint32_t)both.Size();
    // Made before the commit: past it, nothing may fail for want of memory.
    std::string image((const char *)both.Data(), both.Size());
    switch (WriteTablesAndHeader(both.Data(), (uint32_t)both.Size(), at)) {
    case TABLES_NOT_COMMITTED:
        return FALSE;
    case TABLES_MAYBE_COMMITTED:
        // The header may have reached the disk all the same: the new tables
        // stay out of reach as well as the old ones.
        m_storage->KeepTables(at, end);
        return FALSE;
    case TABLES_COMMITTED:
        break;
    }
    m_committed.swap(image);
    // A file longer than its tables reads the same: a failed cut leaves the
    // commit standing, and only the flush that asked for it reports it.
    uint32_t fileSize;
    m_longer = ParcelFileSize(m_archive, &fileSize) && fileSize > end &&
               (!ParcelSeek(m_archive, end) || !ParcelIoSetEnd(m_archive));
    next->Protect(at, end);
    return TRUE;
}

// -------------------------------------------------------------------- handles

CFileOpen *CParcel::OpenHandle(CParcelFile *entry, DWORD kind)
{
    CFileOpen *handle;
    if (!entry->m_handleInUse) {
        handle = &entry->m_handle;
        entry->m_handleInUse = 1;
    } else {
        handle = new (std::nothrow) CFileOpen;
        if (!handle) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    handle->Reset();
    handle->m_kind = kind;
    handle->m_entry = entry;
    if (!m_handles.AddFile(handle)) {
        ReleaseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return handle;
}

void CParcel::ReleaseHandle(CFileOpen *handle)
{
    m_handles.RemoveFile(handle);
    CParcelFile *entry = handle->m_entry;
    if (entry && handle == &entry->m_handle) {
        handle->Reset();
        entry->m_handleInUse = 0;
    } else {
        delete handle;
    }
}

CFileOpen *CParcel::FileHandle(HANDLE file) const
{
    CFileOpen *handle = m_handles.File(file);
    return handle && handle->m_kind == PARCEL_HANDLE_FILE ? handle : nullptr;
}

// Why the storage handed out no region: its record table is full, or the
// region would end past 4 GiB. Neither is a full disk.
static void SetRefusal(const CParcelStorage *storage)
{
    SetLastError(storage->OutOfRecords() ? ERROR_CANNOT_MAKE : ERROR_FILE_TOO_LARGE);
}

BOOL CParcel::EnsureRegion(CParcelFile *entry)
{
    if (!m_storage) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->m_region == PARCEL_NO_REGION) {
        // Past the empty tables of a new archive: they move on ahead, well
        // clear of it (or, when they cannot, the region goes past them). The
        // lead doubles the data, so moves stay few, but no more than a bound,
        // so a large archive is not left with a large gap before its tables
        // (which a file system may have to fill) until its first flush.
        const uint64_t kMaxLead = 16u << 20;
        const uint64_t end = (uint64_t)m_storage->EndOfRegions() + entry->m_sizeLow;
        const uint64_t at = end + (end < kMaxLead ? end : kMaxLead);
        if (m_fresh && at < 0xFFFFFFFFu)
            MoveFreshTables((uint32_t)end, (uint32_t)at);
        if (!m_storage->Ready(1))
            return NoMemory();
        uint32_t index = m_storage->Allocate(entry->m_sizeLow, entry->m_sizeHigh);
        if (index == PARCEL_NO_REGION) {
            SetRefusal(m_storage);
            return FALSE;
        }
        entry->m_region = index;
        // A region may come from a hole: nothing of it is the entry's yet.
        entry->m_filled = 0;
        SetChanged(1);
    }
    const CParcelBox *box = m_storage->GetBox(entry->m_region);
    return box && box->m_state == PARCEL_BOX_USED;
}

// The tables on disk must keep finding the bytes they name until new tables
// replace them, whatever the process does before that. So the first write
// into such contents moves the entry (in memory) to a copy of its region in
// space nothing on disk names; every handle of the entry follows it, and the
// old region is held until the next commit frees it. Only the first keep
// bytes are copied; the rest counts as never written. A cut's copy takes the
// room of those bytes alone, a write's the whole region. Nothing changes when
// the region or the copy cannot be had.
BOOL CParcel::MoveOffCommitted(CParcelFile *entry, uint32_t keep, bool cut)
{
    const CParcelBox *box = m_storage->GetBox(entry->m_region);
    if (!box->m_onDisk)
        return TRUE;
    const uint32_t from = box->m_offsetLow;
    const uint32_t copied = std::min(keep, box->m_sizeLow);
    const uint32_t size = cut ? copied : box->m_sizeLow;
    // The copy is allocated, and the old region released, without a stop.
    if (!m_storage->Ready(2))
        return NoMemory();
    // The old region is held until the next commit, so the copy needs no
    // more of the table than writing in place would.
    const uint32_t fresh = m_storage->Allocate(size, 0, true);
    if (fresh == PARCEL_NO_REGION) {
        SetRefusal(m_storage);
        return FALSE;
    }
    if (!ParcelCopyRange(m_archive, from, m_storage->GetBox(fresh)->m_offsetLow, copied)) {
        m_storage->Release(fresh);
        return FALSE;
    }
    m_storage->Release(entry->m_region);
    entry->m_region = fresh;
    entry->m_filled = std::min(entry->m_filled, copied);
    SetChanged(1);
    return TRUE;
}

CParcelFile *CParcel::FindEntry(LPCSTR path) const
{
    if (!path)
        return nullptr;
    std::string dir, leaf;
    ParcelSplitPath(path, &dir, &leaf);
    CParcelFolder *folder = m_folders.Lookup(dir.c_str());
    return folder ? folder->FindFile(leaf.c_str()) : nullptr;
}

// Frees the entry's region and everything that still points at it, then the
// entry. It allocates nothing, once the storage is ready for the release.
void CParcel::DropEntry(CParcelFile *entry)
{
    if (entry->m_region != PARCEL_NO_REGION && m_storage)
        m_storage->Release(entry->m_region);
    for (CFileOpen *handle = m_handles.FileAfter(nullptr), *next; handle; handle = next) {
        next = m_handles.FileAfter(handle);
        if (handle->m_entry == entry)
            ReleaseHandle(handle);
    }
    for (CParcelFindData *find = m_handles.FindAfter(nullptr); find; find = m_handles.FindAfter(find))
        find->ForgetEntry(entry);
    if (entry->m_folder)
        entry->m_folder->RemoveFile(entry);
    delete entry;
}

// Whether dropping entries holding regions cannot stop half way.
bool CParcel::ReadyToDrop(uint32_t regions)
{
    if (!regions || !m_storage || m_storage->Ready(regions))
        return true;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
}

BOOL CParcel::SetFileSource(HANDLE file, LPCSTR sourcePath)
{
    CParcelLock::Scope lock(m_lock);
    CFileOpen *handle = m_mode ? FileHandle(file) : nullptr;
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return handle->m_entry->SetSource(sourcePath) ? TRUE : FALSE;
}

// ---------------------------------------------------------------- file calls

// The folders along the path, then the entry and its handle: a call that
// fails takes back the folders it made and leaves no entry and no handle.
HANDLE CParcel::CreateEntry(const std::string &dir, const std::string &leaf, DWORD disposition)
{
    size_t made = std::string::npos;
    if (!MakeFolders(dir, &made))
        return INVALID_HANDLE_VALUE;
    HANDLE handle = AddEntry(dir, leaf, disposition);
    if (handle == INVALID_HANDLE_VALUE)
        UnmakeFolders(dir, made);
    return handle;
}

// CREATE_ALWAYS puts the new entry in the old one's place in the folder's
// tree, so that once the handle is had nothing is left to allocate.
HANDLE CParcel::AddEntry(const std::string &dir, const std::string &leaf, DWORD disposition)
{
    CParcelFolder *folder = m_folders.Lookup(dir.c_str());
    if (!folder)
        return INVALID_HANDLE_VALUE;
    CParcelFileTree::Node *node = folder->m_files.Find(leaf.c_str());
    if (node && disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (node && disposition == OPEN_ALWAYS) {
        CFileOpen *handle = OpenHandle(node->value, PARCEL_HANDLE_FILE);
        if (!handle)
            return INVALID_HANDLE_VALUE;
        SetChanged(1);
        return (HANDLE)handle;
    }
    std::unique_ptr<CParcelFile> entry(new (std::nothrow) CParcelFile);
    if (!entry) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (!entry->SetName(leaf.c_str())) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    CFileOpen *handle = OpenHandle(entry.get(), PARCEL_HANDLE_FILE);
    if (!handle)
        return INVALID_HANDLE_VALUE;
    if (node) {
        CParcelFile *old = node->value;
        if (!ReadyToDrop(old->m_region != PARCEL_NO_REGION ? 1 : 0)) {
            ReleaseHandle(handle);
            return INVALID_HANDLE_VALUE;
        }
        node->key = node->value = entry.get();
        entry->m_folder = folder;
        old->m_folder = nullptr;
        DropEntry(old);
    } else if (!folder->AddFile(entry.get())) {
        ReleaseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    entry.release();
    SetChanged(1);
    return (HANDLE)handle;
}

// Access that asks to read and not to write: a handle of that kind neither
// writes nor cuts. Access 0 asks for nothing and limits nothing.
static bool ReadsOnly(DWORD access)
{
    return (access & (GENERIC_READ | FILE_READ_DATA)) &&
           !(access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA));
}

HANDLE CParcel::PackedCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    CParcelLock::Scope lock(m_lock);
    RecordRequested(name);
    HANDLE result = INVALID_HANDLE_VALUE;
    std::string dir, leaf;
    if (name)
        ParcelSplitPath(name, &dir, &leaf);
    if (!name || !m_storage) {
        SetLastError(ERROR_FILE_NOT_FOUND);
    } else if (leaf.empty()) {
        // A nameless entry would make the tables unreadable.
        SetLastError(ERROR_INVALID_NAME);
    } else if (!ParcelNameFits(leaf) || !ParcelNameFits(dir)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else if (disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING && !ParcelPartsNamed(name) &&
               !FindEntry(name)) {
        // Such a name could never be told apart again once stored; one an
        // archive already holds (an older build's) is opened as it stands.
        SetLastError(ERROR_INVALID_NAME);
    } else {
        switch (disposition) {
        case CREATE_ALWAYS:
        case CREATE_NEW:
        case OPEN_ALWAYS:
            result = CreateEntry(dir, leaf, disposition);
            break;
        case OPEN_EXISTING:
            if (CParcelFile *entry = FindEntry(name)) {
                CFileOpen *handle = OpenHandle(entry, PARCEL_HANDLE_FILE);
                if (handle) {
                    SetChanged(1);
                    result = (HANDLE)handle;
                }
            } else {
                SetLastError(ERROR_FILE_NOT_FOUND);
            }
            break;
        case TRUNCATE_EXISTING:
            // CREATE_ALWAYS deletes the entry, only once the new one stands.
            if (FindEntry(name))
                return this->CreateFile(name, access, share, security, CREATE_ALWAYS, attributes,
                                        templateFile);
            SetLastError(ERROR_FILE_NOT_FOUND);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
        }
    }
    if (result == INVALID_HANDLE_VALUE)
        RecordFailed(name);
    else
        static_cast<CFileOpen *>(result)->m_readsOnly = ReadsOnly(access);
    return result;
}

BOOL CParcel::PackedCloseHandle(HANDLE file)
{
    CParcelLock::Scope lock(m_lock);
    if (file == INVALID_HANDLE_VALUE || !file)
        return TRUE;
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ReleaseHandle(handle);
    return TRUE;
}

BOOL CParcel::PackedReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped)
{
    return TransferFile(file, buffer, count, read, overlapped, false);
}

BOOL CParcel::PackedWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                              LPOVERLAPPED overlapped)
{
    return TransferFile(file, const_cast<LPVOID>(buffer), count, written, overlapped, true);
}

// ReadFile and WriteFile: both stay inside the entry's region and position the
// archive file at the handle's place first. Reads also stop at the recorded
// size: a region handed out whole may be larger than the entry, and what lies
// past its size is not the entry's.
BOOL CParcel::TransferFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped,
                           bool write)
{
    CParcelLock::Scope lock(m_lock);
    if (done)
        *done = 0;
    // Every handle shares the archive file's one position: an overlapped
    // transfer would run at a position nobody holds.
    if (overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (write && (m_readOnly || handle->m_readsOnly)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    CParcelFile *entry = handle->m_entry;
    // A read-only archive hands out no space: what it has not stored reads as nothing.
    if (m_readOnly && entry->m_region == PARCEL_NO_REGION)
        return FALSE;
    if (!EnsureRegion(entry))
        return FALSE;
    const CParcelBox *box = m_storage->GetBox(entry->m_region);
    uint32_t limit = box->m_sizeLow;
    if (!write && entry->m_sizeLow < limit)
        limit = entry->m_sizeLow;
    uint32_t avail = handle->m_posLow < limit ? limit - handle->m_posLow : 0;
    DWORD n = count < avail ? count : avail;
    if (done)
        *done = n;
    if (n == 0)
        return FALSE;
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint32_t pos = handle->m_posLow;
    DWORD moved = 0;
    BOOL ok;
    if (write) {
        // What lies between the filled part and a write past it was never
        // written: zeros, not what the region held before (past the recorded
        // size of contents the last flush holds, too).
        if (!MoveOffCommitted(entry, entry->m_sizeLow) ||
            (pos > entry->m_filled &&
             !ParcelZeroRange(m_archive, m_storage->GetBox(entry->m_region)->m_offsetLow + entry->m_filled,
                              pos - entry->m_filled))) {
            if (done)
                *done = 0;
            return FALSE;
        }
        // The copy may have moved the records.
        box = m_storage->GetBox(entry->m_region);
        SetChanged(1);
        ok = ParcelSeek(m_archive, box->m_offsetLow + pos) && ParcelIoWrite(m_archive, buffer, n, &moved);
        if (pos + moved > entry->m_filled)
            entry->m_filled = pos + moved;
    } else {
        ok = ReadRegion(entry, pos, buffer, n, &moved);
    }
    handle->m_posLow += moved;
    if (done)
        *done = moved;
    return ok;
}

// Reads count bytes of the entry's region from pos: the filled part from the
// file, zeros past it.
BOOL CParcel::ReadRegion(const CParcelFile *entry, uint32_t pos, void *buffer, DWORD count, DWORD *got)
{
    const CParcelBox *box = m_storage->GetBox(entry->m_region);
    const DWORD stored = pos >= entry->m_filled ? 0 : entry->m_filled - pos < count ? entry->m_filled - pos : count;
    *got = 0;
    if (stored && (!ParcelSeek(m_archive, box->m_offsetLow + pos) ||
                   !::ReadFile(m_archive, buffer, stored, got, nullptr)))
        return FALSE;
    if (*got < stored)
        return TRUE;
    memset(static_cast<char *>(buffer) + stored, 0, count - stored);
    *got = count;
    return TRUE;
}

// Zeros on disk whatever the regions of the entries hold past what was
// written to them, before tables name it.
BOOL CParcel::ZeroUnfilled()
{
    for (CParcelFolderTree::Node *n = m_folders.First(); n; n = CParcelFolderTree::Next(n)) {
        for (CParcelFileTree::Node *f = n->value->m_files.First(); f; f = CParcelFileTree::Next(f)) {
            CParcelFile *entry = f->value;
            const CParcelBox *box = m_storage->GetBox(entry->m_region);
            if (!box || entry->m_filled >= box->m_sizeLow)
                continue;
            if (!ParcelZeroRange(m_archive, box->m_offsetLow + entry->m_filled, box->m_sizeLow - entry->m_filled))
                return FALSE;
            entry->m_filled = PARCEL_FILLED;
        }
    }
    return TRUE;
}

DWORD CParcel::PackedSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    CParcelLock::Scope lock(m_lock);
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (method != FILE_BEGIN && method != FILE_CURRENT && method != FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    CParcelFile *entry = handle->m_entry;
    if (m_readOnly && entry->m_region == PARCEL_NO_REGION) {
        handle->m_posLow = 0;
        handle->m_posHigh = 0;
        if (distanceHigh)
            *distanceHigh = 0;
        SetLastError(NO_ERROR);
        return 0;
    }
    if (!EnsureRegion(entry))
        return INVALID_SET_FILE_POINTER;
    const CParcelBox *box = m_storage->GetBox(entry->m_region);
    int64_t base = box->m_offsetLow;
    if (method == FILE_CURRENT)
        base += handle->m_posLow;
    else if (method == FILE_END)
        base += entry->m_sizeLow;
    int64_t target = base + distance;
    const int64_t lo = box->m_offsetLow;
    const int64_t hi = lo + box->m_sizeLow;
    if (target < lo)
        target = lo;
    if (target > hi)
        target = hi;
    handle->m_posLow = (DWORD)(target - lo);
    handle->m_posHigh = 0;
    ParcelSeek(m_archive, (uint32_t)target);
    if (distanceHigh)
        *distanceHigh = 0;
    SetLastError(NO_ERROR);
    return handle->m_posLow;
}

BOOL CParcel::PackedDeleteFile(LPCSTR name)
{
    CParcelLock::Scope lock(m_lock);
    CParcelFile *entry = FindEntry(name);
    if (!entry) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!ReadyToDrop(entry->m_region != PARCEL_NO_REGION ? 1 : 0))
        return FALSE;
    DropEntry(entry);
    SetChanged(1);
    return TRUE;
}

BOOL CParcel::PackedCreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES)
{
    CParcelLock::Scope lock(m_lock);
    if (!name || !m_storage) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // An empty name stands for the root.
    if (name[0] && !ParcelPartsNamed(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return MakeFolders(name, nullptr);
}

// Every folder along the path that is missing, from the top down, or none:
// made receives where the first one made ends in the key (npos for none).
// Once the key is had, nothing but the folders is allocated.
BOOL CParcel::MakeFolders(const std::string &name, size_t *made)
{
    if (made)
        *made = std::string::npos;
    // Folders hang below the root, so it has to exist before any of them.
    if (!MakeRootFolder())
        return NoMemory();
    if (name.empty())
        return TRUE;
    const std::string key = ParcelFolderKey(name.c_str());
    if (!ParcelNameFits(key)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    char path[PARCEL_NAME_SIZE];
    size_t first = std::string::npos;
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] != '\\')
            continue;
        memcpy(path, key.data(), i + 1);
        path[i + 1] = 0;
        if (m_folders.Find(path))
            continue;
        CParcelFolder *folder = new (std::nothrow) CParcelFolder;
        if (!folder || !folder->SetName(path) || !m_folders.Insert(folder)) {
            delete folder;
            UnmakeFolders(key, first);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        if (first == std::string::npos)
            first = i;
    }
    if (made)
        *made = first;
    SetChanged(1);
    return TRUE;
}

// Removes the folders MakeFolders made along the key, from the one ending at
// made down, the deepest first; they hold nothing yet. Allocates nothing.
void CParcel::UnmakeFolders(const std::string &key, size_t made)
{
    if (made == std::string::npos || !ParcelNameFits(key))
        return;
    char path[PARCEL_NAME_SIZE];
    for (size_t i = key.size(); i-- > made;) {
        if (key[i] != '\\')
            continue;
        memcpy(path, key.data(), i + 1);
        path[i + 1] = 0;
        CParcelFolderTree::Node *node = m_folders.Find(path);
        if (!node)
            continue;
        CParcelFolder *folder = node->value;
        m_folders.Remove(node);
        delete folder;
    }
}

BOOL CParcel::PackedRemoveDirectory(LPCSTR name)
{
    CParcelLock::Scope lock(m_lock);
    std::string key = ParcelFolderKey(name);
    CParcelFolderTree::Node *node = name ? m_folders.Find(key.c_str()) : nullptr;
    if (!node) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // Descendants first, each after its own children: the reverse of a
    // (node, left, right) walk of the right subtree, then the folder itself.
    std::vector<CParcelFolderTree::Node *> order, stack;
    if (node->right)
        stack.push_back(node->right);
    while (!stack.empty()) {
        CParcelFolderTree::Node *n = stack.back();
        stack.pop_back();
        order.push_back(n);
        if (n->right)
            stack.push_back(n->right);
        if (n->left)
            stack.push_back(n->left);
    }
    std::vector<CParcelFolderTree::Node *> doomed(order.rbegin(), order.rend());
    doomed.push_back(node);

    // All or nothing: what the walk below needs is had before it starts.
    uint32_t regions = 0;
    for (CParcelFolderTree::Node *n : doomed)
        for (CParcelFileTree::Node *f = n->value->m_files.First(); f; f = CParcelFileTree::Next(f))
            regions += f->value->m_region != PARCEL_NO_REGION ? 1 : 0;
    if (!ReadyToDrop(regions))
        return FALSE;
    // A search of a removed folder has nothing left to report.
    for (CParcelFindData *find = m_handles.FindAfter(nullptr); find; find = m_handles.FindAfter(find)) {
        for (CParcelFolderTree::Node *n : doomed) {
            if (find->m_folder == n || find->m_subfolder == n) {
                find->m_phase = PARCEL_FIND_DONE;
                find->m_folder = nullptr;
                find->m_subfolder = nullptr;
                find->m_entries.Clear();
                find->m_entry = nullptr;
                break;
            }
        }
    }
    for (CParcelFolderTree::Node *n : doomed) {
        CParcelFolder *folder = n->value;
        while (CParcelFileTree::Node *f = folder->m_files.First())
            DropEntry(f->value);
        m_folders.Remove(n);
        delete folder;
    }
    SetChanged(1);
    return TRUE;
}

DWORD_PTR CParcel::PackedGetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                                     UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    if (!info || infoSize < sizeof(SHFILEINFOA))
        return 0;
    if (CParcelFolder *folder = PackedFindFolder(name)) {
        memset(info, 0, sizeof(SHFILEINFOA));
        info->hIcon = (HICON)1;
        info->iIcon = (int)m_options[2];
        info->dwAttributes = folder->m_attributes;
        CopyName(info->szDisplayName, sizeof info->szDisplayName, ParcelFolderName(folder->m_name));
        CopyName(info->szTypeName, sizeof info->szTypeName, kFolderTypeName);
        return 1;
    }
    if (CParcelFile *entry = FindEntry(name)) {
        std::string pattern = "*." + ParcelExtension(entry->m_name);
        SHGetFileInfoA(pattern.c_str(), attributes, info, infoSize, flags | SHGFI_USEFILEATTRIBUTES);
        info->dwAttributes = entry->m_attributes;
        CopyName(info->szDisplayName, sizeof info->szDisplayName, entry->m_name);
        return 1;
    }
    memset(info, 0, sizeof(SHFILEINFOA));
    return 0;
}

DWORD CParcel::PackedGetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    CParcelLock::Scope lock(m_lock);
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (sizeHigh)
        *sizeHigh = handle->m_entry->m_sizeHigh;
    SetLastError(NO_ERROR);
    return m_readOnly ? ReadableSize(handle->m_entry) : handle->m_entry->m_sizeLow;
}

// Callers allocate the size they are told. In an archive that cannot change,
// an entry holds no more than its region, and nothing without one: a larger
// recorded size would only make them allocate what no read can fill.
uint32_t CParcel::ReadableSize(const CParcelFile *entry) const
{
    const CParcelBox *box = m_storage ? m_storage->GetBox(entry->m_region) : nullptr;
    if (!box || box->m_state != PARCEL_BOX_USED || !box->m_onDisk)
        return 0;
    return entry->m_sizeLow < box->m_sizeLow ? entry->m_sizeLow : box->m_sizeLow;
}

BOOL CParcel::PackedGetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write)
{
    CParcelLock::Scope lock(m_lock);
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const FILETIME &t = handle->m_entry->m_time;
    if (creation)
        *creation = t;
    if (access)
        *access = t;
    if (write)
        *write = t;
    return TRUE;
}

// Entries stay below 4 GiB: a size with a high half would be written into
// the tables, and an archive holding one does not open again.
void CParcel::PackedSetFileSize(HANDLE file, DWORD sizeLow, DWORD sizeHigh)
{
    CParcelLock::Scope lock(m_lock);
    CFileOpen *handle = FileHandle(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return;
    }
    if (sizeHigh != 0) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return;
    }
    // Neither a session that cannot write nor a handle opened for reading
    // changes an entry, its size included.
    if (m_readOnly || handle->m_readsOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return;
    }
    CParcelFile *entry = handle->m_entry;
    // A cut forgets what lies past the new size: those bytes read as zeros
    // when the entry grows again. A grow keeps what this session wrote past
    // the old size; in contents the last flush holds, what lies past the
    // recorded size is not the entry's (an older build's bytes included) and
    // reads as zeros too. Contents the tables on disk name move to a copy
    // first, since zeroing them in place would change what the last flush
    // holds.
    const uint32_t kept = sizeLow < entry->m_sizeLow ? sizeLow : entry->m_sizeLow;
    const CParcelBox *box = m_storage ? m_storage->GetBox(entry->m_region) : nullptr;
    if (box && (sizeLow < entry->m_sizeLow || box->m_onDisk)) {
        const uint32_t filled = entry->m_filled < box->m_sizeLow ? entry->m_filled : box->m_sizeLow;
        if (kept < filled) {
            if (!MoveOffCommitted(entry, kept, sizeLow < entry->m_sizeLow))
                return;
            entry->m_filled = kept;
        }
    }
    entry->m_sizeLow = sizeLow;
    entry->m_sizeHigh = 0;
    SetLastError(NO_ERROR);
}

BOOL CParcel::PackedGetFileLocation(LPCSTR name, LPDWORD offsetLow, LPDWORD offsetHigh)
{
    CParcelLock::Scope lock(m_lock);
    CParcelFile *entry = FindEntry(name);
    if (!entry) {
        RecordFailed(name);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const CParcelBox *box = m_storage ? m_storage->GetBox(entry->m_region) : nullptr;
    if (!box)
        return FALSE;
    if (offsetLow)
        *offsetLow = box->m_offsetLow;
    if (offsetHigh)
        *offsetHigh = box->m_offsetHigh;
    return TRUE;
}

CParcelFolder *CParcel::PackedFindFolder(LPCSTR path)
{
    CParcelLock::Scope lock(m_lock);
    if (!path)
        return nullptr;
    return m_folders.Lookup(ParcelFolderKey(path).c_str());
}

// ------------------------------------------------------------------- finding

HANDLE CParcel::PackedFindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    CParcelLock::Scope lock(m_lock);
    if (!pattern || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string dir, leaf;
    ParcelSplitPath(pattern, &dir, &leaf);
    CParcelFolderTree::Node *node = m_folders.Find(dir.c_str());
    if (!node || !ParcelNameFits(leaf)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    CParcelFindData *find = new (std::nothrow) CParcelFindData;
    if (!find) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    find->m_folder = node;
    CopyName(find->m_pattern, sizeof find->m_pattern, leaf);
    CParcelFileTree &files = node->value->m_files;
    bool listed = true;
    for (CParcelFileTree::Node *f = files.First(); f && listed; f = CParcelFileTree::Next(f))
        listed = find->m_entries.PushBack(f->value) != nullptr;
    if (!listed || !m_handles.AddFind(find)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        delete find;
        return INVALID_HANDLE_VALUE;
    }
    data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    if (this->FindNextFile((HANDLE)find, data))
        return (HANDLE)find;
    // Only a search that ran out of names found nothing; memory that ran out
    // on the way says so.
    const DWORD error = GetLastError();
    m_handles.RemoveFind(find);
    delete find;
    SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
}

BOOL CParcel::PackedFindNextFile(HANDLE findHandle, LPWIN32_FIND_DATAA data)
{
    CParcelLock::Scope lock(m_lock);
    CParcelFindData *find = m_handles.Find(findHandle);
    if (!find || !data) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (find->m_phase == PARCEL_FIND_FOLDERS) {
        CParcelFolderTree::Node *n = find->m_subfolder ? find->m_subfolder->left : find->m_folder->right;
        std::string folderName;
        for (; n; n = n->left) {
            folderName = ParcelFolderName(n->value->m_name);
            // Folders are matched by their own name, as a pattern names them.
            if (find->Matches(folderName.c_str()))
                break;
        }
        if (n) {
            find->m_subfolder = n;
            CParcelFolder *folder = n->value;
            memset(data, 0, sizeof *data);
            CopyName(data->cFileName, sizeof data->cFileName, folderName);
            data->dwFileAttributes = folder->m_attributes;
            data->ftCreationTime = data->ftLastAccessTime = data->ftLastWriteTime = folder->m_time;
            return TRUE;
        }
        find->m_phase = PARCEL_FIND_ENTRIES;
    }
    if (find->m_phase == PARCEL_FIND_ENTRIES) {
        CParcelEntryList::Node *e = find->m_entry ? find->m_entries.Next(find->m_entry)
                                                  : find->m_entries.First();
        while (e && !find->Matches(e->value->m_name))
            e = find->m_entries.Next(e);
        if (e) {
            find->m_entry = e;
            CParcelFile *entry = e->value;
            CopyName(data->cFileName, sizeof data->cFileName, entry->m_name);
            data->dwFileAttributes = entry->m_attributes;
            data->ftCreationTime = data->ftLastAccessTime = data->ftLastWriteTime = entry->m_time;
            // The size GetFileSize gives, which is what a read returns.
            data->nFileSizeHigh = entry->m_sizeHigh;
            data->nFileSizeLow = m_readOnly ? ReadableSize(entry) : entry->m_sizeLow;
            return TRUE;
        }
        find->m_phase = PARCEL_FIND_DONE;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL CParcel::PackedFindClose(HANDLE findHandle)
{
    CParcelLock::Scope lock(m_lock);
    if (findHandle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!findHandle)
        return TRUE;
    CParcelFindData *find = m_handles.Find(findHandle);
    if (!find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m_handles.RemoveFind(find);
    delete find;
    return TRUE;
}

void CParcel::PackedSetOptions(DWORD option0, DWORD option1, DWORD option2)
{
    CParcelLock::Scope lock(m_lock);
    m_options[0] = option0;
    m_options[1] = option1;
    m_options[2] = option2;
}

// ---------------------------------------------------------- multimedia files

HMMIO CParcel::PackedMmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags)
{
    CParcelLock::Scope lock(m_lock);
    if (flags & (MMIO_WRITE | MMIO_READWRITE))
        return nullptr;
    RecordRequested(name);
    CParcelFile *entry = FindEntry(name);
    if (!entry) {
        RecordFailed(name);
        return nullptr;
    }
    // The multimedia file is served from a copy of the entry's own bytes, so
    // reads and seeks stay inside the entry. It holds what ReadFile gives:
    // zeros where nothing was written.
    DWORD size = 0, got = 0;
    const CParcelBox *box = m_storage ? m_storage->GetBox(entry->m_region) : nullptr;
    if (box && box->m_state == PARCEL_BOX_USED)
        size = box->m_sizeLow < entry->m_sizeLow ? box->m_sizeLow : entry->m_sizeLow;
    char *buffer = new (std::nothrow) char[size ? size : 1];
    if (!buffer)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    if (!buffer || (size && !ReadRegion(entry, 0, buffer, size, &got))) {
        delete[] buffer;
        RecordFailed(name);
        return nullptr;
    }
    MMIOINFO mem;
    memset(&mem, 0, sizeof mem);
    mem.fccIOProc = FOURCC_MEM;
    mem.pchBuffer = buffer;
    mem.cchBuffer = (LONG)got;
    HMMIO mmio = mmioOpenA(nullptr, &mem, MMIO_READ);
    if (!mmio) {
        // Over a buffer that is there, only memory can be wanting.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        if (info)
            info->wErrorRet = mem.wErrorRet;
        delete[] buffer;
        RecordFailed(name);
        return nullptr;
    }
    CFileOpen *handle = OpenHandle(entry, PARCEL_HANDLE_MMIO);
    if (!handle) {
        mmioClose(mmio, 0);
        delete[] buffer;
        RecordFailed(name);
        return nullptr;
    }
    handle->m_mmio = mmio;
    handle->m_buffer = buffer;
    return (HMMIO)handle;
}

// The multimedia-file handle behind one of ours, or null.
static HMMIO RealMmio(const CParcelHandles &handles, HMMIO mmio)
{
    CFileOpen *handle = handles.File(mmio);
    return handle && handle->m_kind == PARCEL_HANDLE_MMIO ? handle->m_mmio : nullptr;
}

MMRESULT CParcel::PackedMmioClose(HMMIO mmio, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    if (!mmio)
        return 0;
    CFileOpen *handle = m_handles.File(mmio);
    if (!handle || handle->m_kind != PARCEL_HANDLE_MMIO)
        return MMSYSERR_INVALHANDLE;
    MMRESULT result = mmioClose(handle->m_mmio, flags);
    handle->m_mmio = nullptr;
    ReleaseHandle(handle);
    return result;
}

LONG CParcel::PackedMmioRead(HMMIO mmio, HPSTR buffer, LONG count)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioRead(m, buffer, count) : -1;
}

LONG CParcel::PackedMmioSeek(HMMIO mmio, LONG offset, int origin)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioSeek(m, offset, origin) : -1;
}

MMRESULT CParcel::PackedMmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioAscend(m, chunk, flags) : MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioDescend(m, chunk, parent, flags) : MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioAdvance(m, info, flags) : MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioSetInfo(m, info, flags) : MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    CParcelLock::Scope lock(m_lock);
    HMMIO m = RealMmio(m_handles, mmio);
    return m ? mmioGetInfo(m, info, flags) : MMSYSERR_INVALHANDLE;
}

// ---------------------------------------------------------------------- flush

BOOL CParcel::PackedFlush(int level)
{
    CParcelLock::Scope lock(m_lock);
    if (m_readOnly || !m_storage || m_archive == INVALID_HANDLE_VALUE)
        return FALSE;
    uint32_t before;
    const bool sized = ParcelFileSize(m_archive, &before);
    BOOL ok = FlushLevel(level);
    // A compaction that failed after a commit of its own put the tables past
    // the old end (staged contents, tables where the old ones still named
    // bytes) runs once more from there, into room the file now has.
    if (!ok && sized && level > 0 && Needed() > before)
        ok = FlushLevel(level);
    if (!ok && sized)
        GiveBackGrowth(before);
    return ok;
}

// How long the file must stay for the tables on disk: their end, and the end
// of every region they may name.
uint32_t CParcel::Needed() const
{
    const uint32_t tables = m_storage->TablesEnd(), regions = m_storage->EndOfRegions();
    return tables > regions ? tables : regions;
}

// A flush that failed may have written past the file's end (staging copies,
// tables never committed, a full disk's partial writes): what no table on
// disk can name goes again, so the file is no longer than it was unless a
// commit that did reach the disk needs the room.
void CParcel::GiveBackGrowth(uint32_t before)
{
    const DWORD error = GetLastError();
    const uint32_t keep = Needed() > before ? Needed() : before;
    uint32_t size;
    // Left longer, the next flush commits again to cut it.
    if (ParcelFileSize(m_archive, &size) && size > keep && (!ParcelSeek(m_archive, keep) || !ParcelIoSetEnd(m_archive)))
        m_longer = true;
    SetLastError(error);
}

BOOL CParcel::FlushLevel(int level)
{
    // A commit whose file could not be cut short holds; the flush still
    // fails, as it did not leave the file as short as it should be.
    if (level <= 0)
        return WriteArchive() && !m_longer;
    // Compaction starts from tables that describe everything there is.
    if (!this->Flush(0) || !m_storage->Check())
        return FALSE;
    if (!CompactArchive(level))
        return FALSE;
    // What a session that ended without a flush left after the tables is
    // room to give back as well (a cut this flush already tried stays failed).
    uint32_t fileSize;
    const uint32_t end = m_storage->TablesEnd();
    if (!m_longer && !m_fresh && m_storage->Settled() && ParcelFileSize(m_archive, &fileSize) && fileSize > end)
        m_longer = !ParcelSeek(m_archive, end) || !ParcelIoSetEnd(m_archive);
    return !m_longer;
}

// The whole compaction is worked out in memory before anything moves, and
// reached in two commits whatever the layout: first every region whose new
// place holds nothing the tables on disk name goes there, and the others to
// staging room past the data and the tables, where the first commit finds
// them; then those go to their places, and the second commit puts the
// tables right after the data (the staging room starts past where they
// end). Contents move only when that leaves the file shorter, by more than
// a region record and its list entry, than bringing the tables down alone
// would; so a compaction right after another moves nothing.
BOOL CParcel::CompactArchive(int level)
{
    CParcelWriter folders;
    if (!WriteFolders(folders))
        return FALSE;
    CParcelStorage *laid = m_storage->Clone();
    if (!laid)
        return NoMemory();
    laid->Commit();
    std::vector<ParcelMove> sequence, first, second;
    CParcelStorage *staged = nullptr;
    const uint64_t now = EndWithTables(m_storage, folders);
    if (!laid->Compact(level, &sequence)) {
        delete laid;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const uint64_t after = EndWithTables(laid, folders);
    if (after + PARCEL_BOX_RECORD_SIZE + 4 > now) {
        delete laid;
        return TablesDown(folders);
    }
    if (after > 0xFFFFFFFFu || !m_storage->PlanSteps(*laid, (uint32_t)after, &first, &second, &staged)) {
        if (after > 0xFFFFFFFFu)
            SetLastError(ERROR_FILE_TOO_LARGE);
        delete laid;
        return FALSE;
    }
    BOOL ok = ParcelApplyMoves(m_archive, first.data(), first.size());
    if (ok && staged) {
        // CommitWork deletes it when it fails.
        ok = CommitWork(staged, folders);
        staged = nullptr;
        ok = ok && ParcelApplyMoves(m_archive, second.data(), second.size());
    }
    delete staged;
    if (!ok || !CommitWork(laid, folders)) {
        if (!ok)
            delete laid;
        return FALSE;
    }
    return TablesDown(folders);
}

// Where the tables on disk lie in the way, a commit of its own first puts
// them past that place.
BOOL CParcel::TablesDown(const CParcelWriter &folders)
{
    const uint32_t dataEnd = m_storage->EndOfUsedData();
    if (m_storage->TablesStart() == dataEnd)
        return TRUE;
    const uint64_t size = EndWithTables(m_storage, folders) - dataEnd;
    uint32_t at;
    if (size >= 0x7FFFFFFFu || !m_storage->SafePlace(dataEnd, (uint32_t)size, &at)) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return FALSE;
    }
    for (int step = at == dataEnd ? 1 : 0; step < 2; ++step) {
        CParcelStorage *work = m_storage->Clone();
        if (!work)
            return NoMemory();
        work->Commit();
        if (!CommitWork(work, folders, step ? 0 : dataEnd + (uint32_t)size))
            return FALSE;
    }
    return TRUE;
}

// Commits a storage worked out from the kept one and keeps it; on failure it
// is deleted and the kept one stays.
BOOL CParcel::CommitWork(CParcelStorage *work, const CParcelWriter &folders, uint32_t above)
{
    if (!CommitTables(work, folders, above)) {
        delete work;
        return FALSE;
    }
    delete m_storage;
    m_storage = work;
    return TRUE;
}
