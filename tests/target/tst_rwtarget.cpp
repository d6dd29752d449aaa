#include "target/rwtarget.h"
#include "tests/common/ptypeer.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <functional>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray kAck7 = PtyPeer::frame(RWTarget::WRITE_REGISTER_COMMAND, 0);

} // namespace

// The link layer against a scripted far end on a real pseudo-terminal.
class TestRWTarget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void crc16_matchesXmodem_data();
    void crc16_matchesXmodem();

    void requests_areExactBytes_data();
    void requests_areExactBytes();

    void readResponse_assemblesChunkedFrames_data();
    void readResponse_assemblesChunkedFrames();
    void readResponse_invalidLength_timesOutWithoutCompleting_data();
    void readResponse_invalidLength_timesOutWithoutCompleting();
    void readResponse_noAnswer_failsAfterFirstWait();
    void readResponse_frameCompletingAfterBudget_fails();

    void checkResponse_judgesHeaderEchoAndStatus_data();
    void checkResponse_judgesHeaderEchoAndStatus();

    void readRegisters_insertsAtFront();
    void reads_wrongDataCount_failAndLeaveBuffer_data();
    void reads_wrongDataCount_failAndLeaveBuffer();
    void writeCalibration_splitsIntoBlocks_data();
    void writeCalibration_splitsIntoBlocks();
    void writeCalibration_errorStatus_stopsAfterFirstBlock();
    void pollRead_takesWhatArrived();

private:
    PtyPeer *peer = nullptr;
    QSerialPort *port = nullptr;
    RWTarget target;
};

void TestRWTarget::init()
{
    peer = new PtyPeer;
    QVERIFY(peer->isOpen());
    port = new QSerialPort(peer->portName());
    port->setBaudRate(115200);
    QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
}

void TestRWTarget::cleanup()
{
    delete port;
    port = nullptr;
    delete peer;
    peer = nullptr;
}

void TestRWTarget::crc16_matchesXmodem_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("check value over 1..9") << QByteArray("123456789") << 0x31C3;
    QTest::newRow("status read of boot status") << hex("5A 06 08 01 01 01") << 0xAAF0;
    QTest::newRow("restart write") << hex("5A 07 07 00 01 33 DD") << 0xCB6A;
    QTest::newRow("nothing") << QByteArray() << 0x0000;
}

void TestRWTarget::crc16_matchesXmodem()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(RWTarget::crc16(bytes.constData(), bytes.size())), crc);
}

using Operation = std::function<bool(RWTarget &, QSerialPort &)>;
Q_DECLARE_METATYPE(Operation)

void TestRWTarget::requests_areExactBytes_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("request");

    const QByteArray regAck = PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("00 A5"));
    QTest::newRow("ping") << Operation([](RWTarget &t, QSerialPort &p) { return t.ping(p); }) << regAck
                          << hex("5A 06 08 01 01 01 F0 AA");
    QTest::newRow("register read of boot status") << Operation([](RWTarget &t, QSerialPort &p) {
        QByteArray b;
        return t.readRegisters(p, RWTarget::REG_BOOT_STATUS, 1, b);
    }) << regAck << hex("5A 06 08 01 01 01 F0 AA");
    QTest::newRow("restart") << Operation([](RWTarget &t, QSerialPort &p) { return t.restartApplication(p); }) << kAck7
                             << hex("5A 07 07 00 01 33 DD 6A CB");
    QTest::newRow("register write sends only 2N bytes") << Operation([](RWTarget &t, QSerialPort &p) {
        return t.writeRegisters(p, RWTarget::REG_RESET, 1, hex("33 DD 11 22 33"));
    }) << kAck7 << hex("5A 07 07 00 01 33 DD 6A CB");

    QByteArray block(16, '\0');
    for (int i = 0; i < 16; ++i)
        block[i] = char(24 + i);
    QByteArray header = hex("5A 15 07 03 01") + block;
    const quint16 crc = RWTarget::crc16(header.constData(), header.size());
    header.append(char(crc & 0xFF)).append(char(crc >> 8));
    QTest::newRow("image header block: 16 bytes to 0x0103, 23 bytes")
        << Operation([block](RWTarget &t, QSerialPort &p) { return t.writeImageHeaderBlock(p, block); }) << kAck7
        << header;

    QByteArray settingsRead = hex("5A 08 04 20 01 00 00 10");
    const quint16 crc2 = RWTarget::crc16(settingsRead.constData(), settingsRead.size());
    settingsRead.append(char(crc2 & 0xFF)).append(char(crc2 >> 8));
    QTest::newRow("settings page read") << Operation([](RWTarget &t, QSerialPort &p) {
        QByteArray b;
        return t.readSettings(p, 0x0120, 16, b);
    }) << PtyPeer::frame(RWTarget::READ_SETTINGS_COMMAND, 0, QByteArray(16, 'x'))
                                        << settingsRead;
}

