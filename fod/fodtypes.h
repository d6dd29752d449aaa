#pragma once

// Plain data of the FOD calibration, shared by the capture parse, the fit and the calibration
// write. No Qt here: the fit core, its command-line tool and the benchmarks use it as well.

#include <array>
#include <vector>

enum FOD_BOARD_TYPE_T {
    FOD_BOARD_AUTOMOTIVE = 0,
    FOD_BOARD_XMC = 1,
};

constexpr int FOD_MAX_ROWS = 4096;
constexpr int FOD_FIELDS = 7;

// One FOD data line of the board: fields 0 to 6 in the order they were printed.
using FodRow = std::array<float, FOD_FIELDS>;

// Rows parsed from a capture; never more than FOD_MAX_ROWS.
struct FodDataTable {
    std::vector<FodRow> rows;
    int count() const { return static_cast<int>(rows.size()); }
};

// Memory order matters: the calibration write reads the set by position.
struct FodParameterSet {
    float gv = 0.0f;
    float gi = 0.0f;
    float delta_esr = 0.0f;
    float fod_offset = 0.0f;
    float factor1 = 0.0f;
    float factor2 = 0.0f;
};

// Automotive fills set 0; XMC fills sets 0, 1, 2 for gains 2, 3, 4.
struct FodGainResult {
    std::array<FodParameterSet, 3> sets{};
};
