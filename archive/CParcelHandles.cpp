// The handles a packed archive has handed out, so that a stale or foreign
// handle is refused instead of followed.
#include "archive/CParcelHandles.h"

#include <new>

// The element after value in the set, or the first after null.
static const void *After(const std::set<const void *> &set, const void *value)
{
    auto it = value ? set.upper_bound(value) : set.begin();
    return it == set.end() ? nullptr : *it;
}

static bool Add(std::set<const void *> &set, const void *value)
{
    try {
        return set.insert(value).second;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool CParcelHandles::AddFile(CFileOpen *handle)
{
    return Add(m_files, handle);
}

void CParcelHandles::RemoveFile(CFileOpen *handle)
{
    m_files.erase(handle);
}

CFileOpen *CParcelHandles::File(const void *value) const
{
    return m_files.count(value) ? (CFileOpen *)value : nullptr;
}

CFileOpen *CParcelHandles::FileAfter(const CFileOpen *handle) const
{
    return (CFileOpen *)After(m_files, handle);
}

bool CParcelHandles::AddFind(CParcelFindData *find)
{
    return Add(m_finds, find);
}

void CParcelHandles::RemoveFind(CParcelFindData *find)
{
    m_finds.erase(find);
}

CParcelFindData *CParcelHandles::Find(const void *value) const
{
    return m_finds.count(value) ? (CParcelFindData *)value : nullptr;
}

CParcelFindData *CParcelHandles::FindAfter(const CParcelFindData *find) const
{
    return (CParcelFindData *)After(m_finds, find);
}
