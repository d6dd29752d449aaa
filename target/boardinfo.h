#pragma once

#include "target/rwtarget.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Named fields of the board's information record (RWTarget::APP_BL_REG_RO_T) and of the
// settings/calibration record header, so that their byte offsets are written down here alone.
class BoardInfo
{
public:
    // A settings or calibration record (a page of the board, or the section of an image that
    // fills it) starts with its four-byte magic and carries its version: minor at 12, major at 14.
    static constexpr int RECORD_MAGIC_SIZE = 4;
    static constexpr int RECORD_VERSION_MINOR_OFFSET = 12;
    static constexpr int RECORD_VERSION_MAJOR_OFFSET = 14;
    static constexpr char SETTINGS_MAGIC[] = "ZVLS";
    static constexpr char CALIBRATION_MAGIC[] = "ZVLC";

    struct RecordVersion {
        quint16 major = 0;
        quint16 minor = 0;
    };

    explicit BoardInfo(const RWTarget::APP_BL_REG_RO_T &record) : record(record) {}

    // REG_BL_PAGE_SIZE from the bootloader registers read on their own, from REG_BL_VERSION on;
    // 0 when the block is too short to hold it.
    static quint16 pageSize(const QByteArray &bootloaderBlock);

    quint16 bootloaderVersion() const { return bootloaderRegister(RWTarget::REG_BL_VERSION); }
    quint16 bootloaderPartNumber() const { return bootloaderRegister(RWTarget::REG_BL_PART_NUMBER); }
    quint16 pageSize() const { return bootloaderRegister(RWTarget::REG_BL_PAGE_SIZE); }
    quint16 settingsPage() const { return bootloaderRegister(RWTarget::REG_BL_SETTINGS_PAGE); }
    quint16 calibrationPage() const { return bootloaderRegister(RWTarget::REG_BL_CAL_PAGE); }

    quint16 appFirmwareVersion() const { return appRegister(RWTarget::REG_APP_FW_VERSION); }
    quint16 appPartNumber() const { return appRegister(RWTarget::REG_APP_PART_NUMBER); }
    quint16 hardwareId() const { return appRegister(RWTarget::REG_APP_HW_DESCRIPTOR); }
    // UTF-8 up to the first zero byte, never past the end of the register block.
    QString appDescription() const;

    // The records count only when they start with their magic.
    bool hasSettingsRecord() const;
    bool hasCalibrationRecord() const;
    RecordVersion settingsVersion() const;
    RecordVersion calibrationVersion() const;
    // UTF-8 up to the first zero byte, never past the end of its field.
    QString serialNumber() const;

    // The same calibration fields in the calibration area itself, as read from its start (or a
    // backup of it): the magic, the version and the serial number at their page offsets.
    static bool areaHasCalibrationRecord(const QByteArray &area);
    static RecordVersion areaCalibrationVersion(const QByteArray &area);
    static QString areaSerialNumber(const QByteArray &area);

private:
    quint16 bootloaderRegister(RWTarget::REGISTER_T reg) const;
    quint16 appRegister(RWTarget::REGISTER_T reg) const;

    const RWTarget::APP_BL_REG_RO_T &record;
};
