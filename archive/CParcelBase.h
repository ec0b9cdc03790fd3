// The archive file interface and its plain-disk implementation over loose files.
#pragma once

// The operations are named after the Windows calls they mirror; this header
// pulls in the Windows headers first so that every user sees the same
// (A-suffixed) names for CreateFile, DeleteFile and the like.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "archive/CBTree.h"
#include "archive/TextData.h"

typedef CBTree<TextData *, TextDataCompValue> CParcelNameSet;

// Called after every store of the changed flag, with its new value.
typedef void (*ParcelChangeCallback)(DWORD changed, DWORD_PTR context);

class CParcelBase
{
public:
    CParcelBase();
    CParcelBase(const CParcelBase &) = delete;
    CParcelBase &operator=(const CParcelBase &) = delete;

    virtual ~CParcelBase();
    virtual void Reset();
    virtual BOOL Open(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize);
    virtual void Close();
    virtual HANDLE CreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD attributes, HANDLE templateFile);
    virtual BOOL CloseHandle(HANDLE file);
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
    virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                           LPOVERLAPPED overlapped);
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
    virtual BOOL DeleteFile(LPCSTR name);
    virtual BOOL CreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES security);
    virtual BOOL RemoveDirectory(LPCSTR name);
    virtual DWORD_PTR GetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                                  UINT flags);
    virtual DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
    virtual BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
    virtual HANDLE FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data);
    virtual BOOL FindNextFile(HANDLE find, LPWIN32_FIND_DATAA data);
    virtual BOOL FindClose(HANDLE find);
    virtual void SetOptions(DWORD option0, DWORD option1, DWORD option2);
    virtual HMMIO MmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags);
    virtual MMRESULT MmioClose(HMMIO mmio, UINT flags);
    virtual LONG MmioRead(HMMIO mmio, HPSTR buffer, LONG count);
    virtual LONG MmioSeek(HMMIO mmio, LONG offset, int origin);
    virtual MMRESULT MmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags);
    virtual MMRESULT MmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags);
    virtual MMRESULT MmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags);
    virtual MMRESULT MmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags);
    virtual MMRESULT MmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags);
    virtual BOOL Flush(int level);
    virtual void SetFileSize(HANDLE file, DWORD sizeLow, DWORD sizeHigh);
    virtual BOOL GetFileLocation(LPCSTR name, LPDWORD offsetLow, LPDWORD offsetHigh);

    // Tool access; the game leaves both recording and the callback off.
    DWORD GetMode() const { return m_mode; }
    LPCSTR GetRoot() const { return m_root; }
    void SetRecordNames(BOOL record) { m_recordNames = record ? 1 : 0; }
    BOOL GetRecordNames() const { return m_recordNames != 0; }
    void SetChangeCallback(ParcelChangeCallback callback, DWORD_PTR context);
    DWORD GetChanged() const { return m_changed; }
    // The sets themselves are read while no other thread opens files.
    const CParcelNameSet &GetRequestedNames() const { return m_requested; }
    const CParcelNameSet &GetFailedNames() const { return m_failed; }
    BOOL WasRequested(LPCSTR name) const;
    BOOL HasFailed(LPCSTR name) const;

protected:
    // Stores the flag and tells the change callback.
    void SetChanged(DWORD changed);
    // Enter the name in a set (once, case-insensitively) while recording is on.
    void RecordRequested(LPCSTR name);
    void RecordFailed(LPCSTR name);
    // root + name into a MAX_PATH buffer; FALSE with ERROR_FILENAME_EXCED_RANGE
    // when it does not fit, ERROR_INVALID_PARAMETER for a null name and,
    // with a root, for a name that climbs out of it or names a device.
    BOOL FormPath(LPCSTR name, char *path) const;

    DWORD m_mode;
    char m_root[MAX_PATH];
    DWORD m_recordNames;
    CParcelNameSet m_requested;
    CParcelNameSet m_failed;
    DWORD m_changed;
    ParcelChangeCallback m_changeCallback;
    DWORD_PTR m_changeContext;

private:
    void AddName(CParcelNameSet &set, LPCSTR name);
    BOOL HasName(const CParcelNameSet &set, LPCSTR name) const;
    void EmptyNameSets();

    // Plain-disk reads may come from two threads at once; with recording on,
    // the name sets are the only state they share.
    mutable CRITICAL_SECTION m_namesLock;
};
