#pragma once

#include <QCoroTask>
#include <QString>

#include <optional>

// What the monitoring cycle reads its sensors through, whatever drives the bus: the serial
// line's own slots (TemperatureReader) or the kernel's 1-Wire driver (KernelBus). Both give
// the same values and the same "no reading" for the same sensors.
class SensorReader
{
public:
    static constexpr double NoReading = -999.0;

    virtual ~SensorReader() = default;

    // Degrees Celsius or -999 (a serial that is not 16 hex digits is logged, without a time
    // stamp). 85.0 is returned as read; the cycle rejects it.
    virtual QCoro::Task<double> GetTempSn(QString sn) = 0;

    // Whether a device on the bus needs the whole-bus conversion to wait its full time and
    // cannot be asked when it is done; nothing when no device answered.
    virtual QCoro::Task<std::optional<bool>> parasitePowered() = 0;
    // Whether the whole-bus conversion still works on a bus with such a device (a line
    // driver that holds a strong pull-up for its wait).
    virtual bool convertsParasiteBus() const { return false; }

    enum class Conversion { Done, TimedOut, NoPresence };
    // Every sensor converts at once; suspends until the slowest is done (Done), or gives up
    // (TimedOut: some sensor is still busy) or finds no bus to convert (NoPresence: read
    // sensor by sensor instead).
    virtual QCoro::Task<Conversion> convertAll() = 0;
    // The reading a conversion of the whole bus left in a sensor, with GetTempSn's checks; a
    // malformed serial gives -999 silently.
    virtual QCoro::Task<double> readConverted(QString sn) = 0;
    // GetTempSn for a bus whose whole conversion timed out: -999 rather than an old reading.
    virtual QCoro::Task<double> GetTempSnPolled(QString sn) = 0;

    // Every sensor's RAM back to what its EEPROM holds (TH, TL, resolution), as after a
    // power-up: a diagnosis cut short leaves its test values there, and a sensor then reads
    // at 9 bits until it loses power. Asked once the bus is opened, before any conversion.
    // A bus that cannot be told so does nothing.
    virtual QCoro::Task<> recallEeprom() { co_return; }
};
