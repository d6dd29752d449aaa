// zavlo-fodfit: runs the FOD parse and gain fit of the FOD tab on a capture file and prints the
// FOD-pane texts, the fitted parameters and the calibration bytes that a write would patch; or
// all of it with the fit's quality figures as one JSON object. It can also save the FOD tab's plot.

#include "fod/fodcalpatch.h"
#include "fod/fodfitreport.h"
#include "fod/fodparser.h"
#include "fod/fodsearch.h"
#include "ui/fodplotview.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int kExitFitted = 0;
constexpr int kExitNoFit = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPlotNotWritten = 3;

bool parseBoard(const QString &text, int &board)
{
    const QString value = text.toLower();
    if (value == QLatin1String("auto") || value == QLatin1String("automotive") || value == QLatin1String("0")) {
        board = FOD_BOARD_AUTOMOTIVE;
        return true;
    }
    if (value == QLatin1String("xmc") || value == QLatin1String("1")) {
        board = FOD_BOARD_XMC;
        return true;
    }
    bool ok = false;
    board = value.toInt(&ok);
    return ok;
}

void printParameters(int board, const FodGainResult &result)
{
    const int sets = board == FOD_BOARD_XMC ? 3 : 1;
    for (int k = 0; k < sets; ++k) {
        const FodParameterSet &s = result.sets[static_cast<std::size_t>(k)];
        std::printf("set %d: gv %f  gi %f  delta_esr %f  fod_offset %f  factor1 %f  factor2 %f\n", k, s.gv, s.gi,
                    s.delta_esr, s.fod_offset, s.factor1, s.factor2);
    }
    std::printf("calibration bytes:\n");
    for (const FodCalPatch &p : fodCalibrationPatches(board, result)) {
        std::printf("  %4d: %02x %02x %02x %02x  (%.9g)\n", p.offset, p.bytes[0], p.bytes[1], p.bytes[2], p.bytes[3],
                    static_cast<double>(p.value));
    }
}

QJsonObject parametersJson(const FodParameterSet &s)
{
    return QJsonObject{{QStringLiteral("gv"), double(s.gv)},
                       {QStringLiteral("gi"), double(s.gi)},
                       {QStringLiteral("delta_esr"), double(s.delta_esr)},
                       {QStringLiteral("fod_offset"), double(s.fod_offset)},
                       {QStringLiteral("factor1"), double(s.factor1)},
                       {QStringLiteral("factor2"), double(s.factor2)}};
}

QJsonObject setJson(const FodSetReport &set)
{
    QJsonObject json{{QStringLiteral("fitted"), set.fitted}, {QStringLiteral("rowsUsed"), set.rowsUsed()}};
    if (set.gain != 0)
        json.insert(QStringLiteral("gain"), set.gain);
    if (!set.fitted)
        return json;
    QJsonArray outlierRows;
    for (const FodFitPoint &point : set.points) {
        if (point.outlier)
            outlierRows.append(point.tableRow + 1);
    }
    json.insert(QStringLiteral("parameters"), parametersJson(set.parameters));
    json.insert(QStringLiteral("bestCost"), set.bestCost);
    // No other combination fits: JSON has no infinity, so the second cost and the gap are null.
    const bool second = std::isfinite(set.secondCost);
    json.insert(QStringLiteral("secondCost"), second ? QJsonValue(set.secondCost) : QJsonValue());
    json.insert(QStringLiteral("costGap"), second ? QJsonValue(set.costGap()) : QJsonValue());
    json.insert(QStringLiteral("rmsResidual"), set.rmsResidual);
    json.insert(QStringLiteral("largestResidual"), double(set.largestResidual));
    json.insert(QStringLiteral("medianAbsResidual"), set.medianAbsResidual);
    json.insert(QStringLiteral("outlierLimit"), set.outlierLimit);
    json.insert(QStringLiteral("outlierDataRows"), outlierRows);
    return json;
}

// Data rows count from 1 in the order the parse took them, as the pane's quality lines name them.
QJsonObject reportJson(int board, bool fitted, const std::string &paneText, const FodFitReport &report,
                       const FodGainResult &result)
{
    QJsonArray sets;
    for (const FodSetReport &set : report.sets)
        sets.append(setJson(set));
    QJsonArray patches;
    if (fitted) {
        for (const FodCalPatch &p : fodCalibrationPatches(board, result)) {
            const QByteArray bytes(reinterpret_cast<const char *>(p.bytes.data()), int(p.bytes.size()));
            patches.append(QJsonObject{{QStringLiteral("offset"), p.offset},
                                       {QStringLiteral("bytes"), QString::fromLatin1(bytes.toHex(' '))},
                                       {QStringLiteral("value"), double(p.value)}});
        }
    }
    const QJsonValue boardName = board == FOD_BOARD_AUTOMOTIVE ? QJsonValue(QStringLiteral("automotive"))
                                 : board == FOD_BOARD_XMC      ? QJsonValue(QStringLiteral("xmc"))
                                                               : QJsonValue(board);
    return QJsonObject{{QStringLiteral("board"), boardName},
                       {QStringLiteral("fitted"), fitted},
                       {QStringLiteral("paneText"), QString::fromStdString(paneText)},
                       {QStringLiteral("sets"), sets},
                       {QStringLiteral("calibrationBytes"), patches}};
}

} // namespace

