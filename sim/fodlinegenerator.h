#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class SimFodBoard { Automotive, Xmc };

// One FOD parameter set as the board's model uses it; the XMC model has no gv.
struct SimFodParams {
    double gv = 1.0;
    double gi = 1.0;
    double deltaEsr = 0.1;
    double fodOffset = 0.0;
    double factor1 = 1.0;
    double factor2 = 1.0;
};

// What the generated FOD lines follow: one parameter set per gain 2, 3, 4 and optional noise.
struct FodGenConfig {
    SimFodBoard board = SimFodBoard::Xmc;
    std::array<SimFodParams, 3> params{}; // for gain 2, 3 and 4
    double noiseSigma = 0.0;              // standard deviation added to field 6
    uint64_t seed = 1;
};

// The board's FOD model: field 6 of a data line is P - L for the row's fields 2, 3 and 4.
struct SimFodModel {
    static double factor(double x, double factor1, double factor2);
    static double value(const SimFodParams &p, SimFodBoard board, double x, double power, double lossOffset);
};

// Produces the board's FOD data lines: seven numbers, field 0 the current gain, field 2
// swept over 0..3500 so that every part of the factor curve occurs within the first lines.
class FodLineGenerator
{
public:
    explicit FodLineGenerator(const FodGenConfig &config = FodGenConfig());

    // The next line without its line end; gains other than 2, 3, 4 use the gain-2 set.
    std::string next(int gain);
    uint64_t linesMade() const { return index; }

private:
    double gaussian();

    FodGenConfig cfg;
    uint64_t index = 0;
    uint64_t rngState;
};

// A deterministic 64-bit generator (splitmix64) used for noise and image contents.
uint64_t simSplitMix64(uint64_t &state);
