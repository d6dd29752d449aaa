#include "bench/terminal/benchlinetracker.h"
#include "bench/terminal/delayhistogram.h"
#include "bench/terminal/processmeter.h"
#include "bench/terminal/simprocess.h"
#include "sim/simfiles.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <vector>

// The parts of zavlo-bench-terminal that turn what it observes into figures.
class TestTerminalBenchParts : public QObject
{
    Q_OBJECT

private slots:
    void feed_rebuildsLinesAndCountsSequence_data();
    void feed_rebuildsLinesAndCountsSequence();
    void quantiles_ofKnownSamples_data();
    void quantiles_ofKnownSamples();
    void simStateFile_givesTheSimulatorsCounters_data();
    void simStateFile_givesTheSimulatorsCounters();
    void processMeter_seesTouchedMemoryAndThisThreadsCpu();
};

namespace {

const QString kPara(QChar::ParagraphSeparator);

QString line(int seq, int sentUs)
{
    return QStringLiteral("BENCH seq= %1 t_us= %2\r\n").arg(seq).arg(sentUs);
}

} // namespace

void TestTerminalBenchParts::feed_rebuildsLinesAndCountsSequence_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QList<qulonglong>>("seqs");
    QTest::addColumn<QList<qlonglong>>("sentUs");
    QTest::addColumn<int>("wireBytes");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("outOfOrder");
    QTest::addColumn<int>("repeated");
    QTest::addColumn<int>("malformed");

    QTest::newRow("two lines in one piece") << QStringList{line(1, 10) + line(2, 20)} << QList<qulonglong>{1, 2}
                                            << QList<qlonglong>{10, 20} << 46 << 0 << 0 << 0 << 0;
    QTest::newRow("line split inside a number")
        << QStringList{QStringLiteral("BENCH seq= 1"), QStringLiteral("2 t_us= 345\r\n")} << QList<qulonglong>{12}
        << QList<qlonglong>{345} << 25 << 0 << 0 << 0 << 0;
    QTest::newRow("CR and LF in separate pieces")
        << QStringList{QStringLiteral("BENCH seq= 1 t_us= 10\r"), QStringLiteral("\n") + line(2, 20)}
        << QList<qulonglong>{1, 2} << QList<qlonglong>{10, 20} << 46 << 0 << 0 << 0 << 0;
    QTest::newRow("paragraph separators as the pane gives them")
        << QStringList{kPara + QStringLiteral("BENCH seq= 5 t_us= 1") + kPara + QStringLiteral("BENCH seq= 6 t_us= 2") +
                       kPara}
        << QList<qulonglong>{5, 6} << QList<qlonglong>{1, 2} << 44 << 0 << 0 << 0 << 0;
    QTest::newRow("time stamps in front, as the pane and the log show them")
        << QStringList{QStringLiteral("12:00:01.250 BENCH seq= 3 t_us= 30\n12:00:01.2"),
                       QStringLiteral("60 BENCH seq= 4 t_us= 40\n")}
        << QList<qulonglong>{3, 4} << QList<qlonglong>{30, 40} << 46 << 0 << 0 << 0 << 0;
    QTest::newRow("unfinished last line waits for its end")
        << QStringList{line(1, 10) + QStringLiteral("BENCH seq= 2 t_us= 2")} << QList<qulonglong>{1}
        << QList<qlonglong>{10} << 23 << 0 << 0 << 0 << 0;
    QTest::newRow("gap counts as lost") << QStringList{line(1, 1), line(4, 4)} << QList<qulonglong>{1, 4}
                                        << QList<qlonglong>{1, 4} << 44 << 2 << 0 << 0 << 0;
    QTest::newRow("late line fills its gap")
        << QStringList{line(1, 1) + line(4, 4) + line(2, 2)} << QList<qulonglong>{1, 4, 2} << QList<qlonglong>{1, 4, 2}
        << 66 << 1 << 1 << 0 << 0;
    QTest::newRow("repeated line fills no gap")
        << QStringList{line(1, 1) + line(3, 3) + line(3, 3) + line(1, 1)} << QList<qulonglong>{1, 3, 3, 1}
        << QList<qlonglong>{1, 3, 3, 1} << 88 << 1 << 0 << 2 << 0;
    QTest::newRow("line before the first one seen") << QStringList{line(7, 7) + line(5, 5)} << QList<qulonglong>{7, 5}
                                                    << QList<qlonglong>{7, 5} << 44 << 0 << 0 << 1 << 0;
    QTest::newRow("two lines run together are damaged, not counted")
        << QStringList{QStringLiteral("BENCH seq= 1 t_us= 10BENCH seq= 2 t_us= 20\r\n") + line(3, 30)}
        << QList<qulonglong>{3} << QList<qlonglong>{30} << 23 << 0 << 0 << 0 << 1;
    QTest::newRow("other text is ignored") << QStringList{QStringLiteral("\r\nhello\r\nBENCHMARK\r\n") + line(9, 9)}
                                           << QList<qulonglong>{9} << QList<qlonglong>{9} << 22 << 0 << 0 << 0 << 1;
}

