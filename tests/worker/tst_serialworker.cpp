#include "sim/imagebuilder.h"
#include "tests/worker/workerrig.h"

#include <QTemporaryDir>

#include <algorithm>
#include <functional>

#include <QElapsedTimer>
#include <QtTest>

#include <thread>

#include <unistd.h>

namespace {

QByteArray le16Bytes(const std::array<uint16_t, SimReg::INFO_COUNT> &regs, int first, int count)
{
    QByteArray bytes;
    for (int r = first; r < first + count; ++r)
        bytes.append(char(regs[size_t(r)] & 0xFF)).append(char(regs[size_t(r)] >> 8));
    return bytes;
}

template<size_t N> QByteArray bytesOf(const std::array<quint8, N> &part)
{
    return QByteArray(reinterpret_cast<const char *>(part.data()), int(N));
}

QByteArray area(const std::vector<uint8_t> &bytes, int from, int count)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()) + from, count);
}

int countOf(const QSignalSpy &spy, const QVariant &value)
{
    int n = 0;
    for (const QList<QVariant> &args : spy)
        n += args.at(0) == value;
    return n;
}

// Flashes a 64 KiB application on this thread while another thread does `meanwhile` after
// `afterMs`; against a paced board the flash takes seconds, so it is still running then.
bool flashLongImage(WorkerRig &rig, int afterMs, const std::function<void()> &meanwhile)
{
    ImageSpec spec;
    spec.applicationSize = 64 * 1024;
    QTemporaryDir dir;
    const std::string path = dir.filePath("big.bin").toStdString();
    if (!writeFirmwareImage(path, spec))
        return false;
    rig.worker.checkBoxUpdateFlashApp(true);
    std::thread other([afterMs, &meanwhile] {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        meanwhile();
    });
    rig.worker.flashDeviceRequest(QString::fromStdString(path));
    other.join();
    return true;
}

bool isResetWrite(const RequestRecord &r, uint8_t lo, uint8_t hi)
{
    return r.command == SimCmd::WRITE_REGISTER && r.address == SimReg::RESET && r.payload.size() == 2 &&
           r.payload[0] == lo && r.payload[1] == hi;
}

} // namespace

// The worker's port handling and board detection against a simulated board.
class TestSerialWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerWorkerTypes(); }

    void connectToMissingPort_answersFalseAndDoesNotPoll();
    void connectToUnreadablePort_saysPermissionDenied();
    void disconnectWithoutPort_stillAnswers();
    void disconnectWhileDetected_sendsNoBoardStatus();
    void absentBoard_reportedOnceButStatusOnEveryPoll();
    void boardInApplication_isRestartedThenAnnouncedOnce();
    void infoBlock_equalsBoard_data();
    void infoBlock_equalsBoard();
    void pieceFailingHalfway_keepsEarlierPiecesAndFiller();
    void terminalTab_releasesDetectedBoard();
    void flashWithoutAnswer_reportsPingFailure();
    void cancelFromAnotherThread_stopsRunningFlash();
    void boardPrintingStartBytes_isStillRestartedAndDetected();
    void lostPort_isClosedReportedAndCanBeReopened();
    void lostPortDuringFlash_endsWithFailingStep();
};

void TestSerialWorker::connectToMissingPort_answersFalseAndDoesNotPoll()
{
    WorkerRig rig;
    QVERIFY(rig.sim.start());
    QTest::ignoreMessage(QtDebugMsg, "Can't open port");
    rig.worker.connectCOMPortRequest(QStringLiteral("/dev/zavlo-no-such-port"));
    QCOMPARE(rig.connected.count(), 1);
    QCOMPARE(rig.connected.at(0).at(0).toBool(), false);
    QCOMPARE(rig.problems.count(), 1);
    QCOMPARE(rig.problems.at(0).at(0).toString(),
             QStringLiteral("No such device: /dev/zavlo-no-such-port does not exist; is the board plugged in and the "
                            "name right?"));
    QTest::qWait(400);
    QCOMPARE(rig.board.count(), 0);
    QCOMPARE(rig.sim.requestCount(), 0L);

    // The port object kept from the failed attempt opens the right port next time.
    rig.worker.connectCOMPortRequest(rig.portName());
    QCOMPARE(rig.connected.count(), 2);
    QCOMPARE(rig.connected.at(1).at(0).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 5000);
}

void TestSerialWorker::connectToUnreadablePort_saysPermissionDenied()
{
    if (::geteuid() == 0)
        QSKIP("root may open a file of mode 000; run as another user to see permission denied");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyLOCKED"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.setPermissions(QFileDevice::Permissions()));
    WorkerRig rig;
    QTest::ignoreMessage(QtDebugMsg, "Can't open port");
    rig.worker.connectCOMPortRequest(path);
    QCOMPARE(rig.connected.count(), 1);
    QCOMPARE(rig.connected.at(0).at(0).toBool(), false);
    QCOMPARE(rig.problems.count(), 1);
    const QString text = rig.problems.at(0).at(0).toString();
    QVERIFY2(text.startsWith(QStringLiteral("Permission denied on %1 (owner ").arg(path)) &&
                 text.contains(QStringLiteral(", mode 0000)")),
             qPrintable(text));
}

