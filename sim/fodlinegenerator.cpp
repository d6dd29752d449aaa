#include "sim/fodlinegenerator.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double kBreakLow = 2000.0;
constexpr double kBreakHigh = 3000.0;
constexpr double kOffsetScale = 1000.0;
constexpr double kLossScale = 0.001;
constexpr uint64_t kSweepMax = 3500;
constexpr double kPi = 3.14159265358979323846;
} // namespace

uint64_t simSplitMix64(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SimFodModel::factor(double x, double factor1, double factor2)
{
    if (x < kBreakLow)
        return (x * factor1 + (kBreakLow - x)) / kBreakLow;
    if (x < kBreakHigh)
        return ((x - kBreakLow) * factor2 + (kBreakHigh - x) * factor1) / (kBreakHigh - kBreakLow);
    return factor2;
}

double SimFodModel::value(const SimFodParams &p, SimFodBoard board, double x, double power, double lossOffset)
{
    const double f = factor(x, p.factor1, p.factor2);
    const double gains = board == SimFodBoard::Automotive ? p.gv * p.gi : p.gi;
    const double P = power * gains * f + kOffsetScale * p.fodOffset;
    const double L = x * x * kLossScale * p.deltaEsr * p.gi * p.gi * f * f + lossOffset;
    return P - L;
}

FodLineGenerator::FodLineGenerator(const FodGenConfig &config) : cfg(config), rngState(config.seed)
{
}

double FodLineGenerator::gaussian()
{
    // Box-Muller on our own generator, so that a seed gives the same lines everywhere.
    const double u1 = (static_cast<double>(simSplitMix64(rngState) >> 11) + 1.0) / 9007199254740993.0;
    const double u2 = static_cast<double>(simSplitMix64(rngState) >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

std::string FodLineGenerator::next(int gain)
{
    const uint64_t i = index++;
    // Steps coprime with the ranges visit every value; the offset of 800 puts the first three
    // lines into the three parts of the factor curve.
    const long x = static_cast<long>((i * 1237 + 800) % (kSweepMax + 1));
    const long power = 800 + static_cast<long>((i * 613) % 1700);
    const long loss = 40 + static_cast<long>((i * 29) % 120);
    const long field1 = 120000 + static_cast<long>((i * 977) % 20000);
    const long field5 = power - loss;
    const int set = (gain >= 2 && gain <= 4) ? gain - 2 : 0;
    double model = SimFodModel::value(cfg.params[set], cfg.board, x, power, loss);
    if (cfg.noiseSigma > 0.0)
        model += cfg.noiseSigma * gaussian();

    char line[160];
    std::snprintf(line, sizeof line, "%d %6ld %6ld %6ld %6ld %6ld %11.4f", gain, field1, x, power, loss, field5, model);
    return line;
}
