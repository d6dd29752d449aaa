// zavlo-fodfit-bench: the FOD fit's reference search against the fast search on one thread and on every
// core, on seeded captures: clean board-like ones and adversarial ones (outlier rows, magnitudes over many
// decades, flat captures, exact ties, the 4096-row cap). Prints time and peak memory of each, whether all
// three chose the same combinations, and the targets beside the figures. Each measurement runs in a forked
// child, so that its peak resident memory (VmHWM) is its own.

#include "fod/fodgrids.h"
#include "fod/fodmodel.h"
#include "fod/fodsearch.h"
#include "tests/common/seededrandom.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSeed = 20240611u;
constexpr float kNoiseSigma = 2.0f;
constexpr double kHundredfold = 100.0;
constexpr double kPeakLimitMiB = 64.0;
constexpr int kAdversarialRows = 100;
constexpr int kAdversarialXmcRowsPerGain = 30;
// A saturated reading as boards print it now and then.
constexpr float kSaturated = 4294967295.0f;

using Random = SeededRandom;

// Board-like rows: integers as the board prints them, the reference field from the model plus noise.
void appendRows(std::vector<FodRow> &rows, const FodParameterSet &p, float gain, int count, Random &random)
{
    using namespace fodmodel;
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(random.between(300, 3600));
        const float field3 = static_cast<float>(random.between(800, 3000));
        const float field4 = static_cast<float>(random.between(40, 150));
        const float f = factor(x, p.factor1, p.factor2);
        const double model =
            static_cast<double>(power(field3, p.gv, p.gi, f, p.fod_offset)) - loss(x, p.delta_esr, p.gi, f, field4);
        const float reference = static_cast<float>(static_cast<long>(model + kNoiseSigma * random.gaussian()));
        rows.push_back({gain, static_cast<float>(random.between(120000, 130000)), x, field3, field4,
                        static_cast<float>(random.between(1000, 2000)), reference});
    }
}

// What a case must show: the fast search on one thread at least this many times faster than the reference.
enum class Target {
    NotSlower,
    Hundredfold,
};

struct Case {
    std::string name;
    int board = FOD_BOARD_AUTOMOTIVE;
    std::vector<FodRow> rows;
    Target target = Target::NotSlower;
    bool big = false; // the reference runs for minutes: only with --full
};

const std::array<float, 3> kXmcGains = {2.0f, 3.0f, 4.0f};

std::vector<FodRow> cleanRows(int board, int rowsPerGain, Random &random)
{
    std::vector<FodRow> rows;
    if (board == FOD_BOARD_AUTOMOTIVE) {
        appendRows(rows, fodParametersAt(automotiveFodGrids(), {9, 12, 10, 4, 3, 7}), 1.0f, rowsPerGain, random);
    } else {
        const FodGrids grids = xmcFodGrids();
        const FodGridIndex truth[] = {{0, 30, 8, 5, 9, 14}, {0, 41, 12, 4, 11, 18}, {0, 55, 15, 6, 12, 22}};
        for (std::size_t k = 0; k < kXmcGains.size(); ++k)
            appendRows(rows, fodParametersAt(grids, truth[k]), kXmcGains[k], rowsPerGain, random);
    }
    return rows;
}

Case cleanCase(int board, int rowsPerGain, std::uint32_t seed, bool big)
{
    Random random(seed);
    Case c;
    c.board = board;
    c.name = (board == FOD_BOARD_AUTOMOTIVE ? "automotive " : "xmc 3x") + std::to_string(rowsPerGain);
    c.rows = cleanRows(board, rowsPerGain, random);
    c.big = big;
    return c;
}

float gainOf(int board, Random &random)
{
    return board == FOD_BOARD_AUTOMOTIVE ? 1.0f : kXmcGains[static_cast<std::size_t>(random.between(0, 2))];
}

// Puts each row at a random position (0: first, rows.size(): last).
void insertAtRandom(std::vector<FodRow> &rows, const std::vector<FodRow> &extra, Random &random)
{
    for (const FodRow &row : extra)
        rows.insert(rows.begin() + random.between(0, static_cast<int>(rows.size())), row);
}

