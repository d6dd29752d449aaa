#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"
#include "target/rwtarget.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <functional>

namespace {

constexpr int kFlashTimeoutMs = 60000;
constexpr int kWrongPortWatchMs = 3000;

using Setup = std::function<void(SimConfig &, ImageSpec &)>;

QByteArray toBytes(const std::vector<uint8_t> &v, size_t count)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(qMin(count, v.size())));
}

QProcessEnvironment guiEnvironment(const QString &stateHome = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!stateHome.isEmpty())
        env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
    return env;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The records in a history or report file, one per line; a line that is not a whole JSON object
// shows as an empty one.
QList<QJsonObject> recordsIn(const QString &path)
{
    QList<QJsonObject> records;
    for (const QByteArray &line : fileBytes(path).split('\n'))
        if (!line.isEmpty())
            records << QJsonDocument::fromJson(line).object();
    return records;
}

// The data bytes of every block write the board took.
int acceptedBlockBytes(const BoardSimulator &sim)
{
    int bytes = 0;
    for (const RequestRecord &r : sim.requestLog())
        if ((r.command == RWTarget::WRITE_ENCRYPTED_COMMAND || r.command == RWTarget::WRITE_SETTINGS_COMMAND ||
             r.command == RWTarget::WRITE_CALIBRATION_COMMAND) &&
            r.answered && r.status == 0)
            bytes += int(r.payload.size());
    return bytes;
}

QString historyIn(const QString &stateHome)
{
    return stateHome + QStringLiteral("/zavlo-gui/history.jsonl");
}

QString guiPath()
{
    return qEnvironmentVariable("ZAVLO_BIN_DIR") + QStringLiteral("/zavlo-gui");
}

// Waits for the tool to end, and kills one that does not; `log` receives what it wrote to stderr.
bool waitForExit(QProcess &gui, QString &log)
{
    const bool finished = gui.waitForFinished(kFlashTimeoutMs);
    log = QString::fromLocal8Bit(gui.readAllStandardError());
    if (!finished) {
        gui.kill();
        gui.waitForFinished();
    }
    return finished;
}

// A window on `port`, connected to it (zavlo-gui -p PORT); true once it has found the board.
bool startHolder(QProcess &holder, QString &log, const QString &port)
{
    holder.setProcessEnvironment(guiEnvironment());
    QObject::connect(&holder, &QProcess::readyReadStandardError,
                     [&] { log += QString::fromLocal8Bit(holder.readAllStandardError()); });
    holder.start(guiPath(), {"-p", port});
    return holder.waitForStarted() &&
           QTest::qWaitFor([&] { return log.contains(QStringLiteral("Board is now connected.")); }, kFlashTimeoutMs);
}

} // namespace

Q_DECLARE_METATYPE(Setup)

// The real program as a separate process: "zavlo-gui -p PORT -i FILE" against the simulated board
// flashes once and exits with the flash result.
class TestFlashCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLineFlash_exitsWithResult_data();
    void commandLineFlash_exitsWithResult();
    void boardGoneDuringFlash_exitsWithReadTimeout();
    void stopSignalDuringTheBlockWrites_endsBetweenBlocksWithFive_data();
    void stopSignalDuringTheBlockWrites_endsBetweenBlocksWithFive();
    void wrongPort_waitsUntilStoppedThenExitsWithFive();
    void secondProcessOnAPort_isRefusedUntilTheHolderIsGone_data();
    void secondProcessOnAPort_isRefusedUntilTheHolderIsGone();
    void timeout_endsARunWithoutResultWithEleven_data();
    void timeout_endsARunWithoutResultWithEleven();
    void commandLineRestore_writesOnlyThisBoardsBackup_data();
    void commandLineRestore_writesOnlyThisBoardsBackup();
    void stopSignalBeforeTheRestoresBlockWrites_exitsFiveWithNothingWritten();

private:
    QTemporaryDir dir;
};

void TestFlashCommandLine::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(guiPath()).isExecutable(), qPrintable(guiPath()));
}

