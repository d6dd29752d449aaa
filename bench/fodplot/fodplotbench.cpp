// zavlo-bench-fodplot: how long the FOD tab's plot takes for a full capture of 4096 rows (the
// parse's limit), Automotive and XMC: building the fit report from the fitted parameters,
// building the plot from it, its first paint and a PNG of it, beside the fit itself.
// Options: --repeat N (runs per figure, best and median shown), --skip-fit.
// With --window it instead shows the real window against a simulated XMC board, captures with
// the gain buttons and calculates, for scripts/screenshot.sh (--ready-file PATH is written once
// the plot is up; --hold S keeps the window S seconds longer).

#include "fod/fodfit.h"
#include "fod/fodfitreport.h"
#include "fod/fodgrids.h"
#include "fod/fodmodel.h"
#include "fod/fodsearch.h"
#include "sim/boardsimulator.h"
#include "tests/common/seededrandom.h"
#include "ui/fodplotview.h"
#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kRows = FOD_MAX_ROWS;
constexpr std::uint32_t kSeed = 20240611u;
constexpr float kNoise = 2.0f;
constexpr int kPlotWidthPx = 1500;
constexpr int kPlotHeightPx = 700;

// Window mode: lines captured per gain, and how long any one step may take.
constexpr int kWindowLinesPerGain = 120;
constexpr int kStepTimeoutMs = 60000;

using Random = SeededRandom;

struct Case {
    std::string name;
    int board = FOD_BOARD_AUTOMOTIVE;
    std::vector<int> gains;                  // 0 for the Automotive board's one set
    std::vector<FodParameterSet> parameters; // per set, as the model uses them
    std::vector<std::vector<FodRow>> groups; // rows per set
    std::vector<std::vector<int>> tableRows; // their positions in the table
    FodDataTable table;
};

Case makeCase(int board)
{
    Case c;
    c.board = board;
    if (board == FOD_BOARD_AUTOMOTIVE) {
        c.name = "automotive";
        c.gains = {0};
        c.parameters = {fodParametersAt(automotiveFodGrids(), {9, 12, 10, 4, 3, 7})};
    } else {
        c.name = "xmc";
        c.gains = {2, 3, 4};
        const FodGrids grids = xmcFodGrids();
        c.parameters = {fodParametersAt(grids, {0, 30, 8, 5, 9, 14}), fodParametersAt(grids, {0, 41, 12, 4, 11, 18}),
                        fodParametersAt(grids, {0, 55, 15, 6, 12, 22})};
    }
    c.groups.resize(c.gains.size());
    c.tableRows.resize(c.gains.size());
    Random random(kSeed);
    for (int i = 0; i < kRows; ++i) {
        const std::size_t k = static_cast<std::size_t>(i) % c.gains.size();
        const FodParameterSet &p = c.parameters[k];
        const float x = static_cast<float>(random.between(300, 3600));
        const float field3 = static_cast<float>(random.between(800, 3000));
        const float field4 = static_cast<float>(random.between(40, 150));
        const float f = fodmodel::factor(x, p.factor1, p.factor2);
        const double model = static_cast<double>(fodmodel::power(field3, p.gv, p.gi, f, p.fod_offset)) -
                             fodmodel::loss(x, p.delta_esr, p.gi, f, field4);
        const float noise = kNoise * static_cast<float>(random.between(-1000, 1000)) / 1000.0f;
        const FodRow row = {static_cast<float>(c.gains[k] == 0 ? 1 : c.gains[k]),
                            127000.0f,
                            x,
                            field3,
                            field4,
                            1800.0f,
                            static_cast<float>(model) + noise};
        c.table.rows.push_back(row);
        c.groups[k].push_back(row);
        c.tableRows[k].push_back(i);
    }
    return c;
}

double secondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Figure {
    std::vector<double> seconds;
    void add(double s) { seconds.push_back(s); }
    std::string text() const
    {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        char line[64];
        std::snprintf(line, sizeof line, "best %8.1f ms   median %8.1f ms", sorted.front() * 1000.0,
                      sorted[sorted.size() / 2] * 1000.0);
        return line;
    }
};

