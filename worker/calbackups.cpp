#include "worker/calbackups.h"

#include "fod/calarearestore.h"
#include "fod/fodcapturefile.h"
#include "worker/statefolder.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>

namespace {

const QString kBackupFolder = QStringLiteral("backups");
const QString kCaptureFolder = QStringLiteral("captures");

// The folder below the state folder, created when missing; empty, with the reason, when it cannot be.
QString stateSubfolder(const QString &name, QString &error)
{
    const QString folder = zavloStateDir(name);
    if (folder.isEmpty())
        error = QStringLiteral("the folder %1 cannot be created").arg(zavloStatePath(name));
    return folder;
}

} // namespace

QString calibrationFileStem(const QString &serialNumber, const QDateTime &time)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString serial = serialNumber;
    serial.replace(unsafe, QStringLiteral("_"));
    if (serial.isEmpty() || serial.startsWith(QLatin1Char('.')))
        serial.prepend(QStringLiteral("no-serial"));
    return serial + QLatin1Char('_') + time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
}

bool calibrationBackupFolderWritable(QString &error)
{
    const QString folder = stateSubfolder(kBackupFolder, error);
    if (folder.isEmpty())
        return false;
    // A folder that exists may still refuse files (read-only file system, permissions).
    QTemporaryFile probe(folder + QStringLiteral("/.probe-XXXXXX"));
    if (!probe.open()) {
        error = QStringLiteral("%1: %2").arg(folder, probe.errorString());
        return false;
    }
    return true;
}

bool saveCalibrationBackup(const QByteArray &area, const QString &stem, QString &path, QString &error)
{
    const QString folder = stateSubfolder(kBackupFolder, error);
    if (folder.isEmpty())
        return false;
    path = folder + QLatin1Char('/') + stem + QStringLiteral(".bin");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(area) != area.size() || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        path.clear();
        return false;
    }
    return true;
}

bool saveCaptureCopy(const QString &captureText, const QString &stem, QString &path, QString &error)
{
    const QString folder = stateSubfolder(kCaptureFolder, error);
    if (folder.isEmpty()) {
        error = QStringLiteral("Capture not saved: ") + error;
        return false;
    }
    path = folder + QLatin1Char('/') + stem + QStringLiteral(".txt");
    if (!saveFodCapture(path, captureText, error)) {
        path.clear();
        return false;
    }
    return true;
}

bool loadCalibrationBackup(const QString &path, QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Backup not read from %1: %2").arg(path, file.errorString());
        return false;
    }
    bytes = file.read(CAL_BACKUP_MAX_BYTES + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Backup not read from %1: %2").arg(path, file.errorString());
        return false;
    }
    if (bytes.isEmpty() || bytes.size() > CAL_BACKUP_MAX_BYTES) {
        error = bytes.isEmpty() ? QStringLiteral("Backup not read from %1: the file is empty.").arg(path)
                                : QStringLiteral("Backup not read from %1: the file is larger than %2 bytes, which no "
                                                 "calibration area is.")
                                      .arg(path)
                                      .arg(CAL_BACKUP_MAX_BYTES);
        bytes.clear();
        return false;
    }
    return true;
}
