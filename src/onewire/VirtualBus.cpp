#include "onewire/VirtualBus.h"

#include "onewire/VirtualSensor.h"

#include <bit>
#include <chrono>

namespace {
constexpr int LowestSlotBaud = 30000;
// A device samples a slot about 15 µs after its falling edge: a longer low time writes 0.
constexpr double SampleMicroseconds = 15.0;
// A released slot pulled low by a device: the start bit and the two lowest data bits.
constexpr std::uint8_t ReadZeroMask = 0xFC;
} // namespace

VirtualBus::VirtualBus()
    : m_time([] {
        return static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    })
{
}

void VirtualBus::setTimeSource(std::function<qint64()> milliseconds)
{
    if (milliseconds)
        m_time = std::move(milliseconds);
}

qint64 VirtualBus::busTime() const
{
    return m_time();
}
VirtualBus::~VirtualBus() = default;

void VirtualBus::addDevice(std::shared_ptr<OneWireDevice> device)
{
    if (device)
        m_devices.push_back(std::move(device));
}

std::shared_ptr<VirtualSensor> VirtualBus::addSensor(const QString &serial, double celsius)
{
    const auto rom = RomDevice::parseRomText(serial);
    if (!rom)
        return nullptr;
    auto sensor = std::make_shared<VirtualSensor>(*rom);
    sensor->setTemperature(celsius);
    m_devices.push_back(sensor);
    return sensor;
}

QStringList VirtualBus::addDemoSensors(const Clock &clock)
{
    struct Demo
    {
        const char *serial;
        double mean;
        double amplitude;
        double periodSeconds;
    };
    static constexpr Demo demos[] = {
        { "28ECEDC7050000F6", 21.0, 1.5, 900.0 },
        { "2825EA52050000CE", -4.0, 6.0, 3600.0 },
        { "108739A80208006F", 55.0, 10.0, 300.0 },
    };
    QStringList serials;
    for (const Demo &demo : demos) {
        const QString serial = QString::fromLatin1(demo.serial);
        if (auto sensor = addSensor(serial)) {
            sensor->setTemperatureFunction(VirtualSensor::sineWave(clock, demo.mean, demo.amplitude, demo.periodSeconds));
            serials << serial;
        }
    }
    return serials;
}

bool VirtualBus::removeDevice(const QString &serial)
{
    const QString key = serial.toUpper();
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if ((*it)->serialText() == key) {
            m_devices.erase(it);
            return true;
        }
    }
    return false;
}

void VirtualBus::removeAllDevices()
{
    m_devices.clear();
}

VirtualSensor *VirtualBus::findSensor(const QString &serial) const
{
    const QString key = serial.toUpper();
    for (const auto &device : m_devices) {
        if (device->serialText() == key)
            return dynamic_cast<VirtualSensor *>(device.get());
    }
    return nullptr;
}

bool VirtualBus::setTemperature(const QString &serial, double celsius)
{
    VirtualSensor *sensor = findSensor(serial);
    if (!sensor)
        return false;
    sensor->setTemperature(celsius);
    return true;
}

void VirtualBus::setFault(EchoFault fault, int count, std::uint8_t byte)
{
    m_fault = fault;
    m_faultCount = count;
    m_faultByte = byte;
    m_echoesSinceFault = 0;
}

void VirtualBus::setNoise(double probability, std::uint32_t seed)
{
    m_noise = probability;
    m_random.seed(seed);
}

void VirtualBus::queueEchoOverride(std::vector<std::uint8_t> echoes)
{
    m_overrides.insert(m_overrides.end(), echoes.begin(), echoes.end());
}

