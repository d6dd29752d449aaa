#include "flash/flashprocedure.h"

#include "flash/firmwareimage.h"

#include <QDebug>
#include <QFile>
#include <QSerialPort>
#include <QThread>
#include <QtEndian>

namespace {

constexpr int kMaxBlockPacketBytes = RWTarget::MAX_BLOCK_BYTES + 9; // start byte, Length, command, offset, CRC
constexpr int kRegisterBufferBytes = 128;
constexpr quint32 kByteReportInterval = 1024;
constexpr unsigned long kCrcSettleMs = 50;
constexpr quint8 kCrcStatusGood = 1;

quint16 registerValue(const QByteArray &registers)
{
    return quint16(quint8(registers.at(0)) | (quint8(registers.at(1)) << 8));
}

void logCrcRegister(const QByteArray &registers)
{
    qDebug("CRC Reg Value: 0x%02X%02X", quint8(registers.at(1)), quint8(registers.at(0)));
}

} // namespace

bool writeBlocks(RWTarget &target, QSerialPort &port, FlashReporter &reporter, const QByteArray &image, quint32 start,
                 quint32 size, quint8 command, const QString &name, const QString &successMessage,
                 std::atomic_bool &cancel)
{
    reporter.updateProgress(0);
    if (size != 0) {
        // The caller locates sections through sizes taken from the file; never send bytes it does not hold.
        if (quint64(start) + size > quint64(image.size())) {
            qDebug() << "Section exceeds the image:" << start << size << image.size();
            reporter.flashResult(RWTarget::RW_FILE_OPEN_FAILED);
            return false;
        }
        if (cancel.exchange(false)) {
            reporter.flashResult(RWTarget::RW_CANCELLED);
            return false;
        }

        QByteArray packet;
        packet.reserve(kMaxBlockPacketBytes);
        QByteArray response;
        const char *section = image.constData() + start;
        quint32 offset = 0;
        quint32 remaining = size;
        int lastPercentage = -1;
        for (;;) {
            const int count = int(qMin<quint32>(remaining, RWTarget::MAX_BLOCK_BYTES));
            target.buildBlockPacket(packet, command, offset, section + offset, count);
            if (!target.writePacket(port, packet)) {
                reporter.flashResult(RWTarget::RW_WRITE_TIMEOUT);
                return false;
            }
            if (!target.readResponse(port, response)) {
                reporter.flashResult(RWTarget::RW_READ_TIMEOUT);
                return false;
            }
            if (response.isEmpty() || quint8(response.at(0)) != target.startOfFrame()) {
                reporter.transferStatus(QStringLiteral("Wrong packet header."));
                reporter.flashResult(RWTarget::RW_INVALID_RESPONSE);
                return false;
            }
            if (response.size() > 3 && response.at(3) != 0) {
                const quint8 status = quint8(response.at(3));
                qDebug() << "Returned with error code" << status << "Full response is" << response.toHex();
                // The board's error codes are signed bytes: 0xFE is reported as -2.
                reporter.transferStatus(QString::asprintf("Error Code: %d", int(qint8(status))));
                reporter.transferStatus(QString::fromLatin1(response.toHex()));
                reporter.flashResult(RWTarget::RW_INVALID_RESPONSE);
                return false;
            }
            if (!target.checkResponse(response, command, name)) {
                reporter.flashResult(RWTarget::RW_INVALID_RESPONSE);
                return false;
            }
            offset += quint32(count);
            remaining -= quint32(count);
            reporter.blockAccepted(count);
            if (offset % kByteReportInterval == 0)
                reporter.updateBytesTransferred(int(offset));
            const int percentage = int(double(offset) / double(size) * 100.0);
            if (percentage != lastPercentage)
                reporter.updateProgress(percentage);
            if (offset == size)
                break;
            if (cancel.exchange(false)) {
                reporter.flashResult(RWTarget::RW_CANCELLED);
                return false;
            }
            lastPercentage = percentage;
        }
    }
    reporter.updateBytesTransferred(int(size));
    reporter.transferStatus(successMessage);
    return true;
}