int main(int argc, char *argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fits the FOD parameters to a captured FOD text file."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("capture"), QStringLiteral("Captured board text."));
    const QCommandLineOption boardOption({QStringLiteral("b"), QStringLiteral("board")},
                                         QStringLiteral("Board type: auto (0) or xmc (1)."), QStringLiteral("board"),
                                         QStringLiteral("auto"));
    const QCommandLineOption threadsOption({QStringLiteral("t"), QStringLiteral("threads")},
                                           QStringLiteral("Threads of the fast search (0: every core)."),
                                           QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption referenceOption(QStringLiteral("reference"),
                                             QStringLiteral("Use the plain brute-force search."));
    const QCommandLineOption verboseOption({QStringLiteral("v"), QStringLiteral("verbose")},
                                           QStringLiteral("Print the debug lines and the fit time to stderr."));
    const QCommandLineOption plotOption(
        QStringLiteral("plot"),
        QStringLiteral("Also save the FOD tab's plot of the fit, drawn without a display: FILE.png or FILE.svg."),
        QStringLiteral("file"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object: pane text, parameters, quality figures, calibration bytes."));
    parser.addOptions({boardOption, threadsOption, referenceOption, verboseOption, plotOption, jsonOption});

    // Only a picture needs widgets, and those draw offscreen; without --plot no GUI library starts.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool plot = parser.parse(arguments) && parser.isSet(plotOption);
    if (plot)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        plot ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zavlo-fodfit"));
    parser.process(*app);

    const QStringList positional = parser.positionalArguments();
    int board = 0;
    bool threadsOk = false;
    const int threads = parser.value(threadsOption).toInt(&threadsOk);
    if (positional.size() != 1 || !parseBoard(parser.value(boardOption), board) || !threadsOk || threads < 0) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return kExitUsage;
    }
    QFile file(positional.first());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "Cannot open %s: %s\n", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return kExitUsage;
    }
    // The worker keeps the capture one character per byte.
    const QString capture = QString::fromLatin1(file.readAll());

    const bool verbose = parser.isSet(verboseOption);
    const bool json = parser.isSet(jsonOption);
    std::string paneText;
    FodMessages messages;
    messages.output = [json, &paneText](const std::string &text) {
        paneText += text;
        if (json)
            return;
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
    if (verbose)
        messages.debug = [](const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); };

    FodSearchOptions options;
    options.method = parser.isSet(referenceOption) ? FodSearchMethod::Reference : FodSearchMethod::Fast;
    options.threads = static_cast<unsigned>(threads);

    // Unlike the worker, which keeps the lines of its last calculation for an unknown board, the tool
    // has only the file, so an unknown board goes on to the parse and is refused there.
    const QStringList lines = splitCaptureLines(capture);
    if (board == FOD_BOARD_AUTOMOTIVE || board == FOD_BOARD_XMC)
        messages.out(board == FOD_BOARD_XMC ? "Calculating Gains for XMC Board...\r\n"
                                            : "Calculating Gains for Auto Board...\r\n");
    FodDataTable table;
    FodGainResult result;
    FodFitReport report;
    bool fitted = false;
    if (lines.isEmpty()) {
        messages.log("No captured data!");
        messages.out("No captured data!\r\n");
    } else {
        QElapsedTimer timer;
        timer.start();
        fitted = parseFodData(lines, board, table, result, messages, options, &report);
        if (verbose)
            std::fprintf(stderr, "fit took %lld ms\n", static_cast<long long>(timer.elapsed()));
        if (!json && !fitted)
            std::fputs("\n", stdout);
    }

    if (json)
        std::fputs(QJsonDocument(reportJson(board, fitted, paneText, report, result)).toJson().constData(), stdout);
    else if (fitted)
        printParameters(board, result);
    if (plot) {
        FodPlotView view;
        view.showReport(report);
        QString error;
        if (!view.saveImage(parser.value(plotOption), QSize(), error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return kExitPlotNotWritten;
        }
    }
    return fitted ? kExitFitted : kExitNoFit;
}
