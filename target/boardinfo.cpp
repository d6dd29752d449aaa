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

// Register N of a block read from `first` on sits at byte 2 * (N - first).
constexpr int registerOffset(quint16 first, quint16 reg)
{
    return 2 * (reg - first);
}

// Text up to the first zero byte of a field, never past its end.
QString boundedUtf8(const quint8 *field, int size)
{
    const auto *end = std::find(field, field + size, quint8(0));
    return QString::fromUtf8(reinterpret_cast<const char *>(field), int(end - field));
}

template<std::size_t N> bool hasMagic(const std::array<quint8, N> &record, const char *magic)
{
    return N >= BoardInfo::RECORD_MAGIC_SIZE && std::memcmp(record.data(), magic, BoardInfo::RECORD_MAGIC_SIZE) == 0;
}

template<std::size_t N> BoardInfo::RecordVersion recordVersion(const std::array<quint8, N> &record)
{
    return {wordAt(record.data(), int(N), BoardInfo::RECORD_VERSION_MAJOR_OFFSET),
            wordAt(record.data(), int(N), BoardInfo::RECORD_VERSION_MINOR_OFFSET)};
}

} // namespace

quint16 BoardInfo::pageSize(const QByteArray &bootloaderBlock)
{
    return wordAt(reinterpret_cast<const quint8 *>(bootloaderBlock.constData()), bootloaderBlock.size(),
                  registerOffset(RWTarget::REG_BL_VERSION, RWTarget::REG_BL_PAGE_SIZE));
}

quint16 BoardInfo::bootloaderRegister(RWTarget::REGISTER_T reg) const
{
    return wordAt(record.BL_INFO_BLOCK.data(), RWTarget::BL_INFO_BLOCK_SIZE,
                  registerOffset(RWTarget::REG_BL_VERSION, reg));
}

quint16 BoardInfo::appRegister(RWTarget::REGISTER_T reg) const
{
    return wordAt(record.APP_INFO_BLOCK.data(), RWTarget::APP_INFO_BLOCK_SIZE,
                  registerOffset(RWTarget::REG_APP_FW_VERSION, reg));
}

QString BoardInfo::appDescription() const
{
    const int offset = registerOffset(RWTarget::REG_APP_FW_VERSION, RWTarget::REG_APP_DESCRIPTION);
    return boundedUtf8(record.APP_INFO_BLOCK.data() + offset, RWTarget::APP_INFO_BLOCK_SIZE - offset);
}

bool BoardInfo::hasSettingsRecord() const
{
    return hasMagic(record.SETTINGS_RECORD, SETTINGS_MAGIC);
}

bool BoardInfo::hasCalibrationRecord() const
{
    return hasMagic(record.CALIBRATION_RECORD, CALIBRATION_MAGIC);
}

BoardInfo::RecordVersion BoardInfo::settingsVersion() const
{
    return recordVersion(record.SETTINGS_RECORD);
}

BoardInfo::RecordVersion BoardInfo::calibrationVersion() const
{
    return recordVersion(record.CALIBRATION_RECORD);
}

QString BoardInfo::serialNumber() const
{
    return boundedUtf8(record.CALIBRATION_RECORD.data() + RWTarget::CAL_HEADER_SIZE, RWTarget::CAL_SERIAL_SIZE);
}

bool BoardInfo::areaHasCalibrationRecord(const QByteArray &area)
{
    return area.startsWith(QByteArray(CALIBRATION_MAGIC, RECORD_MAGIC_SIZE));
}

BoardInfo::RecordVersion BoardInfo::areaCalibrationVersion(const QByteArray &area)
{
    const auto *bytes = reinterpret_cast<const quint8 *>(area.constData());
    return {wordAt(bytes, area.size(), RECORD_VERSION_MAJOR_OFFSET),
            wordAt(bytes, area.size(), RECORD_VERSION_MINOR_OFFSET)};
}

QString BoardInfo::areaSerialNumber(const QByteArray &area)
{
    if (area.size() <= RWTarget::CAL_SERIAL_OFFSET)
        return QString();
    const int size = std::min(RWTarget::CAL_SERIAL_SIZE, area.size() - RWTarget::CAL_SERIAL_OFFSET);
    return boundedUtf8(reinterpret_cast<const quint8 *>(area.constData()) + RWTarget::CAL_SERIAL_OFFSET, size);
}
