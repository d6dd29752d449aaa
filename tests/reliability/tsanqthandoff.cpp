#include "tests/reliability/tsanqthandoff.h"

#include <QMetaObject>
#include <QObject>

#include <dlfcn.h>

extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);

namespace {

// Stand for Qt's event queues (an emitted signal before the delivery of its event) and for the
// semaphore of a blocking queued call (the receiver's slot before the emitter goes on).
char posted;
char handled;

template<typename F> F qtCore(const char *symbol)
{
    return reinterpret_cast<F>(dlvsym(RTLD_NEXT, symbol, "Qt_5"));
}

} // namespace

void tsanEventDeliveryBegins()
{
    __tsan_acquire(&posted);
}

void tsanEventDeliveryEnds()
{
    __tsan_release(&handled);
}

// Every signal emitted through Qt's public entry: what the emitter wrote before the call, and the
// event and argument copies Qt makes inside it, are published with it; a blocking queued call
// returns only after the receiver's slot has run.
void QMetaObject::activate(QObject *sender, const QMetaObject *m, int localSignalIndex, void **argv)
{
    using Activate = void (*)(QObject *, const QMetaObject *, int, void **);
    static const Activate real = qtCore<Activate>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(&posted);
    real(sender, m, localSignalIndex, argv);
    __tsan_release(&posted);
    __tsan_acquire(&handled);
}

// The deletion runs on the object's own thread once the event queue hands it over.
void QObject::deleteLater()
{
    using DeleteLater = void (*)(QObject *);
    static const DeleteLater real = qtCore<DeleteLater>("_ZN7QObject11deleteLaterEv");
    __tsan_release(&posted);
    real(this);
    __tsan_release(&posted);
}
