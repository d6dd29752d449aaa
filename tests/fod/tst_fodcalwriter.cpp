#include "fod/fodcalwriter.h"
#include "sim/boardsimulator.h"
#include "tests/fod/fodmessagerecorder.h"

#include <QSerialPort>
#include <QtTest>

#include <cstring>

namespace {

// Stated by the board's calibration layout, independently of the code under test.
constexpr float kAutoGiScale = 25.056f;
constexpr float kAutoGvScale = 54.677f;
constexpr float kXmcGiScale[3] = {8.46f, 15.5695f, 25.3799f};

FodGainResult sampleResult()
{
    FodGainResult r{};
    r.sets[0] = {1.01f, 0.955f, 0.27f, -0.05f, 1.03f, 1.07f};
    r.sets[1] = {0.0f, 1.115f, 0.13f, 0.45f, 0.985f, 1.035f};
    r.sets[2] = {0.0f, 0.825f, 0.02f, 0.0f, 1.045f, 0.955f};
    return r;
}

void putFloat(QByteArray &area, int offset, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i)
        area[offset + i] = char((bits >> (8 * i)) & 0xFF);
}

// The area as the board should hold it: the read part patched, 0xFF up to calDataSize.
QByteArray expectedArea(const QByteArray &before, int board, int calDataSize, const FodGainResult &r)
{
    QByteArray area = before;
    for (int i = 888; i < calDataSize; ++i)
        area[i] = char(0xFF);
    if (board == FOD_BOARD_AUTOMOTIVE) {
        const FodParameterSet &s = r.sets[0];
        putFloat(area, 184, s.gi * kAutoGiScale);
        putFloat(area, 296, s.gv * kAutoGvScale);
        putFloat(area, 600, s.fod_offset);
        putFloat(area, 604, s.delta_esr);
        putFloat(area, 612, s.factor1);
        putFloat(area, 616, s.factor2);
        putFloat(area, 620, 0.0f);
    } else {
        for (int k = 0; k < 3; ++k) {
            const FodParameterSet &s = r.sets[size_t(k)];
            putFloat(area, 200 + 16 * k, s.gi * kXmcGiScale[k]);
            const int block = 636 + 36 * k;
            putFloat(area, block + 0, s.fod_offset);
            putFloat(area, block + 4, s.delta_esr);
            putFloat(area, block + 12, s.factor1);
            putFloat(area, block + 16, s.factor2);
            putFloat(area, block + 20, 0.0f);
        }
    }
    return area;
}

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// Short windows so every path runs in about a second; the algorithm is the same.
FodCalWriteTiming quickTiming()
{
    FodCalWriteTiming t;
    t.catchWindowMs = 1500;
    t.settleMs = 100;
    return t;
}

bool isReturnToApplication(const RequestRecord &r)
{
    return r.command == SimCmd::WRITE_REGISTER && r.address == SimReg::RESET && r.payload.size() == 2 &&
           r.payload[0] == 0x33 && r.payload[1] == 0xDD;
}

long countCommand(const std::vector<RequestRecord> &log, uint8_t command)
{
    return long(
        std::count_if(log.begin(), log.end(), [command](const RequestRecord &r) { return r.command == command; }));
}

SimConfig inApplication(SimConfig config)
{
    config.startMode = BoardMode::Application;
    return config;
}

// A board running its application, and the calibration write run against it from this thread.
struct WriteRig {
    explicit WriteRig(const SimConfig &config) : sim(inApplication(config)) {}

    bool run(int board, const FodCalWriteTiming &timing = quickTiming(), const CalWriteControl &control = {})
    {
        if (!sim.start())
            return false;
        before = bytes(sim.snapshot().calibration);
        port.setPortName(QString::fromStdString(sim.slavePath()));
        if (!port.open(QIODevice::ReadWrite))
            return false;
        FodMessageRecorder recorder;
        result = writeFodParameters(target, port, FOD_BOARD_TYPE_T(board), sampleResult(), recorder.messages(), timing,
                                    control);
        texts = recorder.output;
        return true;
    }

    BoardSimulator sim;
    QSerialPort port;
    RWTarget target;
    QByteArray before;
    QStringList texts;
    bool result = false;
};

const QString kPowerCycle = QStringLiteral("Power cycle board within the next 10 seconds...\r\n");
const QString kReadOk = QStringLiteral("Successfully read existing FOD Parameters.\r\n");
const QString kUnreadable =
    QStringLiteral("Unable to read calibration page after FOD calculation. Try 'Calculate Gains' again?\r\n");

} // namespace

