#pragma once

// How well the chosen FOD parameters fit the rows they were fitted to: per set the rows with the
// model's value for each, the residuals, the rows far from the model and the summary figures.
// Plain C++.

#include "fod/fodtypes.h"

#include <limits>
#include <string>
#include <vector>

// A row is far from the model when its residual is larger in magnitude than this many times the
// median absolute residual of its set.
constexpr double FOD_OUTLIER_FACTOR = 4.0;

// One row a set was fitted to. `tableRow` counts from 0 in the parsed table; `residual` is
// reference − model (the search's r with its sign turned, so the figures match its cost).
struct FodFitPoint {
    int tableRow = 0;
    float x = 0.0f;         // field 2
    float reference = 0.0f; // field 6
    float model = 0.0f;
    float residual = 0.0f;
    bool outlier = false;
};

// One parameter set and its rows. Without a fit (another gain had no rows, or no combination
// fit) the points carry only x and reference, and every figure stays 0.
struct FodSetReport {
    int gain = 0; // 2, 3 or 4 on the XMC board; 0 for the Automotive board's single set
    bool fitted = false;
    FodParameterSet parameters; // as stored for the calibration write (XMC: gv 0)
    std::vector<FodFitPoint> points;
    double bestCost = 0.0; // the search's sum of squared residuals
    // The lowest cost of any other combination; infinite when no other one fits. A gap to it that
    // is small against the best cost means the data hardly prefer the chosen parameters.
    double secondCost = std::numeric_limits<double>::infinity();
    double rmsResidual = 0.0;
    float largestResidual = 0.0f; // signed: the residual of largest magnitude
    double medianAbsResidual = 0.0;
    // FOD_OUTLIER_FACTOR × the median. 0 when the median is 0 (more than half the rows fit
    // exactly): a limit of 0 would mark every row off by a rounding, so no row is marked then.
    double outlierLimit = 0.0;
    int outlierCount = 0;

    int rowsUsed() const { return static_cast<int>(points.size()); }
    double costGap() const { return secondCost - bestCost; }
};

// Everything one calculation fitted, in set order. No sets when no fit was attempted.
struct FodFitReport {
    int board = -1;
    std::vector<FodSetReport> sets;
};

// The rows of a set that was not fitted: x and reference only.
FodSetReport fodUnfittedSet(int gain, const std::vector<FodRow> &rows, const std::vector<int> &tableRows);

// The rows at the chosen parameters, evaluated with the search's own model. `modelParameters` is
// what the search used (XMC: gv 1.0), `stored` what the result holds.
FodSetReport fodFittedSet(int gain, const std::vector<FodRow> &rows, const std::vector<int> &tableRows,
                          const FodParameterSet &modelParameters, const FodParameterSet &stored, double bestCost,
                          double secondCost = std::numeric_limits<double>::infinity());

// One line per fitted set for the FOD pane, each ending in "\r\n"; empty without a fitted set.
std::string fodQualityText(const FodFitReport &report);
