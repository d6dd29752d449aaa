// The fast search against the reference on the real grids of both boards (slow: the reference
// visits every one of the 7.1 and 19.9 million combinations).

#include "tests/fod/fodsearchcheck.h"
#include "tests/fod/fodtestdata.h"

#include <QtTest>

using namespace fodtest;

class TestFodSearchFullGrids : public QObject
{
    Q_OBJECT

private slots:
    void randomCaptures_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("seed");
        for (int seed = 1; seed <= 6; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("automotive seed %1").arg(seed))) << 0 << seed;
        for (int seed = 1; seed <= 4; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("xmc seed %1").arg(seed))) << 1 << seed;
    }

    void randomCaptures()
    {
        QFETCH(int, board);
        QFETCH(int, seed);
        const FodGrids grids = board == 0 ? automotiveFodGrids() : xmcFodGrids();
        Lcg random(static_cast<std::uint32_t>(seed) * 7919u + static_cast<std::uint32_t>(board));
        compareWithReference(randomCapture(grids, random, random.between(2, 6)), grids, QTest::currentDataTag());
    }

    // Rows with x = 0: the cost depends on gv·gi and fod_offset only, so gv 0.95 with gi 1.00 ties
    // exactly with gv 1.00 with gi 0.95, and every delta_esr, factor1 and factor2 ties as well.
    void exactTies_gainProductAndFlatParameters()
    {
        const FodGrids grids = automotiveFodGrids();
        const FodParameterSet truth = fodParametersAt(grids, {0, 20, 4, 3, 5, 5});
        std::vector<FodRow> rows;
        for (int i = 0; i < 4; ++i)
            rows.push_back(modelRow(truth, 1.0f, 0.0f, 900.0f + 450.0f * i, 50.0f + 7.0f * i));
        const FodGridIndex swapped = {10, 10, 0, 3, 0, 0};
        QCOMPARE(grids.gv[10], grids.gi[20]);
        QCOMPARE(grids.gi[10], grids.gv[0]);
        QCOMPARE(fodCombinationCost(rows, grids, {0, 20, 0, 3, 0, 0}), fodCombinationCost(rows, grids, swapped));
        compareWithReference(rows, grids, QStringLiteral("ties"));
        const FodSearchResult fast = fodSearchFast(rows, grids, 2);
        QCOMPARE(fast.index, (FodGridIndex{0, 20, 0, 3, 0, 0}));
    }

    void nearTies_offsetHalfwayBetweenGridValues_data()
    {
        QTest::addColumn<int>("board");
        QTest::newRow("automotive") << 0;
        QTest::newRow("xmc") << 1;
    }

    void nearTies_offsetHalfwayBetweenGridValues()
    {
        QFETCH(int, board);
        const FodGrids grids = board == 0 ? automotiveFodGrids() : xmcFodGrids();
        Lcg random(99u + static_cast<std::uint32_t>(board));
        FodParameterSet p = randomParameters(grids, random);
        p.fod_offset = (grids.fodOffset[1] + grids.fodOffset[2]) / 2;
        compareWithReference(noiseFreeRows(p, 9, 5), grids, QTest::currentDataTag());
    }
};

QTEST_APPLESS_MAIN(TestFodSearchFullGrids)
#include "tst_fodsearchfullgrids.moc"
