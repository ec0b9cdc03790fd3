// The archive object: loose files through CParcelBase, or one packed archive file.
#pragma once

#include "archive/CParcelBase.h"
#include "archive/CParcelHandles.h"
#include "archive/CParcelLock.h"

#include <string>

// Packed-mode classes; their definitions live with the packed operations.
class CParcelStorage;
class CParcelFolder;
class CParcelFindData;
class CFileOpen;
class CParcelFile;
class CParcelReader;
class CParcelWriter;
struct ParcelFolderCompValue;

typedef CBTree<CParcelFolder *, ParcelFolderCompValue> CParcelFolderTree;

// Open's flags in packed mode: 1 never read-only, 2 read-only only, 4 a new
// archive when there is none, 8 the archive held alone: the open fails while
// another holds it, and nobody else opens it until Close.
enum {
    PARCEL_OPEN_NO_READONLY = 1,
    PARCEL_OPEN_READONLY_ONLY = 2,
    PARCEL_OPEN_CREATE = 4,
    PARCEL_OPEN_ALONE = 8,
};

// Every operation tests the mode flag: 0 runs the CParcelBase operation
// unchanged, anything else the Packed<Operation> counterpart, which works on
// the archive named by the root path.
class CParcel : public CParcelBase
{
public:
    CParcel();
    // Closes whatever is still open.
    ~CParcel() override;

    void Reset() override;
    BOOL Open(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize) override;
    void Close() override;
    HANDLE CreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                      DWORD disposition, DWORD attributes, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE file) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) override;
    BOOL DeleteFile(LPCSTR name) override;
    BOOL CreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES security) override;
    BOOL RemoveDirectory(LPCSTR name) override;
    DWORD_PTR GetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                          UINT flags) override;
    DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) override;
    BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write) override;
    HANDLE FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data) override;
    BOOL FindNextFile(HANDLE find, LPWIN32_FIND_DATAA data) override;
    BOOL FindClose(HANDLE find) override;
    void SetOptions(DWORD option0, DWORD option1, DWORD option2) override;
    HMMIO MmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags) override;
    MMRESULT MmioClose(HMMIO mmio, UINT flags) override;
    LONG MmioRead(HMMIO mmio, HPSTR buffer, LONG count) override;
    LONG MmioSeek(HMMIO mmio, LONG offset, int origin) override;
    MMRESULT MmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags) override;
    MMRESULT MmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags) override;
    MMRESULT MmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags) override;
    MMRESULT MmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags) override;
    MMRESULT MmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags) override;
    BOOL Flush(int level) override;
    void SetFileSize(HANDLE file, DWORD sizeLow, DWORD sizeHigh) override;
    BOOL GetFileLocation(LPCSTR name, LPDWORD offsetLow, LPDWORD offsetHigh) override;
    virtual CParcelFolder *FindFolder(LPCSTR path);

    BOOL IsReadOnly() const { return m_readOnly != 0; }
    // Tool access (packed mode): names a disk file whose contents the next
    // Flush copies into the handle's entry, when the entry has no region yet.
    BOOL SetFileSource(HANDLE file, LPCSTR sourcePath);
    // How an import that cannot read a source says so (text is the
    // message, source the disk file). By default a message box that waits
    // for OK, as the game wants; a tool with nobody to click replaces it.
    // Null puts the box back.
    typedef void (*ImportReport)(void *context, const char *text, const char *source);
    void SetImportReport(ImportReport report, void *context)
    {
        m_importReport = report;
        m_importContext = context;
    }

