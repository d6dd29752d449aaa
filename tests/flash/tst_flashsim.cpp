#include "flash/flashprocedure.h"
#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"
#include "tests/flash/recordingreporter.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// One request as text: command, address, payload, so a whole log compares as a list of lines.
QString requestText(quint8 command, quint32 address, const QByteArray &payload)
{
    const bool wideAddress = command == 1 || (command >= 3 && command <= 6);
    return QStringLiteral("cmd %1 @%2 %3")
        .arg(command)
        .arg(address, wideAddress ? 8 : 4, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(payload.toHex()));
}

QString requestText(const RequestRecord &r)
{
    return requestText(r.command, r.address,
                       QByteArray(reinterpret_cast<const char *>(r.payload.data()), int(r.payload.size())));
}

QByteArray toBytes(const std::vector<uint8_t> &v, size_t from = 0, size_t count = std::string::npos)
{
    const size_t n = qMin(count, v.size() - from);
    return QByteArray(reinterpret_cast<const char *>(v.data() + from), int(n));
}

QStringList blockTexts(quint8 command, const QByteArray &section)
{
    QStringList lines;
    for (int offset = 0; offset < section.size(); offset += 64)
        lines.append(requestText(command, quint32(offset), section.mid(offset, 64)));
    return lines;
}

QString registerRead(quint16 reg, quint8 count)
{
    return requestText(RWTarget::READ_REGISTER_COMMAND, reg, QByteArray(1, char(count)));
}

QString registerWrite(quint16 reg, const QByteArray &values)
{
    return requestText(RWTarget::WRITE_REGISTER_COMMAND, reg, values);
}

using Setup = std::function<void(SimConfig &, ImageSpec &, FlashSelection &)>;

} // namespace

Q_DECLARE_METATYPE(Setup)

// The flash procedure against the simulated board: the requests the board received, what its
// memory holds afterwards, and the board's own verdicts and faults.
class TestFlashSim : public QObject
{
    Q_OBJECT

private slots:
    void fullFlash_exactRequestLogAndBoardMemory();
    void boardVerdictsAndFaults_data();
    void boardVerdictsAndFaults();

private:
    QTemporaryDir dir;
};

void TestFlashSim::fullFlash_exactRequestLogAndBoardMemory()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    QSerialPort port(QString::fromStdString(sim.slavePath()));
    port.setBaudRate(115200);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    ImageSpec spec;
    spec.applicationSize = 5000; // crosses four multiples of 1024 and ends in a short block
    spec.settingsSize = 256;
    spec.calibrationSize = 300;
    const std::vector<uint8_t> imageBytes = buildFirmwareImage(spec);
    const QByteArray image = toBytes(imageBytes);
    const QString path = dir.filePath("full.bin");
    QVERIFY(writeFirmwareImage(path.toStdString(), spec));

    RWTarget target;
    RecordingReporter reporter;
    // The worker's info query starts with the application register block; it marks where the query ran.
    reporter.hook = [&](const QString &entry) {
        if (entry == "info") {
            QByteArray info;
            target.readRegisters(port, RWTarget::REG_APP_FW_VERSION, 32, info);
        }
    };
    std::atomic_bool cancel{false};
    QVERIFY(target.ping(port));
    flashImage(target, port, reporter, path, cancel, FlashSelection{true, true, true, false});
    QCOMPARE(reporter.results, (QList<RWTarget::RW_RESPONSE_T>{RWTarget::RW_SUCCESS}));

    QStringList expected{registerRead(RWTarget::REG_BOOT_STATUS, 1),
                         registerRead(RWTarget::REG_BL_PART_NUMBER, 1),
                         registerRead(RWTarget::REG_APP_HW_DESCRIPTOR, 1),
                         registerWrite(RWTarget::REG_IMAGE_HEADER_BLOCK, image.mid(24, 16)),
                         registerWrite(RWTarget::REG_CRC_STATUS, QByteArray(2, '\0')),
                         registerRead(RWTarget::REG_CRC_STATUS, 1)};
    expected += blockTexts(RWTarget::WRITE_ENCRYPTED_COMMAND, image.mid(256, 5000));
    expected += blockTexts(RWTarget::WRITE_SETTINGS_COMMAND, image.mid(5256, 256));
    expected += blockTexts(RWTarget::WRITE_CALIBRATION_COMMAND, image.mid(5512, 300));
    expected += {registerRead(RWTarget::REG_CRC_STATUS, 1), registerRead(RWTarget::REG_APP_FW_VERSION, 32),
                 registerWrite(RWTarget::REG_RESET, QByteArray::fromHex("33dd"))};
    QStringList received;
    for (const RequestRecord &r : sim.requestLog()) {
        QVERIFY2(r.crcGood, r.text().c_str());
        received.append(requestText(r));
    }
    QCOMPARE(received, expected);

    const BoardSnapshot board = sim.snapshot();
    QCOMPARE(toBytes(board.application, 0, 5000), toBytes(imageApplicationBytes(spec)));
    QCOMPARE(toBytes(board.settings, 0, 256), toBytes(imageSettingsBytes(spec)));
    QCOMPARE(toBytes(board.calibration, 0, 300), toBytes(imageCalibrationBytes(spec)));
    QCOMPARE(board.mode, BoardMode::Application);
    QCOMPARE(reporter.only("bytes"), (QStringList{"1024", "2048", "3072", "4096", "5000", "256", "300"}));
}

