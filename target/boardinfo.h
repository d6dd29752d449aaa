#pragma once

#include "target/rwtarget.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Named fields of the board's information record (RWTarget::APP_BL_REG_RO_T) and of the
// settings/calibration record header, so that their byte offsets are written down here alone.
namespace BoardInfo {

// A settings or calibration record (a page of the board, or the section of an image that fills
// it) starts with its four-byte magic and carries its version: minor at 12, major at 14.
constexpr int RECORD_MAGIC_SIZE = 4;
constexpr int RECORD_VERSION_MINOR_OFFSET = 12;
constexpr int RECORD_VERSION_MAJOR_OFFSET = 14;
constexpr char SETTINGS_MAGIC[] = "ZVLS";
constexpr char CALIBRATION_MAGIC[] = "ZVLC";

// Bootloader registers (REG_BL_...).
quint16 bootloaderVersion(const RWTarget::APP_BL_REG_RO_T &info);
quint16 bootloaderPartNumber(const RWTarget::APP_BL_REG_RO_T &info);
quint16 pageSize(const RWTarget::APP_BL_REG_RO_T &info);
quint16 settingsPage(const RWTarget::APP_BL_REG_RO_T &info);
quint16 calibrationPage(const RWTarget::APP_BL_REG_RO_T &info);
// REG_BL_PAGE_SIZE from the bootloader registers read on their own, from REG_BL_VERSION on;
// 0 when the block is too short to hold it.
quint16 pageSize(const QByteArray &bootloaderBlock);

// Application registers (REG_APP_...).
quint16 appFirmwareVersion(const RWTarget::APP_BL_REG_RO_T &info);
quint16 appPartNumber(const RWTarget::APP_BL_REG_RO_T &info);
quint16 hardwareId(const RWTarget::APP_BL_REG_RO_T &info);
// UTF-8 up to the first zero byte, never past the end of the register block.
QString appDescription(const RWTarget::APP_BL_REG_RO_T &info);

// The records are shown only when they start with their magic.
bool hasSettingsRecord(const RWTarget::APP_BL_REG_RO_T &info);
bool hasCalibrationRecord(const RWTarget::APP_BL_REG_RO_T &info);
quint16 settingsVersionMajor(const RWTarget::APP_BL_REG_RO_T &info);
quint16 settingsVersionMinor(const RWTarget::APP_BL_REG_RO_T &info);
quint16 calibrationVersionMajor(const RWTarget::APP_BL_REG_RO_T &info);
quint16 calibrationVersionMinor(const RWTarget::APP_BL_REG_RO_T &info);
// UTF-8 up to the first zero byte, never past the end of its field.
QString serialNumber(const RWTarget::APP_BL_REG_RO_T &info);

// Text up to the first zero byte of a field, never past its end.
QString boundedUtf8(const quint8 *data, int size);

} // namespace BoardInfo
