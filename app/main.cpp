#include "app/commandline.h"
#include "app/stopsignals.h"
#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char *argv[])
{
    if (!CommandLine::choosePlatform(argc, argv))
        return 1;

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

    CommandLine commandLine;
    if (!commandLine.process(application))
        return 1;
    commandLine.start(window);

    const int code = application.exec();
    // The loop ended by some other way while a command-line flash had no result: never a success.
    return window.commandLineRunPending() ? int(RWTarget::RW_CANCELLED) : code;
}
