// An open handle on an entry of a packed archive: a file handle or a multimedia-file handle.
#pragma once

#include <windows.h>
#include <mmsystem.h>

class CParcelFile;

enum {
    PARCEL_HANDLE_CLOSED = 0,
    PARCEL_HANDLE_FILE = 1,
    PARCEL_HANDLE_MMIO = 2,
};

class CFileOpen {
public:
    CFileOpen();
    virtual ~CFileOpen();
    CFileOpen(const CFileOpen &) = delete;
    CFileOpen &operator=(const CFileOpen &) = delete;

    // Back to a closed handle; closes a multimedia file still open.
    void Reset();

    DWORD m_kind;
    CParcelFile *m_entry;
    HMMIO m_mmio;
    // Byte position within the entry's region; the high half stays 0.
    DWORD m_posLow;
    DWORD m_posHigh;
    // Opened for reading and not for writing: it neither writes nor cuts.
    bool m_readsOnly;
    // The entry's bytes behind a multimedia-file handle (a memory file).
    char *m_buffer;
};
