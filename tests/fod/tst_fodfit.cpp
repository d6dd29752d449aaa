// The Automotive and XMC gain calculations: fitted sets, texts and failures.

#include "fod/fodfit.h"
#include "tests/fod/fodmessagerecorder.h"
#include "tests/fod/fodtestdata.h"

#include <QtTest>

#include <limits>

using namespace fodtest;

namespace {

using Recorder = FodMessageRecorder;

bool sameSet(const FodParameterSet &a, const FodParameterSet &b)
{
    return a.gv == b.gv && a.gi == b.gi && a.delta_esr == b.delta_esr && a.fod_offset == b.fod_offset &&
           a.factor1 == b.factor1 && a.factor2 == b.factor2;
}

bool allZero(const FodGainResult &result)
{
    for (const FodParameterSet &set : result.sets) {
        if (!sameSet(set, FodParameterSet{}))
            return false;
    }
    return true;
}

FodGridIndex indexOf(const QList<int> &list)
{
    return {list[0], list[1], list[2], list[3], list[4], list[5]};
}

} // namespace

class TestFodFit : public QObject
{
    Q_OBJECT

private slots:
    void automotive_recoversOnGridParameters_data()
    {
        QTest::addColumn<QList<int>>("index");
        QTest::addColumn<QString>("line");
        QTest::newRow("offset index 3 prints a blank, not a minus")
            << QList<int>{10, 11, 10, 3, 1, 8}
            << "gv:  1.000   gi:  0.955   fod_offset:  0.000   delta_esr:  0.300   factor1:  1.000   factor2:  "
               "1.070\r\n";
        QTest::newRow("first of every grid") << QList<int>{0, 0, 0, 0, 0, 0}
                                             << "gv:  0.950   gi:  0.900   fod_offset: -0.150   delta_esr:  0.200   "
                                                "factor1:  0.990   factor2:  0.990\r\n";
        QTest::newRow("last of every grid") << QList<int>{20, 20, 15, 6, 11, 11}
                                            << "gv:  1.050   gi:  1.000   fod_offset:  0.150   delta_esr:  0.350   "
                                               "factor1:  1.100   factor2:  1.100\r\n";
        QTest::newRow("offset index 2") << QList<int>{5, 17, 3, 2, 9, 2}
                                        << "gv:  0.975   gi:  0.985   fod_offset: -0.050   delta_esr:  0.230   "
                                           "factor1:  1.080   factor2:  1.010\r\n";
    }

    void automotive_recoversOnGridParameters()
    {
        QFETCH(QList<int>, index);
        QFETCH(QString, line);
        const FodParameterSet truth = fodParametersAt(automotiveFodGrids(), indexOf(index));
        const FodDataTable table = tableOf(noiseFreeRows(truth, 30, 5));
        Recorder recorder;
        FodGainResult result;
        QVERIFY(calculateAutomotiveGains(table, result, recorder.messages()));
        QVERIFY(sameSet(result.sets[0], truth));
        QVERIFY(sameSet(result.sets[1], FodParameterSet{}) && sameSet(result.sets[2], FodParameterSet{}));
        QCOMPARE(recorder.output, QStringList{line});
    }

    void automotive_debugLines()
    {
        const FodParameterSet truth = fodParametersAt(automotiveFodGrids(), {10, 11, 10, 3, 1, 8});
        Recorder recorder;
        FodGainResult result;
        QVERIFY(calculateAutomotiveGains(tableOf(noiseFreeRows(truth, 40, 9)), result, recorder.messages()));
        const QStringList expected = {"Fod Data length is 40", "gv:          1.000000", "gi:          0.955000",
                                      "fod_offset:  0.000000", "delta_esr:   0.300000", "factor1:     1.000000",
                                      "factor2:     1.070000"};
        QCOMPARE(recorder.debug, expected);
    }

