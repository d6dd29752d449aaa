#include "ui/textpanes.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

// A board that prints for hours must not fill memory. Removing the top line lays the whole pane
// out again, so lines go a thousand at a time.
constexpr int kPaneMaxBlocks = 20000;
constexpr int kPaneTrimBlocks = 1000;

} // namespace

TextPane *TextPane::attach(QTextEdit *pane)
{
    // Board text is never edited; an undo history would only hold it twice.
    pane->setUndoRedoEnabled(false);
    return new TextPane(pane);
}

TextPane *TextPane::of(QTextEdit *pane)
{
    return pane->findChild<TextPane *>(QString(), Qt::FindDirectChildrenOnly);
}

TextPane::TextPane(QTextEdit *pane) : QObject(pane), pane(pane)
{
    QScrollBar *bar = pane->verticalScrollBar();
    // The range grows after the document has been laid out, which may be later than the append.
    connect(bar, &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        // Text that fits the view is all at the bottom.
        if (maximum == 0)
            follow = true;
        if (follow)
            scrollTo(maximum);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!scrolling)
            follow = value >= bar->maximum();
    });
}

void TextPane::append(const QString &text)
{
    if (text.isEmpty())
        return;
    // A cursor of our own: the widget's cursor carries the user's selection.
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    trim();
}

void TextPane::clear()
{
    pane->clear();
    followTail();
}

void TextPane::followTail()
{
    follow = true;
    scrollTo(pane->verticalScrollBar()->maximum());
}

void TextPane::trim()
{
    QTextDocument *document = pane->document();
    if (document->blockCount() <= kPaneMaxBlocks)
        return;
    const QTextBlock firstKept =
        document->findBlockByNumber(document->blockCount() - (kPaneMaxBlocks - kPaneTrimBlocks));
    int removedHeight = 0;
    if (!follow) {
        const QAbstractTextDocumentLayout *layout = document->documentLayout();
        removedHeight = qRound(layout->blockBoundingRect(firstKept).top() -
                               layout->blockBoundingRect(document->firstBlock()).top());
    }
    QTextCursor cursor(document);
    cursor.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    // The text under the view moved up by what went; the view goes with it.
    if (!follow)
        scrollTo(pane->verticalScrollBar()->value() - removedHeight);
}

void TextPane::scrollTo(int value)
{
    scrolling = true;
    pane->verticalScrollBar()->setValue(value);
    scrolling = false;
}

namespace TextPanes {

void prepare(QTextEdit *pane)
{
    TextPane::attach(pane);
}

void append(QTextEdit *pane, const QString &text)
{
    if (TextPane *textPane = TextPane::of(pane))
        textPane->append(text);
}

} // namespace TextPanes
