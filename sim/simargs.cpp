#include "sim/simargs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

const char *programName = "zavlo-sim";

void printHelp(const std::vector<ProgramOption> &options, const char *intro, int helpColumn)
{
    std::string text = intro;
    const auto addRow = [&text, helpColumn](std::string left, const char *help) {
        if (int(left.size()) < helpColumn)
            left.resize(size_t(helpColumn), ' ');
        else
            left += "\n" + std::string(size_t(helpColumn), ' ');
        text += left;
        for (const char *c = help; *c; ++c)
            text += *c == '\n' ? "\n" + std::string(size_t(helpColumn), ' ') : std::string(1, *c);
        text += '\n';
    };
    for (const ProgramOption &o : options) {
        if (!o.name) {
            text += std::string(o.help) + '\n';
            continue;
        }
        std::string left = o.shortName ? std::string("  -") + o.shortName + ", --" : std::string("  --");
        left += o.name;
        if (o.argument)
            left += std::string(" ") + o.argument;
        addRow(left, o.help);
    }
    addRow("  -h, --help", "this text");
    std::fputs(text.c_str(), stdout);
}

} // namespace

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

int parseProgramOptions(int argc, char **argv, const std::vector<ProgramOption> &options, const char *intro,
                        int helpColumn)
{
    constexpr int kFirstLongId = 1000;
    std::vector<option> table;
    std::string shortOptions;
    for (size_t i = 0; i < options.size(); ++i) {
        const ProgramOption &o = options[i];
        if (!o.name)
            continue;
        const int id = o.shortName ? o.shortName : kFirstLongId + int(i);
        table.push_back({o.name, o.argument ? required_argument : no_argument, nullptr, id});
        if (o.shortName)
            shortOptions += std::string(1, o.shortName) + (o.argument ? ":" : "");
    }
    table.push_back({"help", no_argument, nullptr, 'h'});
    table.push_back({nullptr, 0, nullptr, 0});
    shortOptions += "h";

    int id;
    while ((id = getopt_long(argc, argv, shortOptions.c_str(), table.data(), nullptr)) != -1) {
        if (id == 'h') {
            printHelp(options, intro, helpColumn);
            std::exit(0);
        }
        const ProgramOption *found = nullptr;
        for (size_t i = 0; i < options.size() && !found; ++i) {
            const ProgramOption &o = options[i];
            if (o.name && (o.shortName ? id == o.shortName : id == kFirstLongId + int(i)))
                found = &o;
        }
        if (!found)
            usageError("unknown option");
        found->set(optarg, ("--" + std::string(found->name)).c_str());
    }
    return optind;
}

void rejectOperands(int argc, char **argv, int firstOperand)
{
    if (firstOperand < argc)
        usageError(std::string("unexpected argument: ") + argv[firstOperand]);
}

OptionSetter setFlag(bool &target)
{
    return [&target](const char *, const char *) { target = true; };
}

OptionSetter setText(std::string &target)
{
    return [&target](const char *value, const char *) { target = value; };
}

OptionSetter setWord(uint16_t &target)
{
    return [&target](const char *value, const char *option) { target = parseWord(value, option); };
}

OptionSetter setVersion(uint16_t &major, uint16_t &minor)
{
    return [&major, &minor](const char *value, const char *option) {
        const uint16_t v = parseWord(value, option);
        major = v >> 8;
        minor = v & 0xFF;
    };
}
