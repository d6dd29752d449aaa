#pragma once

#include <QList>
#include <QString>

// What the system tells about a port that did not open or was lost: the facts are gathered from
// the file system and /proc, and the text made from them is the one console line that says why,
// and what to do where that is known.
struct PortFacts {
    enum class Event { OpenFailed, Lost };

    // A process that has the device open.
    struct Holder {
        qint64 pid = 0;
        QString name;
    };

    Event event = Event::OpenFailed;
    QString location;   // the file that was opened
    int error = 0;      // errno of the open or the lock; 0 when only the port's own text is known
    QString systemText; // the port's error text
    bool exists = true;
    bool serialDevice = true; // a character device, as every serial port is
    QString linkTarget;       // where a link leads that leads nowhere
    QString owner;            // owner, group and mode of the device file
    QString group;
    int mode = 0;
    bool groupMayUse = false;       // the group may read and write it
    bool inGroupNotInLogin = false; // the account is in the group, this login is not yet
    QList<Holder> holders;          // the holder of its lock first
    QString staleLockFile;          // a lock file left by a process that has ended
    qint64 staleLockPid = 0;
    QStringList portGrabbers; // ModemManager or brltty running, when no holder could be seen
};

// Gathers the facts about `location` after `event`.
PortFacts examinePort(PortFacts::Event event, const QString &location, int error, const QString &systemText);

// The reason and the remedy in one line.
QString portProblemText(const PortFacts &facts);
