#include "flash/flashprocedure.h"
#include "tests/common/ptypeer.h"
#include "tests/flash/flashtestsupport.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(FlashSelection)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian<quint16>(value, bytes.data());
    return bytes;
}

QByteArray registerReply(quint16 value)
{
    return PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, le16(value));
}

// A register read answered with two registers where one was asked for: the read fails at once
// and leaves the buffer as it was, like a board that did not answer, without the read timeout.
QByteArray failedRegisterRead()
{
    return PtyPeer::frame(RWTarget::READ_REGISTER_COMMAND, 0, hex("01 02 03 04"));
}

const QByteArray kWriteAck = PtyPeer::frame(RWTarget::WRITE_REGISTER_COMMAND, 0);

QList<int> blockSizes(const QList<BlockRequest> &blocks)
{
    QList<int> sizes;
    for (const BlockRequest &b : blocks)
        sizes.append(b.data.size());
    return sizes;
}

QList<int> numbers(const QStringList &texts)
{
    QList<int> out;
    for (const QString &t : texts)
        out.append(t.toInt());
    return out;
}

} // namespace

// The flash procedure against a scripted board on a real pseudo-terminal: what it sends, in which
// order, and what it reports.
class TestFlashProcedure : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noSectionSelected_onlyResult_fileNotOpened();
    void missingFile_onlyFileOpenFailed();
    void truncatedImage_endsWithFileOpenFailedBeforeAnyRequest_data();
    void truncatedImage_endsWithFileOpenFailedBeforeAnyRequest();

    void fullFlash_exactRequestsReportsAndDebugLines();

    void writeBlocks_blocksByteCountsAndProgress_data();
    void writeBlocks_blocksByteCountsAndProgress();

    void cancel_honouredAtTheNextCheckOnly_data();
    void cancel_honouredAtTheNextCheckOnly();

    void boardErrorCode_reportedSignedWithResponseInHex_data();
    void boardErrorCode_reportedSignedWithResponseInHex();
    void blockFailures_stopWithCodeAndProgressZero_data();
    void blockFailures_stopWithCodeAndProgressZero();

    void hardwareIdCheck_data();
    void hardwareIdCheck();

    void crcVerdict_data();
    void crcVerdict();

private:
    QString writeImageFile(const QByteArray &bytes);
    void scriptPrelude(quint16 partNumber = 0x1234, quint16 hwDescriptor = 0x0042);
    void scriptBlocks(quint8 command, int count);
    void scriptEnding(bool crcRead, quint16 crc = 1);
    RWTarget::RW_RESPONSE_T flash(const QString &path, const FlashSelection &selection);

    QTemporaryDir dir;
    PtyPeer *peer = nullptr;
    QSerialPort *port = nullptr;
    RWTarget target;
    RecordingReporter *reporter = nullptr;
    std::atomic_bool cancel{false};
    int files = 0;
};

void TestFlashProcedure::init()
{
    QVERIFY(dir.isValid());
    peer = new PtyPeer;
    QVERIFY(peer->isOpen());
    port = new QSerialPort(peer->portName());
    port->setBaudRate(115200);
    QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
    reporter = new RecordingReporter;
    cancel = false;
}

void TestFlashProcedure::cleanup()
{
    delete reporter;
    reporter = nullptr;
    delete port;
    port = nullptr;
    delete peer;
    peer = nullptr;
}