// One field of a board-like row (loss or reference; power or x too if `anyField`) replaced by a value of
// `magnitude` and random sign. Loss and reference shift the residual by the same amount in every
// combination, the hard case for a bound; an x beyond about 1e7 alone makes every cost exceed 1e20.
FodRow outlierRow(int board, double magnitude, bool anyField, Random &random)
{
    static const int fields[] = {fodmodel::kFieldLoss, fodmodel::kFieldReference, fodmodel::kFieldPower,
                                 fodmodel::kFieldX};
    std::vector<FodRow> base = cleanRows(FOD_BOARD_AUTOMOTIVE, 1, random);
    FodRow row = base.front();
    row[0] = gainOf(board, random);
    const float sign = random.between(0, 1) ? 1.0f : -1.0f;
    row[static_cast<std::size_t>(fields[random.between(0, anyField ? 3 : 1)])] = sign * static_cast<float>(magnitude);
    return row;
}

Case glitchCase(int board, int rowsPerGain, std::uint32_t seed, const char *where)
{
    Random random(seed);
    Case c;
    c.board = board;
    c.target = Target::Hundredfold;
    c.rows = cleanRows(board, rowsPerGain, random);
    const int gains = board == FOD_BOARD_AUTOMOTIVE ? 1 : 3;
    for (int k = 0; k < gains; ++k) {
        const float gain = board == FOD_BOARD_AUTOMOTIVE ? 1.0f : kXmcGains[static_cast<std::size_t>(k)];
        const FodRow glitch = {gain, 0.0f, 1000.0f, 1000.0f, kSaturated, 0.0f, 0.0f};
        if (!std::strcmp(where, "first"))
            c.rows.insert(c.rows.begin(), glitch);
        else if (!std::strcmp(where, "last"))
            c.rows.push_back(glitch);
        else
            insertAtRandom(c.rows, {glitch}, random);
    }
    c.name = std::string(board == FOD_BOARD_AUTOMOTIVE ? "auto " : "xmc 3x") + std::to_string(rowsPerGain) +
             ", glitch " + where + (board == FOD_BOARD_AUTOMOTIVE ? "" : " per gain");
    return c;
}

// `count` rows per gain with one field somewhere between 1e4 and `largest` (log-uniform), or exactly `largest`.
Case outlierCase(int board, int rowsPerGain, std::uint32_t seed, int count, double largest, bool exactly,
                 const std::string &name)
{
    Random random(seed);
    Case c;
    c.board = board;
    c.target = Target::Hundredfold;
    c.name = name;
    c.rows = cleanRows(board, rowsPerGain, random);
    const int gains = board == FOD_BOARD_AUTOMOTIVE ? 1 : 3;
    std::vector<FodRow> extra;
    for (int k = 0; k < count * gains; ++k) {
        const double magnitude = exactly ? largest : std::pow(10.0, random.uniform(4.0, std::log10(largest)));
        FodRow row = outlierRow(board, magnitude, exactly, random);
        if (board == FOD_BOARD_XMC)
            row[0] = kXmcGains[static_cast<std::size_t>(k % 3)];
        extra.push_back(row);
    }
    insertAtRandom(c.rows, extra, random);
    return c;
}

// Board-like rows whose loss and reference fields are scaled by powers of ten drawn from [low, high] (each
// field its own), in every other row.
Case magnitudeCase(std::uint32_t seed, double low, double high, const std::string &name)
{
    Random random(seed);
    Case c;
    c.target = Target::Hundredfold;
    c.name = name;
    c.rows = cleanRows(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, random);
    for (std::size_t i = 0; i < c.rows.size(); i += 2) {
        for (int field : {fodmodel::kFieldLoss, fodmodel::kFieldReference})
            c.rows[i][static_cast<std::size_t>(field)] *= static_cast<float>(std::pow(10.0, random.uniform(low, high)));
    }
    return c;
}

// Tiny values in most rows, a few rows up to 1e9: magnitudes from 1e-30 to 1e9 in one capture.
Case tinyAndHugeCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.target = Target::Hundredfold;
    c.name = "auto 100, tiny and huge mixed";
    c.rows = cleanRows(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, random);
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const bool huge = i % 25 == 7;
        if (!huge && i % 2)
            continue;
        for (int field : {fodmodel::kFieldLoss, fodmodel::kFieldReference}) {
            const double scale =
                huge ? std::pow(10.0, random.uniform(3.0, 5.5)) : std::pow(10.0, random.uniform(-33, -6));
            c.rows[i][static_cast<std::size_t>(field)] *= static_cast<float>(scale);
        }
    }
    return c;
}

