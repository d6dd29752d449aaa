#include "fod/fodfit.h"

#include "fod/fodgrids.h"
#include "fod/fodmodel.h"
#include "fod/fodsearch.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace {

const std::array<int, 3> kXmcGains = {2, 3, 4};

const char kGainMissingText[] = "Gain value is missing from collected data!";
const char kNoFitText[] = "No FOD parameters fit the captured data!";

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *pattern, ...)
{
    std::array<char, 512> buffer{};
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
    va_end(args);
    return std::string(buffer.data());
}

// A search in which no combination beats the initial best cost has nothing to report; storing the
// untouched zeros would hand the calibration write a fit that never happened.
void reportNoFit(const FodMessages &messages)
{
    messages.log(kNoFitText);
    messages.out(std::string(kNoFitText) + "\r\n");
}

std::vector<int> allRows(int count)
{
    std::vector<int> rows(static_cast<std::size_t>(count));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

} // namespace

bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                              const FodSearchOptions &options, FodFitReport &report)
{
    report = FodFitReport{};
    report.board = FOD_BOARD_AUTOMOTIVE;
    const std::vector<int> tableRows = allRows(table.count());
    messages.log(format("Fod Data length is %d", table.count()));
    const FodGrids grids = automotiveFodGrids();
    const FodSearchResult found = fodSearch(table.rows, grids, options);
    if (!found.found) {
        report.sets.push_back(fodUnfittedSet(0, table.rows, tableRows));
        reportNoFit(messages);
        return false;
    }
    const FodParameterSet set = fodParametersAt(grids, found.index);
    report.sets.push_back(fodFittedSet(0, table.rows, tableRows, set, set, found.cost, found.secondCost));
    messages.log(format("gv:          %f", set.gv));
    messages.log(format("gi:          %f", set.gi));
    messages.log(format("fod_offset:  %f", set.fod_offset));
    messages.log(format("delta_esr:   %f", set.delta_esr));
    messages.log(format("factor1:     %f", set.factor1));
    messages.log(format("factor2:     %f", set.factor2));
    result.sets[0] = set;
    messages.out(format("gv: %6.3f   gi: %6.3f   fod_offset: %6.3f   delta_esr: %6.3f   factor1: %6.3f   "
                        "factor2: %6.3f\r\n",
                        set.gv, set.gi, set.fod_offset, set.delta_esr, set.factor1, set.factor2));
    return true;
}

bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                       const FodSearchOptions &options, FodFitReport &report)
{
    report = FodFitReport{};
    report.board = FOD_BOARD_XMC;
    std::array<std::vector<FodRow>, 3> groups;
    std::array<std::vector<int>, 3> groupRows;
    for (std::size_t k = 0; k < kXmcGains.size(); ++k) {
        const float gain = static_cast<float>(kXmcGains[k]);
        for (std::size_t i = 0; i < table.rows.size(); ++i) {
            if (table.rows[i][fodmodel::kFieldGain] == gain) {
                groups[k].push_back(table.rows[i]);
                groupRows[k].push_back(static_cast<int>(i));
            }
        }
    }
    // Every set starts unfitted, so a failure still shows the rows each gain had.
    for (std::size_t k = 0; k < groups.size(); ++k)
        report.sets.push_back(fodUnfittedSet(kXmcGains[k], groups[k], groupRows[k]));
    messages.log(format("Total size of fod Data is %d",
                        static_cast<int>(groups[0].size() + groups[1].size() + groups[2].size())));
    for (const std::vector<FodRow> &group : groups) {
        if (group.empty()) {
            messages.log(kGainMissingText);
            messages.out(std::string(kGainMissingText) + "\r\n");
            return false;
        }
    }

    const FodGrids grids = xmcFodGrids();
    FodGainResult fitted = result;
    for (std::size_t k = 0; k < groups.size(); ++k) {
        messages.log(format("Fod Data length is %d", static_cast<int>(groups[k].size())));
        const FodSearchResult found = fodSearch(groups[k], grids, options);
        if (!found.found) {
            reportNoFit(messages);
            return false;
        }
        const FodParameterSet set = fodParametersAt(grids, found.index);
        messages.log(format("gain:        %d", kXmcGains[k]));
        messages.log(format("gi:          %f", set.gi));
        messages.log(format("fod_offset:  %f", set.fod_offset));
        messages.log(format("delta_esr:   %f", set.delta_esr));
        messages.log(format("factor1:     %f", set.factor1));
        messages.log(format("factor2:     %f", set.factor2));
        FodParameterSet &stored = fitted.sets[k];
        stored.gi = set.gi;
        stored.delta_esr = set.delta_esr;
        stored.fod_offset = set.fod_offset;
        stored.factor1 = set.factor1;
        stored.factor2 = set.factor2;
        report.sets[k] = fodFittedSet(kXmcGains[k], groups[k], groupRows[k], set, stored, found.cost, found.secondCost);
        messages.out(format("gain: %5d   gi: %6.3f   fod_offset: %6.3f   delta_esr: %6.3f   factor1: %6.3f   "
                            "factor2: %6.3f\r\n",
                            kXmcGains[k], set.gi, set.fod_offset, set.delta_esr, set.factor1, set.factor2));
    }
    result = fitted;
    return true;
}

bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                              const FodSearchOptions &options)
{
    FodFitReport report;
    return calculateAutomotiveGains(table, result, messages, options, report);
}

bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                       const FodSearchOptions &options)
{
    FodFitReport report;
    return calculateXmcGains(table, result, messages, options, report);
}

bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages)
{
    return calculateAutomotiveGains(table, result, messages, FodSearchOptions{});
}

bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages)
{
    return calculateXmcGains(table, result, messages, FodSearchOptions{});
}