void TestRWTarget::requests_areExactBytes()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, request);

    peer->addReply(reply);
    QVERIFY(operation(target, *port));
    QVERIFY(peer->waitForRequests(1));
    QCOMPARE(peer->requests().first().toHex(' '), request.toHex(' '));
}

void TestRWTarget::readResponse_assemblesChunkedFrames_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray frame = PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("34 12"));
    QTest::newRow("one chunk") << QList<QByteArray>{frame} << frame;
    QTest::newRow("start byte ends a chunk, length in the next")
        << QList<QByteArray>{frame.left(1), frame.mid(1)} << frame;
    QList<QByteArray> bytes;
    for (char c : frame)
        bytes.append(QByteArray(1, c));
    QTest::newRow("one byte per chunk") << bytes << frame;
    QTest::newRow("garbage before the start byte") << QList<QByteArray>{hex("00 FF 13") + frame} << frame;
    QTest::newRow("garbage chunk, then frame") << QList<QByteArray>{hex("01 02"), frame} << frame;
    QTest::newRow("bytes after the frame stay behind it")
        << QList<QByteArray>{frame + hex("AB CD")} << frame + hex("AB CD");
    QTest::newRow("length chunk then body in two")
        << QList<QByteArray>{frame.left(2), frame.mid(2, 3), frame.mid(5)} << frame;
}

void TestRWTarget::readResponse_assemblesChunkedFrames()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, expected);

    peer->addReply(PtyPeer::Reply{chunks, 0, 10});
    QVERIFY(target.writePacket(*port, hex("5A 06 08 01 01 01 F0 AA")));
    QByteArray response;
    QVERIFY(target.readResponse(*port, response));
    QCOMPARE(response.toHex(' '), expected.toHex(' '));
}

void TestRWTarget::readResponse_invalidLength_timesOutWithoutCompleting_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("length 0") << hex("5A 00 08 00 00 00 00 00");
    QTest::newRow("length 0x80") << hex("5A 80") + QByteArray(140, '\x01');
    QTest::newRow("length 0xFF") << hex("5A FF") + QByteArray(40, '\x02');
}

void TestRWTarget::readResponse_invalidLength_timesOutWithoutCompleting()
{
    QFETCH(QByteArray, bytes);
    peer->addReply(bytes);
    QVERIFY(target.writePacket(*port, hex("5A 06 08 01 01 01 F0 AA")));
    QByteArray response(16, 'q');
    QTest::ignoreMessage(QtDebugMsg, "Read timeout");
    QVERIFY(!target.readResponse(*port, response));
    QVERIFY(response.size() <= 2);
}

