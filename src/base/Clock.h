#pragma once

#include <QDateTime>
#include <QElapsedTimer>

// Every "now" of the program goes through one Clock, so tests can set the hour, cross midnight
// and fix the time stamps of readings.
class Clock
{
public:
    virtual ~Clock() = default;
    // Local wall-clock time.
    virtual QDateTime now() const = 0;
    // Milliseconds on a monotonic counter, wrapping at 2^32 like a system tick counter.
    virtual quint32 tickCount() const = 0;
};

class SystemClock final : public Clock
{
public:
    SystemClock() { m_started.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    quint32 tickCount() const override { return static_cast<quint32>(m_started.elapsed()); }

private:
    QElapsedTimer m_started;
};
