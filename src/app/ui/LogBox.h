#pragma once

#include "base/LogFold.h"
#include "base/ServiceLog.h"

#include <QString>

#include <utility>
#include <vector>

class Clock;
class QPlainTextEdit;

// The log box Memo1: date-time text, " : ", message, a line that repeats the one before
// folded into a count (LogFold). Headless, every line also goes to standard error.
class LogBox
{
public:
    LogBox(QPlainTextEdit &memo, Clock &clock, bool headless);

    void add(const QString &message);
    void addRaw(const QString &line);
    // The service's output gets serviceText in place of message.
    void addFor(const QString &message, const QString &serviceText);
    // Empties the box; the next line is never taken for a repeat.
    void clear();

    // A log line ("stamp : text") to standard error as well (headless: the service manager's
    // journal, which gets it with its priority and without the stamp).
    static void echoLine(const QString &line);
    static void writeServiceLine(const QString &line);

private:
    void writeLogLines(const std::vector<LogFold::Line> &lines);

    QPlainTextEdit &m_memo;
    LogFold m_logFold;
    bool m_headless;
    // The line being logged and its fuller service text; the priority of the last echoed line.
    std::pair<QString, QString> m_serviceText;
    servicelog::Priority m_echoPriority = servicelog::Info;
};
