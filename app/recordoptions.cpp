#include "app/recordoptions.h"

#include "ui/mainwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

const QString kReport = QStringLiteral("report");
const QString kRestore = QStringLiteral("restore-calibration");
const QString kForce = QStringLiteral("force");

struct OptionRow {
    const QString &name;
    const char *description;
    const char *valueName; // nullptr: a flag
};

const OptionRow kOptions[] = {
    {kReport, "Append the record of every flash, calibration write and restore to <file> as well.", "file"},
    {kRestore, "With -p: write a calibration backup back into the board instead of flashing.", "backup"},
    {kForce, "With --restore-calibration: restore a backup of another serial number.", nullptr},
};

} // namespace

void addRecordOptions(QCommandLineParser &parser)
{
    for (const OptionRow &row : kOptions) {
        const QString description = QCoreApplication::translate("main", row.description);
        parser.addOption(row.valueName ? QCommandLineOption(row.name, description,
                                                            QCoreApplication::translate("main", row.valueName))
                                       : QCommandLineOption(row.name, description));
    }
}

bool applyRecordOptions(const QCommandLineParser &parser, MainWindow &window, const QString &port, const QString &input)
{
    const QString backup = parser.value(kRestore);
    if (!backup.isEmpty() && (port.isEmpty() || !input.isEmpty())) {
        std::fputs("zavlo-gui: --restore-calibration needs -p PORT and no -i\n", stderr);
        return false;
    }
    // Absolute now: the worker's working folder is the process's, but the station's script named
    // the file relative to where it ran.
    const QString report = parser.value(kReport);
    if (!report.isEmpty())
        emit window.reportFileRequest(QFileInfo(report).absoluteFilePath());
    if (!backup.isEmpty()) {
        window.setCommandLineMode();
        window.setCommandLineRestore(QFileInfo(backup).absoluteFilePath(), parser.isSet(kForce));
        emit window.connectCOMPortRequest(port);
    }
    return true;
}
