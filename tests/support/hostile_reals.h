// Reals no reader may hand on, patched into streams the library's writers wrote.
#pragma once

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "gfx/core/error.h"
#include "support/stream_bytes.h"

// Offset of the first occurrence of the real's bytes: tests give their
// objects distinctive values to find them in what a writer wrote.
inline size_t FindReal(const Bytes &bytes, float value)
{
    unsigned char pattern[4];
    std::memcpy(pattern, &value, 4);
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], pattern, 4) == 0) {
            return i;
        }
    }
    ADD_FAILURE() << "no real " << value << " in the stream";
    return 0;
}

inline Bytes PatchReal(Bytes bytes, size_t offset, float value)
{
    std::memcpy(&bytes.at(offset + 3) - 3, &value, 4);
    return bytes;
}

// Each real at each offset made infinite or not a number: every read is
// refused with E_RW_NONFINITE and leaves nothing allocated.
template <class Read>
void ExpectNonFiniteRefused(const Bytes &bytes, std::initializer_list<size_t> offsets, Read read)
{
    const float hostile[] = {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    const RwInt32 live = rwTestMemory.live;
    for (size_t at : offsets) {
        for (float value : hostile) {
            Bytes patched = PatchReal(bytes, at, value);
            RwErrorGet();
            EXPECT_EQ(nullptr, ReadWith(patched, read)) << "at " << at << " value " << value;
            EXPECT_EQ(E_RW_NONFINITE, static_cast<RwUInt32>(RwErrorGet().errorCode)) << "at " << at;
            EXPECT_EQ(live, rwTestMemory.live) << "at " << at;
        }
    }
}
