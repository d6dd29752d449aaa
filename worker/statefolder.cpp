#include "worker/statefolder.h"

#include <QDir>

QString zavloStatePath(const QString &sub)
{
    // Qt 5 knows no location for state. The XDG rule: a relative value is invalid and ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/zavlo-gui/") + sub);
}

QString zavloStateDir(const QString &sub)
{
    const QString path = zavloStatePath(sub);
    return QDir().mkpath(path) ? path : QString();
}
