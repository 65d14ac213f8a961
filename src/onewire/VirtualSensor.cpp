#include "onewire/VirtualSensor.h"

#include "base/Clock.h"
#include "onewire/OneWireCommands.h"
#include "onewire/OneWireCrc.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
using OneWireCommands::ConvertT;
using OneWireCommands::WriteScratchpad;
using OneWireCommands::ReadScratchpad;
using OneWireCommands::CopyScratchpad;
using OneWireCommands::RecallEeprom;
using OneWireCommands::ReadPowerSupply;
constexpr double PowerOnCelsius = 85.0;
constexpr double Clone25cPowerOnCelsius = 25.0;
constexpr std::uint8_t Clone25cCountPerC = 0x66;
constexpr std::uint8_t StuckByte6 = 0x0C;
} // namespace

VirtualSensor::VirtualSensor(const RomCode &rom)
    : RomDevice(rom)
    , m_temperature([] { return 20.0; })
{
    powerUp();
}

void VirtualSensor::powerUp()
{
    m_scratchpad = scratchpadFor(m_model == Model::Clone25c ? Clone25cPowerOnCelsius : PowerOnCelsius, isDs18b20());
    // TH, TL and the configuration come out of the EEPROM at power-up.
    m_scratchpad[2] = m_eeprom[0];
    m_scratchpad[3] = m_eeprom[1];
    if (isDs18b20())
        m_scratchpad[4] = m_eeprom[2];
    if (m_model == Model::Clone25c) {
        m_scratchpad[6] = StuckByte6;
        m_scratchpad[7] = Clone25cCountPerC;
    }
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
            // What was written to RAM meanwhile stays.
            std::copy(m_scratchpad.begin() + 2, m_scratchpad.begin() + 5, m_converted.begin() + 2);
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
    if (m_stopAfter >= 0 && m_stopAfter-- == 0) {
        setPlugged(false);
        return;
    }
    switch (command) {
    case ConvertT:
        ++m_conversions;
        goIdle();
        if (conversionTime() == 0) {
            // Done before the next slot: the read slots that follow see a released line.
            if (!m_fixedScratchpad) {
                m_scratchpad = converted(m_temperature());
                m_rawScratchpad = false;
            }
            break;
        }
        // The temperature is sampled now; the scratchpad changes only when the conversion ends.
        if (!m_fixedScratchpad)
            m_converted = converted(m_temperature());
        m_converting = true;
        m_conversionEnd = m_busTime + conversionTime();
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
    case RecallEeprom:
        // Done at once: the read slots that follow see a released line.
        m_scratchpad[2] = m_eeprom[0];
        m_scratchpad[3] = m_eeprom[1];
        if (isDs18b20())
            m_scratchpad[4] = m_eeprom[2];
        goIdle();
        break;
    case CopyScratchpad:
        m_eeprom = { m_scratchpad[2], m_scratchpad[3], isDs18b20() ? m_scratchpad[4] : m_eeprom[2] };
        ++m_eepromWrites;
        goIdle();
        break;
    default:
        ++m_unknownCommands;
        goIdle();
        break;
    }
}

void VirtualSensor::functionData(const std::vector<std::uint8_t> &data)
{
    // Write Scratchpad: TH, TL and, on a DS18B20, the configuration (only its resolution
    // bits can be written; the others read as the device keeps them).
    if (data.size() < 2)
        return;
    m_scratchpad[2] = data[0];
    m_scratchpad[3] = data[1];
    if (isDs18b20() && data.size() >= 3 && m_model != Model::Clone25c)
        m_scratchpad[4] = static_cast<std::uint8_t>((data[2] & 0x60) | 0x1F);
}

int VirtualSensor::resolutionBits() const
{
    return isDs18b20() ? 9 + ((m_scratchpad[4] >> 5) & 3) : 9;
}

