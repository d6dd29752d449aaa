#include "sim/apptextsource.h"
#include "sim/fodlinegenerator.h"
#include "sim/imagebuilder.h"
#include "sim/simconfig.h"
#include "sim/simcrc.h"

#include <QtTest>

#include <cstring>

using Bytes = std::vector<uint8_t>;

namespace {
uint32_t le32(const Bytes &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const Bytes &b, size_t at)
{
    return uint16_t(b[at] | b[at + 1] << 8);
}
bool startsWith(const Bytes &b, size_t at, const char *magic)
{
    return b.size() >= at + 4 && std::memcmp(b.data() + at, magic, 4) == 0;
}
} // namespace

// The simulator's checksums, its FOD model and line generator, its text and the image builder.
class TestSimGenerators : public QObject
{
    Q_OBJECT

private slots:
    void checksums_matchPublishedCheckValues();
    void fodModel_data();
    void fodModel();
    void generatedLines_areParsableAndFollowTheModel_data();
    void generatedLines_areParsableAndFollowTheModel();
    void noise_isReproducibleFromItsSeed();
    void appText_mixesLineKindsAndZeroBytes();
    void imageLayout_data();
    void imageLayout();
    void imageDefects();
    void defaultAreas_keepFieldsAndAvoidErasedBytes();
};

void TestSimGenerators::checksums_matchPublishedCheckValues()
{
    const char *digits = "123456789";
    QCOMPARE(simCrc16(reinterpret_cast<const uint8_t *>(digits), 9), uint16_t(0x31C3));
    QCOMPARE(simCrc32(reinterpret_cast<const uint8_t *>(digits), 9), 0xCBF43926u);
    const uint8_t ping[] = {0x5A, 0x06, 0x08, 0x01, 0x01, 0x01};
    QCOMPARE(simCrc16(ping, sizeof ping), uint16_t(0xAAF0));
    const uint8_t release[] = {0x5A, 0x07, 0x07, 0x00, 0x01, 0x33, 0xDD};
    QCOMPARE(simCrc16(release, sizeof release), uint16_t(0xCB6A));
}

void TestSimGenerators::fodModel_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<double>("gv");
    QTest::addColumn<double>("gi");
    QTest::addColumn<double>("deltaEsr");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("f1");
    QTest::addColumn<double>("f2");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("power");
    QTest::addColumn<double>("loss");
    QTest::addColumn<double>("expected");

    const int automotive = int(SimFodBoard::Automotive);
    const int xmc = int(SimFodBoard::Xmc);
    // Sample line 1 127700 1055 1903 80 1823 1482: P = 1903, L = 413.9075.
    QTest::newRow("worked sample row") << automotive << 1.0 << 1.0 << 0.30 << 0.0 << 1.0 << 1.0 << 1055.0 << 1903.0
                                       << 80.0 << 1489.0925;
    QTest::newRow("x 2500 halfway between the factors")
        << xmc << 0.0 << 1.0 << 0.0 << 0.0 << 1.00 << 1.10 << 2500.0 << 1000.0 << 0.0 << 1050.0;
    QTest::newRow("x 2000 takes factor1")
        << xmc << 0.0 << 1.0 << 0.0 << 0.0 << 1.04 << 1.10 << 2000.0 << 1000.0 << 0.0 << 1040.0;
    QTest::newRow("x 3000 takes factor2")
        << xmc << 0.0 << 1.0 << 0.0 << 0.0 << 1.04 << 1.10 << 3000.0 << 1000.0 << 0.0 << 1100.0;
    QTest::newRow("x 0 has factor 1") << xmc << 0.0 << 1.0 << 0.0 << 0.0 << 1.04 << 1.10 << 0.0 << 1000.0 << 0.0
                                      << 1000.0;
    QTest::newRow("offset counts in thousands")
        << xmc << 0.0 << 1.0 << 0.0 << 0.25 << 1.0 << 1.0 << 0.0 << 1000.0 << 100.0 << 1150.0;
    QTest::newRow("xmc ignores gv") << xmc << 7.0 << 0.9 << 0.0 << 0.0 << 1.0 << 1.0 << 0.0 << 1000.0 << 0.0 << 900.0;
    QTest::newRow("automotive multiplies gv")
        << automotive << 1.05 << 0.9 << 0.0 << 0.0 << 1.0 << 1.0 << 0.0 << 1000.0 << 0.0 << 945.0;
    // L = 1000^2 * 0.001 * 0.2 * 0.9^2 * 1.02^2 = 168.5448 at x = 1000 with f = 1.02.
    QTest::newRow("loss squares gi and f")
        << xmc << 0.0 << 0.9 << 0.2 << 0.0 << 1.04 << 1.0 << 1000.0 << 0.0 << 0.0 << -168.54480;
}

