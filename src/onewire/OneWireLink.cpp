#include "onewire/OneWireLink.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/SerialPort.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

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

int OneWireLink::readEchoes(std::uint8_t *buffer, int count, quint32 deadline)
{
    int got = 0;
    while (got < count && !aborted()) {
        int read = 0;
        if (!m_port.RxDataCOM(buffer + got, count - got, read))
            break; // a closed or failed port brings no echo, however long one waits
        if (read < 0 || read > count - got)
            read = 0;
        got += read;
        // A read returns short only when its time-out ran out after the last echo, which is
        // the read the next slot would have made on its own: past the deadline, stop there.
        if (got < count && pastDeadline(deadline))
            break;
    }
    return got;
}

bool OneWireLink::ResetT()
{
    if (aborted())
        return false;
    setSpeed(ResetBaud);
    m_port.PurgeCOM();
    m_port.TxByteCOM(ResetCharacter);
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    std::uint8_t echo = 0;
    const bool presence = readEchoes(&echo, 1, deadline) == 1 && echo != ResetCharacter;
    setSpeed(SlotBaud);
    return presence;
}

void OneWireLink::run(OneWireTransaction &transaction)
{
    using Kind = OneWireTransaction::Kind;
    transaction.m_bytesRead.clear();
    transaction.m_bitsRead.clear();
    std::vector<std::uint8_t> characters;
    characters.reserve(static_cast<std::size_t>(transaction.slotCount()));
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        switch (step.kind) {
        case Kind::WriteByte:
            for (int i = 0; i < 8; ++i)
                characters.push_back((step.value >> i) & 1 ? ReleaseCharacter : WriteZeroCharacter);
            break;
        case Kind::ReadByte:
            characters.insert(characters.end(), 8, ReleaseCharacter);
            break;
        case Kind::WriteBit:
            characters.push_back(step.value == 1 ? ReleaseCharacter : WriteZeroCharacter);
            break;
        case Kind::ReadBit:
            characters.push_back(ReleaseCharacter);
            break;
        }
    }
    if (characters.empty())
        return;
    const int count = static_cast<int>(characters.size());
    std::vector<std::uint8_t> echoes(characters.size());
    int got = 0;
    // A closing program sends nothing more; every step reads as unanswered.
    if (!aborted()) {
        m_port.PurgeCOM();
        const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
        m_port.TxDataCOM(characters.data(), count);
        got = readEchoes(echoes.data(), count, deadline);
    }

    // Decoded step by step as if each had waited for its own echoes: a step is answered only
    // when all its echoes came, and once they stop, no later step gets any.
    int slot = 0;
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        const int width = step.kind == Kind::WriteByte || step.kind == Kind::ReadByte ? 8 : 1;
        const bool answered = slot + width <= got;
        const std::uint8_t *echo = echoes.data() + slot;
        switch (step.kind) {
        case Kind::WriteByte:
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
            if (step.value != 0 && step.value != 1)
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

void OneWireLink::SendB(std::uint8_t byte)
{
    OneWireTransaction transaction;
    transaction.writeByte(byte);
    run(transaction);
}

std::uint8_t OneWireLink::GetB()
{
    OneWireTransaction transaction;
    transaction.readByte();
    run(transaction);
    return transaction.bytesRead().front();
}

void OneWireLink::SendBit(int bit)
{
    OneWireTransaction transaction;
    transaction.writeBit(bit);
    run(transaction);
}

int OneWireLink::GetBit()
{
    OneWireTransaction transaction;
    transaction.readBit();
    run(transaction);
    return transaction.bitsRead().front();
}

void OneWireLink::UpdateCRC(std::uint8_t byte)
{
    Crc8 = OneWireCrc::update(Crc8, byte);
}

void OneWireLink::Delay(int ms)
{
    const quint32 start = m_clock.tickCount();
    // A coarse timer wakes the event loop so the wait sleeps instead of spinning; it only
    // exists where there is an event loop to wake.
    QTimer waker;
    const bool haveLoop = QAbstractEventDispatcher::instance() != nullptr && QCoreApplication::instance() != nullptr;
    if (haveLoop && ms > 0) {
        waker.setTimerType(Qt::PreciseTimer);
        waker.start(5);
    }
    for (;;) {
        const quint32 now = m_clock.tickCount();
        const bool done = static_cast<qint64>(now - start) >= ms;
        if (haveLoop && !done)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done || aborted())
            break;
        if (!haveLoop)
            QThread::msleep(1);
    }
}