void TestFlashCommandLine::commandLineFlash_exitsWithResult_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("good image: exit 0, the board holds it")
        << Setup([](SimConfig &, ImageSpec &) {}) << int(RWTarget::RW_SUCCESS);
    QTest::newRow("board in its application is restarted and flashed")
        << Setup([](SimConfig &c, ImageSpec &) { c.startMode = BoardMode::Application; }) << int(RWTarget::RW_SUCCESS);
    QTest::newRow("board error on a block: exit 4")
        << Setup([](SimConfig &c, ImageSpec &) { c.faults.errorOnBlockWrite[2] = 0xFE; })
        << int(RWTarget::RW_INVALID_RESPONSE);
    QTest::newRow("application failing the board's CRC: exit 7")
        << Setup([](SimConfig &, ImageSpec &i) { i.badApplicationCrc = true; }) << int(RWTarget::RW_CRC_CHECK_FAILED);
    QTest::newRow("other hardware: exit 9")
        << Setup([](SimConfig &c, ImageSpec &) { c.hwDescriptor = 0x0043; }) << int(RWTarget::RW_INVALID_HARDWARE_ID);
    QTest::newRow("file without the image magic offers no section: exit 10")
        << Setup([](SimConfig &, ImageSpec &i) { i.wrongMagic = true; }) << int(RWTarget::RW_NO_SECTION_SELECTED);
}

