#include "sim/boardsimulator.h"
#include "sim/simcrc.h"
#include "tests/sim/simclient.h"

#include <QtTest>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using Bytes = SimClient::Bytes;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(FaultConfig)
Q_DECLARE_METATYPE(PowerCycleTarget)

namespace {
constexpr int kAnswerMs = 2000;
constexpr int kSilenceMs = 250;
constexpr uint16_t kAppBootStatus = 0x1234;

Bytes responseData(const Bytes &frame)
{
    return frame.size() >= 6 ? Bytes(frame.begin() + 4, frame.end() - 2) : Bytes();
}

Bytes le16Bytes(std::initializer_list<uint16_t> values)
{
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(uint8_t(v & 0xFF));
        out.push_back(uint8_t(v >> 8));
    }
    return out;
}

Bytes seeded(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = uint8_t(seed >> 16);
    }
    return b;
}

// A started simulator with a client on its slave.
struct Rig {
    BoardSimulator sim;
    SimClient client;
    explicit Rig(const SimConfig &config = SimConfig()) : sim(config) {}
    bool up() { return sim.start() && client.open(sim.slavePath()); }
    Bytes exchange(const Bytes &request, int timeoutMs = kAnswerMs)
    {
        client.send(request);
        return client.readFrame(timeoutMs);
    }
    // True when the request reached the board and nothing came back.
    bool unanswered(const Bytes &request)
    {
        const long before = sim.requestCount();
        client.send(request);
        return sim.waitForRequestCount(before + 1, kAnswerMs) && client.readFor(kSilenceMs).empty();
    }
    bool waitForMode(BoardMode mode)
    {
        for (int i = 0; i < 200 && sim.mode() != mode; ++i)
            QTest::qWait(10);
        return sim.mode() == mode;
    }
    // Writes data into an area with 64-byte blocks; false at the first refused block.
    bool writeArea(uint8_t command, const Bytes &data)
    {
        for (size_t off = 0; off < data.size(); off += 64) {
            const size_t k = std::min<size_t>(64, data.size() - off);
            const Bytes reply = exchange(SimClient::blockWrite(
                command, uint32_t(off), Bytes(data.begin() + long(off), data.begin() + long(off + k))));
            if (reply.size() < 4 || reply[3] != 0)
                return false;
        }
        return true;
    }
};
} // namespace

class TestBoardSimulator : public QObject
{
    Q_OBJECT

private slots:
    void registerRead_data();
    void registerRead();
    void crcVerdict_data();
    void crcVerdict();
    void applicationMode_answersOnlyBootStatusRead_data();
    void applicationMode_answersOnlyBootStatusRead();
    void resetRegister_switchesModes();
    void powerCycleAfterPings_data();
    void powerCycleAfterPings();
    void badRequestCrc_answersErrorAndChangesNothing();
    void pageRead_countsAbove123_wrapTheLengthByte_data();
    void pageRead_countsAbove123_wrapTheLengthByte();
    void responseFaults_data();
    void responseFaults();
    void vanish_closesPty_andStartBringsTheBoardBackAtTheLink();
    void requestLog_recordsEveryFrameInOrder();
    void gainByte_retagsGeneratedLines();
    void unreadText_isDroppedAndCounted();
};

void TestBoardSimulator::registerRead_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("count");
    QTest::addColumn<Bytes>("expected");

    SimConfig c;
    QTest::newRow("boot status is 00 A5") << 0x0101 << 1 << Bytes{0x00, 0xA5};
    QTest::newRow("bootloader identity") << 0x0000 << 7
                                         << le16Bytes({c.blVersion, c.blPartNumber, 0xE002, c.pageSize, 0xE004,
                                                       c.settingsPage, c.calPage});
    QTest::newRow("application identity")
        << 0x0010 << 3 << le16Bytes({c.appFwVersion, c.appPartNumber, c.hwDescriptor});
    Bytes description(42, 0);
    std::copy(c.description.begin(), c.description.end(), description.begin());
    QTest::newRow("description, first text byte in the low byte") << 0x001B << 21 << description;
    QTest::newRow("crc status before any write") << 0x0102 << 1 << Bytes{0, 0};
}