void TestFlashSim::boardVerdictsAndFaults_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("statusLine"); // a status line the run must contain, if any

    // Requests: 0 ping, 1 part number, 2 hardware descriptor, 3 header block, 4 and 5 CRC register,
    // then the blocks. The image's hardware ID is 0x0042.
    const auto none = [](SimConfig &, ImageSpec &, FlashSelection &) {};
    QTest::newRow("good image") << Setup(none) << int(RWTarget::RW_SUCCESS)
                                << "Successfully flashed Calibration Section.";
    QTest::newRow("application that fails the board's CRC")
        << Setup([](SimConfig &, ImageSpec &i, FlashSelection &) { i.badApplicationCrc = true; })
        << int(RWTarget::RW_CRC_CHECK_FAILED) << "Successfully flashed Calibration Section.";
    QTest::newRow("settings only: no verdict, even from a failing board")
        << Setup([](SimConfig &c, ImageSpec &, FlashSelection &s) {
               c.faults.crcVerdictFail = true;
               s = FlashSelection{false, true, false, false};
           })
        << int(RWTarget::RW_SUCCESS) << "Successfully flashed Settings Section.";
    QTest::newRow("application size 0 with the flag: the cleared register fails the verdict")
        << Setup([](SimConfig &, ImageSpec &i, FlashSelection &) { i.applicationSize = 0; })
        << int(RWTarget::RW_CRC_CHECK_FAILED) << QString();
    QTest::newRow("board error 0xFE on the fourth block")
        << Setup([](SimConfig &c, ImageSpec &, FlashSelection &) { c.faults.errorOnBlockWrite[3] = 0xFE; })
        << int(RWTarget::RW_INVALID_RESPONSE) << "Error Code: -2";
    QTest::newRow("block left unanswered")
        << Setup([](SimConfig &c, ImageSpec &, FlashSelection &) { c.faults.silentOn.insert(8); })
        << int(RWTarget::RW_READ_TIMEOUT) << QString();
    QTest::newRow("wrong command echo on a block")
        << Setup([](SimConfig &c, ImageSpec &, FlashSelection &) { c.faults.wrongEchoOn.insert(7); })
        << int(RWTarget::RW_INVALID_RESPONSE) << QString();
    QTest::newRow("garbage before and responses split byte by byte")
        << Setup([](SimConfig &c, ImageSpec &i, FlashSelection &) {
               c.faults.garbageBeforeAll = true;
               c.faults.splitResponses = true;
               c.faults.splitGapUs = 100;
               i.applicationSize = 640;
           })
        << int(RWTarget::RW_SUCCESS) << QString();
    QTest::newRow("other hardware") << Setup(
                                           [](SimConfig &c, ImageSpec &, FlashSelection &) { c.hwDescriptor = 0x0043; })
                                    << int(RWTarget::RW_INVALID_HARDWARE_ID) << QString();
    QTest::newRow("other hardware, check ignored") << Setup([](SimConfig &c, ImageSpec &, FlashSelection &s) {
        c.hwDescriptor = 0x0043;
        s.ignoreHardwareId = true;
    }) << int(RWTarget::RW_SUCCESS) << QString();
    QTest::newRow("image cut inside the calibration section")
        << Setup([](SimConfig &, ImageSpec &i, FlashSelection &) { i.truncateTo = 256 + 2048 + 256 + 100; })
        << int(RWTarget::RW_FILE_OPEN_FAILED) << "Bin file is truncated.";
}

void TestFlashSim::boardVerdictsAndFaults()
{
    QFETCH(Setup, setup);
    QFETCH(int, result);
    QFETCH(QString, statusLine);

    SimConfig config;
    ImageSpec spec;
    spec.applicationSize = 2048;
    spec.settingsSize = 256;
    spec.calibrationSize = 256;
    FlashSelection selection{true, true, true, false};
    setup(config, spec, selection);

    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    QSerialPort port(QString::fromStdString(sim.slavePath()));
    port.setBaudRate(115200);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    const QString path = dir.filePath(QStringLiteral("%1.bin").arg(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY(writeFirmwareImage(path.toStdString(), spec));

    RWTarget target;
    RecordingReporter reporter;
    std::atomic_bool cancel{false};
    QVERIFY(target.ping(port));
    flashImage(target, port, reporter, path, cancel, selection);
    QCOMPARE(reporter.results.size(), 1);
    QCOMPARE(int(reporter.results.first()), result);
    if (!statusLine.isEmpty())
        QVERIFY2(reporter.only("status").contains(statusLine), qPrintable(reporter.entries.join('\n')));

    const std::vector<RequestRecord> log = sim.requestLog();
    QVERIFY(!log.empty());
    if (result == RWTarget::RW_SUCCESS) {
        // Only the successful path sends the board back to its application.
        QCOMPARE(requestText(log.back()), registerWrite(RWTarget::REG_RESET, QByteArray::fromHex("33dd")));
        QCOMPARE(sim.snapshot().mode, BoardMode::Application);
        if (selection.settings)
            QCOMPARE(toBytes(sim.snapshot().settings, 0, spec.settingsSize), toBytes(imageSettingsBytes(spec)));
    } else {
        QCOMPARE(sim.snapshot().mode, BoardMode::Bootloader);
    }
    const bool crcReadAfterBlocks =
        std::any_of(log.begin() + qMin<size_t>(6, log.size()), log.end(), [](const RequestRecord &r) {
            return r.command == RWTarget::READ_REGISTER_COMMAND && r.address == RWTarget::REG_CRC_STATUS;
        });
    if (!selection.app)
        QVERIFY(!crcReadAfterBlocks);
}

QTEST_GUILESS_MAIN(TestFlashSim)
#include "tst_flashsim.moc"
