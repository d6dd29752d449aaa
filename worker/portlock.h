#pragma once

#include <QString>

// An advisory lock (flock) on a serial device for as long as the tool has it open, on a
// descriptor of its own. QSerialPort's lock file is named after the path as given, and its
// exclusive mode does not stop root; this lock belongs to the device itself, so a second process
// of this tool, or of any tool that honours flock, is refused whatever name it uses for the
// device. The kernel drops it with the process: a killed tool never leaves it behind.
class PortLock
{
public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // 0 when the device is locked for us; otherwise the errno of opening it, or EWOULDBLOCK when
    // another open description holds the lock.
    int acquire(const QString &systemLocation);
    void release();

private:
    int descriptor = -1;
};
