#pragma once

// The program's window on the real serial port "COM1" of a program directory, with the
// benchmarks' silent edges and the system clock: what a benchmark of the whole program on the
// pty simulator drives.

#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "onewire/PosixSerialPort.h"

#include "SilentEdges.h"

#include <memory>

struct PortWindow
{
    SystemClock clock;
    SilentBoxes boxes;
    SilentSound sound;
    SilentLauncher launcher;
    std::unique_ptr<TForm1> form;

    // programDir ends with '/' and holds the COM1 link.
    PortWindow(const QString &programDir, const QString &programName)
    {
        form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = boxes,
            .programDir = ProgramDirectory{programDir, QString(), QString()},
            .programCommand = {programName},
            .autostartFile = programDir + QStringLiteral("autostart/Kalvex.desktop"),
            .makeSerialPort = [programDir] { return std::make_unique<PosixSerialPort>(programDir); },
            .demo = false,
            .sound = &sound,
            .launcher = &launcher,
        });
        form->COMPort = 1;
    }
};
