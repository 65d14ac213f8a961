#pragma once

#include <QCoroTask>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class Log;
class OneWireLink;
class OneWireTransaction;

// Reads one sensor addressed by its serial number: Match ROM, Convert T, the conversion wait
// (suspended: the event loop keeps running), Match ROM again, Read Scratchpad, CRC check and the decoding
// of the sensor's family (28: 12-bit; any other: the 9-bit-plus-counter formula). A reading
// is four serial round trips: reset, address and convert, reset, address and read.
class TemperatureReader
{
public:
    static constexpr double NoReading = -999.0;

    TemperatureReader(OneWireLink &link, Log &log);

    // Degrees Celsius, or -999: a serial that is not 16 hex digits is logged (no time stamp)
    // and causes no bus traffic; no presence, a CRC mismatch or COUNT_PER_C = 0 give -999
    // silently. 85.0 is returned as read.
    QCoro::Task<double> GetTempSn(QString sn);

    // The conversion wait; 750 ms in the program, shortened only by tests and benchmarks.
    void setConversionDelayMs(int ms) { m_conversionDelayMs = ms; }
    int conversionDelayMs() const { return m_conversionDelayMs; }

    // The 8 ROM bytes of a serial text, or nothing unless it is exactly 16 hex digits.
    static std::optional<std::array<std::uint8_t, 8>> romBytes(const QString &sn);
    // The temperature a valid scratchpad gives for a family, -999 when it cannot be decoded.
    static double decode(const std::array<std::uint8_t, 9> &scratchpad, bool family28);

private:
    static void matchRom(OneWireTransaction &transaction, const std::array<std::uint8_t, 8> &rom);

    OneWireLink &m_link;
    Log &m_log;
    int m_conversionDelayMs = 750;
};
