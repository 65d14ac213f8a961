#include "onewire/Ds2480bModel.h"

#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"

namespace {
constexpr std::uint8_t CommandMode = 0xE3;
constexpr std::uint8_t DataMode = 0xE1;
constexpr std::uint8_t PulseEnd = 0xF1;
// What the chip sends when a strong pull-up or a pulse ends.
constexpr std::uint8_t PulseAnswer = 0xEC;
// Power-on value codes of the settings 1..7: slew rate 15 V/µs, programming pulse 512 µs,
// strong pull-up 524 ms, write-1 low time 8 µs, sample offset 3 µs, load threshold, 9600 baud.
constexpr int DefaultSettings[8] = { 0, 0, 4, 4, 0, 0, 4, 0 };
constexpr int RbrSetting = 7;
constexpr int Rates[4] = { 9600, 19200, 57600, 115200 };
} // namespace

Ds2480bModel::Ds2480bModel(VirtualBus &bus)
    : m_bus(bus)
{
    masterReset();
    m_counters = {};
}

void Ds2480bModel::setSilent(bool silent)
{
    if (!silent && m_silent)
        m_powerUpPending = true;
    m_silent = silent;
}

int Ds2480bModel::chipBaud() const
{
    return Rates[m_settings[RbrSetting] & 3];
}

void Ds2480bModel::masterReset()
{
    ++m_counters.masterResets;
    m_state = State::AwaitCalibration;
    m_accelerator = false;
    m_searchFailed = false;
    m_pullUp = false;
    for (int i = 0; i < 8; ++i)
        m_settings[i] = DefaultSettings[i];
}

Ds2480bModel::Counters Ds2480bModel::counters() const
{
    const std::lock_guard lock(m_mutex);
    return m_counters;
}

bool Ds2480bModel::calibrated() const
{
    const std::lock_guard lock(m_mutex);
    return m_state != State::AwaitCalibration;
}

int Ds2480bModel::setting(int parameter) const
{
    const std::lock_guard lock(m_mutex);
    return parameter >= 1 && parameter <= 7 ? m_settings[parameter] : -1;
}

std::vector<std::uint8_t> Ds2480bModel::exchange(const std::uint8_t *data, int count, int baud)
{
    const std::lock_guard lock(m_mutex);
    std::vector<std::uint8_t> out;
    if (m_silent)
        return out;
    if (m_powerUpPending.exchange(false))
        masterReset();
    const qint64 now = m_bus.busTime();
    for (const auto &device : m_bus.devices())
        device->setBusTime(now);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t byte = data[i];
        if (baud < chipBaud()) {
            masterReset();
            continue;
        }
        if (baud > chipBaud())
            continue; // framing garbage to the chip
        if (m_pullUp) {
            endPullUp(out);
            if (byte == PulseEnd)
                continue;
        }
        switch (m_state) {
        case State::AwaitCalibration:
            // Only a reset command calibrates; it reaches no device and gets no answer.
            if ((byte & 0xE1) == 0xC1)
                m_state = State::Command;
            break;
        case State::Command:
            command(byte, out);
            break;
        case State::Data:
            if (byte == CommandMode)
                m_state = State::Check;
            else
                dataByte(byte, out);
            break;
        case State::Check:
            if (byte == CommandMode) {
                m_state = State::Data;
                dataByte(byte, out);
            } else {
                m_state = State::Command;
                command(byte, out);
            }
            break;
        }
    }
    return out;
}

int Ds2480bModel::slot(int bit)
{
    ++m_counters.slotCount;
    if (m_shorted)
        return 0;
    int bus = bit;
    if (bit == 1) {
        for (const auto &device : m_bus.devices())
            bus &= device->driveBit();
    }
    for (const auto &device : m_bus.devices())
        device->slotDone(bus);
    return bus;
}

void Ds2480bModel::conversionMark()
{
    m_conversionsSeen.clear();
    for (const auto &device : m_bus.devices()) {
        const auto *sensor = dynamic_cast<const VirtualSensor *>(device.get());
        m_conversionsSeen.push_back(sensor ? sensor->conversions() : 0);
    }
}

