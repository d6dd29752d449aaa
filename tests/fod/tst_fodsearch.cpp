// The fast search against the reference on many small inputs.

#include "tests/fod/fodsearchcheck.h"
#include "tests/fod/fodtestdata.h"

#include <QtTest>

#include <limits>

using namespace fodtest;

class TestFodSearch : public QObject
{
    Q_OBJECT

private slots:
    void fastMatchesReference_data()
    {
        QTest::addColumn<int>("board");
        QTest::newRow("automotive grids") << 0;
        QTest::newRow("xmc grids") << 1;
    }

    // Seeds 1 to 400, windows of the real grids so that the reference stays quick.
    void fastMatchesReference()
    {
        QFETCH(int, board);
        const FodGrids full = board == 0 ? automotiveFodGrids() : xmcFodGrids();
        for (std::uint32_t seed = 1; seed <= 400; ++seed) {
            Lcg random(seed + 1000u * static_cast<std::uint32_t>(board));
            const FodGrids grids = windowGrids(full, random);
            const std::vector<FodRow> rows = randomCapture(grids, random, random.between(2, 12));
            compareWithReference(rows, grids, QStringLiteral("seed %1").arg(seed));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Seeds 1 to 100: the two fod_offset neighbours of the data's offset tie up to rounding.
    void nearTies_fastMatchesReference()
    {
        for (std::uint32_t seed = 1; seed <= 100; ++seed) {
            Lcg random(seed);
            const FodGrids full = seed % 2 ? automotiveFodGrids() : xmcFodGrids();
            FodGrids grids = windowGrids(full, random);
            FodSearchStats stats;
            const std::vector<FodRow> rows = midOffsetCapture(grids, random, random.between(3, 30));
            compareWithReference(rows, grids, QStringLiteral("seed %1").arg(seed), &stats);
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(stats.candidates >= 2, qPrintable(QStringLiteral("seed %1").arg(seed)));
        }
    }

    void exactTies_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<int>("tiedFactor2");
        QTest::newRow("x below 2000: factor2 never matters") << 1500.0f << 1;
        QTest::newRow("x 0: neither factor matters") << 0.0f << 1;
        QTest::newRow("x 3000: factor1 never matters") << 3000.0f << 0;
    }

    void exactTies()
    {
        QFETCH(float, x);
        QFETCH(int, tiedFactor2);
        const FodGrids grids = automotiveFodGrids();
        FodParameterSet p = fodParametersAt(grids, {4, 9, 7, 5, 6, 8});
        std::vector<FodRow> rows;
        for (int i = 0; i < 4; ++i)
            rows.push_back(modelRow(p, 1.0f, x + static_cast<float>(i % 2), 1200.0f + 300.0f * i, 60.0f + i));
        FodGrids small = grids;
        small.gv = {grids.gv[4]};
        small.gi = {grids.gi[9]};
        compareWithReference(rows, small, QStringLiteral("ties"));
        const FodSearchResult fast = fodSearchFast(rows, small, 2);
        QVERIFY(fast.found);
        if (tiedFactor2)
            QCOMPARE(fast.index[5], 0);
        else
            QCOMPARE(fast.index[4], 0);
    }

    // Rows with x = 0: gv 0.95 with gi 1.00 and gv 1.00 with gi 0.95 give the same P in every row, a
    // tie only the exact evaluation of both can settle.
    void exactTies_swappedGains()
    {
        const FodGrids full = automotiveFodGrids();
        FodGrids grids = full;
        grids.gv = {full.gv[0], full.gv[10]};
        grids.gi = {full.gi[10], full.gi[20]};
        QCOMPARE(grids.gv[0], grids.gi[0]);
        QCOMPARE(grids.gv[1], grids.gi[1]);
        const FodParameterSet truth = fodParametersAt(grids, {0, 1, 4, 3, 5, 5});
        std::vector<FodRow> rows;
        for (int i = 0; i < 5; ++i)
            rows.push_back(modelRow(truth, 1.0f, 0.0f, 900.0f + 450.0f * i, 50.0f + 7.0f * i));
        QCOMPARE(fodCombinationCost(rows, grids, {0, 1, 0, 3, 0, 0}),
                 fodCombinationCost(rows, grids, {1, 0, 0, 3, 0, 0}));
        FodSearchStats stats;
        compareWithReference(rows, grids, QStringLiteral("swapped gains"), &stats);
        QCOMPARE(fodSearchFast(rows, grids, 2).index, (FodGridIndex{0, 1, 0, 3, 0, 0}));
        QVERIFY(stats.exactEvaluations >= 2);
    }

    void degenerateCaptures_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("x zero") << 0;
        QTest::newRow("power field zero") << 1;
        QTest::newRow("x and power field zero") << 2;
        QTest::newRow("x below 2000") << 3;
        QTest::newRow("x zero or from 3000") << 4;
        QTest::newRow("x and power zero, signed zeros") << 5;
    }

    // Seeds 1 to 40 per shape: captures where whole grids tie.
    void degenerateCaptures()
    {
        QFETCH(int, shape);
        for (std::uint32_t seed = 1; seed <= 40; ++seed) {
            Lcg random(seed * 31u + static_cast<std::uint32_t>(shape));
            const FodGrids grids = windowGrids(seed % 2 ? automotiveFodGrids() : xmcFodGrids(), random);
            std::vector<FodRow> rows = randomCapture(grids, random, random.between(2, 8));
            for (FodRow &row : rows) {
                float &x = row[fodmodel::kFieldX];
                float &power = row[fodmodel::kFieldPower];
                if (shape == 0 || shape == 2)
                    x = 0.0f;
                if (shape == 1 || shape == 2)
                    power = 0.0f;
                if (shape == 3)
                    x = static_cast<float>(random.between(-50, 1999));
                if (shape == 4)
                    x = random.between(0, 1) ? 0.0f : static_cast<float>(random.between(3000, 4000));
                if (shape == 5) {
                    x = random.between(0, 1) ? -0.0f : 0.0f;
                    power = random.between(0, 1) ? -0.0f : 0.0f;
                    row[fodmodel::kFieldLoss] = random.between(0, 1) ? -0.0f : 0.0f;
                    row[fodmodel::kFieldReference] = static_cast<float>(random.between(-1, 1)) * 0.0f;
                }
            }
            compareWithReference(rows, grids, QStringLiteral("seed %1").arg(seed));
            if (QTest::currentTestFailed())
                return;
        }
    }

