#pragma once

#include <QString>

// kalvex --probe: every device on the bus of the configured port ([General] COMPort of
// Kalvex.ini in programDir), diagnosed and printed one line each on standard output.
// Returns the exit code: 0 once the bus was probed (also when it is empty), 1 when the port
// cannot be had, with the reason on standard error.
int runProbe(const QString &programDir);
