#include "onewire/BusProbe.h"

#include "onewire/Ds2480bLink.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"

namespace {
QCoro::Task<> searchAndDiagnose(OneWireLink &link, ProbeResult &result)
{
    RomSearch search(link);
    search.clearState();
    QStringList codes;
    for (QString code = co_await search.FindDS(); !code.isEmpty(); code = co_await search.FindDS())
        codes << code;
    SensorDiagnosis diagnosis(link);
    for (const QString &code : std::as_const(codes)) {
        if (link.aborted())
            break;
        result.reports.push_back(co_await diagnosis.diagnose(code));
    }
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
        co_await searchAndDiagnose(chip, result);
        result.revision = chip.revision();
        co_return result;
    }
    OneWireLink link(port, log, clock);
    if (stop)
        link.setAbortCheck(std::move(stop));
    co_await searchAndDiagnose(link, result);
    co_return result;
}
