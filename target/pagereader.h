#pragma once

#include "target/rwtarget.h"

#include <QByteArray>

#include <atomic>

class QSerialPort;

// Which of the two bootloader pages a chunked read addresses.
enum class PageKind { Settings, Calibration };

// Reads the first `size` bytes of a page, rounded up to a multiple of 4, in pieces of at most
// `pieceSize` bytes (and never more than one response frame can carry), copying each piece to
// its page offset in `buffer`. Stops at the first failed piece; bytes not read keep whatever
// the caller put there. Returns true only when every byte of the rounded size was read.
// Nothing is read when `pieceSize` is 0, when the rounded size overflows 16 bits, or when
// `buffer` is too small to hold the rounded size. A set `stop` flag (written by another thread)
// ends the read before its next piece, with false.
bool readPageInPieces(RWTarget &target, QSerialPort &port, PageKind page, QByteArray &buffer, quint16 size,
                      quint16 pieceSize, const std::atomic_bool *stop = nullptr);
