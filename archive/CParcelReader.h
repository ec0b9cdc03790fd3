// Bounds-checked little-endian reader over a byte buffer of the archive tables.
#pragma once

#include <cstddef>
#include <cstdint>

// Every read past the end sets the failed state and yields zeros, so a parser
// can read a whole record and test Ok() once.
class CParcelReader {
public:
    CParcelReader(const uint8_t *data, size_t size);

    uint8_t ReadU8();
    uint16_t ReadU16();
    uint32_t ReadU32();
    // Copies n bytes; on failure the destination is zero-filled.
    bool ReadBytes(void *out, size_t n);
    bool Skip(size_t n);

    bool Ok() const { return m_ok; }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_size - m_pos; }

private:
    bool Take(size_t n);

    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos;
    bool m_ok;
};
