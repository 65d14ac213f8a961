#pragma once

#include <QString>

#include <cstdint>

class WakeSignal;

// What a port has carried since it was created; the benchmarks and the simulator report it.
struct SerialCounters
{
    // Writes that wait for echoes: one per reset and one per transaction of the link.
    std::uint64_t roundTrips = 0;
    std::uint64_t charactersSent = 0;
    std::uint64_t charactersReceived = 0;
};

// The primitives of the serial line under the 1-Wire link. Implementations: PosixSerialPort
// (a real port through termios) and VirtualBus (a modelled bus). None of them raises an error;
// each returns false when the line could not do what was asked.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Opens the port exclusively for reading and writing; false when it is missing or held by
    // another program (lastError() says why).
    virtual bool OpenCOM(const QString &name) = 0;
    virtual void CloseCOM() = 0;
    virtual bool isOpen() const = 0;
    // Drops what arrived and was not read (never what is queued for output).
    virtual bool PurgeCOM() = 0;
    // Speed and framing; dtr/rtsOn true asserts the line. parity 0 = none, stopBits 0 = one.
    virtual bool SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn) = 0;
    // Sends one character at once.
    virtual bool TxByteCOM(std::uint8_t byte) = 0;
    // Sends several characters in one write (the slots of a transaction).
    virtual bool TxDataCOM(const std::uint8_t *data, int count) = 0;
    // Reads up to count characters, returning when they arrived or the read time-outs expired;
    // read is what arrived.
    virtual bool RxDataCOM(std::uint8_t *buffer, int count, int &read) = 0;
    // Reads what has arrived, up to count characters, without waiting; false when the port
    // failed. A model port that answers within its write reads through RxDataCOM.
    virtual bool readAvailable(std::uint8_t *buffer, int count, int &read) { return RxDataCOM(buffer, count, read); }
    // A descriptor that turns readable when characters arrive, for a wait that suspends
    // instead of blocking; -1 for a port whose answers are all there once the write returns.
    virtual int readableDescriptor() const { return -1; }
    // Woken just before that descriptor closes, so that no wait goes on watching a dead one;
    // null for a port without a descriptor.
    virtual WakeSignal *closingSignal() { return nullptr; }
    // How long a read waits for characters that do not come (the total read time-out).
    virtual int readTimeoutMs() const { return 0; }
    // Why the open port is gone (an adapter unplugged, the device behind its name replaced),
    // in the user's words; empty while it works or when it is closed.
    virtual QString lostReason() const { return {}; }
    // Read interval 1000 ms, read total 1000 ms, write total 1000 ms. Always true.
    virtual bool SetComPortTimeouts() = 0;
    // The system's reason for the last failure of OpenCOM, in the user's words; may be empty.
    virtual QString lastError() const = 0;
    // Traffic since construction (or the last resetCounters()).
    virtual SerialCounters counters() const { return {}; }
    virtual void resetCounters() {}
};
