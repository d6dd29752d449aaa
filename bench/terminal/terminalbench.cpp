// zavlo-bench-terminal: the Terminal tab against zavlo-sim printing without pause at 115200 baud.
// The simulator runs as its own process; this process is the tool alone: the real MainWindow
// with its worker, connected through its Connect button, the Terminal tab chosen on the tab bar.
// Every benchmark line that reaches the pane is timed against the moment the simulator began to
// send it; every window of --report-every seconds prints the lines shown and lost, the delays,
// the GUI thread's and the process's CPU share, resident memory and the pane's block count.
// Time stamps and the session log are on unless turned off; at the end the log is read back and
// checked against the simulator's sequence numbers.
// Options: --seconds N (150), --report-every N (10), --platform NAME (offscreen unless
// QT_QPA_PLATFORM says otherwise), --sim PATH (zavlo-sim beside this program), --no-time-stamps,
// --no-log, --screenshot FILE (no measurement: the tab with ordinary board text, saved as a PNG).

#include "bench/terminal/panewatcher.h"
#include "bench/terminal/processmeter.h"
#include "bench/terminal/simprocess.h"
#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double kLineBytesPerSecond = 115200.0 / 10.0; // 8N1: ten bits a byte
constexpr double kTargetGuiThreadShare = 0.25;
// Above this the delay of the last window counts as a growing backlog.
constexpr double kBacklogMarginMs = 50.0;
// More lines than this (a tenth of a second of the line) sent but not shown at a window's end is
// a backlog; the delays alone cannot show all of it, since a full pty holds the simulator back.
constexpr qint64 kMaxWaitingLines = 30;
constexpr int kCalibrationMs = 3000;
// Memory is flat when, after the pane's bound is reached, its trend is no steeper than this.
constexpr double kFlatKiBPerMinute = 256.0;
constexpr int kMinFlatSpanSeconds = 20;
constexpr int kSampleMs = 1000;
constexpr int kStepTimeoutMs = 10000;
constexpr int kDumpWaitMs = 2000;
// Lines a window may hold: the line rate is below 300 a second for these lines.
constexpr size_t kLinesPerSecondCapacity = 600;
// The session log is read back in pieces of this size, as the tracker takes the pane's text.
constexpr qint64 kLogReadBytes = 1 << 16;
// A picture needs a screenful of the board's text, which prints ten lines a second.
constexpr int kScreenshotTextMs = 4000;

const char kUsage[] = "Usage: zavlo-bench-terminal [--seconds N] [--report-every N] [--platform NAME] [--sim PATH]\n"
                      "                            [--no-time-stamps] [--no-log] [--screenshot FILE]\n";

struct Options {
    // The pane reaches its bound after about 65 s; a shorter default would never see it.
    int seconds = 150;
    int reportEvery = 10;
    QString platform;
    QString simProgram;
    bool timeStamps = true;
    bool log = true;
    QString screenshot;
};

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        bool ok = true;
        if (arg == QLatin1String("--no-time-stamps"))
            o.timeStamps = false;
        else if (arg == QLatin1String("--no-log"))
            o.log = false;
        else if (arg == QLatin1String("--screenshot") && hasValue)
            o.screenshot = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--seconds") && hasValue)
            o.seconds = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
        else if (arg == QLatin1String("--report-every") && hasValue)
            o.reportEvery = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
        else if (arg == QLatin1String("--platform") && hasValue)
            o.platform = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--sim") && hasValue)
            o.simProgram = QString::fromLocal8Bit(argv[++i]);
        else
            return std::nullopt;
        if (!ok || o.seconds < 1 || o.reportEvery < 1)
            return std::nullopt;
    }
    return o;
}

std::atomic<long> debugLines{0};

// The tool's diagnostics go to the debug log; counted here, not printed, so the report stays
// readable. Warnings and worse are printed as usual.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtDebugMsg || type == QtInfoMsg) {
        ++debugLines;
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(msg));
}

double ms(int64_t us)
{
    return double(us) / 1000.0;
}

double mib(int64_t kib)
{
    return double(kib) / 1024.0;
}

using RssSamples = std::vector<std::pair<double, int64_t>>;

