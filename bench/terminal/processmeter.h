#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

// Readings of this process's own cost: the calling thread's CPU time, the whole process's CPU
// time and resident memory, and the CPU time of each of its threads.
namespace processmeter {

struct ThreadTime {
    int tid = 0;
    QString name;
    double cpuSeconds = 0;
};

int64_t monotonicUs();
double callingThreadCpuSeconds();
double processCpuSeconds();
// VmRSS of /proc/self/status; 0 if it cannot be read.
int64_t residentKiB();
int currentThreadId();
// From /proc/self/task; the kernel counts in clock ticks, so short intervals are coarse.
QVector<ThreadTime> threadTimes();

} // namespace processmeter
