#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <map>
#include <vector>

// One "BENCH seq= N t_us= T" line as it stood in the terminal pane.
struct BenchLine {
    uint64_t seq = 0;
    int64_t sentUs = 0; // CLOCK_MONOTONIC microseconds at which the simulator began to send it
    int wireBytes = 0;  // the line as it went over the wire, line end included
};

// Rebuilds the simulator's benchmark lines from the pieces of text that reach the pane or the
// session log, which split lines anywhere and may put a time stamp in front of each, and keeps
// count of lines missing from or out of place in the sequence.
class BenchLineTracker
{
public:
    // Takes the next piece of pane text and returns the benchmark lines it completes, in order.
    std::vector<BenchLine> feed(QStringView piece);

    uint64_t shown() const { return shownCount; }
    // Sequence numbers between the first line seen and the highest one that have not been seen.
    uint64_t lost() const { return lostCount; }
    // Lines that came after a line with a higher number and filled a gap.
    uint64_t outOfOrder() const { return outOfOrderCount; }
    // Lines whose number had been seen already, or lies before the first line seen.
    uint64_t repeated() const { return repeatedCount; }
    // Lines that start like a benchmark line but do not parse as one (a damaged line).
    uint64_t malformed() const { return malformedCount; }
    bool started() const { return haveSeq; }
    uint64_t firstSeq() const { return first; }
    uint64_t highestSeq() const { return highest; }

private:
    void takeLine(QStringView line, std::vector<BenchLine> &out);

    void fillGap(uint64_t seq);

    QString partial;
    // Runs of missing numbers, first to last inclusive, keyed by their first number.
    std::map<uint64_t, uint64_t> gaps;
    bool haveSeq = false;
    uint64_t first = 0;
    uint64_t highest = 0;
    uint64_t shownCount = 0;
    uint64_t lostCount = 0;
    uint64_t outOfOrderCount = 0;
    uint64_t repeatedCount = 0;
    uint64_t malformedCount = 0;
};
