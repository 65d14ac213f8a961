#pragma once

#include "onewire/OneWireTransaction.h"
#include "onewire/SensorReader.h"

#include <QCoroTask>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class Log;
class OneWireLink;

// Reads one sensor addressed by its serial number: Match ROM, Convert T, the conversion wait
// (suspended: the event loop keeps running), Match ROM again, Read Scratchpad, CRC check and the decoding
// of the sensor's family (28: 12-bit; any other: the 9-bit-plus-counter formula). A reading
// is four serial round trips: reset, address and convert, reset, address and read.
//
// Beside it, one conversion for the whole bus: every sensor converts at once (Skip ROM,
// Convert T) and the wait ends when the read slots after it read 1, which a sensor with its
// own supply answers only once it is done; each sensor is then read on its own. A
// parasite-powered device cannot answer those slots, so the caller asks first.
class TemperatureReader final : public SensorReader
{
public:
    TemperatureReader(OneWireLink &link, Log &log);

    // Degrees Celsius, or -999: a serial that is not 16 hex digits is logged (no time stamp)
    // and causes no bus traffic; no presence, a CRC mismatch or COUNT_PER_C = 0 give -999
    // silently. 85.0 is returned as read.
    QCoro::Task<double> GetTempSn(QString sn) override;

    // Whether any device on the bus is powered from the data line (Skip ROM, Read Power
    // Supply, one read slot that such a device pulls low); nothing when no device answered
    // the reset. One round trip after the reset.
    QCoro::Task<std::optional<bool>> parasitePowered() override;
    // On a link that holds a strong pull-up: the conversion of a bus with a parasite device
    // waits its full time under the pull-up instead of polling.
    bool convertsParasiteBus() const override;

    // Every device on the bus converts at once; suspends until the read slots after Convert T
    // read 1 (the slowest device is done) or the conversion wait plus PollMarginMs passed.
    // Polls a batch of PollSlots read slots (one round trip) every PollIntervalMs.
    QCoro::Task<Conversion> convertAll() override;
    // The reading a conversion of the whole bus left in a sensor: GetTempSn without its
    // conversion, with the same checks and results. A malformed serial gives -999 silently
    // (GetTempSn, which the caller falls back to, logs it).
    QCoro::Task<double> readConverted(QString sn) override;
    // GetTempSn whose wait ends when the sensor's read slots say it is done (a sensor with
    // its own supply only); -999 when it is still busy after the conversion wait plus
    // PollMarginMs: its scratchpad still holds an older reading.
    QCoro::Task<double> GetTempSnPolled(QString sn) override;
    // Skip ROM, Recall E², then read slots until every device has released the line.
    QCoro::Task<> recallEeprom() override;

    static constexpr int PollMarginMs = 100;
    static constexpr int PollIntervalMs = 10;
    static constexpr int PollSlots = 8;

    // Called with every scratchpad a reading brought that passed its checks, before it is
    // decoded (what its reserved bytes say about the device costs no traffic).
    using ScratchpadObserver = std::function<void(const std::array<std::uint8_t, 8> &rom, const std::array<std::uint8_t, 9> &scratchpad)>;
    void setScratchpadObserver(ScratchpadObserver observer) { m_scratchpadObserver = std::move(observer); }

    // The conversion wait; 750 ms in the program, shortened only by tests and benchmarks.
    void setConversionDelayMs(int ms) { m_conversionDelayMs = ms; }
    int conversionDelayMs() const { return m_conversionDelayMs; }

    // The 8 ROM bytes of a serial text, or nothing unless it is exactly 16 hex digits.
    static std::optional<std::array<std::uint8_t, 8>> romBytes(const QString &sn);
    // Whether a serial's family decodes as a DS18B20 (families 28, 22, 3B and 42) rather
    // than as a DS18S20.
    static bool hasB20Format(const QString &sn);
    // The temperature a valid scratchpad gives for a family, -999 when it cannot be decoded.
    static double decode(const std::array<std::uint8_t, 9> &scratchpad, bool family28);
    // The checks of a scratchpad as read, whatever bus it came over: -999 for a CRC
    // mismatch or nine zero bytes (a line held low), else decode().
    static double checkedReading(const std::array<std::uint8_t, 9> &scratchpad, bool family28);

private:
    static void matchRom(OneWireTransaction &transaction, const std::array<std::uint8_t, 8> &rom);
    // The ROM bytes of a serial; a serial that is not 16 hex digits is logged and gives none.
    std::optional<std::array<std::uint8_t, 8>> checkedRom(const QString &sn);
    // Match ROM and Convert T for one sensor.
    static OneWireTransaction convertOne(const std::array<std::uint8_t, 8> &rom);
    // Reset, Match ROM, Read Scratchpad and its checks and decoding.
    QCoro::Task<double> readScratchpad(std::array<std::uint8_t, 8> rom, bool family28);
    // Runs a transaction that ends in Convert T with a first batch of read slots behind it,
    // then polls; true once a slot read 1, false at the limit.
    QCoro::Task<bool> convertAndPoll(OneWireTransaction &convert);

    OneWireLink &m_link;
    Log &m_log;
    // What the last parasitePowered() found; a bus whose answer is not known is polled.
    bool m_parasiteSeen = false;
    int m_conversionDelayMs = 750;
    ScratchpadObserver m_scratchpadObserver;
};
