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

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The two lowest costs offered, with their visiting positions: lower cost first and, of equal costs, the
// one visited first, which is what the strict "best > cost" rule of the loop order yields. A cost that is
// not a number below 1e20 never counts. The outcome does not depend on the order of the offers.
struct BestTwo {
    double cost = kInfinity;
    std::int64_t visit = -1;
    double secondCost = kInfinity;
    std::int64_t secondVisit = -1;

    static bool precedes(double c, std::int64_t v, double otherCost, std::int64_t otherVisit)
    {
        return otherVisit < 0 || c < otherCost || (c == otherCost && v < otherVisit);
    }

    void offer(double candidateCost, std::int64_t candidateVisit)
    {
        if (!(candidateCost < kInitialBestCost))
            return;
        if (precedes(candidateCost, candidateVisit, cost, visit)) {
            secondCost = cost;
            secondVisit = visit;
            cost = candidateCost;
            visit = candidateVisit;
        } else if (precedes(candidateCost, candidateVisit, secondCost, secondVisit)) {
            secondCost = candidateCost;
            secondVisit = candidateVisit;
        }
    }

    void merge(const BestTwo &other)
    {
        if (other.visit >= 0)
            offer(other.cost, other.visit);
        if (other.secondVisit >= 0)
            offer(other.secondCost, other.secondVisit);
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

FodSearchResult toResult(const FodGrids &grids, const BestTwo &best)
{
    FodSearchResult result;
    if (best.visit >= 0) {
        result.found = true;
        result.index = fodIndexAt(grids, best.visit);
        result.cost = best.cost;
        result.secondCost = best.secondCost;
    }
    return result;
}

// The fast search rests on one identity. Write g = gv·gi, e = gi²·delta_esr, u = 1000·fod_offset
// and, per row, p = field3·f, q = field2²·0.001·f², w = field4 + field6 (f depends on factor1 and
// factor2 only). Without rounding, a row's residual is ρ = g·p + u − e·q − w, and the sum of ρ² over
// a set of rows is a quadratic in (g, u, e) whose coefficients are ten sums over those rows. So for
// each (factor1, factor2) pair the sums are formed once, and every (gv, gi, delta_esr, fod_offset)
// bounds those rows' share of the cost in a handful of operations instead of a pass over them.
//
// Exactness. Let r be a row's residual as the model stores it (float). Tracing the roundings of the
// model (double products, one float rounding each for P, L and r) gives |r − ρ| ≤ ε =
// K·(|g·p| + |u| + e·q + |field4| + |field6| + τ) with K = 2⁻²³(1 + 2⁻¹⁶) (2⁻²³(1 + 2⁻²⁰) would do)
// and τ covering subnormal roundings; hence, by the triangle inequality on the vectors r and ρ,
// |√Σr² − √Σρ²| ≤ √E with E = Σε². The quadratic is evaluated in double from sums that carry
// rounding errors; every error of that evaluation is below η = γ(n+40)·T with T the same expression
// over absolute values (the standard bound for sums and products of depth n + 40), so Σρ² lies in
// [Q − η, Q + η] for the computed Q. E and T use the largest |u| and e of the grids, so they hold for
// every combination of a (gv, gi, factor1, factor2) block. The reference sums the terms r² (each
// exact in double) in row order, so its cost c lies within a factor (1 ± γ(n+2)) of Σr².
//
// Rows apart. ε grows with a row's largest values: one saturated reading (a field near 2³² where the
// others are near 10³) makes √E, and with it the gap between the bounds, larger than the differences
// between combinations, and nearly every combination would have to be evaluated. So the few rows far
// above the others in size (at most 8, each above 16 times the lower quartile) are taken apart: their
// terms T₁ … T_k (in row order) are computed with the model's own arithmetic wherever the bounds need
// them, and quadratics cover the other rows: all of them, those before the first row apart (the
// prefix) and the rest (the tail). With P the reference's running sum after the prefix and S the
// tail's Σr², and using only that rounding to nearest is monotone and that adding b ≥ 0 to a ≥ 0
// errs by at most min(b, half the gap between doubles there):
//   c ≥ fl(…fl(P_low + T₁) … + T_k)         (the tail only adds non-negative terms);
//   c ≥ (Σr² over the other rows + ΣT)·(1 − γ(n+2));
//   c ≤ fl(…fl(P_high + T₁) … + T_k) when S_high is below half the gap above fl(P_low + T₁): every
//       tail term then vanishes in the running sum; otherwise
//   c ≤ P_high + ΣT + S_high + k·gap(C)/2 + min(S_high, m·gap(C)/2), m tail rows, C ≥ every partial sum.
// So a glitch row makes the other rows' differences vanish in the bounds exactly where they vanish
// in the reference's sum; the two bounds then often coincide and the cost is known without a pass
// over the rows. The quadratic over every row, the plain bound, still serves where rows apart trade
// off against each other. A row apart is bounded exactly over a set of combinations too: r rises with
// fod_offset and falls with delta_esr (every rounding on the way is monotone), so the model at the
// ends of a range gives the range of r, and the offsets where r² stays within a limit form an interval.
// A handful of rows apart is cheap even over all combinations; the interval and the bounds above
// keep them from being computed for most.
//
// The sweep. A combination matters only if it may be the reference's winner (the smallest cost, then
// the earliest visit) or have the second-smallest cost. It does not when its lower bound exceeds the
// costs of two other combinations, or reaches the second-lowest cost among combinations visited
// before it. A first pass gives each block a lower bound over its combinations; the most promising
// combinations of the blocks with the lowest bounds are evaluated, and the second-lowest of their costs
// starts the threshold. Then each thread takes (gv, gi) blocks in visiting order and, per delta_esr
// row, skips what the bounds rule out, collects the rest and evaluates them in visiting order, exactly
// or from the bounds where they coincide, lowering the shared threshold as it goes. Nothing grows with
// the number of candidates (a row holds at most the offsets times the pairs), so memory stays constant,
// and the evaluated set decides the answer independently of which thread evaluated what. No fallback
// to plain evaluation is needed on top: where the bounds prune nothing (dozens of rows of one huge size,
// whose own roundings the reference's costs reflect), the per-combination tests cost a fraction of an
// evaluation of all the rows.
//
// The bounds need finite numbers with no float overflow. A (factor1, factor2) pair where a value of
// an ordinary row could exceed 1e30, or the model overflows on a row apart, is not trusted: all its
// combinations are evaluated exactly instead, as the reference would. Rows apart too large for the
// plain bound leave that bound out.
namespace fast {

constexpr double kUnitRoundoff = 0x1p-53;
constexpr double kResidualError = 0x1p-23 * (1.0 + 0x1p-16);
constexpr double kSubnormalSlack = 0x1p-117;
constexpr double kTrustedMagnitude = 1e30;
constexpr double kQuadraticDepth = 40.0;
constexpr double kOutward = 0x1p-45;
constexpr double kRootOutward = 0x1p-50;
constexpr double kUnderflowSlack = 1e-200;
constexpr std::size_t kMaxRowsApart = 8;
constexpr double kApartRatio = 16.0;
constexpr std::size_t kSeedBlocks = 16;
// Relative margin of the quick tests that skip a combination before its full bound, far above their roundings.
constexpr double kSafety = 0x1p-40;
// Up to this many fod_offset values, trying them all costs less than finding the vertex's neighbours.
constexpr std::size_t kFewOffsets = 8;

double gamma(double k)
{
    return k * kUnitRoundoff / (1.0 - k * kUnitRoundoff);
}

double halfGapAbove(double x)
{
    return (std::nextafter(x, kInfinity) - x) * 0.5;
}

// Sums over a set of rows for one (factor1, factor2) pair. The signed ones build the quadratic, the
// absolute ones its error bound η, and the last three the residual bound E.
struct PartSums {
    double count = 0;
    double spp = 0, sqq = 0, sww = 0, sp = 0, sq = 0, sw = 0, spq = 0, spw = 0, sqw = 0;
    double sAbsP = 0, sAbsW = 0, sAbsPQ = 0, sAbsPW = 0, sQAbsW = 0;
    double svv = 0, sAbsPV = 0, sqv = 0;

    void add(const PartSums &o)
    {
        count += o.count;
        spp += o.spp;
        sqq += o.sqq;
        sww += o.sww;
        sp += o.sp;
        sq += o.sq;
        sw += o.sw;
        spq += o.spq;
        spw += o.spw;
        sqw += o.sqw;
        sAbsP += o.sAbsP;
        sAbsW += o.sAbsW;
        sAbsPQ += o.sAbsPQ;
        sAbsPW += o.sAbsPW;
        sQAbsW += o.sQAbsW;
        svv += o.svv;
        sAbsPV += o.sAbsPV;
        sqv += o.sqv;
    }
};

struct PairState {
    PartSums prefix;
    PartSums tail;
    PartSums ordinary; // prefix and tail
    PartSums every;    // every row, those apart included
    bool trusted = true;
    bool plainBound = true; // the quadratic over every row holds
};

// Coefficients of Q(u, e) = c0 + u·(c1 + n·u + c5·e) + e·(c2 + c4·e) for one set of rows and one
// (gv, gi), and its bounds, which hold for every (delta_esr, fod_offset) of the block.
struct Block {
    double c0, c1, c2, c4, c5, n;
    double h;
    double eta;
    double rootE;
};

struct Parts {
    Block prefix;
    Block tail;
    Block ordinary;
    Block every;
};

// One combination's quadratics.
struct Quadratics {
    double prefix = 0;
    double ordinary = 0;
    double every = 0;
};

// Q along one delta_esr row, Q(u) = a + u·(b + n·u): another order of the same operations, which η
// covers as well.
struct Line {
    double a, b, n;
    double at(double u) const { return a + u * (b + n * u); }
};

Line lineOf(const Block &blk, double e)
{
    return {blk.c0 + e * (blk.c2 + blk.c4 * e), blk.c1 + blk.c5 * e, blk.n};
}

// Bounds on Σr² over a set of rows, from its quadratic's value q.
double rowsLower(const Block &b, double q)
{
    const double low = q - b.eta;
    if (!(low > 0.0))
        return 0.0;
    const double root = std::sqrt(low) * (1.0 - kRootOutward) - b.rootE;
    if (!(root > 0.0))
        return 0.0;
    return root * root * (1.0 - kOutward);
}

double rowsUpper(const Block &b, double q)
{
    const double root = std::sqrt(q + b.eta) * (1.0 + kRootOutward) + b.rootE;
    return root * root * (1.0 + kOutward);
}

// A value of q above which rowsLower(b, q) certainly exceeds `limit`; -infinity if even q = 0 does.
double quadraticLimit(const Block &b, double limit)
{
    if (!(limit >= 0.0))
        return -kInfinity;
    const double root = (std::sqrt(limit / (1.0 - kOutward)) + b.rootE) / (1.0 - kRootOutward);
    return (root * root + b.eta) * (1.0 + kSafety);
}

class Search
{
public:
    Search(const std::vector<FodRow> &rows, const FodGrids &grids, unsigned threads)
        : rows_(rows), grids_(grids), threads_(threads), gammaCost_(gamma(static_cast<double>(rows.size()) + 2.0)),
          gammaQuadratic_(gamma(static_cast<double>(rows.size()) + kQuadraticDepth)),
          gammaSums_(gamma(static_cast<double>(rows.size()) + kQuadraticDepth) + kRootOutward),
          countingLimit_(std::nextafter(kInitialBestCost, 0.0)),
          pairCount_(static_cast<int>(grids.factor1.size() * grids.factor2.size())),
          blockCount_(static_cast<int>(grids.gv.size() * grids.gi.size())), pairs_(at(pairCount_)),
          blockLower_(at(pairCount_) * at(blockCount_)), blockBestDelta_(at(pairCount_) * at(blockCount_)),
          pairExact_(at(pairCount_)), workers_(threads), threshold_(countingLimit_)
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
        const auto delta = std::minmax_element(grids.deltaEsr.begin(), grids.deltaEsr.end());
        deltaLowest_ = *delta.first;
        deltaHighest_ = *delta.second;
        for (std::size_t d = 0; d < grids.fodOffset.size(); ++d)
            offsetOrder_.push_back(d);
        std::sort(offsetOrder_.begin(), offsetOrder_.end(),
                  [&](std::size_t a, std::size_t b) { return grids.fodOffset[a] < grids.fodOffset[b]; });
        minOffsetGap_ = kInfinity;
        for (std::size_t j = 0; j < offsetOrder_.size(); ++j) {
            sortedOffset_.push_back(grids.fodOffset[offsetOrder_[j]]);
            sortedU_.push_back(kOffsetScale * sortedOffset_.back());
            if (j > 0)
                minOffsetGap_ = std::min(minOffsetGap_, sortedU_[j] - sortedU_[j - 1]);
        }
        inverseOffsetStep_ = sortedU_.size() > 1 && sortedU_.back() > sortedU_.front()
                                 ? static_cast<double>(sortedU_.size() - 1) / (sortedU_.back() - sortedU_.front())
                                 : 0.0;
        findIdleParameters();
        deltaCount_ = idle_[2] ? 1 : grids.deltaEsr.size();
        splitRows();
    }

    FodSearchResult run(FodSearchStats *stats)
    {
        std::size_t slots = 0;
        for (RowApart &r : apart_) {
            r.lowTerms.resize(r.factors.size() * at(blockCount_));
            slots += r.factors.size();
        }
        parallelFor(static_cast<int>(slots), threads_, [this](int item, unsigned) { tabulateLowTerms(at(item)); });
        parallelFor(pairCount_, threads_, [this](int pair, unsigned) { boundPair(pair); });
        startThreshold();
        parallelFor(blockCount_, threads_, [this](int block, unsigned worker) { sweepBlock(block, worker); });

        BestTwo best;
        for (int pair = 0; pair < pairCount_; ++pair)
            best.merge(pairExact_[at(pair)]);
        for (const Worker &w : workers_)
            best.merge(w.best);
        // Every combination off index 0 of an idle grid costs what its index-0 sibling costs, so
        // the winner's sibling ties with it.
        if (best.visit >= 0 && hasIdleGridWithSiblings())
            best.secondCost = best.cost;

        if (stats) {
            *stats = FodSearchStats{};
            stats->combinations = fodCombinationCount(grids_);
            stats->exactEvaluations = seedEvaluations_;
            for (const Worker &w : workers_) {
                stats->candidates += w.candidates;
                stats->exactEvaluations += w.exactEvaluations;
            }
            stats->untrustedPairs = static_cast<int>(
                std::count_if(pairs_.begin(), pairs_.end(), [](const PairState &s) { return !s.trusted; }));
            stats->exactRows = static_cast<int>(apart_.size());
        }
        return toResult(grids_, best);
    }

private:
    // A block the sweep looks into, with the smallest terms its rows apart can have there.
    struct ActiveBlock {
        int pair;
        Parts parts;
        double lowTermSum;
        std::vector<double> lowTerms;
        std::vector<Quadratics> rowSmallest; // per delta_esr row, with rows apart
    };

    // A delta_esr row of an active block: the quadratics' values beyond which a combination is
    // skipped, and the offsets (in ascending order) where the terms apart allow one.
    struct ActiveRow {
        const ActiveBlock *block;
        Quadratics limits;
        std::size_t from;
        std::size_t to;
        double splitStart; // the split bound's share (before its factor) from the row's smallest values
    };

    struct Found {
        std::int64_t visit;
        double lower;
        const ActiveBlock *block;
        std::size_t offsetIndex;
    };

    // Offsets (ascending positions) where one row apart's term stays within the allowance, per value of f,
    // valid while `stamp` matches.
    struct TermWindow {
        std::int64_t stamp = -1;
        std::size_t from = 0;
        std::size_t to = 0;
    };

    // Per thread of the sweep: the two best costs it has seen (all visited before what it looks at next),
    // its share of the counts and its scratch space.
    struct Worker {
        BestTwo best;
        std::int64_t candidates = 0;
        std::int64_t exactEvaluations = 0;
        std::int64_t stamp = 0;
        std::vector<ActiveBlock> blocks;
        std::vector<ActiveRow> rows;
        std::vector<Found> found;
        std::vector<double> terms;
        std::vector<std::vector<TermWindow>> windows;
    };

    // A row apart: the row, and per pair the index of its value of f among the distinct ones (x below 2000
    // leaves factor2 out of f, x from 3000 factor1, so many pairs share one).
    struct RowApart {
        FodRow row;
        std::vector<float> factors;
        std::vector<std::size_t> slotOfPair;
        std::vector<double> lowTerms; // per value of f and block
    };

    float factor1Of(int pair) const { return grids_.factor1[at(pair) / grids_.factor2.size()]; }
    float factor2Of(int pair) const { return grids_.factor2[at(pair) % grids_.factor2.size()]; }
    std::size_t blockSlot(int pair, int block) const { return at(pair) * at(blockCount_) + at(block); }
    float factorApart(std::size_t j, int pair) const { return apart_[j].factors[apart_[j].slotOfPair[at(pair)]]; }

    double costAt(std::int64_t visit) const
    {
        const FodParameterSet set = fodParametersAt(grids_, fodIndexAt(grids_, visit));
        return exactCost(rows_, set.gv, set.gi, set.delta_esr, set.fod_offset, set.factor1, set.factor2);
    }

    // Position in the visiting order; the pair (factor1, factor2) is the innermost loop.
    std::int64_t visitOf(int block, std::size_t deltaIndex, std::size_t offsetIndex, int pair) const
    {
        const std::int64_t outer =
            (static_cast<std::int64_t>(block) * static_cast<std::int64_t>(grids_.deltaEsr.size()) +
             static_cast<std::int64_t>(deltaIndex)) *
                static_cast<std::int64_t>(grids_.fodOffset.size()) +
            static_cast<std::int64_t>(offsetIndex);
        return outer * pairCount_ + pair;
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

    bool hasIdleGridWithSiblings() const
    {
        const std::array<std::size_t, 6> sizes = {grids_.gv.size(),       grids_.gi.size(),
                                                  grids_.deltaEsr.size(), grids_.fodOffset.size(),
                                                  grids_.factor1.size(),  grids_.factor2.size()};
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            if (idle_[k] && sizes[k] > 1)
                return true;
        }
        return false;
    }

    // A row's share of ε at its largest over the grids, as a rough size: which rows go apart only
    // decides the speed, never the answer.
    double rowMagnitude(const FodRow &row) const
    {
        const float x = row[kFieldX];
        double fMax = 0.0;
        for (float f1 : {grids_.factor1.front(), grids_.factor1.back()}) {
            for (float f2 : {grids_.factor2.front(), grids_.factor2.back()})
                fMax = std::max(fMax, std::fabs(static_cast<double>(factor(x, f1, f2))));
        }
        return gMax_ * std::fabs(static_cast<double>(row[kFieldPower])) * fMax +
               eMax_ * static_cast<double>(x) * x * kLossScale * fMax * fMax + uMax_ +
               std::fabs(static_cast<double>(row[kFieldLoss])) + std::fabs(static_cast<double>(row[kFieldReference]));
    }

    void splitRows()
    {
        const std::size_t n = rows_.size();
        std::vector<double> magnitude(n);
        for (std::size_t i = 0; i < n; ++i)
            magnitude[i] = rowMagnitude(rows_[i]);
        // The lower quartile as the ordinary size, so that in a short capture two glitch rows of three still
        // stand out.
        std::vector<double> sorted = magnitude;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 4), sorted.end());
        const double limit = kApartRatio * sorted[n / 4];
        std::vector<std::size_t> apart;
        for (std::size_t i = 0; i < n; ++i) {
            if (!(magnitude[i] <= limit))
                apart.push_back(i);
        }
        if (apart.size() > kMaxRowsApart) {
            std::nth_element(apart.begin(), apart.begin() + kMaxRowsApart, apart.end(),
                             [&](std::size_t a, std::size_t b) { return magnitude[a] > magnitude[b]; });
            apart.resize(kMaxRowsApart);
            std::sort(apart.begin(), apart.end());
        }
        std::vector<bool> isApart(n, false);
        for (std::size_t i : apart) {
            isApart[i] = true;
            RowApart r;
            r.row = rows_[i];
            for (int pair = 0; pair < pairCount_; ++pair) {
                const float f = factor(r.row[kFieldX], factor1Of(pair), factor2Of(pair));
                const auto known = std::find(r.factors.begin(), r.factors.end(), f);
                r.slotOfPair.push_back(static_cast<std::size_t>(known - r.factors.begin()));
                if (known == r.factors.end())
                    r.factors.push_back(f);
            }
            apart_.push_back(std::move(r));
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (!isApart[i])
                (apart.empty() || i < apart.front() ? prefixRows_ : tailRows_).push_back(rows_[i]);
        }
        for (std::size_t i : apart)
            apartRows_.push_back(rows_[i]);
        for (std::size_t j = 0; j < apart.size(); ++j)
            apartBySize_.push_back(j);
        std::sort(apartBySize_.begin(), apartBySize_.end(),
                  [&](std::size_t a, std::size_t b) { return magnitude[apart[a]] > magnitude[apart[b]]; });
    }

