#include "worker/portlock.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

PortLock::~PortLock()
{
    release();
}

int PortLock::acquire(const QString &systemLocation)
{
    release();
#ifdef Q_OS_UNIX
    // Opened as QSerialPort opens it, so that what refuses this open would refuse that one too.
    descriptor = ::open(QFile::encodeName(systemLocation).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return errno;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        // A file system without flock leaves QSerialPort's own lock as the only one.
        if (error != EWOULDBLOCK)
            return 0;
        // A plain close: it does not clear the holder's exclusive mode, as QSerialPort's would.
        release();
        return error;
    }
#else
    Q_UNUSED(systemLocation)
#endif
    return 0;
}

void PortLock::release()
{
#ifdef Q_OS_UNIX
    if (descriptor >= 0)
        ::close(descriptor);
#endif
    descriptor = -1;
}