// Power field zero and x small: gv never matters and gi, delta_esr and factor1 barely do, so the costs of
// most combinations lie close together.
Case flatCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.name = "auto 100, flat";
    for (int i = 0; i < kAdversarialRows; ++i) {
        const float loss = static_cast<float>(random.between(40, 150));
        c.rows.push_back({1.0f, 125000.0f, static_cast<float>(random.between(1, 60)), 0.0f, loss, 1500.0f,
                          -loss + static_cast<float>(random.between(-3, 3))});
    }
    return c;
}

// A large loss field in every row, no power and small x: each row's residual rounds to the same float for
// most combinations, so millions of them cost exactly the same and the first visited must win.
Case tiedCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.name = "auto 100, flat and tied";
    for (int i = 0; i < kAdversarialRows; ++i)
        c.rows.push_back({1.0f, 125000.0f, static_cast<float>(random.between(100, 300)), 0.0f,
                          static_cast<float>(536870912 + 64 * random.between(0, 1000)), 1500.0f, 0.0f});
    return c;
}

// x zero everywhere: the cost depends on gv·gi and fod_offset only, so gain pairs with the same product tie
// and delta_esr, factor1 and factor2 never matter.
Case gainProductTiesCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.name = "auto 100, exact ties";
    const FodParameterSet p = fodParametersAt(automotiveFodGrids(), {0, 20, 4, 3, 5, 5});
    for (int i = 0; i < kAdversarialRows; ++i) {
        const float field3 = static_cast<float>(random.between(800, 3000));
        const float field4 = static_cast<float>(random.between(40, 150));
        const float reference =
            static_cast<float>(static_cast<double>(fodmodel::power(field3, p.gv, p.gi, 1.0f, p.fod_offset)) - field4);
        c.rows.push_back({1.0f, 125000.0f, 0.0f, field3, field4, 1500.0f, reference});
    }
    return c;
}

// Half the rows with loss and reference fields near 1e8: the reference's costs carry those rows' own float
// roundings, which no bound can see through, so every combination within that noise is evaluated.
Case manyLargeRowsCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.name = "auto 60, 30 rows near 1e8";
    c.rows = cleanRows(FOD_BOARD_AUTOMOTIVE, 60, random);
    for (std::size_t i = 0; i < c.rows.size(); i += 2) {
        c.rows[i][fodmodel::kFieldLoss] = static_cast<float>(1e8 * random.uniform(0.5, 1.5));
        c.rows[i][fodmodel::kFieldReference] = static_cast<float>(-1e8 * random.uniform(0.5, 1.5));
    }
    return c;
}

// Three rows, two of them saturated: the reference is quick, and the search must not cost more.
Case shortCase()
{
    Case c;
    c.name = "auto 3, two glitch rows";
    c.rows = {{1.0f, 0.0f, 1000.0f, 1000.0f, kSaturated, 0.0f, 0.0f},
              {1.0f, 0.0f, 1000.0f, 1000.0f, kSaturated, 0.0f, 0.0f},
              {1.0f, 125000.0f, 2500.0f, 1500.0f, 80.0f, 1500.0f, 600.0f}};
    return c;
}

Case capCase(std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.name = "auto 4096 (cap), 4 outliers";
    c.target = Target::Hundredfold;
    c.big = true;
    c.rows = cleanRows(FOD_BOARD_AUTOMOTIVE, FOD_MAX_ROWS - 4, random);
    std::vector<FodRow> extra;
    for (int k = 0; k < 4; ++k)
        extra.push_back(outlierRow(FOD_BOARD_AUTOMOTIVE, std::pow(10.0, random.uniform(4.0, 9.0)), false, random));
    insertAtRandom(c.rows, extra, random);
    return c;
}

// The searches of one fit: the whole capture for Automotive, one per gain for XMC.
std::vector<std::vector<FodRow>> searchesOf(const Case &c)
{
    if (c.board == FOD_BOARD_AUTOMOTIVE)
        return {c.rows};
    std::vector<std::vector<FodRow>> groups(kXmcGains.size());
    for (std::size_t k = 0; k < kXmcGains.size(); ++k) {
        for (const FodRow &row : c.rows) {
            if (row[fodmodel::kFieldGain] == kXmcGains[k])
                groups[k].push_back(row);
        }
    }
    return groups;
}