QString TestFlashProcedure::writeImageFile(const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("image%1.bin").arg(++files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Part number, hardware descriptor, header block, CRC register cleared and read back as 0.
void TestFlashProcedure::scriptPrelude(quint16 partNumber, quint16 hwDescriptor)
{
    peer->addReply(registerReply(partNumber));
    peer->addReply(registerReply(hwDescriptor));
    peer->addReply(kWriteAck);
    peer->addReply(kWriteAck);
    peer->addReply(registerReply(0));
}

void TestFlashProcedure::scriptBlocks(quint8 command, int count)
{
    for (int i = 0; i < count; ++i)
        peer->addReply(PtyPeer::frame(command, 0));
}

void TestFlashProcedure::scriptEnding(bool crcRead, quint16 crc)
{
    if (crcRead)
        peer->addReply(registerReply(crc));
    peer->addReply(kWriteAck);
}

RWTarget::RW_RESPONSE_T TestFlashProcedure::flash(const QString &path, const FlashSelection &selection)
{
    const int before = reporter->results.size();
    flashImage(target, *port, *reporter, path, cancel, selection);
    // Exactly one result on every path.
    if (reporter->results.size() != before + 1)
        return RWTarget::RW_RESPONSE_T(-1);
    return reporter->results.last();
}

void TestFlashProcedure::noSectionSelected_onlyResult_fileNotOpened()
{
    FlashSelection selection;
    selection.ignoreHardwareId = true;
    QCOMPARE(flash(dir.filePath("does-not-exist.bin"), selection), RWTarget::RW_NO_SECTION_SELECTED);
    QCOMPARE(reporter->entries, QStringList{"result 10"});
    QVERIFY(peer->received().isEmpty());
}

void TestFlashProcedure::missingFile_onlyFileOpenFailed()
{
    FlashSelection selection;
    selection.app = true;
    QCOMPARE(flash(dir.filePath("does-not-exist.bin"), selection), RWTarget::RW_FILE_OPEN_FAILED);
    QCOMPARE(reporter->entries, QStringList{"result 6"});
    QVERIFY(peer->received().isEmpty());
}

void TestFlashProcedure::truncatedImage_endsWithFileOpenFailedBeforeAnyRequest_data()
{
    QTest::addColumn<QByteArray>("bytes");

    ImageSpec spec;
    spec.application = patternBytes(1000, 1);
    spec.settings = sectionBytes("ZVLS", 200, 1, 1, 2);
    const QByteArray good = makeImage(spec);
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("shorter than its header") << good.left(100);
    QTest::newRow("settings reach past the end") << good.left(good.size() - 1);
    QByteArray huge = good;
    qToLittleEndian<quint32>(0xFFFFFFFFu, huge.data() + 16);
    qToLittleEndian<quint32>(0xFFFFFFFFu, huge.data() + 20);
    QTest::newRow("sizes near 2^32") << huge;
    QByteArray wraps = good;
    // 256 + this size is 0 in 32 bits.
    qToLittleEndian<quint32>(0xFFFFFF00u, wraps.data() + 12);
    QTest::newRow("application size wrapping the offsets") << wraps;
}

void TestFlashProcedure::truncatedImage_endsWithFileOpenFailedBeforeAnyRequest()
{
    QFETCH(QByteArray, bytes);
    FlashSelection selection{true, true, true, false};
    QCOMPARE(flash(writeImageFile(bytes), selection), RWTarget::RW_FILE_OPEN_FAILED);
    const QStringList expected{"status Successfully opened bin file.",
                               QStringLiteral("status File size is %1 bytes.").arg(bytes.size()),
                               "status Bin file is truncated.", "result 6"};
    QCOMPARE(reporter->entries, expected);
    QTest::qWait(20);
    QVERIFY(peer->received().isEmpty());
}

void TestFlashProcedure::fullFlash_exactRequestsReportsAndDebugLines()
{
    ImageSpec spec;
    spec.version = 0x0102;
    spec.partNumber = 0x1234;
    spec.hardwareId = 0x0042;
    spec.application = patternBytes(1000, 1);
    spec.settings = sectionBytes("ZVLS", 200, 1, 2, 2);
    spec.calibration = sectionBytes("ZVLC", 300, 3, 4, 3);
    const QByteArray bytes = makeImage(spec);
    const QString path = writeImageFile(bytes);

    scriptPrelude();
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 16);
    scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, 4);
    scriptBlocks(RWTarget::WRITE_CALIBRATION_COMMAND, 5);
    scriptEnding(true, 1);

    QTest::ignoreMessage(QtDebugMsg, "Part Number, Hardware ID: 1234 42");
    QTest::ignoreMessage(QtDebugMsg, "CRC Reg Value: 0x0000");
    QTest::ignoreMessage(QtDebugMsg, "CRC Reg Value: 0x0001");
    QCOMPARE(flash(path, FlashSelection{true, true, true, false}), RWTarget::RW_SUCCESS);

    const QList<QByteArray> requests = peer->requests();
    QCOMPARE(requests.size(), 5 + 16 + 4 + 5 + 2);
    QCOMPARE(requests.at(0).toHex(' '), withCrc(hex("5A 06 08 01 00 01")).toHex(' '));
    QCOMPARE(requests.at(1).toHex(' '), withCrc(hex("5A 06 08 12 00 01")).toHex(' '));
    QCOMPARE(requests.at(2).toHex(' '), withCrc(hex("5A 15 07 03 01") + bytes.mid(24, 16)).toHex(' '));
    QCOMPARE(requests.at(3).toHex(' '), withCrc(hex("5A 07 07 02 01 00 00")).toHex(' '));
    QCOMPARE(requests.at(4).toHex(' '), withCrc(hex("5A 06 08 02 01 01")).toHex(' '));
    QCOMPARE(requests.at(30).toHex(' '), withCrc(hex("5A 06 08 02 01 01")).toHex(' '));
    QCOMPARE(requests.at(31).toHex(' '), hex("5A 07 07 00 01 33 DD 6A CB").toHex(' '));

    // Each block is a whole packet with its own CRC, addressed from its section's start.
    for (int i = 5; i < 30; ++i) {
        const QByteArray &r = requests.at(i);
        QCOMPARE(quint8(r.at(1)), quint8(r.size() - 2));
        QCOMPARE(qFromLittleEndian<quint16>(r.constData() + r.size() - 2),
                 RWTarget::crc16(r.constData(), r.size() - 2));
    }
    const QList<BlockRequest> blocks = blockRequests(requests);
    QCOMPARE(blocks.size(), 25);
    QMap<int, QByteArray> written;
    for (const BlockRequest &b : blocks) {
        QCOMPARE(int(b.offset), written[b.command].size());
        written[b.command] += b.data;
    }
    QCOMPARE(written.value(RWTarget::WRITE_ENCRYPTED_COMMAND), spec.application);
    QCOMPARE(written.value(RWTarget::WRITE_SETTINGS_COMMAND), spec.settings);
    QCOMPARE(written.value(RWTarget::WRITE_CALIBRATION_COMMAND), spec.calibration);

    const QStringList expected{"status Successfully opened bin file.",
                               "status File size is 1756 bytes.",
                               "status Flashing FW Version: 1.2 of size 1000 bytes",
                               "status Calibration size: 300 bytes, Settings size: 200 bytes",
                               "progress 0",
                               "progress 6",
                               "progress 12",
                               "progress 19",
                               "progress 25",
                               "progress 32",
                               "progress 38",
                               "progress 44",
                               "progress 51",
                               "progress 57",
                               "progress 64",
                               "progress 70",
                               "progress 76",
                               "progress 83",
                               "progress 89",
                               "progress 96",
                               "progress 100",
                               "bytes 1000",
                               "status Successfully flashed Application Section.",
                               "progress 0",
                               "progress 32",
                               "progress 64",
                               "progress 96",
                               "progress 100",
                               "bytes 200",
                               "status Successfully flashed Settings Section.",
                               "progress 0",
                               "progress 21",
                               "progress 42",
                               "progress 64",
                               "progress 85",
                               "progress 100",
                               "bytes 300",
                               "status Successfully flashed Calibration Section.",
                               "info",
                               "progress 100",
                               "result 0"};
    QCOMPARE(reporter->entries, expected);
}

