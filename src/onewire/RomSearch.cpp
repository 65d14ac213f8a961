#include "onewire/RomSearch.h"

#include "onewire/OneWireCommands.h"
#include "onewire/OneWireLink.h"
#include "onewire/OneWireTransaction.h"

namespace {
using OneWireCommands::ReadRom;
using OneWireCommands::SearchRom;

QString hexByte(std::uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// True when `code` comes after `previous` in search order: compared bit by bit in bus order
// (bit 0 of byte 0 first), the first bit where they differ is 1 in `code`.
bool comesAfter(const std::array<std::uint8_t, 8> &code, const std::array<std::uint8_t, 8> &previous)
{
    for (std::size_t byte = 0; byte < code.size(); ++byte) {
        const int differ = code[byte] ^ previous[byte];
        if (differ != 0)
            return (code[byte] & (differ & -differ)) != 0;
    }
    return false;
}
} // namespace

RomSearch::RomSearch(OneWireLink &link)
    : m_link(link)
{
}

void RomSearch::clearState()
{
    LastDiscrepancy = 0;
    LastDeviceFlag = false;
    m_found = 0;
}

QString RomSearch::codeText(const std::array<std::uint8_t, 8> &rom)
{
    QString text;
    text.reserve(16);
    for (const std::uint8_t byte : rom)
        text += hexByte(byte);
    return text;
}

QCoro::Task<QString> RomSearch::FindDS()
{
    int bitNumber = 1;
    int lastZero = 0;
    int byteNumber = 0;
    std::uint8_t byteMask = 1;
    std::uint8_t byteUnderConstruction = 0;
    bool success = false;
    m_link.Crc8 = 0;
    const std::array<std::uint8_t, 8> previous = ROM_NO;

    if (!LastDeviceFlag && m_link.searchesItself()) {
        success = co_await acceleratedPass();
    } else if (!LastDeviceFlag) {
        if (!co_await m_link.ResetT()) {
            clearState();
            co_return QString();
        }
        // Each pair of read slots decides the direction bit that follows it; that bit in turn
        // asks nothing of its echo, so it goes out with the next pair: one round trip a bit.
        OneWireTransaction step;
        step.writeByte(SearchRom);
        while (byteNumber < 8) {
            step.readBit();
            step.readBit();
            co_await m_link.run(step);
            const int idBit = step.bitsRead()[0];
            const int complementBit = step.bitsRead()[1];
            step.clear();
            if (idBit == 1 && complementBit == 1)
                break; // no device takes part any more
            int direction;
            if (idBit != complementBit) {
                direction = idBit;
            } else {
                if (bitNumber < LastDiscrepancy)
                    direction = (ROM_NO[static_cast<std::size_t>(byteNumber)] & byteMask) ? 1 : 0;
                else
                    direction = bitNumber == LastDiscrepancy ? 1 : 0;
                if (direction == 0)
                    lastZero = bitNumber;
            }
            byteUnderConstruction = static_cast<std::uint8_t>(byteUnderConstruction >> 1);
            if (direction == 1)
                byteUnderConstruction |= 0x80;
            step.writeBit(direction);
            ++bitNumber;
            byteMask = static_cast<std::uint8_t>(byteMask << 1);
            if (byteMask == 0) {
                m_link.UpdateCRC(byteUnderConstruction);
                // Replaced only when complete: the previous pass's byte still steers the discrepancies.
                ROM_NO[static_cast<std::size_t>(byteNumber)] = byteUnderConstruction;
                ++byteNumber;
                byteMask = 1;
            }
        }
        co_await m_link.run(step); // the last direction bit, when all 64 were searched
        if (bitNumber > 64 && m_link.Crc8 == 0) {
            LastDiscrepancy = lastZero;
            if (lastZero == 0)
                LastDeviceFlag = true;
            success = true;
        }
    }
    if (success && m_found > 0 && !comesAfter(ROM_NO, previous))
        success = false;
    if (success && ++m_found > MaxDevices)
        success = false;
    if (!success || ROM_NO[0] == 0xFF) {
        clearState();
        success = false;
    }
    co_return success ? codeText(ROM_NO) : QString();
}

QCoro::Task<bool> RomSearch::acceleratedPass()
{
    // The same tree walk, with the driver taking every branch itself: the route follows
    // the last code up to the last discrepancy, takes 1 there and 0 beyond it.
    std::array<std::uint8_t, 8> route {};
    for (int bit = 1; bit <= 64; ++bit) {
        const std::size_t byte = static_cast<std::size_t>((bit - 1) / 8);
        const std::uint8_t mask = static_cast<std::uint8_t>(1u << ((bit - 1) % 8));
        const bool one = bit < LastDiscrepancy ? (ROM_NO[byte] & mask) != 0 : bit == LastDiscrepancy;
        if (one)
            route[byte] |= mask;
    }
    const std::optional<OneWireLink::SearchPass> pass = co_await m_link.searchPass(route);
    if (!pass)
        co_return false;
    // Once no device answers, every later bit reads as a discrepancy taken as 1: the last
    // one says whether the pass got through.
    if ((pass->rom[7] & 0x80) && (pass->discrepancies[7] & 0x80))
        co_return false;
    int lastZero = 0;
    for (int bit = 1; bit <= 64; ++bit) {
        const std::size_t byte = static_cast<std::size_t>((bit - 1) / 8);
        const std::uint8_t mask = static_cast<std::uint8_t>(1u << ((bit - 1) % 8));
        if ((pass->discrepancies[byte] & mask) && !(pass->rom[byte] & mask))
            lastZero = bit;
    }
    m_link.Crc8 = 0;
    for (const std::uint8_t byte : pass->rom)
        m_link.UpdateCRC(byte);
    if (m_link.Crc8 != 0)
        co_return false;
    ROM_NO = pass->rom;
    LastDiscrepancy = lastZero;
    if (lastZero == 0)
        LastDeviceFlag = true;
    co_return true;
}

QCoro::Task<QString> RomSearch::GetSNForOne()
{
    QString result;
    if (!co_await m_link.ResetT())
        co_return result;
    OneWireTransaction read;
    read.writeByte(ReadRom);
    for (int i = 0; i < 8; ++i)
        read.readByte();
    co_await m_link.run(read);
    for (const std::uint8_t byte : read.bytesRead())
        result += hexByte(byte) + QLatin1Char(' ');
    co_return result;
}
