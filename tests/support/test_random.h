// A small seeded number generator, so that random-use tests repeat exactly.
#pragma once

#include <cstdint>

class TestRandom {
public:
    explicit TestRandom(uint32_t seed) : state_(seed) {}

    // A number below n (n > 0).
    uint32_t Below(uint32_t n)
    {
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 16) % n;
    }

private:
    uint32_t state_;
};
