// The fit report: model values, residuals and figures of the chosen parameters, the rows far
// from the model, and the pane's quality lines.

#include "fod/fodfit.h"
#include "fod/fodfitreport.h"
#include "fod/fodsearch.h"
#include "tests/fod/fodmessagerecorder.h"
#include "tests/fod/fodtestdata.h"

#include <QtTest>

#include <limits>

using namespace fodtest;

namespace {

// gv = gi = factor1 = factor2 = 1, fod_offset = 0: the model is field 3 − field 2² · 0.001 ·
// delta_esr − field 4, so residuals can be set by hand.
FodParameterSet unitParameters(float deltaEsr)
{
    FodParameterSet p;
    p.gv = 1.0f;
    p.gi = 1.0f;
    p.delta_esr = deltaEsr;
    p.fod_offset = 0.0f;
    p.factor1 = 1.0f;
    p.factor2 = 1.0f;
    return p;
}

// Rows whose residual (field 6 − model) is exactly the given value with delta_esr 0.
std::vector<FodRow> rowsWithResiduals(const QList<float> &residuals)
{
    std::vector<FodRow> rows;
    for (int i = 0; i < residuals.size(); ++i) {
        const float field3 = 1000.0f + 100.0f * static_cast<float>(i);
        rows.push_back({2.0f, 0.0f, 2500.0f, field3, 50.0f, 0.0f, field3 - 50.0f + residuals[i]});
    }
    return rows;
}

std::vector<int> firstRows(std::size_t count)
{
    std::vector<int> rows(count);
    for (std::size_t i = 0; i < count; ++i)
        rows[i] = static_cast<int>(i);
    return rows;
}

// A seeded (7) noisy capture of one parameter set, with the given rows pushed far off.
std::vector<FodRow> noisyRows(const FodParameterSet &p, int count, float gain, const QList<int> &glitches)
{
    std::vector<FodRow> rows = noiseFreeRows(p, count, 7, gain);
    Lcg random(7);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i][6] += static_cast<float>(random.between(-300, 300)) / 100.0f;
    for (int row : glitches)
        rows[static_cast<std::size_t>(row)][6] += 400.0f;
    return rows;
}

QList<int> outlierRows(const FodSetReport &set)
{
    QList<int> rows;
    for (const FodFitPoint &point : set.points) {
        if (point.outlier)
            rows << point.tableRow;
    }
    return rows;
}

} // namespace

class TestFodFitReport : public QObject
{
    Q_OBJECT

private slots:
    void figures_matchHandComputedValues_data()
    {
        QTest::addColumn<QList<float>>("residuals");
        QTest::addColumn<int>("gain");
        QTest::addColumn<double>("rms");
        QTest::addColumn<float>("largest");
        QTest::addColumn<double>("median");
        QTest::addColumn<QList<int>>("outliers");
        QTest::addColumn<double>("second");
        QTest::addColumn<QString>("line");

        // sqrt((1 + 4 + 9 + 16 + 100) / 5) = sqrt(26); median of 1, 2, 3, 4, 10 is 3, limit 12.
        QTest::newRow("odd count, none beyond four medians")
            << QList<float>{1, -2, 3, -4, 10} << 0 << std::sqrt(26.0) << 10.0f << 3.0 << QList<int>{} << 1.25
            << "fit: 5 rows used   RMS residual 5.099   largest residual 10.000   outliers 0   cost gap to the next "
               "best 0.25 (25 % of the cost)\r\n";
        // median of 1, 1, 2, 2, 3, 9 is 2, limit 8: only the 9 is beyond.
        QTest::newRow("even count, one beyond four medians")
            << QList<float>{1, -1, 2, -2, 3, -9} << 3 << std::sqrt(100.0 / 6.0) << -9.0f << 2.0 << QList<int>{5} << 1.0
            << "fit gain 3: 6 rows used   RMS residual 4.082   largest residual -9.000   outliers 1 (data rows 6)   "
               "cost gap to the next best 0 (0 % of the cost)\r\n";
        QTest::newRow("median 0: no row judged")
            << QList<float>{0, 0, 0, 5} << 2 << 2.5 << 5.0f << 0.0 << QList<int>{}
            << std::numeric_limits<double>::infinity()
            << "fit gain 2: 4 rows used   RMS residual 2.500   largest residual 5.000   outliers not judged (median "
               "residual 0)   no other combination fits\r\n";
    }

