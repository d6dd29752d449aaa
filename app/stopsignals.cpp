#include "app/stopsignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT};
constexpr long long kNoSignalYet = -1;

// Shared with the handler, which may only touch lock-free atomics and make async-signal-safe calls.
int socketPair[2] = {-1, -1};
std::atomic<long long> firstSignalMs{kNoSignalYet};
std::atomic<int> gracePeriodMs{StopSignals::kGracePeriodMs};
static_assert(std::atomic<long long>::is_always_lock_free, "the signal handler needs a lock-free clock value");
struct sigaction previousActions[std::size(kStopSignals)];

long long monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

extern "C" void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const long long now = monotonicMs();
    long long first = kNoSignalYet;
    if (!firstSignalMs.compare_exchange_strong(first, now) && now - first >= gracePeriodMs.load()) {
        // Blocked while this handler runs, the re-raised signal takes its default action on return.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
    } else {
        const char byte = char(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(socketPair[0], &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals(int gracePeriod, QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socketPair) != 0) {
        qWarning() << "Stop signals are not handled: no socket pair:" << std::strerror(errno);
        return;
    }
    // The handler must never block on a full socket; a signal lost there changes nothing.
    ::fcntl(socketPair[0], F_SETFL, ::fcntl(socketPair[0], F_GETFL) | O_NONBLOCK);
    firstSignalMs = kNoSignalYet;
    gracePeriodMs = gracePeriod;

    notifier = new QSocketNotifier(socketPair[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readSignals);

    struct sigaction action {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &action, &previousActions[i]);
}

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &previousActions[i], nullptr);
    delete notifier;
    notifier = nullptr;
    for (int &fd : socketPair) {
        ::close(fd);
        fd = -1;
    }
}

void StopSignals::readSignals()
{
    char bytes[16];
    const ssize_t count = ::read(socketPair[1], bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i) {
        const int signalNumber = bytes[i];
        qDebug() << "Stop signal" << signalNumber << "received; another one from" << gracePeriodMs.load() / 1000
                 << "s after the first ends the program at once";
        emit stopRequested(signalNumber);
    }
}
