#include "bench/terminal/delayhistogram.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kBucketRatio = 1.01;
// 1 us to well over 100 s.
constexpr int kBucketCount = 1900;

int bucketOf(int64_t us)
{
    if (us <= 1)
        return 0;
    const int b = int(std::ceil(std::log(double(us)) / std::log(kBucketRatio)));
    return std::min(b, kBucketCount - 1);
}

int64_t upperEdge(int bucket)
{
    return int64_t(std::floor(std::pow(kBucketRatio, bucket)));
}

size_t rankOf(double fraction, uint64_t count)
{
    const double rank = std::ceil(fraction * double(count));
    return size_t(std::clamp(rank, 1.0, double(count))) - 1;
}

} // namespace

DelayHistogram::DelayHistogram() : buckets(kBucketCount, 0)
{
}

void DelayHistogram::add(int64_t us)
{
    ++buckets[size_t(bucketOf(us))];
    ++total;
    largest = std::max(largest, us);
}

int64_t DelayHistogram::quantileUs(double fraction) const
{
    if (total == 0)
        return 0;
    const uint64_t wanted = rankOf(fraction, total) + 1;
    uint64_t seen = 0;
    for (int b = 0; b < kBucketCount; ++b) {
        seen += buckets[size_t(b)];
        if (seen >= wanted)
            return std::min(upperEdge(b), largest);
    }
    return largest;
}

int64_t quantileUs(std::vector<int64_t> &samples, double fraction)
{
    if (samples.empty())
        return 0;
    const auto nth = samples.begin() + std::ptrdiff_t(rankOf(fraction, samples.size()));
    std::nth_element(samples.begin(), nth, samples.end());
    return *nth;
}