void TestBoardSimulator::registerRead()
{
    QFETCH(int, reg);
    QFETCH(int, count);
    QFETCH(Bytes, expected);
    Rig rig;
    QVERIFY(rig.up());
    const Bytes reply = rig.exchange(SimClient::readRegisters(uint16_t(reg), uint8_t(count)));
    QCOMPARE(reply.size(), size_t(2 * count + 6));
    QCOMPARE(int(reply[1]), 2 * count + 4);
    QCOMPARE(int(reply[2]), 8);
    QCOMPARE(int(reply[3]), 0);
    QCOMPARE(responseData(reply), expected);
    const Bytes crcCovered(reply.begin(), reply.end() - 2);
    QCOMPARE(int(reply[reply.size() - 2] | (reply.back() << 8)), int(simCrc16(crcCovered.data(), crcCovered.size())));
}

void TestBoardSimulator::crcVerdict_data()
{
    QTest::addColumn<int>("appSize");
    QTest::addColumn<int>("corruptAt");
    QTest::addColumn<bool>("blocksAfterHeader");
    QTest::addColumn<int>("claimedSize");
    QTest::addColumn<bool>("verdictFault");
    QTest::addColumn<int>("expected");

    QTest::newRow("intact application") << 1000 << -1 << true << -1 << false << 1;
    QTest::newRow("one byte differs") << 1000 << 517 << true << -1 << false << 0;
    QTest::newRow("verdict fault") << 1000 << -1 << true << -1 << true << 0;
    QTest::newRow("size beyond the area") << 1000 << -1 << true << 0x7FFFFFFF << false << 0;
    QTest::newRow("header after the blocks: last written value") << 1000 << -1 << false << -1 << false << 7;
    QTest::newRow("no blocks at all: last written value") << 0 << -1 << true << -1 << false << 7;
}

void TestBoardSimulator::crcVerdict()
{
    QFETCH(int, appSize);
    QFETCH(int, corruptAt);
    QFETCH(bool, blocksAfterHeader);
    QFETCH(int, claimedSize);
    QFETCH(bool, verdictFault);
    QFETCH(int, expected);

    SimConfig config;
    config.faults.crcVerdictFail = verdictFault;
    Rig rig(config);
    QVERIFY(rig.up());
    const Bytes app = seeded(size_t(appSize), 42);
    const uint32_t size = claimedSize >= 0 ? uint32_t(claimedSize) : uint32_t(appSize);
    const uint32_t crc = simCrc32(app.data(), app.size());
    const Bytes header = rig.exchange(SimClient::writeRegisters(
        0x0103, {uint16_t(size), uint16_t(size >> 16), uint16_t(crc), uint16_t(crc >> 16), 0, 0, 0, 0}));

    Bytes written = app;
    if (corruptAt >= 0)
        written[size_t(corruptAt)] ^= 0x01;
    if (!blocksAfterHeader) {
        // Blocks first, then the header block again: the verdict needs blocks after the header.
        QVERIFY(rig.writeArea(1, written));
        QCOMPARE(responseData(rig.exchange(SimClient::writeRegisters(0x0103, {uint16_t(size)}))), Bytes());
    }
    QCOMPARE(int(header.at(3)), 0);
    QCOMPARE(int(rig.exchange(SimClient::writeRegisters(0x0102, {7})).at(3)), 0);
    if (blocksAfterHeader)
        QVERIFY(rig.writeArea(1, written));

    const Bytes reply = rig.exchange(SimClient::readRegisters(0x0102, 1));
    QCOMPARE(responseData(reply), le16Bytes({uint16_t(expected)}));
    const BoardSnapshot snap = rig.sim.snapshot();
    QVERIFY(std::equal(written.begin(), written.end(), snap.application.begin()));
}