void TestFlashCommandLine::commandLineFlash_exitsWithResult()
{
    QFETCH(Setup, setup);
    QFETCH(int, exitCode);

    SimConfig config;
    ImageSpec spec;
    spec.applicationSize = 3000;
    spec.settingsSize = 256;
    spec.calibrationSize = 256;
    setup(config, spec);
    // The port is named through a link, as /dev/serial/by-id/... names a real one.
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    config.linkPath = dir.filePath("link-" + tag).toStdString();
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QString image = dir.filePath(QStringLiteral("image-%1.bin").arg(tag));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));
    const QString stateHome = dir.filePath("state-" + tag);
    const QString report = dir.filePath("report-" + tag + ".jsonl");

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment(stateHome));
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.linkPath()), "-i", image, "--report", report});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    QString log;
    const bool finished = waitForExit(gui, log);
    QVERIFY2(finished, qPrintable(log));
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QVERIFY2(gui.exitCode() == exitCode, qPrintable(QStringLiteral("exit %1\n").arg(gui.exitCode()) + log));
    QVERIFY2(log.contains(QStringLiteral("Exiting with response")), qPrintable(log));

    // The console goes to stdout for the station's log, the result text last.
    static const QMap<int, QString> resultTexts{
        {0, "Successfully flashed device."}, {2, "Read timeout occurred! Try again?"},
        {4, "Invalid Response! Try again?"}, {7, "Failed CRC check after flashing!"},
        {9, "Invalid Hardware ID!"},         {10, "Select at least one section to flash!"}};
    const QStringList console = QString::fromLocal8Bit(gui.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!console.isEmpty());
    QVERIFY2(console.last().endsWith("] " + resultTexts.value(exitCode)), qPrintable(console.join('\n')));
    QVERIFY(console.first().contains(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d\\] ")));

    // One record, whatever the result, in the history and the report alike: the board as read, the
    // image by its hash, the result.
    const QList<QJsonObject> records = recordsIn(historyIn(stateHome));
    QCOMPARE(records.size(), 1);
    QCOMPARE(fileBytes(report), fileBytes(historyIn(stateHome)));
    const QJsonObject record = records.at(0);
    QCOMPARE(record.value("schema").toInt(), 1);
    QCOMPARE(record.value("kind").toString(), QStringLiteral("flash"));
    QVERIFY(QDateTime::fromString(record.value("time").toString(), Qt::ISODateWithMs).isValid());
    QCOMPARE(record.value("port").toObject().value("given").toString(), QString::fromStdString(sim.linkPath()));
    QCOMPARE(record.value("port").toObject().value("resolved").toString(),
             QFileInfo(QString::fromStdString(sim.slavePath())).canonicalFilePath());
    const QJsonObject identity = record.value("board").toObject();
    QCOMPARE(identity.value("serialNumber").toString(), QString::fromStdString(config.serialNumber));
    QCOMPARE(identity.value("hardwareId").toInt(), int(config.hwDescriptor));
    QCOMPARE(identity.value("firmwareVersion").toString(), QStringLiteral("2.5"));
    const QJsonObject result = record.value("result").toObject();
    QCOMPARE(result.value("code").toInt(), exitCode);
    QCOMPARE(result.value("text").toString(), resultTexts.value(exitCode));
    const QJsonObject imageRecord = record.value("image").toObject();
    QCOMPARE(imageRecord.value("path").toString(), image);
    // A file without the image magic offers no section, so the flash never reads it.
    if (exitCode == RWTarget::RW_NO_SECTION_SELECTED)
        QVERIFY(!imageRecord.contains("sha256"));
    else
        QCOMPARE(imageRecord.value("sha256").toString(),
                 QString::fromLatin1(QCryptographicHash::hash(fileBytes(image), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(record.value("bytesWritten").toInt(), acceptedBlockBytes(sim));

    const BoardSnapshot board = sim.snapshot();
    if (exitCode == RWTarget::RW_SUCCESS) {
        QVERIFY2(!console.filter(QRegularExpression("\\]    3000 bytes flashed\\.$")).isEmpty(),
                 qPrintable(console.join(QLatin1Char(10))));
        QCOMPARE(toBytes(board.application, spec.applicationSize), toBytes(imageApplicationBytes(spec), ~size_t(0)));
        QCOMPARE(toBytes(board.settings, spec.settingsSize), toBytes(imageSettingsBytes(spec), ~size_t(0)));
        QCOMPARE(toBytes(board.calibration, spec.calibrationSize), toBytes(imageCalibrationBytes(spec), ~size_t(0)));
        QCOMPARE(board.mode, BoardMode::Application);
        // Nothing follows the restart into the new firmware.
        const RequestRecord last = sim.requestLog().back();
        QCOMPARE(last.command, quint8(RWTarget::WRITE_REGISTER_COMMAND));
        QCOMPARE(last.address, quint32(RWTarget::REG_RESET));
        QVERIFY(last.payload == (std::vector<uint8_t>{0x33, 0xDD}));
    }
    if (config.startMode == BoardMode::Application) {
        // The board was sent to its bootloader with 0x55DD before anything was written.
        const std::vector<RequestRecord> requests = sim.requestLog();
        const auto reset = std::find_if(requests.begin(), requests.end(), [](const RequestRecord &r) {
            return r.command == RWTarget::WRITE_REGISTER_COMMAND && r.address == RWTarget::REG_RESET &&
                   r.payload == std::vector<uint8_t>{0xDD, 0x55};
        });
        const auto firstBlock = std::find_if(requests.begin(), requests.end(), [](const RequestRecord &r) {
            return r.command == RWTarget::WRITE_ENCRYPTED_COMMAND;
        });
        QVERIFY(reset != requests.end());
        QVERIFY(firstBlock != requests.end());
        QVERIFY(reset < firstBlock);
    }
}

void TestFlashCommandLine::boardGoneDuringFlash_exitsWithReadTimeout()
{
    SimConfig config;
    // Paced, so the flash is still running when the board stops answering.
    config.faults.pace115200 = true;
    ImageSpec spec;
    spec.applicationSize = 64 * 64;
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QString image = dir.filePath(QStringLiteral("gone.bin"));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment());
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.slavePath()), "-i", image});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));

    QElapsedTimer watch;
    watch.start();
    bool blocksSeen = false;
    while (!blocksSeen && watch.elapsed() < kFlashTimeoutMs && gui.state() == QProcess::Running) {
        const std::vector<RequestRecord> requests = sim.requestLog();
        blocksSeen = std::any_of(requests.begin(), requests.end(),
                                 [](const RequestRecord &r) { return r.command == RWTarget::WRITE_ENCRYPTED_COMMAND; });
        if (!blocksSeen)
            QThread::msleep(5);
    }
    QVERIFY(blocksSeen);
    FaultConfig faults = sim.faults();
    faults.absent = true;
    sim.setFaults(faults);

    QString log;
    const bool finished = waitForExit(gui, log);
    QVERIFY2(finished, qPrintable(log));
    QVERIFY2(gui.exitCode() == RWTarget::RW_READ_TIMEOUT,
             qPrintable(QStringLiteral("exit %1\n").arg(gui.exitCode()) + log));
    QVERIFY(sim.snapshot().blockWriteCount < 64);
}

