#include "tests/worker/workerrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

QString joined(const QSignalSpy &spy)
{
    QString text;
    for (const QList<QVariant> &args : spy)
        text += args.at(0).toString();
    return text;
}

float floatAt(const std::vector<uint8_t> &area, int offset)
{
    quint32 bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= quint32(area[size_t(offset + i)]) << (8 * i);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

// On-grid parameters, so that noise-free lines identify them exactly.
SimFodParams autoParams()
{
    SimFodParams p;
    p.gv = 1.0;
    p.gi = 0.95;
    p.deltaEsr = 0.25;
    p.fodOffset = 0.05;
    p.factor1 = 1.02;
    p.factor2 = 1.05;
    return p;
}

SimFodParams xmcParams(int k)
{
    SimFodParams p;
    p.gi = 0.9 + 0.05 * k;
    p.deltaEsr = 0.05 + 0.03 * k;
    p.fodOffset = 0.1 * k;
    p.factor1 = 1.0 + 0.01 * k;
    p.factor2 = 0.98 + 0.02 * k;
    return p;
}

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// The lines of the history file in the state folder the test chose.
QList<QJsonObject> historyRecords()
{
    QFile file(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/zavlo-gui/history.jsonl"));
    QList<QJsonObject> records;
    if (!file.open(QIODevice::ReadOnly))
        return records;
    while (!file.atEnd())
        records << QJsonDocument::fromJson(file.readLine()).object();
    return records;
}

SimConfig printingBoard(SimFodBoard board)
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.generateFod = true;
    config.text.linesPerSecond = 200;
    config.text.fod.board = board;
    for (int k = 0; k < 3; ++k)
        config.text.fod.params[size_t(k)] = board == SimFodBoard::Automotive ? autoParams() : xmcParams(k);
    return config;
}

} // namespace

// The whole calibration through the worker: capture of the board's FOD lines, the fit, and the
// write into the calibration area of a board that is power-cycled into its bootloader.
class TestFodCalibration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerWorkerTypes(); }
    // Each test keeps its history, backups and captures apart.
    void init()
    {
        QVERIFY(stateHome.isValid());
        qputenv("XDG_STATE_HOME", stateHome.filePath(QTest::currentTestFunction()).toLocal8Bit());
    }
    void automotive_capturedFitWrittenAndBoardReturned();
    void xmc_gainsSwitchedDuringCapture();
    void noPowerCycle_givesUpAfterTenSeconds();
    void stateFolderUnwritable_nothingSentAfterTheFit();

private:
    static void capture(WorkerRig &rig, const QList<int> &gains, int linesPerGain);
    QTemporaryDir stateHome;
};

void TestFodCalibration::capture(WorkerRig &rig, const QList<int> &gains, int linesPerGain)
{
    rig.worker.fodCaptureControl(true);
    int lines = 0;
    for (int gain : gains) {
        if (gain != 2)
            rig.worker.fodGainChanged(gain);
        lines += linesPerGain;
        QTRY_VERIFY_WITH_TIMEOUT(joined(rig.fod).count("\r\n") >= lines, 10000);
    }
    rig.worker.fodCaptureControl(false);
}

