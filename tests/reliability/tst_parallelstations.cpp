#include "sim/imagebuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr int kStations = 8;
constexpr int kStartMs = 10000;
// Hang detector for the whole line; a paced flash of these images takes a few seconds.
constexpr int kAllFlashedMs = 180000;
constexpr int kDumpMs = 10000;

QString binary(const char *name)
{
    return qEnvironmentVariable("ZAVLO_BIN_DIR") + QLatin1Char('/') + QLatin1String(name);
}

QProcessEnvironment offscreen(const QString &stateHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
    return env;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every line of a file shared by the stations, each of which must be one whole record.
bool recordsByPort(const QString &path, QMap<QString, QJsonObject> &records, QString &why)
{
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    if (lines.isEmpty() || !lines.last().isEmpty()) {
        why = path + ": does not end with a line end";
        return false;
    }
    for (int i = 0; i + 1 < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonObject record = QJsonDocument::fromJson(lines.at(i), &error).object();
        if (error.error != QJsonParseError::NoError) {
            why = QStringLiteral("%1 line %2: %3").arg(path).arg(i + 1).arg(error.errorString());
            return false;
        }
        records.insert(record.value("port").toObject().value("given").toString(), record);
    }
    if (records.size() != lines.size() - 1) {
        why = path + ": two lines of one port";
        return false;
    }
    return true;
}

// Each station's board gets an image of its own, so that a crossed line would show.
ImageSpec stationImage(int station)
{
    ImageSpec spec;
    spec.applicationSize = 8 * 1024 + 64 * station + 17;
    spec.applicationSeed = 100 + station;
    spec.settingsSize = 256;
    spec.settingsSeed = 200 + station;
    spec.calibrationSize = 192 + station;
    spec.calibrationSeed = 300 + station;
    spec.description = "station " + std::to_string(station);
    return spec;
}

QByteArray fileHead(const QString &path, qint64 count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(count);
}

// The end of a station's log, or from a sanitizer's report on when there is one.
QString logTail(const QString &log)
{
    const int report = log.indexOf(QStringLiteral("=================="));
    return report >= 0 ? log.mid(report, 12000) : log.right(2000);
}

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kDumpMs)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

// A production line: one zavlo-gui process per port flashes eight simulated boards at once.
class TestParallelStations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eightStationsAtOnce_allExitZeroAndEveryBoardHoldsItsImage();
};

void TestParallelStations::initTestCase()
{
    for (const char *name : {"zavlo-gui", "zavlo-sim"})
        QVERIFY2(QFileInfo(binary(name)).isExecutable(), qPrintable(binary(name)));
}

void TestParallelStations::eightStationsAtOnce_allExitZeroAndEveryBoardHoldsItsImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    std::vector<std::unique_ptr<QProcess>> boards;
    std::vector<std::unique_ptr<QProcess>> stations;
    auto cleanup = qScopeGuard([&] {
        for (auto &station : stations)
            stop(*station);
        for (auto &board : boards)
            stop(*board);
    });

    for (int i = 0; i < kStations; ++i) {
        const QString dumpDir = dir.filePath(QStringLiteral("board-%1").arg(i));
        QVERIFY(QDir().mkpath(dumpDir));
        auto board = std::make_unique<QProcess>();
        board->setProcessChannelMode(QProcess::SeparateChannels);
        board->start(binary("zavlo-sim"),
                     {"--link", dir.filePath(QStringLiteral("port-%1").arg(i)), "--dump-dir", dumpDir, "--pace"});
        QVERIFY2(board->waitForStarted(kStartMs), qPrintable(board->errorString()));
        QElapsedTimer clock;
        clock.start();
        while (!board->canReadLine() && clock.elapsed() < kStartMs)
            board->waitForReadyRead(100);
        QVERIFY2(board->readLine().startsWith("PTY "), "the simulator did not report its pty");
        boards.push_back(std::move(board));

        std::string error;
        QVERIFY2(writeFirmwareImage(dir.filePath(QStringLiteral("image-%1.bin").arg(i)).toStdString(), stationImage(i),
                                    &error),
                 error.c_str());
    }

    // One history and one report file for the whole line, as stations sharing a log would have.
    const QString stateHome = dir.filePath(QStringLiteral("state"));
    const QString report = dir.filePath(QStringLiteral("line-report.jsonl"));
    for (int i = 0; i < kStations; ++i) {
        auto station = std::make_unique<QProcess>();
        station->setProcessEnvironment(offscreen(stateHome));
        station->start(binary("zavlo-gui"), {"-p", dir.filePath(QStringLiteral("port-%1").arg(i)), "-i",
                                             dir.filePath(QStringLiteral("image-%1.bin").arg(i)), "--report", report});
        QVERIFY2(station->waitForStarted(kStartMs), qPrintable(station->errorString()));
        stations.push_back(std::move(station));
    }

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kStations; ++i) {
        const qint64 left = qMax<qint64>(1, kAllFlashedMs - clock.elapsed());
        const bool finished = stations[size_t(i)]->waitForFinished(int(left));
        const QString log = QString::fromLocal8Bit(stations[size_t(i)]->readAllStandardError());
        const bool exitedZero = finished && stations[size_t(i)]->exitStatus() == QProcess::NormalExit &&
                                stations[size_t(i)]->exitCode() == 0;
        if (!exitedZero)
            qInfo().noquote() << "station" << i << "log:\n" << logTail(log);
        QVERIFY2(finished, qPrintable(QStringLiteral("station %1 still running").arg(i)));
        QVERIFY2(exitedZero,
                 qPrintable(QStringLiteral("station %1 exit %2").arg(i).arg(stations[size_t(i)]->exitCode())));
    }

    // Eight whole lines in each shared file, one per station, each with its own image.
    for (const QString &path : {report, stateHome + QStringLiteral("/zavlo-gui/history.jsonl")}) {
        QMap<QString, QJsonObject> records;
        QString why;
        QVERIFY2(recordsByPort(path, records, why), qPrintable(why));
        QCOMPARE(records.size(), kStations);
        for (int i = 0; i < kStations; ++i) {
            const QJsonObject record = records.value(dir.filePath(QStringLiteral("port-%1").arg(i)));
            const QByteArray image = fileBytes(dir.filePath(QStringLiteral("image-%1.bin").arg(i)));
            QCOMPARE(record.value("image").toObject().value("sha256").toString(),
                     QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
            QCOMPARE(record.value("result").toObject().value("code").toInt(), 0);
        }
    }

    // The simulators write their memory at exit.
    for (auto &board : boards) {
        board->terminate();
        QVERIFY(board->waitForFinished(kDumpMs));
        QCOMPARE(board->exitCode(), 0);
    }
    for (int i = 0; i < kStations; ++i) {
        const ImageSpec spec = stationImage(i);
        const QString dumpDir = dir.filePath(QStringLiteral("board-%1").arg(i));
        QCOMPARE(fileHead(dumpDir + "/application.bin", spec.applicationSize), bytes(imageApplicationBytes(spec)));
        QCOMPARE(fileHead(dumpDir + "/settings.bin", spec.settingsSize), bytes(imageSettingsBytes(spec)));
        QCOMPARE(fileHead(dumpDir + "/calibration.bin", spec.calibrationSize), bytes(imageCalibrationBytes(spec)));
    }
}

QTEST_GUILESS_MAIN(TestParallelStations)
#include "tst_parallelstations.moc"