void TestFlashCommandLine::stopSignalDuringTheBlockWrites_endsBetweenBlocksWithFive_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestFlashCommandLine::stopSignalDuringTheBlockWrites_endsBetweenBlocksWithFive()
{
    QFETCH(int, signalNumber);
    SimConfig config;
    // Paced like the real line: the signal lands well inside the application's blocks.
    config.faults.pace115200 = true;
    ImageSpec spec;
    spec.applicationSize = 64 * 1024;
    spec.settingsSize = 0;
    spec.calibrationSize = 0;
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QString image = dir.filePath(QStringLiteral("signal-%1.bin").arg(signalNumber));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment());
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.slavePath()), "-i", image});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(sim.snapshot().blockWriteCount > 3 || gui.state() != QProcess::Running, kFlashTimeoutMs);
    QCOMPARE(gui.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(gui.processId()), signalNumber), 0);

    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QVERIFY2(gui.exitCode() == RWTarget::RW_CANCELLED,
             qPrintable(QStringLiteral("exit %1\n").arg(gui.exitCode()) + log));
    const QStringList console = QString::fromLocal8Bit(gui.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(!console.isEmpty() && console.last().endsWith("] Flash process cancelled by user!"),
             qPrintable(console.join('\n')));

    // The tool stopped between two blocks: each block it sent was taken whole and answered, the
    // area holds exactly those, and the board waits in its bootloader.
    const BoardSnapshot board = sim.snapshot();
    const long blocks = board.blockWriteCount;
    QVERIFY(blocks > 3 && blocks < long(spec.applicationSize / 64));
    const std::vector<RequestRecord> requests = sim.requestLog();
    const long answeredBlocks = long(std::count_if(requests.begin(), requests.end(), [](const RequestRecord &r) {
        return r.command == RWTarget::WRITE_ENCRYPTED_COMMAND && r.crcGood && r.answered && r.status == 0;
    }));
    QCOMPARE(answeredBlocks, blocks);
    const size_t written = size_t(blocks) * 64;
    QCOMPARE(toBytes(board.application, written), toBytes(imageApplicationBytes(spec), written));
    QCOMPARE(toBytes(std::vector<uint8_t>(board.application.begin() + long(written), board.application.end()), 64),
             QByteArray(64, char(0xFF)));
    QCOMPARE(board.mode, BoardMode::Bootloader);
}

void TestFlashCommandLine::wrongPort_waitsUntilStoppedThenExitsWithFive()
{
    ImageSpec spec;
    const QString image = dir.filePath(QStringLiteral("noport.bin"));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment());
    gui.start(guiPath(), {"-p", dir.filePath("no-such-port"), "-i", image});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    // Without a port there is no board and no result, so the program keeps waiting.
    QVERIFY(!gui.waitForFinished(kWrongPortWatchMs));
    QCOMPARE(gui.state(), QProcess::Running);
    // Stopped before any result: the run did not flash, which a station must not take for 0.
    gui.terminate();
    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gui.exitCode(), int(RWTarget::RW_CANCELLED));
    QVERIFY2(log.contains(QStringLiteral("Exiting with response 5")), qPrintable(log));
}

void TestFlashCommandLine::secondProcessOnAPort_isRefusedUntilTheHolderIsGone_data()
{
    QTest::addColumn<bool>("otherName");
    QTest::newRow("same name") << false;
    // Neither the lock file, named after the path, nor the exclusive mode, which root passes, stops this one.
    QTest::newRow("the device behind the link") << true;
}

