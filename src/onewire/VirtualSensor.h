#pragma once

#include "onewire/RomDevice.h"

#include <functional>

class Clock;

// A modelled DS18B20 (family 0x28: 12-bit readings) or DS18S20 (any other family: 9 bits
// plus COUNT_REMAIN/COUNT_PER_C). Convert T 0x44 samples the temperature into the scratchpad,
// Read Scratchpad 0xBE sends its 9 bytes with their CRC; until the first conversion after
// power-up the scratchpad holds 85 °C.
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
};
