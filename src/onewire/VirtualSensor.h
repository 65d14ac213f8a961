#pragma once

#include "onewire/RomDevice.h"

#include <functional>

class Clock;

// A modelled DS18B20 (family 0x28: 12-bit readings) or DS18S20 (any other family: 9 bits
// plus COUNT_REMAIN/COUNT_PER_C). Convert T 0x44 samples the temperature into the scratchpad,
// Read Scratchpad 0xBE sends its 9 bytes with their CRC; until the first conversion after
// power-up the scratchpad holds 85 °C. A conversion may take time on the bus's clock: until it
// ends, the read slots that follow Convert T read 0 (busy) and the scratchpad keeps its old
// reading. Read Power Supply 0xB4 answers 0 in its read slot from a parasite-powered device,
// which cannot tell busy from done either (its slots after Convert T always read 1).
class VirtualSensor : public RomDevice
{
public:
    explicit VirtualSensor(const RomCode &rom);

    bool isDs18b20() const { return family() == 0x28; }

    // A fixed temperature, or one that changes over time (called at every Convert T).
    void setTemperature(double celsius);
    void setTemperatureFunction(std::function<double()> celsius);
    double temperature() const;

    // Sends a scratchpad whose CRC byte is wrong, until cleared.
    void setCorruptCrc(bool corrupt) { m_corruptCrc = corrupt; }
    // Fixes the scratchpad (tests of the decoding): conversions leave it until a temperature
    // is set again. The CRC byte is computed unless raw is true, when all nine bytes are sent
    // as given.
    void setScratchpad(const std::array<std::uint8_t, 9> &bytes, bool raw = false);
    std::array<std::uint8_t, 9> scratchpad() const;

    int conversions() const { return m_conversions; }

    // How long a conversion takes on the bus's clock: 0 (the default) ends it at once,
    // NeverDone never (a sensor that hangs converting).
    static constexpr int NeverDone = -1;
    void setConversionMs(int ms) { m_conversionMs = ms; }
    int conversionMs() const { return m_conversionMs; }
    // Powered from the data line instead of its own supply.
    void setParasitePower(bool parasite) { m_parasite = parasite; }
    bool parasitePower() const { return m_parasite; }
    // True while a conversion runs.
    bool converting() const { return m_converting; }

    bool reset() override;
    int driveBit() override;
    void setBusTime(qint64 ms) override;

    // mean + amplitude * sin(2 pi t / period) on the clock's tick counter; the clock must
    // outlive the sensor.
    static std::function<double()> sineWave(const Clock &clock, double mean, double amplitude, double periodSeconds);

    // The scratchpad (with its CRC byte) a sensor of this family holds for a temperature.
    static std::array<std::uint8_t, 9> scratchpadFor(double celsius, bool ds18b20);

protected:
    void functionCommand(std::uint8_t command) override;
    void powerUp() override;

private:
    std::function<double()> m_temperature;
    std::array<std::uint8_t, 9> m_scratchpad {};
    bool m_rawScratchpad = false;
    bool m_fixedScratchpad = false;
    bool m_corruptCrc = false;
    int m_conversions = 0;
    int m_conversionMs = 0;
    bool m_parasite = false;
    qint64 m_busTime = 0;
    // A conversion under way: the scratchpad it will leave and when.
    bool m_converting = false;
    qint64 m_conversionEnd = 0;
    std::array<std::uint8_t, 9> m_converted {};
    // The read slots after Convert T tell whether the conversion runs, until the next reset.
    bool m_statusSlots = false;
};