    void automotive_ignoresFieldsZeroOneAndFive()
    {
        const FodParameterSet truth = fodParametersAt(automotiveFodGrids(), {3, 14, 6, 4, 7, 5});
        std::vector<FodRow> rows = noiseFreeRows(truth, 20, 3);
        std::vector<FodRow> scrambled = rows;
        const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -3e38f,
                             0.0f, 2.0f};
        for (std::size_t i = 0; i < scrambled.size(); ++i) {
            scrambled[i][0] = odd[i % 5];
            scrambled[i][1] = odd[(i + 1) % 5];
            scrambled[i][5] = odd[(i + 2) % 5];
        }
        Recorder plain, odds;
        FodGainResult plainResult, oddResult;
        QVERIFY(calculateAutomotiveGains(tableOf(rows), plainResult, plain.messages()));
        QVERIFY(calculateAutomotiveGains(tableOf(scrambled), oddResult, odds.messages()));
        QVERIFY(sameSet(plainResult.sets[0], oddResult.sets[0]));
        QVERIFY(sameSet(plainResult.sets[0], truth));
        QCOMPARE(odds.output, plain.output);
        QCOMPARE(odds.debug, plain.debug);
    }

    // Rows tagged 1, 2.5, 5 and 4.0001 belong to no gain and carry values that would spoil any fit.
    void xmc_fitsEachGainFromItsOwnRows()
    {
        const FodGrids grids = xmcFodGrids();
        const FodParameterSet truth[] = {fodParametersAt(grids, {0, 12, 5, 3, 4, 20}),
                                         fodParametersAt(grids, {0, 40, 0, 17, 0, 30}),
                                         fodParametersAt(grids, {0, 80, 20, 0, 20, 0})};
        std::vector<FodRow> rows;
        for (int k = 0; k < 3; ++k) {
            for (const FodRow &row : noiseFreeRows(truth[k], 12, 20u + k, 2.0f + k)) {
                rows.push_back(row);
                FodRow junk = row;
                junk[0] = k == 0 ? 1.0f : k == 1 ? 2.5f : (rows.size() % 2 ? 5.0f : 4.0001f);
                junk[6] = -1e6f;
                rows.push_back(junk);
            }
        }
        Recorder recorder;
        FodGainResult result;
        QVERIFY(calculateXmcGains(tableOf(rows), result, recorder.messages()));
        for (int k = 0; k < 3; ++k) {
            FodParameterSet expected = truth[k];
            expected.gv = 0.0f;
            QVERIFY2(sameSet(result.sets[static_cast<std::size_t>(k)], expected), qPrintable(QString::number(k)));
        }
        const QStringList lines = {
            "gain:     2   gi:  0.860   fod_offset:  0.000   delta_esr:  0.050   factor1:  0.970   factor2:  1.050\r\n",
            "gain:     3   gi:  1.000   fod_offset:  0.700   delta_esr:  0.000   factor1:  0.950   factor2:  1.100\r\n",
            "gain:     4   gi:  1.200   fod_offset: -0.150   delta_esr:  0.200   factor1:  1.050   factor2:  "
            "0.950\r\n"};
        QCOMPARE(recorder.output, lines);
        QCOMPARE(recorder.debug.mid(0, 3),
                 (QStringList{"Total size of fod Data is 36", "Fod Data length is 12", "gain:        2"}));
        QCOMPARE(recorder.debug.size(), 1 + 3 * 7);
    }

    void xmc_missingGainFailsAndStoresNothing()
    {
        const FodParameterSet truth = fodParametersAt(xmcFodGrids(), {0, 12, 5, 3, 4, 20});
        std::vector<FodRow> rows = noiseFreeRows(truth, 6, 1, 2.0f);
        for (const FodRow &row : noiseFreeRows(truth, 6, 2, 3.0f))
            rows.push_back(row);
        rows.push_back(modelRow(truth, 5.0f, 1000.0f, 1500.0f, 80.0f));
        Recorder recorder;
        FodGainResult result;
        QVERIFY(!calculateXmcGains(tableOf(rows), result, recorder.messages()));
        QCOMPARE(recorder.output, QStringList{"Gain value is missing from collected data!\r\n"});
        QCOMPARE(recorder.debug,
                 (QStringList{"Total size of fod Data is 12", "Gain value is missing from collected data!"}));
        QVERIFY(allZero(result));
    }

    // Lines of seven words read as rows of zeros: every combination with fod_offset 0 costs exactly 0.
    // Flat captures like these tie across whole grids; the first visited must still win, and quickly.
    void zeroRows_fitTheFirstCombinationWithZeroOffset()
    {
        const FodDataTable table = tableOf(std::vector<FodRow>(FOD_MAX_ROWS, FodRow{}));
        Recorder recorder;
        FodGainResult result;
        QVERIFY(calculateAutomotiveGains(table, result, recorder.messages()));
        QVERIFY(sameSet(result.sets[0], fodParametersAt(automotiveFodGrids(), {0, 0, 0, 3, 0, 0})));

        // Field 4 = 5 and field 6 = 3: the cost is n·(u − 8)² for a million combinations each.
        FodDataTable flat = tableOf(std::vector<FodRow>(FOD_MAX_ROWS, FodRow{1, 0, 0, 0, 5, 0, 3}));
        QVERIFY(calculateAutomotiveGains(flat, result, recorder.messages()));
        QVERIFY(sameSet(result.sets[0], fodParametersAt(automotiveFodGrids(), {0, 0, 0, 3, 0, 0})));
        flat.rows[7][fodmodel::kFieldReference] = 60.0f;
        QVERIFY(calculateAutomotiveGains(flat, result, recorder.messages()));
        QVERIFY(sameSet(result.sets[0], fodParametersAt(automotiveFodGrids(), {0, 0, 0, 3, 0, 0})));
    }

    void noFit_failsWithMessageAndStoresNothing_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("field");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("linesBeforeFailure");
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("auto, reference read as inf") << 0 << 6 << inf << 0;
        QTest::newRow("auto, loss read as nan") << 0 << 4 << nan << 0;
        QTest::newRow("auto, power term overflows float") << 0 << 3 << 3e38f << 0;
        QTest::newRow("xmc, gain 4 x read as nan") << 1 << 2 << nan << 2;
    }

    void noFit_failsWithMessageAndStoresNothing()
    {
        QFETCH(int, board);
        QFETCH(int, field);
        QFETCH(float, value);
        QFETCH(int, linesBeforeFailure);
        const FodGrids grids = board == 0 ? automotiveFodGrids() : xmcFodGrids();
        const FodParameterSet truth = fodParametersAt(grids, {0, 10, 5, 3, 4, 6});
        std::vector<FodRow> rows;
        for (int k = 0; k < 3; ++k) {
            for (const FodRow &row : noiseFreeRows(truth, 3, 40u + k, 2.0f + k))
                rows.push_back(row);
        }
        rows.back()[static_cast<std::size_t>(field)] = value;
        Recorder recorder;
        FodGainResult result;
        const bool fitted = board == 0 ? calculateAutomotiveGains(tableOf(rows), result, recorder.messages())
                                       : calculateXmcGains(tableOf(rows), result, recorder.messages());
        QVERIFY(!fitted);
        QCOMPARE(recorder.output.size(), linesBeforeFailure + 1);
        QCOMPARE(recorder.output.last(), QStringLiteral("No FOD parameters fit the captured data!\r\n"));
        QCOMPARE(recorder.debug.last(), QStringLiteral("No FOD parameters fit the captured data!"));
        QVERIFY(allZero(result));
    }
};

QTEST_APPLESS_MAIN(TestFodFit)
#include "tst_fodfit.moc"
