#include "bench/terminal/processmeter.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace processmeter {

namespace {

double seconds(const timespec &ts)
{
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double seconds(const timeval &tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) * 1e-6;
}

QByteArray readProcFile(const QString &path)
{
    // Files under /proc report a size of 0, so read until the end rather than by size.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

int64_t monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

double callingThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return seconds(ts);
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int64_t residentKiB()
{
    const QList<QByteArray> lines = readProcFile(QStringLiteral("/proc/self/status")).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("VmRSS:"))
            continue;
        const QList<QByteArray> fields = line.mid(6).simplified().split(' ');
        return fields.isEmpty() ? 0 : fields.first().toLongLong();
    }
    return 0;
}

int currentThreadId()
{
    return int(::syscall(SYS_gettid));
}

QVector<ThreadTime> threadTimes()
{
    const double tick = double(::sysconf(_SC_CLK_TCK));
    QVector<ThreadTime> threads;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const QByteArray stat = readProcFile(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        // The name stands in parentheses and may hold spaces; the fields after it are plain.
        const int open = stat.indexOf('(');
        const int close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        // utime and stime are fields 14 and 15 of the line, the 12th and 13th after the name.
        constexpr int kUtimeAfterName = 11;
        constexpr int kStimeAfterName = 12;
        if (fields.size() <= kStimeAfterName)
            continue;
        ThreadTime t;
        t.tid = task.toInt();
        t.name = QString::fromUtf8(stat.mid(open + 1, close - open - 1));
        t.cpuSeconds = (fields.at(kUtimeAfterName).toDouble() + fields.at(kStimeAfterName).toDouble()) / tick;
        threads.append(t);
    }
    return threads;
}

} // namespace processmeter
