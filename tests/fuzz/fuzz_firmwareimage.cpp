// Reads the input as a firmware image file the way the main window and the flash procedure do,
// and checks every value against the bytes actually present: nothing is read past the end of the
// file (the bytes are not copied, so ASan sees the exact bounds) and every section the image
// admits lies inside it.

#include "flash/firmwareimage.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kBlockBytes = 64; // data bytes of one block write

quint16 expectedWord(const uint8_t *data, size_t size, size_t offset)
{
    return offset + 2 <= size ? quint16(data[offset] | data[offset + 1] << 8) : 0;
}

quint32 expectedLong(const uint8_t *data, size_t size, size_t offset)
{
    return offset + 4 <= size ? qFromLittleEndian<quint32>(data + offset) : 0;
}

// The window shows a version word as "major.minor", each part a byte.
void checkVersionText(quint16 word)
{
    const QStringList parts = FirmwareImage::versionText(word).split(QLatin1Char('.'));
    FUZZ_CHECK(parts.size() == 2);
    FUZZ_CHECK(parts.at(0).toUInt() == uint(word >> 8));
    FUZZ_CHECK(parts.at(1).toUInt() == uint(word & 0xFF));
}

// A settings or calibration section as the window judges it, worked out from the raw bytes.
void checkSection(const uint8_t *data, size_t size, quint64 offset, quint32 sectionSize, const char *magic, bool valid,
                  quint16 major, quint16 minor)
{
    const bool inside = size >= size_t(FirmwareImage::HEADER_SIZE) && sectionSize >= 4 && offset + sectionSize <= size;
    const bool expectedValid = inside && std::memcmp(data + offset, magic, 4) == 0;
    FUZZ_CHECK(valid == expectedValid);
    // A version word is taken only from inside its own section.
    const quint16 expectedMinor = expectedValid && sectionSize >= 14 ? expectedWord(data, size, offset + 12) : 0;
    const quint16 expectedMajor = expectedValid && sectionSize >= 16 ? expectedWord(data, size, offset + 14) : 0;
    FUZZ_CHECK(minor == expectedMinor);
    FUZZ_CHECK(major == expectedMajor);
}

// Walks a section in blocks as the flash procedure sends it, touching every byte it would send.
quint32 sendSection(const FirmwareImage &image, quint32 start, quint32 size)
{
    const char *section = image.bytes().constData() + start;
    quint32 checksum = 0;
    char block[kBlockBytes];
    for (quint32 offset = 0; offset < size; offset += kBlockBytes) {
        const quint32 count = qMin<quint32>(size - offset, kBlockBytes);
        std::memcpy(block, section + offset, count);
        for (quint32 i = 0; i < count; ++i)
            checksum += quint8(block[i]);
    }
    return checksum;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const FirmwareImage image(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    FUZZ_CHECK(image.fileSize() == qint64(size));

    // The window's file loader.
    FUZZ_CHECK(image.hasMagic() == (size >= 4 && std::memcmp(data, "ZVLO", 4) == 0));
    FUZZ_CHECK(image.hasCompleteHeader() == (size >= size_t(FirmwareImage::HEADER_SIZE)));
    FUZZ_CHECK(image.version() == expectedWord(data, size, 4));
    FUZZ_CHECK(image.partNumber() == expectedWord(data, size, 6));
    FUZZ_CHECK(image.hardwareId() == expectedWord(data, size, 8));
    checkVersionText(image.version());

    const QString description = image.description();
    const size_t headerEnd = qMin<size_t>(size, FirmwareImage::HEADER_SIZE);
    const size_t available =
        headerEnd > size_t(FirmwareImage::DESCRIPTION_OFFSET) ? headerEnd - FirmwareImage::DESCRIPTION_OFFSET : 0;
    // A byte decodes to at most one UTF-16 unit, so the text can never outgrow its bytes.
    FUZZ_CHECK(size_t(description.size()) <= available);
    FUZZ_CHECK(!description.contains(QChar(0)));
    if (available > 0) {
        const char *begin = reinterpret_cast<const char *>(data) + FirmwareImage::DESCRIPTION_OFFSET;
        const void *zero = std::memchr(begin, 0, available);
        const size_t length = zero ? size_t(static_cast<const char *>(zero) - begin) : available;
        FUZZ_CHECK(description == QString::fromUtf8(begin, int(length)));
    } else {
        FUZZ_CHECK(description.isEmpty());
    }

    const quint32 applicationSize = image.applicationSize();
    const quint32 settingsSize = image.settingsSize();
    const quint32 calibrationSize = image.calibrationSize();
    FUZZ_CHECK(applicationSize == expectedLong(data, size, 12));
    FUZZ_CHECK(settingsSize == expectedLong(data, size, 16));
    FUZZ_CHECK(calibrationSize == expectedLong(data, size, 20));

    const quint64 settingsOffset = quint64(FirmwareImage::HEADER_SIZE) + applicationSize;
    const quint64 calibrationOffset = settingsOffset + settingsSize;
    FUZZ_CHECK(image.applicationOffset() == quint64(FirmwareImage::HEADER_SIZE));
    FUZZ_CHECK(image.settingsOffset() == settingsOffset);
    FUZZ_CHECK(image.calibrationOffset() == calibrationOffset);

    checkSection(data, size, settingsOffset, settingsSize, "ZVLS", image.settingsSectionValid(),
                 image.settingsVersionMajor(), image.settingsVersionMinor());
    checkSection(data, size, calibrationOffset, calibrationSize, "ZVLC", image.calibrationSectionValid(),
                 image.calibrationVersionMajor(), image.calibrationVersionMinor());

    // The flash procedure: only an image that holds all its sections is sent.
    const bool complete = size >= size_t(FirmwareImage::HEADER_SIZE) && calibrationOffset + calibrationSize <= size;
    FUZZ_CHECK(image.hasCompleteSections() == complete);
    if (!complete)
        return 0;
    FUZZ_CHECK(image.applicationOffset() + applicationSize <= size);
    FUZZ_CHECK(image.settingsOffset() + settingsSize <= size);
    FUZZ_CHECK(image.calibrationOffset() + calibrationSize <= size);
    // The procedure narrows the offsets to 32 bits; a file that holds its sections always fits.
    FUZZ_CHECK(image.calibrationOffset() <= 0xFFFFFFFFu);

    const QByteArray headerBlock =
        image.bytes().mid(FirmwareImage::HEADER_BLOCK_OFFSET, FirmwareImage::HEADER_BLOCK_SIZE);
    FUZZ_CHECK(headerBlock.size() == FirmwareImage::HEADER_BLOCK_SIZE);
    FUZZ_CHECK(std::memcmp(headerBlock.constData(), data + FirmwareImage::HEADER_BLOCK_OFFSET,
                           FirmwareImage::HEADER_BLOCK_SIZE) == 0);

    quint32 sent = sendSection(image, quint32(image.applicationOffset()), applicationSize);
    sent += sendSection(image, quint32(image.settingsOffset()), settingsSize);
    sent += sendSection(image, quint32(image.calibrationOffset()), calibrationSize);
    // The three sections are the bytes behind the header, in order, with nothing skipped.
    quint32 behindHeader = 0;
    for (quint64 i = FirmwareImage::HEADER_SIZE; i < calibrationOffset + calibrationSize; ++i)
        behindHeader += data[i];
    FUZZ_CHECK(sent == behindHeader);
    return 0;
}
