#include "fod/calarearestore.h"
#include "fod/fodcalwriter.h"
#include "sim/boardsimulator.h"
#include "tests/fod/fodmessagerecorder.h"

#include <QSerialPort>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int kPageSize = 64;
constexpr int kAreaBytes = 896; // 888 rounded up to pages of 64

enum class Backup { SameSerial, OtherSerial, OtherSize };

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// A backup of the board's own area, its FOD blocks changed so that a restore shows, then its
// serial number or its size changed as the row asks.
QByteArray backupOf(const QByteArray &area, Backup kind)
{
    QByteArray backup = area.left(kAreaBytes);
    backup.replace(600, 144, QByteArray(144, '\x11'));
    backup.replace(888, kAreaBytes - 888, QByteArray(kAreaBytes - 888, '\xFF'));
    if (kind == Backup::OtherSerial)
        backup.replace(100, 13, QByteArray("SIM-99999999\0", 13));
    if (kind == Backup::OtherSize)
        backup.chop(kPageSize);
    return backup;
}

long countCommand(const std::vector<RequestRecord> &log, uint8_t command)
{
    return long(
        std::count_if(log.begin(), log.end(), [command](const RequestRecord &r) { return r.command == command; }));
}

} // namespace

// Writing a calibration backup back into the board: the steps of every area write, and the checks
// that keep a backup off a board it does not belong to.
class TestCalAreaRestore : public QObject
{
    Q_OBJECT

private slots:
    void restore_writesOnlyABackupOfThisBoard_data();
    void restore_writesOnlyABackupOfThisBoard();
};

void TestCalAreaRestore::restore_writesOnlyABackupOfThisBoard_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("force");
    QTest::addColumn<bool>("backupTaken");
    QTest::addColumn<int>("result");

    QTest::newRow("same serial: written back byte for byte")
        << int(Backup::SameSerial) << false << true << int(CalRestoreResult::Restored);
    QTest::newRow("another serial: refused, nothing written")
        << int(Backup::OtherSerial) << false << true << int(CalRestoreResult::SerialMismatch);
    QTest::newRow("another serial, forced: written")
        << int(Backup::OtherSerial) << true << true << int(CalRestoreResult::Restored);
    QTest::newRow("another size: refused before the area is read")
        << int(Backup::OtherSize) << true << true << int(CalRestoreResult::SizeMismatch);
    QTest::newRow("present area not backed up: nothing written")
        << int(Backup::SameSerial) << false << false << int(CalRestoreResult::NotBackedUp);
}

void TestCalAreaRestore::restore_writesOnlyABackupOfThisBoard()
{
    QFETCH(int, kind);
    QFETCH(bool, force);
    QFETCH(bool, backupTaken);
    QFETCH(int, result);

    SimConfig config;
    config.startMode = BoardMode::Application;
    config.pageSize = kPageSize;
    config.pingsToPowerCycle = 10;
    BoardSimulator sim(config);
    QVERIFY(sim.start());
    const QByteArray before = bytes(sim.snapshot().calibration);
    const QByteArray backup = backupOf(before, Backup(kind));
    QSerialPort port(QString::fromStdString(sim.slavePath()));
    QVERIFY(port.open(QIODevice::ReadWrite));

    FodCalWriteTiming timing;
    timing.catchWindowMs = 1500;
    timing.settleMs = 100;
    QList<QByteArray> backups;
    CalWriteFacts facts;
    CalWriteControl control;
    control.backup = [&](const QByteArray &area) {
        backups << area;
        return backupTaken;
    };
    control.facts = &facts;
    FodMessageRecorder recorder;
    RWTarget target;
    QCOMPARE(int(restoreCalibrationArea(target, port, backup, force, recorder.messages(), timing, control)), result);

    const bool written = result == int(CalRestoreResult::Restored);
    const QByteArray after = bytes(sim.snapshot().calibration);
    const std::vector<RequestRecord> log = sim.requestLog();
    QVERIFY2(recorder.output.value(0) == QStringLiteral("Power cycle board within the next 10 seconds...\r\n"),
             qPrintable(recorder.output.join("")));
    QCOMPARE(after.left(kAreaBytes) == backup, written);
    QCOMPARE(facts.bytesWritten, written ? quint32(kAreaBytes) : 0u);
    if (!written) {
        QCOMPARE(countCommand(log, SimCmd::WRITE_CALIBRATION), 0L);
        QCOMPARE(after, before);
    }
    // The area was read, and handed over as it was, before any refusal that needs it.
    if (Backup(kind) == Backup::OtherSize) {
        QCOMPARE(countCommand(log, SimCmd::READ_CALIBRATION), 0L);
        QVERIFY(backups.isEmpty());
    } else {
        QCOMPARE(backups.size(), 1);
        QCOMPARE(backups.at(0), before.left(888) + QByteArray(kAreaBytes - 888, '\xFF'));
    }
    // Whatever happened after the catch, the board is sent back to its application last.
    const RequestRecord &last = log.back();
    QVERIFY(last.command == SimCmd::WRITE_REGISTER && last.address == SimReg::RESET &&
            last.payload == (std::vector<uint8_t>{0x33, 0xDD}));
}

QTEST_GUILESS_MAIN(TestCalAreaRestore)
#include "tst_calarearestore.moc"
