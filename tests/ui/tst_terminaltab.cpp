#include "tests/common/ptypeer.h"
#include "tests/ui/windowtesthelpers.h"
#include "ui/terminalsession.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTime>

using namespace windowtest;

namespace {

QString numberedLines(int first, int count)
{
    QString text;
    for (int i = first; i < first + count; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    return text;
}

QString topLineInView(const QTextBrowser &pane)
{
    return pane.cursorForPosition(QPoint(0, 0)).block().text();
}

} // namespace

// The Terminal tab as the user works in it: a display-only pane whose view stays where it was
// put, time stamps, the send line, the session log.
class tst_TerminalTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void take_stampsEachLineWithTheTimeOfItsFirstCharacter_data();
    void take_stampsEachLineWithTheTimeOfItsFirstCharacter();
    void typedKeys_leaveThePaneUnchanged();
    void sentLine_reachesTheBoardByteForByte_data();
    void sentLine_reachesTheBoardByteForByte();
    void upAndDown_recallEarlierLines();
    void scrolledUpView_keepsItsTextAndSelectionWhileLinesArriveAndOldOnesGo();
    void sessionLog_holdsEveryLineAfterThePaneTrimmed_andClosesWithThePort();

private:
    QTemporaryDir home;
};

void tst_TerminalTab::initTestCase()
{
    prepareWindowTests();
    QVERIFY(home.isValid());
    // Settings and logs of the tests stay out of the user's own.
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toLocal8Bit());
}

void tst_TerminalTab::take_stampsEachLineWithTheTimeOfItsFirstCharacter_data()
{
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<QStringList>("pieces"); // piece i arrives at 12:34:5(6+i).789
    QTest::addColumn<QString>("expected");

    QTest::newRow("without stamps only the line ends change")
        << false << QStringList{QStringLiteral("a\r\nb\rc\nd")} << QStringLiteral("a\nb\nc\nd");
    QTest::newRow("every line of a piece") << true << QStringList{QStringLiteral("one\r\ntwo\r\n")}
                                           << QStringLiteral("12:34:56.789 one\n12:34:56.789 two\n");
    QTest::newRow("a line split across reads keeps the time of its first byte")
        << true << QStringList{QStringLiteral("hal"), QStringLiteral("f\r\nnext")}
        << QStringLiteral("12:34:56.789 half\n12:34:57.789 next");
    QTest::newRow("CR and LF in two reads end one line")
        << true << QStringList{QStringLiteral("a\r"), QStringLiteral("\nb")}
        << QStringLiteral("12:34:56.789 a\n12:34:57.789 b");
    QTest::newRow("empty lines carry no stamp")
        << true << QStringList{QStringLiteral("\r\n\r\nx")} << QStringLiteral("\n\n12:34:56.789 x");
}

void tst_TerminalTab::take_stampsEachLineWithTheTimeOfItsFirstCharacter()
{
    QFETCH(bool, stamps);
    QFETCH(QStringList, pieces);
    QFETCH(QString, expected);
    TerminalSession session;
    session.setTimeStamps(stamps);
    QString shown;
    for (int i = 0; i < pieces.size(); ++i)
        shown += session.take(pieces.at(i), QTime(12, 34, 56 + i, 789));
    QCOMPARE(shown, expected);
}

void tst_TerminalTab::typedKeys_leaveThePaneUnchanged()
{
    auto window = makeWindow();
    auto *pane = widget<QTextBrowser>(*window, "terminalOutput");
    window->terminalOutputMessage(QStringLiteral("board text\r\n"));
    QTest::keyClicks(pane, QStringLiteral("typed"));
    QTest::keyClick(pane, Qt::Key_Backspace);
    QTest::keyClick(pane, Qt::Key_Return);
    QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pane->toPlainText(), QStringLiteral("board text\n"));
}

void tst_TerminalTab::sentLine_reachesTheBoardByteForByte_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("CR") << QStringLiteral("CR") << QByteArray("AT+V \xC3\xA9\r");
    QTest::newRow("LF") << QStringLiteral("LF") << QByteArray("AT+V \xC3\xA9\n");
    QTest::newRow("CR+LF") << QStringLiteral("CR+LF") << QByteArray("AT+V \xC3\xA9\r\n");
    QTest::newRow("none") << QStringLiteral("None") << QByteArray("AT+V \xC3\xA9");
}

