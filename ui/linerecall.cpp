#include "ui/linerecall.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

constexpr int kMaxRecalledLines = 100;

} // namespace

LineRecall::LineRecall(QLineEdit *input) : QObject(input), input(input)
{
    input->installEventFilter(this);
}

void LineRecall::add(const QString &line)
{
    if (!line.isEmpty() && (lines.isEmpty() || lines.last() != line))
        lines.append(line);
    while (lines.size() > kMaxRecalledLines)
        lines.removeFirst();
    shown = lines.size();
    draft.clear();
}

bool LineRecall::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != input || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down)
        return QObject::eventFilter(watched, event);
    const int next = key == Qt::Key_Up ? shown - 1 : shown + 1;
    if (next < 0 || next > lines.size())
        return true;
    if (shown == lines.size())
        draft = input->text();
    shown = next;
    input->setText(shown == lines.size() ? draft : lines.at(shown));
    return true;
}
