#pragma once

// Candidate values of the six FOD parameters for one search. Plain C++.

#include "fod/fodtypes.h"

#include <array>
#include <cstdint>
#include <vector>

// The grids of one search, outermost loop first. The XMC board has no gv: its gv grid is the
// single value 1.0, which leaves the model's roundings unchanged.
struct FodGrids {
    std::vector<float> gv;
    std::vector<float> gi;
    std::vector<float> deltaEsr;
    std::vector<float> fodOffset;
    std::vector<float> factor1;
    std::vector<float> factor2;
};

// Grid indices of one combination, in the loop order gv, gi, delta_esr, fod_offset, factor1, factor2.
using FodGridIndex = std::array<int, 6>;

// Starts at `start` and adds `step` once per element in double precision, storing each element
// as float, so the error of the steps does not pile up in single precision.
std::vector<float> buildFodGrid(float start, float step, int count);

FodGrids automotiveFodGrids();
FodGrids xmcFodGrids();

// Number of combinations and the position of one combination in the visiting order.
std::int64_t fodCombinationCount(const FodGrids &grids);
std::int64_t fodVisitOrder(const FodGrids &grids, const FodGridIndex &index);
FodGridIndex fodIndexAt(const FodGrids &grids, std::int64_t visitOrder);

// The parameter set at `index`; gv is taken from the grid (1.0 for XMC, which stores 0.0 instead).
FodParameterSet fodParametersAt(const FodGrids &grids, const FodGridIndex &index);
