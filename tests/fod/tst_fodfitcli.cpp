// The zavlo-fodfit command-line tool on capture files.

#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
};

Run runTool(const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("ZAVLO_BIN_DIR") + QStringLiteral("/zavlo-fodfit"), arguments);
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLatin1(process.readAllStandardOutput());
    return run;
}

QString writeCapture(QTemporaryDir &dir, const QByteArray &text)
{
    const QString path = dir.filePath(QStringLiteral("capture.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return path;
}

const QByteArray kCapture = "FOD start\r\n"
                            "1 127700   1055   1903     80   1823   1482\r\n"
                            "Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0\r\n"
                            "1 127500   2400   2210     95   1800   1371\n"
                            "1 127600   3300   2650    120   1810   1009\r";

} // namespace

class TestFodFitCli : public QObject
{
    Q_OBJECT

private slots:
    void automotiveCapture_printsPaneLinesParametersAndBytes()
    {
        QTemporaryDir dir;
        const QString path = writeCapture(dir, kCapture);
        QVERIFY(!path.isEmpty());
        const Run fast = runTool({QStringLiteral("--board"), QStringLiteral("auto"), path});
        QCOMPARE(fast.exitCode, 0);
        const QStringList lines = fast.out.split('\n');
        QCOMPARE(lines.value(0), QStringLiteral("Calculating Gains for Auto Board...\r"));
        QVERIFY2(lines.value(1).startsWith(QStringLiteral("gv: ")) && lines.value(1).endsWith('\r'),
                 qPrintable(fast.out));
        QVERIFY(lines.value(2).startsWith(QStringLiteral("set 0: gv ")));
        QCOMPARE(lines.value(3), QStringLiteral("calibration bytes:"));
        const QStringList offsets = {"184", "296", "600", "604", "612", "616", "620"};
        for (int i = 0; i < offsets.size(); ++i)
            QVERIFY2(lines.value(4 + i).trimmed().startsWith(offsets[i] + ':'), qPrintable(fast.out));
        QVERIFY(lines.value(10).contains(QStringLiteral("620: 00 00 00 00")));

        const Run reference = runTool({QStringLiteral("--reference"), QStringLiteral("-t"), QStringLiteral("1"), path});
        QCOMPARE(reference.exitCode, 0);
        QCOMPARE(reference.out, fast.out);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<QString>("board");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::newRow("nothing captured")
            << QByteArray("\r\n\r\n") << "xmc" << 1 << "Calculating Gains for XMC Board...\r\nNo captured data!\r\n";
        QTest::newRow("one data line") << QByteArray("1 2 3 4 5 6 7\r\nhello\r\n") << "0" << 1
                                       << "Calculating Gains for Auto Board...\r\nNo parsable FOD data!\n";
        QTest::newRow("xmc without gain tags") << kCapture << "1" << 1
                                               << "Calculating Gains for XMC Board...\r\n"
                                                  "Gain value is missing from collected data!\r\n\n";
        QTest::newRow("unsupported board") << kCapture << "7" << 1 << "Board NOT supposed for FOD calibration!\n";
        QTest::newRow("unknown board name") << kCapture << "qi" << 2 << "";
    }

    void failures()
    {
        QFETCH(QByteArray, capture);
        QFETCH(QString, board);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QTemporaryDir dir;
        const QString path = writeCapture(dir, capture);
        const Run run = runTool({QStringLiteral("-b"), board, path});
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
    }

    // The environment names a display platform and no display: the tool must draw offscreen itself.
    void plotAndJson_agreeWithTheTextOutput()
    {
        QTemporaryDir dir;
        const QString path = writeCapture(dir, kCapture);
        const Run text = runTool({path});
        QCOMPARE(text.exitCode, 0);
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        noDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        noDisplay.remove(QStringLiteral("DISPLAY"));
        noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const QString png = dir.filePath(QStringLiteral("fit.png"));
        const QString svg = dir.filePath(QStringLiteral("fit.svg"));
        const Run json = runTool({QStringLiteral("--json"), QStringLiteral("--plot"), png, path}, noDisplay);
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(runTool({QStringLiteral("--plot"), svg, path}, noDisplay).out, text.out);

        QFile pngFile(png), svgFile(svg);
        QVERIFY(pngFile.open(QIODevice::ReadOnly) && svgFile.open(QIODevice::ReadOnly));
        QVERIFY(pngFile.read(8) == QByteArray("\x89PNG\r\n\x1a\n") && pngFile.size() > 10000);
        QVERIFY(svgFile.readAll().contains("<svg") && svgFile.size() > 10000);

        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(json.out.toLatin1(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(object.value("paneText").toString(), text.out.section('\n', 0, 1) + '\n');
        const QJsonObject set = object.value("sets").toArray().at(0).toObject();
        QCOMPARE(set.value("rowsUsed").toInt(), 3);
        const QJsonObject p = set.value("parameters").toObject();
        const QString parameters = QString::asprintf("set 0: gv %f  gi %f  delta_esr %f  fod_offset %f  factor1 %f  "
                                                     "factor2 %f",
                                                     p.value("gv").toDouble(), p.value("gi").toDouble(),
                                                     p.value("delta_esr").toDouble(), p.value("fod_offset").toDouble(),
                                                     p.value("factor1").toDouble(), p.value("factor2").toDouble());
        QCOMPARE(parameters, text.out.section('\n', 2, 2));
        const QJsonArray bytes = object.value("calibrationBytes").toArray();
        QCOMPARE(bytes.size(), 7);
        QVERIFY(text.out.contains(QStringLiteral("%1: %2")
                                      .arg(bytes.at(0).toObject().value("offset").toInt(), 4)
                                      .arg(bytes.at(0).toObject().value("bytes").toString())));
    }

    void missingFile_isAUsageError() { QCOMPARE(runTool({QStringLiteral("/nonexistent/capture.txt")}).exitCode, 2); }
};

QTEST_GUILESS_MAIN(TestFodFitCli)
#include "tst_fodfitcli.moc"
