#include "target/rwtarget.h"

#include "target/responseassembler.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QtEndian>

#include <array>
#include <cstring>

namespace {

constexpr int kWriteTimeoutMs = 500;
constexpr int kByteWaitMs = 500;
// The read budget is checked as "at most 2499 ms elapsed", i.e. it ends once 2500 ms have passed.
constexpr qint64 kReadBudgetMs = 2499;
constexpr int kPollWaitMs = 100;

// Status read of REG_BOOT_STATUS and the restart write of 0xDD33 to REG_RESET, sent as fixed bytes.
const QByteArray kPingPacket = QByteArray::fromHex("5a06080101"
                                                   "01f0aa");
const QByteArray kRestartPacket = QByteArray::fromHex("5a07070001"
                                                      "33dd6acb");

constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[i] = crc;
    }
    return table;
}
constexpr std::array<quint16, 256> kCrcTable = makeCrcTable();

void appendLe16(QByteArray &packet, quint16 value)
{
    packet.append(char(value & 0xFF));
    packet.append(char(value >> 8));
}

} // namespace

RWTarget::RWTarget() : sof(START_OF_FRAME)
{
}

quint16 RWTarget::crc16(const char *data, int count)
{
    quint16 crc = 0;
    for (int i = 0; i < count; ++i)
        crc = quint16((crc << 8) ^ kCrcTable[((crc >> 8) ^ quint8(data[i])) & 0xFF]);
    return crc;
}

void RWTarget::appendCrc(QByteArray &packet) const
{
    appendLe16(packet, crc16(packet.constData(), packet.size()));
}

bool RWTarget::writePacket(QSerialPort &port, const QByteArray &packet)
{
    port.write(packet);
    if (!port.waitForBytesWritten(kWriteTimeoutMs)) {
        qDebug() << "Write timeout";
        return false;
    }
    return true;
}

bool RWTarget::readResponse(QSerialPort &port, QByteArray &response)
{
    QElapsedTimer elapsed;
    elapsed.start();
    ResponseAssembler assembler(sof);
    while (elapsed.elapsed() <= kReadBudgetMs) {
        // Bytes can already sit in the port's buffer (taken in while the write was waited for,
        // or by the event loop); waiting would then only look for further bytes.
        if (port.bytesAvailable() <= 0 && !port.waitForReadyRead(kByteWaitMs)) {
            qDebug() << "Read timeout";
            return false;
        }
        if (port.bytesAvailable() <= 0)
            continue;
        const QByteArray chunk = port.readAll();
        if (assembler.feed(chunk.constData(), chunk.size(), response))
            break;
    }
    // A frame that completed after the budget counts as late as one that never came.
    if (elapsed.elapsed() > kReadBudgetMs) {
        qDebug() << "Read timeout";
        return false;
    }
    return true;
}

bool RWTarget::checkResponse(const QByteArray &response, int command, const QString &name)
{
    if (response.isEmpty() || quint8(response.at(0)) != sof) {
        qDebug() << "Header incorrect for" << name;
        return false;
    }
    // A frame too short to carry the command echo and status cannot be a valid answer.
    if (response.size() < 4) {
        qDebug() << "Response too short for" << name;
        return false;
    }
    const int status = quint8(response.at(3));
    if (quint8(response.at(2)) == command && status == 0)
        return true;
    qDebug() << "Invalid response for" << name << "Response is" << status;
    return false;
}

bool RWTarget::pollRead(QSerialPort &port, QByteArray &buffer)
{
    // Text taken in by the event loop between two polls is already in the port's buffer.
    if (port.bytesAvailable() <= 0 && !port.waitForReadyRead(kPollWaitMs))
        return false;
    if (port.bytesAvailable() > 0) {
        buffer = port.readAll();
        return true;
    }
    return false;
}

bool RWTarget::exchange(QSerialPort &port, const QByteArray &packet, QByteArray &response, int command,
                        const QString &name)
{
    return writePacket(port, packet) && readResponse(port, response) && checkResponse(response, command, name);
}

QByteArray RWTarget::buildRegisterReadPacket(quint16 firstRegister, quint8 count) const
{
    QByteArray packet;
    packet.reserve(8);
    packet.append(char(sof));
    packet.append(char(6));
    packet.append(char(READ_REGISTER_COMMAND));
    appendLe16(packet, firstRegister);
    packet.append(char(count));
    appendCrc(packet);
    return packet;
}

QByteArray RWTarget::buildRegisterWritePacket(quint16 firstRegister, quint8 count, const QByteArray &data) const
{
    QByteArray packet;
    packet.reserve(2 * count + 7);
    packet.append(char(sof));
    packet.append(char(2 * count + 5));
    packet.append(char(WRITE_REGISTER_COMMAND));
    appendLe16(packet, firstRegister);
    packet.append(data.left(2 * count));
    appendCrc(packet);
    return packet;
}

QByteArray RWTarget::buildPageReadPacket(quint8 command, quint16 offset, quint8 count) const
{
    QByteArray packet;
    packet.reserve(10);
    packet.append(char(sof));
    packet.append(char(8));
    packet.append(char(command));
    appendLe16(packet, offset);
    appendLe16(packet, 0);
    packet.append(char(count));
    appendCrc(packet);
    return packet;
}

