#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class OneWireLink;

// One sign of what a sensor is, as a diagnosis measured it.
struct DiagnosisSign
{
    enum class Result {
        Genuine,    // as a genuine device answers
        Clone,      // as only clones answer: counts against the device
        Hint,       // worth showing, decides nothing (user-writable values, a power-up state)
        Unmeasured, // could not be measured here (parasite power, a step that failed)
    };
    QString name;
    Result result = Result::Unmeasured;
    QString detail;
};

// What a diagnosis of one sensor found.
struct SensorReport
{
    enum class Verdict { Genuine, LikelyClone, Undetermined, NoAnswer };

    QString serial;             // 16 hex digits, family byte first
    std::uint8_t family = 0;
    bool romCrcValid = false;
    std::optional<bool> parasite; // Read Power Supply; nothing when it was not answered
    // The scratchpad as first read: RAM recalled from the EEPROM, before the diagnosis
    // converted or wrote anything.
    std::optional<std::array<std::uint8_t, 9>> firstScratchpad;
    int resolutionBits = 0;     // from the configuration as found (DS18B20), 9 for DS18S20
    int TH = 0;
    int TL = 0;
    double temperature = -999.0; // the diagnosis's own 12-bit conversion
    int conversionMs = -1;      // at 12 bits (own supply only); -1 not measured
    int conversion9Ms = -1;     // at 9 bits (DS18B20, own supply only)
    std::vector<DiagnosisSign> signs;
    Verdict verdict = Verdict::Undetermined;
    // Milliseconds the diagnosis took.
    qint64 elapsedMs = 0;

    // "подлинный", "вероятно, подделка", "не определить" or "не отвечает".
    QString verdictText() const;
    // The signs that count against the device, as "name: detail".
    QStringList cloneSigns() const;
    // The device family's name ("DS18B20", "DS18S20", the other thermometers' or "семейство XX").
    QString familyName() const;
    // One line for a list of devices: ROM, family, power, resolution, conversion time,
    // verdict and the failing signs.
    QString line() const;
    // Everything found, one fact or sign a line, for a window to show.
    QStringList detailLines() const;
};

// Tells a genuine DS18B20 (or DS18S20) from a clone with documented commands alone: Read
// Power Supply, Read Scratchpad, Write Scratchpad (RAM only), Convert T, Recall E². It never
// sends Copy Scratchpad or any other command that writes the EEPROM, and whatever it wrote to
// RAM it brings back with Recall E² before it ends, also when the sensor stops answering.
// The caller holds the bus (and its port open) for the whole run; the waits are suspensions.
class SensorDiagnosis
{
public:
    explicit SensorDiagnosis(OneWireLink &link);

    // The whole diagnosis of the sensor with this serial (16 hex digits). A sensor that does
    // not answer, or stops answering midway, gives the verdict NoAnswer.
    QCoro::Task<SensorReport> diagnose(QString serial);

    // What the bytes 5, 6 and 7 of a scratchpad a reading left (with its ROM code) say with
    // no traffic of their own: LikelyClone on a definite sign, Genuine when the ROM and
    // those bytes are all as a genuine device's, Undetermined otherwise.
    static SensorReport::Verdict runningVerdict(const std::array<std::uint8_t, 8> &rom,
                                                const std::array<std::uint8_t, 9> &scratchpad);
    static QString verdictText(SensorReport::Verdict verdict);
    // The same in words that stay whatever the language (metrics, MQTT): "genuine",
    // "counterfeit", "unknown".
    static QString verdictKey(SensorReport::Verdict verdict);

    // The longest a conversion may take before the device counts as hung.
    static constexpr int ConversionLimitMs = 1200;
    // The fixed wait for a parasite-powered device, which cannot say when it is done.
    static constexpr int ParasiteWaitMs = 750;

private:
    struct Timing
    {
        bool done = false;
        int lowMs = 0;  // still busy this long after the start
        int highMs = 0; // done this long after the start
        int estimateMs() const { return (lowMs + highMs) / 2; }
    };

    QCoro::Task<bool> select();
    QCoro::Task<std::optional<bool>> readPower();
    QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> readScratchpad();
    QCoro::Task<bool> writeScratchpad(std::uint8_t th, std::uint8_t tl, std::optional<std::uint8_t> config);
    QCoro::Task<bool> recall();
    // Convert T, then polls the read slots until they read 1 (own supply) or waits the fixed
    // time (parasite).
    QCoro::Task<std::optional<Timing>> convert(bool poll);
    QCoro::Task<> diagnose18b20(SensorReport &report);
    QCoro::Task<> diagnose18s20(SensorReport &report);
    static void decide(SensorReport &report);

    OneWireLink &m_link;
    std::array<std::uint8_t, 8> m_rom {};
    // RAM was written and not yet recalled.
    bool m_written = false;
};
