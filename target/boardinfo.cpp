#include "target/boardinfo.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// A little-endian word at a byte offset; 0 where the field does not hold it.
quint16 wordAt(const quint8 *field, int size, int offset)
{
    return offset + 2 <= size ? qFromLittleEndian<quint16>(field + offset) : 0;
}

template<std::size_t N> quint16 wordAt(const std::array<quint8, N> &field, int offset)
{
    return wordAt(field.data(), int(N), offset);
}

// Register N of a block read from `first` on sits at byte 2 * (N - first).
constexpr int registerOffset(quint16 first, quint16 reg)
{
    return 2 * (reg - first);
}

quint16 bootloaderRegister(const RWTarget::APP_BL_REG_RO_T &info, RWTarget::REGISTER_T reg)
{
    return wordAt(info.BL_INFO_BLOCK, registerOffset(RWTarget::REG_BL_VERSION, reg));
}

quint16 appRegister(const RWTarget::APP_BL_REG_RO_T &info, RWTarget::REGISTER_T reg)
{
    return wordAt(info.APP_INFO_BLOCK, registerOffset(RWTarget::REG_APP_FW_VERSION, reg));
}

template<std::size_t N> bool hasMagic(const std::array<quint8, N> &record, const char *magic)
{
    return N >= BoardInfo::RECORD_MAGIC_SIZE && std::memcmp(record.data(), magic, BoardInfo::RECORD_MAGIC_SIZE) == 0;
}

} // namespace

namespace BoardInfo {

quint16 bootloaderVersion(const RWTarget::APP_BL_REG_RO_T &info)
{
    return bootloaderRegister(info, RWTarget::REG_BL_VERSION);
}

quint16 bootloaderPartNumber(const RWTarget::APP_BL_REG_RO_T &info)
{
    return bootloaderRegister(info, RWTarget::REG_BL_PART_NUMBER);
}

quint16 pageSize(const RWTarget::APP_BL_REG_RO_T &info)
{
    return bootloaderRegister(info, RWTarget::REG_BL_PAGE_SIZE);
}

quint16 settingsPage(const RWTarget::APP_BL_REG_RO_T &info)
{
    return bootloaderRegister(info, RWTarget::REG_BL_SETTINGS_PAGE);
}

quint16 calibrationPage(const RWTarget::APP_BL_REG_RO_T &info)
{
    return bootloaderRegister(info, RWTarget::REG_BL_CAL_PAGE);
}

quint16 pageSize(const QByteArray &bootloaderBlock)
{
    return wordAt(reinterpret_cast<const quint8 *>(bootloaderBlock.constData()), bootloaderBlock.size(),
                  registerOffset(RWTarget::REG_BL_VERSION, RWTarget::REG_BL_PAGE_SIZE));
}

quint16 appFirmwareVersion(const RWTarget::APP_BL_REG_RO_T &info)
{
    return appRegister(info, RWTarget::REG_APP_FW_VERSION);
}

quint16 appPartNumber(const RWTarget::APP_BL_REG_RO_T &info)
{
    return appRegister(info, RWTarget::REG_APP_PART_NUMBER);
}

quint16 hardwareId(const RWTarget::APP_BL_REG_RO_T &info)
{
    return appRegister(info, RWTarget::REG_APP_HW_DESCRIPTOR);
}

QString appDescription(const RWTarget::APP_BL_REG_RO_T &info)
{
    const int offset = registerOffset(RWTarget::REG_APP_FW_VERSION, RWTarget::REG_APP_DESCRIPTION);
    return boundedUtf8(info.APP_INFO_BLOCK.data() + offset, RWTarget::APP_INFO_BLOCK_SIZE - offset);
}

bool hasSettingsRecord(const RWTarget::APP_BL_REG_RO_T &info)
{
    return hasMagic(info.SETTINGS_RECORD, SETTINGS_MAGIC);
}

bool hasCalibrationRecord(const RWTarget::APP_BL_REG_RO_T &info)
{
    return hasMagic(info.CALIBRATION_RECORD, CALIBRATION_MAGIC);
}

quint16 settingsVersionMajor(const RWTarget::APP_BL_REG_RO_T &info)
{
    return wordAt(info.SETTINGS_RECORD, RECORD_VERSION_MAJOR_OFFSET);
}

quint16 settingsVersionMinor(const RWTarget::APP_BL_REG_RO_T &info)
{
    return wordAt(info.SETTINGS_RECORD, RECORD_VERSION_MINOR_OFFSET);
}

quint16 calibrationVersionMajor(const RWTarget::APP_BL_REG_RO_T &info)
{
    return wordAt(info.CALIBRATION_RECORD, RECORD_VERSION_MAJOR_OFFSET);
}

quint16 calibrationVersionMinor(const RWTarget::APP_BL_REG_RO_T &info)
{
    return wordAt(info.CALIBRATION_RECORD, RECORD_VERSION_MINOR_OFFSET);
}

QString serialNumber(const RWTarget::APP_BL_REG_RO_T &info)
{
    return boundedUtf8(info.CALIBRATION_RECORD.data() + RWTarget::CAL_HEADER_SIZE, RWTarget::CAL_SERIAL_SIZE);
}

QString boundedUtf8(const quint8 *data, int size)
{
    const auto *end = std::find(data, data + size, quint8(0));
    return QString::fromUtf8(reinterpret_cast<const char *>(data), int(end - data));
}

} // namespace BoardInfo
