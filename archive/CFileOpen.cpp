// An open handle on an entry of a packed archive: a file handle or a multimedia-file handle.
#include "archive/CFileOpen.h"

CFileOpen::CFileOpen()
    : m_kind(PARCEL_HANDLE_CLOSED), m_entry(nullptr), m_mmio(nullptr), m_posLow(0), m_posHigh(0),
      m_readsOnly(false), m_buffer(nullptr)
{
}

CFileOpen::~CFileOpen()
{
    Reset();
}

void CFileOpen::Reset()
{
    if (m_mmio)
        mmioClose(m_mmio, 0);
    delete[] m_buffer;
    m_kind = PARCEL_HANDLE_CLOSED;
    m_entry = nullptr;
    m_mmio = nullptr;
    m_posLow = 0;
    m_posHigh = 0;
    m_readsOnly = false;
    m_buffer = nullptr;
}
