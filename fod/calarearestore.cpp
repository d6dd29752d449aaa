#include "fod/calarearestore.h"

#include "fod/fodcalwriter.h"
#include "target/boardinfo.h"

#include <string>

namespace {

std::string quoted(const QString &text)
{
    return '"' + text.toStdString() + '"';
}

// Everything between the catch and the return to the application.
CalRestoreResult restoreCaughtBoard(CalAreaWrite &write, const QByteArray &backup, bool force,
                                    const FodMessages &messages)
{
    if (!write.settle())
        return CalRestoreResult::Cancelled;
    const int pageSize = write.readPageSize();
    if (write.cancelled())
        return CalRestoreResult::Cancelled;
    if (pageSize == 0) {
        messages.out("Unable to read the calibration area: nothing was restored.\r\n");
        return CalRestoreResult::NoAnswer;
    }
    const int calDataSize = fodCalDataSize(pageSize);
    if (backup.size() != calDataSize) {
        messages.out("The backup holds " + std::to_string(backup.size()) + " bytes, the board's calibration area " +
                     std::to_string(calDataSize) + ": nothing was restored.\r\n");
        return CalRestoreResult::SizeMismatch;
    }

    // The area as it is goes to the backup first, like before any other write of it.
    QByteArray area(calDataSize, char(0xFF));
    switch (write.readArea(area, FOD_CAL_READ_SIZE, pageSize)) {
    case CalAreaWrite::Read::Cancelled:
        return CalRestoreResult::Cancelled;
    case CalAreaWrite::Read::Unreadable:
        messages.out("Unable to read the calibration area: nothing was restored.\r\n");
        return CalRestoreResult::NoAnswer;
    case CalAreaWrite::Read::NotBackedUp:
        return CalRestoreResult::NotBackedUp;
    case CalAreaWrite::Read::Complete:
        break;
    }

    const QString backupSerial = BoardInfo::areaSerialNumber(backup);
    const QString boardSerial = BoardInfo::areaSerialNumber(area);
    if (backupSerial != boardSerial) {
        const std::string serials =
            "The backup is of serial number " + quoted(backupSerial) + ", the board's is " + quoted(boardSerial);
        if (!force) {
            messages.out(serials + ": nothing was restored.\r\n");
            return CalRestoreResult::SerialMismatch;
        }
        messages.out(serials + ": restored all the same (forced).\r\n");
    }

    if (!write.writeArea(backup, quint32(calDataSize))) {
        if (write.cancelled())
            return CalRestoreResult::Cancelled;
        messages.out("Restore of the calibration area failed: it may be partly written.\r\n");
        return CalRestoreResult::Interrupted;
    }
    messages.out("Calibration area restored from the backup.\r\n");
    return CalRestoreResult::Restored;
}

CalWriteState writeState(CalRestoreResult result)
{
    switch (result) {
    case CalRestoreResult::Restored:
        return CalWriteState::Completed;
    case CalRestoreResult::Cancelled:
        return CalWriteState::Cancelled;
    case CalRestoreResult::Interrupted:
        return CalWriteState::Interrupted;
    default:
        return CalWriteState::NotWritten;
    }
}

} // namespace

const char *calRestoreResultName(CalRestoreResult result)
{
    switch (result) {
    case CalRestoreResult::Restored:
        return "restored";
    case CalRestoreResult::NoAnswer:
        return "no answer";
    case CalRestoreResult::Cancelled:
        return "cancelled";
    case CalRestoreResult::BackupUnreadable:
        return "backup unreadable";
    case CalRestoreResult::SizeMismatch:
        return "size mismatch";
    case CalRestoreResult::SerialMismatch:
        return "serial mismatch";
    case CalRestoreResult::Interrupted:
        return "interrupted";
    case CalRestoreResult::NotBackedUp:
        return "not backed up";
    }
    return "";
}

const char *calRestoreResultText(CalRestoreResult result)
{
    switch (result) {
    case CalRestoreResult::Restored:
        return "Calibration area restored.";
    case CalRestoreResult::NoAnswer:
        return "Calibration area not restored: the board did not answer in its bootloader.";
    case CalRestoreResult::Cancelled:
        return "Calibration restore cancelled before anything was written.";
    case CalRestoreResult::BackupUnreadable:
        return "Calibration area not restored: the backup file cannot be read.";
    case CalRestoreResult::SizeMismatch:
        return "Calibration area not restored: the backup's size is not the board's calibration area's.";
    case CalRestoreResult::SerialMismatch:
        return "Calibration area not restored: the backup is of another serial number.";
    case CalRestoreResult::Interrupted:
        return "Calibration restore interrupted: the calibration area may be partly written.";
    case CalRestoreResult::NotBackedUp:
        return "Calibration area not restored: its present contents could not be backed up.";
    }
    return "";
}

CalRestoreResult restoreCalibrationArea(RWTarget &target, QSerialPort &port, const QByteArray &backup, bool force,
                                        const FodMessages &messages, const FodCalWriteTiming &timing,
                                        const CalWriteControl &control)
{
    CalAreaWrite write(target, port, messages, timing, control);
    if (write.cancelled()) {
        write.finish(CalWriteState::Cancelled);
        return CalRestoreResult::Cancelled;
    }
    messages.out("Power cycle board within the next 10 seconds...\r\n");
    switch (write.catchBootloader()) {
    case CalAreaWrite::Catch::Cancelled:
        write.finish(CalWriteState::Cancelled);
        return CalRestoreResult::Cancelled;
    case CalAreaWrite::Catch::NotCaught:
        messages.log("No response after trying to put into BL mode.");
        messages.out("No response after trying to put into BL mode.\r\n");
        write.finish(CalWriteState::NotWritten);
        return CalRestoreResult::NoAnswer;
    case CalAreaWrite::Catch::Caught:
        break;
    }

    const CalRestoreResult result = restoreCaughtBoard(write, backup, force, messages);
    write.returnToApplication();
    write.finish(writeState(result));
    return result;
}
