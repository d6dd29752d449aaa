#pragma once

// The exhaustive search of the FOD grids: the straightforward reference and the fast search that
// returns the same combination. Plain C++.

#include "fod/fodgrids.h"
#include "fod/fodmessages.h"
#include "fod/fodtypes.h"

#include <cstdint>
#include <limits>
#include <vector>

// The combination a search settled on. `found` is false when no combination costs less than the
// initial best cost 1e20 (every cost that large, infinite or not a number). `secondCost` is the lowest
// cost below 1e20 among all the other combinations: equal to `cost` when another one ties with it,
// +infinity when there is none (and when nothing was found).
struct FodSearchResult {
    bool found = false;
    FodGridIndex index{};
    double cost = 0.0;
    double secondCost = std::numeric_limits<double>::infinity();
};

// What the fast search did, for the benchmarks and the tests.
struct FodSearchStats {
    std::int64_t combinations = 0;
    std::int64_t candidates = 0;       // combinations its bounds could not rule out
    std::int64_t exactEvaluations = 0; // combinations evaluated over every row
    int untrustedPairs = 0;            // (factor1, factor2) pairs evaluated exactly throughout
    int exactRows = 0;                 // rows whose terms are computed per combination instead of bounded
};

enum class FodSearchMethod {
    Fast,
    Reference,
};

struct FodSearchOptions {
    FodSearchMethod method = FodSearchMethod::Fast;
    unsigned threads = 0; // 0: every core
};

unsigned defaultFodSearchThreads();

// The exact cost of one combination, computed as the reference computes it.
double fodCombinationCost(const std::vector<FodRow> &rows, const FodGrids &grids, const FodGridIndex &index);

// Visits every combination in loop order and keeps the first one whose cost is strictly lower
// than the best so far.
FodSearchResult fodSearchReference(const std::vector<FodRow> &rows, const FodGrids &grids);

// Same answer as the reference (index, cost and second cost) for any input and any thread count (0: every core).
FodSearchResult fodSearchFast(const std::vector<FodRow> &rows, const FodGrids &grids, unsigned threads = 0,
                              FodSearchStats *stats = nullptr);

FodSearchResult fodSearch(const std::vector<FodRow> &rows, const FodGrids &grids, const FodSearchOptions &options);

// The fit entry points with an explicit choice of search, for the command-line tool and the benchmarks.
bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                              const FodSearchOptions &options);
bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                       const FodSearchOptions &options);