// Least-squares slope of (seconds, KiB) samples, in KiB per minute.
double slopePerMinute(RssSamples::const_iterator begin, RssSamples::const_iterator end)
{
    const auto count = std::distance(begin, end);
    if (count < 2)
        return 0;
    double meanT = 0;
    double meanV = 0;
    for (auto s = begin; s != end; ++s) {
        meanT += s->first;
        meanV += double(s->second);
    }
    meanT /= double(count);
    meanV /= double(count);
    double cov = 0;
    double var = 0;
    for (auto it = begin; it != end; ++it) {
        const auto &s = *it;
        cov += (s.first - meanT) * (double(s.second) - meanV);
        var += (s.first - meanT) * (s.first - meanT);
    }
    return var > 0 ? 60.0 * cov / var : 0.0;
}

// One report window, as printed and as kept for the summary.
struct Row {
    double endSeconds = 0;
    double seconds = 0;
    uint64_t lines = 0;
    uint64_t shownTotal = 0;
    uint64_t lostTotal = 0;
    uint64_t outOfOrder = 0;
    uint64_t repeated = 0;
    uint64_t malformed = 0;
    uint64_t highestSeq = 0;
    uint64_t paints = 0;
    bool painted = false;
    int64_t p50Us = 0;
    int64_t p99Us = 0;
    int64_t maxUs = 0;
    int64_t paneP50Us = 0;
    double lineUse = 0;
    double guiShare = 0;
    double watcherShare = 0;
    double processShare = 0;
    int64_t rssKiB = 0;
    int blocks = 0;
    SimProcess::Counters sim;
    // Lines the simulator had sent but the pane did not show yet, when it was asked.
    qint64 waiting = -1;
};

// The session log read back: the benchmark lines it holds, counted as the pane's are.
struct LogCheck {
    bool enabled = false;
    QString fileName;
    qint64 bytes = 0;
    QString error;
    BenchLineTracker lines;
};

LogCheck readSessionLog(const QString &logsDir)
{
    LogCheck check;
    check.enabled = true;
    const QStringList files = QDir(logsDir).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    if (files.size() != 1) {
        check.error = QStringLiteral("%1 log files in %2, expected one").arg(files.size()).arg(logsDir);
        return check;
    }
    QFile file(QDir(logsDir).filePath(files.first()));
    check.fileName = file.fileName();
    if (!file.open(QIODevice::ReadOnly)) {
        check.error = file.errorString();
        return check;
    }
    check.bytes = file.size();
    // Lines split between two pieces are joined by the tracker; a UTF-8 character cannot be
    // split, the benchmark lines being ASCII.
    while (!file.atEnd())
        check.lines.feed(QString::fromUtf8(file.read(kLogReadBytes)));
    return check;
}

// Runs the measurement once the Terminal tab shows the board's text, and reports.
class Measurement : public QObject
{
public:
    Measurement(const Options &options, QTextEdit *pane, PaneWatcher &watcher, SimProcess &sim, double aloneLineUse)
        : options(options), pane(pane), watcher(watcher), sim(sim), aloneLineUse(aloneLineUse)
    {
        rows.reserve(size_t(options.seconds / options.reportEvery + 2));
        // Touched now, so that keeping the samples does not add to the memory being measured.
        rssAfterBound.resize(size_t(options.seconds) * 1000 / kSampleMs + 8);
        rssAfterBound.clear();
        connect(&sim, &SimProcess::dumped, this, [this](const SimProcess::Counters &c) { printPending(c); });
        sampleTimer.setTimerType(Qt::PreciseTimer);
        connect(&sampleTimer, &QTimer::timeout, this, &Measurement::sample);
        windowTimer.setTimerType(Qt::PreciseTimer);
        windowTimer.setSingleShot(true);
        connect(&windowTimer, &QTimer::timeout, this, &Measurement::endWindow);
    }

