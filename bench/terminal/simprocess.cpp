#include "bench/terminal/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr int kStartMs = 5000;
constexpr int kStopMs = 5000;
constexpr int kLinkPollMs = 10;

} // namespace

SimProcess::SimProcess(QString program, QString linkPath, QString dumpDir, QObject *parent)
    : QObject(parent), program(std::move(program)), linkPath(std::move(linkPath)), dumpDir(std::move(dumpDir))
{
    connect(&process, &QProcess::readyReadStandardOutput, this, &SimProcess::readOutput);
    connect(&process, &QProcess::readyReadStandardError, this,
            [this] { stderrText += QString::fromLocal8Bit(process.readAllStandardError()); });
}

SimProcess::~SimProcess()
{
    if (process.state() != QProcess::NotRunning)
        stop();
}

bool SimProcess::start(const QStringList &extraArguments)
{
    args = QStringList{QStringLiteral("--link"), linkPath, QStringLiteral("--dump-dir"), dumpDir} + extraArguments;
    process.start(program, args);
    if (!process.waitForStarted(kStartMs)) {
        error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(linkPath) && timer.elapsed() < kStartMs) {
        if (process.state() == QProcess::NotRunning) {
            error = QStringLiteral("%1 ended at start: %2").arg(program, stderrText.trimmed());
            return false;
        }
        process.waitForReadyRead(kLinkPollMs);
    }
    if (!QFileInfo::exists(linkPath)) {
        error = QStringLiteral("%1 made no link at %2").arg(program, linkPath);
        return false;
    }
    return true;
}

void SimProcess::requestDump()
{
    if (process.state() == QProcess::Running)
        process.write("dump\n");
}

SimProcess::Counters SimProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return counters;
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(kStopMs)) {
        process.terminate();
        if (!process.waitForFinished(kStopMs))
            process.kill();
        process.waitForFinished(kStopMs);
    }
    readOutput();
    stderrText += QString::fromLocal8Bit(process.readAllStandardError());
    // The program dumps once more as it ends.
    counters = readCounters(dumpDir);
    return counters;
}

void SimProcess::readOutput()
{
    pendingOutput += process.readAllStandardOutput();
    int eol;
    while ((eol = pendingOutput.indexOf('\n')) >= 0) {
        const QByteArray line = pendingOutput.left(eol);
        pendingOutput.remove(0, eol + 1);
        if (line.startsWith("DUMPED ")) {
            counters = readCounters(dumpDir);
            emit dumped(counters);
        }
    }
}

SimProcess::Counters SimProcess::readCounters(const QString &dumpDir)
{
    Counters c;
    QFile file(dumpDir + QStringLiteral("/state.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return c;
    bool sentFound = false;
    bool droppedFound = false;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() != 2)
            continue;
        if (fields.at(0) == "text_lines_sent")
            c.linesSent = fields.at(1).toLong(&sentFound);
        else if (fields.at(0) == "text_lines_dropped")
            c.linesDropped = fields.at(1).toLong(&droppedFound);
        else if (fields.at(0) == "mode")
            c.mode = QString::fromLatin1(fields.at(1));
    }
    c.valid = sentFound && droppedFound;
    return c;
}

QString SimProcess::state() const
{
    if (process.state() != QProcess::NotRunning)
        return QStringLiteral("running");
    if (process.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("ended by a signal");
    return QStringLiteral("ended with exit code %1").arg(process.exitCode());
}
