#pragma once

#include "sim/fodlinegenerator.h"
#include "sim/simconfig.h"

#include <cstdint>
#include <string>

// The text the application firmware prints, one line at a time with its "\r\n": plain lines,
// FOD data lines and non-data status lines, or timestamped benchmark lines.
class AppTextSource
{
public:
    static constexpr const char *kStatusLine =
        "Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0";

    explicit AppTextSource(const AppTextConfig &config = AppTextConfig());

    std::string nextLine(int gain);
    // A benchmark line carries the CLOCK_MONOTONIC time in microseconds at which it was made.
    std::string benchmarkLine(int64_t nowUs);

    const AppTextConfig &config() const { return cfg; }

private:
    AppTextConfig cfg;
    FodLineGenerator generator;
    uint64_t lineNumber = 0;
    uint64_t plainIndex = 0;
    uint64_t fileIndex = 0;
};
