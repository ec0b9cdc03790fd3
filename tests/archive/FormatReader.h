// An archive file read back from the format tables alone, field by field,
// with none of the archive's own code: what any reader of the file finds.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

struct ReadRecord {
    uint8_t state;
    uint32_t offset, offsetHigh, size, sizeHigh, reserved;
};

struct ReadEntry {
    uint32_t size, region;
};

struct ReadArchive {
    // Empty when the file reads; otherwise what is wrong with it.
    std::string fault;
    uint32_t dataEnd = 0, tablesEnd = 0;
    uint32_t capacity = 0, count = 0;
    std::vector<ReadRecord> records;
    std::vector<uint32_t> lists[3];
    // Entries by full path; folders by path.
    std::map<std::string, ReadEntry> entries;
    std::vector<std::string> folders;
    // The end of the last used region, or 14.
    uint32_t usedEnd = 14;
};

class FormatCursor {
public:
    FormatCursor(const std::string &bytes, size_t at) : m_b(bytes), m_at(at) {}
    bool Ok() const { return m_ok; }
    size_t At() const { return m_at; }
    uint32_t U(int n)
    {
        uint32_t v = 0;
        if (m_at + n > m_b.size()) {
            m_ok = false;
            return 0;
        }
        for (int i = 0; i < n; ++i)
            v |= (uint32_t)(uint8_t)m_b[m_at + i] << (8 * i);
        m_at += n;
        return v;
    }
    std::string Name()
    {
        if (m_at + 256 > m_b.size()) {
            m_ok = false;
            return std::string();
        }
        std::string s(m_b.c_str() + m_at, strnlen(m_b.c_str() + m_at, 256));
        m_at += 256;
        return s;
    }

private:
    const std::string &m_b;
    size_t m_at;
    bool m_ok = true;
};

inline ReadArchive ReadFormat(const std::string &bytes)
{
    ReadArchive a;
    FormatCursor c(bytes, 0);
    if (c.U(4) != 1 || c.U(2) != 0x1101)
        return a.fault = "header", a;
    a.dataEnd = 4 + c.U(4);
    if (c.U(4) != 1 || a.dataEnd < 14 || a.dataEnd > bytes.size())
        return a.fault = "data chunk", a;
    FormatCursor t(bytes, a.dataEnd);
    if (t.U(2) != 0x1102)
        return a.fault = "storage id", a;
    const size_t storageEnd = a.dataEnd + t.U(4);
    if (t.U(4) != 2)
        return a.fault = "storage version", a;
    a.capacity = t.U(4);
    a.count = t.U(4);
    if (!t.Ok() || a.count > a.capacity || (uint64_t)a.count * 21 > bytes.size())
        return a.fault = "count above capacity", a;
    for (uint32_t i = 0; i < a.count; ++i) {
        ReadRecord r;
        r.state = (uint8_t)t.U(1);
        r.offset = t.U(4);
        r.offsetHigh = t.U(4);
        r.size = t.U(4);
        r.sizeHigh = t.U(4);
        r.reserved = t.U(4);
        a.records.push_back(r);
    }
    uint32_t lengths[3];
    for (uint32_t &n : lengths)
        n = t.U(4);
    if (!t.Ok() || (uint64_t)lengths[0] + lengths[2] != a.count || lengths[1] > lengths[0])
        return a.fault = "list lengths", a;
    for (int l = 0; l < 3; ++l)
        for (uint32_t i = 0; i < lengths[l]; ++i)
            a.lists[l].push_back(t.U(4));
    if (!t.Ok() || t.At() != storageEnd)
        return a.fault = "storage chunk length", a;
    // Regions ascend without overlap from 14; free ones are listed, spare ones describe nothing.
    std::vector<int> seen(a.count, 0);
    uint64_t cursor = 14;
    for (uint32_t i : a.lists[0]) {
        if (i >= a.count || seen[i]++ || (a.records[i].state != 2 && a.records[i].state != 4) ||
            a.records[i].offset < cursor)
            return a.fault = "region list", a;
        cursor = (uint64_t)a.records[i].offset + a.records[i].size;
        if (a.records[i].state == 4)
            a.usedEnd = (uint32_t)cursor;
    }
    for (uint32_t i : a.lists[1])
        if (i >= a.count || a.records[i].state != 2)
            return a.fault = "free list", a;
    for (uint32_t i : a.lists[2])
        if (i >= a.count || seen[i]++ || a.records[i].state != 1)
            return a.fault = "spare list", a;
    if (a.usedEnd > a.dataEnd)
        return a.fault = "contents past the data chunk", a;
    FormatCursor f(bytes, storageEnd);
    if (f.U(2) != 0x1103)
        return a.fault = "folder id", a;
    a.tablesEnd = (uint32_t)(storageEnd + f.U(4));
    const uint32_t version = f.U(4), folders = f.U(4);
    if (!f.Ok() || version != 1 || folders == 0)
        return a.fault = "folder chunk", a;
    for (uint32_t i = 0; i < folders && f.Ok(); ++i) {
        const std::string folder = f.Name();
        f.U(4), f.U(4), f.U(4);
        a.folders.push_back(folder);
        const uint32_t files = f.U(4);
        for (uint32_t k = 0; k < files && f.Ok(); ++k) {
            const std::string name = f.Name();
            f.U(4), f.U(4), f.U(4);
            ReadEntry e;
            e.size = f.U(4);
            f.U(4);
            e.region = f.U(4);
            // A recorded size past the region is the archive's to clamp: a
            // read gives what the region holds.
            if (e.region != 0xFFFFFFFFu && (e.region >= a.count || a.records[e.region].state != 4))
                return a.fault = "entry region " + folder + name, a;
            a.entries[folder + name] = e;
        }
    }
    // What follows the tables (left by a session that ended without a
    // flush) is named by nothing.
    if (!f.Ok() || f.At() != a.tablesEnd || a.tablesEnd > bytes.size())
        return a.fault = "folder chunk length or file end", a;
    return a;
}