    void figures_matchHandComputedValues()
    {
        QFETCH(QList<float>, residuals);
        QFETCH(int, gain);
        QFETCH(double, rms);
        QFETCH(float, largest);
        QFETCH(double, median);
        QFETCH(QList<int>, outliers);
        QFETCH(double, second);
        QFETCH(QString, line);
        const std::vector<FodRow> rows = rowsWithResiduals(residuals);
        const FodParameterSet p = unitParameters(0.0f);
        FodFitReport report;
        report.sets.push_back(fodFittedSet(gain, rows, firstRows(rows.size()), p, p, 1.0, second));
        const FodSetReport &set = report.sets[0];
        QCOMPARE(set.rowsUsed(), residuals.size());
        for (int i = 0; i < residuals.size(); ++i)
            QCOMPARE(set.points[static_cast<std::size_t>(i)].residual, residuals[i]);
        QCOMPARE(set.rmsResidual, rms);
        QCOMPARE(set.largestResidual, largest);
        QCOMPARE(set.medianAbsResidual, median);
        QCOMPARE(outlierRows(set), outliers);
        QCOMPARE(set.outlierCount, outliers.size());
        QCOMPARE(QString::fromStdString(fodQualityText(report)), line);
    }

    // The board's sample line at delta_esr 0.30: P = 1903, L = 1055² · 0.001 · 0.3 + 80 = 413.9075.
    void modelValue_ofTheSampleLine()
    {
        const std::vector<FodRow> rows = {{1, 127700, 1055, 1903, 80, 1823, 1482}};
        const FodParameterSet p = unitParameters(0.30f);
        const FodSetReport set = fodFittedSet(0, rows, {0}, p, p, 0.0);
        QCOMPARE(set.points[0].x, 1055.0f);
        QCOMPARE(set.points[0].reference, 1482.0f);
        QCOMPARE(set.points[0].model, 1489.0925f);
        QCOMPARE(set.points[0].residual, -7.092499f);
    }

    // Glitches at table rows spread over the groups; each group's rows are interleaved with the
    // others', so the marks must land on the table's own row numbers.
    void xmcCaptureWithTwoGlitchRows_marksExactlyThoseRows()
    {
        const FodGrids grids = xmcFodGrids();
        std::vector<std::vector<FodRow>> groups;
        for (int k = 0; k < 3; ++k)
            groups.push_back(noisyRows(fodParametersAt(grids, {0, 30 + 10 * k, 5, 4, 8, 12}), 20, 2.0f + k,
                                       k == 1 ? QList<int>{3, 14} : QList<int>{}));
        FodDataTable table;
        for (std::size_t i = 0; i < 20; ++i) {
            for (const std::vector<FodRow> &group : groups)
                table.rows.push_back(group[i]);
        }
        FodMessageRecorder recorder;
        FodGainResult result;
        FodFitReport report;
        QVERIFY(calculateXmcGains(table, result, recorder.messages(), FodSearchOptions{}, report));
        QCOMPARE(int(report.sets.size()), 3);
        QCOMPARE(outlierRows(report.sets[0]), QList<int>{});
        // Gain 3's rows 3 and 14 stand at table rows 3 · 3 + 1 and 14 · 3 + 1.
        QCOMPARE(outlierRows(report.sets[1]), (QList<int>{10, 43}));
        QCOMPARE(outlierRows(report.sets[2]), QList<int>{});
        QVERIFY2(QString::fromStdString(fodQualityText(report))
                     .contains("outliers 2 (data rows 11, 44)   cost gap to the next best"),
                 fodQualityText(report).c_str());
        // The residuals are the search's own: their squares add up to its cost, and the second cost
        // is the search's too.
        for (std::size_t k = 0; k < report.sets.size(); ++k) {
            const FodSetReport &set = report.sets[k];
            const double squares = set.rmsResidual * set.rmsResidual * set.rowsUsed();
            QVERIFY2(qAbs(set.bestCost - squares) <= 1e-9 * set.bestCost, qPrintable(QString::number(squares)));
            QCOMPARE(set.secondCost, fodSearchFast(groups[k], grids).secondCost);
            QVERIFY(set.costGap() >= 0.0);
        }
    }

    void xmcWithoutGainFour_reportsTheRowsUnfitted()
    {
        const FodParameterSet p = fodParametersAt(xmcFodGrids(), {0, 12, 5, 3, 4, 20});
        std::vector<FodRow> rows = noiseFreeRows(p, 4, 1, 2.0f);
        for (const FodRow &row : noiseFreeRows(p, 3, 2, 3.0f))
            rows.push_back(row);
        FodMessageRecorder recorder;
        FodGainResult result;
        FodFitReport report;
        QVERIFY(!calculateXmcGains(tableOf(rows), result, recorder.messages(), FodSearchOptions{}, report));
        QCOMPARE(int(report.sets.size()), 3);
        QCOMPARE(report.sets[1].gain, 3);
        QCOMPARE(report.sets[1].points[2].tableRow, 6);
        QCOMPARE(report.sets[1].points[2].reference, rows[6][6]);
        QCOMPARE(report.sets[2].rowsUsed(), 0);
        for (const FodSetReport &set : report.sets)
            QVERIFY(!set.fitted);
        QCOMPARE(fodQualityText(report), std::string());
    }
};

QTEST_GUILESS_MAIN(TestFodFitReport)
#include "tst_fodfitreport.moc"
