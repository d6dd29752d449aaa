#pragma once

// Captures made from known parameters, for the FOD fit tests.

#include "fod/fodgrids.h"
#include "fod/fodmodel.h"
#include "fod/fodtypes.h"
#include "tests/common/seededrandom.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace fodtest {

using Lcg = SeededRandom;

// One row whose field 6 is what the model gives for `p`, so that p fits it to within one rounding.
inline FodRow modelRow(const FodParameterSet &p, float gain, float x, float field3, float field4)
{
    using namespace fodmodel;
    const float f = factor(x, p.factor1, p.factor2);
    const float power_ = power(field3, p.gv, p.gi, f, p.fod_offset);
    const float loss_ = loss(x, p.delta_esr, p.gi, f, field4);
    const float reference = static_cast<float>(static_cast<double>(power_) - loss_);
    return {gain, 127700.0f, x, field3, field4, 1823.0f, reference};
}

// Rows spread over all three pieces of the factor curve, with realistic power and loss fields.
inline std::vector<FodRow> noiseFreeRows(const FodParameterSet &p, int count, std::uint32_t seed, float gain = 1.0f)
{
    Lcg random(seed);
    std::vector<FodRow> rows;
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i % 3 == 0   ? random.between(200, 1999)
                                           : i % 3 == 1 ? random.between(2000, 2999)
                                                        : random.between(3000, 3800));
        rows.push_back(modelRow(p, gain, x, static_cast<float>(random.between(800, 3000)),
                                static_cast<float>(random.between(40, 150))));
    }
    return rows;
}

inline FodDataTable tableOf(const std::vector<FodRow> &rows)
{
    FodDataTable table;
    table.rows = rows;
    return table;
}

} // namespace fodtest

