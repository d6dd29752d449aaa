#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <array>

class QSerialPort;

// The link protocol with the board's bootloader: request framing with CRC-16, response
// assembly under a time budget, and the register, page and block commands built on them.
// Every operation blocks the calling (worker) thread and works on a port owned by the caller.
class RWTarget
{
public:
    // Result of a flash, shown by the window and used as the exit code of a command-line flash.
    enum RW_RESPONSE_T {
        RW_SUCCESS = 0,
        RW_WRITE_TIMEOUT = 1,
        RW_READ_TIMEOUT = 2,
        RW_INVALID_CRC = 3,
        RW_INVALID_RESPONSE = 4,
        RW_CANCELLED = 5,
        RW_FILE_OPEN_FAILED = 6,
        RW_CRC_CHECK_FAILED = 7,
        RW_INVALID_PART_NUMBER = 8,
        RW_INVALID_HARDWARE_ID = 9,
        RW_NO_SECTION_SELECTED = 10,
    };

    enum COMMAND_T : quint8 {
        WRITE_ENCRYPTED_COMMAND = 1,
        WRITE_SETTINGS_COMMAND = 3,
        READ_SETTINGS_COMMAND = 4,
        WRITE_CALIBRATION_COMMAND = 5,
        READ_CALIBRATION_COMMAND = 6,
        WRITE_REGISTER_COMMAND = 7,
        READ_REGISTER_COMMAND = 8,
    };

    // 16-bit registers of the bootloader, each sent low byte first.
    enum REGISTER_T : quint16 {
        REG_BL_VERSION = 0x0000,
        REG_BL_PART_NUMBER = 0x0001,
        REG_BL_PAGE_SIZE = 0x0003,
        REG_BL_SETTINGS_PAGE = 0x0005,
        REG_BL_CAL_PAGE = 0x0006,
        REG_APP_FW_VERSION = 0x0010,
        REG_APP_PART_NUMBER = 0x0011,
        REG_APP_HW_DESCRIPTOR = 0x0012,
        REG_APP_DESCRIPTION = 0x001B,
        REG_RESET = 0x0100,
        REG_BOOT_STATUS = 0x0101,
        REG_CRC_STATUS = 0x0102,
        REG_IMAGE_HEADER_BLOCK = 0x0103,
    };

    // Values of REG_RESET and REG_BOOT_STATUS.
    static constexpr quint16 RESET_ENTER_BOOTLOADER = 0x55DD;
    static constexpr quint16 RESET_RUN_APPLICATION = 0xDD33;
    static constexpr quint16 BOOT_STATUS_BOOTLOADER = 0xA500;

    // Sizes of the information record and of the page reads behind it.
    static constexpr int APP_INFO_BLOCK_SIZE = 64;  // registers 0x0010 .. 0x002F
    static constexpr int BL_INFO_BLOCK_SIZE = 32;   // registers 0x0000 .. 0x000F
    static constexpr int SETTINGS_RECORD_SIZE = 98; // settings page bytes 0 .. 97
    static constexpr int CAL_HEADER_SIZE = 98;      // calibration page bytes 0 .. 97
    static constexpr int CAL_SERIAL_OFFSET = 100;   // page offset of the serial number
    static constexpr int CAL_SERIAL_SIZE = 68;      // page bytes 100 .. 167
    static constexpr int CALIBRATION_RECORD_SIZE = CAL_HEADER_SIZE + CAL_SERIAL_SIZE;

    // The board's read-only information: two register blocks and the starts of the settings
    // and calibration pages, copied by value into a queued signal.
    struct APP_BL_REG_RO_T {
        std::array<quint8, APP_INFO_BLOCK_SIZE> APP_INFO_BLOCK{};
        std::array<quint8, BL_INFO_BLOCK_SIZE> BL_INFO_BLOCK{};
        std::array<quint8, SETTINGS_RECORD_SIZE> SETTINGS_RECORD{};
        std::array<quint8, CALIBRATION_RECORD_SIZE> CALIBRATION_RECORD{};
    };

    static constexpr int IMAGE_HEADER_BLOCK_SIZE = 16; // registers 0x0103 .. 0x010A

    static constexpr quint8 START_OF_FRAME = 0x5A;
    static constexpr int MAX_BLOCK_BYTES = 64;      // data bytes of one block write
    static constexpr int MAX_PAGE_READ_BYTES = 123; // data bytes of the largest response frame

    RWTarget();

    // Transport.
    bool writePacket(QSerialPort &port, const QByteArray &packet);
    bool readResponse(QSerialPort &port, QByteArray &response);
    bool checkResponse(const QByteArray &response, int command, const QString &name);
    bool pollRead(QSerialPort &port, QByteArray &buffer);
    static quint16 crc16(const char *data, int count);

    // Commands.
    bool ping(QSerialPort &port);
    bool sendPingNoReply(QSerialPort &port);
    bool readRegisters(QSerialPort &port, quint16 firstRegister, quint8 count, QByteArray &buffer);
    bool writeRegisters(QSerialPort &port, quint16 firstRegister, quint8 count, const QByteArray &data);
    bool restartApplication(QSerialPort &port);
    // Writes REG_RESET, one register: RESET_ENTER_BOOTLOADER or RESET_RUN_APPLICATION.
    bool writeResetRegister(QSerialPort &port, quint16 value);
    // True when a boot-status read left the bootloader's signature (bytes 00 A5) at the front.
    static bool isBootloaderStatus(const QByteArray &registers);
    // Writes the image's header block (IMAGE_HEADER_BLOCK_SIZE bytes) to REG_IMAGE_HEADER_BLOCK.
    bool writeImageHeaderBlock(QSerialPort &port, const QByteArray &headerBlock);
    bool readSettings(QSerialPort &port, quint16 offset, quint8 count, QByteArray &buffer);
    bool readCalibration(QSerialPort &port, quint16 offset, quint8 count, QByteArray &buffer);
    // `accepted`, when given, counts the bytes of the blocks the board took, also when a later one fails.
    bool writeCalibration(QSerialPort &port, const QByteArray &data, quint32 size, quint32 *accepted = nullptr);

    // Frame builders shared by the commands above and the section writer. The block builder
    // fills the caller's buffer, so a long transfer reuses one buffer for every block.
    void buildBlockPacket(QByteArray &packet, quint8 command, quint32 offset, const char *data, int count) const;
    QByteArray buildRegisterWritePacket(quint16 firstRegister, quint8 count, const QByteArray &data) const;
    QByteArray buildRegisterReadPacket(quint16 firstRegister, quint8 count) const;
    QByteArray buildPageReadPacket(quint8 command, quint16 offset, quint8 count) const;

    quint8 startOfFrame() const { return sof; }

private:
    bool exchange(QSerialPort &port, const QByteArray &packet, QByteArray &response, int command, const QString &name);
    bool readPage(QSerialPort &port, quint8 command, const QString &name, quint16 offset, quint8 count,
                  QByteArray &buffer);
    void appendCrc(QByteArray &packet) const;

    quint8 sof;
};

Q_DECLARE_METATYPE(RWTarget::APP_BL_REG_RO_T)