void TestSimGenerators::fodModel()
{
    QFETCH(int, board);
    QFETCH(double, gv);
    QFETCH(double, gi);
    QFETCH(double, deltaEsr);
    QFETCH(double, offset);
    QFETCH(double, f1);
    QFETCH(double, f2);
    QFETCH(double, x);
    QFETCH(double, power);
    QFETCH(double, loss);
    QFETCH(double, expected);
    const SimFodParams p{gv, gi, deltaEsr, offset, f1, f2};
    QVERIFY(qAbs(SimFodModel::value(p, SimFodBoard(board), x, power, loss) - expected) < 1e-6);
}

void TestSimGenerators::generatedLines_areParsableAndFollowTheModel_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<int>("gain");
    QTest::newRow("xmc gain 3") << int(SimFodBoard::Xmc) << 3;
    QTest::newRow("automotive gain 2") << int(SimFodBoard::Automotive) << 2;
}

void TestSimGenerators::generatedLines_areParsableAndFollowTheModel()
{
    QFETCH(int, board);
    QFETCH(int, gain);
    FodGenConfig config;
    config.board = SimFodBoard(board);
    config.params = {SimFodParams{1.0, 0.9, 0.05, 0.1, 1.0, 1.0}, SimFodParams{1.02, 1.1, 0.12, -0.05, 1.03, 1.08},
                     SimFodParams{1.0, 1.0, 0.2, 0.5, 0.96, 0.97}};
    FodLineGenerator generator(config);
    const SimFodParams &p = config.params[size_t(gain - 2)];
    bool below = false, between = false, above = false;
    for (int i = 0; i < 40; ++i) {
        const QString line = QString::fromStdString(generator.next(gain));
        QVERIFY(!line.contains('='));
        const QStringList f = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        QCOMPARE(f.size(), 7);
        QCOMPARE(f[0].toInt(), gain);
        const double x = f[2].toDouble();
        QVERIFY(x >= 0 && x <= 3500);
        if (i < 3) {
            below |= x < 2000;
            between |= x >= 2000 && x < 3000;
            above |= x >= 3000;
        }
        const double model = SimFodModel::value(p, config.board, x, f[3].toDouble(), f[4].toDouble());
        QVERIFY2(qAbs(f[6].toDouble() - model) <= 0.00006, qPrintable(line));
    }
    QVERIFY(below && between && above);
}

void TestSimGenerators::noise_isReproducibleFromItsSeed()
{
    FodGenConfig config;
    config.noiseSigma = 2.0;
    config.seed = 99;
    FodLineGenerator a(config), b(config), quiet{FodGenConfig()};
    config.seed = 100;
    FodLineGenerator other(config);
    double sumSq = 0;
    bool differs = false;
    for (int i = 0; i < 200; ++i) {
        const std::string la = a.next(2);
        QCOMPARE(b.next(2), la);
        differs |= other.next(2) != la;
        const double noisy = QString::fromStdString(la).split(' ', Qt::SkipEmptyParts).last().toDouble();
        const double clean = QString::fromStdString(quiet.next(2)).split(' ', Qt::SkipEmptyParts).last().toDouble();
        sumSq += (noisy - clean) * (noisy - clean);
    }
    QVERIFY(differs);
    const double sigma = std::sqrt(sumSq / 200);
    QVERIFY2(sigma > 1.5 && sigma < 2.5, qPrintable(QString::number(sigma)));
}

