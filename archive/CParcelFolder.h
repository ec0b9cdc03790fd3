// A folder of a packed archive: its full path and the tree of its entries.
#pragma once

#include <windows.h>

#include "archive/CBTree.h"
#include "archive/CParcelFile.h"
#include "archive/ParcelPath.h"

class CParcelReader;
class CParcelWriter;

// On disk: char name[256] (full path ending in a backslash, empty for the
// root); u32 attributes; FILETIME (low, high).
enum { PARCEL_FOLDER_RECORD_SIZE = 268 };
static_assert(PARCEL_NAME_SIZE + 4 + 8 == PARCEL_FOLDER_RECORD_SIZE, "folder record is 268 bytes");

typedef CBTree<CParcelFile *, ParcelFileCompValue> CParcelFileTree;

class CParcelFolder {
public:
    CParcelFolder();
    // Destroys the folder's entries.
    virtual ~CParcelFolder();
    CParcelFolder(const CParcelFolder &) = delete;
    CParcelFolder &operator=(const CParcelFolder &) = delete;

    bool SetName(const char *path);
    bool ReadRecord(CParcelReader &reader);
    void WriteRecord(CParcelWriter &writer) const;

    CParcelFile *FindFile(const char *name) const;
    // Fails when the folder already holds the name.
    bool AddFile(CParcelFile *file);
    // Takes the entry out of the tree without deleting it.
    void RemoveFile(CParcelFile *file);
    // Reinserts the entries middle-first, so the tree is balanced and a
    // reader inserting them in the written (pre-)order gets the same tree.
    bool RebuildBalanced();

    char m_name[PARCEL_NAME_SIZE];
    DWORD m_attributes;
    FILETIME m_time;
    CParcelFileTree m_files;
};

// The folder tree's rule: a key goes right at a node whose path is a prefix
// of it (its ancestors), left elsewhere, so a node's right subtree holds its
// descendants and its subfolders are the right child and that child's chain
// of left children.
struct ParcelFolderCompValue {
    static bool Before(const CParcelFolder *key, const CParcelFolder *node);
    static bool Same(const CParcelFolder *key, const CParcelFolder *node);
    static bool Before(const char *key, const CParcelFolder *node);
    static bool Same(const char *key, const CParcelFolder *node);
};
