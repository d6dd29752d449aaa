#include "worker/portnames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The stable links found for a device, on a folder of links as udev makes them.
class tst_PortNames : public QObject
{
    Q_OBJECT

private slots:
    void stableNames_areTheLinksThatLeadToTheDevice();
};

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
