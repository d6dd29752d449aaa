#pragma once

#include "sim/boardsimulator.h"
#include "worker/serialworker.h"

#include <QSignalSpy>
#include <QString>
#include <QStringList>

#include <memory>

// The result code is not registered by the program (it only travels through blocking
// connections); the spies here need it as a meta-type.
Q_DECLARE_METATYPE(RWTarget::RW_RESPONSE_T)

// A worker living on the test's own thread, connected to a simulated board. Its slots are
// called directly and its poll timer runs from the test's event loop, so signals land in the
// spies synchronously.
struct WorkerRig {
    explicit WorkerRig(const SimConfig &config = SimConfig()) : sim(config) {}

    bool open()
    {
        if (!sim.start())
            return false;
        worker.connectCOMPortRequest(portName());
        return connected.count() == 1 && connected.at(0).at(0).toBool();
    }
    QString portName() const { return QString::fromStdString(sim.slavePath()); }

    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QList<QVariant> &args : status)
            texts << args.at(0).toString();
        return texts;
    }

    BoardSimulator sim;
    SerialWorker worker;
    QSignalSpy connected{&worker, &SerialWorker::connectCOMPortResponse};
    QSignalSpy disconnected{&worker, &SerialWorker::disconnectCOMPortResponse};
    QSignalSpy status{&worker, &SerialWorker::transferStatus};
    QSignalSpy board{&worker, &SerialWorker::boardConnectedStatus};
    QSignalSpy info{&worker, &SerialWorker::updateBlAppInfo};
    QSignalSpy result{&worker, &SerialWorker::rw_response};
    QSignalSpy terminal{&worker, &SerialWorker::terminalOutputMessage};
    QSignalSpy fod{&worker, &SerialWorker::fodOutputMessage};
    QSignalSpy gains{&worker, &SerialWorker::gainCalculationStatus};
    QSignalSpy problems{&worker, &SerialWorker::portProblem};
};

// Registers the value types that cross threads in queued signals, under their names.
inline void registerWorkerTypes()
{
    registerCrossThreadTypes();
    qRegisterMetaType<RWTarget::RW_RESPONSE_T>("RWTarget::RW_RESPONSE_T");
}
