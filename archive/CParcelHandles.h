// The handles a packed archive has handed out, so that a stale or foreign
// handle is refused instead of followed.
#pragma once

#include <set>

class CFileOpen;
class CParcelFindData;

// Adding fails (false, nothing kept) when memory runs out; everything else
// allocates nothing, so that a walk that releases handles cannot fail.
class CParcelHandles {
public:
    bool AddFile(CFileOpen *handle);
    void RemoveFile(CFileOpen *handle);
    // The live handle that value points to, or null.
    CFileOpen *File(const void *value) const;
    // The handle after that one in the set's order (the first after null),
    // or null: a walk that may remove the handle it stands on.
    CFileOpen *FileAfter(const CFileOpen *handle) const;

    bool AddFind(CParcelFindData *find);
    void RemoveFind(CParcelFindData *find);
    CParcelFindData *Find(const void *value) const;
    CParcelFindData *FindAfter(const CParcelFindData *find) const;

private:
    std::set<const void *> m_files;
    std::set<const void *> m_finds;
};
