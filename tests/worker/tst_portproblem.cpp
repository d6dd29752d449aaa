#include "worker/portproblem.h"

#include <QTest>

#include <cerrno>
#include <functional>

using Facts = std::function<void(PortFacts &)>;
Q_DECLARE_METATYPE(Facts)

// The one console line made from what the system told about a port that did not open or was lost.
class tst_PortProblem : public QObject
{
    Q_OBJECT

private slots:
    void text_saysWhyAndWhatToDo_data();
    void text_saysWhyAndWhatToDo();
};

void tst_PortProblem::text_saysWhyAndWhatToDo_data()
{
    QTest::addColumn<Facts>("facts");
    QTest::addColumn<QString>("text");

    QTest::newRow("permission: join the device's group")
        << Facts([](PortFacts &f) {
               f.error = EACCES;
               f.group = QStringLiteral("uucp");
               f.groupMayUse = true;
           })
        << "Permission denied on /dev/ttyUSB0: join its group uucp with `sudo usermod -aG uucp $USER`, then log out "
           "and in again.";
    QTest::newRow("permission: joined, but not this login")
        << Facts([](PortFacts &f) {
               f.error = EACCES;
               f.group = QStringLiteral("dialout");
               f.groupMayUse = true;
               f.inGroupNotInLogin = true;
           })
        << "Permission denied on /dev/ttyUSB0: you are in its group dialout, but this login is not yet: log out and "
           "in again.";
    QTest::newRow("busy: ModemManager, wherever it is in the list")
        << Facts([](PortFacts &f) {
               f.error = EBUSY;
               f.holders = {{77, QStringLiteral("cat")}, {812, QStringLiteral("ModemManager")}};
           })
        << "Busy: /dev/ttyUSB0 is in use by cat (PID 77), ModemManager (PID 812): stop it with `sudo systemctl stop "
           "ModemManager`, or keep it away from the port with the udev rules.";
    QTest::newRow("busy: a lock file whose process has ended")
        << Facts([](PortFacts &f) {
               f.error = EBUSY;
               f.staleLockFile = QStringLiteral("/var/lock/LCK..ttyUSB0");
               f.staleLockPid = 4242;
               f.portGrabbers = QStringList{QStringLiteral("ModemManager")};
           })
        << "Busy: /dev/ttyUSB0 is locked by /var/lock/LCK..ttyUSB0, left by PID 4242, which has ended: remove it "
           "with `sudo rm /var/lock/LCK..ttyUSB0`.";
    QTest::newRow("busy: holder unseen, ModemManager runs")
        << Facts([](PortFacts &f) {
               f.error = EBUSY;
               f.portGrabbers = QStringList{QStringLiteral("ModemManager")};
           })
        << "Busy: /dev/ttyUSB0 is in use, and ModemManager is running, which opens serial ports by itself: stop it "
           "with `sudo systemctl stop ModemManager`, or keep it away from the port with the udev rules.";
    QTest::newRow("not a serial port") << Facts([](PortFacts &f) {
        f.location = QStringLiteral("/home/u/image.bin");
        f.serialDevice = false;
        f.systemText = QStringLiteral("Inappropriate ioctl for device");
    }) << "/home/u/image.bin is not a serial port (Inappropriate ioctl for device).";
}

void tst_PortProblem::text_saysWhyAndWhatToDo()
{
    QFETCH(Facts, facts);
    QFETCH(QString, text);
    PortFacts port;
    port.location = QStringLiteral("/dev/ttyUSB0");
    facts(port);
    QCOMPARE(portProblemText(port), text);
}

QTEST_GUILESS_MAIN(tst_PortProblem)
#include "tst_portproblem.moc"
