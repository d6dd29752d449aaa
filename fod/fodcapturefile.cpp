#include "fod/fodcapturefile.h"

#include <QFile>
#include <QSaveFile>

bool saveFodCapture(const QString &path, const QString &captureText, QString &error)
{
    const QByteArray bytes = captureText.toLatin1();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QStringLiteral("Capture not saved to %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool loadFodCapture(const QString &path, QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Capture not loaded from %1: %2").arg(path, file.errorString());
        return false;
    }
    // Reading one byte past the limit catches a file that grows after its size was looked at.
    bytes = file.read(FOD_CAPTURE_FILE_MAX_BYTES + 1);
    if (bytes.size() > FOD_CAPTURE_FILE_MAX_BYTES) {
        bytes.clear();
        error = QStringLiteral("Capture not loaded from %1: the file is larger than %2 MiB, which no capture is.")
                    .arg(path)
                    .arg(FOD_CAPTURE_FILE_MAX_BYTES / (1024 * 1024));
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Capture not loaded from %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
