#include "app/recordoptions.h"
#include "app/stopsignals.h"
#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zavlo GUI"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZAVLO_VERSION_TEXT));

    // Installed first, so that a signal during start-up is not lost; it is delivered once the
    // event loop runs.
    StopSignals stopSignals;

    // The window ends the event loop itself, once the worker has stopped or finished what it does.
    application.setQuitOnLastWindowClosed(false);

    registerCrossThreadTypes();

    MainWindow window;
    window.show();

    // A stop signal and the session manager's end of the session close the window like its button.
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&window] { window.requestClose(); });
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window, [&window] { window.requestClose(); });

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zavlo GUI Command Line Helper"));
    parser.addHelpOption();
    parser.addVersionOption();

    QCommandLineOption portOption(QStringList() << QStringLiteral("p") << QStringLiteral("port"),
                                  QCoreApplication::translate("main", "Select COM Port (COM1, COM2, etc.)."),
                                  QCoreApplication::translate("main", "COM Port"));
    QCommandLineOption inputOption(QStringList() << QStringLiteral("i") << QStringLiteral("input"),
                                   QCoreApplication::translate("main", "Specify <binary file>"),
                                   QCoreApplication::translate("main", "binary file"));
    parser.addOption(portOption);
    parser.addOption(inputOption);
    addRecordOptions(parser);

    parser.process(application);

    const QString port = parser.value(portOption);
    qDebug() << "COM Port is" << port;
    const QString input = parser.value(inputOption);
    qDebug() << "Bin file is" << input;

    if (!applyRecordOptions(parser, window, port, input))
        return EXIT_FAILURE;
    if (!port.isEmpty() && !input.isEmpty()) {
        window.setCommandLineMode();
        window.setFirmwareFilePath(input);
        emit window.connectCOMPortRequest(port);
    }

    const int code = application.exec();
    // The loop ended by some other way while a command-line flash had no result: never a success.
    return window.commandLineRunPending() ? int(RWTarget::RW_CANCELLED) : code;
}