    void run()
    {
        guiTid = processmeter::currentThreadId();
        threadsAtStart = processmeter::threadTimes();
        runClock.start();
        windowStartNs = 0;
        guiCpuAtWindow = processmeter::callingThreadCpuSeconds();
        guiCpuAtStart = guiCpuAtWindow;
        processCpuAtWindow = processmeter::processCpuSeconds();
        processCpuAtStart = processCpuAtWindow;
        watcherCpuAtWindow = watcher.ownCpuSeconds();
        debugLinesAtStart = debugLines;
        rssAtStart = processmeter::residentKiB();
        watcher.takeWindow();
        sampleTimer.start(kSampleMs);
        scheduleWindow();
        loop.exec();
        sampleTimer.stop();
        if (pending && !QTest::qWaitFor([this] { return !pending; }, kDumpWaitMs))
            printPending(SimProcess::Counters{});
        runSeconds = double(lastWindowEndNs) * 1e-9;
    }

    void summarize(const SimProcess::Counters &finalSim, const LogCheck &log) const;

private:
    void scheduleWindow()
    {
        const qint64 nextNs = std::min<qint64>(windowStartNs + qint64(options.reportEvery) * 1000000000,
                                               qint64(options.seconds) * 1000000000);
        windowTimer.start(int(std::max<qint64>(0, (nextNs - runClock.nsecsElapsed()) / 1000000)));
    }

    int windowCount() const { return (options.seconds + options.reportEvery - 1) / options.reportEvery; }

    void sample()
    {
        const int64_t rss = processmeter::residentKiB();
        if (!boundReached && watcher.trimmed()) {
            boundReached = true;
            boundSeconds = double(runClock.nsecsElapsed()) * 1e-9;
            rssAtBound = rss;
            guiCpuAtBound = processmeter::callingThreadCpuSeconds();
            watcherCpuAtBound = watcher.ownCpuSeconds();
        }
        rssMax = std::max(rssMax, rss);
        if (boundReached) {
            rssMaxAfterBound = std::max(rssMaxAfterBound, rss);
            if (rssAfterBound.size() < rssAfterBound.capacity())
                rssAfterBound.push_back({double(runClock.nsecsElapsed()) * 1e-9, rss});
        }
    }

    void endWindow()
    {
        sample();
        const qint64 nowNs = runClock.nsecsElapsed();
        const double seconds = double(nowNs - windowStartNs) * 1e-9;
        const double guiCpu = processmeter::callingThreadCpuSeconds();
        const double processCpu = processmeter::processCpuSeconds();
        const double watcherCpu = watcher.ownCpuSeconds();
        PaneWatcher::Window &w = watcher.takeWindow();
        const BenchLineTracker &t = watcher.tracker();

        Row r;
        r.endSeconds = double(nowNs) * 1e-9;
        r.seconds = seconds;
        r.lines = w.lines;
        r.shownTotal = t.shown();
        r.lostTotal = t.lost();
        r.outOfOrder = t.outOfOrder();
        r.repeated = t.repeated();
        r.malformed = t.malformed();
        r.highestSeq = t.highestSeq();
        r.paints = w.paints;
        r.painted = !w.paintedUs.empty();
        std::vector<int64_t> &delays = r.painted ? w.paintedUs : w.inPaneUs;
        r.p50Us = quantileUs(delays, 0.50);
        r.p99Us = quantileUs(delays, 0.99);
        r.maxUs = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
        r.paneP50Us = quantileUs(w.inPaneUs, 0.50);
        r.lineUse = double(w.wireBytes) / seconds / kLineBytesPerSecond;
        r.guiShare = (guiCpu - guiCpuAtWindow) / seconds;
        r.watcherShare = (watcherCpu - watcherCpuAtWindow) / seconds;
        r.processShare = (processCpu - processCpuAtWindow) / seconds;
        r.rssKiB = processmeter::residentKiB();
        r.blocks = pane->document()->blockCount();

        guiCpuAtWindow = guiCpu;
        processCpuAtWindow = processCpu;
        watcherCpuAtWindow = watcherCpu;
        windowStartNs = nowNs;
        lastWindowEndNs = nowNs;
        guiCpuAtEnd = guiCpu;
        processCpuAtEnd = processCpu;
        watcherCpuAtEnd = watcherCpu;

        if (pending)
            printPending(SimProcess::Counters{});
        ++windowsDone;
        pending = r;
        sim.requestDump();

        if (windowsDone >= windowCount()) {
            threadsAtEnd = processmeter::threadTimes();
            loop.quit();
        } else {
            scheduleWindow();
        }
    }