void TestTerminalBenchParts::feed_rebuildsLinesAndCountsSequence()
{
    QFETCH(QStringList, pieces);
    QFETCH(QList<qulonglong>, seqs);
    QFETCH(QList<qlonglong>, sentUs);
    QFETCH(int, wireBytes);
    QFETCH(int, lost);
    QFETCH(int, outOfOrder);
    QFETCH(int, repeated);
    QFETCH(int, malformed);

    BenchLineTracker tracker;
    QList<qulonglong> gotSeqs;
    QList<qlonglong> gotSent;
    int gotBytes = 0;
    for (const QString &piece : pieces) {
        for (const BenchLine &l : tracker.feed(piece)) {
            gotSeqs << l.seq;
            gotSent << l.sentUs;
            gotBytes += l.wireBytes;
        }
    }
    QCOMPARE(gotSeqs, seqs);
    QCOMPARE(gotSent, sentUs);
    QCOMPARE(gotBytes, wireBytes);
    QCOMPARE(tracker.shown(), quint64(seqs.size()));
    QCOMPARE(tracker.lost(), quint64(lost));
    QCOMPARE(tracker.outOfOrder(), quint64(outOfOrder));
    QCOMPARE(tracker.repeated(), quint64(repeated));
    QCOMPARE(tracker.malformed(), quint64(malformed));
}

void TestTerminalBenchParts::quantiles_ofKnownSamples_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<qint64>("exact");

    // Samples 1 .. 10000 us: the nearest-rank quantile is the rank itself.
    QTest::newRow("median") << 0.5 << qint64(5000);
    QTest::newRow("99th percentile") << 0.99 << qint64(9900);
    QTest::newRow("lowest") << 0.0 << qint64(1);
    QTest::newRow("highest") << 1.0 << qint64(10000);
}

void TestTerminalBenchParts::quantiles_ofKnownSamples()
{
    QFETCH(double, fraction);
    QFETCH(qint64, exact);

    std::vector<int64_t> samples;
    DelayHistogram histogram;
    // Descending, so that the window quantile has to reorder.
    for (int64_t us = 10000; us >= 1; --us) {
        samples.push_back(us);
        histogram.add(us);
    }
    QCOMPARE(quantileUs(samples, fraction), exact);
    // The histogram answers with its bucket's upper edge: never below, at most 1 % above.
    const int64_t approx = histogram.quantileUs(fraction);
    QVERIFY2(approx >= exact && double(approx) <= double(exact) * 1.01 + 1.0,
             qPrintable(QStringLiteral("%1 for %2").arg(approx).arg(exact)));
    QCOMPARE(histogram.maxUs(), int64_t(10000));
    QCOMPARE(histogram.count(), quint64(10000));
}

void TestTerminalBenchParts::simStateFile_givesTheSimulatorsCounters_data()
{
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<long>("sent");
    QTest::addColumn<long>("dropped");

    QTest::newRow("dump written by the simulator") << true << true << 123456L << 7L;
    QTest::newRow("no dump yet") << false << false << 0L << 0L;
}

void TestTerminalBenchParts::simStateFile_givesTheSimulatorsCounters()
{
    QFETCH(bool, written);
    QFETCH(bool, valid);
    QFETCH(long, sent);
    QFETCH(long, dropped);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (written) {
        BoardSnapshot snap;
        snap.mode = BoardMode::Application;
        snap.textLinesSent = sent;
        snap.textLinesDropped = dropped;
        std::string error;
        QVERIFY2(writeSnapshotFiles(dir.path().toStdString(), snap, &error), error.c_str());
    }
    const SimProcess::Counters c = SimProcess::readCounters(dir.path());
    QCOMPARE(c.valid, valid);
    QCOMPARE(c.linesSent, sent);
    QCOMPARE(c.linesDropped, dropped);
    if (valid)
        QCOMPARE(c.mode, QStringLiteral("app"));
}

void TestTerminalBenchParts::processMeter_seesTouchedMemoryAndThisThreadsCpu()
{
    constexpr size_t kBlockBytes = 64u << 20;
    constexpr double kSpinCpuSeconds = 0.3;

    const int64_t before = processmeter::residentKiB();
    QVERIFY(before > 0);
    std::vector<char> block(kBlockBytes);
    std::memset(block.data(), 1, block.size());
    // Pages may be shared or reclaimed at the edges; most of the block must show.
    QVERIFY2(processmeter::residentKiB() - before >= int64_t(kBlockBytes / 1024) * 3 / 4,
             qPrintable(QStringLiteral("%1 KiB before, %2 KiB after").arg(before).arg(processmeter::residentKiB())));

    const double start = processmeter::callingThreadCpuSeconds();
    volatile unsigned sink = 0;
    while (processmeter::callingThreadCpuSeconds() - start < kSpinCpuSeconds)
        sink = sink + 1;
    const int tid = processmeter::currentThreadId();
    const QVector<processmeter::ThreadTime> threads = processmeter::threadTimes();
    auto self = std::find_if(threads.begin(), threads.end(), [tid](const auto &t) { return t.tid == tid; });
    QVERIFY(self != threads.end());
    // The kernel counts in clock ticks: allow a few of them.
    QVERIFY2(self->cpuSeconds >= kSpinCpuSeconds - 0.05, qPrintable(QString::number(self->cpuSeconds)));
    QVERIFY(processmeter::processCpuSeconds() >= self->cpuSeconds - 0.05);
    QVERIFY(!self->name.isEmpty());
}

QTEST_APPLESS_MAIN(TestTerminalBenchParts)
#include "tst_terminalbenchparts.moc"
