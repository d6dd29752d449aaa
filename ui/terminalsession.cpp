#include "ui/terminalsession.h"

#include "worker/statefolder.h"

#include <QDateTime>
#include <QDir>
#include <QTime>

namespace {

// Written to the file at least this often, so that a crash or a pulled cable loses little, while
// the board's text still reaches the disk in a few large writes rather than one per read.
constexpr int kLogFlushMs = 1000;
// Files started within the same second get a counter instead of replacing each other.
constexpr int kMaxSameSecondLogs = 100;

const QString kStampFormat = QStringLiteral("hh:mm:ss.zzz ");

} // namespace

TerminalSession::TerminalSession(QObject *parent) : QObject(parent)
{
    flushTimer.setInterval(kLogFlushMs);
    connect(&flushTimer, &QTimer::timeout, this, &TerminalSession::flushLog);
}

TerminalSession::~TerminalSession()
{
    stopLog();
}

QString TerminalSession::take(const QString &piece, const QTime &receivedAt)
{
    QString text;
    QString stamp;
    text.reserve(piece.size() + (stamps ? kStampFormat.size() : 0));
    for (const QChar c : piece) {
        const bool cr = c == QLatin1Char('\r');
        if (c == QLatin1Char('\n') && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = cr;
        if (cr || c == QLatin1Char('\n')) {
            text += QLatin1Char('\n');
            lineOpen = false;
            continue;
        }
        if (!lineOpen) {
            lineOpen = true;
            if (stamps) {
                if (stamp.isEmpty())
                    stamp = receivedAt.toString(kStampFormat);
                text += stamp;
            }
        }
        text += c;
    }
    if (log.isOpen() && !text.isEmpty() && log.write(text.toUtf8()) < 0) {
        error = log.errorString();
        stopLog();
        emit logFailed(error);
    }
    return text;
}

bool TerminalSession::startLog()
{
    stopLog();
    const QString folder = zavloStateDir(QStringLiteral("logs"));
    if (folder.isEmpty()) {
        error = tr("Cannot create the folder %1.").arg(zavloStatePath(QStringLiteral("logs")));
        return false;
    }
    const QString base = QDir(folder).filePath(
        QStringLiteral("terminal-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    for (int n = 1; n <= kMaxSameSecondLogs; ++n) {
        log.setFileName(n == 1 ? base + QStringLiteral(".log") : QStringLiteral("%1-%2.log").arg(base).arg(n));
        if (log.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            error.clear();
            flushTimer.start();
            return true;
        }
        if (log.error() != QFileDevice::OpenError || !log.exists())
            break;
    }
    error = tr("Cannot open %1: %2").arg(log.fileName(), log.errorString());
    return false;
}

void TerminalSession::stopLog()
{
    flushTimer.stop();
    if (log.isOpen()) {
        log.flush();
        log.close();
    }
}

void TerminalSession::flushLog()
{
    if (log.isOpen() && !log.flush()) {
        error = log.errorString();
        stopLog();
        emit logFailed(error);
    }
}
