// Treats the input as text captured from the board (one Latin-1 character per byte, as the worker
// appends it), splits it into lines and builds the FOD data table from them, checking the line
// and row rules against a plain reading of the capture. The fit itself is never run: the dispatch
// is exercised with a board value that is turned away before it.

#include "fod/fodmessages.h"
#include "fod/fodparser.h"
#include "fod/fodtypes.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRejectedBoard = 2;
constexpr int kMinimumRows = 2;
// About one input in this many also runs a capture long enough to reach the row limit; that run
// costs some thousand times an ordinary one.
constexpr quint32 kLongCaptureEvery = 512;

bool isFieldSpace(QChar c)
{
    const ushort u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}

// Whitespace-separated pieces, read without regular expressions.
QStringList piecesOf(const QString &line)
{
    QStringList pieces;
    int i = 0;
    while (i < line.size()) {
        while (i < line.size() && isFieldSpace(line.at(i)))
            ++i;
        const int begin = i;
        while (i < line.size() && !isFieldSpace(line.at(i)))
            ++i;
        if (i > begin)
            pieces.append(line.mid(begin, i - begin));
    }
    return pieces;
}

// FNV-1a, to pick the inputs for the long run by content rather than by size.
quint32 hashOf(const uint8_t *data, size_t size)
{
    quint32 hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The rows the table must hold: the first FOD_MAX_ROWS lines without "=" of exactly seven pieces.
void checkTable(const QStringList &lines, const FodDataTable &table, int stored)
{
    FUZZ_CHECK(stored == table.count());
    FUZZ_CHECK(table.count() <= FOD_MAX_ROWS);
    int row = 0;
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('=')))
            continue;
        const QStringList pieces = piecesOf(line);
        if (pieces.size() != FOD_FIELDS)
            continue;
        if (row == FOD_MAX_ROWS)
            break;
        FUZZ_CHECK(row < table.count());
        for (int i = 0; i < FOD_FIELDS; ++i)
            FUZZ_CHECK(sameBits(table.rows[size_t(row)][size_t(i)], pieces.at(i).toFloat()));
        ++row;
    }
    FUZZ_CHECK(row == table.count());
}

} // namespace

// Qt is built without frame pointers, so the fast unwinder records its frames as noise and every
// allocation looks like a new stack; the stack store then grows without end and the run slows to
// a crawl. Two frames still name the allocating call; a report's access stack is unwound in full.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=2";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QString capture = QString::fromLatin1(reinterpret_cast<const char *>(data), int(size));

    const QStringList lines = splitCaptureLines(capture);
    QString joined;
    for (const QString &line : lines) {
        FUZZ_CHECK(!line.isEmpty());
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')));
        FUZZ_CHECK(!line.contains(QLatin1Char('\n')));
        joined += line;
    }
    // Splitting drops the line ends and nothing else.
    QString withoutLineEnds = capture;
    withoutLineEnds.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    FUZZ_CHECK(joined == withoutLineEnds);

    FodDataTable table;
    table.rows.assign(3, FodRow{1, 2, 3, 4, 5, 6, 7}); // a previous parse must not leak into this one
    const int stored = fillFodDataTable(lines, table);
    checkTable(lines, table, stored);

    // The dispatch: too few rows or an unknown board, and never a fit.
    std::vector<std::string> output;
    FodMessages messages;
    messages.output = [&output](const std::string &text) { output.push_back(text); };
    FodDataTable dispatchTable;
    FodGainResult result;
    const bool fitted = parseFodData(lines, kRejectedBoard, dispatchTable, result, messages);
    FUZZ_CHECK(!fitted);
    FUZZ_CHECK(dispatchTable.rows == table.rows);
    FUZZ_CHECK(output.size() == 1);
    FUZZ_CHECK(output.front() ==
               (stored < kMinimumRows ? "No parsable FOD data!" : "Board NOT supposed for FOD calibration!"));
    for (const FodParameterSet &set : result.sets)
        FUZZ_CHECK(set.gv == 0.0f && set.gi == 0.0f && set.delta_esr == 0.0f && set.fod_offset == 0.0f &&
                   set.factor1 == 0.0f && set.factor2 == 0.0f);

    // The row limit: repeat the lines until they hold more data lines than the table takes.
    if (stored > 0 && hashOf(data, size) % kLongCaptureEvery == 0) {
        QStringList longCapture;
        while (longCapture.size() / lines.size() * stored <= FOD_MAX_ROWS)
            longCapture += lines;
        FodDataTable full;
        const int fullStored = fillFodDataTable(longCapture, full);
        FUZZ_CHECK(fullStored == FOD_MAX_ROWS);
        checkTable(longCapture, full, fullStored);
    }
    return 0;
}
