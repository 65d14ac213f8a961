#pragma once

#include "onewire/OneWireDevice.h"
#include "onewire/SerialPort.h"

#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <vector>

class Clock;
class VirtualSensor;

// A modelled 1-Wire bus behind the serial-line interface: what a port adapter with its
// devices would echo. A character sent below 30000 baud is a reset pulse (devices answer with
// presence), one sent faster is a slot (its low time decides write-0 or release; released
// slots carry the wired-AND of what the devices drive). Opening succeeds for any name.
// Single-threaded: use it from one thread at a time.
class VirtualBus : public SerialPort
{
public:
    enum class EchoFault {
        None,
        NoEcho,        // no adapter: nothing comes back
        StopAfter,     // echoes stop after faultCount characters (counted from setFault)
        FixedEcho,     // every echo is faultByte
        HeldLow,       // a shorted bus: every echo is 0x00, devices see nothing
    };

    struct Counters
    {
        std::uint64_t resets = 0;
        std::uint64_t slotCount = 0;
        std::uint64_t roundTrips = 0; // writes (each one waits for its echoes)
        std::uint64_t characters = 0;
    };

    VirtualBus();
    ~VirtualBus() override;

    // Devices (the bus shares ownership with the caller).
    void addDevice(std::shared_ptr<OneWireDevice> device);
    // A sensor from its 16-hex-digit serial (family from the first byte), or nullptr for a
    // malformed text. The CRC byte is taken as given.
    std::shared_ptr<VirtualSensor> addSensor(const QString &serial, double celsius = 20.0);
    // Three sensors whose temperatures drift slowly on the clock (the clock must outlive the
    // bus): 28ECEDC7050000F6 about 21 °C, 2825EA52050000CE about -4 °C, 108739A80208006F
    // (DS18S20) about 55 °C. Returns their serials in that order.
    QStringList addDemoSensors(const Clock &clock);
    bool removeDevice(const QString &serial);
    void removeAllDevices();
    VirtualSensor *findSensor(const QString &serial) const;
    bool setTemperature(const QString &serial, double celsius);
    const std::vector<std::shared_ptr<OneWireDevice>> &devices() const { return m_devices; }

    // Faults of the line (not of a device).
    void setFault(EchoFault fault, int count = 0, std::uint8_t byte = 0);
    // Each read slot's level flips with this probability, as the master sees it.
    void setNoise(double probability, std::uint32_t seed);
    // The echo of a reset answered by presence (0xE0 by default).
    void setPresenceEcho(std::uint8_t echo) { m_presenceEcho = echo; }
    // The bus's clock in milliseconds, on which conversions take their time: a steady clock
    // by default (safe from the simulator's thread); tests give their own. Asked once per
    // exchange.
    void setTimeSource(std::function<qint64()> milliseconds);
    qint64 busTime() const;
    // Makes the next OpenCOM fail with this reason (empty: opens succeed).
    void setOpenFailure(const QString &reason) { m_openFailure = reason; }

    // The echoes of characters sent at a speed: the bus model itself, used by the port
    // primitives below and by the pseudo-terminal server. Faults may drop echoes.
    std::vector<std::uint8_t> exchange(const std::uint8_t *data, int count, int baud);

    Counters busCounters() const { return m_counters; }
    void resetBusCounters() { m_counters = {}; }
    int baud() const { return m_baud; }
    // The characters sent while recording is on, in order (tests of the slot encoding); off
    // by default so a long demo run does not grow it.
    void setRecordSent(bool on) { m_recordSent = on; }
    const std::vector<std::uint8_t> &sentLog() const { return m_sent; }
    void clearSentLog() { m_sent.clear(); }
    // Echoes to hand out before anything the bus computes (tests of odd echoes).
    void queueEchoOverride(std::vector<std::uint8_t> echoes);

    // SerialPort
    bool OpenCOM(const QString &name) override;
    void CloseCOM() override;
    bool isOpen() const override { return m_open; }
    bool PurgeCOM() override;
    bool SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn) override;
    bool TxByteCOM(std::uint8_t byte) override;
    bool TxDataCOM(const std::uint8_t *data, int count) override;
    bool RxDataCOM(std::uint8_t *buffer, int count, int &read) override;
    bool SetComPortTimeouts() override { return true; }
    QString lastError() const override { return m_lastError; }
    SerialCounters counters() const override;
    void resetCounters() override;

private:
    std::uint8_t echoOf(std::uint8_t character, int baud);

    std::vector<std::shared_ptr<OneWireDevice>> m_devices;
    std::function<qint64()> m_time;
    std::deque<std::uint8_t> m_pending;
    std::deque<std::uint8_t> m_overrides;
    std::vector<std::uint8_t> m_sent;
    Counters m_counters;
    SerialCounters m_portCounters;
    EchoFault m_fault = EchoFault::None;
    int m_faultCount = 0;
    std::uint8_t m_faultByte = 0;
    std::uint64_t m_echoesSinceFault = 0;
    double m_noise = 0.0;
    std::mt19937 m_random;
    std::uint8_t m_presenceEcho = 0xE0;
    int m_baud = 9600;
    bool m_open = false;
    bool m_recordSent = false;
    QString m_openFailure;
    QString m_lastError;
};
