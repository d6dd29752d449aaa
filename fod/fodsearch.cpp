#include "fod/fodsearch.h"

#include "fod/fodmodel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using namespace fodmodel;

namespace {

std::size_t at(int index)
{
    return static_cast<std::size_t>(index);
}

// Runs body(item, worker) for every item in [0, count) on `threads` threads. Which worker takes
// which item varies from run to run; callers keep their results per item or reduce them with an
// order-independent rule, so the outcome never depends on it.
template<typename Body> void parallelFor(int count, unsigned threads, Body body)
{
    if (count <= 0)
        return;
    const unsigned workers = std::max(1u, std::min(threads, static_cast<unsigned>(count)));
    std::atomic<int> next{0};
    auto run = [&](unsigned worker) {
        for (int item = next.fetch_add(1); item < count; item = next.fetch_add(1))
            body(item, worker);
    };
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (unsigned w = 1; w < workers; ++w)
        pool.emplace_back(run, w);
    run(0);
    for (std::thread &t : pool)
        t.join();
}

struct Best {
    double cost = kInitialBestCost;
    std::int64_t visit = -1;

    // Lower cost wins, and of equal costs the one visited first: what the strict "best > cost"
    // rule of the loop order yields. A cost that is not a number or not below 1e20 never wins.
    void offer(double candidateCost, std::int64_t candidateVisit)
    {
        if (!(candidateCost < kInitialBestCost))
            return;
        if (candidateCost < cost || (candidateCost == cost && (visit < 0 || candidateVisit < visit))) {
            cost = candidateCost;
            visit = candidateVisit;
        }
    }
};

double exactCost(const std::vector<FodRow> &rows, float gv, float gi, float deltaEsr, float fodOffset, float factor1,
                 float factor2)
{
    double cost = 0.0;
    for (const FodRow &row : rows) {
        const float f = factor(row[kFieldX], factor1, factor2);
        const float p = power(row[kFieldPower], gv, gi, f, fodOffset);
        const float l = loss(row[kFieldX], deltaEsr, gi, f, row[kFieldLoss]);
        cost += costTerm(residual(p, l, row[kFieldReference]));
    }
    return cost;
}

FodSearchResult toResult(const FodGrids &grids, const Best &best)
{
    FodSearchResult result;
    if (best.visit >= 0) {
        result.found = true;
        result.index = fodIndexAt(grids, best.visit);
        result.cost = best.cost;
    }
    return result;
}

// The fast search rests on one identity. Write g = gv·gi, e = gi²·delta_esr, u = 1000·fod_offset
// and, per row, p = field3·f, q = field2²·0.001·f², w = field4 + field6 (f depends on factor1 and
// factor2 only). Without rounding, a row's residual is ρ = g·p + u − e·q − w, and the cost
// Σρ² is a quadratic in (g, u, e) whose coefficients are ten sums over the rows. So for each
// (factor1, factor2) pair the sums are formed once, and every (gv, gi, delta_esr, fod_offset)
// costs a handful of operations instead of a pass over the rows.
//
// Exactness. Let r be a row's residual as the model stores it (float) and c the cost the reference
// computes. Tracing the roundings of the model (double products, one float rounding each for P, L
// and r) gives |r − ρ| ≤ ε = K·(|g·p| + |u| + e·q + |field4| + |field6| + τ) with K = 2⁻²³(1 + 2⁻¹⁶)
// (2⁻²³(1 + 2⁻²⁰) would do) and τ covering subnormal roundings; hence, by the triangle inequality
// on the vectors r and ρ, |√Σr² − √Σρ²| ≤ √E with E = Σε². The quadratic is evaluated in double
// from sums that carry rounding errors; every error of that evaluation is below
// η = γ(n+40)·T with T the same expression over absolute values (the standard bound for sums and
// products of depth n + 40), so Σρ² lies in [Q − η, Q + η] for the computed Q. The reference sums
// n non-negative double terms, so c lies within a factor (1 ± γ(n+2)) of Σr². Together:
//     LB = (√(Q − η) − √E)²·(1 − γ) ≤ c ≤ (√(Q + η) + √E)²·(1 + γ) = UB,
// each rounded outward by small extra factors. E and T use the largest |u| and e of the grids,
// so they hold for every combination of a (gv, gi, factor1, factor2) block.
//
// Any combination's UB bounds the smallest cost from above. A combination whose LB exceeds the
// smallest UB (or 1e20) can neither have the smallest cost nor tie with it, so the winner of the
// reference, the smallest cost visited first, is among the others. Those are evaluated exactly,
// with the reference's own arithmetic, in order of LB (then of visit), stopping once LB exceeds the
// best exact cost seen, or equals it with a later visit; of the evaluated ones the smallest cost,
// then the smallest visiting position, wins.
//
// The bound needs finite numbers with no float overflow. A (factor1, factor2) pair where some row
// value is not finite or a term could exceed 1e30 is not trusted: all its combinations are
// evaluated exactly instead, as the reference would.
namespace fast {

constexpr double kUnitRoundoff = 0x1p-53;
constexpr double kResidualError = 0x1p-23 * (1.0 + 0x1p-16);
constexpr double kSubnormalSlack = 0x1p-117;
constexpr double kTrustedMagnitude = 1e30;
constexpr double kQuadraticDepth = 40.0;
constexpr double kOutward = 0x1p-45;
constexpr double kRootOutward = 0x1p-50;
constexpr double kUnderflowSlack = 1e-200;
constexpr std::size_t kCandidateReserve = 4096;
constexpr std::size_t kExactBatch = 256;

double gamma(double k)
{
    return k * kUnitRoundoff / (1.0 - k * kUnitRoundoff);
}

// Sums over the rows of one (factor1, factor2) pair. The signed ones build the quadratic, the
// absolute ones its error bound η, and the last three the residual bound E.
struct PairSums {
    double spp = 0, sqq = 0, sww = 0, sp = 0, sq = 0, sw = 0, spq = 0, spw = 0, sqw = 0;
    double sAbsP = 0, sAbsW = 0, sAbsPQ = 0, sAbsPW = 0, sQAbsW = 0;
    double svv = 0, sAbsPV = 0, sqv = 0;
    bool trusted = true;
};

// Coefficients of Q(u, e) = c0 + u·(c1 + n·u + c5·e) + e·(c2 + c4·e) for one (gv, gi) and its
// bounds, which hold for every (delta_esr, fod_offset) of the block.
struct Block {
    double c0, c1, c2, c4, c5, n;
    double h;
    double eta;
    double rootE;
};

struct Candidate {
    double lowerBound;
    std::int64_t visit;
};

class Search
{
public:
    Search(const std::vector<FodRow> &rows, const FodGrids &grids, unsigned threads)
        : rows_(rows), grids_(grids), threads_(threads), n_(static_cast<double>(rows.size())),
          gammaCost_(gamma(n_ + 2.0)), gammaQuadratic_(gamma(n_ + kQuadraticDepth)),
          gammaSums_(gamma(n_ + kQuadraticDepth) + kRootOutward),
          pairCount_(static_cast<int>(grids.factor1.size() * grids.factor2.size())),
          blockCount_(static_cast<int>(grids.gv.size() * grids.gi.size())), sums_(at(pairCount_)),
          blockLowerBound_(at(pairCount_) * at(blockCount_)), blockUpperBound_(at(pairCount_)),
          pairExactBest_(at(pairCount_)), candidates_(threads)
    {
        for (float v : grids.fodOffset)
            uMax_ = std::max(uMax_, std::fabs(kOffsetScale * v));
        for (float v : grids.deltaEsr)
            dMax_ = std::max(dMax_, std::fabs(static_cast<double>(v)));
        double gvMax = 0.0, giMax = 0.0;
        for (float v : grids.gv)
            gvMax = std::max(gvMax, std::fabs(static_cast<double>(v)));
        for (float v : grids.gi)
            giMax = std::max(giMax, std::fabs(static_cast<double>(v)));
        gMax_ = gvMax * giMax;
        eMax_ = giMax * giMax * dMax_;
        for (std::vector<Candidate> &list : candidates_)
            list.reserve(kCandidateReserve);
        findIdleParameters();
    }

