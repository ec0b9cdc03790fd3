// A find handle of a packed archive: one folder's subfolders, then its entries.
#pragma once

#include <windows.h>

#include "archive/CParcelFolder.h"
#include "archive/CParcelList.h"

class CParcel;
typedef CBTree<CParcelFolder *, ParcelFolderCompValue> CParcelFolderTree;
typedef CParcelList<CParcelFile *> CParcelEntryList;

enum {
    PARCEL_FIND_FOLDERS = 0,
    PARCEL_FIND_ENTRIES = 1,
    PARCEL_FIND_DONE = 2,
};

class CParcelFindData {
public:
    CParcelFindData();
    virtual ~CParcelFindData() {}
    CParcelFindData(const CParcelFindData &) = delete;
    CParcelFindData &operator=(const CParcelFindData &) = delete;

    // "*" and "*.*" match everything; anything else one name, letters folded.
    bool Matches(const char *name) const;
    // Drops an entry that is being deleted, keeping the walk's place.
    void ForgetEntry(CParcelFile *file);

    CParcelFolderTree::Node *m_folder;
    char m_pattern[PARCEL_NAME_SIZE];
    CParcelEntryList m_entries;
    CParcelFolderTree::Node *m_subfolder;
    CParcelEntryList::Node *m_entry;
    // Which half of the walk comes next; kept here, not in the caller's data.
    DWORD m_phase;
};