std::uint8_t VirtualBus::echoOf(std::uint8_t character, int baud)
{
    if (m_fault == EchoFault::HeldLow) {
        // Devices on a shorted bus see one endless reset and never answer.
        if (baud < LowestSlotBaud)
            ++m_counters.resets;
        else
            ++m_counters.slotCount;
        return 0x00;
    }
    if (baud < LowestSlotBaud) {
        ++m_counters.resets;
        bool presence = false;
        for (const auto &device : m_devices)
            presence = device->reset() || presence;
        return presence ? static_cast<std::uint8_t>(character & m_presenceEcho) : character;
    }
    ++m_counters.slotCount;
    // Low time: the start bit and the run of 0 bits that follows it (least significant first).
    const int lowBits = 1 + std::countr_zero(character);
    const double lowMicroseconds = lowBits * 1e6 / baud;
    const int masterBit = lowMicroseconds < SampleMicroseconds ? 1 : 0;
    int bus = masterBit;
    if (masterBit == 1) {
        for (const auto &device : m_devices)
            bus &= device->driveBit();
    }
    for (const auto &device : m_devices)
        device->slotDone(bus);
    if (masterBit == 0)
        return character;
    int seen = bus;
    if (m_noise > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < m_noise)
        seen ^= 1;
    return seen ? character : static_cast<std::uint8_t>(character & ReadZeroMask);
}

std::vector<std::uint8_t> VirtualBus::exchange(const std::uint8_t *data, int count, int baud)
{
    std::vector<std::uint8_t> echoes;
    echoes.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    ++m_counters.roundTrips;
    // A batch of slots lasts a few milliseconds at most: one time for all of it.
    const qint64 now = m_time();
    for (const auto &device : m_devices)
        device->setBusTime(now);
    for (int i = 0; i < count; ++i) {
        ++m_counters.characters;
        if (m_recordSent)
            m_sent.push_back(data[i]);
        std::uint8_t echo = echoOf(data[i], baud);
        if (!m_overrides.empty()) {
            echo = m_overrides.front();
            m_overrides.pop_front();
        }
        switch (m_fault) {
        case EchoFault::NoEcho:
            continue;
        case EchoFault::StopAfter:
            if (m_echoesSinceFault >= static_cast<std::uint64_t>(m_faultCount))
                continue;
            break;
        case EchoFault::FixedEcho:
            echo = m_faultByte;
            break;
        default:
            break;
        }
        ++m_echoesSinceFault;
        echoes.push_back(echo);
    }
    return echoes;
}

bool VirtualBus::OpenCOM(const QString &name)
{
    Q_UNUSED(name);
    if (!m_openFailure.isEmpty()) {
        m_lastError = m_openFailure;
        return false;
    }
    m_lastError.clear();
    m_open = true;
    m_pending.clear();
    return true;
}

void VirtualBus::CloseCOM()
{
    m_open = false;
    m_pending.clear();
}

bool VirtualBus::PurgeCOM()
{
    m_pending.clear();
    return m_open;
}

bool VirtualBus::SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn)
{
    Q_UNUSED(dataBits);
    Q_UNUSED(parity);
    Q_UNUSED(stopBits);
    Q_UNUSED(dtrOn);
    Q_UNUSED(rtsOn);
    if (!m_open)
        return false;
    m_baud = baud;
    return true;
}

bool VirtualBus::TxByteCOM(std::uint8_t byte)
{
    return TxDataCOM(&byte, 1);
}

bool VirtualBus::TxDataCOM(const std::uint8_t *data, int count)
{
    if (!m_open || count < 0)
        return false;
    ++m_portCounters.roundTrips;
    m_portCounters.charactersSent += static_cast<std::uint64_t>(count);
    const auto echoes = exchange(data, count, m_baud);
    m_pending.insert(m_pending.end(), echoes.begin(), echoes.end());
    return true;
}

bool VirtualBus::RxDataCOM(std::uint8_t *buffer, int count, int &read)
{
    read = 0;
    if (!m_open)
        return false;
    while (read < count && !m_pending.empty()) {
        buffer[read++] = m_pending.front();
        m_pending.pop_front();
    }
    m_portCounters.charactersReceived += static_cast<std::uint64_t>(read);
    return true;
}

SerialCounters VirtualBus::counters() const
{
    return m_portCounters;
}

void VirtualBus::resetCounters()
{
    m_portCounters = {};
    m_counters = {};
}
