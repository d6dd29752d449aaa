#include "fod/fodcalwriter.h"
#include "sim/boardsimulator.h"
#include "tests/fod/fodmessagerecorder.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

constexpr int kPageSize = 64;
constexpr int kBlockBytes = 64;
constexpr int kPingsPerBurst = 8;
constexpr int kPowerOffMs = 20;
constexpr quint8 kErrorStatus = 0xFE;
// Hang detector only: the catch window, the settle time and every request of the write failing
// after its full wait would still stay far below this.
constexpr int kHangBoundMs = 60000;

// Short windows so that each run takes a fraction of a second; the steps are the real ones. The
// first burst's eight pings, 5 ms apart, outlast the 20 ms the board is off, so a healthy catch
// always succeeds with the status read of its first pass.
FodCalWriteTiming quickTiming()
{
    FodCalWriteTiming t;
    t.catchWindowMs = 700;
    t.pingsPerBurst = kPingsPerBurst;
    t.pingGapMs = 5;
    t.settleMs = 50;
    t.returnPauseMs = 10;
    return t;
}

// A board running its application that restarts into its bootloader at the first ping: the
// user's power cycle, at once.
SimConfig boardConfig()
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.pageSize = kPageSize;
    config.pingsToPowerCycle = 1;
    config.powerOffMs = kPowerOffMs;
    return config;
}

FodGainResult sampleResult()
{
    FodGainResult r{};
    r.sets[0] = {1.01f, 0.955f, 0.27f, -0.05f, 1.03f, 1.07f};
    return r;
}

enum class Fault { Silent, ErrorStatus, Vanish };

enum class Phase { CatchPing, CatchStatusRead, BlockRead, PageRead, BlockWrite, ReturnToApplication };

// Unreadable: the bootloader block (no page read yet) or a page piece could not be read.
enum class Outcome { Written, NotCaught, BlockUnreadable, PageUnreadable, WriteFailed };

struct ExpectedRequest {
    Phase phase;
    uint8_t command;
    uint32_t address;
    int number; // piece or block number within its phase
};

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::Silent:
        return "no answer";
    case Fault::ErrorStatus:
        return "error status";
    case Fault::Vanish:
        return "board vanishes";
    }
    return "?";
}

const char *phaseName(Phase phase)
{
    static const char *const names[] = {"catch ping", "catch status read", "block read",
                                        "page read",  "block write",       "return to application"};
    return names[int(phase)];
}

// The requests of a healthy write, in order: one catch pass, the bootloader block, the area in
// pieces of one page, the area back in blocks, the return to the application.
std::vector<ExpectedRequest> writeRequests()
{
    std::vector<ExpectedRequest> r;
    for (int i = 0; i < kPingsPerBurst; ++i)
        r.push_back({Phase::CatchPing, SimCmd::READ_REGISTER, SimReg::BOOT_STATUS, i});
    r.push_back({Phase::CatchStatusRead, SimCmd::READ_REGISTER, SimReg::BOOT_STATUS, 0});
    r.push_back({Phase::BlockRead, SimCmd::READ_REGISTER, SimReg::BL_VERSION, 0});
    int piece = 0;
    for (int offset = 0; offset < FOD_CAL_READ_SIZE; offset += kPageSize)
        r.push_back({Phase::PageRead, SimCmd::READ_CALIBRATION, uint32_t(offset), piece++});
    int block = 0;
    for (int offset = 0; offset < fodCalDataSize(kPageSize); offset += kBlockBytes)
        r.push_back({Phase::BlockWrite, SimCmd::WRITE_CALIBRATION, uint32_t(offset), block++});
    r.push_back({Phase::ReturnToApplication, SimCmd::WRITE_REGISTER, SimReg::RESET, 0});
    return r;
}

// What the writer's steps make of one fault on one request. A board that vanishes during the catch
// may already have answered a ping of the same burst from its bootloader; when that answer reached
// the port before the board went, the status read takes it as the catch and the block read then
// fails. Either way nothing is written.
QList<Outcome> expectedOutcomes(Fault fault, Phase phase)
{
    const bool vanish = fault == Fault::Vanish;
    switch (phase) {
    case Phase::CatchPing:
    case Phase::CatchStatusRead:
        // A lost or refused request in the catch is made up by the next ping or the next pass.
        return vanish ? QList<Outcome>{Outcome::NotCaught, Outcome::BlockUnreadable} : QList<Outcome>{Outcome::Written};
    case Phase::BlockRead:
        // The block read is tried again, up to ten times.
        return {vanish ? Outcome::BlockUnreadable : Outcome::Written};
    case Phase::PageRead:
        return {Outcome::PageUnreadable};
    case Phase::BlockWrite:
        return {Outcome::WriteFailed};
    case Phase::ReturnToApplication:
        // Its outcome is ignored: the area is already written.
        return {Outcome::Written};
    }
    return {};
}

