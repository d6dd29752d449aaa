#include "app/commandline.h"

#include "ui/mainwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

#include <iterator>

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
};

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

void CommandLine::process(const QCoreApplication &application)
{
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(application);

    port = parser.value(QStringLiteral("port"));
    qDebug() << "COM Port is" << port;
    input = parser.value(QStringLiteral("input"));
    qDebug() << "Bin file is" << input;
}

CommandLine::Run CommandLine::run() const
{
    // A single option on its own is ignored.
    return !port.isEmpty() && !input.isEmpty() ? Run::Flash : Run::Interactive;
}

void CommandLine::start(MainWindow &window) const
{
    if (run() != Run::Flash)
        return;
    window.setCommandLineMode();
    window.setFirmwareFilePath(input);
    emit window.connectCOMPortRequest(port);
}
