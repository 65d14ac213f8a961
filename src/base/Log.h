#pragma once

#include <QString>

// Where the program's event lines go: the main window's log box.
class Log
{
public:
    virtual ~Log() = default;
    // One line: the current date-time text, " : ", the message.
    virtual void AddLog(const QString &message) = 0;
    // One line exactly as given, without the time stamp.
    virtual void addRawLine(const QString &line) = 0;
    // A line the service's output words more fully (a failing sensor's name and serial beside
    // its slot number); the log box keeps `message`.
    virtual void addLogFor(const QString &message, const QString &serviceText)
    {
        static_cast<void>(serviceText);
        AddLog(message);
    }
};