// Writing fitted parameters into the board's calibration area through its bootloader.
class TestFodCalWriter : public QObject
{
    Q_OBJECT

private slots:
    void calDataSize_roundsUpToPages_data();
    void calDataSize_roundsUpToPages();
    void write_patchesFodFieldsOnly_data();
    void write_patchesFodFieldsOnly();
    void noBootloader_sendsNothingMore();
    void blockReadFailing_writesNothingButReturnsBoard();
    void pageSizeZero_writesNothingButReturnsBoard();
    void pieceReadFailing_writesNothingButReturnsBoard();
    void blockWriteFailing_reportsAndReturnsBoard();
    void backup_getsTheAreaAsReadAndStopsTheWriteWhenNotKept_data();
    void backup_getsTheAreaAsReadAndStopsTheWriteWhenNotKept();
};

void TestFodCalWriter::calDataSize_roundsUpToPages_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("size");
    QTest::newRow("64") << 64 << 896;
    QTest::newRow("100") << 100 << 900;
    QTest::newRow("111: 888 is whole pages, one more") << 111 << 999;
    QTest::newRow("888") << 888 << 1776;
    QTest::newRow("1024") << 1024 << 1024;
    QTest::newRow("1") << 1 << 889;
    QTest::newRow("0") << 0 << 0;
}

void TestFodCalWriter::calDataSize_roundsUpToPages()
{
    QFETCH(int, pageSize);
    QFETCH(int, size);
    QCOMPARE(fodCalDataSize(pageSize), size);
}

void TestFodCalWriter::write_patchesFodFieldsOnly_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<int>("pageSize");
    QTest::newRow("automotive, page 64") << int(FOD_BOARD_AUTOMOTIVE) << 64;
    QTest::newRow("automotive, page 111") << int(FOD_BOARD_AUTOMOTIVE) << 111;
    QTest::newRow("xmc, page 64") << int(FOD_BOARD_XMC) << 64;
    QTest::newRow("xmc, page 256: pieces cut to one frame") << int(FOD_BOARD_XMC) << 256;
}

void TestFodCalWriter::write_patchesFodFieldsOnly()
{
    QFETCH(int, board);
    QFETCH(int, pageSize);
    SimConfig config;
    config.pageSize = uint16_t(pageSize);
    config.pingsToPowerCycle = 10;
    WriteRig rig(config);
    QVERIFY(rig.run(board));

    QVERIFY(rig.result);
    QCOMPARE(rig.texts, QStringList({kPowerCycle, kReadOk, QStringLiteral("Successfully Wrote FOD Parameters.\r\n"),
                                     QStringLiteral("Reflash target with Production Firmware WITHOUT selecting "
                                                    "'Flash Calibration Section'.\r\n")}));
    const BoardSnapshot after = rig.sim.snapshot();
    const QByteArray expected = expectedArea(rig.before, board, fodCalDataSize(pageSize), sampleResult());
    QCOMPARE(bytes(after.calibration).toHex(), expected.toHex());
    QVERIFY(isReturnToApplication(rig.sim.requestLog().back()));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.snapshot().mode, BoardMode::Application, 2000);
}

void TestFodCalWriter::noBootloader_sendsNothingMore()
{
    SimConfig config; // stays in its application: nobody power-cycles it
    WriteRig rig(config);
    QVERIFY(rig.run(FOD_BOARD_AUTOMOTIVE));
    QVERIFY(!rig.result);
    QCOMPARE(rig.texts,
             QStringList({kPowerCycle, QStringLiteral("No response after trying to put into BL mode.\r\n")}));
    QTest::qWait(100);
    for (const RequestRecord &r : rig.sim.requestLog()) {
        QCOMPARE(r.command, SimCmd::READ_REGISTER);
        QCOMPARE(r.address, uint32_t(SimReg::BOOT_STATUS));
    }
    QCOMPARE(bytes(rig.sim.snapshot().calibration), rig.before);
}

void TestFodCalWriter::blockReadFailing_writesNothingButReturnsBoard()
{
    SimConfig config;
    config.pingsToPowerCycle = 10;
    config.faults.commandFaults.push_back({SimCmd::READ_REGISTER, SimReg::BL_VERSION, -1, SimStatus::BAD_LENGTH});
    WriteRig rig(config);
    QVERIFY(rig.run(FOD_BOARD_XMC));
    QVERIFY(!rig.result);
    QCOMPARE(rig.texts, QStringList({kPowerCycle, kUnreadable}));
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    const long blockReads = long(std::count_if(log.begin(), log.end(), [](const RequestRecord &r) {
        return r.command == SimCmd::READ_REGISTER && r.address == SimReg::BL_VERSION;
    }));
    QCOMPARE(blockReads, 10L);
    QCOMPARE(countCommand(log, SimCmd::READ_CALIBRATION), 0L);
    QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION), 0L);
    QVERIFY(isReturnToApplication(log.back()));
    QCOMPARE(bytes(rig.sim.snapshot().calibration), rig.before);
}

