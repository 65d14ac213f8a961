#include "onewire/SerialHouseBus.h"

#include "onewire/Ds2480bLink.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SensorDiagnosis.h"
#include "onewire/SerialPort.h"

SerialHouseBus::SerialHouseBus(int number, BusConfig config, Log &log, const Clock &clock, SerialPort &port,
                               std::unique_ptr<SerialPort> ownPort)
    : HouseBus(number, std::move(config), log)
    , m_ownPort(std::move(ownPort))
    , m_port(port)
{
    if (this->config().Kind == QLatin1String("ds2480b")) {
        m_link = std::make_unique<Ds2480bLink>(m_port, this->log(), clock);
        configChanged();
    } else {
        m_link = std::make_unique<OneWireLink>(m_port, this->log(), clock);
    }
    m_search = std::make_unique<RomSearch>(*m_link);
    m_reader = std::make_unique<TemperatureReader>(*m_link, this->log());
}

SerialHouseBus::~SerialHouseBus()
{
    // A port of its own goes with the bus; a borrowed one is left as its owner has it.
    if (m_ownPort)
        m_ownPort->CloseCOM();
}

void SerialHouseBus::configChanged()
{
    if (auto *adapter = dynamic_cast<Ds2480bLink *>(m_link.get()))
        adapter->setBusName(portName());
}

QString SerialHouseBus::portName() const
{
    return QStringLiteral("COM") + QString::number(config().COMPort);
}

void SerialHouseBus::setAbortCheck(std::function<bool()> check)
{
    m_link->setAbortCheck(std::move(check));
}

void SerialHouseBus::setScratchpadObserver(TemperatureReader::ScratchpadObserver observer)
{
    m_reader->setScratchpadObserver(std::move(observer));
}

QString SerialHouseBus::openObservation()
{
    // A search, a single read or a diagnosis holding the port hands it over when it ends.
    if (m_port.isOpen() || m_port.OpenCOM(portName())) {
        m_port.SetComPortTimeouts();
        m_lost = false;
        busChanged();
        return {};
    }
    // The system's reason in the same line: the log box shows them together.
    const QString reason = m_port.lastError();
    // One of several buses is tried again at each of its parts, as a lost port is, without
    // saying so again.
    if (named()) {
        m_lost = true;
        if (portStateChanged)
            portStateChanged(reason);
    }
    return say(QStringLiteral("Порт: ") + portName()
               + (reason.isEmpty() ? QStringLiteral(" занят.") : QStringLiteral(" занят: ") + reason));
}

void SerialHouseBus::closeObservation()
{
    m_port.CloseCOM();
    // Switched off by hand, a lost port is simply closed.
    if (m_lost) {
        m_lost = false;
        if (portStateChanged)
            portStateChanged(QString());
    }
}

SensorReader *SerialHouseBus::reader()
{
    return m_reader.get();
}

void SerialHouseBus::setLost(const QString &reason)
{
    m_lost = true;
    log().AddLog(QStringLiteral("Порт ") + portName() + QStringLiteral(" потерян: ") + reason);
    if (portStateChanged)
        portStateChanged(reason);
}

bool SerialHouseBus::lost()
{
    if (m_lost)
        return true;
    // Closed by switching observation off: that is no loss, the rest finds no presence.
    if (!m_port.isOpen())
        return false;
    const QString reason = m_port.lostReason();
    if (reason.isEmpty())
        return false;
    // A dead descriptor answers nothing ever again: the port is opened anew instead.
    m_port.CloseCOM();
    setLost(reason);
    return true;
}

void SerialHouseBus::reopen()
{
    if (!observationOn || !observationOn())
        return;
    // Observation on always means a port the cycle reads, whoever had the bus before.
    if (!m_lost && m_port.isOpen())
        return;
    if (!m_port.OpenCOM(portName())) {
        if (!m_lost)
            setLost(m_port.lastError());
        return; // tried again at the next part, silently
    }
    m_port.SetComPortTimeouts();
    m_lost = false;
    busChanged();
    log().AddLog(QStringLiteral("Порт ") + portName() + QStringLiteral(" снова открыт."));
    if (portStateChanged)
        portStateChanged(QString());
}

int SerialHouseBus::portState() const
{
    if (m_lost)
        return 0;
    return m_port.isOpen() ? 1 : -1;
}

QCoro::Task<QString> SerialHouseBus::openForSearch()
{
    if (!m_port.OpenCOM(portName()))
        co_return QStringLiteral("Порт занят!");
    m_port.SetComPortTimeouts();
    co_return QString();
}

void SerialHouseBus::endSearch()
{
    // Observation switched on meanwhile reads on the port next; a port it lost stays the
    // cycle's to open again.
    if (!observationOn || !observationOn() || m_lost)
        m_port.CloseCOM();
}

void SerialHouseBus::clearState()
{
    m_search->clearState();
}

QCoro::Task<QString> SerialHouseBus::FindDS()
{
    return m_search->FindDS();
}

QCoro::Task<std::optional<QString>> SerialHouseBus::readSingle()
{
    if (!m_port.OpenCOM(portName()))
        co_return std::nullopt;
    m_port.SetComPortTimeouts();
    const QString serial = co_await m_search->GetSNForOne();
    endSearch();
    co_return serial;
}

QCoro::Task<HouseBus::Description> SerialHouseBus::describe(QString serial)
{
    Description description;
    const bool ownOpen = !m_port.isOpen();
    if (ownOpen && !m_port.OpenCOM(portName())) {
        description.failure = QStringLiteral("Порт занят! ") + m_port.lastError();
        co_return description;
    }
    if (ownOpen)
        m_port.SetComPortTimeouts();
    SensorDiagnosis diagnosis(*m_link);
    description.report = co_await diagnosis.diagnose(serial);
    description.diagnosed = true;
    if (ownOpen)
        endSearch();
    co_return description;
}

void SerialHouseBus::abort()
{
    m_link->abort();
}
