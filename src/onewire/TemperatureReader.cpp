#include "onewire/TemperatureReader.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireCommands.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/OneWireTransaction.h"

#include <QStringList>

#include <algorithm>

namespace {
using OneWireCommands::MatchRom;
using OneWireCommands::SkipRom;
using OneWireCommands::ConvertT;
using OneWireCommands::ReadScratchpad;
using OneWireCommands::ReadPowerSupply;
using OneWireCommands::RecallEeprom;

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}
} // namespace

TemperatureReader::TemperatureReader(OneWireLink &link, Log &log)
    : m_link(link)
    , m_log(log)
{
}

std::optional<std::array<std::uint8_t, 8>> TemperatureReader::romBytes(const QString &sn)
{
    if (sn.size() != 16)
        return std::nullopt;
    std::array<std::uint8_t, 8> rom {};
    for (int i = 0; i < 8; ++i) {
        const int high = hexDigit(sn.at(2 * i));
        const int low = hexDigit(sn.at(2 * i + 1));
        if (high < 0 || low < 0)
            return std::nullopt;
        rom[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return rom;
}

bool TemperatureReader::hasB20Format(const QString &sn)
{
    // DS18B20, DS1822, DS1825 and DS28EA00 share the twelve-bit format; DS18S20 alone has
    // its half-degree one with COUNT_REMAIN.
    static const QStringList families{QStringLiteral("28"), QStringLiteral("22"), QStringLiteral("3B"), QStringLiteral("42")};
    return families.contains(sn.left(2).toUpper());
}

double TemperatureReader::decode(const std::array<std::uint8_t, 9> &scratchpad, bool family28)
{
    const int raw = scratchpad[0] + 256 * scratchpad[1];
    const int s = raw > 16000 ? raw - 65536 : raw;
    if (family28)
        return s / 16.0;
    const int countRemain = scratchpad[6];
    const int countPerC = scratchpad[7];
    if (countPerC == 0)
        return NoReading;
    const int t = s >> 1; // arithmetic: the half-degree bit dropped towards minus infinity
    return t - 0.25 + static_cast<double>(countPerC - countRemain) / countPerC;
}

void TemperatureReader::matchRom(OneWireTransaction &transaction, const std::array<std::uint8_t, 8> &rom)
{
    transaction.writeByte(MatchRom);
    for (const std::uint8_t byte : rom)
        transaction.writeByte(byte);
}

std::optional<std::array<std::uint8_t, 8>> TemperatureReader::checkedRom(const QString &sn)
{
    const auto rom = romBytes(sn);
    if (!rom)
        m_log.addRawLine(QStringLiteral("Непавильный серийный номер датчика: ") + sn);
    return rom;
}

OneWireTransaction TemperatureReader::convertOne(const std::array<std::uint8_t, 8> &rom)
{
    OneWireTransaction convert;
    matchRom(convert, rom);
    convert.writeByte(ConvertT);
    return convert;
}

QCoro::Task<double> TemperatureReader::GetTempSn(QString sn)
{
    const auto rom = checkedRom(sn);
    if (!rom)
        co_return NoReading;
    // Each reset answers whether anyone is there; between them nothing the master sends
    // depends on an echo, so each half of the reading is one serial round trip.
    if (!co_await m_link.ResetT())
        co_return NoReading;
    // A line driver holds the bus at full strength for the whole wait: a device powered from
    // the data line has the current to convert (a bare line sends the same slots).
    OneWireTransaction convert;
    matchRom(convert, *rom);
    convert.writeBytePowered(ConvertT);
    co_await m_link.run(convert);
    co_await m_link.Delay(m_conversionDelayMs);
    co_await m_link.releasePower();
    co_return co_await readScratchpad(*rom, hasB20Format(sn));
}

QCoro::Task<double> TemperatureReader::readScratchpad(std::array<std::uint8_t, 8> rom, bool family28)
{
    if (!co_await m_link.ResetT())
        co_return NoReading;
    OneWireTransaction read;
    matchRom(read, rom);
    read.writeByte(ReadScratchpad);
    std::array<std::uint8_t, 9> scratchpad {};
    for (std::size_t i = 0; i < scratchpad.size(); ++i)
        read.readByte();
    co_await m_link.run(read);
    m_link.Crc8 = 0;
    for (std::size_t i = 0; i < scratchpad.size(); ++i) {
        scratchpad[i] = read.bytesRead()[i];
        if (i < 8)
            m_link.UpdateCRC(scratchpad[i]);
    }
    if (scratchpad[8] != m_link.Crc8)
        co_return NoReading;
    // Every scratchpad a sensor really sent (not the nine zeros of a line held low) keeps the
    // running verdict up to date, for free.
    if (m_scratchpadObserver && std::any_of(scratchpad.begin(), scratchpad.end(), [](std::uint8_t b) { return b != 0; }))
        m_scratchpadObserver(rom, scratchpad);
    co_return checkedReading(scratchpad, family28);
}

double TemperatureReader::checkedReading(const std::array<std::uint8_t, 9> &scratchpad, bool family28)
{
    if (OneWireCrc::of(scratchpad.data(), 8) != scratchpad[8])
        return NoReading;
    // Nine zero bytes carry a valid CRC but come from a line held low, never from a sensor
    // (their reserved bytes are 0xFF and 0x10).
    if (std::all_of(scratchpad.begin(), scratchpad.end(), [](std::uint8_t b) { return b == 0; }))
        return NoReading;
    return decode(scratchpad, family28);
}

QCoro::Task<std::optional<bool>> TemperatureReader::parasitePowered()
{
    if (!co_await m_link.ResetT())
        co_return std::nullopt;
    OneWireTransaction ask;
    ask.writeByte(SkipRom);
    ask.writeByte(ReadPowerSupply);
    ask.readBit();
    co_await m_link.run(ask);
    m_parasiteSeen = ask.bitsRead().front() == 0;
    co_return std::optional<bool>(m_parasiteSeen);
}

bool TemperatureReader::convertsParasiteBus() const
{
    return m_link.powersParasite();
}

QCoro::Task<> TemperatureReader::recallEeprom()
{
    if (!co_await m_link.ResetT())
        co_return;
    OneWireTransaction recall;
    recall.writeByte(SkipRom);
    recall.writeByte(RecallEeprom);
    for (int i = 0; i < PollSlots; ++i)
        recall.readBit();
    co_await m_link.run(recall);
    // It takes microseconds; a device still at it holds the last slot at 0, and the next
    // reset must not cut it short.
    if (recall.bitsRead().back() == 0 && !m_link.aborted()) {
        co_await m_link.Delay(1);
        OneWireTransaction poll;
        for (int i = 0; i < PollSlots; ++i)
            poll.readBit();
        co_await m_link.run(poll);
    }
}

QCoro::Task<bool> TemperatureReader::convertAndPoll(OneWireTransaction &convert)
{
    const Clock &clock = m_link.clock();
    const quint32 started = clock.tickCount();
    const qint64 limit = static_cast<qint64>(m_conversionDelayMs) + PollMarginMs;
    for (int i = 0; i < PollSlots; ++i)
        convert.readBit();
    co_await m_link.run(convert);
    OneWireTransaction poll;
    for (int i = 0; i < PollSlots; ++i)
        poll.readBit();
    const OneWireTransaction *last = &convert;
    for (;;) {
        // Once done a device releases every slot; the last of the batch is the latest word.
        if (last->bitsRead().back() == 1)
            co_return true;
        if (m_link.aborted() || static_cast<qint64>(static_cast<quint32>(clock.tickCount() - started)) >= limit)
            co_return false;
        // Suspended between the batches, as in the fixed wait: commands go on meanwhile.
        co_await m_link.Delay(PollIntervalMs);
        co_await m_link.run(poll);
        last = &poll;
    }
}

QCoro::Task<TemperatureReader::Conversion> TemperatureReader::convertAll()
{
    if (!co_await m_link.ResetT())
        co_return Conversion::NoPresence;
    OneWireTransaction convert;
    convert.writeByte(SkipRom);
    if (m_parasiteSeen && m_link.powersParasite()) {
        // Nobody can say when it is done: the full wait, under the pull-up.
        convert.writeBytePowered(ConvertT);
        co_await m_link.run(convert);
        co_await m_link.Delay(m_conversionDelayMs);
        co_await m_link.releasePower();
        co_return Conversion::Done;
    }
    convert.writeByte(ConvertT);
    const bool done = co_await convertAndPoll(convert);
    co_return done ? Conversion::Done : Conversion::TimedOut;
}

QCoro::Task<double> TemperatureReader::readConverted(QString sn)
{
    const auto rom = romBytes(sn);
    if (!rom)
        co_return NoReading;
    co_return co_await readScratchpad(*rom, hasB20Format(sn));
}

QCoro::Task<double> TemperatureReader::GetTempSnPolled(QString sn)
{
    const auto rom = checkedRom(sn);
    if (!rom)
        co_return NoReading;
    if (!co_await m_link.ResetT())
        co_return NoReading;
    OneWireTransaction convert = convertOne(*rom);
    if (!co_await convertAndPoll(convert))
        co_return NoReading;
    co_return co_await readScratchpad(*rom, hasB20Format(sn));
}