void TestBoardSimulator::applicationMode_answersOnlyBootStatusRead_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<bool>("answered");

    QTest::newRow("boot status read") << SimClient::readRegisters(0x0101, 1) << true;
    QTest::newRow("boot status, two registers") << SimClient::readRegisters(0x0101, 2) << false;
    QTest::newRow("bootloader block read") << SimClient::readRegisters(0x0000, 16) << false;
    Bytes badCrc = SimClient::readRegisters(0x0101, 1);
    badCrc.back() ^= 0x01;
    QTest::newRow("boot status read with a bad CRC") << badCrc << false;
    QTest::newRow("calibration page read") << SimClient::pageRead(6, 0, 16) << false;
    QTest::newRow("calibration block write") << SimClient::blockWrite(5, 0, Bytes(16, 0x00)) << false;
    QTest::newRow("release write") << SimClient::writeRegisters(0x0100, {0xDD33}) << false;
}

void TestBoardSimulator::applicationMode_answersOnlyBootStatusRead()
{
    QFETCH(Bytes, request);
    QFETCH(bool, answered);

    SimConfig config;
    config.startMode = BoardMode::Application;
    config.appBootStatus = kAppBootStatus;
    config.text.linesPerSecond = 0;
    Rig rig(config);
    QVERIFY(rig.up());
    const BoardSnapshot before = rig.sim.snapshot();
    if (answered) {
        const Bytes reply = rig.exchange(request);
        QCOMPARE(responseData(reply), le16Bytes({kAppBootStatus}));
    } else {
        QVERIFY(rig.unanswered(request));
    }
    const BoardSnapshot after = rig.sim.snapshot();
    QCOMPARE(after.mode, BoardMode::Application);
    QVERIFY(after.calibration == before.calibration);
    const auto log = rig.sim.requestLog();
    QCOMPARE(log.size(), size_t(1));
    QCOMPARE(log[0].mode, BoardMode::Application);
    QCOMPARE(log[0].answered, answered);
}

void TestBoardSimulator::resetRegister_switchesModes()
{
    SimConfig config;
    config.appBootStatus = kAppBootStatus;
    config.text.plainLines = {"hello from the application"};
    config.text.statusLineEvery = 0;
    config.text.linesPerSecond = 50;
    Rig rig(config);
    QVERIFY(rig.up());

    // Released: the write is answered, then the application prints.
    QCOMPARE(int(rig.exchange(SimClient::writeRegisters(0x0100, {0xDD33})).at(3)), 0);
    QVERIFY(rig.waitForMode(BoardMode::Application));
    const Bytes text = rig.client.readFor(300);
    QVERIFY(std::string(text.begin(), text.end()).find("hello from the application\r\n") != std::string::npos);

    // Caught: by default the restart write gets no answer, and the bootloader answers afterwards.
    QVERIFY(rig.unanswered(SimClient::writeRegisters(0x0100, {0x55DD})));
    QCOMPARE(rig.sim.mode(), BoardMode::Bootloader);
    QCOMPARE(responseData(rig.exchange(SimClient::readRegisters(0x0101, 1))), (Bytes{0x00, 0xA5}));

    // With the option set the application answers the restart write.
    rig.sim.setAnswerResetInApplication(true);
    QCOMPARE(int(rig.exchange(SimClient::writeRegisters(0x0100, {0xDD33})).at(3)), 0);
    QVERIFY(rig.waitForMode(BoardMode::Application));
    rig.client.readFor(100);
    const Bytes reply = rig.exchange(SimClient::writeRegisters(0x0100, {0x55DD}));
    QCOMPARE(reply.size(), size_t(6));
    QCOMPARE(int(reply[2]), 7);
    QCOMPARE(rig.sim.mode(), BoardMode::Bootloader);
}

void TestBoardSimulator::powerCycleAfterPings_data()
{
    QTest::addColumn<PowerCycleTarget>("target");
    QTest::addColumn<Bytes>("afterwards"); // answer data to a boot-status read; empty: none

    QTest::newRow("caught in the bootloader") << PowerCycleTarget::Bootloader << Bytes{0x00, 0xA5};
    QTest::newRow("catch missed, application again") << PowerCycleTarget::Application << le16Bytes({kAppBootStatus});
    QTest::newRow("stays dark") << PowerCycleTarget::Off << Bytes();
}

