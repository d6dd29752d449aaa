#include "worker/portnames.h"

#include <QDir>
#include <QFileInfo>

namespace PortNames {

QStringList stableFolders()
{
    return {QStringLiteral("/dev/serial/by-id"), QStringLiteral("/dev/serial/by-path")};
}

QString systemLocation(const QString &portName)
{
    // The rule of QSerialPort on Unix, so that the lock and the reasons look at the file it opens.
    if (portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./")) ||
        portName.startsWith(QLatin1String("../")))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

QStringList stableNames(const QString &systemLocation, const QStringList &folders)
{
    QStringList names;
    const QString device = QFileInfo(systemLocation).canonicalFilePath();
    if (device.isEmpty())
        return names;
    for (const QString &folder : folders) {
        const QFileInfoList links = QDir(folder).entryInfoList(QDir::System | QDir::Files, QDir::Name);
        for (const QFileInfo &link : links)
            if (link.isSymLink() && link.canonicalFilePath() == device)
                names << link.absoluteFilePath();
    }
    return names;
}

} // namespace PortNames
