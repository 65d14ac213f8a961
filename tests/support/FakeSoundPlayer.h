#pragma once

#include "monitor/SoundPlayer.h"

#include <QStringList>

// Records every sound asked for ("WARN" for the built-in one, else the file path) and
// answers with `result`.
class FakeSoundPlayer final : public SoundPlayer
{
public:
    bool playWarning() override
    {
        played << QStringLiteral("WARN");
        if (journal)
            *journal << QStringLiteral("sound WARN");
        return result;
    }
    bool playFile(const QString &path) override
    {
        played << path;
        if (journal)
            *journal << QStringLiteral("sound ") + path;
        return result;
    }

    QStringList played;
    // When set, every call is also appended here as "sound <what>", so a test can check
    // the order of actions against other fakes sharing the list.
    QStringList *journal = nullptr;
    bool result = true;
};
