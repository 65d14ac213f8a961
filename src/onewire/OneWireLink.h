#pragma once

#include <QString>

#include <cstdint>

class Clock;
class Log;
class SerialPort;

// The 1-Wire bus driven straight from a serial line: a reset is 0xF0 at 9600 baud, a slot one
// character at 115200 baud (0xFF write-1 or read, 0x00 write-0), each answered by its echo.
// The eight slot characters of a byte go out in one write and their echoes are read together;
// the bus sees the same slots and every result equals slot-by-slot operation. None of these
// operations raises an error; a missing echo reads as no presence, as 0xFF or as 1.
class OneWireLink
{
public:
    OneWireLink(SerialPort &port, Log &log, const Clock &clock);

    // Bus reset; true when a device answered with its presence pulse. The line runs at
    // 115200 baud afterwards whatever the outcome.
    bool ResetT();
    // Writes one byte, least significant bit first.
    void SendB(std::uint8_t byte);
    // Reads one byte, least significant bit first; 0xFF when the echoes stop early.
    std::uint8_t GetB();
    // Writes one bit; a value other than 0 or 1 is logged and written as 0.
    void SendBit(int bit);
    // Reads one bit: 0 only for the echo 0xFC; other unexpected echoes are logged and read 1.
    int GetBit();
    // Feeds one byte into Crc8.
    void UpdateCRC(std::uint8_t byte);
    // Waits at least ms milliseconds on the tick counter while the event loop keeps running
    // (events are handled at least once, even for 0).
    void Delay(int ms);

    // A closing program: from now on no wait waits and no echo is awaited, so a measurement or
    // a search in progress runs out at once (its result is no reading / no device).
    void abort() { m_aborted = true; }
    bool aborted() const { return m_aborted; }

    // The running CRC accumulator; callers set it to 0 before a CRC run.
    std::uint8_t Crc8 = 0;

    static constexpr int EchoDeadlineMs = 50;

private:
    void setSpeed(int baud);
    // Reads up to count echoes; stops early only when a read brings nothing once the
    // deadline has passed (or the port failed). Returns how many arrived.
    int readEchoes(std::uint8_t *buffer, int count, quint32 deadline);
    bool pastDeadline(quint32 deadline) const;

    SerialPort &m_port;
    Log &m_log;
    const Clock &m_clock;
    bool m_aborted = false;
};