void TestFlashProcedure::writeBlocks_blocksByteCountsAndProgress_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QList<int>>("bytes");
    QTest::addColumn<QList<int>>("progress");

    QList<int> sizes1000;
    for (int i = 0; i < 15; ++i)
        sizes1000.append(64);
    sizes1000.append(40);
    QTest::newRow("1000 bytes: 15 blocks of 64 and one of 40, one byte count")
        << 1000 << sizes1000 << QList<int>{1000}
        << QList<int>{0, 6, 12, 19, 25, 32, 38, 44, 51, 57, 64, 70, 76, 83, 89, 96, 100};
    QTest::newRow("2048 bytes: counts at 1024, 2048 and the end")
        << 2048 << QVector<int>(32, 64).toList() << QList<int>{1024, 2048, 2048}
        << QList<int>{0,  3,  6,  9,  12, 15, 18, 21, 25, 28, 31, 34, 37, 40, 43, 46, 50,
                      53, 56, 59, 62, 65, 68, 71, 75, 78, 81, 84, 87, 90, 93, 96, 100};
    QTest::newRow("130 bytes") << 130 << QList<int>{64, 64, 2} << QList<int>{130} << QList<int>{0, 49, 98, 100};
    QTest::newRow("one byte") << 1 << QList<int>{1} << QList<int>{1} << QList<int>{0, 100};
    QTest::newRow("nothing: no block, still counted and reported")
        << 0 << QList<int>{} << QList<int>{0} << QList<int>{0};
    // Two blocks per percent: the first block repeats 0, after that each value once and in order.
    QList<int> progress12800{0};
    for (int p = 0; p <= 100; ++p)
        progress12800.append(p);
    QList<int> bytes12800;
    for (int b = 1024; b <= 12800; b += 1024)
        bytes12800.append(b);
    bytes12800.append(12800);
    // 1856 / 6400 * 100 is 28.999... in double arithmetic, so 29 (and 58) never show; integer
    // arithmetic or a multiplication first would show them.
    QList<int> progress6400{0};
    for (int p = 1; p <= 100; ++p)
        if (p != 29 && p != 58)
            progress6400.append(p);
    QTest::newRow("6400 bytes: percentage in floating point, division first, truncated")
        << 6400 << QVector<int>(100, 64).toList() << QList<int>{1024, 2048, 3072, 4096, 5120, 6144, 6400}
        << progress6400;
    QTest::newRow("12800 bytes: percentage emitted only when it changes")
        << 12800 << QVector<int>(200, 64).toList() << bytes12800 << progress12800;
}