void TestFodCalibration::automotive_capturedFitWrittenAndBoardReturned()
{
    WorkerRig rig(printingBoard(SimFodBoard::Automotive));
    rig.worker.tabIndexChanged(2);
    QVERIFY(rig.open());
    capture(rig, {2}, 40);
    // Everything captured, and the line end the stop added.
    const QString captured = joined(rig.fod);
    const QByteArray before = bytes(rig.sim.snapshot().calibration);
    rig.fod.clear();
    rig.sim.setPingsToPowerCycle(10);
    rig.worker.fodCalculateGains(FOD_BOARD_AUTOMOTIVE);

    const QString text = joined(rig.fod);
    // The fit's quality line follows the parameter line, the places of the backup and the capture
    // follow the read; without them the texts are as before.
    QVERIFY2(text.contains(QRegularExpression("factor2:  1.050\r\nfit: 4\\d rows used   RMS residual ")),
             qPrintable(text));
    QVERIFY2(text.contains(QRegularExpression("Successfully read existing FOD Parameters.\r\n"
                                              "Calibration area saved to [^\r]*\\.bin\\.\r\n"
                                              "Capture saved to [^\r]*\\.txt \\(\\d+ bytes\\)\\.\r\n")),
             qPrintable(text));
    QString prescribed = text;
    prescribed.remove(QRegularExpression("(fit: |Calibration area saved to |Capture saved to )[^\n]*\r\n"));
    QVERIFY2(
        prescribed.startsWith("Calculating Gains for Auto Board...\r\n"
                              "gv:  1.000   gi:  0.950   fod_offset:  0.050   delta_esr:  0.250   factor1:  1.020   "
                              "factor2:  1.050\r\n"
                              "Power cycle board within the next 10 seconds...\r\n"
                              "Successfully read existing FOD Parameters.\r\n"
                              "Successfully Wrote FOD Parameters.\r\n"),
        qPrintable(text));
    QCOMPARE(rig.gains.count(), 1);
    QCOMPARE(rig.gains.at(0).at(0).toBool(), true);

    const std::vector<uint8_t> area = rig.sim.snapshot().calibration;
    QVERIFY(qAbs(floatAt(area, 184) - 0.95f * 25.056f) < 1e-4f);
    QVERIFY(qAbs(floatAt(area, 296) - 1.0f * 54.677f) < 1e-4f);
    QVERIFY(qAbs(floatAt(area, 600) - 0.05f) < 1e-6f);
    QVERIFY(qAbs(floatAt(area, 604) - 0.25f) < 1e-6f);
    QVERIFY(qAbs(floatAt(area, 612) - 1.02f) < 1e-6f);
    QVERIFY(qAbs(floatAt(area, 616) - 1.05f) < 1e-6f);
    QCOMPARE(floatAt(area, 620), 0.0f);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.snapshot().mode, BoardMode::Application, 2000);

    // One record: the parameters, the area as it was before the write, the capture they came from.
    const QList<QJsonObject> records = historyRecords();
    QCOMPARE(records.size(), 1);
    const QJsonObject record = records.at(0);
    QCOMPARE(record.value("kind").toString(), QStringLiteral("calibration"));
    QCOMPARE(record.value("result").toObject().value("state").toString(), QStringLiteral("completed"));
    QCOMPARE(record.value("area").toObject().value("serialNumber").toString(), QStringLiteral("SIM-00001234"));
    QCOMPARE(record.value("bytesWritten").toInt(), 896);
    const QJsonObject set = record.value("sets").toArray().at(0).toObject();
    QVERIFY(set.value("rowsUsed").toInt() >= 40);
    const QJsonObject parameters = set.value("parameters").toObject();
    const QList<QPair<const char *, double>> expected{{"gv", 1.0},          {"gi", 0.95},      {"delta_esr", 0.25},
                                                      {"fod_offset", 0.05}, {"factor1", 1.02}, {"factor2", 1.05}};
    for (const auto &parameter : expected)
        QVERIFY2(qAbs(parameters.value(parameter.first).toDouble() - parameter.second) < 1e-6, parameter.first);
    QFile backup(record.value("backup").toString());
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.readAll(), before.left(888) + QByteArray(8, '\xFF'));
    QFile captureFile(record.value("capture").toString());
    QVERIFY(captureFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(captureFile.readAll()) + QStringLiteral("\r\n"), captured);
}