    void printPending(const SimProcess::Counters &counters)
    {
        if (!pending)
            return;
        Row r = *pending;
        pending.reset();
        r.sim = counters;
        QString simText = QStringLiteral("sim: no dump, %1").arg(sim.state());
        if (counters.valid) {
            r.waiting = counters.linesSent - qint64(r.highestSeq);
            simText = QStringLiteral("sim sent %1, dropped %2, not yet shown %3")
                          .arg(counters.linesSent)
                          .arg(counters.linesDropped)
                          .arg(r.waiting);
        }
        std::printf("[%4.0f s] shown %6llu (+%5llu) lost %llu (seq gaps) out-of-order %llu | %s | delay ms p50 %.1f "
                    "p99 %.1f max %.1f (%s; in pane p50 %.1f) | line use %.3f | GUI thread %.1f%% (watcher %.1f%%) "
                    "process %.1f%% | "
                    "RSS %.1f MiB | blocks %d\n",
                    r.endSeconds, static_cast<unsigned long long>(r.shownTotal),
                    static_cast<unsigned long long>(r.lines), static_cast<unsigned long long>(r.lostTotal),
                    static_cast<unsigned long long>(r.outOfOrder + r.repeated), qPrintable(simText), ms(r.p50Us),
                    ms(r.p99Us), ms(r.maxUs), r.painted ? "painted" : "in pane, no paint seen", ms(r.paneP50Us),
                    r.lineUse, 100.0 * r.guiShare, 100.0 * r.watcherShare, 100.0 * r.processShare, mib(r.rssKiB),
                    r.blocks);
        std::fflush(stdout);
        rows.push_back(r);
    }

    const Options &options;
    QTextEdit *pane;
    PaneWatcher &watcher;
    SimProcess &sim;
    double aloneLineUse;
    QEventLoop loop;
    QTimer sampleTimer;
    QTimer windowTimer;
    QElapsedTimer runClock;
    qint64 windowStartNs = 0;
    qint64 lastWindowEndNs = 0;
    double runSeconds = 0;
    int guiTid = 0;
    QVector<processmeter::ThreadTime> threadsAtStart;
    QVector<processmeter::ThreadTime> threadsAtEnd;
    double guiCpuAtStart = 0;
    double guiCpuAtWindow = 0;
    double guiCpuAtEnd = 0;
    double processCpuAtStart = 0;
    double processCpuAtWindow = 0;
    double processCpuAtEnd = 0;
    double watcherCpuAtWindow = 0;
    double watcherCpuAtEnd = 0;
    long debugLinesAtStart = 0;
    bool boundReached = false;
    double boundSeconds = 0;
    int64_t rssAtStart = 0;
    int64_t rssAtBound = 0;
    int64_t rssMax = 0;
    int64_t rssMaxAfterBound = 0;
    RssSamples rssAfterBound;
    double guiCpuAtBound = 0;
    double watcherCpuAtBound = 0;
    int windowsDone = 0;
    std::optional<Row> pending;
    std::vector<Row> rows;
};

const char *verdict(bool met)
{
    return met ? "MET" : "NOT MET";
}

