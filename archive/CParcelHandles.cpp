// The handles a packed archive has handed out, so that a stale or foreign
// handle is refused instead of followed.
#include "archive/CParcelHandles.h"

bool CParcelHandles::AddFile(CFileOpen *handle)
{
    return m_files.insert(handle).second;
}

void CParcelHandles::RemoveFile(CFileOpen *handle)
{
    m_files.erase(handle);
}

CFileOpen *CParcelHandles::File(const void *value) const
{
    return m_files.count(value) ? (CFileOpen *)value : nullptr;
}

std::vector<CFileOpen *> CParcelHandles::Files() const
{
    std::vector<CFileOpen *> v;
    for (const void *p : m_files)
        v.push_back((CFileOpen *)p);
    return v;
}

bool CParcelHandles::AddFind(CParcelFindData *find)
{
    return m_finds.insert(find).second;
}

void CParcelHandles::RemoveFind(CParcelFindData *find)
{
    m_finds.erase(find);
}

CParcelFindData *CParcelHandles::Find(const void *value) const
{
    return m_finds.count(value) ? (CParcelFindData *)value : nullptr;
}

std::vector<CParcelFindData *> CParcelHandles::Finds() const
{
    std::vector<CParcelFindData *> v;
    for (const void *p : m_finds)
        v.push_back((CParcelFindData *)p);
    return v;
}
