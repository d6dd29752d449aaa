#pragma once

#include <cstdint>

// A small linear congruential generator for test and benchmark data: the same seed gives the same
// captures on every machine and standard library, which the distributions of <random> do not.
class SeededRandom
{
public:
    explicit SeededRandom(std::uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int between(int low, int high)
    {
        return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
    }
    double uniform(double low, double high) { return low + (high - low) * static_cast<double>(next()) / 16777216.0; }
    // Roughly normal: the sum of twelve uniforms.
    float gaussian()
    {
        float sum = 0.0f;
        for (int i = 0; i < 12; ++i)
            sum += static_cast<float>(next() % 65536u) / 65536.0f;
        return sum - 6.0f;
    }

private:
    std::uint32_t state_;
};