void TestSerialWorker::disconnectWithoutPort_stillAnswers()
{
    WorkerRig rig;
    QTest::ignoreMessage(QtDebugMsg, "Closing serial port");
    rig.worker.disconnectCOMPortRequest();
    QCOMPARE(rig.disconnected.count(), 1);
}

void TestSerialWorker::disconnectWhileDetected_sendsNoBoardStatus()
{
    WorkerRig rig;
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 5000);
    const int boardSignals = rig.board.count();
    rig.worker.disconnectCOMPortRequest();
    QCOMPARE(rig.disconnected.count(), 1);
    const long requests = rig.sim.requestCount();
    QTest::qWait(400);
    QCOMPARE(rig.board.count(), boardSignals);
    QCOMPARE(rig.sim.requestCount(), requests);
}

void TestSerialWorker::absentBoard_reportedOnceButStatusOnEveryPoll()
{
    SimConfig config;
    config.faults.absent = true;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_VERIFY_WITH_TIMEOUT(rig.board.count() >= 3, 8000);
    QCOMPARE(countOf(rig.board, true), 0);
    QCOMPARE(rig.statusTexts(), QStringList{"No Board connected."});

    // Coming back to the firmware tab makes the text due again.
    rig.worker.tabIndexChanged(0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.status.count(), 2, 5000);
    QCOMPARE(rig.statusTexts().last(), QStringLiteral("No Board connected."));
}

void TestSerialWorker::boardInApplication_isRestartedThenAnnouncedOnce()
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);
    QTest::qWait(500);
    QCOMPARE(rig.info.count(), 1);
    QCOMPARE(countOf(rig.board, true), 1);
    QCOMPARE(rig.statusTexts().count(QStringLiteral("Board is now connected.")), 1);

    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QVERIFY(!log.empty());
    QCOMPARE(log.front().mode, BoardMode::Application);
    QCOMPARE(log.front().command, SimCmd::READ_REGISTER);
    QCOMPARE(log.front().address, uint32_t(SimReg::BOOT_STATUS));
    const auto restart =
        std::find_if(log.begin(), log.end(), [](const RequestRecord &r) { return isResetWrite(r, 0xDD, 0x55); });
    QVERIFY(restart != log.end());
    QCOMPARE(restart->mode, BoardMode::Application);
    QCOMPARE(rig.sim.snapshot().mode, BoardMode::Bootloader);
}

void TestSerialWorker::infoBlock_equalsBoard_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<bool>("pagesRead");
    QTest::newRow("page size 64") << 64 << true;
    QTest::newRow("page size 32") << 32 << true;
    QTest::newRow("page size 124, cut to frame size") << 124 << true;
    QTest::newRow("page size 2048, cut to frame size") << 2048 << true;
    QTest::newRow("page size 0 reads no page") << 0 << false;
}

void TestSerialWorker::infoBlock_equalsBoard()
{
    QFETCH(int, pageSize);
    QFETCH(bool, pagesRead);

    SimConfig config;
    config.pageSize = uint16_t(pageSize);
    config.description = std::string(42, 'D'); // fills its field without a zero byte
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);

    const auto info = rig.info.at(0).at(0).value<RWTarget::APP_BL_REG_RO_T>();
    const BoardSnapshot board = rig.sim.snapshot();
    QCOMPARE(bytesOf(info.APP_INFO_BLOCK), le16Bytes(board.registers, 0x10, 32));
    QCOMPARE(bytesOf(info.BL_INFO_BLOCK), le16Bytes(board.registers, 0x00, 16));
    if (pagesRead) {
        QCOMPARE(bytesOf(info.SETTINGS_RECORD), area(board.settings, 0, 98));
        QCOMPARE(bytesOf(info.CALIBRATION_RECORD), area(board.calibration, 0, 98) + area(board.calibration, 100, 68));
    } else {
        QCOMPARE(bytesOf(info.SETTINGS_RECORD), QByteArray(98, char(0xAA)));
        QCOMPARE(bytesOf(info.CALIBRATION_RECORD), QByteArray(166, char(0xAA)));
    }
}

void TestSerialWorker::pieceFailingHalfway_keepsEarlierPiecesAndFiller()
{
    // Requests: 0 boot status, 1 application block, 2 bootloader block, 3.. settings pieces of 32.
    SimConfig config;
    config.pageSize = 32;
    config.faults.errorOn[5] = SimStatus::BAD_ADDRESS;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);

    const auto info = rig.info.at(0).at(0).value<RWTarget::APP_BL_REG_RO_T>();
    const BoardSnapshot board = rig.sim.snapshot();
    QCOMPARE(bytesOf(info.SETTINGS_RECORD).left(64), area(board.settings, 0, 64));
    QCOMPARE(bytesOf(info.SETTINGS_RECORD).mid(64), QByteArray(34, char(0xAA)));
    // The calibration record is read on its own and is complete.
    QCOMPARE(bytesOf(info.CALIBRATION_RECORD), area(board.calibration, 0, 98) + area(board.calibration, 100, 68));
}

