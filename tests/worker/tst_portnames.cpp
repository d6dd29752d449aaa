#include "worker/portnames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The device file behind a port name, and the stable links found for it, on a folder of links.
class tst_PortNames : public QObject
{
    Q_OBJECT

private slots:
    void systemLocation_keepsPathsAndPutsBareNamesBelowDev_data();
    void systemLocation_keepsPathsAndPutsBareNamesBelowDev();
    void stableNames_areTheLinksThatLeadToTheDevice();
};

void tst_PortNames::systemLocation_keepsPathsAndPutsBareNamesBelowDev_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("location");
    QTest::newRow("bare name") << "ttyUSB0"
                               << "/dev/ttyUSB0";
    QTest::newRow("name below a dev folder") << "pts/3"
                                             << "/dev/pts/3";
    QTest::newRow("absolute path") << "/tmp/ttyZAVLO0"
                                   << "/tmp/ttyZAVLO0";
    QTest::newRow("relative paths") << "./tty0"
                                    << "./tty0";
    QTest::newRow("parent-relative path") << "../tty0"
                                          << "../tty0";
}

void tst_PortNames::systemLocation_keepsPathsAndPutsBareNamesBelowDev()
{
    QFETCH(QString, name);
    QFETCH(QString, location);
    QCOMPARE(PortNames::systemLocation(name), location);
}

void tst_PortNames::stableNames_areTheLinksThatLeadToTheDevice()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir root(dir.path());
    for (const char *sub : {"dev", "by-id", "by-path"})
        QVERIFY(root.mkpath(QString::fromLatin1(sub)));
    for (const char *device : {"dev/ttyUSB0", "dev/ttyUSB1"}) {
        QFile file(root.filePath(QString::fromLatin1(device)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // As udev makes them: relative links, one per adapter and socket.
    QVERIFY(QFile::link(QStringLiteral("../dev/ttyUSB0"), root.filePath(QStringLiteral("by-id/usb-Maker_B-port0"))));
    QVERIFY(QFile::link(QStringLiteral("../dev/ttyUSB0"), root.filePath(QStringLiteral("by-id/usb-Maker_A-port0"))));
    QVERIFY(QFile::link(QStringLiteral("../dev/ttyUSB1"), root.filePath(QStringLiteral("by-id/usb-Other-port0"))));
    QVERIFY(QFile::link(QStringLiteral("../dev/ttyUSB0"), root.filePath(QStringLiteral("by-path/pci-usb-0:2"))));
    QVERIFY(QFile::link(QStringLiteral("../dev/ttyUSB9"), root.filePath(QStringLiteral("by-path/pci-usb-0:3"))));

    const QStringList folders{root.filePath(QStringLiteral("by-id")), root.filePath(QStringLiteral("by-path")),
                              root.filePath(QStringLiteral("missing"))};
    QCOMPARE(PortNames::stableNames(root.filePath(QStringLiteral("dev/ttyUSB0")), folders),
             (QStringList{root.filePath(QStringLiteral("by-id/usb-Maker_A-port0")),
                          root.filePath(QStringLiteral("by-id/usb-Maker_B-port0")),
                          root.filePath(QStringLiteral("by-path/pci-usb-0:2"))}));
    // A link given as the device is the device it leads to; a device without links has none.
    QCOMPARE(PortNames::stableNames(root.filePath(QStringLiteral("by-id/usb-Other-port0")), folders),
             QStringList{root.filePath(QStringLiteral("by-id/usb-Other-port0"))});
    QCOMPARE(PortNames::stableNames(root.filePath(QStringLiteral("dev/ttyUSB9")), folders), QStringList());
}

QTEST_GUILESS_MAIN(tst_PortNames)
#include "tst_portnames.moc"