void flashImage(RWTarget &target, QSerialPort &port, FlashReporter &reporter, const QString &filePath,
                std::atomic_bool &cancel, const FlashSelection &selection)
{
    if (!selection.app && !selection.settings && !selection.calibration) {
        reporter.flashResult(RWTarget::RW_NO_SECTION_SELECTED);
        return;
    }

    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        reporter.flashResult(RWTarget::RW_FILE_OPEN_FAILED);
        return;
    }
    reporter.transferStatus(QStringLiteral("Successfully opened bin file."));
    const FirmwareImage image(file.readAll());
    file.close();
    reporter.imageRead(image);
    reporter.transferStatus(QStringLiteral("File size is %1 bytes.").arg(image.fileSize()));

    // A file shorter than its header or its section sizes would have the blocks read past its end.
    if (!image.hasCompleteSections()) {
        qDebug() << "Image truncated: size" << image.fileSize() << "sections" << image.applicationSize()
                 << image.settingsSize() << image.calibrationSize();
        reporter.transferStatus(QStringLiteral("Bin file is truncated."));
        reporter.flashResult(RWTarget::RW_FILE_OPEN_FAILED);
        return;
    }

    const quint16 version = image.version();
    const quint32 applicationSize = image.applicationSize();
    const quint32 settingsSize = image.settingsSize();
    const quint32 calibrationSize = image.calibrationSize();
    reporter.transferStatus(QStringLiteral("Flashing FW Version: %1.%2 of size %3 bytes")
                                .arg(version >> 8)
                                .arg(version & 0xFF)
                                .arg(applicationSize));
    reporter.transferStatus(
        QStringLiteral("Calibration size: %1 bytes, Settings size: %2 bytes").arg(calibrationSize).arg(settingsSize));
    qDebug() << "Part Number, Hardware ID:" << Qt::hex << image.partNumber() << image.hardwareId();

    // Register reads insert at the front, so bytes 0 and 1 always hold the latest value read;
    // the 0xFF filler stands for a board that answered neither read and passes the check.
    QByteArray registers(kRegisterBufferBytes, char(0xFF));
    target.readRegisters(port, RWTarget::REG_BL_PART_NUMBER, 1, registers);
    target.readRegisters(port, RWTarget::REG_APP_HW_DESCRIPTOR, 1, registers);
    const quint16 boardHardwareId = registerValue(registers);
    if (!selection.ignoreHardwareId && boardHardwareId != 0x0000 && boardHardwareId != 0xFFFF &&
        boardHardwareId != image.hardwareId()) {
        reporter.flashResult(RWTarget::RW_INVALID_HARDWARE_ID);
        return;
    }

    target.writeImageHeaderBlock(port, image.headerBlock());

    registers[0] = 0;
    registers[1] = 0;
    target.writeRegisters(port, RWTarget::REG_CRC_STATUS, 1, registers);
    if (target.readRegisters(port, RWTarget::REG_CRC_STATUS, 1, registers))
        logCrcRegister(registers);

    // The file holds every section (checked above), so these offsets fit in 32 bits.
    struct Section {
        quint32 start;
        quint32 size;
        bool selected;
        RWTarget::COMMAND_T command;
        const char *name;
        const char *done;
    };
    const Section sections[] = {
        {quint32(image.applicationOffset()), applicationSize, selection.app, RWTarget::WRITE_ENCRYPTED_COMMAND,
         "WRITE_ENCRYPTED_COMMAND", "Successfully flashed Application Section."},
        {quint32(image.settingsOffset()), settingsSize, selection.settings, RWTarget::WRITE_SETTINGS_COMMAND,
         "WRITE_SETTINGS_COMMAND", "Successfully flashed Settings Section."},
        {quint32(image.calibrationOffset()), calibrationSize, selection.calibration,
         RWTarget::WRITE_CALIBRATION_COMMAND, "WRITE_CALIBRATION_COMMAND", "Successfully flashed Calibration Section."},
    };
    for (const Section &section : sections) {
        if (section.size != 0 && section.selected &&
            !writeBlocks(target, port, reporter, image.bytes(), section.start, section.size, section.command,
                         QString::fromLatin1(section.name), QString::fromLatin1(section.done), cancel)) {
            reporter.updateProgress(0);
            return;
        }
    }

    if (selection.app) {
        // The bootloader needs a moment after the last block before its CRC verdict is ready.
        QThread::msleep(kCrcSettleMs);
        if (target.readRegisters(port, RWTarget::REG_CRC_STATUS, 1, registers))
            logCrcRegister(registers);
        if (quint8(registers.at(0)) != kCrcStatusGood) {
            reporter.flashResult(RWTarget::RW_CRC_CHECK_FAILED);
            return;
        }
    }

    reporter.queryInfoBlock();
    target.restartApplication(port);
    reporter.updateProgress(100);
    reporter.flashResult(RWTarget::RW_SUCCESS);
}