struct Outcome {
    bool ran = false;
    double seconds = 0.0;
    double peakMiB = 0.0;
    int searches = 0;
    std::array<FodSearchResult, 3> results{};
};

double peakResidentMiB()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1.0;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (!std::strncmp(line, "VmHWM:", 6))
            kib = std::atol(line + 6);
    }
    std::fclose(status);
    return static_cast<double>(kib) / 1024.0;
}

Outcome runHere(const Case &c, const FodSearchOptions &options, int repeat)
{
    const FodGrids grids = c.board == FOD_BOARD_AUTOMOTIVE ? automotiveFodGrids() : xmcFodGrids();
    const std::vector<std::vector<FodRow>> searches = searchesOf(c);
    Outcome outcome;
    outcome.ran = true;
    outcome.searches = static_cast<int>(searches.size());
    outcome.seconds = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < searches.size(); ++k)
            outcome.results[k] = fodSearch(searches[k], grids, options);
        outcome.seconds =
            std::min(outcome.seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    outcome.peakMiB = peakResidentMiB();
    return outcome;
}

// Runs the searches in a child process and reads back what it found, its best time and its VmHWM.
Outcome runInChild(const Case &c, const FodSearchOptions &options, int repeat)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const Outcome outcome = runHere(c, options, repeat);
        const ssize_t written = write(pipeEnds[1], &outcome, sizeof outcome);
        _exit(written == static_cast<ssize_t>(sizeof outcome) ? 0 : 1);
    }
    close(pipeEnds[1]);
    Outcome outcome;
    if (child > 0) {
        if (read(pipeEnds[0], &outcome, sizeof outcome) != static_cast<ssize_t>(sizeof outcome))
            outcome = Outcome{};
        int status = 0;
        waitpid(child, &status, 0);
    }
    close(pipeEnds[0]);
    return outcome;
}

bool same(const Outcome &a, const Outcome &b)
{
    if (a.searches != b.searches)
        return false;
    for (int k = 0; k < a.searches; ++k) {
        const FodSearchResult &x = a.results[static_cast<std::size_t>(k)];
        const FodSearchResult &y = b.results[static_cast<std::size_t>(k)];
        if (x.found != y.found || (x.found && (x.index != y.index || x.cost != y.cost || x.secondCost != y.secondCost)))
            return false;
    }
    return true;
}

std::string duration(double seconds)
{
    char text[32];
    if (seconds >= 1.0)
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
    return text;
}

std::string figure(const Outcome &o)
{
    if (!o.ran)
        return "skipped";
    char text[48];
    std::snprintf(text, sizeof text, "%9s %5.1f", duration(o.seconds).c_str(), o.peakMiB);
    return text;
}

void writeCapture(const std::string &directory, const Case &c)
{
    std::string name = c.name;
    for (char &ch : name) {
        if (ch == ' ' || ch == ',' || ch == '(' || ch == ')' || ch == '^' || ch == '.')
            ch = '-';
    }
    const std::string path = directory + "/" + name + ".txt";
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return;
    }
    for (const FodRow &row : c.rows)
        std::fprintf(file, "%.9g %.9g %.9g %.9g %.9g %.9g %.9g\r\n", row[0], row[1], row[2], row[3], row[4], row[5],
                     row[6]);
    std::fclose(file);
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    cases.push_back(cleanCase(FOD_BOARD_AUTOMOTIVE, 40, kSeed, false));
    cases.push_back(cleanCase(FOD_BOARD_AUTOMOTIVE, 1000, kSeed + 1, true));
    cases.push_back(cleanCase(FOD_BOARD_XMC, 40, kSeed + 2, false));
    cases.push_back(cleanCase(FOD_BOARD_XMC, 1000, kSeed + 3, true));
    cases.push_back(glitchCase(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, kSeed + 10, "last"));
    cases.push_back(glitchCase(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, kSeed + 11, "first"));
    cases.push_back(glitchCase(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, kSeed + 12, "inside"));
    cases.push_back(outlierCase(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, kSeed + 13, 8, 4294967296.0, false,
                                "auto 100, 8 outliers to 2^32"));
    cases.push_back(
        outlierCase(FOD_BOARD_AUTOMOTIVE, kAdversarialRows, kSeed + 14, 2, 1e12, true, "auto 100, 2 rows at 1e12"));
    cases.push_back(magnitudeCase(kSeed + 15, -3.0, 5.5, "auto 100, fields scaled 1e-3..3e5"));
    cases.push_back(tinyAndHugeCase(kSeed + 16));
    cases.push_back(flatCase(kSeed + 17));
    cases.push_back(tiedCase(kSeed + 18));
    cases.push_back(gainProductTiesCase(kSeed + 19));
    cases.push_back(manyLargeRowsCase(kSeed + 23));
    cases.push_back(shortCase());
    cases.push_back(glitchCase(FOD_BOARD_XMC, kAdversarialXmcRowsPerGain, kSeed + 20, "inside"));
    cases.push_back(outlierCase(FOD_BOARD_XMC, kAdversarialXmcRowsPerGain, kSeed + 21, 8, 4294967296.0, false,
                                "xmc 3x30, 8 outliers per gain"));
    cases.push_back(capCase(kSeed + 22));
    return cases;
}

} // namespace

