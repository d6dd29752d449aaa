#include "target/pagereader.h"
#include "tests/common/ptypeer.h"

#include <QSerialPort>
#include <QtTest>

// Chunked page reads against a scripted far end: piece sizes, offsets and partial failures.
class TestPageReader : public QObject
{
    Q_OBJECT

private slots:
    void pieces_followPageSizeAndFrameLimit_data();
    void pieces_followPageSizeAndFrameLimit();
    void failedPiece_keepsEarlierPiecesAndFiller();
    void nothingRead_whenBufferTooSmallPieceZeroOrStopped();
};

namespace {

QByteArray pageBytes(int offset, int count)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = char((offset + i) * 3 + 1);
    return bytes;
}

struct Session {
    PtyPeer peer;
    QSerialPort port;
    RWTarget target;
    bool open()
    {
        port.setPortName(peer.portName());
        return peer.isOpen() && port.open(QIODevice::ReadWrite);
    }
};

} // namespace

void TestPageReader::pieces_followPageSizeAndFrameLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<QList<int>>("pieces");

    QTest::newRow("settings record, page 32") << 98 << 32 << QList<int>{32, 32, 32, 4};
    QTest::newRow("calibration record, page 32") << 166 << 32 << QList<int>{32, 32, 32, 32, 32, 8};
    QTest::newRow("settings record, page 124: one piece") << 98 << 124 << QList<int>{100};
    QTest::newRow("calibration record, page 124: cut to one frame") << 166 << 124 << QList<int>{123, 45};
    QTest::newRow("calibration record, page 1024") << 166 << 1024 << QList<int>{123, 45};
    QTest::newRow("page equal to the frame limit") << 166 << 123 << QList<int>{123, 45};
}

void TestPageReader::pieces_followPageSizeAndFrameLimit()
{
    QFETCH(int, size);
    QFETCH(int, pieceSize);
    QFETCH(QList<int>, pieces);

    Session s;
    QVERIFY(s.open());
    int offset = 0;
    for (int n : pieces) {
        s.peer.addReply(PtyPeer::frame(RWTarget::READ_CALIBRATION_COMMAND, 0, pageBytes(offset, n)));
        offset += n;
    }
    QByteArray buffer(888, char(0xAA));
    QVERIFY(readPageInPieces(s.target, s.port, PageKind::Calibration, buffer, quint16(size), quint16(pieceSize)));
    QCOMPARE(buffer.left(offset), pageBytes(0, offset));
    QCOMPARE(buffer.mid(offset), QByteArray(888 - offset, char(0xAA)));

    const QList<QByteArray> requests = s.peer.requests();
    QCOMPARE(requests.size(), pieces.size());
    offset = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        QCOMPARE(quint8(requests.at(i).at(2)), quint8(RWTarget::READ_CALIBRATION_COMMAND));
        QCOMPARE(qFromLittleEndian<quint16>(requests.at(i).constData() + 3), quint16(offset));
        QCOMPARE(quint8(requests.at(i).at(7)), quint8(pieces.at(i)));
        offset += pieces.at(i);
    }
}

void TestPageReader::failedPiece_keepsEarlierPiecesAndFiller()
{
    Session s;
    QVERIFY(s.open());
    s.peer.addReply(PtyPeer::frame(RWTarget::READ_SETTINGS_COMMAND, 0, pageBytes(0, 32)));
    s.peer.addReply(PtyPeer::frame(RWTarget::READ_SETTINGS_COMMAND, 0x03));
    QByteArray buffer(1880, char(0xAA));
    QVERIFY(!readPageInPieces(s.target, s.port, PageKind::Settings, buffer, 98, 32));
    QCOMPARE(buffer.left(32), pageBytes(0, 32));
    QCOMPARE(buffer.mid(32), QByteArray(1880 - 32, char(0xAA)));
    QCOMPARE(s.peer.requests().size(), 2);
}

void TestPageReader::nothingRead_whenBufferTooSmallPieceZeroOrStopped()
{
    Session s;
    QVERIFY(s.open());
    QByteArray small(98, char(0xAA)); // the rounded size is 100
    QVERIFY(!readPageInPieces(s.target, s.port, PageKind::Settings, small, 98, 32));
    QByteArray buffer(1880, char(0xAA));
    QVERIFY(!readPageInPieces(s.target, s.port, PageKind::Settings, buffer, 98, 0));
    QVERIFY(readPageInPieces(s.target, s.port, PageKind::Settings, buffer, 0, 32));
    const std::atomic_bool stop{true};
    QVERIFY(!readPageInPieces(s.target, s.port, PageKind::Settings, buffer, 98, 32, &stop));
    QCOMPARE(buffer, QByteArray(1880, char(0xAA)));
    QTest::qWait(50);
    QCOMPARE(s.peer.requests().size(), 0);
}

QTEST_GUILESS_MAIN(TestPageReader)
#include "tst_pagereader.moc"
