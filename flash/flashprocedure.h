#pragma once

#include "flash/flashreporter.h"
#include "flash/flashselection.h"
#include "target/rwtarget.h"

#include <QByteArray>
#include <QString>

#include <atomic>

class QSerialPort;

// Writes the selected sections of the image file at `filePath` to a board in its bootloader,
// checks the board's CRC verdict, re-reads the board information and restarts the application.
// Every path ends with exactly one reporter.flashResult(). `cancel` is set from another thread
// and cleared here when it is honoured.
void flashImage(RWTarget &target, QSerialPort &port, FlashReporter &reporter, const QString &filePath,
                std::atomic_bool &cancel, const FlashSelection &selection);

// Sends `size` bytes of `image` from `start` as blocks of at most 64 bytes with `command`,
// addressed by offset from the section start. On failure it has already reported the result.
bool writeBlocks(RWTarget &target, QSerialPort &port, FlashReporter &reporter, const QByteArray &image, quint32 start,
                 quint32 size, quint8 command, const QString &name, const QString &successMessage,
                 std::atomic_bool &cancel);
