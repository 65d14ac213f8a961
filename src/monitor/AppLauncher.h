#pragma once

#include <QString>

// Starts an application or opens a document with the desktop's default action, without
// waiting for it and without tracking it.
class AppLauncher
{
public:
    virtual ~AppLauncher() = default;
    // False when nothing could be started (an empty path included).
    virtual bool start(const QString &path) = 0;
};