int main(int argc, char *argv[])
{
    bool skipReference = false;
    bool full = false;
    int repeat = 3;
    std::string captures;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--skip-reference")) {
            skipReference = true;
        } else if (!std::strcmp(argv[i], "--full")) {
            full = true;
        } else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--captures") && i + 1 < argc) {
            captures = argv[++i];
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--skip-reference] [--full] [--repeat N] [--captures DIR] [--only TEXT]\n",
                         argv[0]);
            return 2;
        }
    }

    const unsigned cores = defaultFodSearchThreads();
    std::printf("FOD fit, seed %u; fast: best of %d, reference: one run; \"all\" = %u threads\n", kSeed, repeat, cores);
    std::printf("peak = VmHWM (MiB) of a forked child running only that search; the bench alone: %.1f MiB\n",
                peakResidentMiB());
    std::printf("target: fast on 1 thread >= 1x (or 100x) the reference, every peak < %.0f MiB\n\n", kPeakLimitMiB);
    std::printf("%-32s %5s %3s | %-15s | %-15s | %-15s | %8s %6s %4s %s\n", "capture", "rows", "fit", "reference 1 thr",
                "fast 1 thread", "fast all", "ref/fast", "target", "met", "same");
    bool allSame = true;
    for (const Case &c : allCases()) {
        if (!only.empty() && c.name.find(only) == std::string::npos)
            continue;
        if (!captures.empty())
            writeCapture(captures, c);
        const Outcome one = runInChild(c, {FodSearchMethod::Fast, 1}, repeat);
        const Outcome all = runInChild(c, {FodSearchMethod::Fast, cores}, repeat);
        Outcome reference;
        if (!skipReference && (full || !c.big))
            reference = runInChild(c, {FodSearchMethod::Reference, 1}, 1);
        const bool agree = one.ran && all.ran && same(one, all) && (!reference.ran || same(reference, one));
        allSame = allSame && agree;
        const double targetRatio = c.target == Target::Hundredfold ? kHundredfold : 1.0;
        const double ratio = reference.ran ? reference.seconds / one.seconds : 0.0;
        const bool memoryMet = one.peakMiB < kPeakLimitMiB && all.peakMiB < kPeakLimitMiB &&
                               (!reference.ran || reference.peakMiB < kPeakLimitMiB);
        char ratioText[32] = "-";
        if (reference.ran)
            std::snprintf(ratioText, sizeof ratioText, "%.0fx", ratio);
        char targetText[16];
        std::snprintf(targetText, sizeof targetText, ">=%.0fx", targetRatio);
        const char *met = !memoryMet ? "NO" : !reference.ran ? "mem" : ratio >= targetRatio ? "yes" : "NO";
        int found = 0;
        for (int k = 0; k < one.searches; ++k)
            found += one.results[static_cast<std::size_t>(k)].found ? 1 : 0;
        std::printf("%-32s %5zu %d/%d | %-15s | %-15s | %-15s | %8s %6s %4s %s\n", c.name.c_str(), c.rows.size(), found,
                    one.searches, figure(reference).c_str(), figure(one).c_str(), figure(all).c_str(), ratioText,
                    targetText, met, agree ? "yes" : "NO");
        std::fflush(stdout);
    }
    return allSame ? 0 : 1;
}
