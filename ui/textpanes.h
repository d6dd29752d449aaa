#pragma once

#include <QObject>
#include <QString>

class QTextEdit;

// A pane for board text, display only. Text goes in at the end of the document, so the user's
// selection stays where it is; the view follows the newest text only while it is at the bottom,
// and keeps showing the same text when the oldest lines go to keep the pane within its bound.
class TextPane : public QObject
{
    Q_OBJECT

public:
    // Sets the pane up for board text; the TextPane is a child of the pane.
    static TextPane *attach(QTextEdit *pane);
    static TextPane *of(QTextEdit *pane);

    void append(const QString &text);
    void clear();
    // Shows the newest text and follows it again.
    void followTail();
    bool following() const { return follow; }

private:
    explicit TextPane(QTextEdit *pane);
    void trim();
    void scrollTo(int value);

    QTextEdit *pane;
    bool follow = true;
    // Set while the scroll bar moves on our behalf, so that only the user's moves count.
    bool scrolling = false;
};

// The FOD pane's way in: the same behaviour without holding on to the TextPane.
namespace TextPanes {

void prepare(QTextEdit *pane);
void append(QTextEdit *pane, const QString &text);

} // namespace TextPanes