void TestBoardSimulator::powerCycleAfterPings()
{
    QFETCH(PowerCycleTarget, target);
    QFETCH(Bytes, afterwards);

    SimConfig config;
    config.startMode = BoardMode::Application;
    config.appBootStatus = kAppBootStatus;
    config.text.linesPerSecond = 0;
    config.pingsToPowerCycle = 4;
    config.powerCycleTarget = target;
    config.powerOffMs = 50;
    Rig rig(config);
    QVERIFY(rig.up());

    for (int i = 0; i < 3; ++i)
        QCOMPARE(responseData(rig.exchange(SimClient::readRegisters(0x0101, 1))), le16Bytes({kAppBootStatus}));
    QVERIFY(rig.unanswered(SimClient::readRegisters(0x0101, 1)));
    QCOMPARE(rig.sim.snapshot().powerCycles, 1L);
    const BoardMode expectedMode = target == PowerCycleTarget::Bootloader    ? BoardMode::Bootloader
                                   : target == PowerCycleTarget::Application ? BoardMode::Application
                                                                             : BoardMode::PoweredOff;
    QVERIFY(rig.waitForMode(expectedMode));
    QTest::qWait(config.powerOffMs + 50);
    if (afterwards.empty())
        QVERIFY(rig.unanswered(SimClient::readRegisters(0x0101, 1)));
    else
        QCOMPARE(responseData(rig.exchange(SimClient::readRegisters(0x0101, 1))), afterwards);
}

void TestBoardSimulator::badRequestCrc_answersErrorAndChangesNothing()
{
    Rig rig;
    QVERIFY(rig.up());
    const BoardSnapshot before = rig.sim.snapshot();
    Bytes request = SimClient::blockWrite(5, 32, Bytes(16, 0x00));
    request[request.size() - 2] ^= 0xFF;
    const Bytes reply = rig.exchange(request);
    QCOMPARE(reply.size(), size_t(6));
    QCOMPARE(int(reply[2]), 5);
    QCOMPARE(int(reply[3]), int(SimStatus::BAD_CRC));
    QVERIFY(rig.sim.snapshot().calibration == before.calibration);
    const auto log = rig.sim.requestLog();
    QCOMPARE(log.size(), size_t(1));
    QVERIFY(!log[0].crcGood);
    QCOMPARE(log[0].address, 32u);
}

void TestBoardSimulator::pageRead_countsAbove123_wrapTheLengthByte_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lengthByte");
    QTest::newRow("123 fits") << 123 << 127;
    QTest::newRow("124 wraps to 0x80") << 124 << 0x80;
    QTest::newRow("252 wraps to 0") << 252 << 0;
}

void TestBoardSimulator::pageRead_countsAbove123_wrapTheLengthByte()
{
    QFETCH(int, count);
    QFETCH(int, lengthByte);
    Rig rig;
    QVERIFY(rig.up());
    rig.client.send(SimClient::pageRead(4, 8, uint8_t(count)));
    QVERIFY(rig.sim.waitForRequestCount(1, kAnswerMs));
    const Bytes reply = rig.client.readFor(300);
    QCOMPARE(reply.size(), size_t(count + 6));
    QCOMPARE(int(reply[1]), lengthByte);
    const BoardSnapshot snap = rig.sim.snapshot();
    QVERIFY(std::equal(reply.begin() + 4, reply.end() - 2, snap.settings.begin() + 8));
}