    FodSearchResult run(FodSearchStats *stats)
    {
        parallelFor(pairCount_, threads_, [this](int pair, unsigned) { boundPair(pair); });

        double threshold = kInitialBestCost;
        for (int pair = 0; pair < pairCount_; ++pair) {
            threshold = std::min(threshold, blockUpperBound_[at(pair)]);
            if (!sums_[at(pair)].trusted && pairExactBest_[at(pair)].visit >= 0)
                threshold = std::min(threshold, pairExactBest_[at(pair)].cost);
        }

        parallelFor(pairCount_, threads_,
                    [this, threshold](int pair, unsigned worker) { collectCandidates(pair, worker, threshold); });

        std::vector<Candidate> all;
        for (const std::vector<Candidate> &list : candidates_)
            all.insert(all.end(), list.begin(), list.end());
        for (int pair = 0; pair < pairCount_; ++pair) {
            const Best &exact = pairExactBest_[at(pair)];
            if (!sums_[at(pair)].trusted && exact.visit >= 0 && exact.cost <= threshold)
                all.push_back({exact.cost, exact.visit});
        }
        std::sort(all.begin(), all.end(), [](const Candidate &a, const Candidate &b) {
            return a.lowerBound < b.lowerBound || (a.lowerBound == b.lowerBound && a.visit < b.visit);
        });

        Best best;
        std::int64_t evaluated = 0;
        std::vector<double> costs(kExactBatch);
        for (std::size_t start = 0; start < all.size(); start += kExactBatch) {
            // Sorted by bound, then by visit: from here on nothing can cost less, or cost as much and come first.
            const Candidate &next = all[start];
            if (best.visit >= 0 &&
                (next.lowerBound > best.cost || (next.lowerBound == best.cost && next.visit > best.visit)))
                break;
            const std::size_t count = std::min(kExactBatch, all.size() - start);
            parallelFor(static_cast<int>(count), threads_,
                        [&](int k, unsigned) { costs[at(k)] = costAt(all[start + at(k)].visit); });
            for (std::size_t k = 0; k < count; ++k)
                best.offer(costs[k], all[start + k].visit);
            evaluated += static_cast<std::int64_t>(count);
        }

        if (stats) {
            stats->combinations = fodCombinationCount(grids_);
            stats->candidates = static_cast<std::int64_t>(all.size());
            stats->exactEvaluations = evaluated;
            stats->untrustedPairs = static_cast<int>(
                std::count_if(sums_.begin(), sums_.end(), [](const PairSums &s) { return !s.trusted; }));
        }
        return toResult(grids_, best);
    }

private:
    float factor1Of(int pair) const { return grids_.factor1[at(pair) / grids_.factor2.size()]; }
    float factor2Of(int pair) const { return grids_.factor2[at(pair) % grids_.factor2.size()]; }

