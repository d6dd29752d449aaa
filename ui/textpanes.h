#pragma once

#include <QString>

class QTextEdit;

// The Terminal and FOD panes: display only, board text appended exactly as received.
namespace TextPanes {

// Sets a pane up for board text that is never edited.
void prepare(QTextEdit *pane);

// Appends at the end whatever the cursor was moved to, and keeps the pane within its bound.
void append(QTextEdit *pane, const QString &text);

} // namespace TextPanes