void TestBoardSimulator::responseFaults_data()
{
    QTest::addColumn<FaultConfig>("faults");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("garbageFirst");

    // The faulty request is the second one (index 1), the second block write (block number 1).
    FaultConfig f;
    f.silentOn = {1};
    QTest::newRow("silent: ignored, not carried out") << f << false << 3 << 0 << false << false;
    f = FaultConfig();
    f.errorOn = {{1, 0xFE}};
    QTest::newRow("error status, not carried out") << f << true << 3 << 0xFE << false << false;
    f = FaultConfig();
    f.errorOnBlockWrite = {{1, 0x05}};
    QTest::newRow("error on block write number") << f << true << 3 << 0x05 << false << false;
    f = FaultConfig();
    f.wrongEchoOn = {1};
    QTest::newRow("wrong echo, carried out") << f << true << (3 ^ 0x40) << 0 << true << false;
    f = FaultConfig();
    f.garbageOn = {1};
    QTest::newRow("garbage before the response") << f << true << 3 << 0 << true << true;
    f = FaultConfig();
    f.splitResponses = true;
    f.splitGapUs = 1000;
    QTest::newRow("single-byte chunks") << f << true << 3 << 0 << true << false;
    f = FaultConfig();
    f.pace115200 = true;
    f.turnaroundUs = 3000;
    QTest::newRow("paced line with turnaround") << f << true << 3 << 0 << true << false;
    f = FaultConfig();
    f.absent = true;
    QTest::newRow("absent board") << f << false << 3 << 0 << false << false;
}

void TestBoardSimulator::responseFaults()
{
    QFETCH(FaultConfig, faults);
    QFETCH(bool, answered);
    QFETCH(int, command);
    QFETCH(int, status);
    QFETCH(bool, written);
    QFETCH(bool, garbageFirst);

    Rig rig;
    QVERIFY(rig.up());
    rig.sim.setFaults(faults);
    const Bytes first = rig.exchange(SimClient::blockWrite(3, 0, Bytes(8, 0x11)));
    QCOMPARE(first.empty(), faults.absent);
    QCOMPARE(rig.client.bytesSkippedBeforeLastFrame(), size_t(0));

    const Bytes block(8, 0x22);
    const Bytes request = SimClient::blockWrite(3, 64, block);
    if (!answered) {
        QVERIFY(rig.unanswered(request));
    } else {
        const Bytes reply = rig.exchange(request);
        QCOMPARE(reply.size(), size_t(6));
        QCOMPARE(int(reply[2]), command);
        QCOMPARE(int(reply[3]), status);
        QCOMPARE(rig.client.bytesSkippedBeforeLastFrame() > 0, garbageFirst);
    }
    const BoardSnapshot snap = rig.sim.snapshot();
    QCOMPARE(std::equal(block.begin(), block.end(), snap.settings.begin() + 64), written);

    // Faults tied to one request leave the next one alone.
    if (!faults.absent)
        QCOMPARE(int(rig.exchange(SimClient::readRegisters(0x0101, 1)).at(3)), 0);
}

void TestBoardSimulator::vanish_closesPty_andStartBringsTheBoardBackAtTheLink()
{
    const std::string link = QDir::tempPath().toStdString() + "/zavlo-sim-link-" + std::to_string(::getpid());
    SimConfig config;
    config.linkPath = link;
    config.faults.vanishAt = 1;
    Rig rig(config);
    QVERIFY(rig.up());
    rig.client.close();
    QVERIFY(rig.client.open(link));
    QVERIFY(!rig.exchange(SimClient::blockWrite(5, 0, Bytes(4, 0x33))).empty());

    rig.client.send(SimClient::readRegisters(0x0101, 1));
    QVERIFY(rig.sim.waitForRequestCount(2, kAnswerMs));
    QVERIFY(rig.sim.hasVanished());
    QVERIFY(!rig.sim.isRunning());
    struct stat st {
    };
    QCOMPARE(::lstat(link.c_str(), &st), -1);
    rig.client.close();

    QVERIFY(rig.sim.start());
    QCOMPARE(::lstat(link.c_str(), &st), 0);
    QVERIFY(rig.client.open(link));
    const Bytes reply = rig.exchange(SimClient::pageRead(6, 0, 4));
    QCOMPARE(responseData(reply), Bytes(4, 0x33));
    rig.sim.stop();
    QCOMPARE(::lstat(link.c_str(), &st), -1);
}

