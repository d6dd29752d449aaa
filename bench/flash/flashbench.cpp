// zavlo-bench-flash: the flash procedure against the simulated board on a pty.
// (a) No turnaround delay and no pacing: the tool's cost per 64-byte block, for a 1 MiB application.
// (b) Bytes paced at 115200 baud both ways: the achieved data rate against the line limit.
// Option: --minimal-reporter.
// Each run goes through the real flashImage(); reports go either to a minimal reporter or to one
// that hands every report to another thread and waits for it, as the worker's blocking queued
// signals do.

#include "flash/flashprocedure.h"
#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kBlockBytes = 64;
constexpr int kRequestBytes = kBlockBytes + 9;
constexpr int kResponseBytes = 6;
constexpr double kBitsPerByte = 10.0;
constexpr double kBaud = 115200.0;
constexpr double kLineLimitBytesPerSecond = kBlockBytes * (kBaud / kBitsPerByte) / (kRequestBytes + kResponseBytes);
constexpr double kTargetMsPerBlock = 0.2;
constexpr double kTargetLineRatio = 0.97;
constexpr quint32 kUnpacedApplicationBytes = 1024 * 1024;
constexpr quint32 kPacedApplicationBytes = 64 * 1024;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Times the block phase of one section: from its first progress report to its success message.
class TimingReporter : public FlashReporter
{
public:
    explicit TimingReporter(QObject *receiver) : receiver(receiver) {}

    void updateProgress(int percent) override
    {
        if (percent == 0 && !started) {
            started = true;
            wall.start();
            cpuStart = threadCpuSeconds();
        }
        deliver();
    }
    void updateBytesTransferred(int) override { deliver(); }
    void transferStatus(const QString &msg) override
    {
        if (started && !stopped && msg.startsWith(QLatin1String("Successfully flashed"))) {
            stopped = true;
            wallNs = wall.nsecsElapsed();
            cpuSeconds = threadCpuSeconds() - cpuStart;
        }
        deliver();
    }
    void flashResult(RWTarget::RW_RESPONSE_T r) override
    {
        result = r;
        deliver();
    }
    void queryInfoBlock() override {}

    int deliveries = 0;
    qint64 wallNs = 0;
    double cpuSeconds = 0;
    int result = -1;

private:
    void deliver()
    {
        ++deliveries;
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [] {}, Qt::BlockingQueuedConnection);
    }

    QObject *receiver;
    QElapsedTimer wall;
    double cpuStart = 0;
    bool started = false;
    bool stopped = false;
};

struct RunResult {
    bool ok = false;
    quint32 bytes = 0;
    int blocks = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    int deliveries = 0;
    qint64 medianGapUs = 0;
    qint64 p90GapUs = 0;
};

