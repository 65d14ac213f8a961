#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

class Clock;

// Folds a run of one repeated log line: the line is written once, and how many times it came
// again is written when the run ends (another line arrives) or, while it goes on, once every
// reportEveryMs, so a fault that recurs every cycle neither floods the log nor drops out of it.
class LogFold
{
public:
    // One line to write: `raw` lines go out without a time stamp in the log box.
    struct Line
    {
        QString text;
        bool raw = false;
        QDateTime at;
        bool operator==(const Line &) const = default;
    };

    static constexpr quint32 DefaultReportEveryMs = 10 * 60 * 1000;

    // The clock stamps the lines and times the reports; it must outlive the fold.
    explicit LogFold(const Clock &clock, quint32 reportEveryMs = DefaultReportEveryMs);

    // The lines to write for one incoming line, in order: nothing while it repeats the one
    // before (of the same kind); else the count of the ended run, if any, then the line.
    std::vector<Line> add(const QString &text, bool raw);
    // Starts afresh (the log box was cleared): the next line is written whatever it is.
    void reset();

    // "Сообщение повторилось ещё N раз." with the Russian plural of "раз".
    static QString repeatText(int times);

private:
    Line repeatLine() const;

    const Clock &m_clock;
    quint32 m_reportEveryMs;
    bool m_running = false;
    QString m_text;
    bool m_raw = false;
    int m_repeats = 0;          // repeats not yet reported
    quint32 m_reportedTick = 0; // when the run began or was last reported
    QDateTime m_lastRepeat;
};
