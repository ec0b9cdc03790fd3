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

// A float position or size; not a number reads as 0.
inline int GuiNearestInt(double value)
{
    return value == value ? static_cast<int>(std::clamp<double>(value, INT_MIN, INT_MAX)) : 0;
}

// The distance from a to b, however far apart.
inline int GuiSpan(int a, int b)
{
    return GuiNearestInt(static_cast<long long>(b) - a);
}