void TestFodCalibration::xmc_gainsSwitchedDuringCapture()
{
    WorkerRig rig(printingBoard(SimFodBoard::Xmc));
    rig.worker.tabIndexChanged(2);
    QVERIFY(rig.open());
    capture(rig, {2, 3, 4}, 30);
    rig.fod.clear();
    rig.sim.setPingsToPowerCycle(10);
    rig.worker.fodCalculateGains(FOD_BOARD_XMC);

    const QString text = joined(rig.fod);
    for (int k = 0; k < 3; ++k) {
        const SimFodParams p = xmcParams(k);
        const QString line = QString::asprintf("gain: %5d   gi: %6.3f   fod_offset: %6.3f   delta_esr: %6.3f   "
                                               "factor1: %6.3f   factor2: %6.3f\r\n",
                                               k + 2, p.gi, p.fodOffset, p.deltaEsr, p.factor1, p.factor2);
        QVERIFY2(text.contains(line), qPrintable(line + " not in\n" + text));
    }
    QVERIFY(text.contains("Successfully Wrote FOD Parameters.\r\n"));
    const std::vector<uint8_t> area = rig.sim.snapshot().calibration;
    for (int k = 0; k < 3; ++k) {
        const SimFodParams p = xmcParams(k);
        const int block = 636 + 36 * k;
        QVERIFY(qAbs(floatAt(area, block) - float(p.fodOffset)) < 1e-6f);
        QVERIFY(qAbs(floatAt(area, block + 4) - float(p.deltaEsr)) < 1e-6f);
        QCOMPARE(floatAt(area, block + 20), 0.0f);
    }
}

void TestFodCalibration::noPowerCycle_givesUpAfterTenSeconds()
{
    WorkerRig rig(printingBoard(SimFodBoard::Automotive));
    rig.worker.tabIndexChanged(2);
    QVERIFY(rig.open());
    capture(rig, {2}, 20);
    const std::vector<uint8_t> before = rig.sim.snapshot().calibration;
    rig.sim.clearRequestLog();
    rig.fod.clear();
    rig.worker.fodCalculateGains(FOD_BOARD_AUTOMOTIVE);

    QVERIFY(joined(rig.fod).endsWith("Power cycle board within the next 10 seconds...\r\n"
                                     "No response after trying to put into BL mode.\r\n"));
    QCOMPARE(rig.gains.count(), 1);
    QCOMPARE(rig.gains.at(0).at(0).toBool(), true);
    for (const RequestRecord &r : rig.sim.requestLog())
        QVERIFY2(r.command == SimCmd::READ_REGISTER && r.address == SimReg::BOOT_STATUS, r.text().c_str());
    QVERIFY(rig.sim.snapshot().calibration == before);
}

void TestFodCalibration::stateFolderUnwritable_nothingSentAfterTheFit()
{
    // A file where the state folder should be: nothing can be made below it, not even by root.
    const QString blocked = qEnvironmentVariable("XDG_STATE_HOME");
    QFile blocker(blocked);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_STATE_HOME", (blocked + QStringLiteral("/state")).toLocal8Bit());

    WorkerRig rig(printingBoard(SimFodBoard::Automotive));
    QSignalSpy states(&rig.worker, &SerialWorker::calibrationWriteState);
    rig.worker.tabIndexChanged(2);
    QVERIFY(rig.open());
    capture(rig, {2}, 20);
    const QByteArray before = bytes(rig.sim.snapshot().calibration);
    rig.sim.setPingsToPowerCycle(10);
    rig.sim.clearRequestLog();
    rig.fod.clear();
    rig.worker.fodCalculateGains(FOD_BOARD_AUTOMOTIVE);

    const QString text = joined(rig.fod);
    QVERIFY2(text.contains(QRegularExpression("Calibration area not backed up \\([^\r]+\\): nothing was written to "
                                              "the board\\.\r\n")),
             qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("Power cycle board")), qPrintable(text));
    // The history cannot be written either; that is said, and decides nothing.
    QVERIFY2(text.contains(QStringLiteral("History not written")), qPrintable(text));
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.at(0).at(0).value<CalWriteState>(), CalWriteState::NotWritten);
    QCOMPARE(rig.gains.count(), 1);
    const std::vector<RequestRecord> requests = rig.sim.requestLog();
    QVERIFY2(requests.empty(), requests.empty() ? "" : requests.front().text().c_str());
    QCOMPARE(bytes(rig.sim.snapshot().calibration), before);
}

QTEST_GUILESS_MAIN(TestFodCalibration)
#include "tst_fodcalibration.moc"
