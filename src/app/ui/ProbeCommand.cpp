#include "app/ui/ProbeCommand.h"

#include "app/ui/TerminationSignals.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/BusProbe.h"
#include "onewire/KernelBus.h"
#include "onewire/PosixSerialPort.h"
#include "owserver/OwServerBus.h"
#include "sensors/KalvexConfig.h"

#include <QCoroTask>

#include <algorithm>
#include <cstdio>

namespace {

// What the link logs (odd echoes) goes to standard error, out of the way of the list.
class StderrLog final : public Log
{
public:
    void AddLog(const QString &message) override { addRawLine(message); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(line)); }
};

// The outage is said once, by the probe itself.
class QuietLog final : public Log
{
public:
    void AddLog(const QString &) override {}
    void addRawLine(const QString &line) override { std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(line)); }
};

// What the owserver tells of each of its thermometers.
int probeOwServer(const OwServerBusSettings &where)
{
    QuietLog log;
    OwServerBus bus(log);
    bus.setServer(where.Host, where.Port, where.Path);
    const QString problem = QCoro::waitFor(bus.listThermometers());
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(problem));
        return 1;
    }
    QStringList serials;
    for (QString sn = QCoro::waitFor(bus.FindDS()); !sn.isEmpty(); sn = QCoro::waitFor(bus.FindDS()))
        serials << sn;
    for (const QString &sn : std::as_const(serials)) {
        if (TerminationSignals::pending())
            break;
        std::printf("%s\n", qUtf8Printable(QCoro::waitFor(bus.describe(sn)).line()));
    }
    std::fflush(stdout);
    if (serials.isEmpty())
        std::fprintf(stderr, "kalvex: на owserver %s термометров не найдено\n", qUtf8Printable(bus.address()));
    else
        std::fprintf(stderr, "kalvex: подлинность через owserver не проверить: нужна шина самой программы "
                             "(адаптер на последовательном порту)\n");
    return 0;
}

// One bus probed, its lines printed; the exit code as runProbe gives it.
int probeOne(const BusConfig &config, const QString &dir)
{
    if (config.Kind == QLatin1String("owserver"))
        return probeOwServer(config.OwServer);
    StderrLog log;
    const auto stop = [] { return TerminationSignals::pending(); };
    QString busName;
    ProbeResult result;
    if (config.Kind == QLatin1String("kernel")) {
        busName = QStringLiteral("шина ядра ") + config.KernelPath;
        KernelBus bus(log, config.KernelPath);
        result = QCoro::waitFor(probeKernelBus(bus, stop));
    } else {
        busName = QStringLiteral("порт COM") + QString::number(config.COMPort);
        PosixSerialPort port(dir);
        SystemClock clock;
        result = QCoro::waitFor(probeBus(port, busName.section(QLatin1Char(' '), 1), log, clock, stop));
    }
    if (!result.opened) {
        std::fprintf(stderr, "kalvex: %s недоступен: %s\n", qUtf8Printable(busName), qUtf8Printable(result.error));
        return 1;
    }
    // Which adapter a serial port has: the kernel's bus has none of the program's.
    const QString portName = busName.section(QLatin1Char(' '), 1);
    if (config.Kind != QLatin1String("kernel") && result.adapter.isEmpty())
        std::fprintf(stderr, "kalvex: на %s пассивный адаптер (DS2480B не ответил)\n", qUtf8Printable(portName));
    else if (config.Kind != QLatin1String("kernel"))
        std::fprintf(stderr, "kalvex: на %s адаптер %s, ревизия %d\n", qUtf8Printable(portName), qUtf8Printable(result.adapter),
                     result.revision);
    for (const SensorReport &report : result.reports)
        std::printf("%s\n", qUtf8Printable(report.line()));
    std::fflush(stdout);
    if (result.interrupted) {
        std::fprintf(stderr, "kalvex: проверка прервана, проверено устройств: %d\n", static_cast<int>(result.reports.size()));
        return 3;
    }
    if (result.reports.empty())
        std::fprintf(stderr, "kalvex: %s: устройств не найдено\n", qUtf8Printable(busName));
    return 0;
}

} // namespace

int runProbe(const QString &programDir)
{
    QString dir = programDir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    const KalvexConfig config = loadConfig(dir + QStringLiteral("Kalvex.ini"));
    const std::vector<BusConfig> buses = busList(config);
    if (buses.size() == 1)
        return probeOne(buses.front(), dir);
    // A block per active bus, headed by its name; a bus that cannot be had does not stop the
    // others, and the worst outcome is the exit code.
    int code = 0;
    bool first = true;
    for (std::size_t i = 0; i < buses.size(); ++i) {
        if (!buses[i].Active)
            continue;
        if (TerminationSignals::pending())
            return 3;
        std::printf("%sШина «%s»\n", first ? "" : "\n", qUtf8Printable(busName(buses[i], static_cast<int>(i) + 1)));
        first = false;
        std::fflush(stdout);
        const int busCode = probeOne(buses[i], dir);
        code = std::max(code, busCode);
        if (busCode == 3)
            break;
    }
    return code;
}
