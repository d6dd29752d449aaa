#include "sim/boardsimulator.h"
#include "tests/ui/testimage.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// Only a guard against a hung child; the tests judge by exit code and output.
constexpr int kHangGuardMs = 120000;

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

QString guiPath()
{
    const QString binDir = qEnvironmentVariable("ZAVLO_BIN_DIR");
    return QDir(binDir.isEmpty() ? QCoreApplication::applicationDirPath() : binDir).filePath("zavlo-gui");
}

enum class Display { Offscreen, None };

RunResult runGui(const QStringList &arguments, Display display = Display::Offscreen)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display == Display::Offscreen) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(env);
    process.start(guiPath(), arguments);
    RunResult result;
    if (!process.waitForStarted()) {
        result.err = process.errorString();
        return result;
    }
    result.finished = process.waitForFinished(kHangGuardMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

} // namespace

class tst_EntryPoint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QFileInfo(guiPath()).isExecutable(), qPrintable(guiPath()));
    }

    void version_printsNameAndVersion();
    void help_listsBothOptions();
    void unknownOption_failsWithTheParsersMessage();
    void portAndInput_flashWithoutAClickAndExitWithTheResult_data();
    void portAndInput_flashWithoutAClickAndExitWithTheResult();
    void portAlone_opensTheWindowConnectedToIt();
    void noDisplay_commandLineRunsOffscreenAndAWindowEndsWithOneLine_data();
    void noDisplay_commandLineRunsOffscreenAndAWindowEndsWithOneLine();

private:
    QTemporaryDir dir;
};

void tst_EntryPoint::version_printsNameAndVersion()
{
    const RunResult run = runGui({QStringLiteral("--version")});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("Zavlo GUI 1.2\n"));
}

void tst_EntryPoint::help_listsBothOptions()
{
    const RunResult run = runGui({QStringLiteral("-h")});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Zavlo GUI Command Line Helper")), qPrintable(run.out));
    QVERIFY(run.out.contains(QRegularExpression(QStringLiteral("-p, --port <COM Port>\\s+Select COM Port \\(COM1, "
                                                               "COM2, etc\\.\\)\\."))));
    QVERIFY(run.out.contains(QRegularExpression(QStringLiteral("-i, --input <binary file>\\s+Specify <binary file>"))));
}

void tst_EntryPoint::unknownOption_failsWithTheParsersMessage()
{
    const RunResult run = runGui({QStringLiteral("--bogus")});
    QVERIFY(run.finished);
    QVERIFY(run.exitCode != 0);
    QVERIFY2(run.err.contains(QStringLiteral("Unknown option 'bogus'")), qPrintable(run.err));
}

void tst_EntryPoint::portAndInput_flashWithoutAClickAndExitWithTheResult_data()
{
    QTest::addColumn<QString>("portOption");
    QTest::addColumn<QString>("inputOption");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<int>("hardwareId");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("short spellings") << "-p"
                                     << "-i" << QByteArray("ZVLO") << int(kSimDefaultHardwareId) << 0;
    QTest::newRow("long spellings") << "--port"
                                    << "--input" << QByteArray("ZVLO") << int(kSimDefaultHardwareId) << 0;
    QTest::newRow("not a firmware image: no section") << "-p"
                                                      << "-i" << QByteArray("ELF\x7F") << 0x42 << 10;
    QTest::newRow("foreign hardware ID") << "-p"
                                         << "-i" << QByteArray("ZVLO") << 0x0043 << 9;
}

void tst_EntryPoint::portAndInput_flashWithoutAClickAndExitWithTheResult()
{
    QFETCH(QString, portOption);
    QFETCH(QString, inputOption);
    QFETCH(QByteArray, magic);
    QFETCH(int, hardwareId);
    QFETCH(int, exitCode);

    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    TestImage image;
    image.magic = magic;
    image.hardwareId = quint16(hardwareId);
    image.partNumber = kSimDefaultPartNumber;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(image.writeTo(path));
    const QString port = QString::fromStdString(sim.slavePath());

    const RunResult run = runGui({portOption, port, inputOption, path, QStringLiteral("ignored-argument")});
    QVERIFY2(run.finished, qPrintable(run.err.right(2000)));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(QStringLiteral("COM Port is \"%1\"").arg(port)), qPrintable(run.err.left(2000)));
    QVERIFY(run.err.contains(QStringLiteral("Bin file is \"%1\"").arg(path)));
    QCOMPARE(run.err.count(QStringLiteral("Exiting with response %1").arg(exitCode)), 1);

    const BoardSnapshot board = sim.snapshot();
    if (exitCode == 0)
        QVERIFY(std::equal(image.application.begin(), image.application.end(), board.application.begin(),
                           [](char a, uint8_t b) { return uint8_t(a) == b; }));
    else
        QCOMPARE(board.blockWriteCount, 0L);
}

