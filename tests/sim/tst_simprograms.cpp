#include "sim/imagebuilder.h"
#include "sim/simcrc.h"

#include <QtSerialPort/QSerialPort>
#include <QtTest>

#include <csignal>

namespace {
constexpr int kStartMs = 5000;
constexpr int kAnswerMs = 2000;

QString binary(const char *name)
{
    return QDir(qEnvironmentVariable("ZAVLO_BIN_DIR")).filePath(name);
}

QByteArray withCrc(QByteArray packet)
{
    const uint16_t crc = simCrc16(reinterpret_cast<const uint8_t *>(packet.constData()), size_t(packet.size()));
    packet.append(char(crc & 0xFF));
    packet.append(char(crc >> 8));
    return packet;
}

// Sends a request and collects one response frame.
QByteArray exchange(QSerialPort &port, const QByteArray &request)
{
    port.write(request);
    port.waitForBytesWritten(kAnswerMs);
    QByteArray in;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kAnswerMs) {
        const int start = in.indexOf('\x5A');
        if (start >= 0 && in.size() >= start + 2 && in.size() >= start + quint8(in[start + 1]) + 2)
            return in.mid(start, quint8(in[start + 1]) + 2);
        if (port.waitForReadyRead(100))
            in += port.readAll();
    }
    return QByteArray();
}

// zavlo-sim started with the given options; the slave path is taken from its first line.
struct SimProcess {
    QProcess process;
    QString slave;
    bool start(const QStringList &args)
    {
        process.start(binary("zavlo-sim"), args);
        if (!process.waitForStarted(kStartMs)) {
            qWarning("cannot start zavlo-sim: %s", qPrintable(process.errorString()));
            return false;
        }
        if (!process.waitForReadyRead(kStartMs))
            return false;
        const QString line = QString::fromLatin1(process.readLine()).trimmed();
        if (!line.startsWith("PTY "))
            return false;
        slave = line.mid(4);
        return true;
    }
    ~SimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(kStartMs);
        }
    }
};
} // namespace

// The two programs as other tests and engineers start them.
class TestSimPrograms : public QObject
{
    Q_OBJECT

private slots:
    void sim_servesTheLink_logsRequests_andDumpsOnTerminate();
    void sim_vanishAt_endsTheProgramAndRemovesTheLink();
    void sim_sigusr1_powerCyclesIntoTheBootloader();
    void mkimage_optionsGiveTheSameImageAsTheLibrary();
};

void TestSimPrograms::sim_servesTheLink_logsRequests_andDumpsOnTerminate()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttySIM");
    const QString log = dir.filePath("requests.log");
    const QString dump = dir.filePath("dump");
    QVERIFY(QDir().mkpath(dump));
    SimProcess sim;
    QVERIFY(
        sim.start({"--link", link, "--log", log, "--dump-dir", dump, "--page-size", "32", "--hw-descriptor", "0x77"}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slave);

    QSerialPort port;
    port.setPortName(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.setBaudRate(QSerialPort::Baud115200);
    const QByteArray page = exchange(port, withCrc(QByteArray::fromHex("5A0608030001")));
    QCOMPARE(page.toHex(), QByteArray("5a0608002000").append(page.right(2).toHex()));
    const QByteArray write = exchange(port, withCrc(QByteArray::fromHex("5A0B050A000000") + "abcd"));
    QCOMPARE(write.left(4).toHex(), QByteArray("5a040500"));
    port.close();

    sim.process.terminate();
    QVERIFY(sim.process.waitForFinished(kStartMs));
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

    QFile cal(dump + "/calibration.bin");
    QVERIFY(cal.open(QIODevice::ReadOnly));
    const QByteArray calBytes = cal.readAll();
    QCOMPARE(calBytes.size(), 4096);
    QCOMPARE(calBytes.mid(0, 4), QByteArray("ZVLC"));
    QCOMPARE(calBytes.mid(10, 4), QByteArray("abcd"));
    QFile state(dump + "/state.txt");
    QVERIFY(state.open(QIODevice::ReadOnly));
    const QByteArray stateText = state.readAll();
    QVERIFY(stateText.contains("mode boot\n"));
    QVERIFY(stateText.contains("reg 0x0012 0x0077\n"));
    QVERIFY(stateText.contains("requests 2\n"));
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = logFile.readAll().split('\n');
    QCOMPARE(lines.size(), 3); // two lines and the empty rest after the last line end
    QVERIFY(lines[0].startsWith("#0 boot len=6 cmd=8 addr=0x0003 crc=ok status=0"));
    QVERIFY(lines[1].startsWith("#1 boot len=11 cmd=5 addr=0x0000000A crc=ok status=0 payload=61626364"));
}

void TestSimPrograms::sim_vanishAt_endsTheProgramAndRemovesTheLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyGONE");
    SimProcess sim;
    QVERIFY(sim.start({"--link", link, "--vanish-at", "1"}));
    QSerialPort port;
    port.setPortName(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(!exchange(port, QByteArray::fromHex("5A06080101 01F0AA")).isEmpty());
    port.write(QByteArray::fromHex("5A0608010101F0AA"));
    port.waitForBytesWritten(kAnswerMs);
    QVERIFY(sim.process.waitForFinished(kStartMs));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimPrograms::sim_sigusr1_powerCyclesIntoTheBootloader()
{
    SimProcess sim;
    QVERIFY(sim.start({"--mode", "app", "--app-boot-status", "0x0001", "--text-rate", "0", "--power-off-ms", "20"}));
    QSerialPort port;
    port.setPortName(sim.slave);
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray ping = QByteArray::fromHex("5A0608010101F0AA");
    QCOMPARE(exchange(port, ping).mid(4, 2).toHex(), QByteArray("0100"));
    ::kill(pid_t(sim.process.processId()), SIGUSR1);
    QByteArray status;
    for (int i = 0; i < 50 && status != QByteArray::fromHex("00A5"); ++i) {
        QTest::qWait(20);
        status = exchange(port, ping).mid(4, 2);
    }
    QCOMPARE(status.toHex(), QByteArray("00a5"));
}

void TestSimPrograms::mkimage_optionsGiveTheSameImageAsTheLibrary()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("test.bin");
    QProcess mk;
    mk.start(binary("zavlo-mkimage"), {"-o",
                                       out,
                                       "--version",
                                       "1.7",
                                       "--part",
                                       "300",
                                       "--hwid",
                                       "0x33",
                                       "--app-size",
                                       "1000",
                                       "--app-seed",
                                       "5",
                                       "--settings-size",
                                       "0",
                                       "--cal-size",
                                       "300",
                                       "--cal-version",
                                       "4.1",
                                       "--serial",
                                       "X-1",
                                       "--description",
                                       "cli",
                                       "--bad-crc"});
    QVERIFY(mk.waitForFinished(kStartMs));
    QCOMPARE(mk.exitCode(), 0);

    ImageSpec spec;
    spec.version = 0x0107;
    spec.partNumber = 300;
    spec.hardwareId = 0x33;
    spec.applicationSize = 1000;
    spec.applicationSeed = 5;
    spec.settingsSize = 0;
    spec.calibrationSize = 300;
    spec.calibrationMajor = 4;
    spec.calibrationMinor = 1;
    spec.serialNumber = "X-1";
    spec.description = "cli";
    spec.badApplicationCrc = true;
    const std::vector<uint8_t> expected = buildFirmwareImage(spec);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes, QByteArray(reinterpret_cast<const char *>(expected.data()), int(expected.size())));
}

QTEST_GUILESS_MAIN(TestSimPrograms)
#include "tst_simprograms.moc"
