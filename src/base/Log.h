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
};