const QString kPowerCycle = QStringLiteral("Power cycle board within the next 10 seconds...\r\n");
const QString kReadOk = QStringLiteral("Successfully read existing FOD Parameters.\r\n");
const QString kNotCaught = QStringLiteral("No response after trying to put into BL mode.\r\n");
const QString kUnreadable =
    QStringLiteral("Unable to read calibration page after FOD calculation. Try 'Calculate Gains' again?\r\n");
const QString kWritten = QStringLiteral("Successfully Wrote FOD Parameters.\r\n");
const QString kReflash =
    QStringLiteral("Reflash target with Production Firmware WITHOUT selecting 'Flash Calibration Section'.\r\n");
const QString kWriteFailed = QStringLiteral("Writing of FOD Parameters Failed! Try 'Calculate Gains' again?\r\n");

QStringList expectedTexts(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Written:
        return {kPowerCycle, kReadOk, kWritten, kReflash};
    case Outcome::NotCaught:
        return {kPowerCycle, kNotCaught};
    case Outcome::BlockUnreadable:
        return {kPowerCycle, kUnreadable};
    case Outcome::PageUnreadable:
        return {kPowerCycle, kReadOk, kUnreadable};
    case Outcome::WriteFailed:
        return {kPowerCycle, kReadOk, kWriteFailed};
    }
    return {};
}

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

bool isReturnToApplication(const RequestRecord &r)
{
    return r.command == SimCmd::WRITE_REGISTER && r.address == SimReg::RESET && r.payload.size() == 2 &&
           r.payload[0] == 0x33 && r.payload[1] == 0xDD;
}

bool isCalibrationCommand(const RequestRecord &r)
{
    return r.command == SimCmd::READ_CALIBRATION || r.command == SimCmd::WRITE_CALIBRATION;
}

// The simulated board and the port the writer uses, on this thread.
struct WriteRig {
    WriteRig() : sim(boardConfig()) {}

    bool start()
    {
        if (!sim.start())
            return false;
        port.close();
        port.setPortName(QString::fromStdString(sim.slavePath()));
        return port.open(QIODevice::ReadWrite);
    }

    // `onState` and `onText` see every state and pane text as the write reports it.
    bool write(QStringList &texts, qint64 &elapsedMs, const std::function<void(CalWriteState)> &onState = {},
               const std::function<void(const QString &)> &onText = {})
    {
        FodMessageRecorder recorder;
        FodMessages messages = recorder.messages();
        messages.output = [&recorder, &onText](const std::string &text) {
            recorder.output << QString::fromStdString(text);
            if (onText)
                onText(recorder.output.last());
        };
        states.clear();
        CalWriteControl control;
        control.cancel = &cancel;
        control.report = [this, &onState](CalWriteState state) {
            states << state;
            if (onState)
                onState(state);
        };
        QElapsedTimer clock;
        clock.start();
        const bool written =
            writeFodParameters(target, port, FOD_BOARD_AUTOMOTIVE, sampleResult(), messages, quickTiming(), control);
        elapsedMs = clock.elapsed();
        texts = recorder.output;
        return written;
    }

    BoardSimulator sim;
    QSerialPort port;
    RWTarget target;
    std::atomic_bool cancel{false};
    QList<CalWriteState> states;
};

// The state a write reports last for each outcome.
CalWriteState finalState(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Written:
        return CalWriteState::Completed;
    case Outcome::WriteFailed:
        return CalWriteState::Interrupted;
    default:
        return CalWriteState::NotWritten;
    }
}

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Phase)
Q_DECLARE_METATYPE(CalWriteState)

// Where a test raises the cancel flag: before the write, on entering a state, or when the pane
// is told that the area's read begins.
enum class CancelAt { Start, Catching, Reading, AreaRead, Writing };
Q_DECLARE_METATYPE(CancelAt)

// Faults at every request of the calibration write: the area is either as it was or completely
// written (a block write failing mid-way is the one exception, and the pane says so), the board
// is sent back to its application after every caught bootloader and never after a missed catch,
// and a healthy board is written afterwards.
class TestCalWriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faultAtEveryRequest_keepsTheAreaWholeAndReturnsTheBoard_data();
    void faultAtEveryRequest_keepsTheAreaWholeAndReturnsTheBoard();
    void cancel_stopsTheWriteOnlyBeforeItsFirstBlock_data();
    void cancel_stopsTheWriteOnlyBeforeItsFirstBlock();

private:
    QByteArray before;  // the area of a fresh simulated board
    QByteArray written; // the same area after a healthy write
};

