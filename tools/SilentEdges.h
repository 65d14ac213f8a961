#pragma once

// What the benchmarks put at the program's edges: boxes that never wait (an error box goes to
// standard error), no sound, no application start; and the resident memory of the process.

#include "base/DialogBoxes.h"
#include "monitor/AppLauncher.h"
#include "monitor/SoundPlayer.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>

class SilentBoxes final : public DialogBoxes
{
public:
    void message(const QString &) override {}
    bool confirm(const QString &) override { return false; }
    void error(const QString &text) override { std::fprintf(stderr, "error box: %s\n", qUtf8Printable(text)); }
    QString openFile(const QString &, const QString &, const QString &) override { return {}; }
};

class SilentSound final : public SoundPlayer
{
public:
    bool playWarning() override { return true; }
    bool playFile(const QString &) override { return true; }
};

class SilentLauncher final : public AppLauncher
{
public:
    bool start(const QString &) override { return true; }
};

// VmRSS in kB, or -1.
inline long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}
