// Capture files through the worker: a loaded file is fitted like a capture, a saved capture is the
// captured bytes, an oversized file is refused; one fit report per calculation.

#include "fod/fodcapturefile.h"
#include "worker/serialworker.h"

#include <QtTest>

namespace {

QString joined(const QSignalSpy &spy)
{
    QString text;
    for (const QList<QVariant> &args : spy)
        text += args.at(0).toString();
    return text;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lines of an Automotive board with a status line, a byte above 127 and mixed line ends; the
// references scatter a few units around gi 0.95, fod_offset 0.05, delta_esr 0.25, f1 1.02, f2 1.05.
const QByteArray kCapture = "FOD start \xb0\r\n"
                            "1 127700   1055   1903     80   1823   1811.0\r\n"
                            "Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0\r\n"
                            "1 127500   2400   2210     95   1800   1912.4\n"
                            "1 127600   3300   2650    120   1810   1995.1\r\n"
                            "1 127600    700   1200     60   1810   1149.8\r\n"
                            "1 127600   2900   2480    110   1810   2055.6\r\n";

struct Calculation {
    QString text;
    FodFitReport report;
    int reports = 0;
};

Calculation calculate(SerialWorker &worker)
{
    QSignalSpy fod(&worker, &SerialWorker::fodOutputMessage);
    QSignalSpy reports(&worker, &SerialWorker::fodFitReport);
    worker.fodCalculateGains(FOD_BOARD_AUTOMOTIVE);
    Calculation c;
    c.text = joined(fod);
    c.reports = reports.count();
    if (!reports.isEmpty())
        c.report = reports.first().at(0).value<FodFitReport>();
    return c;
}

} // namespace

class TestFodCaptureFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerCrossThreadTypes(); }

    void savedThenLoaded_givesTheSameBytesAndTheSameFit()
    {
        QTemporaryDir dir;
        const QString original = dir.filePath("original.txt");
        const QString saved = dir.filePath("saved.txt");
        QFile file(original);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kCapture) == kCapture.size());
        file.close();

        SerialWorker worker;
        QSignalSpy fod(&worker, &SerialWorker::fodOutputMessage);
        worker.fodLoadCapture(original);
        QCOMPARE(joined(fod),
                 QStringLiteral("Capture loaded from %1 (%2 bytes).\r\n").arg(original).arg(kCapture.size()) +
                     QString::fromUtf8(kCapture));
        const Calculation first = calculate(worker);
        QCOMPARE(first.reports, 1);
        QCOMPARE(int(first.report.sets.size()), 1);
        QVERIFY(first.report.sets[0].fitted);
        QCOMPARE(first.report.sets[0].rowsUsed(), 5);
        // The quality line follows the parameter line, before the write's own text.
        QVERIFY2(first.text.contains(QRegularExpression("^Calculating Gains for Auto Board...\r\ngv: [^\n]*\r\n"
                                                        "fit: 5 rows used   RMS residual [^\n]*\r\n"
                                                        "COM port is not open")),
                 qPrintable(first.text));

        worker.fodSaveCapture(saved);
        QCOMPARE(readAll(saved), kCapture);

        worker.fodClearCapture();
        worker.fodLoadCapture(saved);
        const Calculation second = calculate(worker);
        QCOMPARE(second.text, first.text);
        QCOMPARE(second.report.sets[0].rmsResidual, first.report.sets[0].rmsResidual);
        QCOMPARE(second.report.sets[0].parameters.gi, first.report.sets[0].parameters.gi);
    }

    void refusedFile_keepsTheCapture_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("reason");
        QTest::newRow("one byte over 16 MiB")
            << FOD_CAPTURE_FILE_MAX_BYTES + 1 << "the file is larger than 16 MiB, which no capture is.";
        QTest::newRow("missing file") << qint64(-1) << "No such file or directory";
    }

    void refusedFile_keepsTheCapture()
    {
        QFETCH(qint64, size);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("capture.txt");
        if (size >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        }
        SerialWorker worker;
        QSignalSpy fod(&worker, &SerialWorker::fodOutputMessage);
        worker.fodLoadCapture(path);
        QCOMPARE(joined(fod), QStringLiteral("Capture not loaded from %1: %2\r\n").arg(path, reason));
        // Nothing was taken in: the calculation finds nothing, and still reports once, empty.
        const Calculation c = calculate(worker);
        QCOMPARE(c.text, QStringLiteral("Calculating Gains for Auto Board...\r\nNo captured data!\r\n"));
        QCOMPARE(c.reports, 1);
        QVERIFY(c.report.sets.empty());
    }
};

QTEST_GUILESS_MAIN(TestFodCaptureFile)
#include "tst_fodcapturefile.moc"