void TestFlashProcedure::writeBlocks_blocksByteCountsAndProgress()
{
    QFETCH(int, size);
    QFETCH(QList<int>, sizes);
    QFETCH(QList<int>, bytes);
    QFETCH(QList<int>, progress);

    // The section sits behind other bytes; offsets still count from its start.
    const int start = 300;
    const QByteArray image = patternBytes(start + size + 50, 5);
    scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, sizes.size());
    QVERIFY(writeBlocks(target, *port, *reporter, image, start, quint32(size), RWTarget::WRITE_SETTINGS_COMMAND,
                        "WRITE_SETTINGS_COMMAND", "done", cancel));

    const QList<BlockRequest> blocks = blockRequests(peer->requests());
    QCOMPARE(blockSizes(blocks), sizes);
    QByteArray sent;
    for (const BlockRequest &b : blocks) {
        QCOMPARE(int(b.offset), sent.size());
        sent += b.data;
    }
    QCOMPARE(sent, image.mid(start, size));
    QCOMPARE(numbers(reporter->only("bytes")), bytes);
    QCOMPARE(numbers(reporter->only("progress")), progress);
    QCOMPARE(reporter->entries.last(), QString("status done"));
    QVERIFY(reporter->results.isEmpty());
}

void TestFlashProcedure::cancel_honouredAtTheNextCheckOnly_data()
{
    QTest::addColumn<QString>("trigger"); // the report after which the user's cancel arrives
    QTest::addColumn<int>("occurrence");  // ... at its n-th appearance
    QTest::addColumn<bool>("preset");     // the flag is already set when the flash starts
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("blocksPerCommand"); // application and settings blocks sent
    QTest::addColumn<bool>("flagAfter");

    // Application 1000 bytes (16 blocks), settings 200 bytes (4 blocks).
    QTest::newRow("mid-section: stops after the block in flight")
        << "progress 25" << 1 << false << int(RWTarget::RW_CANCELLED) << QList<int>{4, 0} << false;
    QTest::newRow("set before the flash: nothing is written")
        << QString() << 1 << true << int(RWTarget::RW_CANCELLED) << QList<int>{0, 0} << false;
    QTest::newRow("during the application's last block: settings cancelled before its first")
        << "progress 100" << 1 << false << int(RWTarget::RW_CANCELLED) << QList<int>{16, 0} << false;
    QTest::newRow("after the application section: settings cancelled before its first")
        << "status Successfully flashed Application Section." << 1 << false << int(RWTarget::RW_CANCELLED)
        << QList<int>{16, 0} << false;
    QTest::newRow("during the last block of the last section: flash succeeds, flag stays")
        << "progress 100" << 2 << false << int(RWTarget::RW_SUCCESS) << QList<int>{16, 4} << true;
    QTest::newRow("after the last section: flash succeeds, flag stays")
        << "status Successfully flashed Settings Section." << 1 << false << int(RWTarget::RW_SUCCESS)
        << QList<int>{16, 4} << true;
}

