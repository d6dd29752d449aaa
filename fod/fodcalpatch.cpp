#include "fod/fodcalpatch.h"

#include <cstring>

namespace {

// Scale constants of the gains as the firmware expects them, in single precision.
constexpr float kAutomotiveGiScale = 25.056f;
constexpr float kAutomotiveGvScale = 54.677f;
constexpr std::array<float, 3> kXmcGiScales = {8.46f, 15.5695f, 25.3799f};

constexpr int kAutomotiveGiOffset = 184;
constexpr int kAutomotiveGvOffset = 296;
constexpr std::array<int, 3> kXmcGiOffsets = {200, 216, 232};
constexpr int kAutomotiveBlockOffset = 600;
constexpr std::array<int, 3> kXmcBlockOffsets = {636, 672, 708};

// Layout of one 36-byte FOD block; +8 and +24 to +35 keep what the board holds.
constexpr int kBlockFodOffset = 0;
constexpr int kBlockDeltaEsr = 4;
constexpr int kBlockFactor1 = 12;
constexpr int kBlockFactor2 = 16;
constexpr int kBlockZero = 20;

FodCalPatch patch(int offset, float value)
{
    FodCalPatch p;
    p.offset = offset;
    p.value = value;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (std::size_t i = 0; i < p.bytes.size(); ++i)
        p.bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return p;
}

void appendBlock(std::vector<FodCalPatch> &patches, int base, const FodParameterSet &set)
{
    patches.push_back(patch(base + kBlockFodOffset, set.fod_offset));
    patches.push_back(patch(base + kBlockDeltaEsr, set.delta_esr));
    patches.push_back(patch(base + kBlockFactor1, set.factor1));
    patches.push_back(patch(base + kBlockFactor2, set.factor2));
    patches.push_back(patch(base + kBlockZero, 0.0f));
}

} // namespace

std::vector<FodCalPatch> fodCalibrationPatches(int board, const FodGainResult &result)
{
    std::vector<FodCalPatch> patches;
    if (board == FOD_BOARD_AUTOMOTIVE) {
        const FodParameterSet &set = result.sets[0];
        patches.push_back(patch(kAutomotiveGiOffset, set.gi * kAutomotiveGiScale));
        patches.push_back(patch(kAutomotiveGvOffset, set.gv * kAutomotiveGvScale));
        appendBlock(patches, kAutomotiveBlockOffset, set);
    } else if (board == FOD_BOARD_XMC) {
        for (std::size_t k = 0; k < kXmcGiOffsets.size(); ++k)
            patches.push_back(patch(kXmcGiOffsets[k], result.sets[k].gi * kXmcGiScales[k]));
        for (std::size_t k = 0; k < kXmcBlockOffsets.size(); ++k)
            appendBlock(patches, kXmcBlockOffsets[k], result.sets[k]);
    }
    return patches;
}

bool applyFodCalibrationPatches(const std::vector<FodCalPatch> &patches, std::uint8_t *area, std::size_t size)
{
    for (const FodCalPatch &p : patches) {
        if (p.offset < 0 || static_cast<std::size_t>(p.offset) + p.bytes.size() > size)
            return false;
    }
    for (const FodCalPatch &p : patches)
        std::memcpy(area + p.offset, p.bytes.data(), p.bytes.size());
    return true;
}