void RWTarget::buildBlockPacket(QByteArray &packet, quint8 command, quint32 offset, const char *data, int count) const
{
    constexpr int kHeaderBytes = 7; // start byte, Length, command, 4-byte offset
    packet.resize(kHeaderBytes + count + 2);
    char *p = packet.data();
    p[0] = char(sof);
    p[1] = char(count + kHeaderBytes);
    p[2] = char(command);
    qToLittleEndian<quint32>(offset, p + 3);
    std::memcpy(p + kHeaderBytes, data, size_t(count));
    qToLittleEndian<quint16>(crc16(p, kHeaderBytes + count), p + kHeaderBytes + count);
}

bool RWTarget::ping(QSerialPort &port)
{
    QByteArray response;
    return exchange(port, kPingPacket, response, READ_REGISTER_COMMAND, QStringLiteral("READ_REGISTER_COMMAND"));
}

bool RWTarget::sendPingNoReply(QSerialPort &port)
{
    return writePacket(port, kPingPacket);
}

bool RWTarget::readRegisters(QSerialPort &port, quint16 firstRegister, quint8 count, QByteArray &buffer)
{
    QByteArray response;
    if (!exchange(port, buildRegisterReadPacket(firstRegister, count), response, READ_REGISTER_COMMAND,
                  QStringLiteral("READ_REGISTER_COMMAND")))
        return false;
    if (response.size() < 2)
        return false;
    const int dataBytes = qint8(response.at(1)) - 4;
    if (dataBytes / 2 != count)
        return false;
    buffer.prepend(response.mid(4, dataBytes / 2 * 2));
    return true;
}

bool RWTarget::writeRegisters(QSerialPort &port, quint16 firstRegister, quint8 count, const QByteArray &data)
{
    // The packet carries the first 2N bytes of the caller's buffer; never reach past its end.
    if (data.size() < 2 * count) {
        qDebug() << "Register data too short:" << data.size() << "bytes for" << count << "registers";
        return false;
    }
    QByteArray response;
    return exchange(port, buildRegisterWritePacket(firstRegister, count, data), response, WRITE_REGISTER_COMMAND,
                    QStringLiteral("WRITE_REGISTER_COMMAND"));
}

bool RWTarget::restartApplication(QSerialPort &port)
{
    QByteArray response;
    return exchange(port, kRestartPacket, response, WRITE_REGISTER_COMMAND, QStringLiteral("WRITE_REGISTER_COMMAND"));
}

bool RWTarget::writeResetRegister(QSerialPort &port, quint16 value)
{
    QByteArray data;
    appendLe16(data, value);
    return writeRegisters(port, REG_RESET, 1, data);
}

bool RWTarget::isBootloaderStatus(const QByteArray &registers)
{
    return registers.size() >= 2 && qFromLittleEndian<quint16>(registers.constData()) == BOOT_STATUS_BOOTLOADER;
}

bool RWTarget::writeImageHeaderBlock(QSerialPort &port, const QByteArray &headerBlock)
{
    if (headerBlock.size() < IMAGE_HEADER_BLOCK_SIZE)
        return false;
    return writeRegisters(port, REG_IMAGE_HEADER_BLOCK, IMAGE_HEADER_BLOCK_SIZE / 2, headerBlock);
}

bool RWTarget::readPage(QSerialPort &port, quint8 command, const QString &name, quint16 offset, quint8 count,
                        QByteArray &buffer)
{
    QByteArray response;
    if (!exchange(port, buildPageReadPacket(command, offset, count), response, command, name))
        return false;
    if (response.size() < 2 || qint8(response.at(1)) != count + 4)
        return false;
    buffer.prepend(response.mid(4, count));
    return true;
}

bool RWTarget::readSettings(QSerialPort &port, quint16 offset, quint8 count, QByteArray &buffer)
{
    return readPage(port, READ_SETTINGS_COMMAND, QStringLiteral("READ_SETTINGS_COMMAND"), offset, count, buffer);
}

bool RWTarget::readCalibration(QSerialPort &port, quint16 offset, quint8 count, QByteArray &buffer)
{
    return readPage(port, READ_CALIBRATION_COMMAND, QStringLiteral("READ_CALIBRATION_COMMAND"), offset, count, buffer);
}

bool RWTarget::writeCalibration(QSerialPort &port, const QByteArray &data, quint32 size, quint32 *accepted)
{
    if (accepted)
        *accepted = 0;
    if (size == 0)
        return true;
    if (size > quint32(data.size())) {
        qDebug() << "Calibration data too short:" << data.size() << "bytes for" << size;
        return false;
    }
    const QString name = QStringLiteral("WRITE_CALIBRATION_COMMAND");
    QByteArray packet;
    QByteArray response;
    quint32 offset = 0;
    quint32 remaining = size;
    for (;;) {
        const int count = int(qMin<quint32>(remaining, MAX_BLOCK_BYTES));
        buildBlockPacket(packet, WRITE_CALIBRATION_COMMAND, offset, data.constData() + offset, count);
        if (!writePacket(port, packet))
            return false;
        if (!readResponse(port, response))
            return false;
        if (response.isEmpty() || quint8(response.at(0)) != sof)
            return false;
        if (response.size() >= 4 && response.at(3) != 0) {
            qDebug() << "Returned with error code" << quint8(response.at(3)) << "Full response is" << response.toHex();
            return false;
        }
        if (!checkResponse(response, WRITE_CALIBRATION_COMMAND, name))
            return false;
        offset += count;
        remaining -= count;
        if (accepted)
            *accepted = offset;
        if (offset == size)
            return true;
    }
}