namespace fodtest {

inline std::vector<float> window(const std::vector<float> &grid, Lcg &random, int size)
{
    const int start = random.between(0, static_cast<int>(grid.size()) - size);
    return std::vector<float>(grid.begin() + start, grid.begin() + start + size);
}

// A few neighbouring values of each real grid: the same spacing and magnitudes, far fewer combinations.
inline FodGrids windowGrids(const FodGrids &grids, Lcg &random)
{
    FodGrids small;
    small.gv = grids.gv.size() > 1 ? window(grids.gv, random, 3) : grids.gv;
    small.gi = window(grids.gi, random, 3);
    small.deltaEsr = window(grids.deltaEsr, random, 3);
    small.fodOffset = window(grids.fodOffset, random, 4);
    small.factor1 = window(grids.factor1, random, 3);
    small.factor2 = window(grids.factor2, random, 3);
    return small;
}

inline FodParameterSet randomParameters(const FodGrids &grids, Lcg &random)
{
    auto pick = [&random](const std::vector<float> &grid) {
        return grid[static_cast<std::size_t>(random.between(0, static_cast<int>(grid.size()) - 1))];
    };
    FodParameterSet p;
    p.gv = pick(grids.gv);
    p.gi = pick(grids.gi);
    p.delta_esr = pick(grids.deltaEsr);
    p.fod_offset = pick(grids.fodOffset);
    p.factor1 = pick(grids.factor1);
    p.factor2 = pick(grids.factor2);
    return p;
}

// A small capture near the model for random grid parameters: some noise-free, some noisy, x often on the
// break points, now and then a value the fast search must not trust or a row repeated.
inline std::vector<FodRow> randomCapture(const FodGrids &grids, Lcg &random, int count)
{
    const FodParameterSet p = randomParameters(grids, random);
    const float noise[] = {0.0f, 0.25f, 3.0f, 60.0f};
    const float level = noise[random.between(0, 3)];
    const float breaks[] = {0.0f, 1999.0f, 2000.0f, 2999.0f, 3000.0f};
    std::vector<FodRow> rows;
    for (int i = 0; i < count; ++i) {
        const float x =
            random.between(0, 3) == 0 ? breaks[random.between(0, 4)] : static_cast<float>(random.between(0, 4000));
        FodRow row = modelRow(p, 1.0f, x, static_cast<float>(random.between(0, 3500)),
                              static_cast<float>(random.between(0, 200)));
        row[fodmodel::kFieldReference] += level * static_cast<float>(random.between(-1000, 1000)) / 1000.0f;
        rows.push_back(row);
        if (random.between(0, 9) == 0)
            rows.push_back(row);
    }
    switch (random.between(0, 19)) {
    case 0:
        rows[0][fodmodel::kFieldPower] = 3e31f;
        break;
    case 1:
        rows[0][fodmodel::kFieldX] = -5e18f;
        break;
    case 2:
        rows[0][fodmodel::kFieldReference] = 1e-40f;
        break;
    default:
        break;
    }
    return rows;
}

// The kinds of capture that defeat a bound built from all rows alike.
enum class Adversity {
    GlitchFirst,     // a saturated reading (the loss field at 2^32) before the others
    GlitchInside,    // the same among them
    GlitchLast,      // the same after them
    Outliers,        // up to 8 rows with one field between 3e5 and 2^32
    Huge,            // a row with a field at ±1e12
    TinyAndHuge,     // fields from 1e-30 to 1e6 in one capture
    FlatTied,        // no power, small x and a large loss field: most costs round to the same value
    GainProductTies, // x zero and a saturated loss: gain pairs with the same product tie exactly
};

// A small capture near the model with `adversity` worked in; `grids` may keep their full fod_offset grid.
inline std::vector<FodRow> adversarialCapture(FodGrids &grids, const FodGrids &full, Lcg &random, Adversity adversity)
{
    using namespace fodmodel;
    if (random.between(0, 1))
        grids.fodOffset = full.fodOffset;
    // More ordinary rows than outliers, so that the outliers stand out from the others.
    const int count = adversity == Adversity::Outliers ? random.between(9, 17) : random.between(3, 9);
    std::vector<FodRow> rows = noiseFreeRows(randomParameters(grids, random), count, random.next());
    for (FodRow &row : rows)
        row[kFieldReference] += static_cast<float>(random.between(-30, 30)) / 10.0f;
    const FodRow glitch = {1.0f, 0.0f, 1000.0f, 1000.0f, 4294967295.0f, 0.0f, 0.0f};
    const int modelFields[] = {kFieldX, kFieldPower, kFieldLoss, kFieldReference};
    const auto anywhere = [&] { return rows.begin() + random.between(0, static_cast<int>(rows.size())); };
    switch (adversity) {
    case Adversity::GlitchFirst:
        rows.insert(rows.begin(), glitch);
        break;
    case Adversity::GlitchInside:
        rows.insert(rows.begin() + random.between(1, static_cast<int>(rows.size()) - 1), glitch);
        break;
    case Adversity::GlitchLast:
        rows.push_back(glitch);
        break;
    case Adversity::Outliers:
        for (int k = random.between(1, 8); k > 0; --k) {
            FodRow row = rows[static_cast<std::size_t>(random.between(0, static_cast<int>(rows.size()) - 1))];
            const float magnitude = static_cast<float>(std::pow(10.0, 5.5 + 4.13 * random.between(0, 1000) / 1000.0));
            row[static_cast<std::size_t>(modelFields[random.between(0, 3)])] =
                random.between(0, 1) ? magnitude : -magnitude;
            rows.insert(anywhere(), row);
        }
        break;
    case Adversity::Huge:
        rows.insert(anywhere(), rows.front());
        rows.front()[static_cast<std::size_t>(modelFields[random.between(0, 3)])] =
            random.between(0, 1) ? 1e12f : -1e12f;
        break;
    case Adversity::TinyAndHuge:
        for (FodRow &row : rows) {
            const double exponent = random.between(0, 3) ? -30.0 + 27.0 * random.between(0, 1000) / 1000.0
                                                         : 3.0 + 3.0 * random.between(0, 1000) / 1000.0;
            row[static_cast<std::size_t>(modelFields[random.between(1, 3)])] *=
                static_cast<float>(std::pow(10.0, exponent));
        }
        break;
    case Adversity::FlatTied:
        for (FodRow &row : rows) {
            row[kFieldX] = static_cast<float>(random.between(1, 300));
            row[kFieldPower] = 0.0f;
            row[kFieldLoss] = static_cast<float>(536870912 + 64 * random.between(0, 100));
            row[kFieldReference] = 0.0f;
        }
        break;
    case Adversity::GainProductTies:
        for (FodRow &row : rows)
            row[kFieldX] = 0.0f;
        rows.insert(anywhere(), {1.0f, 0.0f, 0.0f, 0.0f, 4294967295.0f, 0.0f, 0.0f});
        break;
    }
    return rows;
}

// Noise-free rows for a fod_offset halfway between two grid values, with every other grid narrowed to the
// data's own value: the two offset neighbours then cost the same in exact
// arithmetic and beat everything else, so only rounding tells them apart.
inline std::vector<FodRow> midOffsetCapture(FodGrids &grids, Lcg &random, int count)
{
    FodParameterSet p = randomParameters(grids, random);
    grids.gv = {p.gv};
    grids.gi = {p.gi};
    grids.deltaEsr = {p.delta_esr};
    grids.factor1 = {p.factor1};
    grids.factor2 = {p.factor2};
    const int o = random.between(0, static_cast<int>(grids.fodOffset.size()) - 2);
    p.fod_offset =
        (grids.fodOffset[static_cast<std::size_t>(o)] + grids.fodOffset[static_cast<std::size_t>(o + 1)]) / 2;
    return noiseFreeRows(p, count, random.next());
}

} // namespace fodtest