    double costAt(std::int64_t visit) const
    {
        const FodParameterSet set = fodParametersAt(grids_, fodIndexAt(grids_, visit));
        return exactCost(rows_, set.gv, set.gi, set.delta_esr, set.fod_offset, set.factor1, set.factor2);
    }

    std::int64_t visitOf(int gvIndex, int giIndex, int dIndex, int uIndex, int pair) const
    {
        const int f1 = static_cast<int>(at(pair) / grids_.factor2.size());
        const int f2 = static_cast<int>(at(pair) % grids_.factor2.size());
        return fodVisitOrder(grids_, {gvIndex, giIndex, dIndex, uIndex, f1, f2});
    }

    // Degenerate captures make whole grids irrelevant: with field 3 zero in every row, gv only multiplies
    // zeros in P; with x zero, delta_esr (and, with field 3 zero too, gi) only multiplies zeros in L,
    // and f is exactly 1 whatever factor1; with every x below 2000, factor2 never enters f. Then every
    // combination has a sibling at index 0 of that grid whose rows give the same f, P, L and r (up to
    // the sign of a zero, which r² drops), so the same cost, visited earlier: only index 0 can win.
    // Skipping the rest keeps a flat capture, where millions of combinations tie, from being
    // evaluated exactly one by one.
    void findIdleParameters()
    {
        bool powerZero = true, xZero = true, xBelowFirstBreak = true, factor1Unused = true;
        for (const FodRow &row : rows_) {
            const float x = row[kFieldX];
            powerZero = powerZero && row[kFieldPower] == 0.0f;
            xZero = xZero && x == 0.0f;
            xBelowFirstBreak = xBelowFirstBreak && x < kFactorBreak1;
            factor1Unused = factor1Unused && (x == 0.0f || !(x < kFactorBreak2));
        }
        idle_ = {powerZero, powerZero && xZero, xZero, false, factor1Unused, xBelowFirstBreak};
    }

