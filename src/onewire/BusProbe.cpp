#include "onewire/BusProbe.h"

#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"

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
    OneWireLink link(port, log, clock);
    if (stop)
        link.setAbortCheck(std::move(stop));
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
    co_return result;
}
