#include "bench/terminal/benchlinetracker.h"

#include <QRegularExpression>

namespace {

// "\r\n" on the wire; the pane turns it into one block separator.
constexpr int kLineEndBytes = 2;
// A partial line longer than any benchmark line is text of some other kind; keep none of it.
constexpr int kMaxPartialChars = 256;

// "hh:mm:ss.zzz " in front of a line when the Terminal tab's time stamps are on.
constexpr int kStampChars = 13;

bool hasStamp(QStringView line)
{
    return line.size() > kStampChars && line.at(2) == QLatin1Char(':') && line.at(5) == QLatin1Char(':') &&
           line.at(8) == QLatin1Char('.') && line.at(12) == QLatin1Char(' ') && line.at(0).isDigit() &&
           line.at(11).isDigit();
}

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator ||
           c == QChar::LineSeparator;
}

} // namespace

std::vector<BenchLine> BenchLineTracker::feed(QStringView piece)
{
    std::vector<BenchLine> out;
    int start = 0;
    for (int i = 0; i < piece.size(); ++i) {
        if (!isLineEnd(piece.at(i)))
            continue;
        if (partial.isEmpty()) {
            takeLine(piece.mid(start, i - start), out);
        } else {
            partial.append(piece.mid(start, i - start));
            takeLine(partial, out);
            partial.clear();
        }
        start = i + 1;
    }
    partial.append(piece.mid(start));
    if (partial.size() > kMaxPartialChars)
        partial.clear();
    return out;
}

void BenchLineTracker::takeLine(QStringView line, std::vector<BenchLine> &out)
{
    if (hasStamp(line))
        line = line.mid(kStampChars);
    if (line.isEmpty())
        return;
    static const QLatin1String kPrefix("BENCH");
    if (!line.startsWith(kPrefix))
        return;
    static const QRegularExpression pattern(QStringLiteral("^BENCH seq= (\\d+) t_us= (\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(line.toString());
    bool seqOk = false;
    bool timeOk = false;
    const uint64_t seq = match.hasMatch() ? match.capturedRef(1).toULongLong(&seqOk) : 0;
    const int64_t sentUs = match.hasMatch() ? match.capturedRef(2).toLongLong(&timeOk) : 0;
    if (!seqOk || !timeOk) {
        ++malformedCount;
        return;
    }

    if (!haveSeq) {
        haveSeq = true;
        first = seq;
        highest = seq;
    } else if (seq > highest) {
        if (seq > highest + 1) {
            gaps.emplace(highest + 1, seq - 1);
            lostCount += seq - highest - 1;
        }
        highest = seq;
    } else {
        fillGap(seq);
    }
    ++shownCount;
    out.push_back(BenchLine{seq, sentUs, int(line.size()) + kLineEndBytes});
}

void BenchLineTracker::fillGap(uint64_t seq)
{
    auto it = gaps.upper_bound(seq);
    if (it == gaps.begin()) {
        ++repeatedCount;
        return;
    }
    --it;
    const uint64_t gapFirst = it->first;
    const uint64_t gapLast = it->second;
    if (seq > gapLast) {
        ++repeatedCount;
        return;
    }
    gaps.erase(it);
    if (gapFirst < seq)
        gaps.emplace(gapFirst, seq - 1);
    if (seq < gapLast)
        gaps.emplace(seq + 1, gapLast);
    --lostCount;
    ++outOfOrderCount;
}