    void formSums(int pair)
    {
        PairSums &s = sums_[at(pair)];
        const float f1 = factor1Of(pair);
        const float f2 = factor2Of(pair);
        for (const FodRow &row : rows_) {
            const float x = row[kFieldX];
            const float f = factor(x, f1, f2);
            const double p = static_cast<double>(row[kFieldPower]) * f;
            const double xx = static_cast<double>(x) * x * kLossScale;
            const double q = xx * f * f;
            const double w = static_cast<double>(row[kFieldLoss]) + row[kFieldReference];
            const double v = uMax_ + kSubnormalSlack + std::fabs(static_cast<double>(row[kFieldLoss])) +
                             std::fabs(static_cast<double>(row[kFieldReference]));
            const double absP = std::fabs(p);
            const double absW = std::fabs(w);
            if (!(gMax_ * absP + eMax_ * q + v <= kTrustedMagnitude))
                s.trusted = false;
            s.spp += p * p;
            s.sqq += q * q;
            s.sww += w * w;
            s.sp += p;
            s.sq += q;
            s.sw += w;
            s.spq += p * q;
            s.spw += p * w;
            s.sqw += q * w;
            s.sAbsP += absP;
            s.sAbsW += absW;
            s.sAbsPQ += absP * q;
            s.sAbsPW += absP * absW;
            s.sQAbsW += q * absW;
            s.svv += v * v;
            s.sAbsPV += absP * v;
            s.sqv += q * v;
        }
    }

    Block block(const PairSums &s, float gv, float gi) const
    {
        Block b;
        const double g = static_cast<double>(gv) * gi;
        const double absG = std::fabs(g);
        b.h = static_cast<double>(gi) * gi;
        const double eMax = b.h * dMax_;
        b.n = n_;
        b.c0 = (g * s.spp - 2.0 * s.spw) * g + s.sww;
        b.c1 = 2.0 * (g * s.sp - s.sw);
        b.c2 = 2.0 * (s.sqw - g * s.spq);
        b.c4 = s.sqq;
        b.c5 = -2.0 * s.sq;
        const double absolute = (absG * s.spp + 2.0 * s.sAbsPW) * absG + s.sww +
                                uMax_ * (2.0 * (absG * s.sAbsP + s.sAbsW) + n_ * uMax_ + 2.0 * s.sq * eMax) +
                                eMax * (2.0 * (s.sQAbsW + absG * s.sAbsPQ) + s.sqq * eMax);
        b.eta = gammaQuadratic_ * absolute * (1.0 + gammaSums_) + kUnderflowSlack;
        const double residualSquares =
            (absG * s.spp + 2.0 * s.sAbsPV) * absG + s.svv + eMax * (2.0 * (absG * s.sAbsPQ + s.sqv) + s.sqq * eMax);
        const double e = kResidualError * kResidualError * residualSquares * (1.0 + gammaSums_);
        b.rootE = std::sqrt(e) * (1.0 + kRootOutward);
        return b;
    }

    static double quadratic(const Block &b, double u, double e)
    {
        return b.c0 + u * (b.c1 + b.n * u + b.c5 * e) + e * (b.c2 + b.c4 * e);
    }

    double lowerBound(const Block &b, double q) const
    {
        const double low = q - b.eta;
        if (!(low > 0.0))
            return 0.0;
        const double root = std::sqrt(low) * (1.0 - kRootOutward) - b.rootE;
        if (!(root > 0.0))
            return 0.0;
        return root * root * (1.0 - gammaCost_) * (1.0 - kOutward);
    }

    double upperBound(const Block &b, double q) const
    {
        const double root = std::sqrt(q + b.eta) * (1.0 + kRootOutward) + b.rootE;
        return root * root * (1.0 + gammaCost_) * (1.0 + kOutward);
    }

    // First pass: the sums of the pair, then for each (gv, gi) block the bounds at its smallest Q.
    // Both bounds grow with Q, so they bound every combination of the block.
    void boundPair(int pair)
    {
        formSums(pair);
        PairSums &s = sums_[at(pair)];
        double *lower = &blockLowerBound_[at(pair) * at(blockCount_)];
        double pairUpper = std::numeric_limits<double>::infinity();
        if (s.trusted) {
            for (int k = 0; k < blockCount_ && s.trusted; ++k) {
                const Block b = block(s, grids_.gv[at(k) / grids_.gi.size()], grids_.gi[at(k) % grids_.gi.size()]);
                double smallest = std::numeric_limits<double>::infinity();
                for (float d : grids_.deltaEsr) {
                    const double e = b.h * d;
                    for (float offset : grids_.fodOffset)
                        smallest = std::min(smallest, quadratic(b, kOffsetScale * offset, e));
                }
                const double upper = upperBound(b, smallest);
                if (!std::isfinite(smallest) || !std::isfinite(upper) || !std::isfinite(b.eta) ||
                    !std::isfinite(b.rootE))
                    s.trusted = false;
                lower[k] = lowerBound(b, smallest);
                pairUpper = std::min(pairUpper, upper);
            }
        }
        if (!s.trusted) {
            evaluatePairExactly(pair);
            pairUpper = std::numeric_limits<double>::infinity();
        }
        blockUpperBound_[at(pair)] = pairUpper;
    }

