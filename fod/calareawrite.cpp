#include "fod/calareawrite.h"

#include "target/boardinfo.h"
#include "target/pagereader.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

namespace {

// A cancel during the pause after the catch is noticed within this much.
constexpr int kCancelCheckMs = 10;

} // namespace

const char *calWriteOutcomeText(CalWriteState state)
{
    switch (state) {
    case CalWriteState::Completed:
        return "Calibration write completed.";
    case CalWriteState::Cancelled:
        return "Calibration write cancelled before anything was written.";
    case CalWriteState::Interrupted:
        return "Calibration write interrupted: the calibration area may be partly written.";
    case CalWriteState::NotWritten:
        return "Calibration area not written.";
    default:
        return "";
    }
}

CalAreaWrite::CalAreaWrite(RWTarget &target, QSerialPort &port, const FodMessages &messages,
                           const FodCalWriteTiming &timing, const CalWriteControl &control)
    : target(target), port(port), messages(messages), timing(timing), control(control)
{
}

bool CalAreaWrite::cancelled() const
{
    return !writingStarted && control.cancel && control.cancel->load();
}

void CalAreaWrite::enter(CalWriteState state) const
{
    if (control.report)
        control.report(state);
}

CalAreaWrite::Catch CalAreaWrite::catchBootloader()
{
    enter(CalWriteState::Catching);
    QElapsedTimer clock;
    clock.start();
    QByteArray status;
    while (clock.elapsed() <= timing.catchWindowMs) {
        for (int i = 0; i < timing.pingsPerBurst; ++i) {
            if (cancelled())
                return Catch::Cancelled;
            target.sendPingNoReply(port);
            QThread::msleep(timing.pingGapMs);
        }
        if (cancelled())
            return Catch::Cancelled;
        if (target.readRegisters(port, RWTarget::REG_BOOT_STATUS, 1, status) && RWTarget::isBootloaderStatus(status)) {
            messages.log("Made it into bootloader mode");
            enter(CalWriteState::Reading);
            return Catch::Caught;
        }
    }
    return Catch::NotCaught;
}

bool CalAreaWrite::settle()
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = timing.settleMs; left > 0; left = timing.settleMs - clock.elapsed()) {
        if (cancelled())
            return false;
        QThread::msleep(ulong(std::min<qint64>(left, kCancelCheckMs)));
    }
    // Every ping of the catch was answered; those answers must not be taken for the answers
    // to the reads that follow.
    port.clear(QSerialPort::Input);
    return !cancelled();
}

int CalAreaWrite::readPageSize()
{
    QByteArray block;
    for (int attempt = 0; attempt < timing.blockReadAttempts && !cancelled(); ++attempt) {
        block.clear();
        if (attempt > 0)
            port.clear(QSerialPort::Input);
        if (target.readRegisters(port, RWTarget::REG_BL_VERSION, RWTarget::BL_INFO_BLOCK_SIZE / 2, block)) {
            const int pageSize = BoardInfo::pageSize(block);
            if (control.facts)
                control.facts->pageSize = pageSize;
            return pageSize;
        }
    }
    return 0;
}

CalAreaWrite::Read CalAreaWrite::readArea(QByteArray &buffer, quint16 size, int pageSize)
{
    if (cancelled())
        return Read::Cancelled;
    if (!readPageInPieces(target, port, PageKind::Calibration, buffer, size, quint16(pageSize), control.cancel))
        return cancelled() ? Read::Cancelled : Read::Unreadable;
    if (control.facts)
        control.facts->areaRead = buffer;
    if (control.backup && !control.backup(buffer))
        return Read::NotBackedUp;
    return cancelled() ? Read::Cancelled : Read::Complete;
}

bool CalAreaWrite::writeArea(const QByteArray &data, quint32 size)
{
    if (cancelled())
        return false;
    writingStarted = true;
    enter(CalWriteState::Writing);
    quint32 accepted = 0;
    const bool written = target.writeCalibration(port, data, size, &accepted);
    if (control.facts)
        control.facts->bytesWritten = accepted;
    return written;
}

void CalAreaWrite::returnToApplication()
{
    enter(CalWriteState::Returning);
    messages.log("Putting board back into application mode...");
    target.writeResetRegister(port, RWTarget::RESET_RUN_APPLICATION);
    QThread::msleep(ulong(timing.returnPauseMs));
    messages.log("Put board back into application mode.");
}

void CalAreaWrite::finish(CalWriteState outcome)
{
    if (control.cancel)
        control.cancel->store(false);
    if (control.facts)
        control.facts->outcome = outcome;
    enter(outcome);
}
