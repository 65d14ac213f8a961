#pragma once

#include "base/Clock.h"

// A clock that stands still until a test moves it. Every tickCount() call may advance the
// tick counter by a fixed step, so that loops waiting on it end.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)))
        : m_now(std::move(now))
    {
    }
    QDateTime now() const override { return m_now; }
    quint32 tickCount() const override
    {
        const quint32 t = m_ticks;
        m_ticks += m_tickStep;
        return t;
    }

    void setNow(const QDateTime &now) { m_now = now; }
    void advance(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        m_ticks += static_cast<quint32>(ms);
    }
    void setTickStep(quint32 step) { m_tickStep = step; }

private:
    QDateTime m_now;
    mutable quint32 m_ticks = 0;
    quint32 m_tickStep = 0;
};