void TestFlashProcedure::cancel_honouredAtTheNextCheckOnly()
{
    QFETCH(QString, trigger);
    QFETCH(int, occurrence);
    QFETCH(bool, preset);
    QFETCH(int, result);
    QFETCH(QList<int>, blocksPerCommand);
    QFETCH(bool, flagAfter);

    ImageSpec spec;
    spec.application = patternBytes(1000, 1);
    spec.settings = sectionBytes("ZVLS", 200, 1, 2, 2);
    const QString path = writeImageFile(makeImage(spec));
    const FlashSelection selection{true, true, false, false};

    scriptPrelude();
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, blocksPerCommand.at(0));
    scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, blocksPerCommand.at(1));
    if (result == RWTarget::RW_SUCCESS)
        scriptEnding(true, 1);

    cancel = preset;
    int seen = 0;
    reporter->hook = [&](const QString &entry) {
        if (entry == trigger && ++seen == occurrence)
            cancel = true;
    };
    QCOMPARE(int(flash(path, selection)), result);
    reporter->hook = nullptr;

    QMap<int, int> perCommand;
    for (const BlockRequest &b : blockRequests(peer->requests()))
        ++perCommand[b.command];
    QCOMPARE(perCommand.value(RWTarget::WRITE_ENCRYPTED_COMMAND), blocksPerCommand.at(0));
    QCOMPARE(perCommand.value(RWTarget::WRITE_SETTINGS_COMMAND), blocksPerCommand.at(1));
    QCOMPARE(bool(cancel), flagAfter);
    if (result == RWTarget::RW_CANCELLED) {
        // The section writer reports first; the procedure then resets the bar.
        QCOMPARE(reporter->entries.mid(reporter->entries.size() - 2), (QStringList{"result 5", "progress 0"}));
    }

    // One request cancels one flash: the next runs normally, or ends at once if the flag stayed set.
    const int requestsBefore = peer->requests().size();
    reporter->entries.clear();
    scriptPrelude();
    if (flagAfter) {
        QCOMPARE(flash(path, selection), RWTarget::RW_CANCELLED);
        QCOMPARE(reporter->entries.mid(reporter->entries.size() - 3),
                 (QStringList{"progress 0", "result 5", "progress 0"}));
        QCOMPARE(peer->requests().size(), requestsBefore + 5);
        QVERIFY(!cancel);
    } else {
        scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 16);
        scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, 4);
        scriptEnding(true, 1);
        QCOMPARE(flash(path, selection), RWTarget::RW_SUCCESS);
        QCOMPARE(peer->requests().size(), requestsBefore + 5 + 16 + 4 + 2);
    }
}

void TestFlashProcedure::boardErrorCode_reportedSignedWithResponseInHex_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");
    QTest::newRow("0xFE is -2") << 0xFE << "Error Code: -2";
    QTest::newRow("0x80 is -128") << 0x80 << "Error Code: -128";
    QTest::newRow("0x05 is 5") << 0x05 << "Error Code: 5";
}

