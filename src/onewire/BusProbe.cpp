#include "onewire/BusProbe.h"

#include "onewire/Ds2480bLink.h"
#include "onewire/KernelBus.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"
#include "onewire/TemperatureReader.h"

namespace {
QCoro::Task<> searchAndDiagnose(OneWireLink &link, Log &log, ProbeResult &result)
{
    // Whatever a probe cut short before left in RAM goes first (the diagnosis recalls each
    // sensor again for itself).
    TemperatureReader reader(link, log);
    co_await reader.recallEeprom();
    RomSearch search(link);
    search.clearState();
    QStringList codes;
    for (QString code = co_await search.FindDS(); !code.isEmpty(); code = co_await search.FindDS())
        codes << code;
    SensorDiagnosis diagnosis(link);
    for (const QString &code : std::as_const(codes)) {
        if (link.aborted())
            break;
        SensorReport report = co_await diagnosis.diagnose(code);
        // A diagnosis the stop cut short says nothing of the sensor.
        if (link.aborted())
            break;
        result.reports.push_back(std::move(report));
    }
    result.interrupted = link.aborted();
}
} // namespace

QCoro::Task<ProbeResult> probeBus(SerialPort &port, QString portName, Log &log, const Clock &clock,
                                  std::function<bool()> stop)
{
    ProbeResult result;
    if (!port.OpenCOM(portName)) {
        result.error = port.lastError();
        co_return result;
    }
    result.opened = true;
    struct Closer
    {
        SerialPort &port;
        ~Closer() { port.CloseCOM(); }
    } closer{port};
    port.SetComPortTimeouts();
    // The chip is asked first: behind a passive adapter its detection at 9600 baud reaches
    // the devices as resets and write-0 slots, which make no command of theirs, while a
    // passive adapter's slots at 115200 baud would be noise to the chip.
    Ds2480bLink chip(port, log, clock);
    chip.setBusName(portName);
    if (stop)
        chip.setAbortCheck(stop);
    if (co_await chip.detect()) {
        result.adapter = QStringLiteral("DS2480B");
        co_await searchAndDiagnose(chip, log, result);
        result.revision = chip.revision();
        co_return result;
    }
    OneWireLink link(port, log, clock);
    if (stop)
        link.setAbortCheck(std::move(stop));
    co_await searchAndDiagnose(link, log, result);
    co_return result;
}

QCoro::Task<ProbeResult> probeKernelBus(KernelBus &bus, std::function<bool()> stop)
{
    ProbeResult result;
    result.error = bus.driverProblem();
    if (!result.error.isEmpty())
        co_return result;
    result.opened = true;
    const auto stopped = [&stop] { return stop && stop(); };
    bus.open();
    bus.clearState();
    QStringList codes;
    for (QString code = co_await bus.FindDS(); !code.isEmpty() && !stopped(); code = co_await bus.FindDS())
        codes << code;
    for (const QString &code : std::as_const(codes)) {
        if (stopped())
            break;
        const auto scratchpad = co_await bus.scratchpad(code);
        if (stopped())
            break;
        const auto rom = TemperatureReader::romBytes(code);
        SensorReport report;
        report.serial = code;
        report.family = (*rom)[0];
        report.romCrcValid = OneWireCrc::of(rom->data(), 8) == 0;
        report.verdict = SensorReport::Verdict::NoAnswer;
        if (scratchpad) {
            const bool family28 = report.family == 0x28;
            report.firstScratchpad = scratchpad;
            report.TH = static_cast<std::int8_t>((*scratchpad)[2]);
            report.TL = static_cast<std::int8_t>((*scratchpad)[3]);
            report.resolutionBits = family28 ? 9 + (((*scratchpad)[4] >> 5) & 3) : 9;
            report.temperature = TemperatureReader::checkedReading(*scratchpad, family28);
            report.verdict = SensorDiagnosis::runningVerdict(*rom, *scratchpad);
        }
        result.reports.push_back(std::move(report));
    }
    bus.close();
    result.interrupted = stopped();
    co_return result;
}
