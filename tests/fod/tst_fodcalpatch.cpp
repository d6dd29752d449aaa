// The calibration-area bytes that carry the fitted FOD parameters.

#include "fod/fodcalpatch.h"

#include <QtTest>

#include <cstring>

namespace {

float floatAt(const std::array<std::uint8_t, 4> &bytes)
{
    const std::uint32_t bits = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

FodGainResult sampleResult()
{
    FodGainResult result;
    result.sets[0] = {1.0f, 1.0f, 0.3f, -0.05f, 1.01f, 1.07f};
    result.sets[1] = {0.0f, 1.0f, 0.1f, 0.7f, 0.95f, 1.1f};
    result.sets[2] = {0.0f, 1.0f, 0.0f, 0.0f, 1.05f, 0.955f};
    return result;
}

} // namespace

class TestFodCalPatch : public QObject
{
    Q_OBJECT

private slots:
    // With gi = gv = 1 the scaled fields carry the single-precision constants themselves.
    void patches_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<QList<double>>("values");
        QTest::newRow("automotive") << 0 << QList<int>{184, 296, 600, 604, 612, 616, 620}
                                    << QList<double>{
                                           25.055999755859375, 54.676998138427734, -0.05f, 0.3f, 1.01f, 1.07f, 0.0};
        QTest::newRow("xmc") << 1 << QList<int>{200, 216, 232, 636, 640, 648, 652, 656, 672,
                                                676, 684, 688, 692, 708, 712, 720, 724, 728}
                             << QList<double>{8.460000038146973,
                                              15.569499969482422,
                                              25.379899978637695,
                                              -0.05f,
                                              0.3f,
                                              1.01f,
                                              1.07f,
                                              0.0,
                                              0.7f,
                                              0.1f,
                                              0.95f,
                                              1.1f,
                                              0.0,
                                              0.0,
                                              0.0,
                                              1.05f,
                                              0.955f,
                                              0.0};
        QTest::newRow("other board") << 2 << QList<int>{} << QList<double>{};
    }

    void patches()
    {
        QFETCH(int, board);
        QFETCH(QList<int>, offsets);
        QFETCH(QList<double>, values);
        const std::vector<FodCalPatch> patches = fodCalibrationPatches(board, sampleResult());
        QCOMPARE(static_cast<int>(patches.size()), offsets.size());
        for (int i = 0; i < offsets.size(); ++i) {
            const FodCalPatch &p = patches[static_cast<std::size_t>(i)];
            QCOMPARE(p.offset, offsets[i]);
            QCOMPARE(static_cast<double>(floatAt(p.bytes)), values[i]);
        }
    }

    void scaledGain_isOneSinglePrecisionProduct()
    {
        FodGainResult result;
        result.sets[0].gi = 0.955f;
        result.sets[0].gv = 1.035f;
        const std::vector<FodCalPatch> patches = fodCalibrationPatches(FOD_BOARD_AUTOMOTIVE, result);
        QCOMPARE(floatAt(patches[0].bytes), static_cast<float>(0.955f * 25.055999755859375));
        QCOMPARE(floatAt(patches[1].bytes), static_cast<float>(1.035f * 54.676998138427734));
    }

    void apply_patchesOnlyTheFieldsAndChecksTheSize()
    {
        std::vector<std::uint8_t> area(FOD_CAL_PATCH_END, 0xAB);
        const std::vector<FodCalPatch> patches = fodCalibrationPatches(FOD_BOARD_AUTOMOTIVE, sampleResult());
        std::vector<std::uint8_t> small(FOD_CAL_PATCH_END - 120, 0xAB);
        QVERIFY(!applyFodCalibrationPatches(patches, small.data(), small.size()));
        QCOMPARE(small, std::vector<std::uint8_t>(FOD_CAL_PATCH_END - 120, 0xAB));

        QVERIFY(applyFodCalibrationPatches(patches, area.data(), area.size()));
        for (int i = 0; i < FOD_CAL_PATCH_END; ++i) {
            const bool patched = i / 4 * 4 == 184 || i / 4 * 4 == 296 || (i >= 600 && i < 608) || (i >= 612 && i < 624);
            if (!patched)
                QVERIFY2(area[static_cast<std::size_t>(i)] == 0xAB, qPrintable(QString::number(i)));
        }
        QCOMPARE(area[620] | area[621] | area[622] | area[623], 0);
        QCOMPARE(area[600], patches[2].bytes[0]);

        std::vector<std::uint8_t> xmc(FOD_CAL_PATCH_END, 0xAB);
        QVERIFY(
            applyFodCalibrationPatches(fodCalibrationPatches(FOD_BOARD_XMC, sampleResult()), xmc.data(), xmc.size()));
        QCOMPARE(xmc[296], std::uint8_t(0xAB));
        QCOMPARE(xmc[644], std::uint8_t(0xAB));
    }
};

QTEST_APPLESS_MAIN(TestFodCalPatch)
#include "tst_fodcalpatch.moc"