void TestBoardSimulator::requestLog_recordsEveryFrameInOrder()
{
    const QString logPath = QDir::temp().filePath(QString("zavlo-sim-log-%1.txt").arg(::getpid()));
    SimConfig config;
    config.requestLogPath = logPath.toStdString();
    Rig rig(config);
    QVERIFY(rig.up());
    Bytes bad = SimClient::readRegisters(0x0000, 16);
    bad.back() ^= 0x10;
    rig.exchange(SimClient::readRegisters(0x0101, 1));
    rig.exchange(SimClient::blockWrite(1, 0x00012340, Bytes{1, 2, 3}));
    rig.exchange(bad);
    rig.client.send(Bytes{'\r', '\n'}); // not a frame: ignored, not logged
    rig.exchange(SimClient::writeRegisters(0x0100, {0xDD33}));

    const auto log = rig.sim.requestLog();
    QCOMPARE(log.size(), size_t(4));
    for (size_t i = 0; i < log.size(); ++i)
        QCOMPARE(log[i].index, long(i));
    QCOMPARE(int(log[0].command), 8);
    QCOMPARE(log[0].address, 0x0101u);
    QCOMPARE(log[0].payload, Bytes{1});
    QCOMPARE(int(log[1].command), 1);
    QCOMPARE(log[1].address, 0x00012340u);
    QCOMPARE(log[1].payload, (Bytes{1, 2, 3}));
    QCOMPARE(int(log[1].lengthByte), 10);
    QVERIFY(log[1].crcGood);
    QVERIFY(!log[2].crcGood);
    QCOMPARE(int(log[2].status), int(SimStatus::BAD_CRC));
    QCOMPARE(log[3].payload, (Bytes{0x33, 0xDD}));
    QCOMPARE(log[3].mode, BoardMode::Bootloader);

    std::ifstream file(config.requestLogPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    QCOMPARE(lines.size(), log.size());
    for (size_t i = 0; i < log.size(); ++i)
        QCOMPARE(lines[i], log[i].text());
    QCOMPARE(QString::fromStdString(lines[1]),
             QString("#1 boot len=10 cmd=1 addr=0x00012340 crc=ok status=0 payload=010203"));
    std::remove(config.requestLogPath.c_str());
}

void TestBoardSimulator::gainByte_retagsGeneratedLines()
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.generateFod = true;
    config.text.statusLineEvery = 0;
    config.text.linesPerSecond = 200;
    Rig rig(config);
    QVERIFY(rig.up());
    QVERIFY(rig.client.readFor(100).size() > 0);
    rig.client.send(Bytes{'4'});
    for (int i = 0; i < 100 && rig.sim.snapshot().gain != 4; ++i)
        QTest::qWait(10);
    QCOMPARE(rig.sim.snapshot().gain, 4);
    rig.client.readFor(50);
    const Bytes text = rig.client.readFor(200);
    const QStringList lines = QString::fromLatin1(reinterpret_cast<const char *>(text.data()), int(text.size()))
                                  .split("\r\n", Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QStringList fields = lines[i].split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        QCOMPARE(fields.size(), 7);
        QCOMPARE(fields[0], QString("4"));
    }
    QCOMPARE(rig.sim.requestCount(), 0L);
}

void TestBoardSimulator::unreadText_isDroppedAndCounted()
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.linesPerSecond = 2000;
    Rig rig(config);
    QVERIFY(rig.up());
    for (int i = 0; i < 500 && rig.sim.snapshot().textLinesDropped == 0; ++i)
        QTest::qWait(10);
    const BoardSnapshot snap = rig.sim.snapshot();
    QVERIFY(snap.textLinesDropped > 0);
    QVERIFY(snap.textLinesSent > 0);
    // The board still answers its boot-status read behind the text it printed.
    rig.client.readFor(50);
    AppTextConfig quiet;
    quiet.linesPerSecond = 0;
    rig.sim.setAppText(quiet);
    rig.client.readFor(100);
    QCOMPARE(responseData(rig.exchange(SimClient::readRegisters(0x0101, 1))), Bytes({0, 0}));
}

QTEST_GUILESS_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
