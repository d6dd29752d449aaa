#include "sim/imagebuilder.h"
#include "tests/worker/workerrig.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <thread>
#include <vector>

namespace {

// A hang detector, not a timing check: one request may cost the 500 ms write wait, the 2500 ms
// response budget and one last 500 ms wait begun just before the budget ran out.
constexpr int kRequestLimitMs = 500 + 2500 + 500;
constexpr int kHangBoundMs = 10 * kRequestLimitMs;
constexpr int kDetectMs = 10000;
constexpr int kPageSize = 64;
constexpr int kBlockBytes = 64;
constexpr quint8 kErrorStatus = 0xFE;

enum class Fault { Silent, ErrorStatus, Garbage, Vanish };

// Every request of a whole flash through the worker, from the ping to the restart.
enum class Step {
    Ping,
    ReadPartNumber,
    ReadHardwareId,
    HeaderBlock,
    ClearCrc,
    ReadCrc,
    ApplicationBlock,
    SettingsBlock,
    CalibrationBlock,
    CrcVerdict,
    InfoApplicationBlock,
    InfoBootloaderBlock,
    InfoSettingsPiece,
    InfoCalibrationPiece,
    Restart,
};

struct ExpectedRequest {
    Step step;
    uint8_t command;
    uint32_t address;
};

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::Silent:
        return "no answer";
    case Fault::ErrorStatus:
        return "error status";
    case Fault::Garbage:
        return "garbage before";
    case Fault::Vanish:
        return "board vanishes";
    }
    return "?";
}

const char *stepName(Step step)
{
    static const char *const names[] = {"ping",
                                        "part number read",
                                        "hardware ID read",
                                        "header block",
                                        "CRC register cleared",
                                        "CRC register read",
                                        "application block",
                                        "settings block",
                                        "calibration block",
                                        "CRC verdict",
                                        "info: application block",
                                        "info: bootloader block",
                                        "info: settings piece",
                                        "info: calibration piece",
                                        "restart"};
    return names[int(step)];
}

// A few blocks per section, the last one of each short.
ImageSpec smallImage()
{
    ImageSpec spec;
    spec.applicationSize = 3 * kBlockBytes - 10;
    spec.settingsSize = 2 * kBlockBytes;
    spec.calibrationSize = kBlockBytes + 36;
    return spec;
}

// Long enough under 115200 baud pacing for a cancel to land anywhere in it.
ImageSpec cancelImage()
{
    ImageSpec spec;
    spec.applicationSize = 16 * kBlockBytes;
    spec.settingsSize = 4 * kBlockBytes;
    spec.calibrationSize = 4 * kBlockBytes;
    spec.applicationSeed = 11;
    return spec;
}

void addBlocks(std::vector<ExpectedRequest> &requests, Step step, uint8_t command, uint32_t size)
{
    for (uint32_t offset = 0; offset < size; offset += kBlockBytes)
        requests.push_back({step, command, offset});
}

void addPieces(std::vector<ExpectedRequest> &requests, Step step, uint8_t command, int recordBytes)
{
    const int total = (recordBytes + 3) / 4 * 4;
    const int piece = qMin(kPageSize, int(RWTarget::MAX_PAGE_READ_BYTES));
    for (int offset = 0; offset < total; offset += piece)
        requests.push_back({step, command, uint32_t(offset)});
}

