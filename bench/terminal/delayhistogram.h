#pragma once

#include <cstdint>
#include <vector>

// Delays of a whole run in buckets 1 % wide, so that a long run keeps a fixed memory footprint
// (the benchmark measures its own process's memory).
class DelayHistogram
{
public:
    DelayHistogram();

    void add(int64_t us);
    uint64_t count() const { return total; }
    // The upper edge of the bucket that holds the given fraction of the samples (0 with none).
    int64_t quantileUs(double fraction) const;
    int64_t maxUs() const { return largest; }

private:
    std::vector<uint32_t> buckets;
    uint64_t total = 0;
    int64_t largest = 0;
};

// Quantile of a window's samples by rank (nearest rank); reorders them. 0 for none.
int64_t quantileUs(std::vector<int64_t> &samples, double fraction);
