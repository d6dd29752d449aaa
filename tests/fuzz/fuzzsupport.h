#pragma once

#include <QtGlobal>

#include <cstdio>

// Stops the run on a broken invariant with the condition and line on stderr, so that libFuzzer
// saves the input and the report says which property failed, not merely that it crashed.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "Invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition);                   \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (false)

// The code under test writes to the debug log on every rejected input; printing that for
// millions of inputs would cost more than the code itself.
inline void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}