void measure(const Case &c, int repeat, bool withFit, const QString &pngPath)
{
    Figure report, build, paint, png, fit;
    for (int run = 0; run < repeat; ++run) {
        FodFitReport fitReport;
        fitReport.board = c.board;
        report.add(secondsOf([&] {
            for (std::size_t k = 0; k < c.groups.size(); ++k)
                fitReport.sets.push_back(
                    fodFittedSet(c.gains[k], c.groups[k], c.tableRows[k], c.parameters[k], c.parameters[k], 0.0));
        }));
        FodPlotView view;
        view.resize(kPlotWidthPx, kPlotHeightPx);
        build.add(secondsOf([&] { view.showReport(fitReport); }));
        paint.add(secondsOf([&] { view.grab().save("/tmp/wt15cap/grab-" + QString::fromStdString(c.name) + ".png"); }));
        QString error;
        png.add(secondsOf([&] {
            if (!view.saveImage(pngPath, QSize(), error))
                std::fprintf(stderr, "%s\n", qPrintable(error));
        }));
    }
    if (withFit) {
        for (int run = 0; run < repeat; ++run) {
            FodGainResult result;
            fit.add(secondsOf([&] {
                if (c.board == FOD_BOARD_AUTOMOTIVE)
                    calculateAutomotiveGains(c.table, result, FodMessages{});
                else
                    calculateXmcGains(c.table, result, FodMessages{});
            }));
        }
    }
    std::printf("%s, %d rows in %zu set(s), %d runs:\n", c.name.c_str(), kRows, c.groups.size(), repeat);
    std::printf("  fit report from the parameters   %s\n", report.text().c_str());
    std::printf("  plot built (showReport)          %s\n", build.text().c_str());
    std::printf("  first paint, %dx%d          %s\n", kPlotWidthPx, kPlotHeightPx, paint.text().c_str());
    std::printf("  PNG file (saveImage)             %s\n", png.text().c_str());
    if (withFit)
        std::printf("  the fit itself (fast search)     %s\n", fit.text().c_str());
    std::fflush(stdout);
}

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int showWindow(const QString &readyFile, int holdSeconds)
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.generateFod = true;
    config.text.linesPerSecond = 200;
    config.text.fod.board = SimFodBoard::Xmc;
    config.text.fod.noiseSigma = 3.0;
    for (int k = 0; k < 3; ++k) {
        SimFodParams &p = config.text.fod.params[static_cast<std::size_t>(k)];
        p.gi = 0.9 + 0.05 * k;
        p.deltaEsr = 0.05 + 0.03 * k;
        p.fodOffset = 0.1 * k;
        p.factor1 = 1.0 + 0.01 * k;
        p.factor2 = 0.98 + 0.02 * k;
    }
    config.pingsToPowerCycle = 10;
    BoardSimulator sim(config);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.lastError().c_str());
        return 1;
    }
    // The simulated board's records and backups stay out of the user's history, unless a state
    // folder is named on purpose (docs/records.md took its calibration record that way).
    QTemporaryDir state;
    if (qEnvironmentVariableIsEmpty("XDG_STATE_HOME"))
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    const QString port = QString::fromStdString(sim.slavePath());
    MainWindow::setComPortEnumerator([port] {
        return QList<MainWindow::ComPortEntry>{{port, "Zavlo", "simulator", false, {}}};
    });
    MainWindow window;
    window.move(0, 0);
    window.resize(1600, 1000);
    window.show();
    auto button = [&window](const char *name) { return window.findChild<QAbstractButton *>(name); };
    auto *pane = window.findChild<QTextBrowser *>("fodCapture");
    auto paneLines = [pane] { return pane->toPlainText().count(QLatin1Char('\n')); };
    auto step = [](bool ok, const char *what) {
        if (!ok)
            std::fprintf(stderr, "window: no %s\n", what);
        return ok;
    };

    window.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(kFodTab);
    button("comPortConnectButton")->click();
    if (!step(waitFor([&] { return button("fodControlButton")->isEnabled(); }, kStepTimeoutMs), "open port"))
        return 1;
    button("fodXMCSelected")->click();
    button("fodControlButton")->click();
    for (const char *gain : {"", "fodButtonGain3", "fodButtonGain4"}) {
        if (*gain)
            button(gain)->click();
        const int target = paneLines() + kWindowLinesPerGain;
        if (!step(waitFor([&] { return paneLines() >= target; }, kStepTimeoutMs), "board text"))
            return 1;
    }
    button("fodControlButton")->click();
    button("fodCalculateGains")->click();
    if (!step(waitFor([&] { return button("fodCalculateGains")->isEnabled(); }, kStepTimeoutMs), "calculation end"))
        return 1;
    // Let the pane and the plot paint before the picture.
    waitFor([] { return false; }, 500);
    QFile ready(readyFile);
    if (!readyFile.isEmpty() && ready.open(QIODevice::WriteOnly))
        ready.write("ready\n");
    std::printf("READY\n");
    std::fflush(stdout);
    waitFor([] { return false; }, holdSeconds * 1000);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    int repeat = 5;
    bool withFit = true;
    bool window = false;
    QString readyFile;
    int holdSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--skip-fit")) {
            withFit = false;
        } else if (!std::strcmp(argv[i], "--window")) {
            window = true;
        } else if (!std::strcmp(argv[i], "--ready-file") && i + 1 < argc) {
            readyFile = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--hold") && i + 1 < argc) {
            holdSeconds = std::max(0, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                         "usage: %s [--repeat N] [--skip-fit] | --window [--ready-file PATH] [--hold SECONDS]\n",
                         argv[0]);
            return 2;
        }
    }
    // The timings need no display; the window mode needs the one it is given.
    if (!window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerCrossThreadTypes();
    if (window)
        return showWindow(readyFile, holdSeconds);

    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("plot.png"));
    measure(makeCase(FOD_BOARD_AUTOMOTIVE), repeat, withFit, png);
    measure(makeCase(FOD_BOARD_XMC), repeat, withFit, png);
    return 0;
}
