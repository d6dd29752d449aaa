#pragma once

#include "target/rwtarget.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A firmware image file held in memory: a 256-byte header followed by the application,
// settings and calibration sections, located only through the sizes in the header.
// Every accessor is bounded by the bytes actually present, so a short or malformed file
// is never read past its end.
class FirmwareImage
{
public:
    static constexpr int HEADER_SIZE = 256;
    static constexpr int HEADER_BLOCK_OFFSET = 24;
    static constexpr int HEADER_BLOCK_SIZE = RWTarget::IMAGE_HEADER_BLOCK_SIZE;
    static constexpr int DESCRIPTION_OFFSET = 128;
    static constexpr char IMAGE_MAGIC[] = "ZVLO";

    FirmwareImage() = default;
    explicit FirmwareImage(const QByteArray &bytes);

    const QByteArray &bytes() const { return data; }
    // The HEADER_BLOCK_SIZE bytes at HEADER_BLOCK_OFFSET that the bootloader takes before the sections.
    QByteArray headerBlock() const { return data.mid(HEADER_BLOCK_OFFSET, HEADER_BLOCK_SIZE); }
    qint64 fileSize() const { return data.size(); }

    bool hasMagic() const;            // the first four bytes are "ZVLO"
    bool hasCompleteHeader() const;   // at least 256 bytes
    bool hasCompleteSections() const; // header complete and every section inside the file

    // Header fields; 0 where the header is too short to hold them.
    quint16 version() const;
    quint16 partNumber() const;
    quint16 hardwareId() const;
    quint32 applicationSize() const;
    quint32 settingsSize() const;
    quint32 calibrationSize() const;
    QString description() const; // UTF-8 up to the first zero byte, never past the header

    // File offsets of the sections, in 64 bits so that sizes near 2^32 cannot wrap.
    quint64 applicationOffset() const { return HEADER_SIZE; }
    quint64 settingsOffset() const { return applicationOffset() + applicationSize(); }
    quint64 calibrationOffset() const { return settingsOffset() + settingsSize(); }

    // A settings or calibration section is the record the board keeps in that page (its layout
    // in target/boardinfo.h). False when the section is empty, lacks the magic or lies (partly)
    // outside the file.
    bool settingsSectionValid() const;
    bool calibrationSectionValid() const;
    quint16 settingsVersionMajor() const;
    quint16 settingsVersionMinor() const;
    quint16 calibrationVersionMajor() const;
    quint16 calibrationVersionMinor() const;

    // "%1.%2" with the high byte first, as the window shows a version word.
    static QString versionText(quint16 word);

private:
    quint16 le16(qint64 offset) const;
    quint32 le32(qint64 offset) const;
    bool sectionValid(quint64 offset, quint32 size, const char *magic) const;

    QByteArray data;
};