void TestCalWriteFaults::initTestCase()
{
    // A vanished board makes every request log its time-out; the assertions here are on the board.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    WriteRig rig;
    QVERIFY(rig.start());
    before = bytes(rig.sim.snapshot().calibration);
    QStringList texts;
    qint64 elapsed = 0;
    QVERIFY(rig.write(texts, elapsed));
    QCOMPARE(texts, expectedTexts(Outcome::Written));
    written = bytes(rig.sim.snapshot().calibration);
    QVERIFY(written != before);
    // The whole buffer went back: the patched FOD fields and 0xFF behind the 888 bytes read.
    QCOMPARE(written.mid(fodCalDataSize(kPageSize)), before.mid(fodCalDataSize(kPageSize)));
    QCOMPARE(written.mid(FOD_CAL_READ_SIZE, fodCalDataSize(kPageSize) - FOD_CAL_READ_SIZE),
             QByteArray(fodCalDataSize(kPageSize) - FOD_CAL_READ_SIZE, char(0xFF)));

    // The fault matrix addresses requests by these numbers.
    const std::vector<ExpectedRequest> expected = writeRequests();
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QCOMPARE(log.size(), expected.size());
    for (size_t k = 0; k < log.size(); ++k) {
        QVERIFY2(log[k].command == expected[k].command && log[k].address == expected[k].address,
                 qPrintable(
                     QStringLiteral("#%1 %2: %3").arg(k).arg(phaseName(expected[k].phase)).arg(log[k].text().c_str())));
    }
    QVERIFY(isReturnToApplication(log.back()));
}

void TestCalWriteFaults::faultAtEveryRequest_keepsTheAreaWholeAndReturnsTheBoard_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("index");
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<int>("number");

    const std::vector<ExpectedRequest> requests = writeRequests();
    for (Fault fault : {Fault::Silent, Fault::ErrorStatus, Fault::Vanish}) {
        for (size_t k = 0; k < requests.size(); ++k) {
            QTest::addRow("%s at #%d, %s %d", faultName(fault), int(k), phaseName(requests[k].phase),
                          requests[k].number)
                << fault << int(k) << requests[k].phase << requests[k].number;
        }
    }
}

void TestCalWriteFaults::faultAtEveryRequest_keepsTheAreaWholeAndReturnsTheBoard()
{
    QFETCH(Fault, fault);
    QFETCH(int, index);
    QFETCH(Phase, phase);
    QFETCH(int, number);

    WriteRig rig;
    FaultConfig faults;
    switch (fault) {
    case Fault::Silent:
        faults.silentOn.insert(index);
        break;
    case Fault::ErrorStatus:
        faults.errorOn[index] = kErrorStatus;
        break;
    case Fault::Vanish:
        faults.vanishAt = index;
        break;
    }
    rig.sim.setFaults(faults);
    QVERIFY(rig.start());
    QCOMPARE(bytes(rig.sim.snapshot().calibration), before);

    QStringList texts;
    qint64 elapsed = 0;
    const bool result = rig.write(texts, elapsed);
    QVERIFY2(elapsed < kHangBoundMs, qPrintable(QStringLiteral("write took %1 ms").arg(elapsed)));

    const QList<Outcome> allowed = expectedOutcomes(fault, phase);
    Outcome outcome = allowed.first();
    for (Outcome candidate : allowed) {
        if (texts == expectedTexts(candidate))
            outcome = candidate;
    }
    QCOMPARE(texts, expectedTexts(outcome));
    QCOMPARE(result, outcome == Outcome::Written);
    QCOMPARE(rig.states.last(), finalState(outcome));

    const std::vector<RequestRecord> log = rig.sim.requestLog();
    QVERIFY(log.size() > size_t(index));
    QCOMPARE(log[size_t(index)].command, writeRequests()[size_t(index)].command);

    const QByteArray area = bytes(rig.sim.snapshot().calibration);
    switch (outcome) {
    case Outcome::Written:
        QCOMPARE(area.toHex(), written.toHex());
        break;
    case Outcome::NotCaught:
    case Outcome::BlockUnreadable:
    case Outcome::PageUnreadable:
        QCOMPARE(area.toHex(), before.toHex());
        break;
    case Outcome::WriteFailed: {
        // The blocks before the failing one landed; nothing from it on.
        const int landed = number * kBlockBytes;
        QCOMPARE(area.left(landed).toHex(), written.left(landed).toHex());
        QCOMPARE(area.mid(landed).toHex(), before.mid(landed).toHex());
        break;
    }
    }

    const bool caught = outcome != Outcome::NotCaught;
    const bool boardStillThere = fault != Fault::Vanish || phase == Phase::ReturnToApplication;
    const long returns = long(std::count_if(log.begin(), log.end(), isReturnToApplication));
    if (!caught) {
        QCOMPARE(returns, 0L);
        QVERIFY(std::none_of(log.begin(), log.end(), isCalibrationCommand));
    } else if (boardStillThere) {
        QCOMPARE(returns, 1L);
        QVERIFY(isReturnToApplication(log.back()));
    }

    // A re-run on a healthy board writes the whole area.
    rig.sim.setFaults(FaultConfig());
    if (fault == Fault::Vanish)
        QVERIFY(rig.start());
    rig.sim.setMode(BoardMode::Application);
    QVERIFY(rig.write(texts, elapsed));
    QCOMPARE(texts, expectedTexts(Outcome::Written));
    QCOMPARE(bytes(rig.sim.snapshot().calibration).toHex(), written.toHex());
}

