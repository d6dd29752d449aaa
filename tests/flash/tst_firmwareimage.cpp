#include "flash/firmwareimage.h"
#include "tests/flash/flashtestsupport.h"

#include <QtTest>

namespace {

void setLe32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + offset);
}

} // namespace

// Reading the image header and locating the sections, bounded by the bytes present.
class TestFirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void headerFields_readLittleEndian();
    void sections_locatedOnlyThroughSizes();

    void bounds_neverPastTheEnd_data();
    void bounds_neverPastTheEnd();

    void sectionValidity_data();
    void sectionValidity();

    void description_data();
    void description();

    void versionText_highByteFirst_data();
    void versionText_highByteFirst();
};

void TestFirmwareImage::headerFields_readLittleEndian()
{
    ImageSpec spec;
    spec.version = 0x0A05;
    spec.partNumber = 0xBEEF;
    spec.hardwareId = 0x0102;
    spec.application = patternBytes(70000, 1);
    spec.settings = sectionBytes("ZVLS", 100, 3, 1, 2);
    spec.calibration = sectionBytes("ZVLC", 300, 0x0102, 0x0304, 3);
    const FirmwareImage image(makeImage(spec));

    QVERIFY(image.hasMagic());
    QVERIFY(image.hasCompleteHeader());
    QVERIFY(image.hasCompleteSections());
    QCOMPARE(image.version(), quint16(0x0A05));
    QCOMPARE(image.partNumber(), quint16(0xBEEF));
    QCOMPARE(image.hardwareId(), quint16(0x0102));
    QCOMPARE(image.applicationSize(), quint32(70000));
    QCOMPARE(image.settingsSize(), quint32(100));
    QCOMPARE(image.calibrationSize(), quint32(300));
    QCOMPARE(image.settingsVersionMajor(), quint16(1));
    QCOMPARE(image.settingsVersionMinor(), quint16(3));
    QCOMPARE(image.calibrationVersionMajor(), quint16(0x0304));
    QCOMPARE(image.calibrationVersionMinor(), quint16(0x0102));
    QCOMPARE(image.fileSize(), qint64(256 + 70000 + 100 + 300));
}

void TestFirmwareImage::sections_locatedOnlyThroughSizes()
{
    ImageSpec spec;
    spec.application = patternBytes(1000, 1);
    spec.settings = sectionBytes("ZVLS", 200, 1, 2, 2);
    spec.calibration = sectionBytes("ZVLC", 300, 3, 4, 3);
    const QByteArray bytes = makeImage(spec);
    const FirmwareImage image(bytes);

    QCOMPARE(image.applicationOffset(), quint64(256));
    QCOMPARE(image.settingsOffset(), quint64(1256));
    QCOMPARE(image.calibrationOffset(), quint64(1456));
    QCOMPARE(bytes.mid(1256, 4), QByteArray("ZVLS"));
    QCOMPARE(bytes.mid(1456, 4), QByteArray("ZVLC"));
    QVERIFY(image.settingsSectionValid());
    QVERIFY(image.calibrationSectionValid());
}

void TestFirmwareImage::bounds_neverPastTheEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("magic");
    QTest::addColumn<bool>("completeHeader");
    QTest::addColumn<bool>("completeSections");
    QTest::addColumn<quint64>("calibrationOffset");

    QTest::newRow("empty file") << QByteArray() << false << false << false << quint64(256);
    QTest::newRow("magic only") << QByteArray("ZVLO") << true << false << false << quint64(256);

    ImageSpec spec;
    spec.application = patternBytes(100, 1);
    spec.settings = sectionBytes("ZVLS", 40, 1, 1, 2);
    spec.calibration = sectionBytes("ZVLC", 40, 1, 1, 3);
    const QByteArray good = makeImage(spec);
    QTest::newRow("header cut at 200 bytes") << good.left(200) << true << false << false << quint64(396);
    QTest::newRow("header cut inside the sizes") << good.left(14) << true << false << false << quint64(256);
    QTest::newRow("whole image") << good << true << true << true << quint64(396);
    QTest::newRow("last byte missing") << good.left(good.size() - 1) << true << true << false << quint64(396);
    QTest::newRow("extra bytes behind the sections are fine")
        << good + QByteArray(10, 'x') << true << true << true << quint64(396);

    QByteArray huge = good;
    setLe32(huge, 12, 0xFFFFFFFFu);
    setLe32(huge, 16, 0xFFFFFFFFu);
    setLe32(huge, 20, 0xFFFFFFFFu);
    QTest::newRow("sizes near 2^32 do not wrap")
        << huge << true << true << false << quint64(256) + 2 * quint64(0xFFFFFFFFu);

    QByteArray wraps = good;
    // 256 + this size wraps to 0 in 32 bits; the section must still be seen as past the end.
    setLe32(wraps, 12, 0xFFFFFF00u);
    setLe32(wraps, 16, 0);
    setLe32(wraps, 20, 0);
    QTest::newRow("application size that wraps 32-bit offsets to 0")
        << wraps << true << true << false << quint64(0x100000000ull);
}

