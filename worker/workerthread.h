#pragma once

#include <QDeadlineTimer>

class QObject;
class QThread;
class SerialWorker;

// Owns the serial worker and the thread it runs on, from start to a bounded stop.
class WorkerThread
{
public:
    // `receiver` is the object the worker's signals go to; its queued calls are dropped on stop.
    explicit WorkerThread(QObject *receiver);
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Created on construction, so that connections can be made before start().
    SerialWorker *worker() const { return serialWorker; }

    void start();

    // Cuts the worker off from the receiver, has the worker deleted on its thread and lets the
    // thread finish within `deadline`. Never terminates it: a thread still running then is left
    // to the end of the process. True when the thread has finished.
    bool stopAndWait(QDeadlineTimer deadline);

private:
    QObject *receiver;
    QThread *thread;
    SerialWorker *serialWorker;
    bool stopped = false;
    bool finished = false;
};
