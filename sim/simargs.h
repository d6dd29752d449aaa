#pragma once

// Option values of the simulator's programs. A value that does not parse ends the program with
// exit code 2 and a hint that names it.

#include <cstdint>
#include <string>

// The name the error messages start with; set once at the start of main.
void setProgramName(const char *name);

[[noreturn]] void usageError(const std::string &message);

// Decimal or 0x hexadecimal, signed.
long long parseNumber(const char *text, const char *what);

// As parseNumber, but never negative.
long long parseCount(const char *text, const char *what);

// A 16-bit value, or a version as MAJOR.MINOR (major in the high byte).
uint16_t parseWord(const char *text, const char *what);
