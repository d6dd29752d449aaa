// The FOD model of one row and the candidate grids.

#include "fod/fodgrids.h"
#include "fod/fodmodel.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace fodmodel;

class TestFodModel : public QObject
{
    Q_OBJECT

private slots:
    void workedRow_matchesDoubleEvaluationRoundedOnce()
    {
        const float deltaEsr = automotiveFodGrids().deltaEsr[10];
        const float f = factor(1055.0f, 1.0f, 1.0f);
        const float p = power(1903.0f, 1.0f, 1.0f, f, 0.0f);
        const float l = loss(1055.0f, deltaEsr, 1.0f, f, 80.0f);
        const float r = residual(p, l, 1482.0f);
        QCOMPARE(deltaEsr, 0.3f);
        QCOMPARE(f, 1.0f);
        QCOMPARE(p, 1903.0f);
        QCOMPARE(l, 413.9075f);
        // Rounding every operation to float would give 7.0925293 here.
        QCOMPARE(r, 7.092499f);
        QVERIFY(std::fabs(costTerm(r) - 50.3) < 0.01);
    }

    void factorCurve_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("factor1");
        QTest::addColumn<float>("factor2");
        QTest::addColumn<float>("expected");
        QTest::newRow("x 0 gives 1") << 0.0f << 1.07f << 0.98f << 1.0f;
        QTest::newRow("halfway to the first break") << 1000.0f << 1.1f << 0.98f << 1.05f;
        QTest::newRow("x 2000 gives factor1") << 2000.0f << 1.07f << 0.98f << 1.07f;
        QTest::newRow("x 2500 between 1.00 and 1.10") << 2500.0f << 1.0f << 1.1f << 1.05f;
        QTest::newRow("x 3000 gives factor2") << 3000.0f << 1.07f << 0.98f << 0.98f;
        QTest::newRow("beyond 3000 stays factor2") << 123456.0f << 1.07f << 0.98f << 0.98f;
        QTest::newRow("unordered x gives factor2")
            << std::numeric_limits<float>::quiet_NaN() << 1.07f << 0.98f << 0.98f;
    }

    void factorCurve()
    {
        QFETCH(float, x);
        QFETCH(float, factor1);
        QFETCH(float, factor2);
        QFETCH(float, expected);
        QCOMPARE(factor(x, factor1, factor2), expected);
    }

    // Float arithmetic per operation misses factor1 for 1.06 and 0.97; the double evaluation never does.
    void factorAtBreakPoints_isExactlyTheGridValue()
    {
        for (const FodGrids &grids : {automotiveFodGrids(), xmcFodGrids()}) {
            for (float f1 : grids.factor1) {
                for (float f2 : grids.factor2) {
                    QCOMPARE(factor(2000.0f, f1, f2), f1);
                    QCOMPARE(factor(3000.0f, f1, f2), f2);
                }
            }
        }
    }

    void grids_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("parameter");
        QTest::addColumn<int>("count");
        QTest::addColumn<float>("first");
        QTest::addColumn<float>("last");
        QTest::newRow("auto gv") << 0 << 0 << 21 << 0.95f << 1.05f;
        QTest::newRow("auto gi") << 0 << 1 << 21 << 0.90f << 1.00f;
        QTest::newRow("auto delta_esr") << 0 << 2 << 16 << 0.20f << 0.35f;
        QTest::newRow("auto fod_offset") << 0 << 3 << 7 << -0.15f << 0.15f;
        QTest::newRow("auto factor1") << 0 << 4 << 12 << 0.99f << 1.10f;
        QTest::newRow("auto factor2") << 0 << 5 << 12 << 0.99f << 1.10f;
        QTest::newRow("xmc gv") << 1 << 0 << 1 << 1.0f << 1.0f;
        QTest::newRow("xmc gi") << 1 << 1 << 81 << 0.80f << 1.20f;
        QTest::newRow("xmc delta_esr") << 1 << 2 << 21 << 0.0f << 0.20f;
        QTest::newRow("xmc fod_offset") << 1 << 3 << 18 << -0.15f << 0.70f;
        QTest::newRow("xmc factor1") << 1 << 4 << 21 << 0.95f << 1.05f;
        QTest::newRow("xmc factor2") << 1 << 5 << 31 << 0.95f << 1.10f;
    }

    void grids()
    {
        QFETCH(int, board);
        QFETCH(int, parameter);
        QFETCH(int, count);
        QFETCH(float, first);
        QFETCH(float, last);
        const FodGrids grids = board == 0 ? automotiveFodGrids() : xmcFodGrids();
        const std::vector<float> *all[] = {&grids.gv,        &grids.gi,      &grids.deltaEsr,
                                           &grids.fodOffset, &grids.factor1, &grids.factor2};
        const std::vector<float> &grid = *all[parameter];
        QCOMPARE(static_cast<int>(grid.size()), count);
        QCOMPARE(grid.front(), first);
        // The running sum of float steps lands within a few float steps of the nominal end.
        QVERIFY2(std::fabs(grid.back() - last) < 4e-7f, qPrintable(QString::number(grid.back(), 'g', 9)));
    }

    void offsetGrids_holdExactZeroAtIndexThree()
    {
        for (const FodGrids &grids : {automotiveFodGrids(), xmcFodGrids()}) {
            QCOMPARE(grids.fodOffset[3], 0.0f);
            QVERIFY(!std::signbit(grids.fodOffset[3]));
            QVERIFY(std::fabs(grids.fodOffset[2] + 0.05f) < 1e-7f);
            QVERIFY(std::fabs(grids.fodOffset[4] - 0.05f) < 1e-7f);
        }
    }
};

QTEST_APPLESS_MAIN(TestFodModel)
#include "tst_fodmodel.moc"