void Ds2480bModel::brownOutUnpowered()
{
    std::size_t i = 0;
    for (const auto &device : m_bus.devices()) {
        auto *sensor = dynamic_cast<VirtualSensor *>(device.get());
        if (sensor && sensor->parasitePower() && i < m_conversionsSeen.size() && sensor->conversions() > m_conversionsSeen[i]) {
            sensor->losePower();
            ++m_counters.brownOuts;
        }
        ++i;
    }
}

void Ds2480bModel::endPullUp(std::vector<std::uint8_t> &out)
{
    m_pullUp = false;
    const qint64 now = m_bus.busTime();
    for (const auto &device : m_bus.devices()) {
        device->setBusTime(now);
        auto *sensor = dynamic_cast<VirtualSensor *>(device.get());
        if (sensor && sensor->parasitePower() && sensor->converting()) {
            sensor->losePower();
            ++m_counters.brownOuts;
        }
    }
    out.push_back(PulseAnswer);
}

void Ds2480bModel::command(std::uint8_t byte, std::vector<std::uint8_t> &out)
{
    if (!(byte & 0x01))
        return; // no command of the chip's
    if (!(byte & 0x80)) {
        const int parameter = (byte >> 4) & 7;
        const int value = (byte >> 1) & 7;
        if (parameter == 0) {
            out.push_back(static_cast<std::uint8_t>(m_settings[value] << 1));
        } else {
            m_settings[parameter] = value;
            out.push_back(static_cast<std::uint8_t>(byte & 0xFE));
        }
        return;
    }
    if (byte == DataMode) {
        m_state = State::Data;
        return;
    }
    if (byte == CommandMode || byte == PulseEnd)
        return;
    switch (byte & 0xE1) {
    case 0x81: { // single bit
        const bool pullUp = byte & 0x02;
        conversionMark();
        const int level = slot((byte >> 4) & 1);
        out.push_back(static_cast<std::uint8_t>((byte & 0xFC) | (level ? 0x03 : 0x00)));
        if (pullUp) {
            m_pullUp = true;
            ++m_counters.pullUps;
        } else {
            brownOutUnpowered();
        }
        return;
    }
    case 0xA1: // search accelerator on or off
        m_accelerator = byte & 0x10;
        m_searchFailed = false;
        return;
    case 0xC1: { // reset
        ++m_counters.resets;
        int line = 0; // shorted
        if (!m_shorted) {
            bool presence = false;
            for (const auto &device : m_bus.devices())
                presence = device->reset() || presence;
            line = presence ? 1 : 3;
        }
        out.push_back(static_cast<std::uint8_t>(0xC0 | (Revision << 2) | line));
        return;
    }
    default:
        break;
    }
    if ((byte & 0xED) == 0xED) { // pulse: held until F1 (only infinite ones are modelled)
        m_pullUp = true;
        ++m_counters.pullUps;
    }
}

void Ds2480bModel::dataByte(std::uint8_t byte, std::vector<std::uint8_t> &out)
{
    conversionMark();
    std::uint8_t answer = 0;
    if (m_accelerator) {
        // Four ROM bits: two read slots, then the write slot of the direction taken.
        for (int j = 0; j < 4; ++j) {
            const int route = (byte >> (2 * j + 1)) & 1;
            int taken = 1;
            int discrepancy = 1;
            if (!m_searchFailed) {
                const int id = slot(1);
                const int complement = slot(1);
                if (id != complement) {
                    taken = id;
                    discrepancy = 0;
                } else if (id == 0) {
                    taken = route;
                } else {
                    m_searchFailed = true;
                }
            } else {
                slot(1);
                slot(1);
            }
            slot(taken);
            answer |= static_cast<std::uint8_t>((taken << (2 * j + 1)) | (discrepancy << (2 * j)));
        }
    } else {
        for (int i = 0; i < 8; ++i)
            answer |= static_cast<std::uint8_t>(slot((byte >> i) & 1) << i);
    }
    out.push_back(answer);
    brownOutUnpowered();
}