void TestFlashProcedure::boardErrorCode_reportedSignedWithResponseInHex()
{
    QFETCH(int, status);
    QFETCH(QString, line);

    ImageSpec spec;
    spec.application = patternBytes(1000, 1);
    const QString path = writeImageFile(makeImage(spec));
    scriptPrelude();
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 2);
    const QByteArray errorFrame = PtyPeer::frame(RWTarget::WRITE_ENCRYPTED_COMMAND, quint8(status));
    peer->addReply(errorFrame);
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 13);

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Returned with error code %1 Full response is \"%2\"")
                                                    .arg(status)
                                                    .arg(QString::fromLatin1(errorFrame.toHex()))));
    QCOMPARE(flash(path, FlashSelection{true, false, false, false}), RWTarget::RW_INVALID_RESPONSE);
    QCOMPARE(blockRequests(peer->requests()).size(), 3);
    const QStringList tail = reporter->entries.mid(reporter->entries.size() - 4);
    QCOMPARE(tail, (QStringList{"status " + line, "status " + QString::fromLatin1(errorFrame.toHex()), "result 4",
                                "progress 0"}));
    QVERIFY(tail.at(1) == tail.at(1).toLower());
}

void TestFlashProcedure::blockFailures_stopWithCodeAndProgressZero_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::newRow("no answer: read timeout") << QByteArray(1, '\0') << int(RWTarget::RW_READ_TIMEOUT);
    QTest::newRow("wrong command echo") << PtyPeer::frame(RWTarget::WRITE_SETTINGS_COMMAND, 0)
                                        << int(RWTarget::RW_INVALID_RESPONSE);
}

void TestFlashProcedure::blockFailures_stopWithCodeAndProgressZero()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, result);

    ImageSpec spec;
    spec.application = patternBytes(300, 1);
    const QString path = writeImageFile(makeImage(spec));
    scriptPrelude();
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 1);
    peer->addReply(reply);
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, 3);

    QCOMPARE(int(flash(path, FlashSelection{true, false, false, false})), result);
    QCOMPARE(blockRequests(peer->requests()).size(), 2);
    QCOMPARE(reporter->entries.mid(reporter->entries.size() - 3),
             (QStringList{"progress 21", QStringLiteral("result %1").arg(result), "progress 0"}));
}

void TestFlashProcedure::hardwareIdCheck_data()
{
    QTest::addColumn<QByteArray>("partReply");
    QTest::addColumn<QByteArray>("descriptorReply");
    QTest::addColumn<bool>("ignore");
    QTest::addColumn<bool>("flashed");

    // The image carries hardware ID 0x0042.
    QTest::newRow("same ID") << registerReply(0x1234) << registerReply(0x0042) << false << true;
    QTest::newRow("board 0x0000 is not set") << registerReply(0x1234) << registerReply(0x0000) << false << true;
    QTest::newRow("board 0xFFFF is not set") << registerReply(0x1234) << registerReply(0xFFFF) << false << true;
    QTest::newRow("different ID") << registerReply(0x1234) << registerReply(0x0043) << false << false;
    QTest::newRow("different ID, check ignored") << registerReply(0x1234) << registerReply(0x0043) << true << true;
    QTest::newRow("descriptor read fails: part number value decides")
        << registerReply(0x0043) << failedRegisterRead() << false << false;
    QTest::newRow("descriptor read fails, part number matches")
        << registerReply(0x0042) << failedRegisterRead() << false << true;
    QTest::newRow("both reads fail: the 0xFFFF filler passes")
        << failedRegisterRead() << failedRegisterRead() << false << true;
}

void TestFlashProcedure::hardwareIdCheck()
{
    QFETCH(QByteArray, partReply);
    QFETCH(QByteArray, descriptorReply);
    QFETCH(bool, ignore);
    QFETCH(bool, flashed);

    ImageSpec spec;
    spec.hardwareId = 0x0042;
    spec.settings = sectionBytes("ZVLS", 100, 1, 1, 2);
    const QString path = writeImageFile(makeImage(spec));
    peer->addReply(partReply);
    peer->addReply(descriptorReply);
    peer->addReply(kWriteAck);
    peer->addReply(kWriteAck);
    peer->addReply(registerReply(0));
    scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, 2);
    scriptEnding(false);

    const FlashSelection selection{false, true, false, ignore};
    if (flashed) {
        QCOMPARE(flash(path, selection), RWTarget::RW_SUCCESS);
        QCOMPARE(blockRequests(peer->requests()).size(), 2);
    } else {
        QCOMPARE(flash(path, selection), RWTarget::RW_INVALID_HARDWARE_ID);
        const QStringList expected{"status Successfully opened bin file.", "status File size is 356 bytes.",
                                   "status Flashing FW Version: 1.2 of size 0 bytes",
                                   "status Calibration size: 0 bytes, Settings size: 100 bytes", "result 9"};
        QCOMPARE(reporter->entries, expected);
        QTest::qWait(20);
        QCOMPARE(peer->requests().size(), 2);
    }
}

