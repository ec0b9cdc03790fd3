// A folder of a packed archive: its full path and the tree of its entries.
#include "archive/CParcelFolder.h"

#include <cstring>

#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelName.h"

CParcelFolder::CParcelFolder() : m_attributes(FILE_ATTRIBUTE_DIRECTORY)
{
    memset(m_name, 0, sizeof m_name);
    ParcelCurrentTime(&m_time);
}

CParcelFolder::~CParcelFolder()
{
    for (CParcelFileTree::Node *n = m_files.First(); n; n = CParcelFileTree::Next(n))
        delete n->value;
    m_files.Clear();
}

bool CParcelFolder::SetName(const char *path)
{
    return ParcelSetNameField(m_name, path);
}

bool CParcelFolder::ReadRecord(CParcelReader &r)
{
    r.ReadBytes(m_name, PARCEL_NAME_SIZE);
    m_attributes = r.ReadU32();
    m_time.dwLowDateTime = r.ReadU32();
    m_time.dwHighDateTime = r.ReadU32();
    if (!r.Ok() || !ParcelCleanNameField(m_name))
        return false;
    // Every folder but the root ends in a backslash: the tree relies on it.
    // Finding lists folders by the directory bit, so a folder has it.
    size_t n = strlen(m_name);
    return (n == 0 || m_name[n - 1] == '\\') && (m_attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CParcelFolder::WriteRecord(CParcelWriter &w) const
{
    w.WriteBytes(m_name, PARCEL_NAME_SIZE);
    w.WriteU32(m_attributes);
    w.WriteU32(m_time.dwLowDateTime);
    w.WriteU32(m_time.dwHighDateTime);
}

CParcelFile *CParcelFolder::FindFile(const char *name) const
{
    return m_files.Lookup(name);
}

bool CParcelFolder::AddFile(CParcelFile *file)
{
    if (m_files.Find(file->m_name))
        return false;
    if (!m_files.InsertShallow(file))
        return false;
    file->m_folder = this;
    return true;
}

void CParcelFolder::RemoveFile(CParcelFile *file)
{
    for (CParcelFileTree::Node *n = m_files.Find(file->m_name); n;) {
        if (n->value == file) {
            m_files.Remove(n);
            return;
        }
        // Equal keys go right; walk on in case of look-alikes.
        n = CParcelFileTree::Next(n);
        if (n && !ParcelFileCompValue::Same(file, n->value))
            break;
    }
}

// The nodes are relinked, not made anew: without memory the tree stays as it
// was, and no entry drops out of it.
bool CParcelFolder::RebuildBalanced()
{
    return m_files.Balance();
}

bool ParcelFolderCompValue::Before(const CParcelFolder *key, const CParcelFolder *node)
{
    return !ParcelNameIsPrefix(node->m_name, key->m_name);
}

bool ParcelFolderCompValue::Same(const CParcelFolder *key, const CParcelFolder *node)
{
    return ParcelNameCompare(key->m_name, node->m_name) == 0;
}

bool ParcelFolderCompValue::Before(const char *key, const CParcelFolder *node)
{
    return !ParcelNameIsPrefix(node->m_name, key);
}

bool ParcelFolderCompValue::Same(const char *key, const CParcelFolder *node)
{
    return ParcelNameCompare(key, node->m_name) == 0;
}
