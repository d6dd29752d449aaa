#include "worker/historyfile.h"

#include "worker/statefolder.h"

#include <QFile>
#include <QJsonDocument>

namespace {

// A record goes out in one write() on a file opened with O_APPEND (Unbuffered: QFile passes the
// whole line to one system call). The kernel places each such write at the end of the file as it
// is then, and on a local file system one write of a line this size is never interleaved with
// another process's: stations that share one report file each add whole lines.
bool appendLine(const QString &path, const QByteArray &line, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) ||
        file.write(line) != line.size() || !file.flush()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString historyFilePath()
{
    return zavloStatePath(QStringLiteral("history.jsonl"));
}

QStringList appendHistoryRecord(const QJsonObject &record, const QString &reportPath)
{
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    QStringList failures;
    QString error;
    if (zavloStateDir(QString()).isEmpty())
        failures
            << QStringLiteral("History not written: the folder %1 cannot be created.").arg(zavloStatePath(QString()));
    else if (!appendLine(historyFilePath(), line, error))
        failures << QStringLiteral("History not written to %1: %2").arg(historyFilePath(), error);
    if (!reportPath.isEmpty() && !appendLine(reportPath, line, error))
        failures << QStringLiteral("Report not written to %1: %2").arg(reportPath, error);
    return failures;
}
