#include "app/ui/ProbeCommand.h"

#include "app/ui/TerminationSignals.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/BusProbe.h"
#include "onewire/PosixSerialPort.h"
#include "sensors/KalvexConfig.h"

#include <QCoroTask>

#include <cstdio>

namespace {

// What the link logs (odd echoes) goes to standard error, out of the way of the list.
class StderrLog final : public Log
{
public:
    void AddLog(const QString &message) override { addRawLine(message); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(line)); }
};

} // namespace

int runProbe(const QString &programDir)
{
    QString dir = programDir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    const KalvexConfig config = loadConfig(dir + QStringLiteral("Kalvex.ini"));
    const QString portName = QStringLiteral("COM") + QString::number(config.COMPort);
    PosixSerialPort port(dir);
    StderrLog log;
    SystemClock clock;
    const ProbeResult result = QCoro::waitFor(probeBus(port, portName, log, clock, [] { return TerminationSignals::pending(); }));
    if (!result.opened) {
        std::fprintf(stderr, "kalvex: порт %s недоступен: %s\n", qUtf8Printable(portName), qUtf8Printable(result.error));
        return 1;
    }
    if (result.adapter.isEmpty())
        std::fprintf(stderr, "kalvex: на %s пассивный адаптер (DS2480B не ответил)\n", qUtf8Printable(portName));
    else
        std::fprintf(stderr, "kalvex: на %s адаптер %s, ревизия %d\n", qUtf8Printable(portName), qUtf8Printable(result.adapter),
                     result.revision);
    for (const SensorReport &report : result.reports)
        std::printf("%s\n", qUtf8Printable(report.line()));
    if (result.reports.empty())
        std::fprintf(stderr, "kalvex: на шине %s устройств не найдено\n", qUtf8Printable(portName));
    std::fflush(stdout);
    return 0;
}