void tst_EntryPoint::portAlone_opensTheWindowConnectedToIt()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    QProcess gui;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gui.setProcessEnvironment(env);
    QString log;
    connect(&gui, &QProcess::readyReadStandardError,
            [&] { log += QString::fromLocal8Bit(gui.readAllStandardError()); });
    gui.start(guiPath(), {QStringLiteral("-p"), QString::fromStdString(sim.slavePath())});
    QVERIFY2(gui.waitForStarted(), qPrintable(gui.errorString()));

    // Connected without a click: the board is found and its information read, and nothing is flashed.
    QTRY_VERIFY2_WITH_TIMEOUT(log.contains(QStringLiteral("Board is now connected.")), qPrintable(log.right(2000)),
                              kHangGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Cal Page Num:")), kHangGuardMs);
    QCOMPARE(gui.state(), QProcess::Running);
    gui.terminate();
    QVERIFY(gui.waitForFinished(kHangGuardMs));
    QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gui.exitCode(), 0);
    QCOMPARE(sim.snapshot().blockWriteCount, 0L);
}

void tst_EntryPoint::noDisplay_commandLineRunsOffscreenAndAWindowEndsWithOneLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // PORT and IMAGE stand for the simulated board and an image
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutEnd");
    QTest::addColumn<QString>("stderrText"); // the whole of stderr when not empty

    const QString noDisplay = QStringLiteral("zavlo-gui: no display (neither DISPLAY nor WAYLAND_DISPLAY is set) for "
                                             "the window; a command-line flash (-p PORT -i FILE) or restore needs none.\n");
    QTest::newRow("command-line flash: offscreen, 0")
        << QStringList{"-p", "PORT", "-i", "IMAGE"} << 0 << "] Successfully flashed device.\n"
        << QString();
    // An image is no calibration backup: the restore runs offscreen and is refused by its size.
    QTest::newRow("command-line restore: offscreen")
        << QStringList{"-p", "PORT", "--restore-calibration", "IMAGE"} << 12
        << "] Calibration area not restored: the backup's size is not the board's calibration area's.\n" << QString();
    QTest::newRow("version: offscreen") << QStringList{"--version"} << 0 << "Zavlo GUI 1.2\n" << QString();
    QTest::newRow("window to be used: one line, 1") << QStringList{} << 1 << QString() << noDisplay;
    QTest::newRow("port alone is a window too") << QStringList{"-p", "PORT"} << 1 << QString() << noDisplay;
}

void tst_EntryPoint::noDisplay_commandLineRunsOffscreenAndAWindowEndsWithOneLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutEnd);
    QFETCH(QString, stderrText);

    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    TestImage image;
    image.hardwareId = kSimDefaultHardwareId;
    image.partNumber = kSimDefaultPartNumber;
    const QString path = dir.filePath(QStringLiteral("headless.bin"));
    QVERIFY(image.writeTo(path));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), QString::fromStdString(sim.slavePath()));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^IMAGE$")), path);

    const RunResult run = runGui(arguments, Display::None);
    QVERIFY2(run.finished, qPrintable(run.err.right(2000)));
    QVERIFY2(run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1\n").arg(run.exitCode) + run.err.right(2000)));
    QVERIFY2(run.out.endsWith(stdoutEnd), qPrintable(run.out.right(500)));
    if (!stderrText.isEmpty())
        QCOMPARE(run.err, stderrText);
}

QTEST_MAIN(tst_EntryPoint)
#include "tst_entrypoint.moc"
