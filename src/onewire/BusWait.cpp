#include "onewire/BusWait.h"

#include "onewire/WakeSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <vector>

struct BusWait::State
{
    int ms;
    int fd;
    std::vector<WakeSignal *> wakes;
    QTimer timer;
    std::unique_ptr<QSocketNotifier> notifier;
    std::vector<QMetaObject::Connection> connections;
    std::coroutine_handle<> handle;
    // Shared with the queued resume: a wait destroyed first (its coroutine torn down with the
    // program) is never resumed.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    bool finished = false;
    bool timedOut = false;

    void finish(bool onDeadline)
    {
        if (finished)
            return;
        finished = true;
        timedOut = onDeadline;
        timer.stop();
        if (notifier)
            notifier->setEnabled(false);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [h = handle, a = alive] {
                if (*a)
                    h.resume();
            },
            Qt::QueuedConnection);
    }
};

BusWait::BusWait(int ms, int fd, WakeSignal *wake, WakeSignal *otherWake)
    : d(std::make_unique<State>())
{
    d->ms = ms;
    d->fd = fd;
    for (WakeSignal *w : {wake, otherWake}) {
        if (w)
            d->wakes.push_back(w);
    }
}

BusWait::~BusWait()
{
    if (!d)
        return;
    *d->alive = false;
    for (const QMetaObject::Connection &c : d->connections)
        QObject::disconnect(c);
}

BusWait::BusWait(BusWait &&) noexcept = default;
BusWait &BusWait::operator=(BusWait &&) noexcept = default;

bool BusWait::await_resume() const noexcept
{
    return !d->timedOut;
}

void BusWait::await_suspend(std::coroutine_handle<> handle)
{
    State *state = d.get();
    state->handle = handle;
    for (WakeSignal *wake : state->wakes)
        state->connections.push_back(QObject::connect(wake, &WakeSignal::woken, wake, [state] { state->finish(false); }));
    if (state->fd >= 0) {
        state->notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(state->fd), QSocketNotifier::Read);
        state->connections.push_back(QObject::connect(state->notifier.get(), &QSocketNotifier::activated,
                                                      state->notifier.get(), [state] { state->finish(false); }));
    }
    if (state->ms >= 0) {
        // A conversion or echo wait is short, and its end paces the cycle.
        state->timer.setTimerType(Qt::PreciseTimer);
        state->timer.setSingleShot(true);
        state->connections.push_back(
            QObject::connect(&state->timer, &QTimer::timeout, &state->timer, [state] { state->finish(true); }));
        state->timer.start(state->ms);
    }
}