void TestRWTarget::readResponse_noAnswer_failsAfterFirstWait()
{
    // The answer comes inside the 2.5 s read budget but after the first 500 ms byte wait: a reader
    // that gives up at the end of that wait never sees it.
    constexpr int kLateAnswerMs = 2000;
    constexpr qint64 kByteWaitMs = 500;
    peer->addReply(
        PtyPeer::Reply{{PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("00 A5"))}, kLateAnswerMs, 0});
    QVERIFY(target.writePacket(*port, hex("5A 06 08 01 01 01 F0 AA")));
    QByteArray response("untouched");
    QElapsedTimer timer;
    timer.start();
    QTest::ignoreMessage(QtDebugMsg, "Read timeout");
    QVERIFY(!target.readResponse(*port, response));
    // It waited for the line rather than giving up at once.
    QVERIFY2(timer.elapsed() >= kByteWaitMs, qPrintable(QString::number(timer.elapsed())));
    // The buffer is not touched until a Length byte arrives.
    QCOMPARE(response, QByteArray("untouched"));
    // The late answer does arrive: it was the reader that had stopped waiting.
    QTRY_VERIFY_WITH_TIMEOUT(port->bytesAvailable() > 0 || port->waitForReadyRead(100), 10000);
}

void TestRWTarget::readResponse_frameCompletingAfterBudget_fails()
{
    // Bytes keep arriving every 400 ms, each wait succeeds, but the frame is whole only after ~2.8 s.
    const QByteArray frame = PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("00 A5"));
    QList<QByteArray> chunks;
    for (char c : frame)
        chunks.append(QByteArray(1, c));
    peer->addReply(PtyPeer::Reply{chunks, 0, 400});
    QVERIFY(target.writePacket(*port, hex("5A 06 08 01 01 01 F0 AA")));
    QByteArray response;
    QTest::ignoreMessage(QtDebugMsg, "Read timeout");
    QVERIFY(!target.readResponse(*port, response));
}

void TestRWTarget::checkResponse_judgesHeaderEchoAndStatus_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("log");

    const QByteArray good = PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("00 A5"));
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0xFF);
    QByteArray badHeader = good;
    badHeader[0] = 'Y';
    QTest::newRow("good") << good << true << QString();
    QTest::newRow("wrong CRC is not examined") << badCrc << true << QString();
    QTest::newRow("wrong start byte") << badHeader << false
                                      << QString("Header incorrect for \"READ_REGISTER_COMMAND\"");
    QTest::newRow("wrong echo") << PtyPeer::frame(RWTarget::WRITE_REGISTER_COMMAND, 0) << false
                                << QString("Invalid response for \"READ_REGISTER_COMMAND\" Response is 0");
    QTest::newRow("error status logged in decimal")
        << PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0xFE) << false
        << QString("Invalid response for \"READ_REGISTER_COMMAND\" Response is 254");
    QTest::newRow("three bytes only") << hex("5A 01 08") << false
                                      << QString("Response too short for \"READ_REGISTER_COMMAND\"");
    QTest::newRow("empty") << QByteArray() << false << QString("Header incorrect for \"READ_REGISTER_COMMAND\"");
}

void TestRWTarget::checkResponse_judgesHeaderEchoAndStatus()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, accepted);
    QFETCH(QString, log);
    if (!log.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
    QCOMPARE(target.checkResponse(response, RWTarget::READ_REGISTER_COMMAND, "READ_REGISTER_COMMAND"), accepted);
}

void TestRWTarget::readRegisters_insertsAtFront()
{
    peer->addReply(PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("11 22")));
    peer->addReply(PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("33 44")));
    QByteArray buffer(128, char(0xFF));
    QVERIFY(target.readRegisters(*port, RWTarget::REG_BL_PART_NUMBER, 1, buffer));
    QVERIFY(target.readRegisters(*port, RWTarget::REG_APP_HW_DESCRIPTOR, 1, buffer));
    QCOMPARE(buffer.size(), 132);
    QCOMPARE(buffer.left(4), hex("33 44 11 22"));
    QCOMPARE(buffer.mid(4), QByteArray(128, char(0xFF)));
}

