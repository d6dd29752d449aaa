#pragma once

#include <QString>

// Where the tool keeps what it writes between runs, such as logs: a folder below
// $XDG_STATE_HOME/zavlo-gui, or ~/.local/state/zavlo-gui when that is not set.
QString zavloStatePath(const QString &sub);

// The same folder, created on demand; empty when it cannot be created.
QString zavloStateDir(const QString &sub);
