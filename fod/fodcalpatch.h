#pragma once

// Where the fitted FOD parameters go in the board's calibration area, as bytes. Plain C++.

#include "fod/fodtypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Four little-endian bytes (one IEEE-754 single-precision value) at a byte offset of the area.
struct FodCalPatch {
    int offset = 0;
    float value = 0.0f;
    std::array<std::uint8_t, 4> bytes{};
};

// The calibration area must hold at least this many bytes for the patches to fit.
constexpr int FOD_CAL_PATCH_END = 732;

// The patches for `board`, in ascending offset order, the zero fields included. Empty for a board
// type other than Automotive and XMC.
std::vector<FodCalPatch> fodCalibrationPatches(int board, const FodGainResult &result);

// Writes the patches into `area`. False, with nothing written, when one would not fit.
bool applyFodCalibrationPatches(const std::vector<FodCalPatch> &patches, std::uint8_t *area, std::size_t size);
