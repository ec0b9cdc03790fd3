// Growable little-endian byte buffer in which the archive tables are assembled.
#include "archive/CParcelWriter.h"

void CParcelWriter::WriteU16(uint16_t v)
{
    m_bytes.push_back((uint8_t)v);
    m_bytes.push_back((uint8_t)(v >> 8));
}

void CParcelWriter::WriteU32(uint32_t v)
{
    m_bytes.push_back((uint8_t)v);
    m_bytes.push_back((uint8_t)(v >> 8));
    m_bytes.push_back((uint8_t)(v >> 16));
    m_bytes.push_back((uint8_t)(v >> 24));
}

void CParcelWriter::WriteBytes(const void *data, size_t n)
{
    const uint8_t *p = (const uint8_t *)data;
    m_bytes.insert(m_bytes.end(), p, p + n);
}

void CParcelWriter::PatchU32(size_t at, uint32_t v)
{
    if (at + 4 > m_bytes.size())
        return;
    m_bytes[at] = (uint8_t)v;
    m_bytes[at + 1] = (uint8_t)(v >> 8);
    m_bytes[at + 2] = (uint8_t)(v >> 16);
    m_bytes[at + 3] = (uint8_t)(v >> 24);
}
