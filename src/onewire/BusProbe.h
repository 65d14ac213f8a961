#pragma once

#include "onewire/SensorDiagnosis.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <vector>

class Clock;
class KernelBus;
class Log;
class SerialPort;

// Every device a search finds on the bus behind a port, each diagnosed in turn: what
// `kalvex --probe` prints.
struct ProbeResult
{
    bool opened = false;
    // Why the port could not be had (another program holds it, no rights, no device).
    QString error;
    // The adapter that answered: "DS2480B" (a line driver, with its revision) or empty for
    // a passive one (or none at all).
    QString adapter;
    int revision = 0;
    std::vector<SensorReport> reports;
    // A stop request cut the run short: reports holds only the devices diagnosed whole.
    bool interrupted = false;
};

// Opens the port, tells a DS2480B from a passive adapter, searches the bus through it,
// diagnoses every device found and closes the port again,
// whatever the devices do meanwhile. Once stop() says so, the run ends at its next step.
QCoro::Task<ProbeResult> probeBus(SerialPort &port, QString portName, Log &log, const Clock &clock,
                                  std::function<bool()> stop = {});

// The same over the kernel's 1-Wire driver: every device it lists, each read once (the kernel
// converts) and judged by what its scratchpad says; power and conversion time stay unknown.
// Not opened (error set) when the driver shows no bus master.
QCoro::Task<ProbeResult> probeKernelBus(KernelBus &bus, std::function<bool()> stop = {});
