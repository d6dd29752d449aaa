#pragma once

#include <QByteArray>
#include <QString>

// A capture file is the captured text as the board sent it, one byte per character; the fit
// reads nothing else. Loading refuses larger files: a real capture of 4096 rows is some 200 KiB.
constexpr qint64 FOD_CAPTURE_FILE_MAX_BYTES = 16 * 1024 * 1024;

// Writes `captureText` (characters 0 to 255, as captured) to `path`, replacing the file only once
// it is complete. False with a message for the FOD pane in `error`.
bool saveFodCapture(const QString &path, const QString &captureText, QString &error);

// Reads a capture file of at most FOD_CAPTURE_FILE_MAX_BYTES bytes. False with a message for the
// FOD pane in `error`.
bool loadFodCapture(const QString &path, QByteArray &bytes, QString &error);
