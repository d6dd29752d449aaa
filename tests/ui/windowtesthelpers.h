#pragma once

#include "fod/fodtypes.h"
#include "target/rwtarget.h"
#include "ui/mainwindow.h"
#include "worker/crossthreadtypes.h"

#include <QAbstractButton>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>
#include <mutex>

Q_DECLARE_METATYPE(MainWindow::ComPortEntry)

namespace windowtest {

// Records the log messages written while it is alive (from any thread) and passes them on.
class MessageLog
{
public:
    MessageLog()
    {
        std::lock_guard<std::mutex> lock(mutex());
        entries().clear();
        previous() = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog() { qInstallMessageHandler(previous()); }

    QStringList messages(QtMsgType type) const
    {
        std::lock_guard<std::mutex> lock(mutex());
        QStringList list;
        for (const auto &entry : entries())
            if (entry.first == type)
                list << entry.second;
        return list;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        {
            std::lock_guard<std::mutex> lock(mutex());
            entries().append({type, msg});
        }
        if (previous())
            previous()(type, context, msg);
    }
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static QList<QPair<QtMsgType, QString>> &entries()
    {
        static QList<QPair<QtMsgType, QString>> list;
        return list;
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
};

inline MainWindow::ComPortEntry port(const QString &name, const QString &manufacturer = QStringLiteral("Maker"),
                                     const QString &description = QStringLiteral("Serial"), bool busy = false,
                                     const QStringList &stableNames = {})
{
    return MainWindow::ComPortEntry{name, manufacturer, description, busy, stableNames};
}

// Registers the cross-thread types and gives the windows settings of their own, in a folder that
// lives as long as the test; a test may point XDG_CONFIG_HOME elsewhere before its first window.
inline void prepareWindowTests()
{
    registerCrossThreadTypes();
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
}

// Cuts the window's requests off from its worker, so that a test can drive the window's slots
// without the worker answering (or touching a port) behind its back.
inline void detachFromWorker(MainWindow &window)
{
    QObject::disconnect(&window, &MainWindow::connectCOMPortRequest, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::disconnectCOMPortRequest, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::cancelFlashDeviceRequest, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::cancelCalibrationWriteRequest, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::flashDeviceRequest, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::tabIndexChanged, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodCaptureControl, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodClearCapture, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodCalculateGains, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodGainChanged, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodSaveCapture, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::fodLoadCapture, nullptr, nullptr);
    QObject::disconnect(&window, &MainWindow::terminalSendRequest, nullptr, nullptr);
}

// A window whose port list holds the given ports and whose requests go nowhere.
inline std::unique_ptr<MainWindow> makeWindow(const QList<MainWindow::ComPortEntry> &ports = {port("ttyUSB0")})
{
    MainWindow::setComPortEnumerator([ports] { return ports; });
    auto window = std::make_unique<MainWindow>();
    detachFromWorker(*window);
    return window;
}

template<typename T> T *widget(const MainWindow &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("no widget named %s", name);
    return found;
}

inline QAbstractButton *button(const MainWindow &window, const char *name)
{
    return widget<QAbstractButton>(window, name);
}

inline QStringList consoleLines(const MainWindow &window)
{
    const QString text = widget<QTextBrowser>(window, "fwConsoleBrowser")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// The console lines without their "[hh:mm:ss:zzz] " stamps; a line without a stamp is kept
// whole so that a comparison shows it.
inline QStringList consoleMessages(const MainWindow &window)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d\\] "));
    QStringList messages;
    for (const QString &line : consoleLines(window)) {
        const QRegularExpressionMatch match = stamp.match(line);
        messages << (match.hasMatch() ? line.mid(match.capturedLength()) : QStringLiteral("<no stamp>") + line);
    }
    return messages;
}

inline QString lastConsoleMessage(const MainWindow &window)
{
    const QStringList messages = consoleMessages(window);
    return messages.isEmpty() ? QString() : messages.last();
}

inline QTabWidget *tabs(const MainWindow &window)
{
    return widget<QTabWidget>(window, "tabWidget");
}

// Port open and a board reported, as the worker would leave the window before a flash.
inline void openPortWithBoard(MainWindow &window)
{
    window.connectCOMPortResponse(true);
    window.boardConnectedStatus(true);
}

} // namespace windowtest
