// zavlo-fodfit: runs the FOD parse and gain fit of the FOD tab on a capture file and prints the
// FOD-pane texts, the fitted parameters and the calibration bytes that a write would patch.

#include "fod/fodcalpatch.h"
#include "fod/fodparser.h"
#include "fod/fodsearch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <string>

namespace {

constexpr int kExitFitted = 0;
constexpr int kExitNoFit = 1;
constexpr int kExitUsage = 2;

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zavlo-fodfit"));

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
    parser.addOptions({boardOption, threadsOption, referenceOption, verboseOption});
    parser.process(app);

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
    FodMessages messages;
    messages.output = [](const std::string &text) {
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
    if (lines.isEmpty()) {
        messages.log("No captured data!");
        messages.out("No captured data!\r\n");
        return kExitNoFit;
    }

    FodDataTable table;
    FodGainResult result;
    QElapsedTimer timer;
    timer.start();
    const bool fitted = parseFodData(lines, board, table, result, messages, options);
    if (verbose)
        std::fprintf(stderr, "fit took %lld ms\n", static_cast<long long>(timer.elapsed()));
    if (!fitted) {
        std::fputs("\n", stdout);
        return kExitNoFit;
    }
    printParameters(board, result);
    return kExitFitted;
}
