// Growable little-endian byte buffer in which the archive tables are assembled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CParcelWriter {
public:
    void WriteU8(uint8_t v) { m_bytes.push_back(v); }
    void WriteU16(uint16_t v);
    void WriteU32(uint32_t v);
    void WriteBytes(const void *data, size_t n);
    // Overwrites four bytes already written (chunk lengths known only at the end).
    void PatchU32(size_t at, uint32_t v);

    size_t Size() const { return m_bytes.size(); }
    const uint8_t *Data() const { return m_bytes.data(); }
    const std::vector<uint8_t> &Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};
