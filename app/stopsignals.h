#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into stopRequested() on the thread that made it, so that a station
// supervisor or a desktop logout stops the program the way closing its window does. The first
// signal starts a grace period; one that comes after it has run out ends the process at once by
// that signal's default action, whatever the program is doing. One instance at a time: it owns
// the process's handlers of both signals while it lives.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    static constexpr int kGracePeriodMs = 10000;

    explicit StopSignals(int gracePeriodMs = kGracePeriodMs, QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // False when the handlers could not be installed (the signals then keep their old action).
    bool isActive() const { return notifier != nullptr; }

signals:
    // Every signal inside the grace period, the first one included.
    void stopRequested(int signalNumber);

private:
    void readSignals();

    QSocketNotifier *notifier = nullptr;
};
