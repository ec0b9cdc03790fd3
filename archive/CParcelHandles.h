// The handles a packed archive has handed out, so that a stale or foreign
// handle is refused instead of followed.
#pragma once

#include <set>
#include <vector>

class CFileOpen;
class CParcelFindData;

class CParcelHandles {
public:
    bool AddFile(CFileOpen *handle);
    void RemoveFile(CFileOpen *handle);
    // The live handle that value points to, or null.
    CFileOpen *File(const void *value) const;
    std::vector<CFileOpen *> Files() const;

    bool AddFind(CParcelFindData *find);
    void RemoveFind(CParcelFindData *find);
    CParcelFindData *Find(const void *value) const;
    std::vector<CParcelFindData *> Finds() const;

private:
    std::set<const void *> m_files;
    std::set<const void *> m_finds;
};