void TestFodCalWriter::pageSizeZero_writesNothingButReturnsBoard()
{
    SimConfig config;
    config.pageSize = 0;
    config.pingsToPowerCycle = 10;
    WriteRig rig(config);
    QVERIFY(rig.run(FOD_BOARD_AUTOMOTIVE));
    QVERIFY(!rig.result);
    QCOMPARE(rig.texts, QStringList({kPowerCycle, kUnreadable}));
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION), 0L);
    QVERIFY(isReturnToApplication(log.back()));
}

void TestFodCalWriter::pieceReadFailing_writesNothingButReturnsBoard()
{
    SimConfig config;
    config.pingsToPowerCycle = 10;
    config.faults.commandFaults.push_back({SimCmd::READ_CALIBRATION, -1, 5, SimStatus::BAD_ADDRESS});
    WriteRig rig(config);
    QVERIFY(rig.run(FOD_BOARD_AUTOMOTIVE));
    QVERIFY(!rig.result);
    QCOMPARE(rig.texts, QStringList({kPowerCycle, kReadOk, kUnreadable}));
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QCOMPARE(countCommand(log, SimCmd::READ_CALIBRATION), 6L);
    QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION), 0L);
    QVERIFY(isReturnToApplication(log.back()));
    QCOMPARE(bytes(rig.sim.snapshot().calibration), rig.before);
}

void TestFodCalWriter::blockWriteFailing_reportsAndReturnsBoard()
{
    SimConfig config;
    config.pingsToPowerCycle = 10;
    config.faults.errorOnBlockWrite[3] = 0xFE;
    WriteRig rig(config);
    QVERIFY(rig.run(FOD_BOARD_AUTOMOTIVE));
    QVERIFY(!rig.result);
    QCOMPARE(rig.texts,
             QStringList({kPowerCycle, kReadOk,
                          QStringLiteral("Writing of FOD Parameters Failed! Try 'Calculate Gains' again?\r\n")}));
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION), 4L);
    QVERIFY(isReturnToApplication(log.back()));
    // The three blocks before the failure landed; the rest of the area is as it was.
    const QByteArray after = bytes(rig.sim.snapshot().calibration);
    QCOMPARE(after.mid(192), rig.before.mid(192));
}

void TestFodCalWriter::backup_getsTheAreaAsReadAndStopsTheWriteWhenNotKept_data()
{
    QTest::addColumn<bool>("kept");
    QTest::newRow("kept: the area is written after it") << true;
    QTest::newRow("not kept: nothing written, board returned") << false;
}

void TestFodCalWriter::backup_getsTheAreaAsReadAndStopsTheWriteWhenNotKept()
{
    QFETCH(bool, kept);
    SimConfig config;
    config.pingsToPowerCycle = 10;
    WriteRig rig(config);
    QList<QByteArray> backups;
    long requestsAtBackup = -1;
    CalWriteFacts facts;
    CalWriteControl control;
    control.backup = [&](const QByteArray &area) {
        backups << area;
        requestsAtBackup = rig.sim.requestCount();
        return kept;
    };
    control.facts = &facts;
    QVERIFY(rig.run(FOD_BOARD_AUTOMOTIVE, quickTiming(), control));

    const int calDataSize = fodCalDataSize(config.pageSize);
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.at(0), rig.before.left(888) + QByteArray(calDataSize - 888, '\xFF'));
    QCOMPARE(facts.areaRead, backups.at(0));
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    // Taken before the first block write, whatever it decides.
    QVERIFY(std::none_of(log.begin(), log.begin() + requestsAtBackup,
                         [](const RequestRecord &r) { return r.command == SimCmd::WRITE_CALIBRATION; }));
    QCOMPARE(rig.result, kept);
    QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION) > 0, kept);
    QCOMPARE(facts.outcome, kept ? CalWriteState::Completed : CalWriteState::NotWritten);
    QVERIFY(isReturnToApplication(log.back()));
    if (!kept) {
        QCOMPARE(rig.texts, QStringList({kPowerCycle, kReadOk}));
        QCOMPARE(bytes(rig.sim.snapshot().calibration), rig.before);
    }
}

QTEST_GUILESS_MAIN(TestFodCalWriter)
#include "tst_fodcalwriter.moc"
