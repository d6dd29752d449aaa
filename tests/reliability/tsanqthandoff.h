#pragma once

#include <QApplication>

// Qt 5 is not built with ThreadSanitizer: the mutexes and semaphores with which its event queues
// hand signals from one thread to the other are invisible to it, so every argument and event that
// crosses threads looks like a race. Under ThreadSanitizer these hooks mark Qt's hand-overs:
// emitting a signal from our code publishes what the emitter wrote (and a blocking queued call
// returns with what the receiver wrote), and delivering an event takes it in. Only our calls into
// Qt are hooked; a race between our own accesses that no signal or event orders is still reported.
void tsanEventDeliveryBegins();
void tsanEventDeliveryEnds();

// The test's application object: every event in every thread passes through notify().
class HandoffApplication : public QApplication
{
public:
    HandoffApplication(int &argc, char **argv) : QApplication(argc, argv) {}

    bool notify(QObject *receiver, QEvent *event) override
    {
        tsanEventDeliveryBegins();
        const bool handled = QApplication::notify(receiver, event);
        tsanEventDeliveryEnds();
        return handled;
    }
};
