#pragma once

#include "flash/firmwareimage.h"
#include "flash/flashselection.h"
#include "fod/calarearestore.h"
#include "fod/calareawrite.h"
#include "fod/fodfitreport.h"
#include "target/rwtarget.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// The layout of the records; a reader that finds another number knows the fields may differ.
constexpr int HISTORY_RECORD_SCHEMA = 1;

// What every record of the board's history holds: when and where the operation ran, the board as
// the tool last read it on this connection, what the operation said, how long it took and how
// many bytes the board took. Filled on the worker thread, where these facts are.
struct RecordBasics {
    QDateTime started;
    qint64 durationMs = 0;
    QString portGiven;
    std::optional<RWTarget::APP_BL_REG_RO_T> board;
    QStringList messages; // the console or FOD pane lines of the operation, without line ends
    quint64 bytesWritten = 0;
};

// A flash, whatever its result.
struct FlashRecord {
    RecordBasics basics;
    QString imagePath;
    std::optional<FirmwareImage> image; // as the flash read it from the file
    FlashSelection selection;
    std::optional<RWTarget::APP_BL_REG_RO_T> boardAfter; // read again after a good flash
    RWTarget::RW_RESPONSE_T result = RWTarget::RW_SUCCESS;
};

// A write of fitted FOD parameters into the calibration area.
struct CalibrationRecord {
    RecordBasics basics;
    FodFitReport fit;
    CalWriteFacts write;
    QString backupPath;  // the area as it was before the write
    QString capturePath; // the captured text the parameters were fitted to
};

// A restore of the calibration area from a backup file.
struct RestoreRecord {
    RecordBasics basics;
    QString backupPath; // the file restored, as an absolute path
    QByteArray backup;  // its bytes; empty when it could not be read
    bool force = false;
    CalWriteFacts write;
    QString areaBackupPath; // the area as it was before the restore
    CalRestoreResult result = CalRestoreResult::Restored;
};

// Each record as one JSON object; the fields are described in docs/records.md.
QJsonObject historyRecord(const FlashRecord &record);
QJsonObject historyRecord(const CalibrationRecord &record);
QJsonObject historyRecord(const RestoreRecord &record);

// The device a port name stands for: QSerialPort's rule for names without a folder (ttyUSB0 is
// /dev/ttyUSB0), then every symbolic link followed (/dev/serial/by-id/...). The name itself
// when the device does not exist.
QString resolvedPortPath(const QString &portName);
