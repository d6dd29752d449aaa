#pragma once

#include "target/rwtarget.h"
#include "tests/flash/recordingreporter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstring>

// What an image file holds; makeImage() lays it out as the board's tools do.
struct ImageSpec {
    quint16 version = 0x0102;
    quint16 partNumber = 0x1234;
    quint16 hardwareId = 0x0042;
    QByteArray application;
    QByteArray settings;
    QByteArray calibration;
    QByteArray description = "test image";
};

// Bytes whose value depends on their position and a seed, so a misplaced block shows up.
inline QByteArray patternBytes(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 17 + (i >> 8)) & 0xFF);
    return bytes;
}

// A settings or calibration section: magic, 8 bytes, minor and major version, then filler.
inline QByteArray sectionBytes(const char *magic, int size, quint16 minor, quint16 major, int seed)
{
    QByteArray bytes = patternBytes(size, seed);
    const QByteArray head = QByteArray(magic, 4) + QByteArray(8, '\0');
    bytes.replace(0, qMin(size, 12), head.left(qMin(size, 12)));
    if (size >= 16) {
        qToLittleEndian<quint16>(minor, bytes.data() + 12);
        qToLittleEndian<quint16>(major, bytes.data() + 14);
    }
    return bytes;
}

inline QByteArray makeImage(const ImageSpec &spec)
{
    QByteArray header(256, '\0');
    char *h = header.data();
    std::memcpy(h, "ZVLO", 4);
    qToLittleEndian<quint16>(spec.version, h + 4);
    qToLittleEndian<quint16>(spec.partNumber, h + 6);
    qToLittleEndian<quint16>(spec.hardwareId, h + 8);
    qToLittleEndian<quint32>(quint32(spec.application.size()), h + 12);
    qToLittleEndian<quint32>(quint32(spec.settings.size()), h + 16);
    qToLittleEndian<quint32>(quint32(spec.calibration.size()), h + 20);
    for (int i = 24; i < 40; ++i)
        h[i] = char(0xA0 + i);
    std::memcpy(h + 128, spec.description.constData(), size_t(qMin(spec.description.size(), 128)));
    return header + spec.application + spec.settings + spec.calibration;
}

// One block write as the board received it.
struct BlockRequest {
    quint8 command = 0;
    quint32 offset = 0;
    QByteArray data;
};

// The block writes (codes 1, 3, 5) among the requests, in order.
inline QList<BlockRequest> blockRequests(const QList<QByteArray> &requests)
{
    QList<BlockRequest> blocks;
    for (const QByteArray &r : requests) {
        if (r.size() < 9)
            continue;
        const quint8 command = quint8(r.at(2));
        if (command != RWTarget::WRITE_ENCRYPTED_COMMAND && command != RWTarget::WRITE_SETTINGS_COMMAND &&
            command != RWTarget::WRITE_CALIBRATION_COMMAND)
            continue;
        blocks.append({command, qFromLittleEndian<quint32>(r.constData() + 3), r.mid(7, r.size() - 9)});
    }
    return blocks;
}

// The request a register read or write would be, for comparing whole request logs.
inline QByteArray withCrc(QByteArray packet)
{
    const quint16 crc = RWTarget::crc16(packet.constData(), packet.size());
    packet.append(char(crc & 0xFF)).append(char(crc >> 8));
    return packet;
}
