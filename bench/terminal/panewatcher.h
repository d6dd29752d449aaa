#pragma once

#include "bench/terminal/benchlinetracker.h"
#include "bench/terminal/delayhistogram.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <vector>

class QTextEdit;

// Watches the terminal pane: each benchmark line is timed when it enters the pane's document
// and again when the pane next paints, both against the time the simulator began to send it.
class PaneWatcher : public QObject
{
    Q_OBJECT

public:
    // What one report window saw. The vectors keep their capacity from window to window.
    struct Window {
        uint64_t lines = 0;
        uint64_t wireBytes = 0;
        uint64_t paints = 0;
        std::vector<int64_t> inPaneUs;
        std::vector<int64_t> paintedUs;
    };

    PaneWatcher(QTextEdit *pane, size_t expectedLinesPerWindow, QObject *parent = nullptr);

    // Hands over the current window and starts a new one.
    Window &takeWindow();

    const BenchLineTracker &tracker() const { return lines; }
    const DelayHistogram &inPaneRun() const { return inPaneAll; }
    const DelayHistogram &paintedRun() const { return paintedAll; }
    // CPU time of the GUI thread spent in this watcher, to tell it apart from the tool's.
    double ownCpuSeconds() const { return ownCpu; }
    // Whether the pane has dropped text at its top yet: its bound has been reached.
    bool trimmed() const { return trimSeen; }
    int mostBlocks() const { return blocksHigh; }
    // Document changes that both removed and added text: the pane was not only appended to.
    uint64_t unexpectedChanges() const { return oddChanges; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void contentsChange(int position, int charsRemoved, int charsAdded);

    QTextEdit *pane;
    BenchLineTracker lines;
    Window current;
    Window handedOver;
    // Send times of lines that are in the document but not yet painted.
    std::deque<int64_t> awaitingPaint;
    DelayHistogram inPaneAll;
    DelayHistogram paintedAll;
    double ownCpu = 0;
    uint64_t oddChanges = 0;
    bool trimSeen = false;
    int blocksHigh = 0;
};
