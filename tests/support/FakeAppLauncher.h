#pragma once

#include "monitor/AppLauncher.h"

#include <QStringList>

// Records every path it is asked to start; an empty path fails like the desktop's does, any
// other answers `result`.
class FakeAppLauncher final : public AppLauncher
{
public:
    bool start(const QString &path) override
    {
        started << path;
        if (journal)
            *journal << QStringLiteral("start ") + path;
        return !path.isEmpty() && result;
    }

    QStringList started;
    // When set, every call is also appended here as "start <what>", so a test can check
    // the order of actions against other fakes sharing the list.
    QStringList *journal = nullptr;
    bool result = true;
};
