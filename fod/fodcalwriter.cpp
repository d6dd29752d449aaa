#include "fod/fodcalwriter.h"

#include "fod/fodcalpatch.h"

#include <string>

namespace {

void reportUnreadable(const FodMessages &messages)
{
    messages.log("Unable to read calibration page after FOD calculation.");
    messages.out("Unable to read calibration page after FOD calculation. Try 'Calculate Gains' again?\r\n");
}

// Everything between the catch and the return to the application; returns how it ended.
CalWriteState writeCaughtBoard(CalAreaWrite &write, FOD_BOARD_TYPE_T board, const FodGainResult &result,
                               const FodMessages &messages)
{
    if (!write.settle())
        return CalWriteState::Cancelled;

    // A page size of 0 cannot size the buffer; it is as useless as no answer at all.
    const int pageSize = write.readPageSize();
    if (write.cancelled())
        return CalWriteState::Cancelled;
    if (pageSize == 0) {
        reportUnreadable(messages);
        return CalWriteState::NotWritten;
    }
    messages.out("Successfully read existing FOD Parameters.\r\n");
    const int calDataSize = fodCalDataSize(pageSize);
    messages.log("calDataSize is " + std::to_string(calDataSize));
    messages.log("REG_BL_PAGE_SIZE is " + std::to_string(pageSize));

    QByteArray calData(calDataSize, char(0xFF));
    // Writing back an incomplete read would overwrite the rest of the area with 0xFF.
    switch (write.readArea(calData, FOD_CAL_READ_SIZE, pageSize)) {
    case CalAreaWrite::Read::Cancelled:
        return CalWriteState::Cancelled;
    case CalAreaWrite::Read::Unreadable:
        reportUnreadable(messages);
        return CalWriteState::NotWritten;
    case CalAreaWrite::Read::NotBackedUp:
        return CalWriteState::NotWritten;
    case CalAreaWrite::Read::Complete:
        break;
    }
    applyFodCalibrationPatches(fodCalibrationPatches(board, result), reinterpret_cast<std::uint8_t *>(calData.data()),
                               size_t(calData.size()));
    if (!write.writeArea(calData, quint32(calDataSize))) {
        if (write.cancelled())
            return CalWriteState::Cancelled;
        messages.out("Writing of FOD Parameters Failed! Try 'Calculate Gains' again?\r\n");
        return CalWriteState::Interrupted;
    }
    messages.out("Successfully Wrote FOD Parameters.\r\n");
    messages.out("Reflash target with Production Firmware WITHOUT selecting 'Flash Calibration Section'.\r\n");
    return CalWriteState::Completed;
}

} // namespace

int fodCalDataSize(int pageSize)
{
    if (pageSize <= 0)
        return 0;
    return pageSize * (FOD_CAL_READ_SIZE / pageSize + 1);
}

bool writeFodParameters(RWTarget &target, QSerialPort &port, FOD_BOARD_TYPE_T board, const FodGainResult &result,
                        const FodMessages &messages, const FodCalWriteTiming &timing, const CalWriteControl &control)
{
    CalAreaWrite write(target, port, messages, timing, control);
    if (write.cancelled()) {
        write.finish(CalWriteState::Cancelled);
        return false;
    }
    messages.out("Power cycle board within the next 10 seconds...\r\n");
    switch (write.catchBootloader()) {
    case CalAreaWrite::Catch::Cancelled:
        // The board was never seen in its bootloader, so nothing at all is sent to it.
        write.finish(CalWriteState::Cancelled);
        return false;
    case CalAreaWrite::Catch::NotCaught:
        messages.log("No response after trying to put into BL mode.");
        messages.out("No response after trying to put into BL mode.\r\n");
        write.finish(CalWriteState::NotWritten);
        return false;
    case CalAreaWrite::Catch::Caught:
        break;
    }

    const CalWriteState outcome = writeCaughtBoard(write, board, result, messages);
    write.returnToApplication();
    write.finish(outcome);
    return outcome == CalWriteState::Completed;
}
