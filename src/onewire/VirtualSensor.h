#pragma once

#include "onewire/RomDevice.h"

#include <QString>

#include <functional>
#include <optional>

class Clock;

// A modelled DS18B20 (family 0x28: 12-bit readings) or DS18S20 (any other family: 9 bits
// plus COUNT_REMAIN/COUNT_PER_C). Convert T 0x44 samples the temperature into the scratchpad,
// Read Scratchpad 0xBE sends its 9 bytes with their CRC; until the first conversion after
// power-up the scratchpad holds 85 °C. A conversion may take time on the bus's clock: until it
// ends, the read slots that follow Convert T read 0 (busy) and the scratchpad keeps its old
// reading. Read Power Supply 0xB4 answers 0 in its read slot from a parasite-powered device,
// which cannot tell busy from done either (its slots after Convert T always read 1).
//
// Write Scratchpad 0x4E sets TH, TL and (DS18B20) the configuration in RAM, Recall E² 0xB8
// brings back what the EEPROM holds, Copy Scratchpad 0x48 writes RAM into the EEPROM and is
// counted (a program that only looks must never send it), as is any command the device does
// not document. A DS18B20 converts at the resolution its configuration gives, in the 12-bit
// time halved for each bit less. Beside the genuine device the model plays the clones sold
// under its name, each with the traits that give it away to documented commands.
class VirtualSensor : public RomDevice
{
public:
    enum class Model {
        Genuine,
        // ROM 28 FF …: byte 6 stuck at 0x0C, converts in 30 ms at any resolution.
        CloneFf,
        // ROM 28 AA …: converts in 600 ms like the genuine one, but byte 6 stuck at 0x0C.
        CloneAa,
        // Powers up at 25 °C with TH/TL 55/00 and byte 7 = 0x66, the configuration stuck at
        // 0x7F, converts in 11 ms at any resolution.
        Clone25c,
    };

    explicit VirtualSensor(const RomCode &rom);

    // Makes the device behave as that model (and take its conversion time); powers it up.
    void setModel(Model model);
    Model model() const { return m_model; }
    // The command-line names of the models ("genuine", "clone-ff", "clone-aa", "clone-25c").
    static QString modelName(Model model);
    static std::optional<Model> modelFromName(const QString &name);
    // A ROM code as that model's maker numbers them (n varies the serial bytes).
    static RomCode exampleRom(Model model, int n = 0);

    // How often Copy Scratchpad wrote the EEPROM, and how many function commands the device
    // does not document it received.
    int eepromWrites() const { return m_eepromWrites; }
    int unknownCommands() const { return m_unknownCommands; }
    // TH, TL and the configuration as the EEPROM holds them.
    std::array<std::uint8_t, 3> eeprom() const { return m_eeprom; }
    // What a user once stored (TH, TL, configuration); RAM takes it as after a power-up.
    void setEeprom(const std::array<std::uint8_t, 3> &bytes);
    // The device drops off the bus after this many more function commands (a sensor whose
    // cable breaks in the middle of a talk); -1, the default: never.
    void setStopAfterCommands(int commands) { m_stopAfter = commands; }

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
    // For a DS18B20 this is the time at 12 bits.
    void setConversionMs(int ms) { m_conversionMs = ms; }
    int conversionMs() const { return m_conversionMs; }
    // Powered from the data line instead of its own supply.
    void setParasitePower(bool parasite) { m_parasite = parasite; }
    bool parasitePower() const { return m_parasite; }
    // True while a conversion runs.
    bool converting() const { return m_converting; }
    // A device powered from the data line that converted without a strong pull-up browns
    // out: the conversion is lost and the scratchpad holds its power-up reading.
    void losePower() { powerUp(); }

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
    void functionData(const std::vector<std::uint8_t> &data) override;
    void powerUp() override;

private:
    // The scratchpad a conversion of this temperature leaves, by the model's rules.
    std::array<std::uint8_t, 9> converted(double celsius) const;
    int resolutionBits() const;
    int conversionTime() const;

    Model m_model = Model::Genuine;
    std::array<std::uint8_t, 3> m_eeprom { 0x4B, 0x46, 0x7F };
    int m_eepromWrites = 0;
    int m_unknownCommands = 0;
    int m_stopAfter = -1;
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
