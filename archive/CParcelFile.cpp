// A file entry of a packed archive: its name, time, recorded size and region.
#include "archive/CParcelFile.h"

#include <cstring>
#include <new>

#include "archive/CParcelBox.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelName.h"

CParcelFile::CParcelFile()
    : m_attributes(0), m_sizeLow(0), m_sizeHigh(0), m_folder(nullptr), m_region(PARCEL_NO_REGION),
      m_filled(PARCEL_FILLED), m_handleInUse(0), m_source(nullptr)
{
    memset(m_name, 0, sizeof m_name);
    ParcelCurrentTime(&m_time);
}

CParcelFile::~CParcelFile()
{
    delete[] m_source;
}

bool CParcelFile::SetName(const char *name)
{
    return ParcelSetNameField(m_name, name);
}

bool CParcelFile::ReadRecord(CParcelReader &r)
{
    r.ReadBytes(m_name, PARCEL_NAME_SIZE);
    m_attributes = r.ReadU32();
    m_time.dwLowDateTime = r.ReadU32();
    m_time.dwHighDateTime = r.ReadU32();
    m_sizeLow = r.ReadU32();
    m_sizeHigh = r.ReadU32();
    m_region = r.ReadU32();
    // An entry with the directory bit would be listed as a folder it is not.
    return r.Ok() && ParcelCleanNameField(m_name) && !(m_attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CParcelFile::WriteRecord(CParcelWriter &w) const
{
    w.WriteBytes(m_name, PARCEL_NAME_SIZE);
    w.WriteU32(m_attributes);
    w.WriteU32(m_time.dwLowDateTime);
    w.WriteU32(m_time.dwHighDateTime);
    w.WriteU32(m_sizeLow);
    w.WriteU32(m_sizeHigh);
    w.WriteU32(m_region);
}

bool CParcelFile::SetSource(const char *path)
{
    char *copy = nullptr;
    if (path) {
        copy = new (std::nothrow) char[strlen(path) + 1];
        if (!copy)
            return false;
        strcpy(copy, path);
    }
    delete[] m_source;
    m_source = copy;
    return true;
}

bool ParcelFileCompValue::Before(const CParcelFile *key, const CParcelFile *node)
{
    return ParcelNameCompare(key->m_name, node->m_name) < 0;
}

bool ParcelFileCompValue::Same(const CParcelFile *key, const CParcelFile *node)
{
    return ParcelNameCompare(key->m_name, node->m_name) == 0;
}

bool ParcelFileCompValue::Before(const char *key, const CParcelFile *node)
{
    return ParcelNameCompare(key, node->m_name) < 0;
}

bool ParcelFileCompValue::Same(const char *key, const CParcelFile *node)
{
    return ParcelNameCompare(key, node->m_name) == 0;
}