// The requests a healthy flash of every section sends, in order, as the procedure lays them out.
std::vector<ExpectedRequest> flashRequests(const ImageSpec &spec)
{
    std::vector<ExpectedRequest> r;
    r.push_back({Step::Ping, SimCmd::READ_REGISTER, SimReg::BOOT_STATUS});
    r.push_back({Step::ReadPartNumber, SimCmd::READ_REGISTER, SimReg::BL_PART_NUMBER});
    r.push_back({Step::ReadHardwareId, SimCmd::READ_REGISTER, SimReg::APP_HW_DESCRIPTOR});
    r.push_back({Step::HeaderBlock, SimCmd::WRITE_REGISTER, SimReg::IMAGE_HEADER_BLOCK});
    r.push_back({Step::ClearCrc, SimCmd::WRITE_REGISTER, SimReg::CRC_STATUS});
    r.push_back({Step::ReadCrc, SimCmd::READ_REGISTER, SimReg::CRC_STATUS});
    addBlocks(r, Step::ApplicationBlock, SimCmd::WRITE_APPLICATION, spec.applicationSize);
    addBlocks(r, Step::SettingsBlock, SimCmd::WRITE_SETTINGS, spec.settingsSize);
    addBlocks(r, Step::CalibrationBlock, SimCmd::WRITE_CALIBRATION, spec.calibrationSize);
    r.push_back({Step::CrcVerdict, SimCmd::READ_REGISTER, SimReg::CRC_STATUS});
    r.push_back({Step::InfoApplicationBlock, SimCmd::READ_REGISTER, SimReg::APP_FW_VERSION});
    r.push_back({Step::InfoBootloaderBlock, SimCmd::READ_REGISTER, SimReg::BL_VERSION});
    addPieces(r, Step::InfoSettingsPiece, SimCmd::READ_SETTINGS, RWTarget::SETTINGS_RECORD_SIZE);
    addPieces(r, Step::InfoCalibrationPiece, SimCmd::READ_CALIBRATION,
              RWTarget::CAL_SERIAL_OFFSET + RWTarget::CAL_SERIAL_SIZE);
    r.push_back({Step::Restart, SimCmd::WRITE_REGISTER, SimReg::RESET});
    return r;
}

bool isBlock(Step step)
{
    return step == Step::ApplicationBlock || step == Step::SettingsBlock || step == Step::CalibrationBlock;
}

// The result the flash procedure's rules give for one fault on one request of the sequence
// above, with the simulated board's defaults (hardware ID 0x0042 = the image's, part number
// register 1001).
RWTarget::RW_RESPONSE_T expectedResult(Fault fault, Step step)
{
    // The reader hunts past anything before the start byte; the exchange itself is intact.
    if (fault == Fault::Garbage)
        return RWTarget::RW_SUCCESS;
    const bool vanish = fault == Fault::Vanish;
    if (isBlock(step)) {
        // The block went out and no frame came back; a board error code is an invalid response.
        return fault == Fault::ErrorStatus ? RWTarget::RW_INVALID_RESPONSE : RWTarget::RW_READ_TIMEOUT;
    }
    switch (step) {
    case Step::Ping:
        // The worker's ping failed: the procedure is not entered.
        return RWTarget::RW_READ_TIMEOUT;
    case Step::ReadPartNumber:
        // Not examined. A vanished board fails both identity reads, the 0xFFFF filler passes the
        // hardware-ID check, and the first block cannot be written to a port that is gone.
        return vanish ? RWTarget::RW_WRITE_TIMEOUT : RWTarget::RW_SUCCESS;
    case Step::ReadHardwareId:
        // The board value falls back to the part number just read (1001), which is not 0x0042.
        return RWTarget::RW_INVALID_HARDWARE_ID;
    case Step::HeaderBlock:
        // Not examined, but a board without the header block cannot give a good CRC verdict.
        return vanish ? RWTarget::RW_WRITE_TIMEOUT : RWTarget::RW_CRC_CHECK_FAILED;
    case Step::ClearCrc:
    case Step::ReadCrc:
        // Not examined; the board's verdict after the blocks does not depend on them.
        return vanish ? RWTarget::RW_WRITE_TIMEOUT : RWTarget::RW_SUCCESS;
    case Step::CrcVerdict:
        // The failed read leaves the 0 read before the blocks in the register buffer.
        return RWTarget::RW_CRC_CHECK_FAILED;
    case Step::InfoApplicationBlock:
    case Step::InfoBootloaderBlock:
    case Step::InfoSettingsPiece:
    case Step::InfoCalibrationPiece:
    case Step::Restart:
        // After the verdict nothing is examined: the image is on the board.
        return RWTarget::RW_SUCCESS;
    default:
        break;
    }
    return RWTarget::RW_SUCCESS;
}

QByteArray head(const std::vector<uint8_t> &bytes, size_t count)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(qMin(count, bytes.size())));
}

QByteArray whole(const std::vector<uint8_t> &bytes)
{
    return head(bytes, bytes.size());
}

