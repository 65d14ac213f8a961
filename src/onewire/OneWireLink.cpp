#include "onewire/OneWireLink.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireCrc.h"
#include "onewire/SerialPort.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

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
    while (got < count && !m_aborted) {
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
    setSpeed(ResetBaud);
    m_port.PurgeCOM();
    m_port.TxByteCOM(ResetCharacter);
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    std::uint8_t echo = 0;
    const bool presence = readEchoes(&echo, 1, deadline) == 1 && echo != ResetCharacter;
    setSpeed(SlotBaud);
    return presence;
}

void OneWireLink::SendB(std::uint8_t byte)
{
    m_port.PurgeCOM();
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    std::uint8_t slotChars[8];
    for (int i = 0; i < 8; ++i) {
        slotChars[i] = (byte & 1) ? ReleaseCharacter : WriteZeroCharacter;
        byte = static_cast<std::uint8_t>(byte >> 1);
    }
    m_port.TxDataCOM(slotChars, 8);
    std::uint8_t echoes[8];
    readEchoes(echoes, 8, deadline);
}

std::uint8_t OneWireLink::GetB()
{
    m_port.PurgeCOM();
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    std::uint8_t slotChars[8];
    for (auto &slot : slotChars)
        slot = ReleaseCharacter;
    m_port.TxDataCOM(slotChars, 8);
    std::uint8_t echoes[8];
    if (readEchoes(echoes, 8, deadline) < 8)
        return 0xFF; // not the bits gathered so far: a broken byte reads as all ones
    std::uint8_t value = 0;
    for (const std::uint8_t echo : echoes) {
        value = static_cast<std::uint8_t>(value >> 1);
        if (echo & 1)
            value |= 0x80;
    }
    return value;
}

void OneWireLink::SendBit(int bit)
{
    m_port.PurgeCOM();
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    if (bit != 0 && bit != 1)
        m_log.AddLog(QStringLiteral("Ошибка Sendbit: ") + QString::number(bit));
    m_port.TxByteCOM(bit == 1 ? ReleaseCharacter : WriteZeroCharacter);
    std::uint8_t echo = 0;
    readEchoes(&echo, 1, deadline);
}

int OneWireLink::GetBit()
{
    m_port.PurgeCOM();
    const quint32 deadline = m_clock.tickCount() + EchoDeadlineMs;
    m_port.TxByteCOM(ReleaseCharacter);
    std::uint8_t echo = 0;
    // No echo reads as 1: a search then sees both bits 1 and ends its pass cleanly.
    if (readEchoes(&echo, 1, deadline) != 1)
        return 1;
    if (echo != ReadZeroEcho && echo != ReadOneEcho)
        m_log.AddLog(QStringLiteral("Ошибка GetBit: ") + QString::number(echo));
    return echo == ReadZeroEcho ? 0 : 1;
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
        if (done || m_aborted)
            break;
        if (!haveLoop)
            QThread::msleep(1);
    }
}
