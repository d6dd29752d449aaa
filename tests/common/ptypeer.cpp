#include "tests/common/ptypeer.h"

#include "target/rwtarget.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    // Raw from the start, so nothing written to the master is echoed back before the port opens.
    termios tio{};
    tcgetattr(slaveFd, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveFd, TCSANOW, &tio);
    slavePath = QString::fromLocal8Bit(name);
    worker = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

void PtyPeer::addReply(const Reply &reply)
{
    QMutexLocker lock(&mutex);
    replies.append(reply);
}

void PtyPeer::send(const QByteArray &bytes)
{
    writeAll(bytes);
}

QList<QByteArray> PtyPeer::requests() const
{
    QMutexLocker lock(&mutex);
    return frames;
}

QByteArray PtyPeer::received() const
{
    QMutexLocker lock(&mutex);
    return rxAll;
}

bool PtyPeer::waitForRequests(int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        {
            QMutexLocker lock(&mutex);
            if (frames.size() >= count)
                return true;
        }
        QThread::msleep(2);
    }
    return false;
}

QByteArray PtyPeer::frame(quint8 command, quint8 status, const QByteArray &data)
{
    QByteArray f;
    f.append(char(0x5A));
    f.append(char(data.size() + 4));
    f.append(char(command));
    f.append(char(status));
    f.append(data);
    const quint16 crc = RWTarget::crc16(f.constData(), f.size());
    f.append(char(crc & 0xFF));
    f.append(char(crc >> 8));
    return f;
}

void PtyPeer::writeAll(const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return;
        }
        done += int(n);
    }
}

void PtyPeer::run()
{
    while (!stopping) {
        pollfd pfd{masterFd, POLLIN, 0};
        if (::poll(&pfd, 1, 5) <= 0 || !(pfd.revents & POLLIN))
            continue;
        char buf[512];
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n <= 0)
            continue;
        QList<Reply> due;
        {
            QMutexLocker lock(&mutex);
            rxAll.append(buf, int(n));
            rxPending.append(buf, int(n));
            // Requests are framed by their Length byte; stray bytes before a start byte are skipped.
            for (;;) {
                const int start = rxPending.indexOf(char(0x5A));
                if (start < 0) {
                    rxPending.clear();
                    break;
                }
                rxPending.remove(0, start);
                if (rxPending.size() < 2 || rxPending.size() < quint8(rxPending.at(1)) + 2)
                    break;
                const int total = quint8(rxPending.at(1)) + 2;
                frames.append(rxPending.left(total));
                rxPending.remove(0, total);
                if (!replies.isEmpty())
                    due.append(replies.takeFirst());
            }
        }
        for (const Reply &reply : due) {
            if (reply.delayMs > 0)
                QThread::msleep(reply.delayMs);
            for (int i = 0; i < reply.chunks.size(); ++i) {
                if (i > 0 && reply.gapMs > 0)
                    QThread::msleep(reply.gapMs);
                writeAll(reply.chunks.at(i));
            }
        }
    }
}