bool holdsImage(const BoardSnapshot &board, const ImageSpec &spec)
{
    return head(board.application, spec.applicationSize) == whole(imageApplicationBytes(spec)) &&
           head(board.settings, spec.settingsSize) == whole(imageSettingsBytes(spec)) &&
           head(board.calibration, spec.calibrationSize) == whole(imageCalibrationBytes(spec));
}

RWTarget::RW_RESPONSE_T lastResult(const QSignalSpy &spy)
{
    return spy.last().at(0).value<RWTarget::RW_RESPONSE_T>();
}

SimConfig linkedConfig(const QString &link)
{
    SimConfig config;
    config.pageSize = kPageSize;
    config.linkPath = link.toStdString();
    return config;
}

// A worker on the test thread, its port opened by the link name so that a board that vanished
// can come back under the same name, and all three sections selected.
struct FlashRig {
    explicit FlashRig(const QString &link) : link(link), rig(linkedConfig(link))
    {
        rig.worker.checkBoxUpdateFlashApp(true);
        rig.worker.checkBoxUpdateFlashSettings(true);
        rig.worker.checkBoxUpdateFlashCalibration(true);
    }

    bool connect()
    {
        const int before = rig.connected.count();
        rig.worker.connectCOMPortRequest(link);
        return rig.connected.count() == before + 1 && rig.connected.last().at(0).toBool();
    }

    // Runs one flash on this thread and returns its single result; `elapsedMs` is for the hang check.
    bool flash(const QString &image, RWTarget::RW_RESPONSE_T &result, qint64 &elapsedMs)
    {
        const int before = rig.result.count();
        QElapsedTimer clock;
        clock.start();
        rig.worker.flashDeviceRequest(image);
        elapsedMs = clock.elapsed();
        if (rig.result.count() != before + 1)
            return false;
        result = lastResult(rig.result);
        return true;
    }

    QString link;
    WorkerRig rig;
};

} // namespace

Q_DECLARE_METATYPE(Fault)

// Faults of the board and the line at every request of a flash through the worker: each ends
// with the result the flash procedure's rules give, in bounded time, and a healthy board is
// flashed afterwards.
class TestFlashFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void healthyFlash_sendsTheExpectedRequests();
    void faultAtEveryRequest_endsWithItsResultThenHealthyFlashSucceeds_data();
    void faultAtEveryRequest_endsWithItsResultThenHealthyFlashSucceeds();
    void everyResponseSplitIntoBytes_flashSucceeds();
    void cancelAtRandomMoments_endsCancelledOrSucceeded();

private:
    // Lets the worker's poll find the board in its bootloader (restarting it there if needed).
    bool waitForDetection(FlashRig &f, int infoBefore);
    void writeImage(const QString &path, const ImageSpec &spec);

    QTemporaryDir dir;
    QString smallImagePath;
    QString cancelImagePath;
};

void TestFlashFaults::initTestCase()
{
    // Every failed exchange logs its time-out; the assertions here are on signals and the board.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    registerWorkerTypes();
    QVERIFY(dir.isValid());
    smallImagePath = dir.filePath(QStringLiteral("small.bin"));
    cancelImagePath = dir.filePath(QStringLiteral("cancel.bin"));
    writeImage(smallImagePath, smallImage());
    writeImage(cancelImagePath, cancelImage());
}

void TestFlashFaults::writeImage(const QString &path, const ImageSpec &spec)
{
    std::string error;
    QVERIFY2(writeFirmwareImage(path.toStdString(), spec, &error), error.c_str());
}

bool TestFlashFaults::waitForDetection(FlashRig &f, int infoBefore)
{
    QElapsedTimer clock;
    clock.start();
    while (f.rig.info.count() <= infoBefore && clock.elapsed() < kDetectMs)
        QTest::qWait(10);
    return f.rig.info.count() > infoBefore && f.rig.sim.mode() == BoardMode::Bootloader;
}

