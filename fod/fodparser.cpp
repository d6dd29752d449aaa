#include "fod/fodparser.h"

#include "fod/fodfit.h"
#include "fod/fodsearch.h"

#include <QRegularExpression>

#include <string>

const char FOD_SAMPLE_LINE[] = "1 127700   1055   1903     80   1823   1482";

namespace {

const char kNoParsableText[] = "No parsable FOD data!";
const char kUnsupportedBoardText[] = "Board NOT supposed for FOD calibration!";
constexpr int kMinimumRows = 2;

} // namespace

QStringList splitCaptureLines(const QString &captureText)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    return captureText.split(lineEnd, Qt::SkipEmptyParts);
}

int fillFodDataTable(const QStringList &lines, FodDataTable &table)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    table.rows.clear();
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('=')))
            continue;
        const QStringList pieces = line.split(whitespace, Qt::SkipEmptyParts);
        if (pieces.size() != FOD_FIELDS || table.count() >= FOD_MAX_ROWS)
            continue;
        FodRow row{};
        // toFloat gives 0.0 for anything that is not a number, which is what the board's odd lines need.
        for (int i = 0; i < FOD_FIELDS; ++i)
            row[static_cast<std::size_t>(i)] = pieces.at(i).toFloat();
        table.rows.push_back(row);
    }
    return table.count();
}

bool parseFodData(const QStringList &lines, int board, FodDataTable &table, FodGainResult &result,
                  const FodMessages &messages)
{
    return parseFodData(lines, board, table, result, messages, FodSearchOptions{});
}

bool parseFodData(const QStringList &lines, int board, FodDataTable &table, FodGainResult &result,
                  const FodMessages &messages, const FodSearchOptions &options, FodFitReport *report)
{
    FodFitReport unused;
    FodFitReport &fit = report ? *report : unused;
    fit = FodFitReport{};
    messages.log("List length is " + std::to_string(lines.size()));
    if (fillFodDataTable(lines, table) < kMinimumRows) {
        messages.out(kNoParsableText);
        messages.log(kNoParsableText);
        return false;
    }
    if (board == FOD_BOARD_AUTOMOTIVE)
        return calculateAutomotiveGains(table, result, messages, options, fit);
    if (board == FOD_BOARD_XMC)
        return calculateXmcGains(table, result, messages, options, fit);
    messages.out(kUnsupportedBoardText);
    return false;
}