void TestRWTarget::reads_wrongDataCount_failAndLeaveBuffer_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("two registers for one") << int(RWTarget::READ_REGISTER_COMMAND) << hex("01 02 03 04");
    QTest::newRow("no register for one") << int(RWTarget::READ_REGISTER_COMMAND) << QByteArray();
    QTest::newRow("page read with n+1 bytes") << int(RWTarget::READ_CALIBRATION_COMMAND) << QByteArray(9, 'c');
    QTest::newRow("page read with n-1 bytes") << int(RWTarget::READ_CALIBRATION_COMMAND) << QByteArray(7, 'c');
}

void TestRWTarget::reads_wrongDataCount_failAndLeaveBuffer()
{
    QFETCH(int, command);
    QFETCH(QByteArray, data);
    peer->addReply(PtyPeer::frame(quint8(command), 0, data));
    QByteArray buffer("keep");
    const bool ok = command == RWTarget::READ_REGISTER_COMMAND
                        ? target.readRegisters(*port, RWTarget::REG_BOOT_STATUS, 1, buffer)
                        : target.readCalibration(*port, 0, 8, buffer);
    QVERIFY(!ok);
    QCOMPARE(buffer, QByteArray("keep"));
}

void TestRWTarget::writeCalibration_splitsIntoBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("blockSizes");
    QTest::newRow("130 bytes") << 130 << QList<int>{64, 64, 2};
    QTest::newRow("64 bytes") << 64 << QList<int>{64};
    QTest::newRow("nothing") << 0 << QList<int>{};
}

void TestRWTarget::writeCalibration_splitsIntoBlocks()
{
    QFETCH(int, size);
    QFETCH(QList<int>, blockSizes);

    QByteArray data(size + 10, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    for (int i = 0; i < blockSizes.size(); ++i)
        peer->addReply(PtyPeer::frame(RWTarget::WRITE_CALIBRATION_COMMAND, 0));

    QVERIFY(target.writeCalibration(*port, data, quint32(size)));
    QVERIFY(peer->waitForRequests(blockSizes.size()));
    QTest::qWait(50);
    const QList<QByteArray> requests = peer->requests();
    QCOMPARE(requests.size(), blockSizes.size());
    int offset = 0;
    for (int i = 0; i < requests.size(); ++i) {
        const QByteArray &r = requests.at(i);
        const int k = blockSizes.at(i);
        QCOMPARE(r.size(), k + 9);
        QCOMPARE(quint8(r.at(1)), quint8(k + 7));
        QCOMPARE(quint8(r.at(2)), quint8(RWTarget::WRITE_CALIBRATION_COMMAND));
        QCOMPARE(qFromLittleEndian<quint32>(r.constData() + 3), quint32(offset));
        QCOMPARE(r.mid(7, k), data.mid(offset, k));
        QCOMPARE(qFromLittleEndian<quint16>(r.constData() + r.size() - 2),
                 RWTarget::crc16(r.constData(), r.size() - 2));
        offset += k;
    }
}

void TestRWTarget::writeCalibration_errorStatus_stopsAfterFirstBlock()
{
    peer->addReply(PtyPeer::frame(RWTarget::WRITE_CALIBRATION_COMMAND, 0x05));
    peer->addReply(PtyPeer::frame(RWTarget::WRITE_CALIBRATION_COMMAND, 0));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Returned with error code 5 Full response is"));
    QVERIFY(!target.writeCalibration(*port, QByteArray(130, 'a'), 130));
    QTest::qWait(100);
    QCOMPARE(peer->requests().size(), 1);
}

void TestRWTarget::pollRead_takesWhatArrived()
{
    QByteArray buffer("old");
    QVERIFY(!target.pollRead(*port, buffer));
    QCOMPARE(buffer, QByteArray("old"));
    peer->send("hello\r\n");
    QVERIFY(target.pollRead(*port, buffer));
    QCOMPARE(buffer, QByteArray("hello\r\n"));
}

QTEST_GUILESS_MAIN(TestRWTarget)
#include "tst_rwtarget.moc"
