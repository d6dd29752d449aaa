// Line split, table fill and dispatch of the FOD capture parse.

#include "fod/fodparser.h"
#include "tests/fod/fodmessagerecorder.h"

#include <QtTest>

#include <cmath>

namespace {

using Recorder = FodMessageRecorder;

const QString kRow = QStringLiteral("1 127700   1055   1903     80   1823   1482");

} // namespace

class TestFodParser : public QObject
{
    Q_OBJECT

private slots:
    void splitCapture_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("mixed line ends") << "a\r\nb\nc\rd" << QStringList{"a", "b", "c", "d"};
        QTest::newRow("blank lines dropped") << "\r\n\r\na\n\n\rb\r\n" << QStringList{"a", "b"};
        QTest::newRow("spaces are not blank") << "a\n  \nb" << QStringList{"a", "  ", "b"};
        QTest::newRow("nothing") << "\r\n\n" << QStringList{};
    }

    void splitCapture()
    {
        QFETCH(QString, capture);
        QFETCH(QStringList, lines);
        QCOMPARE(::splitCaptureLines(capture), lines);
    }

    void fillTable_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("rows");
        QTest::addColumn<float>("field2");
        QTest::newRow("sample line") << QString(FOD_SAMPLE_LINE) << 1 << 1055.0f;
        QTest::newRow("tabs and leading blanks") << "\t 2\t1 \t3000  4 5 6 7 " << 1 << 3000.0f;
        QTest::newRow("six numbers") << "1 2 3 4 5 6" << 0 << 0.0f;
        QTest::newRow("eight numbers") << "1 2 3 4 5 6 7 8" << 0 << 0.0f;
        QTest::newRow("equals sign skips seven numbers") << "1 2 3 4 5 6 =7" << 0 << 0.0f;
        QTest::newRow("board status line")
            << "Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0" << 0 << 0.0f;
        QTest::newRow("seven words read as zeros") << "a b c d e f g" << 1 << 0.0f;
        QTest::newRow("fractions and signs") << "2 0 .5 +5 -1e3 5. 1e-3" << 1 << 0.5f;
        QTest::newRow("hex and comma are not numbers") << "2 0 0x10 1,5 4 5 6" << 1 << 0.0f;
    }

    void fillTable()
    {
        QFETCH(QString, line);
        QFETCH(int, rows);
        QFETCH(float, field2);
        FodDataTable table;
        table.rows.assign(3, FodRow{9, 9, 9, 9, 9, 9, 9});
        QCOMPARE(fillFodDataTable(QStringList{line}, table), rows);
        QCOMPARE(table.count(), rows);
        if (rows)
            QCOMPARE(table.rows[0][2], field2);
    }

    // What QString::toFloat makes of the odd pieces the fit then has to live with.
    void fillTable_qtNumberRules_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<double>("value");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("nan") << "nan" << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("inf") << "inf" << inf;
        QTest::newRow("minus inf") << "-inf" << -inf;
        QTest::newRow("float overflow") << "1e39" << inf;
        QTest::newRow("float underflow") << "1e-50" << 0.0;
        QTest::newRow("infinity spelled out") << "infinity" << 0.0;
    }

    void fillTable_qtNumberRules()
    {
        QFETCH(QString, piece);
        QFETCH(double, value);
        FodDataTable table;
        QCOMPARE(fillFodDataTable(QStringList{"2 0 " + piece + " 4 5 6 7"}, table), 1);
        const double read = table.rows[0][2];
        if (std::isnan(value))
            QVERIFY(std::isnan(read));
        else
            QCOMPARE(read, value);
    }

    void fillTable_keepsAtMost4096Rows()
    {
        QStringList lines;
        for (int i = 0; i < 5000; ++i)
            lines << QStringLiteral("2 0 %1 4 5 6 7").arg(i);
        FodDataTable table;
        QCOMPARE(fillFodDataTable(lines, table), FOD_MAX_ROWS);
        QCOMPARE(table.rows.back()[2], 4095.0f);
    }

    void parse_fewerThanTwoRows_reportsNoParsableData()
    {
        Recorder recorder;
        FodDataTable table;
        FodGainResult result;
        const QStringList lines = {kRow, "1 2 3", "x = 1 2 3 4 5 6"};
        QVERIFY(!parseFodData(lines, FOD_BOARD_AUTOMOTIVE, table, result, recorder.messages()));
        QCOMPARE(recorder.output, QStringList{"No parsable FOD data!"});
        QCOMPARE(recorder.debug, (QStringList{"List length is 3", "No parsable FOD data!"}));
    }

    void parse_unknownBoard_isRefused()
    {
        Recorder recorder;
        FodDataTable table;
        FodGainResult result;
        QVERIFY(!parseFodData({kRow, kRow}, 2, table, result, recorder.messages()));
        QCOMPARE(recorder.output, QStringList{"Board NOT supposed for FOD calibration!"});
        QCOMPARE(recorder.debug, QStringList{"List length is 2"});
    }

    void parse_twoRows_runTheFitForTheBoard()
    {
        Recorder automotive, xmc;
        FodDataTable table;
        FodGainResult result;
        QVERIFY(parseFodData(splitCaptureLines(kRow + "\r\n" + kRow + "\n"), FOD_BOARD_AUTOMOTIVE, table, result,
                             automotive.messages()));
        QCOMPARE(table.count(), 2);
        QCOMPARE(automotive.debug.mid(0, 2), (QStringList{"List length is 2", "Fod Data length is 2"}));
        QVERIFY(automotive.output.value(0).startsWith("gv: "));
        QVERIFY(result.sets[0].gi > 0.0f);

        QVERIFY(!parseFodData({kRow, kRow}, FOD_BOARD_XMC, table, result, xmc.messages()));
        QCOMPARE(xmc.output, QStringList{"Gain value is missing from collected data!\r\n"});
    }

    void parse_infiniteFieldFailsTheFit()
    {
        Recorder recorder;
        FodDataTable table;
        FodGainResult result;
        QVERIFY(!parseFodData({kRow, "1 127700 1055 1903 80 1823 1e39"}, FOD_BOARD_AUTOMOTIVE, table, result,
                              recorder.messages()));
        QCOMPARE(recorder.output, QStringList{"No FOD parameters fit the captured data!\r\n"});
    }
};

QTEST_APPLESS_MAIN(TestFodParser)
#include "tst_fodparser.moc"
