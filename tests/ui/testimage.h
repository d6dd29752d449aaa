#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

// Builds firmware image files for the window tests: a 256-byte header and the three sections,
// with every header field under the test's control.
struct TestImage {
    QByteArray magic = "ZVLO";
    quint16 version = 0x0102;
    quint16 partNumber = 4321;
    quint16 hardwareId = 77;
    QByteArray description = "Test image";
    QByteArray application = QByteArray(300, '\xA5');
    QByteArray settings;
    QByteArray calibration;
    // Header sizes that differ from the sections actually appended (negative: use the real size).
    qint64 settingsSizeField = -1;
    qint64 calibrationSizeField = -1;
    // Cut the finished file to this many bytes (negative: keep it whole).
    int truncateTo = -1;

    static QByteArray section(const char *magic, quint16 major, quint16 minor, int size = 64)
    {
        QByteArray bytes(size, '\0');
        bytes.replace(0, 4, QByteArray(magic, 4));
        qToLittleEndian<quint16>(minor, bytes.data() + 12);
        qToLittleEndian<quint16>(major, bytes.data() + 14);
        return bytes;
    }

    QByteArray build() const
    {
        QByteArray header(256, '\0');
        header.replace(0, magic.size(), magic);
        qToLittleEndian<quint16>(version, header.data() + 4);
        qToLittleEndian<quint16>(partNumber, header.data() + 6);
        qToLittleEndian<quint16>(hardwareId, header.data() + 8);
        qToLittleEndian<quint32>(quint32(application.size()), header.data() + 12);
        qToLittleEndian<quint32>(quint32(settingsSizeField >= 0 ? settingsSizeField : settings.size()),
                                 header.data() + 16);
        qToLittleEndian<quint32>(quint32(calibrationSizeField >= 0 ? calibrationSizeField : calibration.size()),
                                 header.data() + 20);
        header.replace(128, qMin(description.size(), 128), description.left(128));
        QByteArray file = header + application + settings + calibration;
        if (truncateTo >= 0)
            file.truncate(truncateTo);
        return file;
    }

    bool writeTo(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(build()) >= 0;
    }
};
