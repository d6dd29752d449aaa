#pragma once

#include <QString>
#include <QStringList>

// The device file a port name stands for, and the stable names a device also goes by.
namespace PortNames {

// The folders whose links name a serial device by its adapter (maker, model, serial number)
// and by the socket it is plugged into; both survive re-plugging.
QStringList stableFolders();

// The file QSerialPort opens for a port name: a path as it is, a bare name (ttyUSB0) below /dev.
QString systemLocation(const QString &portName);

// The links in `folders` that lead to `systemLocation`, sorted by folder and then by name.
QStringList stableNames(const QString &systemLocation, const QStringList &folders = stableFolders());

} // namespace PortNames
