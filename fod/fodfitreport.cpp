#include "fod/fodfitreport.h"

#include "fod/fodmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The pane names at most this many outlier rows; the count says how many there are.
constexpr int kOutlierRowsListed = 10;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2.0;
}

std::string formatted(const char *pattern, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

std::string qualityLine(const FodSetReport &set)
{
    std::string line = set.gain == 0 ? "fit: " : "fit gain " + std::to_string(set.gain) + ": ";
    line += std::to_string(set.rowsUsed()) + " rows used";
    line += formatted("   RMS residual %.3f", set.rmsResidual);
    line += formatted("   largest residual %.3f", static_cast<double>(set.largestResidual));
    if (set.outlierLimit <= 0.0) {
        line += "   outliers not judged (median residual 0)";
    } else {
        line += "   outliers " + std::to_string(set.outlierCount);
        if (set.outlierCount > 0) {
            std::string rows;
            int listed = 0;
            for (const FodFitPoint &point : set.points) {
                if (!point.outlier)
                    continue;
                if (listed == kOutlierRowsListed) {
                    rows += ", ...";
                    break;
                }
                rows += (listed == 0 ? "" : ", ") + std::to_string(point.tableRow + 1);
                ++listed;
            }
            line += " (data rows " + rows + ")";
        }
    }
    if (!std::isfinite(set.secondCost))
        line += "   no other combination fits";
    else if (set.bestCost > 0.0)
        line += formatted("   cost gap to the next best %.4g", set.costGap()) +
                formatted(" (%.3g %% of the cost)", 100.0 * set.costGap() / set.bestCost);
    else
        line += formatted("   cost gap to the next best %.4g", set.costGap());
    return line + "\r\n";
}

} // namespace

FodSetReport fodUnfittedSet(int gain, const std::vector<FodRow> &rows, const std::vector<int> &tableRows)
{
    FodSetReport set;
    set.gain = gain;
    set.points.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        FodFitPoint point;
        point.tableRow = tableRows[i];
        point.x = rows[i][fodmodel::kFieldX];
        point.reference = rows[i][fodmodel::kFieldReference];
        set.points.push_back(point);
    }
    return set;
}

FodSetReport fodFittedSet(int gain, const std::vector<FodRow> &rows, const std::vector<int> &tableRows,
                          const FodParameterSet &modelParameters, const FodParameterSet &stored, double bestCost,
                          double secondCost)
{
    using namespace fodmodel;
    const FodParameterSet &p = modelParameters;
    FodSetReport set = fodUnfittedSet(gain, rows, tableRows);
    set.fitted = true;
    set.parameters = stored;
    set.bestCost = bestCost;
    set.secondCost = secondCost;

    double sumOfSquares = 0.0;
    std::vector<double> magnitudes;
    magnitudes.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FodRow &row = rows[i];
        const float f = factor(row[kFieldX], p.factor1, p.factor2);
        const float powerTerm = power(row[kFieldPower], p.gv, p.gi, f, p.fod_offset);
        const float lossTerm = loss(row[kFieldX], p.delta_esr, p.gi, f, row[kFieldLoss]);
        const float r = residual(powerTerm, lossTerm, row[kFieldReference]);
        FodFitPoint &point = set.points[i];
        point.model = static_cast<float>(static_cast<double>(powerTerm) - lossTerm);
        point.residual = -r;
        sumOfSquares += costTerm(r);
        magnitudes.push_back(std::fabs(static_cast<double>(r)));
        if (std::fabs(point.residual) > std::fabs(set.largestResidual))
            set.largestResidual = point.residual;
    }
    if (!rows.empty())
        set.rmsResidual = std::sqrt(sumOfSquares / static_cast<double>(rows.size()));
    set.medianAbsResidual = median(magnitudes);
    set.outlierLimit = FOD_OUTLIER_FACTOR * set.medianAbsResidual;
    if (set.outlierLimit > 0.0) {
        for (FodFitPoint &point : set.points) {
            point.outlier = std::fabs(static_cast<double>(point.residual)) > set.outlierLimit;
            set.outlierCount += point.outlier ? 1 : 0;
        }
    }
    return set;
}

std::string fodQualityText(const FodFitReport &report)
{
    std::string text;
    for (const FodSetReport &set : report.sets) {
        if (set.fitted)
            text += qualityLine(set);
    }
    return text;
}