void TestFlashProcedure::crcVerdict_data()
{
    QTest::addColumn<int>("applicationSize");
    QTest::addColumn<FlashSelection>("selection");
    QTest::addColumn<QByteArray>("crcReply"); // empty: the register must not be read after the sections
    QTest::addColumn<int>("result");

    const FlashSelection app{true, false, false, false};
    const FlashSelection appAndSettings{true, true, false, false};
    const FlashSelection settingsOnly{false, true, false, false};
    QTest::newRow("application intact") << 200 << app << registerReply(0x0001) << int(RWTarget::RW_SUCCESS);
    QTest::newRow("only the low byte counts") << 200 << app << registerReply(0x7701) << int(RWTarget::RW_SUCCESS);
    QTest::newRow("application broken") << 200 << app << registerReply(0x0000) << int(RWTarget::RW_CRC_CHECK_FAILED);
    QTest::newRow("read fails: the cleared value stands")
        << 200 << app << failedRegisterRead() << int(RWTarget::RW_CRC_CHECK_FAILED);
    QTest::newRow("application size 0 with the flag still needs 1")
        << 0 << appAndSettings << registerReply(0x0000) << int(RWTarget::RW_CRC_CHECK_FAILED);
    QTest::newRow("application size 0 with the flag and 1")
        << 0 << appAndSettings << registerReply(0x0001) << int(RWTarget::RW_SUCCESS);
    QTest::newRow("settings only: no verdict") << 200 << settingsOnly << QByteArray() << int(RWTarget::RW_SUCCESS);
}

void TestFlashProcedure::crcVerdict()
{
    QFETCH(int, applicationSize);
    QFETCH(FlashSelection, selection);
    QFETCH(QByteArray, crcReply);
    QFETCH(int, result);

    ImageSpec spec;
    spec.application = patternBytes(applicationSize, 1);
    spec.settings = sectionBytes("ZVLS", 100, 1, 1, 2);
    const QString path = writeImageFile(makeImage(spec));
    const int appBlocks = selection.app ? (applicationSize + 63) / 64 : 0;
    const int settingsBlocks = selection.settings ? 2 : 0;
    scriptPrelude();
    scriptBlocks(RWTarget::WRITE_ENCRYPTED_COMMAND, appBlocks);
    scriptBlocks(RWTarget::WRITE_SETTINGS_COMMAND, settingsBlocks);
    if (!crcReply.isEmpty())
        peer->addReply(crcReply);
    peer->addReply(kWriteAck);

    QCOMPARE(int(flash(path, selection)), result);
    const QList<QByteArray> requests = peer->requests();
    const int afterSections = 5 + appBlocks + settingsBlocks;
    QCOMPARE(blockRequests(requests).size(), appBlocks + settingsBlocks);
    if (crcReply.isEmpty()) {
        // Straight from the last block to the restart.
        QCOMPARE(requests.size(), afterSections + 1);
        QCOMPARE(requests.at(afterSections), hex("5A 07 07 00 01 33 DD 6A CB"));
    } else {
        QCOMPARE(requests.at(afterSections), withCrc(hex("5A 06 08 02 01 01")));
        // A failed verdict leaves the board in its bootloader: no restart, no info query.
        QCOMPARE(requests.size(), afterSections + (result == RWTarget::RW_SUCCESS ? 2 : 1));
        QCOMPARE(reporter->entries.contains("info"), result == RWTarget::RW_SUCCESS);
        if (result != RWTarget::RW_SUCCESS)
            QCOMPARE(reporter->entries.last(), QString("result 7"));
    }
}

QTEST_GUILESS_MAIN(TestFlashProcedure)
#include "tst_flashprocedure.moc"
