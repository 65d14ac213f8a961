#include "onewire/VirtualSensor.h"

#include "base/Clock.h"
#include "onewire/OneWireCrc.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr std::uint8_t ConvertT = 0x44;
constexpr std::uint8_t ReadScratchpad = 0xBE;
constexpr std::uint8_t WriteScratchpad = 0x4E;
constexpr std::uint8_t ReadPowerSupply = 0xB4;
constexpr double PowerOnCelsius = 85.0;
} // namespace

VirtualSensor::VirtualSensor(const RomCode &rom)
    : RomDevice(rom)
    , m_temperature([] { return 20.0; })
{
    powerUp();
}

void VirtualSensor::powerUp()
{
    m_scratchpad = scratchpadFor(PowerOnCelsius, isDs18b20());
    m_rawScratchpad = false;
    m_fixedScratchpad = false;
    m_converting = false;
    m_statusSlots = false;
}

bool VirtualSensor::reset()
{
    m_statusSlots = false;
    return RomDevice::reset();
}

int VirtualSensor::driveBit()
{
    // A conversion goes on across resets, but only the slots right after Convert T tell it;
    // a parasite-powered device has no current to pull the line low with meanwhile.
    if (m_statusSlots && plugged())
        return m_converting && !m_parasite ? 0 : 1;
    return RomDevice::driveBit();
}

void VirtualSensor::setBusTime(qint64 ms)
{
    m_busTime = ms;
    if (m_converting && m_conversionMs != NeverDone && ms >= m_conversionEnd) {
        m_converting = false;
        if (!m_fixedScratchpad) {
            m_scratchpad = m_converted;
            m_rawScratchpad = false;
        }
    }
}

void VirtualSensor::setTemperature(double celsius)
{
    m_temperature = [celsius] { return celsius; };
    m_fixedScratchpad = false;
}

void VirtualSensor::setTemperatureFunction(std::function<double()> celsius)
{
    if (celsius)
        m_temperature = std::move(celsius);
    m_fixedScratchpad = false;
}

double VirtualSensor::temperature() const
{
    return m_temperature();
}

void VirtualSensor::setScratchpad(const std::array<std::uint8_t, 9> &bytes, bool raw)
{
    m_scratchpad = bytes;
    m_rawScratchpad = raw;
    m_fixedScratchpad = true;
}

std::array<std::uint8_t, 9> VirtualSensor::scratchpad() const
{
    std::array<std::uint8_t, 9> bytes = m_scratchpad;
    if (!m_rawScratchpad)
        bytes[8] = OneWireCrc::of(bytes.data(), 8);
    if (m_corruptCrc)
        bytes[8] = static_cast<std::uint8_t>(bytes[8] ^ 0x5A);
    return bytes;
}

std::function<double()> VirtualSensor::sineWave(const Clock &clock, double mean, double amplitude, double periodSeconds)
{
    const quint32 start = clock.tickCount();
    const double period = periodSeconds > 0 ? periodSeconds : 1.0;
    return [&clock, start, mean, amplitude, period] {
        const double t = static_cast<quint32>(clock.tickCount() - start) / 1000.0;
        return mean + amplitude * std::sin(2 * std::numbers::pi * t / period);
    };
}

std::array<std::uint8_t, 9> VirtualSensor::scratchpadFor(double celsius, bool ds18b20)
{
    std::array<std::uint8_t, 9> bytes {};
    bytes[2] = 0x4B; // TH, TL as shipped
    bytes[3] = 0x46;
    if (ds18b20) {
        const double clamped = std::clamp(celsius, -55.0, 125.0);
        const int raw = static_cast<int>(std::lround(clamped * 16.0));
        const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(raw));
        bytes[0] = static_cast<std::uint8_t>(word & 0xFF);
        bytes[1] = static_cast<std::uint8_t>(word >> 8);
        bytes[4] = 0x7F; // 12-bit configuration
        bytes[5] = 0xFF;
        bytes[6] = 0x0C;
        bytes[7] = 0x10;
    } else {
        const double clamped = std::clamp(celsius, -55.0, 125.0);
        const int halves = static_cast<int>(std::lround(clamped * 2.0));
        const int whole = halves >> 1;
        // COUNT_REMAIN so that whole - 0.25 + (16 - remain) / 16 comes closest to the value.
        const int remain = std::clamp(16 - static_cast<int>(std::lround((clamped - whole + 0.25) * 16.0)), 0, 16);
        const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(halves));
        bytes[0] = static_cast<std::uint8_t>(word & 0xFF);
        bytes[1] = static_cast<std::uint8_t>(word >> 8);
        bytes[4] = 0xFF;
        bytes[5] = 0xFF;
        bytes[6] = static_cast<std::uint8_t>(remain);
        bytes[7] = 0x10;
    }
    bytes[8] = OneWireCrc::of(bytes.data(), 8);
    return bytes;
}

void VirtualSensor::functionCommand(std::uint8_t command)
{
    switch (command) {
    case ConvertT:
        ++m_conversions;
        goIdle();
        if (m_conversionMs == 0) {
            // Done before the next slot: the read slots that follow see a released line.
            if (!m_fixedScratchpad) {
                m_scratchpad = scratchpadFor(m_temperature(), isDs18b20());
                m_rawScratchpad = false;
            }
            break;
        }
        // The temperature is sampled now; the scratchpad changes only when the conversion ends.
        if (!m_fixedScratchpad)
            m_converted = scratchpadFor(m_temperature(), isDs18b20());
        m_converting = true;
        m_conversionEnd = m_busTime + m_conversionMs;
        m_statusSlots = true;
        break;
    case ReadPowerSupply:
        // The answer is the read slot that follows: a parasite-powered device pulls it low.
        if (m_parasite)
            transmit({0x00});
        else
            goIdle();
        break;
    case ReadScratchpad: {
        const auto bytes = scratchpad();
        transmit(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        break;
    }
    case WriteScratchpad:
        receive(isDs18b20() ? 3 : 2);
        break;
    default:
        goIdle();
        break;
    }
}
