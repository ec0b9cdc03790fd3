// Screen sums that an int must hold: taken in 64 bits and kept at the nearest int instead of wrapping.
#pragma once

#include <algorithm>
#include <climits>

inline int GuiNearestInt(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

inline int GuiSum(int a, long long b)
{
    return GuiNearestInt(a + b);
}
