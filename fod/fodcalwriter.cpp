#include "fod/fodcalwriter.h"

#include "fod/fodcalpatch.h"
#include "target/boardinfo.h"
#include "target/pagereader.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <string>

namespace {

bool catchBootloader(RWTarget &target, QSerialPort &port, const FodCalWriteTiming &timing, const FodMessages &messages)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray status;
    while (clock.elapsed() <= timing.catchWindowMs) {
        for (int i = 0; i < timing.pingsPerBurst; ++i) {
            target.sendPingNoReply(port);
            QThread::msleep(timing.pingGapMs);
        }
        if (target.readRegisters(port, RWTarget::REG_BOOT_STATUS, 1, status) && RWTarget::isBootloaderStatus(status)) {
            messages.log("Made it into bootloader mode");
            return true;
        }
    }
    return false;
}

void reportUnreadable(const FodMessages &messages)
{
    messages.log("Unable to read calibration page after FOD calculation.");
    messages.out("Unable to read calibration page after FOD calculation. Try 'Calculate Gains' again?\r\n");
}

} // namespace

int fodCalDataSize(int pageSize)
{
    if (pageSize <= 0)
        return 0;
    return pageSize * (FOD_CAL_READ_SIZE / pageSize + 1);
}

bool writeFodParameters(RWTarget &target, QSerialPort &port, FOD_BOARD_TYPE_T board, const FodGainResult &result,
                        const FodMessages &messages, const FodCalWriteTiming &timing)
{
    messages.out("Power cycle board within the next 10 seconds...\r\n");
    if (!catchBootloader(target, port, timing, messages)) {
        messages.log("No response after trying to put into BL mode.");
        messages.out("No response after trying to put into BL mode.\r\n");
        return false;
    }

    QThread::msleep(timing.settleMs);
    // Every ping of the catch was answered; those answers must not be taken for the answers
    // to the reads that follow.
    port.clear(QSerialPort::Input);

    bool written = false;
    QByteArray blInfo;
    bool haveBlInfo = false;
    for (int attempt = 0; attempt < timing.blockReadAttempts && !haveBlInfo; ++attempt) {
        blInfo.clear();
        if (attempt > 0)
            port.clear(QSerialPort::Input);
        haveBlInfo = target.readRegisters(port, RWTarget::REG_BL_VERSION, RWTarget::BL_INFO_BLOCK_SIZE / 2, blInfo);
    }
    const int pageSize = haveBlInfo ? BoardInfo::pageSize(blInfo) : 0;

    // A page size of 0 cannot size the buffer; it is as useless as no answer at all.
    if (!haveBlInfo || pageSize == 0) {
        reportUnreadable(messages);
    } else {
        messages.out("Successfully read existing FOD Parameters.\r\n");
        const int calDataSize = fodCalDataSize(pageSize);
        messages.log("calDataSize is " + std::to_string(calDataSize));
        messages.log("REG_BL_PAGE_SIZE is " + std::to_string(pageSize));

        QByteArray calData(calDataSize, char(0xFF));
        // Writing back an incomplete read would overwrite the rest of the area with 0xFF.
        if (!readPageInPieces(target, port, PageKind::Calibration, calData, FOD_CAL_READ_SIZE, quint16(pageSize))) {
            reportUnreadable(messages);
        } else {
            applyFodCalibrationPatches(fodCalibrationPatches(board, result),
                                       reinterpret_cast<std::uint8_t *>(calData.data()), size_t(calData.size()));
            written = target.writeCalibration(port, calData, quint32(calDataSize));
            if (written) {
                messages.out("Successfully Wrote FOD Parameters.\r\n");
                messages.out(
                    "Reflash target with Production Firmware WITHOUT selecting 'Flash Calibration Section'.\r\n");
            } else {
                messages.out("Writing of FOD Parameters Failed! Try 'Calculate Gains' again?\r\n");
            }
        }
    }

    messages.log("Putting board back into application mode...");
    target.writeResetRegister(port, RWTarget::RESET_RUN_APPLICATION);
    QThread::msleep(timing.returnPauseMs);
    messages.log("Put board back into application mode.");
    return written;
}