void TestSimGenerators::appText_mixesLineKindsAndZeroBytes()
{
    AppTextConfig config;
    config.plainLines = {"alpha", "beta"};
    config.statusLineEvery = 3;
    config.zeroByteEvery = 4;
    AppTextSource source(config);
    std::vector<std::string> lines;
    for (int i = 0; i < 6; ++i)
        lines.push_back(source.nextLine(2));
    QCOMPARE(lines[0], std::string("alpha\r\n"));
    QCOMPARE(lines[1], std::string("beta\r\n"));
    QCOMPARE(lines[2], std::string(AppTextSource::kStatusLine) + "\r\n");
    QCOMPARE(lines[3], std::string("al\0pha\r\n", 8));
    QCOMPARE(lines[5], std::string(AppTextSource::kStatusLine) + "\r\n");

    config.fodLines = {"1 2 3 4 5 6 7", "7 6 5 4 3 2 1"};
    config.statusLineEvery = 0;
    config.zeroByteEvery = 0;
    config.plainLineEvery = 3;
    AppTextSource mixed(config);
    QCOMPARE(mixed.nextLine(2), std::string("1 2 3 4 5 6 7\r\n"));
    QCOMPARE(mixed.nextLine(2), std::string("7 6 5 4 3 2 1\r\n"));
    QCOMPARE(mixed.nextLine(2), std::string("alpha\r\n"));
    QCOMPARE(mixed.nextLine(2), std::string("1 2 3 4 5 6 7\r\n"));

    const std::string bench = mixed.benchmarkLine(123456789);
    QVERIFY(bench.find('=') != std::string::npos);
    QVERIFY(bench.find("t_us= 123456789\r\n") != std::string::npos);
}

void TestSimGenerators::imageLayout_data()
{
    QTest::addColumn<int>("app");
    QTest::addColumn<int>("settings");
    QTest::addColumn<int>("cal");
    QTest::newRow("all three sections") << 1000 << 200 << 300;
    QTest::newRow("application only") << 4096 << 0 << 0;
    QTest::newRow("settings and calibration only") << 0 << 256 << 1024;
}

void TestSimGenerators::imageLayout()
{
    QFETCH(int, app);
    QFETCH(int, settings);
    QFETCH(int, cal);
    ImageSpec spec;
    spec.version = 0x0203;
    spec.partNumber = 777;
    spec.hardwareId = 0x0055;
    spec.applicationSize = uint32_t(app);
    spec.settingsSize = uint32_t(settings);
    spec.calibrationSize = uint32_t(cal);
    spec.serialNumber = "SN-42";
    spec.description = "layout test";
    const Bytes image = buildFirmwareImage(spec);

    QCOMPARE(image.size(), size_t(256 + app + settings + cal));
    QVERIFY(startsWith(image, 0, "ZVLO"));
    QCOMPARE(le16(image, 4), uint16_t(0x0203));
    QCOMPARE(le16(image, 6), uint16_t(777));
    QCOMPARE(le16(image, 8), uint16_t(0x0055));
    QCOMPARE(le32(image, 12), uint32_t(app));
    QCOMPARE(le32(image, 16), uint32_t(settings));
    QCOMPARE(le32(image, 20), uint32_t(cal));
    // Header block: application size, CRC-32 of the application section, 8 zero bytes.
    QCOMPARE(le32(image, 24), uint32_t(app));
    QCOMPARE(le32(image, 28), simCrc32(image.data() + 256, size_t(app)));
    QVERIFY(std::all_of(image.begin() + 32, image.begin() + 40, [](uint8_t b) { return b == 0; }));
    QCOMPARE(std::string(reinterpret_cast<const char *>(image.data() + 128)), std::string("layout test"));
    QVERIFY(Bytes(image.begin() + 256, image.begin() + 256 + app) == imageApplicationBytes(spec));

    const size_t s = size_t(256 + app);
    if (settings > 0) {
        QVERIFY(startsWith(image, s, "ZVLS"));
        QCOMPARE(le16(image, s + 12), spec.settingsMinor);
        QCOMPARE(le16(image, s + 14), spec.settingsMajor);
    }
    const size_t c = s + size_t(settings);
    if (cal > 0) {
        QVERIFY(startsWith(image, c, "ZVLC"));
        QCOMPARE(le16(image, c + 12), spec.calibrationMinor);
        QCOMPARE(le16(image, c + 14), spec.calibrationMajor);
        QCOMPARE(std::string(reinterpret_cast<const char *>(image.data() + c + 100)), std::string("SN-42"));
    }
}

