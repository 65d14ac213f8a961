#pragma once

#include "base/Log.h"

#include <QStringList>

// Keeps the messages handed to the log: AddLog messages without their time stamp in
// `messages`, and every line in `lines` (raw lines as they are, AddLog ones marked "* ").
class RecordingLog final : public Log
{
public:
    void AddLog(const QString &message) override
    {
        messages << message;
        lines << QStringLiteral("* ") + message;
    }
    void addRawLine(const QString &line) override
    {
        rawLines << line;
        lines << line;
    }
    void clear()
    {
        messages.clear();
        rawLines.clear();
        lines.clear();
    }

    QStringList messages;
    QStringList rawLines;
    QStringList lines;
};