private:
    // Packed mode (CParcelPacked.cpp).
    BOOL PackedOpen(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize);
    // Releases the folder tree, the storage and the archive file; safe when
    // nothing or only part of an archive is open.
    void PackedClose();
    HANDLE PackedCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD attributes, HANDLE templateFile);
    BOOL PackedCloseHandle(HANDLE file);
    BOOL PackedReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
    BOOL PackedWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped);
    DWORD PackedSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
    BOOL PackedDeleteFile(LPCSTR name);
    BOOL PackedCreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES security);
    BOOL PackedRemoveDirectory(LPCSTR name);
    DWORD_PTR PackedGetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                                UINT flags);
    DWORD PackedGetFileSize(HANDLE file, LPDWORD sizeHigh);
    BOOL PackedGetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
    HANDLE PackedFindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data);
    BOOL PackedFindNextFile(HANDLE find, LPWIN32_FIND_DATAA data);
    BOOL PackedFindClose(HANDLE find);
    void PackedSetOptions(DWORD option0, DWORD option1, DWORD option2);
    HMMIO PackedMmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags);
    MMRESULT PackedMmioClose(HMMIO mmio, UINT flags);
    LONG PackedMmioRead(HMMIO mmio, HPSTR buffer, LONG count);
    LONG PackedMmioSeek(HMMIO mmio, LONG offset, int origin);
    MMRESULT PackedMmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags);
    MMRESULT PackedMmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags);
    MMRESULT PackedMmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags);
    MMRESULT PackedMmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags);
    MMRESULT PackedMmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags);
    BOOL PackedFlush(int level);
    void PackedSetFileSize(HANDLE file, DWORD sizeLow, DWORD sizeHigh);
    BOOL PackedGetFileLocation(LPCSTR name, LPDWORD offsetLow, LPDWORD offsetHigh);
    CParcelFolder *PackedFindFolder(LPCSTR path);

    // Helpers of the packed operations.
    int OpenArchiveFile(LPCSTR path, DWORD access, DWORD share);
    uint32_t ReadableSize(const CParcelFile *entry) const;
    BOOL TransferFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped,
                      bool write);
    BOOL ReadRegion(const CParcelFile *entry, uint32_t pos, void *buffer, DWORD count, DWORD *got);
    BOOL ZeroUnfilled();
    BOOL ReadArchive();
    BOOL ReadFolders(CParcelReader &reader, CParcelStorage *storage);
    BOOL WriteArchive();
    BOOL CommitNewArchive();
    BOOL MoveFreshTables(uint32_t end, uint32_t at);
    // Writes tables at at and forces them, then the header that points at
    // them, forced: nothing committed, committed, or a header that may or may
    // not have reached the disk.
    enum TablesCommit { TABLES_NOT_COMMITTED, TABLES_COMMITTED, TABLES_MAYBE_COMMITTED };
    TablesCommit WriteTablesAndHeader(const void *tables, uint32_t size, uint32_t at);
    static void TablesImage(const CParcelStorage *storage, const CParcelWriter &folders, CParcelWriter *both);
    // The tables start at above or later.
    BOOL CommitTables(CParcelStorage *next, const CParcelWriter &folders, uint32_t above = 0);
    BOOL CommitTablesAt(CParcelStorage *next, const CParcelWriter &folders, uint32_t above);
    BOOL CommitWork(CParcelStorage *work, const CParcelWriter &folders, uint32_t above = 0);
    // Whether the tables on disk are surely these, ending the file: then a
    // flush has nothing to commit.
    bool OnDisk(const CParcelWriter &tables);
    BOOL FlushLevel(int level);
    void GiveBackGrowth(uint32_t before);
    uint32_t Needed() const;
    BOOL CompactArchive(int level);
    // Commits the tables right after the data, when they are not there.
    BOOL TablesDown(const CParcelWriter &folders);
    BOOL WriteFolders(CParcelWriter &writer);
    // FALSE when the archive file refused a copy.
    BOOL ImportSources();
    void ReportImport(const char *text, const char *source) const;
    void DestroyFolders();
    CParcelFolder *MakeRootFolder();
    CParcelFile *FindEntry(LPCSTR path) const;
    CFileOpen *OpenHandle(CParcelFile *entry, DWORD kind);
    void ReleaseHandle(CFileOpen *handle);
    CFileOpen *FileHandle(HANDLE file) const;
    BOOL EnsureRegion(CParcelFile *entry);
    // Before a write or a cut: an entry whose region the tables on disk name
    // goes to a copy of it (of its first keep bytes; a cut's copy is no larger).
    BOOL MoveOffCommitted(CParcelFile *entry, uint32_t keep, bool cut = false);
    void DropEntry(CParcelFile *entry);
    bool ReadyToDrop(uint32_t regions);
    HANDLE CreateEntry(const std::string &dir, const std::string &leaf, DWORD disposition);
    HANDLE AddEntry(const std::string &dir, const std::string &leaf, DWORD disposition);
    BOOL MakeFolders(const std::string &name, size_t *made);
    void UnmakeFolders(const std::string &key, size_t made);

    HANDLE m_archive;
    DWORD m_readOnly;
    // The last commit could not cut the file short: it reads the same, but
    // the flush did not give the room back.
    bool m_longer;
    // Until its first flush a new archive's tables on disk are the empty ones
    // it was created with. They name nothing, so they can move on ahead of
    // the contents written before that flush and of its tables, and no room
    // is left behind them.
    bool m_fresh;
    std::string m_freshTables;
    // The tables the last commit wrote (empty until one did, after opening).
    std::string m_committed;
    CParcelFolderTree m_folders;
    DWORD m_options[3];
    CParcelStorage *m_storage;
    // The engine's loading thread and main thread read through one object.
    CParcelLock m_lock;
    CParcelHandles m_handles;
    ImportReport m_importReport;
    void *m_importContext;
};

// The process-wide object for code outside the program. CreateParcel makes a
// new object on every call and puts it in the slot; the one there before is
// left to whoever holds it (ReleaseParcel no longer reaches it). Null, and
// the slot as it was, without memory. ReleaseParcel destroys the object in
// the slot; on an empty slot it does nothing.
extern "C" {
__declspec(dllexport) CParcel *__cdecl CreateParcel(void);
__declspec(dllexport) void __cdecl ReleaseParcel(void);
}