void TestFirmwareImage::bounds_neverPastTheEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, magic);
    QFETCH(bool, completeHeader);
    QFETCH(bool, completeSections);
    QFETCH(quint64, calibrationOffset);

    // A detached copy without spare capacity, so a read past its end would be seen by a sanitizer.
    const FirmwareImage image(QByteArray(bytes.constData(), bytes.size()));
    QCOMPARE(image.hasMagic(), magic);
    QCOMPARE(image.hasCompleteHeader(), completeHeader);
    QCOMPARE(image.hasCompleteSections(), completeSections);
    QCOMPARE(image.calibrationOffset(), calibrationOffset);
    // Every accessor answers without touching bytes the file does not have.
    image.version();
    image.partNumber();
    image.hardwareId();
    image.description();
    image.settingsVersionMajor();
    image.calibrationVersionMinor();
    if (bytes.size() < 24) {
        QCOMPARE(image.calibrationSize(), quint32(0));
        QVERIFY(!image.settingsSectionValid());
    }
}

void TestFirmwareImage::sectionValidity_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("calibration");
    QTest::addColumn<int>("cutTail");
    QTest::addColumn<bool>("settingsValid");
    QTest::addColumn<bool>("calibrationValid");
    QTest::addColumn<int>("settingsMajor");

    const QByteArray s = sectionBytes("ZVLS", 98, 3, 1, 1);
    const QByteArray c = sectionBytes("ZVLC", 200, 4, 2, 2);
    QTest::newRow("both present") << s << c << 0 << true << true << 1;
    QTest::newRow("zero-size settings") << QByteArray() << c << 0 << false << true << 0;
    QTest::newRow("zero-size calibration") << s << QByteArray() << 0 << true << false << 1;
    QTest::newRow("foreign settings magic") << sectionBytes("ZVLC", 98, 3, 1, 1) << c << 0 << false << true << 0;
    QTest::newRow("foreign calibration magic") << s << sectionBytes("ZVLS", 200, 4, 2, 2) << 0 << true << false << 1;
    QTest::newRow("calibration partly outside the file") << s << c << 1 << true << false << 1;
    QTest::newRow("settings shorter than its magic") << QByteArray("ZVL") << c << 0 << false << true << 0;
    // The version words lie beyond this section; they must not be taken from the calibration behind it.
    QTest::newRow("settings with magic but no room for its version")
        << QByteArray("ZVLS\0\0\0\0", 8) << c << 0 << true << true << 0;
}

void TestFirmwareImage::sectionValidity()
{
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, calibration);
    QFETCH(int, cutTail);
    QFETCH(bool, settingsValid);
    QFETCH(bool, calibrationValid);
    QFETCH(int, settingsMajor);

    ImageSpec spec;
    spec.application = patternBytes(64, 9);
    spec.settings = settings;
    spec.calibration = calibration;
    QByteArray bytes = makeImage(spec);
    bytes.chop(cutTail);
    const FirmwareImage image(bytes);
    QCOMPARE(image.settingsSectionValid(), settingsValid);
    QCOMPARE(image.calibrationSectionValid(), calibrationValid);
    QCOMPARE(int(image.settingsVersionMajor()), settingsMajor);
    if (calibrationValid) {
        QCOMPARE(image.calibrationVersionMajor(), quint16(2));
        QCOMPARE(image.calibrationVersionMinor(), quint16(4));
    } else {
        QCOMPARE(image.calibrationVersionMajor(), quint16(0));
    }
}

void TestFirmwareImage::description_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ends at its zero byte") << QByteArray("Board A\0tail", 12) << 256 << QString("Board A");
    QTest::newRow("UTF-8 text") << QByteArray("Ladegerät") << 256 << QString::fromUtf8("Ladegerät");
    QTest::newRow("128 bytes without zero end at the header end")
        << QByteArray(128, 'd') << 256 << QString(128, QLatin1Char('d'));
    QTest::newRow("file ends inside the description") << QByteArray(128, 'e') << 140 << QString(12, QLatin1Char('e'));
    QTest::newRow("file ends before the description") << QByteArray("gone") << 100 << QString();
}

void TestFirmwareImage::description()
{
    QFETCH(QByteArray, field);
    QFETCH(int, fileSize);
    QFETCH(QString, expected);

    QByteArray bytes = makeImage(ImageSpec{});
    bytes.replace(128, 128, field.leftJustified(128, '\0', true));
    // The byte right behind the header is not a zero, so reading past 256 would show in the text.
    bytes.append('X');
    bytes.truncate(fileSize);
    QCOMPARE(FirmwareImage(QByteArray(bytes.constData(), bytes.size())).description(), expected);
}

void TestFirmwareImage::versionText_highByteFirst_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("text");
    QTest::newRow("0x0203") << 0x0203 << QString("2.3");
    QTest::newRow("0x0A05") << 0x0A05 << QString("10.5");
    QTest::newRow("0xFF00") << 0xFF00 << QString("255.0");
}

void TestFirmwareImage::versionText_highByteFirst()
{
    QFETCH(int, word);
    QFETCH(QString, text);
    QCOMPARE(FirmwareImage::versionText(quint16(word)), text);
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
