#pragma once

#include "onewire/WakeSignal.h"

#include <QCoroTask>

// The bus is one line: a monitoring cycle, a search and a single-device read each hold it for
// their whole run, so their transactions never interleave while one of them waits. Whoever
// asks while it is held waits its turn (suspended, the event loop running on).
class BusTurn
{
public:
    bool busy() const { return m_busy; }
    // Suspends until the bus is free and takes it; give it back with release().
    QCoro::Task<> take();
    void release();

    // Holds the bus until it goes out of scope (a coroutine's frame ends with it).
    class Held
    {
    public:
        explicit Held(BusTurn &turn) : m_turn(&turn) {}
        ~Held()
        {
            if (m_turn)
                m_turn->release();
        }
        Held(const Held &) = delete;
        Held &operator=(const Held &) = delete;

    private:
        BusTurn *m_turn;
    };

private:
    bool m_busy = false;
    WakeSignal m_freed;
};
