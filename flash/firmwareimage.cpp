#include "flash/firmwareimage.h"

#include "target/boardinfo.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr qint64 kMagicSize = 4;
constexpr qint64 kVersionOffset = 4;
constexpr qint64 kPartNumberOffset = 6;
constexpr qint64 kHardwareIdOffset = 8;
constexpr qint64 kApplicationSizeOffset = 12;
constexpr qint64 kSettingsSizeOffset = 16;
constexpr qint64 kCalibrationSizeOffset = 20;
constexpr quint64 kSectionMinorOffset = BoardInfo::RECORD_VERSION_MINOR_OFFSET;
constexpr quint64 kSectionMajorOffset = BoardInfo::RECORD_VERSION_MAJOR_OFFSET;

// A version word is read only from inside its own section, so a short section never borrows
// the bytes of the section behind it.
quint16 sectionWord(const QByteArray &data, quint64 offset, quint32 size, quint64 at)
{
    if (at + 2 > size || offset + at + 2 > quint64(data.size()))
        return 0;
    return qFromLittleEndian<quint16>(data.constData() + offset + at);
}

} // namespace

FirmwareImage::FirmwareImage(const QByteArray &bytes) : data(bytes)
{
}

quint16 FirmwareImage::le16(qint64 offset) const
{
    if (offset < 0 || offset + 2 > data.size())
        return 0;
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

quint32 FirmwareImage::le32(qint64 offset) const
{
    if (offset < 0 || offset + 4 > data.size())
        return 0;
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

bool FirmwareImage::hasMagic() const
{
    return data.size() >= kMagicSize && std::memcmp(data.constData(), IMAGE_MAGIC, kMagicSize) == 0;
}

bool FirmwareImage::hasCompleteHeader() const
{
    return data.size() >= HEADER_SIZE;
}

bool FirmwareImage::hasCompleteSections() const
{
    return hasCompleteHeader() && calibrationOffset() + calibrationSize() <= quint64(data.size());
}

quint16 FirmwareImage::version() const
{
    return le16(kVersionOffset);
}

quint16 FirmwareImage::partNumber() const
{
    return le16(kPartNumberOffset);
}

quint16 FirmwareImage::hardwareId() const
{
    return le16(kHardwareIdOffset);
}

quint32 FirmwareImage::applicationSize() const
{
    return le32(kApplicationSizeOffset);
}

quint32 FirmwareImage::settingsSize() const
{
    return le32(kSettingsSizeOffset);
}

quint32 FirmwareImage::calibrationSize() const
{
    return le32(kCalibrationSizeOffset);
}

QString FirmwareImage::description() const
{
    // The text has no zero byte when it fills its 128 bytes; the header end is its bound then.
    const qint64 end = qMin<qint64>(data.size(), HEADER_SIZE);
    if (end <= DESCRIPTION_OFFSET)
        return QString();
    const char *begin = data.constData() + DESCRIPTION_OFFSET;
    const qint64 available = end - DESCRIPTION_OFFSET;
    const void *zero = std::memchr(begin, 0, size_t(available));
    const qint64 length = zero ? static_cast<const char *>(zero) - begin : available;
    return QString::fromUtf8(begin, int(length));
}

bool FirmwareImage::sectionValid(quint64 offset, quint32 size, const char *magic) const
{
    if (size < kMagicSize || offset + size > quint64(data.size()))
        return false;
    return std::memcmp(data.constData() + offset, magic, kMagicSize) == 0;
}

bool FirmwareImage::settingsSectionValid() const
{
    return hasCompleteHeader() && sectionValid(settingsOffset(), settingsSize(), BoardInfo::SETTINGS_MAGIC);
}

bool FirmwareImage::calibrationSectionValid() const
{
    return hasCompleteHeader() && sectionValid(calibrationOffset(), calibrationSize(), BoardInfo::CALIBRATION_MAGIC);
}

quint16 FirmwareImage::settingsVersionMajor() const
{
    return settingsSectionValid() ? sectionWord(data, settingsOffset(), settingsSize(), kSectionMajorOffset) : 0;
}

quint16 FirmwareImage::settingsVersionMinor() const
{
    return settingsSectionValid() ? sectionWord(data, settingsOffset(), settingsSize(), kSectionMinorOffset) : 0;
}

quint16 FirmwareImage::calibrationVersionMajor() const
{
    return calibrationSectionValid() ? sectionWord(data, calibrationOffset(), calibrationSize(), kSectionMajorOffset)
                                     : 0;
}

quint16 FirmwareImage::calibrationVersionMinor() const
{
    return calibrationSectionValid() ? sectionWord(data, calibrationOffset(), calibrationSize(), kSectionMinorOffset)
                                     : 0;
}

QString FirmwareImage::versionText(quint16 word)
{
    return QStringLiteral("%1.%2").arg(word >> 8).arg(word & 0xFF);
}