void TestFlashFaults::healthyFlash_sendsTheExpectedRequests()
{
    FlashRig f(dir.filePath(QStringLiteral("healthy-port")));
    QVERIFY(f.rig.sim.start());
    QVERIFY(f.connect());
    RWTarget::RW_RESPONSE_T result;
    qint64 elapsed = 0;
    QVERIFY(f.flash(smallImagePath, result, elapsed));
    QCOMPARE(result, RWTarget::RW_SUCCESS);
    QVERIFY(holdsImage(f.rig.sim.snapshot(), smallImage()));

    // The fault matrix addresses requests by these numbers.
    const std::vector<ExpectedRequest> expected = flashRequests(smallImage());
    const std::vector<RequestRecord> log = f.rig.sim.requestLog();
    QCOMPARE(log.size(), expected.size());
    for (size_t k = 0; k < log.size(); ++k) {
        QVERIFY2(
            log[k].command == expected[k].command && log[k].address == expected[k].address,
            qPrintable(QStringLiteral("#%1 %2: %3").arg(k).arg(stepName(expected[k].step)).arg(log[k].text().c_str())));
    }
}

void TestFlashFaults::faultAtEveryRequest_endsWithItsResultThenHealthyFlashSucceeds_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expected");

    const std::vector<ExpectedRequest> requests = flashRequests(smallImage());
    for (Fault fault : {Fault::Silent, Fault::ErrorStatus, Fault::Garbage, Fault::Vanish}) {
        for (size_t k = 0; k < requests.size(); ++k) {
            QTest::addRow("%s at #%d, %s", faultName(fault), int(k), stepName(requests[k].step))
                << fault << int(k) << int(expectedResult(fault, requests[k].step));
        }
    }
}

void TestFlashFaults::faultAtEveryRequest_endsWithItsResultThenHealthyFlashSucceeds()
{
    QFETCH(Fault, fault);
    QFETCH(int, index);
    QFETCH(int, expected);

    FlashRig f(dir.filePath(QStringLiteral("port")));
    FaultConfig faults;
    switch (fault) {
    case Fault::Silent:
        faults.silentOn.insert(index);
        break;
    case Fault::ErrorStatus:
        faults.errorOn[index] = kErrorStatus;
        break;
    case Fault::Garbage:
        faults.garbageOn.insert(index);
        break;
    case Fault::Vanish:
        faults.vanishAt = index;
        break;
    }
    f.rig.sim.setFaults(faults);
    QVERIFY(f.rig.sim.start());
    QVERIFY(f.connect());
    // No poll has run yet: the ping is request 0.
    QCOMPARE(f.rig.sim.requestCount(), 0L);

    RWTarget::RW_RESPONSE_T result;
    qint64 elapsed = 0;
    QVERIFY2(f.flash(smallImagePath, result, elapsed), "not exactly one result");
    QVERIFY2(elapsed < kHangBoundMs, qPrintable(QStringLiteral("flash took %1 ms").arg(elapsed)));
    QCOMPARE(int(result), expected);

    // The fault landed on the request it was meant for.
    const std::vector<ExpectedRequest> requests = flashRequests(smallImage());
    const std::vector<RequestRecord> log = f.rig.sim.requestLog();
    QVERIFY(log.size() > size_t(index));
    QCOMPARE(log[size_t(index)].command, requests[size_t(index)].command);
    QCOMPARE(log[size_t(index)].address, requests[size_t(index)].address);
    if (result == RWTarget::RW_SUCCESS)
        QVERIFY(holdsImage(f.rig.sim.snapshot(), smallImage()));

    int infoBefore = f.rig.info.count();
    if (fault == Fault::Vanish) {
        // The worker closes the lost port by itself and says so; the board then comes back.
        QTRY_COMPARE_WITH_TIMEOUT(f.rig.disconnected.count(), 1, kDetectMs);
        QVERIFY(f.rig.statusTexts().contains(QStringLiteral("COM port lost! Check the connection and connect again.")));
        f.rig.sim.setFaults(FaultConfig());
        QVERIFY(f.rig.sim.start());
        QVERIFY(f.connect());
        infoBefore = f.rig.info.count();
    } else {
        f.rig.sim.setFaults(FaultConfig());
    }
    QVERIFY2(waitForDetection(f, infoBefore), "board not detected again");

    QVERIFY(f.flash(smallImagePath, result, elapsed));
    QCOMPARE(result, RWTarget::RW_SUCCESS);
    QVERIFY(holdsImage(f.rig.sim.snapshot(), smallImage()));
}

