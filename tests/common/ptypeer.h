#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>
#include <thread>

// A scripted far end on a real pseudo-terminal: collects the request frames the tool sends and
// answers each with the next scripted reply, delivered in the scripted chunks. Lets the link
// layer be tested against exact bytes, chunking and timing without a simulated board.
class PtyPeer
{
public:
    struct Reply {
        QList<QByteArray> chunks; // written one by one, `gapMs` apart
        int delayMs = 0;          // before the first chunk
        int gapMs = 15;
    };

    PtyPeer();
    ~PtyPeer();

    bool isOpen() const { return masterFd >= 0; }
    QString portName() const { return slavePath; }

    // Answers for the next requests, in order; a request without a scripted reply gets none.
    void addReply(const Reply &reply);
    void addReply(const QByteArray &frame) { addReply(Reply{{frame}, 0, 0}); }
    // Writes bytes to the tool at once, unasked.
    void send(const QByteArray &bytes);

    // Request frames received so far, and every byte received (frames and stray bytes alike).
    QList<QByteArray> requests() const;
    QByteArray received() const;
    // Waits until `count` requests have arrived or `timeoutMs` passed.
    bool waitForRequests(int count, int timeoutMs = 3000) const;

    // A response frame: 5A, Length, command, status, data, and a CRC-16/XMODEM.
    static QByteArray frame(quint8 command, quint8 status, const QByteArray &data = QByteArray());

private:
    void run();
    void writeAll(const QByteArray &bytes);

    int masterFd = -1;
    int slaveFd = -1;
    QString slavePath;
    mutable QMutex mutex;
    QList<Reply> replies;
    QList<QByteArray> frames;
    QByteArray rxAll;
    QByteArray rxPending;
    std::atomic_bool stopping{false};
    std::thread worker;
};
