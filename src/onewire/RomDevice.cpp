#include "onewire/RomDevice.h"

#include "onewire/OneWireCommands.h"
#include "onewire/OneWireCrc.h"
#include "onewire/TemperatureReader.h"

namespace {
using OneWireCommands::ReadRom;
using OneWireCommands::SearchRom;
using OneWireCommands::MatchRom;
using OneWireCommands::SkipRom;
} // namespace

RomDevice::RomDevice(const RomCode &rom)
    : m_rom(rom)
{
}

RomDevice::RomCode RomDevice::makeRomCode(std::uint8_t family, const std::array<std::uint8_t, 6> &serial)
{
    RomCode rom {};
    rom[0] = family;
    for (std::size_t i = 0; i < 6; ++i)
        rom[i + 1] = serial[i];
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return rom;
}

std::optional<RomDevice::RomCode> RomDevice::parseRomText(const QString &text)
{
    return TemperatureReader::romBytes(text);
}

bool RomDevice::romCrcValid(const RomCode &rom)
{
    return OneWireCrc::of(rom.data(), rom.size()) == 0;
}

QString RomDevice::serialText() const
{
    QString text;
    for (const std::uint8_t byte : m_rom)
        text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

void RomDevice::setPlugged(bool plugged)
{
    if (plugged && !m_plugged)
        powerUp();
    m_plugged = plugged;
    m_phase = Phase::Idle;
}

bool RomDevice::reset()
{
    if (!m_plugged)
        return false;
    m_phase = Phase::RomCommand;
    m_bitIndex = 0;
    m_byte = 0;
    return true;
}

void RomDevice::transmit(std::vector<std::uint8_t> bytes)
{
    m_transfer = std::move(bytes);
    m_bitIndex = 0;
    m_phase = Phase::Transmit;
}

void RomDevice::receive(int byteCount)
{
    m_transfer.clear();
    m_receiveCount = byteCount;
    m_bitIndex = 0;
    m_byte = 0;
    m_phase = Phase::Receive;
}

void RomDevice::goIdle()
{
    m_phase = Phase::Idle;
}

int RomDevice::driveBit()
{
    if (!m_plugged)
        return 1;
    const auto bitOf = [](const std::uint8_t *bytes, int index) {
        return (bytes[index / 8] >> (index % 8)) & 1;
    };
    switch (m_phase) {
    case Phase::ReadRom:
        return bitOf(m_rom.data(), m_bitIndex);
    case Phase::Search:
        if (m_searchStep == 0)
            return bitOf(m_rom.data(), m_bitIndex);
        if (m_searchStep == 1)
            return bitOf(m_rom.data(), m_bitIndex) ^ 1;
        return 1;
    case Phase::Transmit:
        if (m_bitIndex < static_cast<int>(m_transfer.size()) * 8)
            return bitOf(m_transfer.data(), m_bitIndex);
        return 1;
    default:
        return 1;
    }
}

void RomDevice::receivedBit(int bit)
{
    m_byte = static_cast<std::uint8_t>((m_byte >> 1) | (bit ? 0x80 : 0));
    if (++m_bitIndex % 8 != 0)
        return;
    const std::uint8_t byte = m_byte;
    m_byte = 0;
    switch (m_phase) {
    case Phase::RomCommand:
        m_bitIndex = 0;
        m_searchStep = 0;
        if (byte == ReadRom)
            m_phase = Phase::ReadRom;
        else if (byte == MatchRom)
            m_phase = Phase::MatchRom;
        else if (byte == SkipRom)
            m_phase = Phase::Function;
        else if (byte == SearchRom)
            m_phase = Phase::Search;
        else
            m_phase = Phase::Idle;
        break;
    case Phase::Function:
        m_bitIndex = 0;
        functionCommand(byte);
        break;
    case Phase::Receive:
        m_transfer.push_back(byte);
        if (static_cast<int>(m_transfer.size()) >= m_receiveCount) {
            m_phase = Phase::Idle;
            functionData(m_transfer);
        }
        break;
    default:
        break;
    }
}

void RomDevice::slotDone(int busBit)
{
    if (!m_plugged)
        return;
    switch (m_phase) {
    case Phase::RomCommand:
    case Phase::Function:
    case Phase::Receive:
        receivedBit(busBit);
        break;
    case Phase::ReadRom:
        if (++m_bitIndex >= 64) {
            m_bitIndex = 0;
            m_phase = Phase::Function;
        }
        break;
    case Phase::MatchRom: {
        const int mine = (m_rom[static_cast<std::size_t>(m_bitIndex / 8)] >> (m_bitIndex % 8)) & 1;
        if (mine != busBit) {
            m_phase = Phase::Idle;
            break;
        }
        if (++m_bitIndex >= 64) {
            m_bitIndex = 0;
            m_phase = Phase::Function;
        }
        break;
    }
    case Phase::Search:
        if (m_searchStep < 2) {
            ++m_searchStep;
            break;
        }
        m_searchStep = 0;
        if (busBit != ((m_rom[static_cast<std::size_t>(m_bitIndex / 8)] >> (m_bitIndex % 8)) & 1)) {
            m_phase = Phase::Idle; // took the other branch: out until the next reset
            break;
        }
        if (++m_bitIndex >= 64) {
            m_bitIndex = 0;
            m_phase = Phase::Function;
        }
        break;
    case Phase::Transmit:
        ++m_bitIndex;
        break;
    case Phase::Idle:
        break;
    }
}
