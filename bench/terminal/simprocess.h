#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// zavlo-sim run as a separate program, so that its work is not counted as the tool's. Reads
// its state dumps (lines sent and dropped) when asked for one.
class SimProcess : public QObject
{
    Q_OBJECT

public:
    struct Counters {
        bool valid = false;
        long linesSent = 0;
        long linesDropped = 0;
        QString mode;
    };

    SimProcess(QString program, QString linkPath, QString dumpDir, QObject *parent = nullptr);
    ~SimProcess() override;

    // Starts the program and waits for its pty and link; false with a reason in errorText().
    bool start(const QStringList &extraArguments);
    QStringList arguments() const { return args; }
    QString errorText() const { return error; }

    // Asks for a dump; dumped() follows when the program has written it.
    void requestDump();
    // Asks the program to end, waits for it and returns the counters of its final dump.
    Counters stop();
    Counters lastCounters() const { return counters; }
    // The counters of the state file in a dump directory; not valid if it is missing or lacks them.
    static Counters readCounters(const QString &dumpDir);
    QString errorOutput() const { return stderrText; }
    // "running", or how the program ended.
    QString state() const;

signals:
    void dumped(SimProcess::Counters counters);

private:
    void readOutput();

    QProcess process;
    QString program;
    QString linkPath;
    QString dumpDir;
    QStringList args;
    QString error;
    QByteArray pendingOutput;
    QString stderrText;
    Counters counters;
};
