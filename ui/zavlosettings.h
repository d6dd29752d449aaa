#pragma once

#include <QSettings>
#include <QString>

// The tool's settings, in $XDG_CONFIG_HOME/zavlo-gui/zavlo-gui.conf. Named here, since the
// application names no organisation and QSettings would then have nowhere to write.
inline QSettings zavloSettings()
{
    return QSettings(QStringLiteral("zavlo-gui"), QStringLiteral("zavlo-gui"));
}
