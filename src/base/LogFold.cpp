#include "base/LogFold.h"

#include "base/Clock.h"

LogFold::LogFold(const Clock &clock, quint32 reportEveryMs)
    : m_clock(clock)
    , m_reportEveryMs(reportEveryMs)
{
}

QString LogFold::repeatText(int times)
{
    const int tens = times % 100;
    const int ones = times % 10;
    const bool few = ones >= 2 && ones <= 4 && (tens < 12 || tens > 14);
    return QStringLiteral("Сообщение повторилось ещё %1 %2.")
        .arg(times)
        .arg(few ? QStringLiteral("раза") : QStringLiteral("раз"));
}

LogFold::Line LogFold::repeatLine() const
{
    // Stamped with the last repeat: the run may have ended long before the next line came.
    return Line{repeatText(m_repeats), false, m_lastRepeat};
}

std::vector<LogFold::Line> LogFold::add(const QString &text, bool raw)
{
    const QDateTime now = m_clock.now();
    const quint32 tick = m_clock.tickCount();
    std::vector<Line> out;
    if (m_running && raw == m_raw && text == m_text) {
        ++m_repeats;
        m_lastRepeat = now;
        if (tick - m_reportedTick >= m_reportEveryMs) {
            out.push_back(repeatLine());
            m_repeats = 0;
            m_reportedTick = tick;
        }
        return out;
    }
    if (m_running && m_repeats > 0)
        out.push_back(repeatLine());
    out.push_back(Line{text, raw, now});
    m_running = true;
    m_text = text;
    m_raw = raw;
    m_repeats = 0;
    m_reportedTick = tick;
    return out;
}

void LogFold::reset()
{
    m_running = false;
    m_text.clear();
    m_repeats = 0;
}
