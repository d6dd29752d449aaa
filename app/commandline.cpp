#include "app/commandline.h"

#include "ui/mainwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

// The options in the order that help lists them; their texts go through the "main" context.
struct OptionRow {
    const char *shortName;
    const char *longName;
    const char *valueName; // nullptr: a flag
    const char *description;
};

const OptionRow kOptions[] = {
    {"p", "port", QT_TRANSLATE_NOOP("main", "COM Port"),
     QT_TRANSLATE_NOOP("main", "Select COM Port (COM1, COM2, etc.).")},
    {"i", "input", QT_TRANSLATE_NOOP("main", "binary file"), QT_TRANSLATE_NOOP("main", "Specify <binary file>")},
    {nullptr, "timeout", QT_TRANSLATE_NOOP("main", "seconds"),
     QT_TRANSLATE_NOOP("main", "Command-line flash: stop and exit with 11 when it has no result after <seconds>.")},
    {nullptr, "report", QT_TRANSLATE_NOOP("main", "file"),
     QT_TRANSLATE_NOOP("main", "Append the record of every flash, calibration write and restore to <file> as well.")},
    {nullptr, "restore-calibration", QT_TRANSLATE_NOOP("main", "backup"),
     QT_TRANSLATE_NOOP("main", "With -p: write a calibration backup back into the board instead of flashing.")},
    {nullptr, "force", nullptr,
     QT_TRANSLATE_NOOP("main", "With --restore-calibration: restore a backup of another serial number.")},
};

// QTimer counts in int milliseconds.
constexpr int kMaxTimeoutSeconds = 2147483;

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Zavlo GUI Command Line Helper"));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionRow &row : kOptions) {
        QStringList names;
        if (row.shortName)
            names << QString::fromLatin1(row.shortName);
        names << QString::fromLatin1(row.longName);
        const QString description = QCoreApplication::translate("main", row.description);
        parser.addOption(row.valueName ? QCommandLineOption(names, description,
                                                            QCoreApplication::translate("main", row.valueName))
                                       : QCommandLineOption(names, description));
    }
}

} // namespace

bool CommandLine::choosePlatform(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.contains(QStringLiteral("-platform")) || arguments.contains(QStringLiteral("--platform")))
        return true;

    QCommandLineParser parser;
    addOptions(parser);
    const bool parsed = parser.parse(arguments);
    CommandLine commandLine;
    commandLine.read(parser);
    if (!parsed || parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
        parser.isSet(QStringLiteral("version")) || commandLine.run() == Run::Flash ||
        commandLine.run() == Run::Restore) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fputs("zavlo-gui: no display (neither DISPLAY nor WAYLAND_DISPLAY is set) for the window; "
               "a command-line flash (-p PORT -i FILE) or restore needs none.\n",
               stderr);
    return false;
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return true;
#endif
}

bool CommandLine::process(const QCoreApplication &application)
{
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(application);
    read(parser);
    qDebug() << "COM Port is" << port;
    qDebug() << "Bin file is" << input;

    if (!timeoutText.isNull() && timeoutSeconds == 0) {
        std::fprintf(stderr, "zavlo-gui: --timeout takes a whole number of seconds from 1 to %d, not \"%s\".\n",
                     kMaxTimeoutSeconds, qPrintable(timeoutText));
        return false;
    }
    if (!restorePath.isEmpty() && (port.isEmpty() || !input.isEmpty())) {
        std::fputs("zavlo-gui: --restore-calibration needs -p PORT and no -i\n", stderr);
        return false;
    }
    if (timeoutSeconds > 0 && run() != Run::Flash && run() != Run::Restore)
        qWarning("--timeout applies to a command-line flash (-p PORT -i FILE) or restore only; ignored.");
    return true;
}

void CommandLine::read(const QCommandLineParser &parser)
{
    port = parser.value(QStringLiteral("port"));
    input = parser.value(QStringLiteral("input"));
    // Absolute now: the worker's working folder is the process's, but the station's script named
    // the files relative to where it ran.
    const QString report = parser.value(QStringLiteral("report"));
    reportPath = report.isEmpty() ? QString() : QFileInfo(report).absoluteFilePath();
    const QString backup = parser.value(QStringLiteral("restore-calibration"));
    restorePath = backup.isEmpty() ? QString() : QFileInfo(backup).absoluteFilePath();
    restoreForce = parser.isSet(QStringLiteral("force"));
    timeoutText = parser.isSet(QStringLiteral("timeout")) ? parser.value(QStringLiteral("timeout")) : QString();
    bool number = false;
    const int seconds = timeoutText.toInt(&number);
    timeoutSeconds = number && seconds > 0 && seconds <= kMaxTimeoutSeconds ? seconds : 0;
}

CommandLine::Run CommandLine::run() const
{
    if (port.isEmpty())
        return Run::Interactive;
    if (!input.isEmpty())
        return Run::Flash;
    return restorePath.isEmpty() ? Run::InteractiveOnPort : Run::Restore;
}

void CommandLine::start(MainWindow &window) const
{
    if (!reportPath.isEmpty())
        emit window.reportFileRequest(reportPath);
    switch (run()) {
    case Run::Interactive:
        return;
    case Run::InteractiveOnPort:
        window.openPort(port);
        return;
    case Run::Flash:
        window.setCommandLineMode();
        window.setFirmwareFilePath(input);
        break;
    case Run::Restore:
        window.setCommandLineMode();
        window.setCommandLineRestore(restorePath, restoreForce);
        break;
    }
    window.openPort(port);
    if (timeoutSeconds > 0) {
        const int seconds = timeoutSeconds;
        // A wrong port or an absent board would keep a station waiting for ever.
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &window, [&window, seconds] {
            window.requestClose(kTimeoutExitCode, QStringLiteral("No result after %1 s: stopping.").arg(seconds));
        });
    }
}
