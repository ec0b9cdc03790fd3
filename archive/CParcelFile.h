// A file entry of a packed archive: its name, time, recorded size and region.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/CFileOpen.h"
#include "archive/ParcelPath.h"

class CParcelFolder;
class CParcelReader;
class CParcelWriter;

// On disk: char name[256]; u32 attributes; FILETIME (low, high); u32 size
// low, size high; u32 region record index.
enum { PARCEL_FILE_RECORD_SIZE = 280 };
// A region filled to its end.
const uint32_t PARCEL_FILLED = 0xFFFFFFFFu;
static_assert(PARCEL_NAME_SIZE + 4 + 8 + 8 + 4 == PARCEL_FILE_RECORD_SIZE, "file record is 280 bytes");

class CParcelFile {
public:
    CParcelFile();
    virtual ~CParcelFile();
    CParcelFile(const CParcelFile &) = delete;
    CParcelFile &operator=(const CParcelFile &) = delete;

    // False for a name that does not fit the record's field.
    bool SetName(const char *name);
    // False when the name field has no terminator or the record is cut short.
    bool ReadRecord(CParcelReader &reader);
    void WriteRecord(CParcelWriter &writer) const;
    // A disk file whose contents the next flush copies in; null clears it.
    bool SetSource(const char *path);

    char m_name[PARCEL_NAME_SIZE];
    DWORD m_attributes;
    FILETIME m_time;
    DWORD m_sizeLow;
    DWORD m_sizeHigh;
    CParcelFolder *m_folder;
    uint32_t m_region;
    // How much of the region, from its start, holds what was written to it
    // or zeros (memory only): past that it holds whatever was there before,
    // which reads as zeros and is zeroed on disk before the tables name it.
    // PARCEL_FILLED for contents the tables on disk name.
    uint32_t m_filled;
    CFileOpen m_handle;
    DWORD m_handleInUse;
    char *m_source;
};

// Entries of a folder ordered by name, letters folded.
struct ParcelFileCompValue {
    static bool Before(const CParcelFile *key, const CParcelFile *node);
    static bool Same(const CParcelFile *key, const CParcelFile *node);
    static bool Before(const char *key, const CParcelFile *node);
    static bool Same(const char *key, const CParcelFile *node);
};
