#include "onewire/DriverHouseBus.h"

#include "onewire/OneWireCrc.h"

QCoro::Task<QString> DriverBus::openForSearch()
{
    co_return driverProblem();
}

SensorReport DriverBus::reportOf(const QString &sn, bool *wellFormed)
{
    SensorReport report;
    report.serial = sn.trimmed().toUpper();
    report.verdict = SensorReport::Verdict::NoAnswer;
    const auto rom = TemperatureReader::romBytes(report.serial);
    *wellFormed = rom.has_value();
    if (rom) {
        report.family = (*rom)[0];
        report.romCrcValid = OneWireCrc::of(rom->data(), 7) == (*rom)[7];
    }
    return report;
}

QCoro::Task<SensorReport> DriverBus::describe(QString sn)
{
    bool wellFormed = false;
    SensorReport report = reportOf(sn, &wellFormed);
    if (!wellFormed)
        co_return report;
    report.temperature = co_await GetTempSn(report.serial);
    if (report.temperature != NoReading)
        report.verdict = SensorReport::Verdict::Undetermined;
    report.signs.push_back({QStringLiteral("подлинность"), DiagnosisSign::Result::Unmeasured,
                            QStringLiteral("драйвер не даёт слотов шины: проверкам на подделку нужна шина самой "
                                           "программы (адаптер на последовательном порту)")});
    co_return report;
}

DriverHouseBus::DriverHouseBus(int number, BusConfig config, Log &log,
                               const std::function<std::unique_ptr<DriverBus>(Log &)> &makeDriver)
    : HouseBus(number, std::move(config), log)
    , m_driver(makeDriver(this->log()))
{
}

QString DriverHouseBus::openObservation()
{
    // As a port that will not open: said in the log, the bus stays closed.
    const QString problem = m_driver->driverProblem();
    if (!problem.isEmpty()) {
        m_failed = named();
        return say(problem);
    }
    m_driver->open();
    m_open = true;
    m_failed = false;
    busChanged();
    return {};
}

void DriverHouseBus::closeObservation()
{
    m_driver->close();
    m_open = false;
    m_failed = false;
}

void DriverHouseBus::reopen()
{
    if (!m_failed || !observationOn || !observationOn() || !m_driver->driverProblem().isEmpty())
        return;
    m_driver->open();
    m_open = true;
    m_failed = false;
    busChanged();
    log().AddLog(QStringLiteral("Снова доступна."));
}

QCoro::Task<QString> DriverHouseBus::openForSearch()
{
    return m_driver->openForSearch();
}

QCoro::Task<std::optional<QString>> DriverHouseBus::readSingle()
{
    co_return co_await m_driver->GetSNForOne();
}

QCoro::Task<HouseBus::Description> DriverHouseBus::describe(QString serial)
{
    Description description;
    // Closed, the driver's bus reads nothing: opened for the question alone.
    const bool ownOpen = !m_open;
    if (ownOpen)
        m_driver->open();
    description.report = co_await m_driver->describe(serial);
    if (ownOpen && !m_open)
        m_driver->close();
    co_return description;
}
