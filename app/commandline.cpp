#include "app/commandline.h"

#include "ui/mainwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include <cstdio>

namespace {

// The options in the order that help lists them; their texts go through the "main" context.
struct OptionRow {
    const char *shortName;
    const char *longName;
    const char *valueName;
    const char *description;
};

const OptionRow kOptions[] = {
    {"p", "port", QT_TRANSLATE_NOOP("main", "COM Port"),
     QT_TRANSLATE_NOOP("main", "Select COM Port (COM1, COM2, etc.).")},
    {"i", "input", QT_TRANSLATE_NOOP("main", "binary file"), QT_TRANSLATE_NOOP("main", "Specify <binary file>")},
    {nullptr, "timeout", QT_TRANSLATE_NOOP("main", "seconds"),
     QT_TRANSLATE_NOOP("main", "Command-line flash: stop and exit with 11 when it has no result after <seconds>.")},
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
        parser.addOption(QCommandLineOption(names, QCoreApplication::translate("main", row.description),
                                            QCoreApplication::translate("main", row.valueName)));
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
        parser.isSet(QStringLiteral("version")) || commandLine.run() == Run::Flash) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fputs("zavlo-gui: no display (neither DISPLAY nor WAYLAND_DISPLAY is set) for the window; "
               "a command-line flash (-p PORT -i FILE) needs none.\n",
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
    if (timeoutSeconds > 0 && run() != Run::Flash)
        qWarning("--timeout applies to a command-line flash (-p PORT -i FILE) only; ignored.");
    return true;
}

void CommandLine::read(const QCommandLineParser &parser)
{
    port = parser.value(QStringLiteral("port"));
    input = parser.value(QStringLiteral("input"));
    timeoutText = parser.isSet(QStringLiteral("timeout")) ? parser.value(QStringLiteral("timeout")) : QString();
    bool number = false;
    const int seconds = timeoutText.toInt(&number);
    timeoutSeconds = number && seconds > 0 && seconds <= kMaxTimeoutSeconds ? seconds : 0;
}

CommandLine::Run CommandLine::run() const
{
    if (port.isEmpty())
        return Run::Interactive;
    return input.isEmpty() ? Run::InteractiveOnPort : Run::Flash;
}

void CommandLine::start(MainWindow &window) const
{
    switch (run()) {
    case Run::Interactive:
        break;
    case Run::InteractiveOnPort:
        window.openPort(port);
        break;
    case Run::Flash:
        window.setCommandLineMode();
        window.setFirmwareFilePath(input);
        window.openPort(port);
        if (timeoutSeconds > 0) {
            const int seconds = timeoutSeconds;
            // A wrong port or an absent board would keep a station waiting for ever.
            QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &window, [&window, seconds] {
                window.requestClose(kTimeoutExitCode, QStringLiteral("No result after %1 s: stopping.").arg(seconds));
            });
        }
        break;
    }
}
