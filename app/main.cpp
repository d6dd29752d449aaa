#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zavlo GUI"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZAVLO_VERSION_TEXT));

    registerCrossThreadTypes();

    MainWindow window;
    window.show();

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

    parser.process(application);

    const QString port = parser.value(portOption);
    qDebug() << "COM Port is" << port;
    const QString input = parser.value(inputOption);
    qDebug() << "Bin file is" << input;

    if (!port.isEmpty() && !input.isEmpty()) {
        window.setCommandLineMode();
        window.setFirmwareFilePath(input);
        emit window.connectCOMPortRequest(port);
    }

    return application.exec();
}