    // Returns false when a row's values could leave the range where the bounds hold.
    bool addRows(PartSums &s, const std::vector<FodRow> &rows, float f1, float f2) const
    {
        bool trusted = true;
        for (const FodRow &row : rows) {
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
                trusted = false;
            s.count += 1.0;
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
        return trusted;
    }

    void formSums(int pair)
    {
        PairState &s = pairs_[at(pair)];
        const float f1 = factor1Of(pair);
        const float f2 = factor2Of(pair);
        s.trusted = addRows(s.prefix, prefixRows_, f1, f2);
        s.trusted = addRows(s.tail, tailRows_, f1, f2) && s.trusted;
        s.ordinary = s.prefix;
        s.ordinary.add(s.tail);
        s.every = s.ordinary;
        PartSums apart;
        s.plainBound = !apartRows_.empty() && addRows(apart, apartRows_, f1, f2);
        s.every.add(apart);
    }

    Block block(const PartSums &s, float gv, float gi) const
    {
        Block b;
        const double g = static_cast<double>(gv) * gi;
        const double absG = std::fabs(g);
        b.h = static_cast<double>(gi) * gi;
        const double eMax = b.h * dMax_;
        b.n = s.count;
        b.c0 = (g * s.spp - 2.0 * s.spw) * g + s.sww;
        b.c1 = 2.0 * (g * s.sp - s.sw);
        b.c2 = 2.0 * (s.sqw - g * s.spq);
        b.c4 = s.sqq;
        b.c5 = -2.0 * s.sq;
        const double absolute = (absG * s.spp + 2.0 * s.sAbsPW) * absG + s.sww +
                                uMax_ * (2.0 * (absG * s.sAbsP + s.sAbsW) + s.count * uMax_ + 2.0 * s.sq * eMax) +
                                eMax * (2.0 * (s.sQAbsW + absG * s.sAbsPQ) + s.sqq * eMax);
        b.eta = gammaQuadratic_ * absolute * (1.0 + gammaSums_) + kUnderflowSlack;
        const double residualSquares =
            (absG * s.spp + 2.0 * s.sAbsPV) * absG + s.svv + eMax * (2.0 * (absG * s.sAbsPQ + s.sqv) + s.sqq * eMax);
        const double e = kResidualError * kResidualError * residualSquares * (1.0 + gammaSums_);
        b.rootE = std::sqrt(e) * (1.0 + kRootOutward);
        return b;
    }

    // Only the ordinary rows' block when no row is apart: the others are then never read.
    // The first pass needs only the ordinary rows and, with several rows apart, every row (`firstPass`).
    Parts partsOf(const PairState &s, float gv, float gi, bool firstPass = false) const
    {
        // A block left out is all zeros: its bounds are then zero, which holds for any rows.
        Parts p;
        p.ordinary = block(s.ordinary, gv, gi);
        const bool apart = !apart_.empty();
        p.prefix = apart && !firstPass ? block(s.prefix, gv, gi) : Block{};
        p.tail = apart && !firstPass ? block(s.tail, gv, gi) : Block{};
        p.every = apart && s.plainBound && (!firstPass || apart_.size() > 1) ? block(s.every, gv, gi) : Block{};
        return p;
    }

    static double quadratic(const Block &b, double u, double e)
    {
        return b.c0 + u * (b.c1 + b.n * u + b.c5 * e) + e * (b.c2 + b.c4 * e);
    }

    // The smallest computed Q over the fod_offset grid at one e. In u the quadratic is a parabola of
    // curvature n, so of the grid values the one nearest its vertex is smallest; the computed vertex
    // is off by at most `spread`, below half the smallest gap between offsets, so the exact one's
    // nearest grid value is the computed one's or a neighbour of it.
    double smallestOverOffsets(const Block &blk, double e) const
    {
        const Line line = lineOf(blk, e);
        double smallest = kInfinity;
        if (sortedU_.size() <= kFewOffsets) {
            for (double u : sortedU_)
                smallest = std::min(smallest, line.at(u));
            return smallest;
        }
        std::size_t from = 0, to = sortedU_.size();
        nearVertex(blk, line, e, from, to);
        for (std::size_t j = from; j < to; ++j)
            smallest = std::min(smallest, line.at(sortedU_[j]));
        return smallest;
    }

    void nearVertex(const Block &blk, const Line &line, double e, std::size_t &from, std::size_t &to) const
    {
        const std::size_t m = sortedU_.size();
        if (!(blk.n > 0.0))
            return;
        const double vertex = -line.b / (2.0 * blk.n);
        const double spread =
            4.0 * kUnitRoundoff * ((std::fabs(blk.c1) + std::fabs(blk.c5 * e)) / (2.0 * blk.n) + std::fabs(vertex));
        if (!(spread < 0.5 * minOffsetGap_))
            return;
        const double estimate = (vertex - sortedU_.front()) * inverseOffsetStep_;
        if (estimate > -1.0 && estimate < static_cast<double>(m)) {
            std::size_t j = std::min(static_cast<std::size_t>(std::max(0.0, estimate + 0.5)), m - 1);
            while (j > 0 && std::fabs(sortedU_[j - 1] - vertex) < std::fabs(sortedU_[j] - vertex))
                --j;
            while (j + 1 < m && std::fabs(sortedU_[j + 1] - vertex) < std::fabs(sortedU_[j] - vertex))
                ++j;
            from = j > 0 ? j - 1 : 0;
            to = std::min(m, j + 2);
        } else if (estimate <= -1.0 || estimate >= static_cast<double>(m)) {
            // The vertex lies beyond one end: Q only grows from that end inwards.
            from = estimate < 0.0 ? 0 : m - 1;
            to = from + 1;
        }
    }

    std::size_t argminOverOffsets(const Block &blk, double e) const
    {
        const Line line = lineOf(blk, e);
        std::size_t best = 0;
        double smallest = kInfinity;
        for (std::size_t d = 0; d < grids_.fodOffset.size(); ++d) {
            const double q = line.at(kOffsetScale * grids_.fodOffset[d]);
            if (q < smallest) {
                smallest = q;
                best = d;
            }
        }
        return best;
    }

    // Bounds on the reference's running sum over a set of rows, started from zero.
    double sumLower(const Block &b, double q) const { return rowsLower(b, q) * (1.0 - gammaCost_) * (1.0 - kOutward); }
    double sumUpper(const Block &b, double q) const { return rowsUpper(b, q) * (1.0 + gammaCost_) * (1.0 + kOutward); }
    double sumToRows(double sum) const { return sum / ((1.0 - gammaCost_) * (1.0 - kOutward)); }

    // A combination's lower bound from its quadratics and the terms apart; all of them grow with each, so
    // smaller values (of a row or a block) give a bound of all its combinations.
    double lowerOf(const Parts &p, const Quadratics &q, const double *terms, bool plainBound) const
    {
        if (apart_.empty())
            return sumLower(p.ordinary, q.ordinary);
        double sequence = prefixRows_.empty() ? 0.0 : sumLower(p.prefix, q.prefix);
        double termSum = 0.0;
        for (std::size_t j = 0; j < apart_.size(); ++j) {
            sequence += terms[j];
            termSum += terms[j];
        }
        const double split = (rowsLower(p.ordinary, q.ordinary) + termSum) * (1.0 - gammaCost_) * (1.0 - kOutward);
        const double plain = plainBound ? sumLower(p.every, q.every) : 0.0;
        return std::max(std::max(sequence, split), plain);
    }

    double upperOf(const Parts &p, const Quadratics &q, double qTail, const double *terms) const
    {
        if (apart_.empty())
            return sumUpper(p.ordinary, q.ordinary);
        const bool prefix = !prefixRows_.empty();
        const double prefixLow = prefix ? sumLower(p.prefix, q.prefix) : 0.0;
        const double prefixHigh = prefix ? sumUpper(p.prefix, q.prefix) : 0.0;
        const double tailHigh = rowsUpper(p.tail, qTail);
        double sequence = prefixHigh;
        double termSum = 0.0;
        for (std::size_t j = 0; j < apart_.size(); ++j) {
            sequence += terms[j];
            termSum += terms[j];
        }
        if (tailHigh < halfGapAbove(prefixLow + terms[0]))
            return sequence;
        const double ceiling = (rowsUpper(p.ordinary, q.ordinary) + termSum) * (1.0 + gammaCost_) * (1.0 + kOutward);
        const double half = halfGapAbove(ceiling);
        const double k = static_cast<double>(apart_.size());
        const double spread =
            (prefixHigh + termSum + tailHigh + k * half + std::min(tailHigh, p.tail.n * half)) * (1.0 + kOutward);
        return std::min(ceiling, spread);
    }

    Quadratics quadraticsAt(const Parts &p, bool plainBound, double u, double e) const
    {
        Quadratics q;
        q.ordinary = quadratic(p.ordinary, u, e);
        if (!apart_.empty()) {
            q.prefix = prefixRows_.empty() ? 0.0 : quadratic(p.prefix, u, e);
            q.every = plainBound ? quadratic(p.every, u, e) : 0.0;
        }
        return q;
    }

    // Each quadratic's smallest value over the offsets of one delta_esr row.
    Quadratics smallestOverRow(const Parts &p, bool plainBound, double e) const
    {
        Quadratics q;
        q.ordinary = smallestOverOffsets(p.ordinary, e);
        if (!apart_.empty()) {
            q.prefix = prefixRows_.empty() ? 0.0 : smallestOverOffsets(p.prefix, e);
            q.every = plainBound ? smallestOverOffsets(p.every, e) : 0.0;
        }
        return q;
    }

    float residualApart(std::size_t j, int pair, float gv, float gi, float deltaEsr, float offset) const
    {
        const FodRow &row = apart_[j].row;
        const float f = factorApart(j, pair);
        return residual(power(row[kFieldPower], gv, gi, f, offset),
                        loss(row[kFieldX], deltaEsr, gi, f, row[kFieldLoss]), row[kFieldReference]);
    }

    // The smallest term of row apart j over each block, per value of f, from r at the block's ends; NaN
    // where the model overflows there.
    void tabulateLowTerms(std::size_t item)
    {
        std::size_t j = 0;
        while (item >= apart_[j].factors.size()) {
            item -= apart_[j].factors.size();
            ++j;
        }
        const FodRow &row = apart_[j].row;
        const float f = apart_[j].factors[item];
        for (int blk = 0; blk < blockCount_; ++blk) {
            const float gv = grids_.gv[at(blk) / grids_.gi.size()];
            const float gi = grids_.gi[at(blk) % grids_.gi.size()];
            const float rLow =
                residual(power(row[kFieldPower], gv, gi, f, sortedOffset_.front()),
                         loss(row[kFieldX], deltaHighest_, gi, f, row[kFieldLoss]), row[kFieldReference]);
            const float rHigh =
                residual(power(row[kFieldPower], gv, gi, f, sortedOffset_.back()),
                         loss(row[kFieldX], deltaLowest_, gi, f, row[kFieldLoss]), row[kFieldReference]);
            double low = rLow <= 0.0f && rHigh >= 0.0f ? 0.0 : std::min(costTerm(rLow), costTerm(rHigh));
            if (!std::isfinite(rLow) || !std::isfinite(rHigh))
                low = std::numeric_limits<double>::quiet_NaN();
            apart_[j].lowTerms[item * at(blockCount_) + at(blk)] = low;
        }
    }

    // The smallest terms the rows apart can have in a block; false if the model overflows there.
    bool lowTermsOf(int pair, int blk, double *lowTerms) const
    {
        bool finite = true;
        for (std::size_t j = 0; j < apart_.size(); ++j) {
            lowTerms[j] = apart_[j].lowTerms[apart_[j].slotOfPair[at(pair)] * at(blockCount_) + at(blk)];
            finite = finite && !std::isnan(lowTerms[j]);
        }
        return finite;
    }

    // Ascending offset positions [from, to) of one delta_esr row where the term of row apart j stays
    // within `allowance`: r rises with the offset, so they are those with -√allowance ≤ r ≤ √allowance.
    void termWindow(std::size_t j, int pair, float gv, float gi, float deltaEsr, double allowance, TermWindow &w) const
    {
        const FodRow &row = apart_[j].row;
        const float f = factorApart(j, pair);
        const float l = loss(row[kFieldX], deltaEsr, gi, f, row[kFieldLoss]);
        auto r = [&](std::size_t pos) {
            return residual(power(row[kFieldPower], gv, gi, f, sortedOffset_[pos]), l, row[kFieldReference]);
        };
        std::size_t low = 0, high = sortedOffset_.size();
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            const float v = r(mid);
            if (v >= 0.0f || costTerm(v) <= allowance)
                high = mid;
            else
                low = mid + 1;
        }
        w.from = low;
        high = sortedOffset_.size();
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            const float v = r(mid);
            if (v > 0.0f && costTerm(v) > allowance)
                high = mid;
            else
                low = mid + 1;
        }
        w.to = low;
    }

    // First pass: the sums of the pair, then for each (gv, gi) block a lower bound of all its
    // combinations and an upper bound of the one with the smallest quadratic.
    void boundPair(int pair)
    {
        formSums(pair);
        PairState &s = pairs_[at(pair)];
        const std::size_t k = apart_.size();
        std::vector<double> lowTerms(k);
        for (int blk = 0; blk < blockCount_ && s.trusted; ++blk) {
            const float gv = grids_.gv[at(blk) / grids_.gi.size()];
            const float gi = grids_.gi[at(blk) % grids_.gi.size()];
            const Parts parts = partsOf(s, gv, gi, true);
            if (k > 0 && !lowTermsOf(pair, blk, lowTerms.data()))
                s.trusted = false;
            // One quadratic per delta_esr row here; the sweep adds the others in the blocks this one keeps.
            // With several rows apart, which may trade off against each other, the plain bound sees the
            // block's costs best, also for choosing where to start; with one row apart or none, the
            // ordinary rows' quadratic and the exact terms do.
            const bool plainBound = k > 1 && s.plainBound;
            const Block &first = plainBound ? parts.every : parts.ordinary;
            double smallest = kInfinity;
            std::size_t bestDelta = 0;
            for (std::size_t c = 0; c < deltaCount_; ++c) {
                const double q = smallestOverOffsets(first, first.h * grids_.deltaEsr[c]);
                if (q < smallest) {
                    smallest = q;
                    bestDelta = c;
                }
            }
            const Quadratics q = plainBound ? Quadratics{0.0, 0.0, smallest} : Quadratics{0.0, smallest, 0.0};
            blockLower_[blockSlot(pair, blk)] = lowerOf(parts, q, lowTerms.data(), plainBound);
            blockBestDelta_[blockSlot(pair, blk)] = static_cast<std::uint32_t>(bestDelta);
            // The prefix's and the tail's sums are parts of the ordinary rows' ones: finite with them.
            if (!std::isfinite(smallest) || !std::isfinite(first.eta) || !std::isfinite(first.rootE) ||
                !std::isfinite(parts.ordinary.eta) || !std::isfinite(parts.ordinary.rootE))
                s.trusted = false;
        }
        if (!s.trusted)
            evaluatePairExactly(pair);
    }

    void evaluatePairExactly(int pair)
    {
        const float f1 = factor1Of(pair);
        const float f2 = factor2Of(pair);
        BestTwo best;
        for (int blk = 0; blk < blockCount_; ++blk) {
            const float gv = grids_.gv[at(blk) / grids_.gi.size()];
            const float gi = grids_.gi[at(blk) % grids_.gi.size()];
            for (std::size_t c = 0; c < grids_.deltaEsr.size(); ++c) {
                for (std::size_t d = 0; d < grids_.fodOffset.size(); ++d)
                    best.offer(exactCost(rows_, gv, gi, grids_.deltaEsr[c], grids_.fodOffset[d], f1, f2),
                               visitOf(blk, c, d, pair));
            }
        }
        pairExact_[at(pair)] = best;
    }

    // Any two distinct combinations bound the second-lowest cost from above by the larger of their costs:
    // promising combinations of the blocks with the lowest bounds, evaluated exactly, and the two best of
    // each pair evaluated exactly.
    void startThreshold()
    {
        std::vector<std::pair<double, std::size_t>> promising;
        for (int pair = 0; pair < pairCount_; ++pair) {
            if (!pairs_[at(pair)].trusted)
                continue;
            for (int blk = 0; blk < blockCount_; ++blk) {
                const double lower = blockLower_[blockSlot(pair, blk)];
                if (lower < countingLimit_)
                    promising.emplace_back(lower, blockSlot(pair, blk));
            }
        }
        const std::size_t considered = std::min(promising.size(), kSeedBlocks);
        std::partial_sort(promising.begin(), promising.begin() + static_cast<std::ptrdiff_t>(considered),
                          promising.end());
        std::vector<double> costs = {countingLimit_, countingLimit_};
        auto add = [&](double cost) {
            if (cost < countingLimit_)
                costs.push_back(cost);
        };
        // Where the ordinary rows of the block fit best, and where every row does (a row apart may pull
        // the best combinations away from the others' fit).
        for (std::size_t i = 0; i < considered; ++i) {
            const int pair = static_cast<int>(promising[i].second / at(blockCount_));
            const int blk = static_cast<int>(promising[i].second % at(blockCount_));
            const PairState &s = pairs_[at(pair)];
            const Parts parts =
                partsOf(s, grids_.gv[at(blk) / grids_.gi.size()], grids_.gi[at(blk) % grids_.gi.size()]);
            const std::size_t c = blockBestDelta_[promising[i].second];
            const double e = parts.ordinary.h * grids_.deltaEsr[c];
            const std::size_t d = argminOverOffsets(parts.ordinary, e);
            add(costAt(visitOf(blk, c, d, pair)));
            ++seedEvaluations_;
            if (!apart_.empty() && s.plainBound) {
                const std::size_t other = argminOverOffsets(parts.every, e);
                if (other != d) {
                    add(costAt(visitOf(blk, c, other, pair)));
                    ++seedEvaluations_;
                }
            }
        }
        for (const BestTwo &exact : pairExact_) {
            add(exact.cost);
            add(exact.secondCost);
        }
        std::nth_element(costs.begin(), costs.begin() + 1, costs.end());
        lowerThreshold(costs[1]);
    }

    void lowerThreshold(double value)
    {
        double current = threshold_.load(std::memory_order_relaxed);
        while (value < current && !threshold_.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
        }
    }

    bool pruned(double lower, const BestTwo &seen) const
    {
        return lower > threshold_.load(std::memory_order_relaxed) || lower >= seen.secondCost;
    }

    // Second pass over one (gv, gi) block and every trusted pair: per delta_esr row, the combinations
    // whose bounds let them matter, evaluated in visiting order.
    void sweepBlock(int blk, unsigned index)
    {
        const int gvIndex = static_cast<int>(at(blk) / grids_.gi.size());
        const int giIndex = static_cast<int>(at(blk) % grids_.gi.size());
        if ((gvIndex > 0 && idle_[0]) || (giIndex > 0 && idle_[1]))
            return;
        Worker &worker = workers_[index];
        const float gv = grids_.gv[at(gvIndex)];
        const float gi = grids_.gi[at(giIndex)];
        const std::size_t k = apart_.size();
        worker.terms.resize(k);
        worker.windows.resize(k);
        for (std::size_t j = 0; j < k; ++j)
            worker.windows[j].resize(apart_[j].factors.size());
        std::size_t active = 0;
        for (int pair = 0; pair < pairCount_; ++pair) {
            const std::size_t f1 = at(pair) / grids_.factor2.size();
            const std::size_t f2 = at(pair) % grids_.factor2.size();
            if (!pairs_[at(pair)].trusted || (f1 > 0 && idle_[4]) || (f2 > 0 && idle_[5]) ||
                pruned(blockLower_[blockSlot(pair, blk)], worker.best))
                continue;
            if (worker.blocks.size() <= active)
                worker.blocks.emplace_back();
            ActiveBlock &a = worker.blocks[active++];
            a.pair = pair;
            a.parts = partsOf(pairs_[at(pair)], gv, gi);
            a.lowTerms.resize(k);
            a.lowTermSum = 0.0;
            if (k == 0)
                continue;
            lowTermsOf(pair, blk, a.lowTerms.data());
            for (double t : a.lowTerms)
                a.lowTermSum += t;
            // The prefix and plain bounds over the whole block, which the first pass left out.
            const bool plainBound = pairs_[at(pair)].plainBound;
            a.rowSmallest.resize(deltaCount_);
            Quadratics smallest{kInfinity, kInfinity, kInfinity};
            for (std::size_t c = 0; c < deltaCount_; ++c) {
                const Quadratics &q = a.rowSmallest[c] =
                    smallestOverRow(a.parts, plainBound, a.parts.ordinary.h * grids_.deltaEsr[c]);
                smallest = {std::min(smallest.prefix, q.prefix), std::min(smallest.ordinary, q.ordinary),
                            std::min(smallest.every, q.every)};
            }
            if (pruned(lowerOf(a.parts, smallest, a.lowTerms.data(), plainBound), worker.best))
                --active;
        }
        for (std::size_t c = 0; c < deltaCount_ && active > 0; ++c)
            sweepRow(worker, blk, active, c, gv, gi);
    }

    void sweepRow(Worker &worker, int blk, std::size_t active, std::size_t c, float gv, float gi)
    {
        const std::size_t k = apart_.size();
        const float deltaEsr = grids_.deltaEsr[c];
        const double e = static_cast<double>(gi) * gi * deltaEsr;
        // Quick tests against the threshold as it stands now: it only falls, so they skip nothing that matters.
        const double limit = std::min(threshold_.load(std::memory_order_relaxed), worker.best.secondCost);
        const double rowsLimit = sumToRows(limit * (1.0 + kSafety));
        ++worker.stamp;
        worker.rows.clear();
        for (std::size_t a = 0; a < active; ++a) {
            const ActiveBlock &b = worker.blocks[a];
            const bool plainBound = pairs_[at(b.pair)].plainBound;
            ActiveRow row{&b, {kInfinity, kInfinity, kInfinity}, 0, sortedU_.size(), 0.0};
            for (std::size_t j = 0; j < k && row.from < row.to; ++j) {
                TermWindow &w = worker.windows[j][apart_[j].slotOfPair[at(b.pair)]];
                if (w.stamp != worker.stamp) {
                    termWindow(j, b.pair, gv, gi, deltaEsr, rowsLimit, w);
                    w.stamp = worker.stamp;
                }
                row.from = std::max(row.from, w.from);
                row.to = std::min(row.to, w.to);
            }
            if (row.from >= row.to)
                continue;
            const Quadratics smallest =
                k == 0 ? Quadratics{0.0, smallestOverOffsets(b.parts.ordinary, e), 0.0} : b.rowSmallest[c];
            if (pruned(lowerOf(b.parts, smallest, b.lowTerms.data(), plainBound), worker.best))
                continue;
            const double termShare = b.lowTermSum * (1.0 - kSafety);
            row.limits.ordinary = quadraticLimit(b.parts.ordinary, rowsLimit - termShare);
            if (k > 0) {
                if (!prefixRows_.empty())
                    row.limits.prefix = quadraticLimit(b.parts.prefix, sumToRows(limit * (1.0 + kSafety) - termShare));
                if (plainBound)
                    row.limits.every = quadraticLimit(b.parts.every, rowsLimit);
                row.splitStart = rowsLower(b.parts.ordinary, smallest.ordinary) + b.lowTermSum;
            }
            if (row.from < row.to)
                worker.rows.push_back(row);
        }

        worker.found.clear();
        double *terms = worker.terms.data();
        for (const ActiveRow &row : worker.rows) {
            const Parts &parts = row.block->parts;
            const int pair = row.block->pair;
            const bool plainBound = pairs_[at(pair)].plainBound;
            for (std::size_t pos = row.from; pos < row.to; ++pos) {
                const double u = sortedU_[pos];
                const Quadratics q = quadraticsAt(parts, plainBound, u, e);
                if (q.ordinary > row.limits.ordinary || q.prefix > row.limits.prefix || q.every > row.limits.every)
                    continue;
                if (k > 0) {
                    // The split bound with the smallest terms, raised term by term as they become known:
                    // most combinations fail it before all their terms are computed.
                    // The largest rows go first: their terms move the bound most.
                    double split = row.splitStart;
                    std::size_t i = 0;
                    for (; i < k && split * (1.0 - kSafety) <= rowsLimit; ++i) {
                        const std::size_t j = apartBySize_[i];
                        terms[j] = costTerm(residualApart(j, pair, gv, gi, deltaEsr, sortedOffset_[pos]));
                        split += terms[j] - row.block->lowTerms[j];
                    }
                    if (i < k || split * (1.0 - kSafety) > rowsLimit)
                        continue;
                }
                const double lower = lowerOf(parts, q, terms, plainBound);
                if (lower > limit)
                    continue;
                const std::size_t d = offsetOrder_[pos];
                worker.found.push_back({visitOf(blk, c, d, pair), lower, row.block, d});
            }
        }

        std::sort(worker.found.begin(), worker.found.end(),
                  [](const Found &a, const Found &b) { return a.visit < b.visit; });
        for (const Found &f : worker.found) {
            if (pruned(f.lower, worker.best))
                continue;
            ++worker.candidates;
            const int pair = f.block->pair;
            const float offset = grids_.fodOffset[f.offsetIndex];
            double cost = kInfinity;
            if (k > 0) {
                const double u = kOffsetScale * offset;
                const Parts &parts = f.block->parts;
                for (std::size_t j = 0; j < k; ++j)
                    terms[j] = costTerm(residualApart(j, pair, gv, gi, deltaEsr, offset));
                if (f.lower == upperOf(parts, quadraticsAt(parts, pairs_[at(pair)].plainBound, u, e),
                                       quadratic(parts.tail, u, e), terms))
                    cost = f.lower;
            }
            if (!(cost < kInfinity)) {
                ++worker.exactEvaluations;
                cost = exactCost(rows_, gv, gi, deltaEsr, offset, factor1Of(pair), factor2Of(pair));
            }
            worker.best.offer(cost, f.visit);
            lowerThreshold(worker.best.secondCost);
        }
    }

    const std::vector<FodRow> &rows_;
    const FodGrids &grids_;
    const unsigned threads_;
    const double gammaCost_;
    const double gammaQuadratic_;
    const double gammaSums_;
    // The largest double below 1e20: a cost must be below 1e20 to count at all.
    const double countingLimit_;
    const int pairCount_;
    const int blockCount_;
    double uMax_ = 0.0;
    double dMax_ = 0.0;
    double gMax_ = 0.0;
    double eMax_ = 0.0;
    float deltaLowest_ = 0.0f;
    float deltaHighest_ = 0.0f;
    std::size_t deltaCount_ = 0;
    // The fod_offset grid in ascending order, as values and as u, with the grid index of each.
    std::vector<float> sortedOffset_;
    std::vector<double> sortedU_;
    std::vector<std::size_t> offsetOrder_;
    double minOffsetGap_ = 0.0;
    double inverseOffsetStep_ = 0.0;
    std::vector<FodRow> prefixRows_;
    std::vector<FodRow> tailRows_;
    std::vector<FodRow> apartRows_;
    std::vector<RowApart> apart_;
    // Indices into apart_, largest row first.
    std::vector<std::size_t> apartBySize_;
    std::vector<PairState> pairs_;
    std::vector<double> blockLower_;
    // Per block: the delta_esr index where its plain bound's quadratic is smallest (its ordinary rows' without
    // rows apart).
    std::vector<std::uint32_t> blockBestDelta_;
    std::vector<BestTwo> pairExact_;
    std::vector<Worker> workers_;
    std::atomic<double> threshold_;
    std::int64_t seedEvaluations_ = 0;
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
    // Starts at 1e20 like the best, so that it only ever holds a cost below 1e20.
    double second = kInitialBestCost;
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
                                second = best;
                                best = cost;
                                result.found = true;
                                result.cost = cost;
                                result.index = {static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                                static_cast<int>(d), static_cast<int>(e), static_cast<int>(k)};
                            } else if (second > cost) {
                                second = cost;
                            }
                        }
                    }
                }
            }
        }
    }
    if (result.found && second < kInitialBestCost)
        result.secondCost = second;
    return result;
}

FodSearchResult fodSearchFast(const std::vector<FodRow> &rows, const FodGrids &grids, unsigned threads,
                              FodSearchStats *stats)
{
    // Without rows every cost is 0 and the first combination wins; the bounds add nothing there.
    if (rows.empty() || fodCombinationCount(grids) == 0)
        return fodSearchReference(rows, grids);
    if (anyResidualNonFinite(rows, grids)) {
        if (stats) {
            *stats = FodSearchStats{};
            stats->combinations = fodCombinationCount(grids);
        }
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
