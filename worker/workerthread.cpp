#include "worker/workerthread.h"

#include "worker/serialworker.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace {

// Calls already on their way to the receiver when the connections go are dropped this often.
constexpr qint64 kWaitSliceMs = 50;

} // namespace

WorkerThread::WorkerThread(QObject *receiver)
    : receiver(receiver), thread(new QThread()), serialWorker(new SerialWorker())
{
}

WorkerThread::~WorkerThread()
{
    if (!stopped)
        stopAndWait(QDeadlineTimer(0));
    // A thread that is still running must not be destroyed.
    if (finished)
        delete thread;
}

void WorkerThread::start()
{
    QObject::connect(thread, &QThread::started, serialWorker, &SerialWorker::doStart);
    QObject::connect(thread, &QThread::finished, serialWorker, &QObject::deleteLater);
    serialWorker->moveToThread(thread);
    thread->start(QThread::InheritPriority);
}

bool WorkerThread::stopAndWait(QDeadlineTimer deadline)
{
    if (stopped)
        return finished;
    stopped = true;

    // The worker may sit in a blocking call into the receiver; dropping the queued calls releases
    // it, and nothing it sends from now on may reach a receiver that is going away.
    QObject::disconnect(serialWorker, nullptr, receiver, nullptr);
    QCoreApplication::removePostedEvents(receiver, QEvent::MetaCall);
    serialWorker->deleteLater();
    thread->quit();

    do {
        QCoreApplication::removePostedEvents(receiver, QEvent::MetaCall);
        const qint64 slice = deadline.isForever() ? kWaitSliceMs : std::min(kWaitSliceMs, deadline.remainingTime());
        finished = thread->wait(QDeadlineTimer(slice));
    } while (!finished && !deadline.hasExpired());
    return finished;
}
