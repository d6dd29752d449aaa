#pragma once

#include "fod/fodmessages.h"

#include <QString>
#include <QStringList>

// Collects what the parse and the fit send to the FOD pane and to the debug log.
struct FodMessageRecorder {
    QStringList output;
    QStringList debug;
    FodMessages messages()
    {
        FodMessages m;
        m.output = [this](const std::string &text) { output << QString::fromStdString(text); };
        m.debug = [this](const std::string &text) { debug << QString::fromStdString(text); };
        return m;
    }
};
