#include "bench/terminal/panewatcher.h"

#include "bench/terminal/processmeter.h"

#include <QEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <utility>

namespace {

// Adds the calling thread's CPU time between construction and destruction to a total.
class CpuSpan
{
public:
    explicit CpuSpan(double &total) : total(total), start(processmeter::callingThreadCpuSeconds()) {}
    ~CpuSpan() { total += processmeter::callingThreadCpuSeconds() - start; }
    CpuSpan(const CpuSpan &) = delete;
    CpuSpan &operator=(const CpuSpan &) = delete;

private:
    double &total;
    double start;
};

} // namespace

PaneWatcher::PaneWatcher(QTextEdit *pane, size_t expectedLinesPerWindow, QObject *parent) : QObject(parent), pane(pane)
{
    // Reserved and touched up front, so that the watcher's own memory does not grow in the run.
    for (Window *w : {&current, &handedOver}) {
        w->inPaneUs.resize(expectedLinesPerWindow);
        w->paintedUs.resize(expectedLinesPerWindow);
        w->inPaneUs.clear();
        w->paintedUs.clear();
    }
    connect(pane->document(), &QTextDocument::contentsChange, this, &PaneWatcher::contentsChange);
    pane->viewport()->installEventFilter(this);
}

PaneWatcher::Window &PaneWatcher::takeWindow()
{
    std::swap(current, handedOver);
    current.lines = 0;
    current.wireBytes = 0;
    current.paints = 0;
    current.inPaneUs.clear();
    current.paintedUs.clear();
    return handedOver;
}

void PaneWatcher::contentsChange(int position, int charsRemoved, int charsAdded)
{
    CpuSpan span(ownCpu);
    if (position == 0 && charsRemoved > 0 && charsAdded == 0)
        trimSeen = true;
    blocksHigh = std::max(blocksHigh, pane->document()->blockCount());
    if (charsAdded <= 0)
        return;
    if (charsRemoved > 0)
        ++oddChanges;
    const int64_t now = processmeter::monotonicUs();
    QTextCursor cursor(pane->document());
    cursor.setPosition(position);
    cursor.setPosition(position + charsAdded, QTextCursor::KeepAnchor);
    const QString text = cursor.selectedText();
    for (const BenchLine &line : lines.feed(text)) {
        const int64_t delay = now - line.sentUs;
        current.inPaneUs.push_back(delay);
        inPaneAll.add(delay);
        ++current.lines;
        current.wireBytes += uint64_t(line.wireBytes);
        awaitingPaint.push_back(line.sentUs);
    }
}

bool PaneWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && !awaitingPaint.empty()) {
        CpuSpan span(ownCpu);
        const int64_t now = processmeter::monotonicUs();
        ++current.paints;
        for (int64_t sentUs : awaitingPaint) {
            current.paintedUs.push_back(now - sentUs);
            paintedAll.add(now - sentUs);
        }
        awaitingPaint.clear();
    }
    return QObject::eventFilter(watched, event);
}
