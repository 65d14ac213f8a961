#pragma once

#include <coroutine>
#include <memory>

class WakeSignal;

// The one way anything on the bus waits: `co_await BusWait(...)` suspends the coroutine and
// lets the event loop run on (no nested loop), until the first of: ms milliseconds passed
// (-1: no deadline), the descriptor fd turned readable (-1: none), one of the wake signals
// fired. The coroutine resumes from the event loop afterwards, never from inside the timer's
// or the notifier's own signal, so the wait may be destroyed as the coroutine goes on.
// Needs a QCoreApplication.
class BusWait
{
public:
    BusWait(int ms, int fd, WakeSignal *wake = nullptr, WakeSignal *otherWake = nullptr);
    ~BusWait();
    BusWait(BusWait &&) noexcept;
    BusWait &operator=(BusWait &&) noexcept;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle);
    // True when the descriptor turned readable (or a wake signal fired), false on the deadline.
    bool await_resume() const noexcept;

private:
    struct State;
    std::unique_ptr<State> d;
};
