#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

class QTime;

// The board's text on its way to the Terminal pane and the session log: line ends made "\n",
// each line that holds text stamped with the time its first character arrived (when stamps are
// on), and the result streamed to a log file of its own while logging is on.
class TerminalSession : public QObject
{
    Q_OBJECT

public:
    explicit TerminalSession(QObject *parent = nullptr);
    ~TerminalSession() override;

    void setTimeStamps(bool on) { stamps = on; }

    // Takes the next piece of the board's text, received at the given time, and returns it as
    // the pane shows it; while logging it also goes to the log file.
    QString take(const QString &piece, const QTime &receivedAt);

    // Starts logging to a new file named for the current time in the state folder's logs.
    bool startLog();
    void stopLog();
    bool logging() const { return log.isOpen(); }
    QString logFileName() const { return log.fileName(); }
    QString errorString() const { return error; }

signals:
    // The log could not be written and has been closed.
    void logFailed(const QString &reason);

private:
    void flushLog();

    bool stamps = false;
    // Whether the last piece ended inside a line, and whether it ended in a CR whose LF may
    // still come: "\r\n" split across two reads is one line end, not two.
    bool lineOpen = false;
    bool afterCr = false;
    QFile log;
    QTimer flushTimer;
    QString error;
};
