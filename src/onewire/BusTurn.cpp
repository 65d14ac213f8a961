#include "onewire/BusTurn.h"

#include "onewire/BusWait.h"

QCoro::Task<> BusTurn::take()
{
    // Several may wait: each woken one looks again, and the first to resume takes it.
    while (m_busy)
        co_await BusWait(-1, -1, &m_freed);
    m_busy = true;
}

void BusTurn::release()
{
    m_busy = false;
    m_freed.wake();
}