void Measurement::summarize(const SimProcess::Counters &finalSim, const LogCheck &log) const
{
    const BenchLineTracker &t = watcher.tracker();
    std::printf("\nSummary over %.1f s (%zu windows):\n", runSeconds, rows.size());
    if (rows.empty() || !t.started()) {
        std::printf("  no benchmark line reached the pane\n");
        return;
    }
    const Row &first = rows.front();
    const Row &last = rows.back();

    std::printf("  lines shown %llu, seq %llu..%llu; lost (gaps in seq, so by the tool) %llu, out of order %llu, "
                "repeated %llu, damaged %llu\n",
                static_cast<unsigned long long>(t.shown()), static_cast<unsigned long long>(t.firstSeq()),
                static_cast<unsigned long long>(t.highestSeq()), static_cast<unsigned long long>(t.lost()),
                static_cast<unsigned long long>(t.outOfOrder()), static_cast<unsigned long long>(t.repeated()),
                static_cast<unsigned long long>(t.malformed()));
    if (finalSim.valid)
        std::printf("  simulator: %ld lines sent, %ld dropped by its own count; %lld sent but never shown (after the "
                    "last line shown, or before the Terminal tab was chosen)\n",
                    finalSim.linesSent, finalSim.linesDropped,
                    static_cast<long long>(finalSim.linesSent) - static_cast<long long>(t.shown() + t.lost()));
    else
        std::printf("  simulator: no final dump\n");

    const DelayHistogram &run = first.painted ? watcher.paintedRun() : watcher.inPaneRun();
    std::printf("  delay sent -> %s, whole run: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                first.painted ? "painted" : "in pane", ms(run.quantileUs(0.5)), ms(run.quantileUs(0.99)),
                ms(run.maxUs()));
    const DelayHistogram &paneRun = watcher.inPaneRun();
    std::printf("  delay sent -> in the pane's document, whole run: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                ms(paneRun.quantileUs(0.5)), ms(paneRun.quantileUs(0.99)), ms(paneRun.maxUs()));

    qint64 mostWaiting = -1;
    double lowestUse = last.lineUse;
    for (const Row &r : rows) {
        mostWaiting = std::max(mostWaiting, r.waiting);
        if (r.seconds >= 0.5 * options.reportEvery)
            lowestUse = std::min(lowestUse, r.lineUse);
    }
    const bool noBacklog =
        ms(last.p50Us) <= ms(first.p50Us) + kBacklogMarginMs && last.waiting >= 0 && last.waiting <= kMaxWaitingLines;
    std::printf("  backlog: delay p50 first window %.1f ms, last window %.1f ms; p99 %.1f -> %.1f ms; lines sent but "
                "not yet shown at a window's end: last %lld, most %lld\n",
                ms(first.p50Us), ms(last.p50Us), ms(first.p99Us), ms(last.p99Us), static_cast<long long>(last.waiting),
                static_cast<long long>(mostWaiting));
    std::printf("    line use: last window %.3f, lowest %.3f; the simulator alone reached %.3f\n", last.lineUse,
                lowestUse, aloneLineUse);
    std::printf("    target: no growing backlog (last p50 <= first p50 + %.0f ms, at most %lld lines waiting): %s\n",
                kBacklogMarginMs, static_cast<long long>(kMaxWaitingLines), verdict(noBacklog));

    const double guiAll = (guiCpuAtEnd - guiCpuAtStart) / runSeconds;
    const double watcherAll = watcherCpuAtEnd / runSeconds;
    double highestWindow = 0;
    for (const Row &r : rows)
        highestWindow = std::max(highestWindow, r.guiShare - r.watcherShare);
    std::printf("  GUI thread CPU: %.1f%% of one core over the run, %.1f%% without the benchmark's watcher (%.1f%%); "
                "highest window %.1f%%\n",
                100.0 * guiAll, 100.0 * (guiAll - watcherAll), 100.0 * watcherAll, 100.0 * highestWindow);
    if (boundReached && runSeconds - boundSeconds > 1.0) {
        const double span = runSeconds - boundSeconds;
        const double afterBound = (guiCpuAtEnd - guiCpuAtBound - (watcherCpuAtEnd - watcherCpuAtBound)) / span;
        std::printf("    after the pane's bound was reached: %.1f%% without the watcher\n", 100.0 * afterBound);
    }
    const double toolGui = guiAll - watcherAll;
    std::printf("    target: GUI thread under %.0f%% of one core: %s\n", 100.0 * kTargetGuiThreadShare,
                verdict(toolGui < kTargetGuiThreadShare && highestWindow < kTargetGuiThreadShare));
    std::printf("  process CPU: %.1f%% of one core over the run (all threads)\n",
                100.0 * (processCpuAtEnd - processCpuAtStart) / runSeconds);
    for (const processmeter::ThreadTime &end : threadsAtEnd) {
        double before = 0;
        for (const processmeter::ThreadTime &start : threadsAtStart)
            if (start.tid == end.tid)
                before = start.cpuSeconds;
        const double share = (end.cpuSeconds - before) / runSeconds;
        if (share >= 0.005)
            std::printf("    thread %d %-16s %5.1f%%%s\n", end.tid, qPrintable(end.name), 100.0 * share,
                        end.tid == guiTid ? " (GUI thread)" : "");
    }

    std::printf("  memory: RSS %.1f MiB at start of the run, %.1f MiB at the end, highest %.1f MiB\n", mib(rssAtStart),
                mib(last.rssKiB), mib(rssMax));
    if (boundReached) {
        const double span = runSeconds - boundSeconds;
        const double growth = double(last.rssKiB - rssAtBound);
        const double perMinute = slopePerMinute(rssAfterBound.begin(), rssAfterBound.end());
        // The heap takes a while to settle after the first trim; what counts is whether it stays.
        const auto secondHalf = rssAfterBound.begin() + std::ptrdiff_t(rssAfterBound.size() / 2);
        const double settledPerMinute = slopePerMinute(secondHalf, rssAfterBound.end());
        const double settledSpan = rssAfterBound.empty() ? 0.0 : rssAfterBound.back().first - secondHalf->first;
        std::printf("    the pane first dropped its oldest text at %.0f s (most blocks %d); RSS then %.1f MiB, growth "
                    "after it %+.0f KiB over %.0f s, highest after it %.1f MiB\n",
                    boundSeconds, watcher.mostBlocks(), mib(rssAtBound), growth, span, mib(rssMaxAfterBound));
        std::printf("    RSS trend (least squares, 1 s samples): %+.0f KiB/min since the bound, %+.0f KiB/min over the "
                    "last %.0f s\n",
                    perMinute, settledPerMinute, settledSpan);
        if (settledSpan >= kMinFlatSpanSeconds)
            std::printf("    target: memory flat once the bound is reached (trend over the last %.0f s <= %.0f "
                        "KiB/min): %s\n",
                        settledSpan, kFlatKiBPerMinute, verdict(settledPerMinute <= kFlatKiBPerMinute));
        else
            std::printf("    target: memory flat: not judged, only %.0f s after the bound (run longer)\n", span);
    } else {
        std::printf("    the pane never dropped text (%d blocks): its bound was not reached, memory flatness not "
                    "judged; run longer, e.g. --seconds 300\n",
                    last.blocks);
    }
    std::printf("  the tool wrote %ld debug-log lines during the run (not shown)\n", debugLines - debugLinesAtStart);
    if (watcher.unexpectedChanges() > 0)
        std::printf("  note: %llu pane changes replaced text instead of appending it\n",
                    static_cast<unsigned long long>(watcher.unexpectedChanges()));

    bool logComplete = false;
    if (!log.enabled) {
        std::printf("  session log: off\n");
    } else if (!log.error.isEmpty()) {
        std::printf("  session log: %s\n", qPrintable(log.error));
    } else {
        const BenchLineTracker &l = log.lines;
        std::printf("  session log: %s, %.1f MiB; lines %llu, seq %llu..%llu; lost (gaps in seq) %llu, out of order "
                    "%llu, repeated %llu, damaged %llu\n",
                    qPrintable(log.fileName), double(log.bytes) / (1024.0 * 1024.0),
                    static_cast<unsigned long long>(l.shown()), static_cast<unsigned long long>(l.firstSeq()),
                    static_cast<unsigned long long>(l.highestSeq()), static_cast<unsigned long long>(l.lost()),
                    static_cast<unsigned long long>(l.outOfOrder()), static_cast<unsigned long long>(l.repeated()),
                    static_cast<unsigned long long>(l.malformed()));
        if (finalSim.valid)
            std::printf("    simulator lines not in the log: %lld (sent before the Terminal tab was chosen, or "
                        "after the last read)\n",
                        static_cast<long long>(finalSim.linesSent) - static_cast<long long>(l.shown()));
        logComplete = l.started() && l.lost() == 0 && l.outOfOrder() == 0 && l.repeated() == 0 && l.malformed() == 0 &&
                      l.firstSeq() <= t.firstSeq() && l.highestSeq() >= t.highestSeq();
        std::printf("    target: the log holds every line from the first shown to the last, in order, none lost: "
                    "%s\n",
                    verdict(logComplete));
    }

    const double paneBoundGrowth = boundReached ? double(last.rssKiB - rssAtBound) : 0.0;
    std::printf("RESULT platform=%s seconds=%.0f stamps=%d log=%d shown=%llu lost=%llu log_lines=%llu "
                "log_complete=%d p50_first_ms=%.1f p50_last_ms=%.1f "
                "p99_ms=%.1f max_ms=%.1f line_use_last=%.3f gui_thread_pct=%.1f process_pct=%.1f "
                "rss_growth_after_bound_kib=%.0f bound_reached=%d\n",
                qPrintable(QGuiApplication::platformName()), runSeconds, options.timeStamps ? 1 : 0,
                log.enabled ? 1 : 0, static_cast<unsigned long long>(t.shown()),
                static_cast<unsigned long long>(t.lost()), static_cast<unsigned long long>(log.lines.shown()),
                logComplete ? 1 : 0, ms(first.p50Us), ms(last.p50Us), ms(run.quantileUs(0.99)), ms(run.maxUs()),
                last.lineUse, 100.0 * toolGui, 100.0 * (processCpuAtEnd - processCpuAtStart) / runSeconds,
                paneBoundGrowth, boundReached ? 1 : 0);
}

template<typename T> T *findWidget(const QWidget &window, const char *name)
{
    T *w = window.findChild<T *>(QString::fromLatin1(name));
    if (!w)
        std::fprintf(stderr, "no widget %s in the window\n", name);
    return w;
}

// The simulator's line use with a reader that does nothing but count: the most the tool can see,
// since the simulator starts each line when it gets round to it rather than when the last ended.
double simulatorAloneLineUse(const QString &link)
{
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    termios raw{};
    if (::tcgetattr(fd, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    ::tcflush(fd, TCIFLUSH);
    const int64_t start = processmeter::monotonicUs();
    int64_t bytes = 0;
    char buf[4096];
    while (processmeter::monotonicUs() - start < int64_t(kCalibrationMs) * 1000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                bytes += n;
        }
    }
    const double seconds = double(processmeter::monotonicUs() - start) * 1e-6;
    ::close(fd);
    return double(bytes) / seconds / kLineBytesPerSecond;
}

QString defaultSimProgram()
{
    const QString binDir = qEnvironmentVariableIsSet("ZAVLO_BIN_DIR") ? qEnvironmentVariable("ZAVLO_BIN_DIR")
                                                                      : QCoreApplication::applicationDirPath();
    return QDir(binDir).filePath(QStringLiteral("zavlo-sim"));
}

} // namespace

int main(int argc, char *argv[])
{
    const std::optional<Options> parsed = parseOptions(argc, argv);
    if (!parsed) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Options options = *parsed;
    if (!options.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", options.platform.toLocal8Bit());
    else if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Zavlo GUI"));
    QApplication::setApplicationVersion(QStringLiteral(ZAVLO_VERSION_TEXT));
    registerCrossThreadTypes();
    qRegisterMetaType<SimProcess::Counters>("SimProcess::Counters");
    qInstallMessageHandler(messageHandler);
    if (options.simProgram.isEmpty())
        options.simProgram = defaultSimProgram();

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("dump"))) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    // The window's settings and session log go here, not into the user's own folders.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    const bool screenshot = !options.screenshot.isEmpty();

    const QString link = dir.filePath(QStringLiteral("ttyZAVLO"));
    SimProcess sim(options.simProgram, link, dir.filePath(QStringLiteral("dump")));
    // A small application area keeps each of the simulator's dumps cheap. The picture shows the
    // board's ordinary text: measurement lines, now and then a plain or a status line.
    const QStringList simText =
        screenshot ? QStringList{QStringLiteral("--fod-generate"), QStringLiteral("--plain-every"), QStringLiteral("7")}
                   : QStringList{QStringLiteral("--bench-text")};
    if (!sim.start(QStringList{QStringLiteral("--mode"), QStringLiteral("app")} + simText +
                   QStringList{QStringLiteral("--pace"), QStringLiteral("--app-area-size"), QStringLiteral("4096")})) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.errorText()));
        return 1;
    }

    const double aloneLineUse = screenshot ? 0.0 : simulatorAloneLineUse(link);

    if (!screenshot) {
        std::printf("Terminal tab benchmark: zavlo-sim printing BENCH lines back to back at 115200 baud; the real "
                    "MainWindow on platform \"%s\"; %d s, a report every %d s; time stamps %s, session log %s\n",
                    qPrintable(QGuiApplication::platformName()), options.seconds, options.reportEvery,
                    options.timeStamps ? "on" : "off", options.log ? "on" : "off");
        std::printf("simulator: %s %s\n", qPrintable(options.simProgram),
                    qPrintable(sim.arguments().join(QLatin1Char(' '))));
        std::printf("the simulator alone, read by a loop that only counts bytes for %d s: line use %.3f of 11520 B/s\n",
                    kCalibrationMs / 1000, aloneLineUse);
        std::printf("targets: no growing backlog, GUI thread under 25%% of one core, memory flat once the pane's bound "
                    "is reached, the session log complete\n");
        std::fflush(stdout);
    }

    MainWindow::setComPortEnumerator([link] {
        return QList<MainWindow::ComPortEntry>{
            {link, QStringLiteral("Zavlo"), QStringLiteral("simulated board"), false, {}}};
    });
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), kStepTimeoutMs))
        std::fprintf(stderr, "the window was not exposed; going on\n");

    auto *connectButton = findWidget<QAbstractButton>(*window, "comPortConnectButton");
    auto *tabs = findWidget<QTabWidget>(*window, "tabWidget");
    auto *pane = findWidget<QTextBrowser>(*window, "terminalOutput");
    auto *console = findWidget<QTextBrowser>(*window, "fwConsoleBrowser");
    auto *stampsBox = findWidget<QCheckBox>(*window, "terminalTimeStampsBox");
    auto *logButton = findWidget<QAbstractButton>(*window, "terminalLogButton");
    auto *input = findWidget<QLineEdit>(*window, "terminalInput");
    QTabBar *tabBar = tabs ? tabs->findChild<QTabBar *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!connectButton || !tabs || !pane || !console || !stampsBox || !logButton || !input || !tabBar)
        return 1;

    QTest::mouseClick(connectButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return connectButton->text() == QLatin1String("Disconnect"); }, kStepTimeoutMs)) {
        std::fprintf(stderr, "the port did not open: %s\n", qPrintable(console->toPlainText()));
        return 1;
    }
    // The user's way: the firmware tab finds the board (in its bootloader) before the Terminal
    // tab releases it into its application.
    if (!QTest::qWaitFor([&] { return console->toPlainText().contains(QLatin1String("Board is now connected.")); },
                         kStepTimeoutMs)) {
        std::fprintf(stderr, "the board was not found: %s\n", qPrintable(console->toPlainText()));
        return 1;
    }
    if (options.timeStamps || screenshot)
        QTest::mouseClick(stampsBox, Qt::LeftButton);
    if (options.log && !screenshot) {
        QTest::mouseClick(logButton, Qt::LeftButton);
        if (!logButton->isChecked()) {
            std::fprintf(stderr, "the session log did not start: %s\n", qPrintable(console->toPlainText()));
            return 1;
        }
    }

    std::optional<PaneWatcher> watcher;
    if (!screenshot)
        watcher.emplace(pane, size_t(options.reportEvery) * kLinesPerSecondCapacity);
    QTest::mouseClick(tabBar, Qt::LeftButton, Qt::NoModifier, tabBar->tabRect(kTerminalTab).center());
    if (tabs->currentIndex() != kTerminalTab) {
        std::fprintf(stderr, "the Terminal tab could not be chosen\n");
        return 1;
    }

    if (screenshot) {
        QTest::qWait(kScreenshotTextMs);
        QTest::keyClicks(input, QStringLiteral("status"));
        QTest::qWait(200);
        // What the X server shows where the window is, as the user would see it.
        const QRect frame = window->frameGeometry();
        const QPixmap shot =
            QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (shot.isNull() || !shot.save(options.screenshot, "PNG")) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(options.screenshot));
            return 1;
        }
        window.reset();
        sim.stop();
        return 0;
    }

    Measurement measurement(options, pane, *watcher, sim, aloneLineUse);
    measurement.run();

    QTest::mouseClick(connectButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return connectButton->text() == QLatin1String("Connect"); }, kStepTimeoutMs))
        std::fprintf(stderr, "the port did not close in time\n");
    window.reset();
    const SimProcess::Counters finalSim = sim.stop();

    // Closed with the port: every line the pane showed must be in it by now.
    const LogCheck log =
        options.log ? readSessionLog(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/zavlo-gui/logs"))
                    : LogCheck{};
    measurement.summarize(finalSim, log);
    return 0;
}
