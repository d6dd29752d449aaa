#pragma once

#include "fod/calareawrite.h"
#include "fod/fodmessages.h"
#include "target/rwtarget.h"

#include <QByteArray>

class QSerialPort;

// How a restore of the calibration area from a backup ended. The values are the exit codes of a
// command-line restore; those it shares with the flash results mean the same there.
enum class CalRestoreResult : int {
    Restored = 0,
    NoAnswer = 2,  // the bootloader was not caught, or the area could not be read
    Cancelled = 5, // before the first block write
    BackupUnreadable = 6,
    SizeMismatch = 12,
    SerialMismatch = 13,
    Interrupted = 14, // a block write failed after the writes had begun: the area may be partly written
    NotBackedUp = 15, // the area it would replace could not be saved first
};

// A backup is one calibration area, at most a few pages; anything larger is not one.
constexpr qint64 CAL_BACKUP_MAX_BYTES = 64 * 1024;

// The result's name for the board's history ("restored", "serial mismatch", ...).
const char *calRestoreResultName(CalRestoreResult result);
// One line for the console that says how the restore ended.
const char *calRestoreResultText(CalRestoreResult result);

// Writes a backup of the calibration area back into the board with the steps every writer of the
// area takes: the power-cycle prompt and the bootloader catch, the page size, the area as it is
// (handed to the control's backup before anything is written), the block writes and the return
// to the application. Refuses, writing nothing, a backup whose size is not the board's area size
// and, unless `force`, one whose serial number differs from the board's. Texts go to `messages`.
CalRestoreResult restoreCalibrationArea(RWTarget &target, QSerialPort &port, const QByteArray &backup, bool force,
                                        const FodMessages &messages, const FodCalWriteTiming &timing,
                                        const CalWriteControl &control);
