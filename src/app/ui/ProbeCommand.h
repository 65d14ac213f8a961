#pragma once

#include <QString>

// kalvex --probe: every device on the configured bus (the port [General] COMPort of
// Kalvex.ini in programDir, or the kernel's driver with [Bus] Kind=kernel), diagnosed and
// printed one line each on standard output; with several buses ([Bus2] ...), a block per
// active bus headed "Шина «name»". Returns the exit code: 0 once the bus was probed
// (also when it is empty), 1 when the bus cannot be had, with the reason on standard error,
// 3 when a stop signal (Ctrl+C, SIGTERM) cut it short (the devices done are printed).
int runProbe(const QString &programDir);