void tst_TerminalTab::sentLine_reachesTheBoardByteForByte()
{
    QFETCH(QString, ending);
    QFETCH(QByteArray, expected);
    PtyPeer board;
    QVERIFY(board.isOpen());
    MainWindow::setComPortEnumerator([&board] { return QList<MainWindow::ComPortEntry>{port(board.portName())}; });
    auto window = std::make_unique<MainWindow>();
    auto *input = widget<QLineEdit>(*window, "terminalInput");
    auto *endings = widget<QComboBox>(*window, "terminalLineEndingBox");
    QVERIFY(!input->isEnabled());

    // The Terminal tab first, so that the worker never looks for a bootloader on this line.
    tabs(*window)->setCurrentIndex(kTerminalTab);
    QVERIFY(!input->isEnabled());
    button(*window, "comPortConnectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(input->isEnabled(), 10000);

    const int index = endings->findText(ending);
    QVERIFY(index >= 0);
    endings->setCurrentIndex(index);
    emit endings->activated(index);
    QTest::keyClicks(input, QStringLiteral("AT+V "));
    // Not ASCII: sent as UTF-8.
    QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown, QString::fromUtf8("\xC3\xA9"), Qt::NoModifier);
    QTest::keyClick(input, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(board.received(), expected, 10000);
    QVERIFY(input->text().isEmpty());

    // The choice is remembered for the next start.
    window.reset();
    auto next = makeWindow();
    QCOMPARE(widget<QComboBox>(*next, "terminalLineEndingBox")->currentText(), ending);
}

void tst_TerminalTab::upAndDown_recallEarlierLines()
{
    auto window = makeWindow();
    auto *input = widget<QLineEdit>(*window, "terminalInput");
    QSignalSpy sent(window.get(), &MainWindow::terminalSendRequest);
    QVERIFY(sent.isValid());
    window->connectCOMPortResponse(true);
    tabs(*window)->setCurrentIndex(kTerminalTab);
    for (const QString &line : {QStringLiteral("first"), QStringLiteral("second")}) {
        input->setText(line);
        QTest::keyClick(input, Qt::Key_Return);
    }
    QCOMPARE(sent.count(), 2);
    input->setText(QStringLiteral("draft"));

    QStringList shown;
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) {
        QTest::keyClick(input, key);
        shown << input->text();
    }
    QCOMPARE(shown, (QStringList{QStringLiteral("second"), QStringLiteral("first"), QStringLiteral("first"),
                                 QStringLiteral("second"), QStringLiteral("draft"), QStringLiteral("draft")}));
}

void tst_TerminalTab::scrolledUpView_keepsItsTextAndSelectionWhileLinesArriveAndOldOnesGo()
{
    auto window = makeWindow();
    window->resize(900, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    tabs(*window)->setCurrentIndex(kTerminalTab);
    auto *pane = widget<QTextBrowser>(*window, "terminalOutput");
    QScrollBar *bar = pane->verticalScrollBar();

    window->terminalOutputMessage(numberedLines(0, 3000));
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 0 && bar->value() == bar->maximum(), 10000);

    // The user selects a line and scrolls up to it.
    const QTextBlock selected = pane->document()->findBlockByNumber(2500);
    QTextCursor selection(selected);
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    pane->setTextCursor(selection);
    bar->setValue(bar->maximum() * 2500 / 3000);
    const int value = bar->value();
    const QString top = topLineInView(*pane);

    int maximum = bar->maximum();
    window->terminalOutputMessage(numberedLines(3000, 100));
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > maximum, 10000);
    QCOMPARE(bar->value(), value);
    QCOMPARE(topLineInView(*pane), top);
    QCOMPARE(pane->textCursor().selectedText(), QStringLiteral("line 2500"));

    // 20600 lines and the empty one after them: the oldest 1601 go, the view stays on its text.
    window->terminalOutputMessage(numberedLines(3100, 17500));
    QCOMPARE(pane->document()->firstBlock().text(), QStringLiteral("line 1601"));
    QCOMPARE(topLineInView(*pane), top);
    QCOMPARE(pane->textCursor().selectedText(), QStringLiteral("line 2500"));

    // "End" goes back to following the newest text.
    button(*window, "terminalEndButton")->click();
    maximum = bar->maximum();
    window->terminalOutputMessage(numberedLines(20600, 100));
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > maximum && bar->value() == bar->maximum(), 10000);
}

void tst_TerminalTab::sessionLog_holdsEveryLineAfterThePaneTrimmed_andClosesWithThePort()
{
    constexpr int kLines = 25000;
    auto window = makeWindow();
    auto *pane = widget<QTextBrowser>(*window, "terminalOutput");
    auto *log = button(*window, "terminalLogButton");
    window->connectCOMPortResponse(true);
    tabs(*window)->setCurrentIndex(kTerminalTab);
    button(*window, "terminalTimeStampsBox")->click();
    log->click();
    QVERIFY(log->isChecked());

    // In pieces that split lines anywhere, as reads do.
    const QString text = numberedLines(0, kLines);
    for (int at = 0; at < text.size(); at += 7001)
        window->terminalOutputMessage(text.mid(at, 7001));
    QVERIFY(pane->document()->blockCount() <= 20000);
    QVERIFY(!pane->document()->firstBlock().text().endsWith(QStringLiteral(" line 0")));

    window->disconnectCOMPortResponse();
    QVERIFY(!log->isChecked());

    const QDir logs(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/zavlo-gui/logs"));
    const QStringList files = logs.entryList({QStringLiteral("*.log")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile file(logs.filePath(files.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), kLines + 1);
    QCOMPARE(lines.last(), QString());
    static const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d line (\\d+)$"));
    for (int i = 0; i < kLines; ++i) {
        const QRegularExpressionMatch match = stamped.match(lines.at(i));
        QVERIFY2(match.hasMatch() && match.captured(1).toInt() == i, qPrintable(lines.at(i)));
    }
}

QTEST_MAIN(tst_TerminalTab)
#include "tst_terminaltab.moc"
