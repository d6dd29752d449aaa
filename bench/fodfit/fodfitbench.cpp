// zavlo-fodfit-bench: times the reference search, the fast search on one thread and on every core
// on seeded, realistic captures, checks that all three choose the same parameters and prints the
// figures. Options: --skip-reference, --repeat N (fast runs per figure, best kept), --captures DIR
// (also write the captures as text files for zavlo-fodfit).

#include "fod/fodfit.h"
#include "fod/fodgrids.h"
#include "fod/fodmodel.h"
#include "fod/fodsearch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSeed = 20240611u;
constexpr float kNoiseSigma = 2.0f;

class Random
{
public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int between(int low, int high)
    {
        return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
    }
    // Roughly normal: the sum of twelve uniforms.
    float gaussian()
    {
        float sum = 0.0f;
        for (int i = 0; i < 12; ++i)
            sum += static_cast<float>(next() % 65536u) / 65536.0f;
        return sum - 6.0f;
    }

private:
    std::uint32_t state_;
};

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

struct Case {
    std::string name;
    int board;
    FodDataTable table;
};

Case makeCase(int board, int rowsPerGain, std::uint32_t seed)
{
    Random random(seed);
    Case c;
    c.board = board;
    if (board == FOD_BOARD_AUTOMOTIVE) {
        c.name = "automotive " + std::to_string(rowsPerGain);
        appendRows(c.table.rows, fodParametersAt(automotiveFodGrids(), {9, 12, 10, 4, 3, 7}), 1.0f, rowsPerGain,
                   random);
    } else {
        c.name = "xmc 3x" + std::to_string(rowsPerGain);
        const FodGrids grids = xmcFodGrids();
        const FodGridIndex truth[] = {{0, 30, 8, 5, 9, 14}, {0, 41, 12, 4, 11, 18}, {0, 55, 15, 6, 12, 22}};
        for (int k = 0; k < 3; ++k)
            appendRows(c.table.rows, fodParametersAt(grids, truth[k]), 2.0f + k, rowsPerGain, random);
    }
    return c;
}

struct Timed {
    bool fitted = false;
    FodGainResult result;
    double seconds = 0.0;
};

Timed fit(const Case &c, const FodSearchOptions &options)
{
    Timed t;
    const FodMessages quiet;
    const auto start = std::chrono::steady_clock::now();
    t.fitted = c.board == FOD_BOARD_AUTOMOTIVE ? calculateAutomotiveGains(c.table, t.result, quiet, options)
                                               : calculateXmcGains(c.table, t.result, quiet, options);
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return t;
}

Timed bestOf(const Case &c, const FodSearchOptions &options, int repeat)
{
    Timed best = fit(c, options);
    for (int i = 1; i < repeat; ++i) {
        const Timed t = fit(c, options);
        best.seconds = std::min(best.seconds, t.seconds);
    }
    return best;
}

bool same(const Timed &a, const Timed &b)
{
    if (a.fitted != b.fitted)
        return false;
    for (std::size_t k = 0; k < a.result.sets.size(); ++k) {
        const FodParameterSet &x = a.result.sets[k];
        const FodParameterSet &y = b.result.sets[k];
        if (x.gv != y.gv || x.gi != y.gi || x.delta_esr != y.delta_esr || x.fod_offset != y.fod_offset ||
            x.factor1 != y.factor1 || x.factor2 != y.factor2)
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

void writeCapture(const std::string &directory, const Case &c)
{
    std::string name = c.name;
    std::replace(name.begin(), name.end(), ' ', '-');
    const std::string path = directory + "/" + name + ".txt";
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return;
    }
    for (const FodRow &row : c.table.rows)
        std::fprintf(file, "%.0f %.0f %.0f %.0f %.0f %.0f %.0f\r\n", row[0], row[1], row[2], row[3], row[4], row[5],
                     row[6]);
    std::fclose(file);
}

} // namespace

int main(int argc, char *argv[])
{
    bool skipReference = false;
    int repeat = 3;
    std::string captures;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--skip-reference")) {
            skipReference = true;
        } else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--captures") && i + 1 < argc) {
            captures = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--skip-reference] [--repeat N] [--captures DIR]\n", argv[0]);
            return 2;
        }
    }

    const unsigned cores = defaultFodSearchThreads();
    const Case cases[] = {makeCase(FOD_BOARD_AUTOMOTIVE, 40, kSeed), makeCase(FOD_BOARD_AUTOMOTIVE, 1000, kSeed + 1),
                          makeCase(FOD_BOARD_XMC, 40, kSeed + 2), makeCase(FOD_BOARD_XMC, 1000, kSeed + 3)};
    std::printf("FOD fit, seed %u, fast runs best of %d, %u threads for \"all\"\n", kSeed, repeat, cores);
    std::printf("%-16s %6s %14s %14s %14s %12s %6s\n", "capture", "rows", "reference", "fast 1 thread", "fast all",
                "ref/fast 1t", "same");
    bool allSame = true;
    for (const Case &c : cases) {
        if (!captures.empty())
            writeCapture(captures, c);
        const Timed one = bestOf(c, {FodSearchMethod::Fast, 1}, repeat);
        const Timed all = bestOf(c, {FodSearchMethod::Fast, cores}, repeat);
        bool agree = same(one, all);
        std::string referenceText = "skipped";
        std::string ratioText = "-";
        if (!skipReference) {
            const Timed reference = fit(c, {FodSearchMethod::Reference, 1});
            agree = agree && same(reference, one);
            referenceText = duration(reference.seconds);
            char ratio[32];
            std::snprintf(ratio, sizeof ratio, "%.0fx", reference.seconds / one.seconds);
            ratioText = ratio;
        }
        allSame = allSame && agree;
        std::printf("%-16s %6d %14s %14s %14s %12s %6s\n", c.name.c_str(), c.table.count(), referenceText.c_str(),
                    duration(one.seconds).c_str(), duration(all.seconds).c_str(), ratioText.c_str(),
                    agree ? "yes" : "NO");
        std::fflush(stdout);
    }
    return allSame ? 0 : 1;
}
