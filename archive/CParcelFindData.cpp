// A find handle of a packed archive: one folder's subfolders, then its entries.
#include "archive/CParcelFindData.h"

#include <cstring>

#include "archive/ParcelName.h"

CParcelFindData::CParcelFindData()
    : m_folder(nullptr), m_subfolder(nullptr), m_entry(nullptr), m_phase(PARCEL_FIND_FOLDERS)
{
    memset(m_pattern, 0, sizeof m_pattern);
}

bool CParcelFindData::Matches(const char *name) const
{
    if (!strcmp(m_pattern, "*") || !strcmp(m_pattern, "*.*"))
        return true;
    return ParcelNameCompare(m_pattern, name) == 0;
}

void CParcelFindData::ForgetEntry(CParcelFile *file)
{
    for (CParcelEntryList::Node *n = m_entries.First(); n; n = m_entries.Next(n)) {
        if (n->value != file)
            continue;
        if (m_entry == n)
            m_entry = m_entries.Prev(n);
        // With the current place gone and nothing before it, start over at
        // the first entry, which is the one after the removed entry.
        m_entries.Remove(n);
        return;
    }
}