RunResult runFlash(const QString &dirPath, quint32 applicationBytes, bool paced, QObject *receiver)
{
    RunResult run;
    SimConfig config;
    config.applicationAreaSize = applicationBytes;
    config.faults.pace115200 = paced;
    config.faults.turnaroundUs = 0;
    BoardSimulator sim(config);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.lastError().c_str());
        return run;
    }

    ImageSpec spec;
    spec.applicationSize = applicationBytes;
    spec.settingsSize = 0;
    spec.calibrationSize = 0;
    const QString path = dirPath + QStringLiteral("/bench-%1.bin").arg(paced ? "paced" : "unpaced");
    if (!writeFirmwareImage(path.toStdString(), spec)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return run;
    }

    QSerialPort port(QString::fromStdString(sim.slavePath()));
    port.setBaudRate(115200);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "port: %s\n", qPrintable(port.errorString()));
        return run;
    }

    RWTarget target;
    TimingReporter reporter(receiver);
    std::atomic_bool cancel{false};
    flashImage(target, port, reporter, path, cancel, FlashSelection{true, false, false, false});

    const std::vector<uint8_t> expected = imageApplicationBytes(spec);
    const BoardSnapshot board = sim.snapshot();
    const bool memoryOk = board.application.size() >= expected.size() &&
                          std::equal(expected.begin(), expected.end(), board.application.begin());
    run.ok = reporter.result == RWTarget::RW_SUCCESS && memoryOk;
    if (!run.ok)
        std::fprintf(stderr, "flash ended with %d, board memory %s\n", reporter.result,
                     memoryOk ? "matches" : "differs");
    // The board's view: time between the ends of successive block requests.
    std::vector<qint64> gaps;
    const std::vector<RequestRecord> log = sim.requestLog();
    for (size_t i = 1; i < log.size(); ++i)
        if (log[i].command == RWTarget::WRITE_ENCRYPTED_COMMAND &&
            log[i - 1].command == RWTarget::WRITE_ENCRYPTED_COMMAND)
            gaps.push_back(log[i].timeUs - log[i - 1].timeUs);
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        run.medianGapUs = gaps[gaps.size() / 2];
        run.p90GapUs = gaps[gaps.size() * 9 / 10];
    }
    run.bytes = applicationBytes;
    run.blocks = int((applicationBytes + kBlockBytes - 1) / kBlockBytes);
    run.seconds = double(reporter.wallNs) * 1e-9;
    run.cpuSeconds = reporter.cpuSeconds;
    run.deliveries = reporter.deliveries;
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool minimal = app.arguments().contains(QStringLiteral("--minimal-reporter"));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;

    // Stands in for the window: each report waits until this thread has run it.
    QThread receiverThread;
    QObject receiver;
    receiver.moveToThread(&receiverThread);
    receiverThread.start();
    QObject *target = minimal ? nullptr : &receiver;

    std::printf("Flash benchmark: real flashImage() against the simulated board on a pty; reporter: %s\n",
                minimal ? "minimal (no delivery)" : "blocking hand-over to another thread per report");

    const RunResult a = runFlash(dir.path(), kUnpacedApplicationBytes, false, target);
    const RunResult b = runFlash(dir.path(), kPacedApplicationBytes, true, target);
    receiverThread.quit();
    receiverThread.wait();
    if (!a.ok || !b.ok)
        return 1;

    const double msPerBlock = a.seconds * 1e3 / a.blocks;
    const double cpuMsPerBlock = a.cpuSeconds * 1e3 / a.blocks;
    std::printf("(a) unpaced, no turnaround: %u bytes, %d blocks in %.3f s (%d reports)\n", a.bytes, a.blocks,
                a.seconds, a.deliveries);
    std::printf("    %.0f blocks/s; %.4f ms per block wall, %.4f ms per block CPU of the flashing thread\n",
                a.blocks / a.seconds, msPerBlock, cpuMsPerBlock);
    std::printf("    ratio to the 0.2 ms target (<= 1 meets it): wall %.3f, CPU %.3f\n", msPerBlock / kTargetMsPerBlock,
                cpuMsPerBlock / kTargetMsPerBlock);

    const double rate = b.bytes / b.seconds;
    const double ratio = rate / kLineLimitBytesPerSecond;
    std::printf("(b) paced at 115200 baud both ways: %u bytes, %d blocks in %.3f s\n", b.bytes, b.blocks, b.seconds);
    std::printf("    %.1f data bytes/s of a line limit of %.1f: ratio %.4f (target >= %.2f)\n", rate,
                kLineLimitBytesPerSecond, ratio, kTargetLineRatio);
    const double lineTimeUs = 1e6 * (kRequestBytes + kResponseBytes) * kBitsPerByte / kBaud;
    // The median block interval leaves out the stalls that other load on a shared machine causes.
    const double medianRatio = b.medianGapUs > 0 ? lineTimeUs / double(b.medianGapUs) : 0.0;
    std::printf("    the board sees a block every %lld us (median), %lld us (90th percentile); line time %.0f us\n",
                static_cast<long long>(b.medianGapUs), static_cast<long long>(b.p90GapUs), lineTimeUs);
    std::printf("    steady-state ratio from the median interval: %.4f\n", medianRatio);
    std::printf("RESULT blocks_per_s=%.0f ms_per_block=%.4f wall_ratio=%.3f line_ratio=%.4f median_line_ratio=%.4f\n",
                a.blocks / a.seconds, msPerBlock, msPerBlock / kTargetMsPerBlock, ratio, medianRatio);
    return 0;
}