void TestFlashCommandLine::secondProcessOnAPort_isRefusedUntilTheHolderIsGone()
{
    QFETCH(bool, otherName);
    SimConfig config;
    config.linkPath = dir.filePath(QStringLiteral("ttyHELD%1").arg(int(otherName))).toStdString();
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    QProcess holder;
    QString holderLog;
    QVERIFY2(startHolder(holder, holderLog, QString::fromStdString(config.linkPath)), qPrintable(holderLog));
    const QString image = dir.filePath(QStringLiteral("held.bin"));
    QVERIFY(writeFirmwareImage(image.toStdString(), ImageSpec()));

    const QString port = QString::fromStdString(otherName ? sim.slavePath() : config.linkPath);
    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment());
    QString console;
    connect(&gui, &QProcess::readyReadStandardOutput,
            [&] { console += QString::fromLocal8Bit(gui.readAllStandardOutput()); });
    gui.start(guiPath(), {"-p", port, "-i", image});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(console.contains(QStringLiteral("] Busy:")) ||
                                 console.contains(QStringLiteral("] Successfully")),
                             kFlashTimeoutMs);
    gui.terminate();
    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    QCOMPARE(gui.exitCode(), int(RWTarget::RW_CANCELLED));

    const QStringList lines = console.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const int unable = lines.indexOf(QRegularExpression(QStringLiteral(".*\\] Unable to open COM port!$")));
    QVERIFY2(unable >= 0 && unable + 1 < lines.size(), qPrintable(console));
    QCOMPARE(lines.at(unable + 1).section(QStringLiteral("] "), 1),
             QStringLiteral("Busy: %1 is in use by zavlo-gui (PID %2): close it there first.")
                 .arg(port)
                 .arg(holder.processId()));
    QCOMPARE(sim.snapshot().blockWriteCount, 0L);

    // A holder that is killed leaves no lock behind that would refuse the next run; under the
    // holder's name for the port, which also meets the lock file it left.
    QCOMPARE(holder.state(), QProcess::Running);
    holder.kill();
    QVERIFY(holder.waitForFinished(kFlashTimeoutMs));
    gui.start(guiPath(), {"-p", QString::fromStdString(config.linkPath), "-i", image});
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    QVERIFY2(gui.exitCode() == RWTarget::RW_SUCCESS, qPrintable(console));
}

void TestFlashCommandLine::timeout_endsARunWithoutResultWithEleven_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("seconds");
    QTest::newRow("absent board") << Setup([](SimConfig &c, ImageSpec &) { c.faults.absent = true; }) << "3";
    // Usually cut off inside the block writes, whose cancel must not turn into 5.
    QTest::newRow("flash longer than the limit") << Setup([](SimConfig &c, ImageSpec &i) {
        c.faults.pace115200 = true;
        i.applicationSize = 128 * 1024;
    }) << "2";
}

void TestFlashCommandLine::timeout_endsARunWithoutResultWithEleven()
{
    QFETCH(Setup, setup);
    QFETCH(QString, seconds);
    SimConfig config;
    ImageSpec spec;
    setup(config, spec);
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QString image = dir.filePath(QStringLiteral("timeout-%1.bin").arg(seconds));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));

    QElapsedTimer watch;
    watch.start();
    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment());
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.slavePath()), "-i", image, "--timeout", seconds});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QVERIFY2(gui.exitCode() == 11, qPrintable(QStringLiteral("exit %1\n").arg(gui.exitCode()) + log));
    QVERIFY(watch.elapsed() >= seconds.toInt() * 1000);
    const QString console = QString::fromLocal8Bit(gui.readAllStandardOutput());
    QVERIFY2(console.contains(QStringLiteral("] No result after %1 s: stopping.\n").arg(seconds)), qPrintable(console));
    QVERIFY(sim.snapshot().mode == BoardMode::Bootloader);
}

void TestFlashCommandLine::commandLineRestore_writesOnlyThisBoardsBackup_data()
{
    QTest::addColumn<QByteArray>("serialNumber");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("backup of this board: restored, exit 0") << QByteArray("SIM-00001234") << 0;
    QTest::newRow("backup of another board: refused, exit 13") << QByteArray("SIM-00009999") << 13;
}

