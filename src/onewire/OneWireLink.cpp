#include "onewire/OneWireLink.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/SerialPort.h"

#include "onewire/BusWait.h"

#include <algorithm>
#include <vector>

namespace {
constexpr int ResetBaud = 9600;
constexpr int SlotBaud = 115200;
constexpr std::uint8_t ResetCharacter = 0xF0;
constexpr std::uint8_t ReleaseCharacter = 0xFF; // write-1 and read slot
constexpr std::uint8_t WriteZeroCharacter = 0x00;
constexpr std::uint8_t ReadZeroEcho = 0xFC;
constexpr std::uint8_t ReadOneEcho = 0xFF;
} // namespace

OneWireLink::OneWireLink(SerialPort &port, Log &log, const Clock &clock)
    : m_port(port)
    , m_log(log)
    , m_clock(clock)
{
}

void OneWireLink::setSpeed(int baud)
{
    m_port.SetModCOM(baud, 8, 0, 0, true, false);
}

bool OneWireLink::pastDeadline(quint32 deadline) const
{
    // The tick counter wraps at 2^32: compare by signed difference.
    return static_cast<qint32>(m_clock.tickCount() - deadline) > 0;
}

int OneWireLink::msUntil(quint32 deadline) const
{
    const qint32 left = static_cast<qint32>(deadline - m_clock.tickCount());
    return left > 0 ? left : 0;
}

void OneWireLink::abort()
{
    m_aborted = true;
    m_stopped.wake();
}

QCoro::Task<int> OneWireLink::readEchoes(std::uint8_t *buffer, int count, quint32 deadline)
{
    int got = 0;
    // The port's own read time-out bounds the wait for echoes that do not come, as a
    // blocking read would; the echo deadline is the least.
    const quint32 started = m_clock.tickCount();
    const quint32 readDeadline = started + static_cast<quint32>(std::max(m_port.readTimeoutMs(), 0));
    const quint32 until = static_cast<qint32>(readDeadline - deadline) > 0 ? readDeadline : deadline;
    while (got < count && !aborted()) {
        int read = 0;
        if (!m_port.readAvailable(buffer + got, count - got, read))
            break; // a closed or failed port brings no echo, however long one waits
        if (read < 0 || read > count - got)
            read = 0;
        got += read;
        if (got == count)
            break;
        const int fd = m_port.readableDescriptor();
        // A model port has answered within its write: what is not there will not come.
        if (fd < 0 || pastDeadline(until))
            break;
        // Suspended, not blocked: the window goes on while the line is silent.
        co_await BusWait(std::max(msUntil(until), 1), fd, &m_stopped, m_port.closingSignal());
    }
    co_return got;
}

QCoro::Task<bool> OneWireLink::ResetT()
{
    if (aborted())
        co_return false;
    setSpeed(ResetBaud);
    m_port.PurgeCOM();
    m_port.TxByteCOM(ResetCharacter);
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    std::uint8_t echo = 0;
    const bool presence = co_await readEchoes(&echo, 1, deadline) == 1 && echo != ResetCharacter;
    setSpeed(SlotBaud);
    co_return presence;
}