int VirtualSensor::conversionTime() const
{
    if (m_conversionMs <= 0 || !isDs18b20())
        return m_conversionMs;
    if (m_model != Model::Genuine && m_model != Model::CloneAa)
        return m_conversionMs;
    return std::max(m_conversionMs >> (12 - resolutionBits()), 1);
}

std::array<std::uint8_t, 9> VirtualSensor::converted(double celsius) const
{
    std::array<std::uint8_t, 9> bytes = scratchpadFor(celsius, isDs18b20());
    bytes[2] = m_scratchpad[2];
    bytes[3] = m_scratchpad[3];
    if (!isDs18b20()) {
        bytes[8] = OneWireCrc::of(bytes.data(), 8);
        return bytes;
    }
    bytes[4] = m_scratchpad[4];
    if (m_model == Model::Genuine || m_model == Model::CloneAa) {
        // The bits below the resolution are left 0.
        const int dropped = 12 - resolutionBits();
        bytes[0] = static_cast<std::uint8_t>(bytes[0] & ~((1 << dropped) - 1));
    }
    if (m_model == Model::CloneFf || m_model == Model::CloneAa)
        bytes[6] = StuckByte6;
    else
        bytes[6] = static_cast<std::uint8_t>(0x10 - (bytes[0] & 0x0F));
    bytes[7] = m_model == Model::Clone25c ? Clone25cCountPerC : 0x10;
    bytes[8] = OneWireCrc::of(bytes.data(), 8);
    return bytes;
}

void VirtualSensor::setModel(Model model)
{
    m_model = model;
    switch (model) {
    case Model::Genuine:
        m_eeprom = { 0x4B, 0x46, 0x7F };
        break;
    case Model::CloneFf:
        m_eeprom = { 0x4B, 0x46, 0x7F };
        m_conversionMs = 30;
        break;
    case Model::CloneAa:
        m_eeprom = { 0x4B, 0x46, 0x7F };
        m_conversionMs = 600;
        break;
    case Model::Clone25c:
        m_eeprom = { 0x55, 0x00, 0x7F };
        m_conversionMs = 11;
        break;
    }
    powerUp();
}

void VirtualSensor::setEeprom(const std::array<std::uint8_t, 3> &bytes)
{
    m_eeprom = bytes;
    m_scratchpad[2] = bytes[0];
    m_scratchpad[3] = bytes[1];
    if (isDs18b20())
        m_scratchpad[4] = bytes[2];
}

QString VirtualSensor::modelName(Model model)
{
    switch (model) {
    case Model::CloneFf:
        return QStringLiteral("clone-ff");
    case Model::CloneAa:
        return QStringLiteral("clone-aa");
    case Model::Clone25c:
        return QStringLiteral("clone-25c");
    case Model::Genuine:
        break;
    }
    return QStringLiteral("genuine");
}

std::optional<VirtualSensor::Model> VirtualSensor::modelFromName(const QString &name)
{
    for (const Model model : { Model::Genuine, Model::CloneFf, Model::CloneAa, Model::Clone25c }) {
        if (name.compare(modelName(model), Qt::CaseInsensitive) == 0)
            return model;
    }
    return std::nullopt;
}

VirtualSensor::RomCode VirtualSensor::exampleRom(Model model, int n)
{
    const auto k = static_cast<std::uint8_t>(n);
    switch (model) {
    case Model::CloneFf:
        return makeRomCode(0x28, { 0xFF, 0x64, 0x1E, static_cast<std::uint8_t>(0x15 + k), 0x8C, 0x3C });
    case Model::CloneAa:
        return makeRomCode(0x28, { 0xAA, 0x3C, 0x48, static_cast<std::uint8_t>(0x53 + k), 0x14, 0x01 });
    case Model::Clone25c:
        return makeRomCode(0x28, { 0x61, 0x64, 0x12, static_cast<std::uint8_t>(0x3C + k), 0x7C, 0x2F });
    case Model::Genuine:
        break;
    }
    return makeRomCode(0x28, { static_cast<std::uint8_t>(0x61 + k), 0xC7, 0x3A, 0x05, 0x00, 0x00 });
}
