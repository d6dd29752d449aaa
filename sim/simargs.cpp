#include "sim/simargs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char *programName = "zavlo-sim";
}

void setProgramName(const char *name)
{
    programName = name;
}

void usageError(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\nTry --help.\n", programName, message.c_str());
    std::exit(2);
}

long long parseNumber(const char *text, const char *what)
{
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0')
        usageError(std::string("bad number for ") + what + ": " + text);
    return v;
}

long long parseCount(const char *text, const char *what)
{
    const long long v = parseNumber(text, what);
    if (v < 0)
        usageError(std::string("bad number for ") + what + ": " + text);
    return v;
}

uint16_t parseWord(const char *text, const char *what)
{
    const char *dot = std::strchr(text, '.');
    if (dot) {
        const std::string major(text, dot);
        const long long hi = parseNumber(major.c_str(), what);
        const long long lo = parseNumber(dot + 1, what);
        if (hi < 0 || hi > 255 || lo < 0 || lo > 255)
            usageError(std::string("bad version for ") + what + ": " + text);
        return static_cast<uint16_t>((hi << 8) | lo);
    }
    const long long v = parseNumber(text, what);
    if (v < 0 || v > 0xFFFF)
        usageError(std::string("value out of range for ") + what + ": " + text);
    return static_cast<uint16_t>(v);
}
