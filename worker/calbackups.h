#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Copies of the board's calibration area taken before anything writes it (backups/ in the state
// folder), the captures fitted for them (captures/), both named by serial number and time, and
// the reading of a backup for a restore.

// "SIM-00001234_20240607T101112.345Z": the serial number with every character that does not
// belong in a file name replaced, and the time in UTC.
QString calibrationFileStem(const QString &serialNumber, const QDateTime &time);

// Makes sure a backup can be written before the board is touched: the folder exists and takes a
// file. False with the reason in `error`.
bool calibrationBackupFolderWritable(QString &error);

// Saves the area, whole or not at all, as backups/<stem>.bin; its path in `path`.
bool saveCalibrationBackup(const QByteArray &area, const QString &stem, QString &path, QString &error);

// Saves the captured text, byte for byte as the fit read it, as captures/<stem>.txt.
bool saveCaptureCopy(const QString &captureText, const QString &stem, QString &path, QString &error);

// Reads a backup for a restore; a file larger than any calibration area is refused.
bool loadCalibrationBackup(const QString &path, QByteArray &bytes, QString &error);
