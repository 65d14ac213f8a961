#include "app/ui/LogBox.h"

#include "base/DateTime.h"

#include <QPlainTextEdit>

#include <cstdio>

LogBox::LogBox(QPlainTextEdit &memo, Clock &clock, bool headless)
    : m_memo(memo)
    , m_logFold(clock)
    , m_headless(headless)
{
}

void LogBox::add(const QString &message)
{
    writeLogLines(m_logFold.add(message, false));
}

void LogBox::addRaw(const QString &line)
{
    writeLogLines(m_logFold.add(line, true));
}

void LogBox::addFor(const QString &message, const QString &serviceText)
{
    m_serviceText = {message, serviceText};
    writeLogLines(m_logFold.add(message, false));
    m_serviceText = {};
}

void LogBox::clear()
{
    m_memo.clear();
    m_logFold.reset();
}

void LogBox::writeLogLines(const std::vector<LogFold::Line> &lines)
{
    for (const LogFold::Line &line : lines) {
        const QString stamp = datetime::text(line.at);
        m_memo.appendPlainText(line.raw ? line.text : stamp + QStringLiteral(" : ") + line.text);
        if (!m_headless)
            continue;
        const bool repeat = line.text.startsWith(LogFold::repeatText(0).section(QLatin1Char(' '), 0, 1));
        // A count of repeats is as grave as what repeated.
        if (!repeat)
            m_echoPriority = servicelog::priority(line.text);
        const QString text = line.text == m_serviceText.first && !m_serviceText.second.isEmpty() ? m_serviceText.second
                                                                                                : line.text;
        writeServiceLine(servicelog::line(stamp, text, m_echoPriority, servicelog::toJournal()));
    }
}

void LogBox::echoLine(const QString &line)
{
    // Before the window's log exists: a line of its own, as the log box would stamp it.
    if (servicelog::toJournal()) {
        const QString text = line.section(QStringLiteral(" : "), 1);
        writeServiceLine(servicelog::line(QString(), text.isEmpty() ? line : text, servicelog::priority(line), true));
        return;
    }
    writeServiceLine(line);
}

void LogBox::writeServiceLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}