void TestFlashCommandLine::commandLineRestore_writesOnlyThisBoardsBackup()
{
    QFETCH(QByteArray, serialNumber);
    QFETCH(int, exitCode);
    constexpr int kAreaBytes = 896; // 888 rounded up to pages of 64
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QByteArray before = toBytes(sim.snapshot().calibration, ~size_t(0));
    // The board's own area with other FOD blocks, as an earlier calibration left it.
    QByteArray backup = before.left(888) + QByteArray(kAreaBytes - 888, '\xFF');
    backup.replace(600, 144, QByteArray(144, '\x11'));
    backup.replace(100, serialNumber.size() + 1, serialNumber + '\0');
    const QString backupPath = dir.filePath(QStringLiteral("backup-%1.bin").arg(exitCode));
    QFile file(backupPath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(backup) == backup.size());
    file.close();
    const QString stateHome = dir.filePath(QStringLiteral("state-restore-%1").arg(exitCode));

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment(stateHome));
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.slavePath()), "--restore-calibration", backupPath});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    const QStringList console = QString::fromLocal8Bit(gui.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(gui.exitCode() == exitCode,
             qPrintable(QStringLiteral("exit %1\n").arg(gui.exitCode()) + console.join('\n')));
    QVERIFY2(console.contains("Power cycle board within the next 10 seconds..."), qPrintable(console.join('\n')));

    const QByteArray after = toBytes(sim.snapshot().calibration, ~size_t(0));
    const std::vector<RequestRecord> requests = sim.requestLog();
    if (exitCode == 0) {
        QCOMPARE(after.left(kAreaBytes), backup);
    } else {
        QCOMPARE(after, before);
        QVERIFY(std::none_of(requests.begin(), requests.end(),
                             [](const RequestRecord &r) { return r.command == RWTarget::WRITE_CALIBRATION_COMMAND; }));
    }
    QCOMPARE(sim.snapshot().mode, BoardMode::Application);
    const QList<QJsonObject> records = recordsIn(historyIn(stateHome));
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).value("kind").toString(), QStringLiteral("restore"));
    QCOMPARE(records.at(0).value("result").toObject().value("code").toInt(), exitCode);
    QCOMPARE(records.at(0).value("backup").toObject().value("serialNumber").toString(), QString(serialNumber));
}

void TestFlashCommandLine::stopSignalBeforeTheRestoresBlockWrites_exitsFiveWithNothingWritten()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QByteArray before = toBytes(sim.snapshot().calibration, ~size_t(0));
    const QString backupPath = dir.filePath(QStringLiteral("backup-stopped.bin"));
    QFile file(backupPath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before.left(888) + QByteArray(8, '\xFF')) == 896);
    file.close();

    QProcess gui;
    gui.setProcessEnvironment(guiEnvironment(dir.filePath(QStringLiteral("state-restore-stopped"))));
    gui.start(guiPath(), {"-p", QString::fromStdString(sim.slavePath()), "--restore-calibration", backupPath});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));
    // The prompt comes a second before the first block write: the pause after the catch.
    QByteArray output;
    QElapsedTimer watch;
    watch.start();
    while (!output.contains("Power cycle board") && watch.elapsed() < kFlashTimeoutMs &&
           gui.state() == QProcess::Running) {
        gui.waitForReadyRead(100);
        output += gui.readAllStandardOutput();
    }
    QVERIFY2(output.contains("Power cycle board"), output.constData());
    QCOMPARE(::kill(pid_t(gui.processId()), SIGTERM), 0);

    QString log;
    QVERIFY2(waitForExit(gui, log), qPrintable(log));
    output += gui.readAllStandardOutput();
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QVERIFY2(gui.exitCode() == int(RWTarget::RW_CANCELLED), output.constData());
    QVERIFY2(output.trimmed().endsWith("] Calibration restore cancelled before anything was written."),
             output.constData());
    const std::vector<RequestRecord> requests = sim.requestLog();
    QVERIFY(std::none_of(requests.begin(), requests.end(),
                         [](const RequestRecord &r) { return r.command == RWTarget::WRITE_CALIBRATION_COMMAND; }));
    QCOMPARE(toBytes(sim.snapshot().calibration, ~size_t(0)), before);
}

QTEST_GUILESS_MAIN(TestFlashCommandLine)
#include "tst_flashcommandline.moc"
