// Bounds-checked little-endian reader over a byte buffer of the archive tables.
#include "archive/CParcelReader.h"

#include <cstring>

CParcelReader::CParcelReader(const uint8_t *data, size_t size)
    : m_data(data), m_size(data ? size : 0), m_pos(0), m_ok(true)
{
}

bool CParcelReader::Take(size_t n)
{
    if (!m_ok || n > m_size - m_pos) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t CParcelReader::ReadU8()
{
    if (!Take(1))
        return 0;
    return m_data[m_pos++];
}

uint16_t CParcelReader::ReadU16()
{
    if (!Take(2))
        return 0;
    const uint8_t *p = m_data + m_pos;
    m_pos += 2;
    return (uint16_t)(p[0] | (p[1] << 8));
}

uint32_t CParcelReader::ReadU32()
{
    if (!Take(4))
        return 0;
    const uint8_t *p = m_data + m_pos;
    m_pos += 4;
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

bool CParcelReader::ReadBytes(void *out, size_t n)
{
    if (!Take(n)) {
        memset(out, 0, n);
        return false;
    }
    memcpy(out, m_data + m_pos, n);
    m_pos += n;
    return true;
}

bool CParcelReader::Skip(size_t n)
{
    if (!Take(n))
        return false;
    m_pos += n;
    return true;
}
