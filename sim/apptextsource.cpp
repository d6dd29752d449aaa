#include "sim/apptextsource.h"

#include <cinttypes>
#include <cstdio>

AppTextSource::AppTextSource(const AppTextConfig &config) : cfg(config), generator(config.fod)
{
}

std::string AppTextSource::nextLine(int gain)
{
    const uint64_t n = ++lineNumber;
    const bool hasFod = !cfg.fodLines.empty() || cfg.generateFod;
    std::string line;
    if (cfg.statusLineEvery > 0 && n % static_cast<uint64_t>(cfg.statusLineEvery) == 0) {
        line = kStatusLine;
    } else if (hasFod && !(cfg.plainLineEvery > 0 && n % static_cast<uint64_t>(cfg.plainLineEvery) == 0)) {
        if (!cfg.fodLines.empty())
            line = cfg.fodLines[fileIndex++ % cfg.fodLines.size()];
        else
            line = generator.next(gain);
    } else if (!cfg.plainLines.empty()) {
        line = cfg.plainLines[plainIndex++ % cfg.plainLines.size()];
    }
    if (cfg.zeroByteEvery > 0 && n % static_cast<uint64_t>(cfg.zeroByteEvery) == 0)
        line.insert(line.size() / 2, 1, '\0');
    line += "\r\n";
    return line;
}

std::string AppTextSource::benchmarkLine(int64_t nowUs)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "BENCH seq= %" PRIu64 " t_us= %" PRId64 "\r\n", ++lineNumber, nowUs);
    return buf;
}