void TestFlashFaults::everyResponseSplitIntoBytes_flashSucceeds()
{
    // The simulator splits all responses or none, so one flash covers every request index.
    FlashRig f(dir.filePath(QStringLiteral("split-port")));
    FaultConfig faults;
    faults.splitResponses = true;
    f.rig.sim.setFaults(faults);
    QVERIFY(f.rig.sim.start());
    QVERIFY(f.connect());
    RWTarget::RW_RESPONSE_T result;
    qint64 elapsed = 0;
    QVERIFY(f.flash(smallImagePath, result, elapsed));
    QVERIFY2(elapsed < kHangBoundMs, qPrintable(QStringLiteral("flash took %1 ms").arg(elapsed)));
    QCOMPARE(result, RWTarget::RW_SUCCESS);
    QVERIFY(holdsImage(f.rig.sim.snapshot(), smallImage()));
    QCOMPARE(f.rig.sim.requestLog().size(), flashRequests(smallImage()).size());
}

void TestFlashFaults::cancelAtRandomMoments_endsCancelledOrSucceeded()
{
    // Seed 20261207: the delays are the same on every run; where they land in the flash is not.
    std::mt19937 random(20261207u);
    std::uniform_int_distribution<int> delayMs(0, 350);
    constexpr int kRuns = 16;

    FlashRig f(dir.filePath(QStringLiteral("cancel-port")));
    FaultConfig faults;
    faults.pace115200 = true;
    f.rig.sim.setFaults(faults);
    QVERIFY(f.rig.sim.start());
    QVERIFY(f.connect());
    QVERIFY(waitForDetection(f, 0));

    int cancelled = 0;
    int succeeded = 0;
    for (int run = 0; run < kRuns; ++run) {
        const int delay = delayMs(random);
        QTRY_COMPARE_WITH_TIMEOUT(f.rig.sim.mode(), BoardMode::Bootloader, kDetectMs);
        const int resultsBefore = f.rig.result.count();
        QSignalSpy progress(&f.rig.worker, &SerialWorker::updateProgressBarRequest);
        std::thread canceller([&f, delay] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            f.rig.worker.cancelFlashDeviceRequest();
        });
        RWTarget::RW_RESPONSE_T result;
        qint64 elapsed = 0;
        const bool one = f.flash(cancelImagePath, result, elapsed);
        canceller.join();
        QVERIFY2(one, qPrintable(QStringLiteral("run %1: not exactly one result").arg(run)));
        QVERIFY2(elapsed < kHangBoundMs, qPrintable(QStringLiteral("flash took %1 ms").arg(elapsed)));
        QVERIFY2(result == RWTarget::RW_CANCELLED || result == RWTarget::RW_SUCCESS,
                 qPrintable(QStringLiteral("run %1 (delay %2 ms): result %3").arg(run).arg(delay).arg(result)));
        QCOMPARE(f.rig.result.count(), resultsBefore + 1);

        if (result == RWTarget::RW_CANCELLED) {
            ++cancelled;
            QCOMPARE(progress.last().at(0).toInt(), 0);
            continue;
        }
        ++succeeded;
        QVERIFY(holdsImage(f.rig.sim.snapshot(), cancelImage()));
        // The cancel came after the last check and stays set: the next flash ends before its first block.
        QTRY_COMPARE_WITH_TIMEOUT(f.rig.sim.mode(), BoardMode::Bootloader, kDetectMs);
        const long blocksBefore = f.rig.sim.snapshot().blockWriteCount;
        QVERIFY(f.flash(cancelImagePath, result, elapsed));
        QCOMPARE(result, RWTarget::RW_CANCELLED);
        QCOMPARE(f.rig.sim.snapshot().blockWriteCount, blocksBefore);
    }
    qInfo("%d runs: %d cancelled, %d succeeded", kRuns, cancelled, succeeded);

    QTRY_COMPARE_WITH_TIMEOUT(f.rig.sim.mode(), BoardMode::Bootloader, kDetectMs);
    RWTarget::RW_RESPONSE_T result;
    qint64 elapsed = 0;
    QVERIFY(f.flash(cancelImagePath, result, elapsed));
    QCOMPARE(result, RWTarget::RW_SUCCESS);
    QVERIFY(holdsImage(f.rig.sim.snapshot(), cancelImage()));
}

QTEST_GUILESS_MAIN(TestFlashFaults)
#include "tst_flashfaults.moc"