    void evaluatePairExactly(int pair)
    {
        const float f1 = factor1Of(pair);
        const float f2 = factor2Of(pair);
        Best best;
        for (std::size_t a = 0; a < grids_.gv.size(); ++a)
            for (std::size_t b = 0; b < grids_.gi.size(); ++b)
                for (std::size_t c = 0; c < grids_.deltaEsr.size(); ++c)
                    for (std::size_t d = 0; d < grids_.fodOffset.size(); ++d) {
                        const double cost = exactCost(rows_, grids_.gv[a], grids_.gi[b], grids_.deltaEsr[c],
                                                      grids_.fodOffset[d], f1, f2);
                        best.offer(cost, visitOf(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                                 static_cast<int>(d), pair));
                    }
        pairExactBest_[at(pair)] = best;
    }

    // Second pass: every combination of a trusted pair whose lower bound does not exceed the threshold.
    void collectCandidates(int pair, unsigned worker, double threshold)
    {
        const PairSums &s = sums_[at(pair)];
        if (!s.trusted)
            return;
        const std::size_t f1 = at(pair) / grids_.factor2.size();
        const std::size_t f2 = at(pair) % grids_.factor2.size();
        if ((f1 > 0 && idle_[4]) || (f2 > 0 && idle_[5]))
            return;
        const double *lower = &blockLowerBound_[at(pair) * at(blockCount_)];
        std::vector<Candidate> &out = candidates_[worker];
        const std::size_t deltaEsrCount = idle_[2] ? 1 : grids_.deltaEsr.size();
        for (int k = 0; k < blockCount_; ++k) {
            if (lower[k] > threshold)
                continue;
            const int gvIndex = static_cast<int>(at(k) / grids_.gi.size());
            const int giIndex = static_cast<int>(at(k) % grids_.gi.size());
            if ((gvIndex > 0 && idle_[0]) || (giIndex > 0 && idle_[1]))
                continue;
            const Block b = block(s, grids_.gv[at(gvIndex)], grids_.gi[at(giIndex)]);
            for (std::size_t c = 0; c < deltaEsrCount; ++c) {
                const double e = b.h * grids_.deltaEsr[c];
                for (std::size_t d = 0; d < grids_.fodOffset.size(); ++d) {
                    const double bound = lowerBound(b, quadratic(b, kOffsetScale * grids_.fodOffset[d], e));
                    if (bound <= threshold)
                        out.push_back(
                            {bound, visitOf(gvIndex, giIndex, static_cast<int>(c), static_cast<int>(d), pair)});
                }
            }
        }
    }

    const std::vector<FodRow> &rows_;
    const FodGrids &grids_;
    const unsigned threads_;
    const double n_;
    const double gammaCost_;
    const double gammaQuadratic_;
    const double gammaSums_;
    const int pairCount_;
    const int blockCount_;
    double uMax_ = 0.0;
    double dMax_ = 0.0;
    double gMax_ = 0.0;
    double eMax_ = 0.0;
    std::vector<PairSums> sums_;
    std::vector<double> blockLowerBound_;
    std::vector<double> blockUpperBound_;
    std::vector<Best> pairExactBest_;
    std::vector<std::vector<Candidate>> candidates_;
    // Per grid in loop order: every combination off index 0 is beaten by its index-0 sibling.
    std::array<bool, 6> idle_{};
};

} // namespace fast

constexpr unsigned kMaxThreads = 256;

bool allFinite(const std::vector<float> &grid)
{
    return std::all_of(grid.begin(), grid.end(), [](float v) { return std::isfinite(v); });
}

// No operation of the model turns an infinity or a NaN back into a number (a product with zero gives
// NaN, a sum with an infinity stays infinite or becomes NaN, x = NaN reaches L through x²). So with
// finite grids, a row whose x, field 3, field 4 or field 6 is not finite has a non-finite residual
// in every combination, every cost is infinite or NaN, and no combination beats the initial 1e20.
// Fields that read as "nan", "inf" or an overflowing number end here without a pass over the grids.
bool anyResidualNonFinite(const std::vector<FodRow> &rows, const FodGrids &grids)
{
    if (!allFinite(grids.gv) || !allFinite(grids.gi) || !allFinite(grids.deltaEsr) || !allFinite(grids.fodOffset) ||
        !allFinite(grids.factor1) || !allFinite(grids.factor2))
        return false;
    return std::any_of(rows.begin(), rows.end(), [](const FodRow &row) {
        return !std::isfinite(row[kFieldX]) || !std::isfinite(row[kFieldPower]) || !std::isfinite(row[kFieldLoss]) ||
               !std::isfinite(row[kFieldReference]);
    });
}

} // namespace