void TestSimGenerators::imageDefects()
{
    ImageSpec spec;
    spec.applicationSize = 1000;
    spec.settingsSize = 200;
    spec.calibrationSize = 300;
    const Bytes good = buildFirmwareImage(spec);

    ImageSpec s = spec;
    s.wrongMagic = true;
    QVERIFY(!startsWith(buildFirmwareImage(s), 0, "ZVLO"));

    s = spec;
    s.settingsWithoutMagic = true;
    s.calibrationWithoutMagic = true;
    Bytes image = buildFirmwareImage(s);
    QVERIFY(!startsWith(image, 1256, "ZVLS"));
    QVERIFY(!startsWith(image, 1456, "ZVLC"));
    QCOMPARE(image.size(), good.size());

    s = spec;
    s.truncateTo = 1300;
    image = buildFirmwareImage(s);
    QCOMPARE(image.size(), size_t(1300));
    QCOMPARE(le32(image, 20), 300u);

    s = spec;
    s.calibrationSizeClaim = 0xFFFFFF00;
    image = buildFirmwareImage(s);
    QCOMPARE(le32(image, 20), 0xFFFFFF00u);
    QCOMPARE(image.size(), good.size());

    s = spec;
    s.unterminatedDescription = true;
    image = buildFirmwareImage(s);
    QVERIFY(std::none_of(image.begin() + 128, image.begin() + 256, [](uint8_t b) { return b == 0; }));

    s = spec;
    s.badApplicationCrc = true;
    image = buildFirmwareImage(s);
    QVERIFY(le32(image, 28) != simCrc32(image.data() + 256, 1000));
    QVERIFY(Bytes(image.begin() + 256, image.end()) == Bytes(good.begin() + 256, good.end()));
}

void TestSimGenerators::defaultAreas_keepFieldsAndAvoidErasedBytes()
{
    const Bytes settings = simDefaultArea(SimArea::Settings, 4096, 1, 3);
    const Bytes cal = simDefaultArea(SimArea::Calibration, 4096, 2, 1, "SIM-00001234");
    QVERIFY(startsWith(settings, 0, "ZVLS"));
    QVERIFY(startsWith(cal, 0, "ZVLC"));
    QCOMPARE(le16(settings, 12), uint16_t(3));
    QCOMPARE(le16(settings, 14), uint16_t(1));
    QCOMPARE(le16(cal, 12), uint16_t(1));
    QCOMPARE(le16(cal, 14), uint16_t(2));
    QCOMPARE(std::string(reinterpret_cast<const char *>(cal.data() + 100)), std::string("SIM-00001234"));
    QVERIFY(std::none_of(settings.begin(), settings.end(), [](uint8_t b) { return b == 0xFF; }));
    QVERIFY(std::none_of(cal.begin(), cal.end(), [](uint8_t b) { return b == 0xFF; }));
    QVERIFY(settings != cal);
}

QTEST_GUILESS_MAIN(TestSimGenerators)
#include "tst_simgenerators.moc"
