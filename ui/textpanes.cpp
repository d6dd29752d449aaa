#include "ui/textpanes.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

// A board that prints for hours must not fill memory. Removing the top line lays the whole pane
// out again, so lines go a thousand at a time.
constexpr int kPaneMaxBlocks = 20000;
constexpr int kPaneTrimBlocks = 1000;

} // namespace

namespace TextPanes {

void prepare(QTextEdit *pane)
{
    // Board text is never edited; an undo history would only hold it twice.
    pane->setUndoRedoEnabled(false);
}

void append(QTextEdit *pane, const QString &text)
{
    pane->moveCursor(QTextCursor::End);
    pane->insertPlainText(text);
    pane->moveCursor(QTextCursor::End);
    QTextDocument *document = pane->document();
    if (document->blockCount() <= kPaneMaxBlocks)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                        document->blockCount() - (kPaneMaxBlocks - kPaneTrimBlocks));
    cursor.removeSelectedText();
}

} // namespace TextPanes