unsigned defaultFodSearchThreads()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

double fodCombinationCost(const std::vector<FodRow> &rows, const FodGrids &grids, const FodGridIndex &index)
{
    const FodParameterSet set = fodParametersAt(grids, index);
    return exactCost(rows, set.gv, set.gi, set.delta_esr, set.fod_offset, set.factor1, set.factor2);
}

FodSearchResult fodSearchReference(const std::vector<FodRow> &rows, const FodGrids &grids)
{
    FodSearchResult result;
    if (fodCombinationCount(grids) == 0)
        return result;
    const std::size_t n = rows.size();
    std::vector<float> fValues(n), pValues(n), lValues(n), rValues(n);
    double best = kInitialBestCost;
    for (std::size_t a = 0; a < grids.gv.size(); ++a) {
        for (std::size_t b = 0; b < grids.gi.size(); ++b) {
            for (std::size_t c = 0; c < grids.deltaEsr.size(); ++c) {
                for (std::size_t d = 0; d < grids.fodOffset.size(); ++d) {
                    for (std::size_t e = 0; e < grids.factor1.size(); ++e) {
                        for (std::size_t k = 0; k < grids.factor2.size(); ++k) {
                            const float gv = grids.gv[a];
                            const float gi = grids.gi[b];
                            for (std::size_t i = 0; i < n; ++i)
                                fValues[i] = factor(rows[i][kFieldX], grids.factor1[e], grids.factor2[k]);
                            for (std::size_t i = 0; i < n; ++i)
                                pValues[i] = power(rows[i][kFieldPower], gv, gi, fValues[i], grids.fodOffset[d]);
                            for (std::size_t i = 0; i < n; ++i)
                                lValues[i] =
                                    loss(rows[i][kFieldX], grids.deltaEsr[c], gi, fValues[i], rows[i][kFieldLoss]);
                            for (std::size_t i = 0; i < n; ++i)
                                rValues[i] = residual(pValues[i], lValues[i], rows[i][kFieldReference]);
                            double cost = 0.0;
                            for (std::size_t i = 0; i < n; ++i)
                                cost += costTerm(rValues[i]);
                            if (best > cost) {
                                best = cost;
                                result.found = true;
                                result.cost = cost;
                                result.index = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                                static_cast<int>(d), static_cast<int>(e), static_cast<int>(k)};
                            }
                        }
                    }
                }
            }
        }
    }
    return result;
}

FodSearchResult fodSearchFast(const std::vector<FodRow> &rows, const FodGrids &grids, unsigned threads,
                              FodSearchStats *stats)
{
    // Without rows every cost is 0 and the first combination wins; the bounds add nothing there.
    if (rows.empty() || fodCombinationCount(grids) == 0)
        return fodSearchReference(rows, grids);
    if (anyResidualNonFinite(rows, grids)) {
        if (stats)
            *stats = FodSearchStats{fodCombinationCount(grids), 0, 0, 0};
        return FodSearchResult{};
    }
    fast::Search search(rows, grids, std::min(kMaxThreads, threads == 0 ? defaultFodSearchThreads() : threads));
    return search.run(stats);
}

FodSearchResult fodSearch(const std::vector<FodRow> &rows, const FodGrids &grids, const FodSearchOptions &options)
{
    if (options.method == FodSearchMethod::Reference)
        return fodSearchReference(rows, grids);
    return fodSearchFast(rows, grids, options.threads);
}
