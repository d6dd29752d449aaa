#pragma once

// Option values of the simulator's programs. A value that does not parse ends the program with
// exit code 2 and a hint that names it.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// The name the error messages start with; set once at the start of main.
void setProgramName(const char *name);

[[noreturn]] void usageError(const std::string &message);

// Decimal or 0x hexadecimal, signed.
long long parseNumber(const char *text, const char *what);

// As parseNumber, but never negative.
long long parseCount(const char *text, const char *what);

// A 16-bit value, or a version as MAJOR.MINOR (major in the high byte).
uint16_t parseWord(const char *text, const char *what);

// One of a few named values; anything else is a usage error, `error` followed by the text.
template<typename T>
T parseChoice(const std::string &text, std::initializer_list<std::pair<const char *, T>> choices,
              const std::string &error)
{
    for (const auto &choice : choices)
        if (text == choice.first)
            return choice.second;
    usageError(error + text);
}

// What an option does with its value (nullptr for a flag); `option` is its name as typed, e.g.
// "--gain", for the error messages.
using OptionSetter = std::function<void(const char *value, const char *option)>;

// One row of a program's option table: the name without dashes, the argument's name in the help
// (nullptr for a flag), the help text (further lines after '\n') and the setter. A row without a
// name is a heading of the help text.
struct ProgramOption {
    const char *name;
    const char *argument;
    const char *help;
    OptionSetter set;
    char shortName = 0;
};

// Runs the setters of the options on the command line, in their order. -h and --help print
// `intro`, the table with the help texts from column `helpColumn`, and end the program with 0.
// Returns the index of the first argument that is not an option.
int parseProgramOptions(int argc, char **argv, const std::vector<ProgramOption> &options, const char *intro,
                        int helpColumn);

// Ends the program with a usage error when arguments follow the options.
void rejectOperands(int argc, char **argv, int firstOperand);

// Setters for the common kinds of value.
OptionSetter setFlag(bool &target);
OptionSetter setText(std::string &target);
OptionSetter setWord(uint16_t &target);
// A MAJOR.MINOR version (or a word) into its two halves.
OptionSetter setVersion(uint16_t &major, uint16_t &minor);

template<typename T> OptionSetter setNumber(T &target)
{
    return [&target](const char *value, const char *option) { target = static_cast<T>(parseNumber(value, option)); };
}

template<typename T> OptionSetter setCount(T &target)
{
    return [&target](const char *value, const char *option) { target = static_cast<T>(parseCount(value, option)); };
}
