#include "target/responseassembler.h"

#include <QtTest>

// The frame assembler on its own: any chunking of the same bytes gives the same frame.
class TestResponseAssembler : public QObject
{
    Q_OBJECT

private slots:
    void everyChunking_givesSameFrame_data();
    void everyChunking_givesSameFrame();
    void invalidLength_neverCompletes_data();
    void invalidLength_neverCompletes();
    void bufferUntouchedUntilLengthArrives();
};

void TestResponseAssembler::everyChunking_givesSameFrame_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("trailing");

    const QByteArray frame = QByteArray::fromHex("5a0608000102aabb");
    QTest::newRow("clean") << frame << frame << QByteArray();
    QTest::newRow("noise first") << QByteArray::fromHex("00015b") + frame << frame << QByteArray();
    QTest::newRow("noise ending next to the start byte")
        << QByteArray::fromHex("5b5a0107") << QByteArray::fromHex("5a0107") << QByteArray();
    QTest::newRow("shortest frame") << QByteArray::fromHex("5a0107") << QByteArray::fromHex("5a0107") << QByteArray();
    QTest::newRow("longest frame") << QByteArray::fromHex("5a7f") + QByteArray(127, 'x')
                                   << QByteArray::fromHex("5a7f") + QByteArray(127, 'x') << QByteArray();
    QTest::newRow("trailing bytes") << frame + "tail" << frame << QByteArray("tail");
}

void TestResponseAssembler::everyChunking_givesSameFrame()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, trailing);

    // Cut the stream at every possible pair of places.
    for (int a = 0; a <= stream.size(); ++a) {
        for (int b = a; b <= stream.size(); ++b) {
            ResponseAssembler assembler(0x5A);
            QByteArray response;
            const QList<QByteArray> chunks{stream.left(a), stream.mid(a, b - a), stream.mid(b)};
            bool done = false;
            QByteArray rest;
            for (const QByteArray &chunk : chunks) {
                if (done) {
                    rest += chunk;
                    continue;
                }
                done = assembler.feed(chunk.constData(), chunk.size(), response);
            }
            QVERIFY2(done, qPrintable(QString("cut at %1/%2").arg(a).arg(b)));
            // Trailing bytes of the completing chunk stay behind the frame; later chunks are not fed.
            QCOMPARE((response + rest).left(frame.size()), frame);
            QCOMPARE(response.mid(frame.size()) + rest, trailing);
        }
    }
}

void TestResponseAssembler::invalidLength_neverCompletes_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("0") << 0x00;
    QTest::newRow("0x80") << 0x80;
    QTest::newRow("0xFE") << 0xFE;
    QTest::newRow("0xFF") << 0xFF;
}

void TestResponseAssembler::invalidLength_neverCompletes()
{
    QFETCH(int, length);
    ResponseAssembler assembler(0x5A);
    QByteArray response;
    QByteArray stream;
    stream.append(char(0x5A)).append(char(length)).append(QByteArray(400, char(0x5A)));
    QVERIFY(!assembler.feed(stream.constData(), stream.size(), response));
    QCOMPARE(assembler.state(), ResponseAssembler::State::Body);
    QVERIFY(response.size() <= 2);
}

void TestResponseAssembler::bufferUntouchedUntilLengthArrives()
{
    ResponseAssembler assembler(0x5A);
    QByteArray response("previous");
    const QByteArray noise = QByteArray::fromHex("0102035a");
    QVERIFY(!assembler.feed(noise.constData(), noise.size(), response));
    QCOMPARE(response, QByteArray("previous"));
    QCOMPARE(assembler.state(), ResponseAssembler::State::AwaitingLength);
}

QTEST_GUILESS_MAIN(TestResponseAssembler)
#include "tst_responseassembler.moc"