void TestCalWriteFaults::cancel_stopsTheWriteOnlyBeforeItsFirstBlock_data()
{
    QTest::addColumn<CancelAt>("cancelAt");
    QTest::addColumn<QList<CalWriteState>>("states");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("returned"); // the board was sent back to its application
    QTest::addColumn<bool>("written");

    const QList<CalWriteState> cancelledAfterCatch{CalWriteState::Catching, CalWriteState::Reading,
                                                   CalWriteState::Returning, CalWriteState::Cancelled};
    QTest::newRow("before the write: nothing is sent")
        << CancelAt::Start << QList<CalWriteState>{CalWriteState::Cancelled} << QStringList{} << false << false;
    QTest::newRow("during the catch: nothing is sent")
        << CancelAt::Catching << QList<CalWriteState>{CalWriteState::Catching, CalWriteState::Cancelled}
        << QStringList{kPowerCycle} << false << false;
    QTest::newRow("in the pause after the catch: board sent back, area untouched")
        << CancelAt::Reading << cancelledAfterCatch << QStringList{kPowerCycle} << true << false;
    QTest::newRow("before the area's read: board sent back, area untouched")
        << CancelAt::AreaRead << cancelledAfterCatch << QStringList{kPowerCycle, kReadOk} << true << false;
    QTest::newRow("in the block writes: ignored, the whole area written")
        << CancelAt::Writing
        << QList<CalWriteState>{CalWriteState::Catching, CalWriteState::Reading, CalWriteState::Writing,
                                CalWriteState::Returning, CalWriteState::Completed}
        << expectedTexts(Outcome::Written) << true << true;
}

void TestCalWriteFaults::cancel_stopsTheWriteOnlyBeforeItsFirstBlock()
{
    QFETCH(CancelAt, cancelAt);
    QFETCH(QList<CalWriteState>, states);
    QFETCH(QStringList, texts);
    QFETCH(bool, returned);
    QFETCH(bool, written);

    WriteRig rig;
    QVERIFY(rig.start());
    rig.cancel = cancelAt == CancelAt::Start;
    const auto onState = [&rig, cancelAt](CalWriteState state) {
        if ((cancelAt == CancelAt::Catching && state == CalWriteState::Catching) ||
            (cancelAt == CancelAt::Reading && state == CalWriteState::Reading) ||
            (cancelAt == CancelAt::Writing && state == CalWriteState::Writing))
            rig.cancel = true;
    };
    const auto onText = [&rig, cancelAt](const QString &text) {
        if (cancelAt == CancelAt::AreaRead && text == kReadOk)
            rig.cancel = true;
    };
    QStringList shown;
    qint64 elapsed = 0;
    QCOMPARE(rig.write(shown, elapsed, onState, onText), written);

    QCOMPARE(rig.states, states);
    QCOMPARE(shown, texts);
    QCOMPARE(bytes(rig.sim.snapshot().calibration).toHex(), (written ? this->written : before).toHex());
    const std::vector<RequestRecord> log = rig.sim.requestLog();
    if (!written)
        QVERIFY(std::none_of(log.begin(), log.end(), isCalibrationCommand));
    QCOMPARE(long(std::count_if(log.begin(), log.end(), isReturnToApplication)), returned ? 1L : 0L);
    if (!returned)
        QVERIFY(std::all_of(log.begin(), log.end(), [](const RequestRecord &r) {
            return r.command == SimCmd::READ_REGISTER && r.address == SimReg::BOOT_STATUS;
        }));
    // The flag is used up: the next write runs to the end.
    QVERIFY(!rig.cancel);
    rig.sim.setMode(BoardMode::Application);
    QVERIFY(rig.write(shown, elapsed));
    QCOMPARE(bytes(rig.sim.snapshot().calibration).toHex(), this->written.toHex());
}

QTEST_GUILESS_MAIN(TestCalWriteFaults)
#include "tst_calwritefaults.moc"