    void nonFiniteFields_findNothing_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<float>("value");
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("nan x") << 2 << nan;
        QTest::newRow("infinite x") << 2 << inf;
        QTest::newRow("negative infinite x") << 2 << -inf;
        QTest::newRow("infinite power field") << 3 << inf;
        QTest::newRow("nan loss field") << 4 << nan;
        QTest::newRow("infinite reference") << 6 << -inf;
        QTest::newRow("power term overflows float") << 3 << 3e38f;
    }

    void nonFiniteFields_findNothing()
    {
        QFETCH(int, field);
        QFETCH(float, value);
        Lcg random(7);
        const FodGrids grids = windowGrids(automotiveFodGrids(), random);
        std::vector<FodRow> rows = noiseFreeRows(randomParameters(grids, random), 6, 11);
        rows[2][static_cast<std::size_t>(field)] = value;
        FodSearchStats stats;
        compareWithReference(rows, grids, QStringLiteral("non-finite"), &stats);
        QVERIFY(!fodSearchFast(rows, grids, 2).found);
        // Settled without evaluating a combination: every bound is above 1e20 (or the row is not finite).
        QCOMPARE(stats.exactEvaluations, std::int64_t(0));
    }

    void adversarialCaptures_data()
    {
        QTest::addColumn<int>("adversity");
        QTest::addColumn<bool>("rowsApart");
        QTest::newRow("glitch row first") << int(Adversity::GlitchFirst) << true;
        QTest::newRow("glitch row inside") << int(Adversity::GlitchInside) << true;
        QTest::newRow("glitch row last") << int(Adversity::GlitchLast) << true;
        QTest::newRow("up to 8 outliers to 2^32") << int(Adversity::Outliers) << true;
        QTest::newRow("a field at 1e12") << int(Adversity::Huge) << true;
        QTest::newRow("tiny and huge fields") << int(Adversity::TinyAndHuge) << false;
        QTest::newRow("flat, costs tied by rounding") << int(Adversity::FlatTied) << false;
        QTest::newRow("x zero and a saturated loss") << int(Adversity::GainProductTies) << true;
    }

    // Seeds 1 to 60 per kind, on windows of both boards' grids, half of them with the whole fod_offset grid.
    void adversarialCaptures()
    {
        QFETCH(int, adversity);
        QFETCH(bool, rowsApart);
        for (std::uint32_t seed = 1; seed <= 60; ++seed) {
            Lcg random(seed * 7u + 1000u * static_cast<std::uint32_t>(adversity));
            const FodGrids full = seed % 2 ? automotiveFodGrids() : xmcFodGrids();
            FodGrids grids = windowGrids(full, random);
            const std::vector<FodRow> rows = adversarialCapture(grids, full, random, static_cast<Adversity>(adversity));
            FodSearchStats stats;
            compareWithReference(rows, grids, QStringLiteral("seed %1").arg(seed), &stats);
            if (QTest::currentTestFailed())
                return;
            if (rowsApart)
                QVERIFY2(stats.exactRows > 0, qPrintable(QStringLiteral("seed %1").arg(seed)));
        }
    }

    void secondCost_isLowestCostOfTheOthers_data()
    {
        QTest::addColumn<QVector<float>>("offsets");
        QTest::newRow("costs falling to the last") << QVector<float>{0.30f, 0.20f, 0.10f, 0.0f};
        QTest::newRow("costs rising after the first") << QVector<float>{0.0f, 0.10f, 0.20f};
        QTest::newRow("exact tie") << QVector<float>{0.10f, 0.0f, 0.0f};
        QTest::newRow("single combination") << QVector<float>{0.0f};
        QTest::newRow("the others cost above 1e20") << QVector<float>{3e8f, 0.0f, -3e8f};
    }

    // The rows fit fod_offset 0 exactly; only fod_offset varies.
    void secondCost_isLowestCostOfTheOthers()
    {
        QFETCH(QVector<float>, offsets);
        const FodParameterSet p = fodParametersAt(automotiveFodGrids(), {4, 9, 7, 3, 6, 8});
        const FodGrids grids = {{p.gv},      {p.gi},     {p.delta_esr}, {offsets.begin(), offsets.end()},
                                {p.factor1}, {p.factor2}};
        const std::vector<FodRow> rows = noiseFreeRows(p, 5, 3);
        const FodSearchResult reference = fodSearchReference(rows, grids);
        QVERIFY(reference.found);
        double expected = std::numeric_limits<double>::infinity();
        for (int i = 0; i < offsets.size(); ++i) {
            const double cost = fodCombinationCost(rows, grids, {0, 0, 0, i, 0, 0});
            if (i != reference.index[3] && cost < 1e20)
                expected = std::min(expected, cost);
        }
        QVERIFY2(reference.secondCost == expected, qPrintable(describe(reference)));
        compareWithReference(rows, grids, QTest::currentDataTag());
    }
};

QTEST_APPLESS_MAIN(TestFodSearch)
#include "tst_fodsearch.moc"
