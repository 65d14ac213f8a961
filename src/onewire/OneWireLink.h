#pragma once

#include "onewire/WakeSignal.h"

#include <QCoroTask>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class Clock;
class Log;
class OneWireTransaction;
class SerialPort;

// The 1-Wire bus driven straight from a serial line: a reset is 0xF0 at 9600 baud, a slot one
// character at 115200 baud (0xFF write-1 or read, 0x00 write-0), each answered by its echo.
// The slot characters of a whole transaction (at least a byte) go out in one write and their
// echoes are read together; the bus sees the same slots and every result equals slot-by-slot
// operation. None of these operations raises an error; a missing echo reads as no presence,
// as 0xFF or as 1.
//
// Every operation that waits (for echoes, for a conversion) is a coroutine: it suspends and
// the event loop runs on, so no window the user opens meanwhile can hold it, and a line that
// stays silent never blocks the window thread. Callers co_await them one at a time.
class OneWireLink
{
public:
    OneWireLink(SerialPort &port, Log &log, const Clock &clock);
    virtual ~OneWireLink() = default;
    OneWireLink(const OneWireLink &) = delete;
    OneWireLink &operator=(const OneWireLink &) = delete;

    // Bus reset; true when a device answered with its presence pulse. The line runs at
    // 115200 baud afterwards whatever the outcome.
    virtual QCoro::Task<bool> ResetT();
    // Writes one byte, least significant bit first.
    QCoro::Task<> SendB(std::uint8_t byte);
    // Reads one byte, least significant bit first; 0xFF when the echoes stop early.
    QCoro::Task<std::uint8_t> GetB();
    // Writes one bit; a value other than 0 or 1 is logged and written as 0.
    QCoro::Task<> SendBit(int bit);
    // Reads one bit: 0 only for the echo 0xFC; other unexpected echoes are logged and read 1.
    QCoro::Task<int> GetBit();
    // Runs the steps of a transaction in one serial round trip: one purge, one write, one
    // read of the echoes under one deadline. Its results are those of the steps run one by
    // one; echoes that stop cost one read time-out for the whole transaction.
    virtual QCoro::Task<> run(OneWireTransaction &transaction);

    // What a line driver chip adds to the bare line; the bare line has none of it.
    // Whether the line can hold the bus at full strength after a byte (writeBytePowered), so
    // that a device powered from the data line can convert.
    virtual bool powersParasite() const { return false; }
    // Ends the strong pull-up a powered byte left on, at the latest as the link's next
    // exchange starts (nothing when none is on).
    virtual QCoro::Task<> releasePower();
    // Whether a whole pass of Search ROM runs in one exchange (searchPass).
    virtual bool searchesItself() const { return false; }
    struct SearchPass
    {
        std::array<std::uint8_t, 8> rom {};
        // A 1 where the devices disagreed (or none answered), bit for bit as rom.
        std::array<std::uint8_t, 8> discrepancies {};
    };
    // Reset and one pass of Search ROM that takes the route's bit wherever the devices
    // disagree; nothing without presence or from a line that cannot do it.
    virtual QCoro::Task<std::optional<SearchPass>> searchPass(std::array<std::uint8_t, 8> route);
    // Feeds one byte into Crc8.
    void UpdateCRC(std::uint8_t byte);
    // Waits at least ms milliseconds while the event loop keeps running (it runs at least
    // once, even for 0).
    QCoro::Task<> Delay(int ms);

    // A closing program: from now on nothing goes to the bus and no wait waits, so a
    // measurement or a search in progress runs out at once (no reading, no device). Waits
    // under way end now.
    void abort();
    // An outside stop request that needs no event loop to be seen (a signal's flag): a cycle
    // on a silent line never waits with the loop running, yet must end when it is set.
    void setAbortCheck(std::function<bool()> check) { m_abortCheck = std::move(check); }
    bool aborted() const { return m_aborted || (m_abortCheck && m_abortCheck()); }
    // The clock every wait of the link runs on.
    const Clock &clock() const { return m_clock; }

    // The running CRC accumulator; callers set it to 0 before a CRC run.
    std::uint8_t Crc8 = 0;

    static constexpr int EchoDeadlineMs = 50;

protected:
    SerialPort &port() { return m_port; }
    Log &log() { return m_log; }
    // Milliseconds left until deadline on the tick counter, at least 0.
    int msUntil(quint32 deadline) const;
    // Wakes every wait of the link when it is aborted.
    WakeSignal &stopped() { return m_stopped; }

private:
    void setSpeed(int baud);
    // Reads up to count echoes; stops early only when a read brings nothing once the
    // deadline has passed (or the port failed). Returns how many arrived.
    QCoro::Task<int> readEchoes(std::uint8_t *buffer, int count, quint32 deadline);
    bool pastDeadline(quint32 deadline) const;

    SerialPort &m_port;
    Log &m_log;
    const Clock &m_clock;
    bool m_aborted = false;
    std::function<bool()> m_abortCheck;
    WakeSignal m_stopped;
};
