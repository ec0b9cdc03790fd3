// Layouts of entry sizes that compaction must handle at the same cost per entry.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

enum {
    LAYOUT_DECREASING,
    // Near-equal sizes, each entry followed by one of a byte, then one large entry.
    LAYOUT_CHAIN,
    LAYOUT_HUGE_AMONG_TINY,
    LAYOUT_INCREASING,
    LAYOUT_RANDOM,
    LAYOUT_KINDS
};

inline std::vector<uint32_t> LayoutSizes(int kind, int n)
{
    std::vector<uint32_t> sizes;
    for (int i = 0; i < n; ++i) {
        switch (kind) {
        case LAYOUT_DECREASING: sizes.push_back((uint32_t)(4 * (n - i) + 1)); break;
        case LAYOUT_CHAIN: sizes.push_back(i % 2 ? 1 : (uint32_t)(n + 300 - i / 2)); break;
        case LAYOUT_HUGE_AMONG_TINY: sizes.push_back(i == n / 3 ? 50000u : (uint32_t)(1 + rand() % 40)); break;
        case LAYOUT_INCREASING: sizes.push_back((uint32_t)(3 * i + 1)); break;
        default: sizes.push_back((uint32_t)(1 + rand() % 600)); break;
        }
    }
    if (kind == LAYOUT_CHAIN)
        sizes.push_back(5000);
    return sizes;
}

// Whether the i-th entry is deleted before the compaction: every other one,
// a chain's first and its bytes, random ones.
inline bool LayoutPunched(int kind, size_t i)
{
    if (kind == LAYOUT_CHAIN)
        return i % 2 == 1 || i == 0;
    return kind == LAYOUT_RANDOM ? rand() % 2 == 0 : i % 2 == 0;
}