void TestSerialWorker::terminalTab_releasesDetectedBoard()
{
    WorkerRig rig;
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 5000);
    const int before = rig.board.count();
    rig.worker.tabIndexChanged(1);
    QTRY_COMPARE_WITH_TIMEOUT(rig.board.count(), before + 1, 5000);
    QCOMPARE(rig.board.last().at(0).toBool(), false);
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QVERIFY(std::any_of(log.begin(), log.end(), [](const RequestRecord &r) { return isResetWrite(r, 0x33, 0xDD); }));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.snapshot().mode, BoardMode::Application, 2000);

    // Back on the firmware tab the board is forced into its bootloader and announced again.
    rig.worker.tabIndexChanged(0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 2, 8000);
}

void TestSerialWorker::flashWithoutAnswer_reportsPingFailure()
{
    SimConfig config;
    config.faults.absent = true;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    rig.worker.flashDeviceRequest(QStringLiteral("/nonexistent.bin"));
    QCOMPARE(rig.result.count(), 1);
    QCOMPARE(rig.result.at(0).at(0).value<RWTarget::RW_RESPONSE_T>(), RWTarget::RW_READ_TIMEOUT);
    QVERIFY(rig.statusTexts().contains(QStringLiteral("No response to ping.")));
    const BoardSnapshot board = rig.sim.snapshot();
    QCOMPARE(board.blockWriteCount, 0L);
}

void TestSerialWorker::cancelFromAnotherThread_stopsRunningFlash()
{
    SimConfig config;
    config.faults.pace115200 = true; // about 7 ms per block: the flash takes seconds
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);

    QVERIFY(flashLongImage(rig, 500, [&rig] { rig.worker.cancelFlashDeviceRequest(); }));

    QCOMPARE(rig.result.count(), 1);
    QCOMPARE(rig.result.at(0).at(0).value<RWTarget::RW_RESPONSE_T>(), RWTarget::RW_CANCELLED);
    const BoardSnapshot board = rig.sim.snapshot();
    QVERIFY(board.blockWriteCount > 0);
    QVERIFY(board.blockWriteCount < 1024);
}

void TestSerialWorker::boardPrintingStartBytes_isStillRestartedAndDetected()
{
    // "Z" is the start byte: text read as the start of a frame would spoil the status read.
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.plainLines = {"Zone Z1 ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ temperature 41"};
    config.text.linesPerSecond = 100;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);
    QCOMPARE(rig.sim.snapshot().mode, BoardMode::Bootloader);
}

void TestSerialWorker::lostPort_isClosedReportedAndCanBeReopened()
{
    SimConfig config;
    QTemporaryDir dir;
    config.linkPath = dir.filePath("zavlo-port").toStdString();
    WorkerRig rig(config);
    QVERIFY(rig.sim.start());
    rig.worker.connectCOMPortRequest(QString::fromStdString(config.linkPath));
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 5000);

    rig.sim.stop(); // the adapter is unplugged
    QTRY_COMPARE_WITH_TIMEOUT(rig.disconnected.count(), 1, 5000);
    QVERIFY(rig.statusTexts().contains(QStringLiteral("COM port lost! Check the connection and connect again.")));
    QCOMPARE(rig.problems.count(), 1);
    QCOMPARE(rig.problems.at(0).at(0).toString(),
             QString::fromStdString(config.linkPath) +
                 QStringLiteral(" is gone: the adapter was unplugged or lost power."));
    const int boardSignals = rig.board.count();
    QTest::qWait(400);
    QCOMPARE(rig.board.count(), boardSignals); // no poll runs on a closed port

    QVERIFY(rig.sim.start()); // plugged in again, same name
    rig.worker.connectCOMPortRequest(QString::fromStdString(config.linkPath));
    QCOMPARE(rig.connected.last().at(0).toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 2, 5000);
}

void TestSerialWorker::lostPortDuringFlash_endsWithFailingStep()
{
    SimConfig config;
    config.faults.pace115200 = true;
    WorkerRig rig(config);
    QVERIFY(rig.open());
    QTRY_COMPARE_WITH_TIMEOUT(rig.info.count(), 1, 8000);

    QVERIFY(flashLongImage(rig, 400, [&rig] { rig.sim.stop(); }));

    QCOMPARE(rig.result.count(), 1);
    const auto code = rig.result.at(0).at(0).value<RWTarget::RW_RESPONSE_T>();
    QVERIFY2(code == RWTarget::RW_WRITE_TIMEOUT || code == RWTarget::RW_READ_TIMEOUT,
             qPrintable(QString::number(code)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.disconnected.count(), 1, 5000);
}

QTEST_GUILESS_MAIN(TestSerialWorker)
#include "tst_serialworker.moc"
