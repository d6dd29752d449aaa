#include "target/pagereader.h"

#include <QSerialPort>

bool readPageInPieces(RWTarget &target, QSerialPort &port, PageKind page, QByteArray &buffer, quint16 size,
                      quint16 pieceSize, const std::atomic_bool *stop)
{
    if (size == 0)
        return true;
    if (pieceSize == 0)
        return false;
    // Pages are read in whole 32-bit words.
    const quint32 total = (quint32(size) + 3u) & ~3u;
    if (total > 0xFFFFu || quint32(buffer.size()) < total)
        return false;
    // The count travels in one byte and the answer must fit one response frame.
    const quint32 piece = qMin<quint32>(pieceSize, RWTarget::MAX_PAGE_READ_BYTES);

    QByteArray scratch(size, char(0xCC));
    quint32 offset = 0;
    while (offset < total) {
        if (stop && stop->load())
            return false;
        const quint32 count = qMin(total - offset, piece);
        scratch.fill(char(0xCC), int(count));
        const bool ok = page == PageKind::Settings
                            ? target.readSettings(port, quint16(offset), quint8(count), scratch)
                            : target.readCalibration(port, quint16(offset), quint8(count), scratch);
        if (!ok)
            return false;
        buffer.replace(int(offset), int(count), scratch.constData(), int(count));
        offset += count;
    }
    return true;
}
