#include "fod/fodgrids.h"

namespace {

// The element of each fod_offset grid that the running sum only brings close to zero.
constexpr int kZeroOffsetIndex = 3;

} // namespace

std::vector<float> buildFodGrid(float start, float step, int count)
{
    std::vector<float> grid(static_cast<std::size_t>(count));
    double value = start;
    for (int i = 0; i < count; ++i) {
        grid[static_cast<std::size_t>(i)] = static_cast<float>(value);
        value += step;
    }
    return grid;
}

FodGrids automotiveFodGrids()
{
    FodGrids grids;
    grids.gv = buildFodGrid(0.95f, 0.005f, 21);
    grids.gi = buildFodGrid(0.90f, 0.005f, 21);
    grids.deltaEsr = buildFodGrid(0.20f, 0.01f, 16);
    grids.fodOffset = buildFodGrid(-0.15f, 0.05f, 7);
    grids.fodOffset[kZeroOffsetIndex] = 0.0f;
    grids.factor1 = buildFodGrid(0.99f, 0.01f, 12);
    grids.factor2 = buildFodGrid(0.99f, 0.01f, 12);
    return grids;
}

FodGrids xmcFodGrids()
{
    FodGrids grids;
    grids.gv = {1.0f};
    grids.gi = buildFodGrid(0.80f, 0.005f, 81);
    grids.deltaEsr = buildFodGrid(0.00f, 0.01f, 21);
    grids.fodOffset = buildFodGrid(-0.15f, 0.05f, 18);
    grids.fodOffset[kZeroOffsetIndex] = 0.0f;
    grids.factor1 = buildFodGrid(0.95f, 0.005f, 21);
    grids.factor2 = buildFodGrid(0.95f, 0.005f, 31);
    return grids;
}

std::int64_t fodCombinationCount(const FodGrids &grids)
{
    return static_cast<std::int64_t>(grids.gv.size()) * static_cast<std::int64_t>(grids.gi.size()) *
           static_cast<std::int64_t>(grids.deltaEsr.size()) * static_cast<std::int64_t>(grids.fodOffset.size()) *
           static_cast<std::int64_t>(grids.factor1.size()) * static_cast<std::int64_t>(grids.factor2.size());
}

std::int64_t fodVisitOrder(const FodGrids &grids, const FodGridIndex &index)
{
    const std::array<std::int64_t, 6> sizes = {
        static_cast<std::int64_t>(grids.gv.size()),       static_cast<std::int64_t>(grids.gi.size()),
        static_cast<std::int64_t>(grids.deltaEsr.size()), static_cast<std::int64_t>(grids.fodOffset.size()),
        static_cast<std::int64_t>(grids.factor1.size()),  static_cast<std::int64_t>(grids.factor2.size())};
    std::int64_t order = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k)
        order = order * sizes[k] + index[k];
    return order;
}

FodGridIndex fodIndexAt(const FodGrids &grids, std::int64_t visitOrder)
{
    const std::array<std::int64_t, 6> sizes = {
        static_cast<std::int64_t>(grids.gv.size()),       static_cast<std::int64_t>(grids.gi.size()),
        static_cast<std::int64_t>(grids.deltaEsr.size()), static_cast<std::int64_t>(grids.fodOffset.size()),
        static_cast<std::int64_t>(grids.factor1.size()),  static_cast<std::int64_t>(grids.factor2.size())};
    FodGridIndex index{};
    for (int k = 5; k >= 0; --k) {
        index[static_cast<std::size_t>(k)] = static_cast<int>(visitOrder % sizes[static_cast<std::size_t>(k)]);
        visitOrder /= sizes[static_cast<std::size_t>(k)];
    }
    return index;
}

FodParameterSet fodParametersAt(const FodGrids &grids, const FodGridIndex &index)
{
    FodParameterSet set;
    set.gv = grids.gv[static_cast<std::size_t>(index[0])];
    set.gi = grids.gi[static_cast<std::size_t>(index[1])];
    set.delta_esr = grids.deltaEsr[static_cast<std::size_t>(index[2])];
    set.fod_offset = grids.fodOffset[static_cast<std::size_t>(index[3])];
    set.factor1 = grids.factor1[static_cast<std::size_t>(index[4])];
    set.factor2 = grids.factor2[static_cast<std::size_t>(index[5])];
    return set;
}