QCoro::Task<> OneWireLink::run(OneWireTransaction &transaction)
{
    using Kind = OneWireTransaction::Kind;
    transaction.m_bytesRead.clear();
    transaction.m_bitsRead.clear();
    std::vector<std::uint8_t> characters;
    characters.reserve(static_cast<std::size_t>(transaction.slotCount()));
    bool readBitBefore = false;
    std::vector<const OneWireTransaction::Step *> saidEarly;
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        switch (step.kind) {
        case Kind::WriteByte:
        case Kind::WriteBytePowered: // the bare line has no pull-up of its own to add
            for (int i = 0; i < 8; ++i)
                characters.push_back((step.value >> i) & 1 ? ReleaseCharacter : WriteZeroCharacter);
            break;
        case Kind::ReadByte:
            characters.insert(characters.end(), 8, ReleaseCharacter);
            break;
        case Kind::WriteBit:
            // Said as the bit goes out, unless a read slot before it may have its own line
            // to say first (known only once the echoes are in).
            if (step.value != 0 && step.value != 1 && !readBitBefore) {
                m_log.AddLog(QStringLiteral("Ошибка Sendbit: ") + QString::number(step.value));
                saidEarly.push_back(&step);
            }
            characters.push_back(step.value == 1 ? ReleaseCharacter : WriteZeroCharacter);
            break;
        case Kind::ReadBit:
            readBitBefore = true;
            characters.push_back(ReleaseCharacter);
            break;
        }
    }
    if (characters.empty())
        co_return;
    const int count = static_cast<int>(characters.size());
    std::vector<std::uint8_t> echoes(characters.size());
    int got = 0;
    // A closing program sends nothing more; every step reads as unanswered.
    if (!aborted()) {
        m_port.PurgeCOM();
        const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
        m_port.TxDataCOM(characters.data(), count);
        got = co_await readEchoes(echoes.data(), count, deadline);
    }

    // Decoded step by step as if each had waited for its own echoes: a step is answered only
    // when all its echoes came, and once they stop, no later step gets any.
    int slot = 0;
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        const int width = OneWireTransaction::slotsOf(step.kind);
        const bool answered = slot + width <= got;
        const std::uint8_t *echo = echoes.data() + slot;
        switch (step.kind) {
        case Kind::WriteByte:
        case Kind::WriteBytePowered:
            break; // a write's echo is not evaluated
        case Kind::ReadByte: {
            // Not the bits gathered so far: a broken byte reads as all ones.
            std::uint8_t value = 0xFF;
            if (answered) {
                value = 0;
                for (int i = 0; i < 8; ++i) {
                    value = static_cast<std::uint8_t>(value >> 1);
                    if (echo[i] & 1)
                        value |= 0x80;
                }
            }
            transaction.m_bytesRead.push_back(value);
            break;
        }
        case Kind::WriteBit:
            if (step.value != 0 && step.value != 1 && std::find(saidEarly.begin(), saidEarly.end(), &step) == saidEarly.end())
                m_log.AddLog(QStringLiteral("Ошибка Sendbit: ") + QString::number(step.value));
            break;
        case Kind::ReadBit:
            // No echo reads as 1: a search then sees both bits 1 and ends its pass cleanly.
            if (!answered) {
                transaction.m_bitsRead.push_back(1);
                break;
            }
            if (*echo != ReadZeroEcho && *echo != ReadOneEcho)
                m_log.AddLog(QStringLiteral("Ошибка GetBit: ") + QString::number(*echo));
            transaction.m_bitsRead.push_back(*echo == ReadZeroEcho ? 0 : 1);
            break;
        }
        slot += width;
    }
}

QCoro::Task<> OneWireLink::SendB(std::uint8_t byte)
{
    OneWireTransaction transaction;
    transaction.writeByte(byte);
    co_await run(transaction);
}

QCoro::Task<std::uint8_t> OneWireLink::GetB()
{
    OneWireTransaction transaction;
    transaction.readByte();
    co_await run(transaction);
    co_return transaction.bytesRead().front();
}

QCoro::Task<> OneWireLink::SendBit(int bit)
{
    OneWireTransaction transaction;
    transaction.writeBit(bit);
    co_await run(transaction);
}

QCoro::Task<int> OneWireLink::GetBit()
{
    OneWireTransaction transaction;
    transaction.readBit();
    co_await run(transaction);
    co_return transaction.bitsRead().front();
}

QCoro::Task<> OneWireLink::releasePower()
{
    co_return;
}

QCoro::Task<std::optional<OneWireLink::SearchPass>> OneWireLink::searchPass(std::array<std::uint8_t, 8> route)
{
    Q_UNUSED(route);
    co_return std::nullopt;
}

void OneWireLink::UpdateCRC(std::uint8_t byte)
{
    Crc8 = OneWireCrc::update(Crc8, byte);
}

QCoro::Task<> OneWireLink::Delay(int ms)
{
    if (aborted())
        co_return;
    // On the tick counter, as every wait of the link: the timer only wakes the coroutine.
    // Even a wait of 0 lets the event loop run once: commands go on in the middle of a cycle.
    const quint32 start = m_clock.tickCount();
    do {
        const qint64 waited = static_cast<qint64>(static_cast<quint32>(m_clock.tickCount() - start));
        co_await BusWait(static_cast<int>(std::max<qint64>(ms - waited, 0)), -1, &m_stopped);
    } while (!aborted() && static_cast<qint64>(static_cast<quint32>(m_clock.tickCount() - start)) < ms);
}
