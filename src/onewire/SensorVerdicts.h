#pragma once

#include "onewire/SensorDiagnosis.h"

#include <QHash>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// What the program knows of each sensor it read or diagnosed: the verdict of its latest full
// diagnosis, else the running verdict of the bytes 5, 6 and 7 its readings carry (no extra
// traffic). Keyed by the serial in upper case.
class SensorVerdicts
{
public:
    struct Entry
    {
        std::uint8_t family = 0;
        std::optional<bool> parasite;
        SensorReport::Verdict verdict = SensorReport::Verdict::Undetermined;
        bool diagnosed = false;
    };

    // A scratchpad a reading brought (CRC checked). True when the sensor's entry changed.
    bool noteScratchpad(const std::array<std::uint8_t, 8> &rom, const std::array<std::uint8_t, 9> &scratchpad);
    // A full diagnosis; it stands until the next one. A sensor that did not answer keeps
    // what was known of it.
    void noteReport(const SensorReport &report);
    std::optional<Entry> find(const QString &serial) const;

    // Label texts: "DS18B20", "DS18S20" or the family byte; "своё", "паразитное" or
    // "неизвестно".
    static QString familyText(std::uint8_t family);
    static QString powerText(const std::optional<bool> &parasite);
    // "external", "parasite", "unknown": for readers that must not depend on the language.
    static QString powerKey(const std::optional<bool> &parasite);

private:
    QHash<QString, Entry> m_entries;
};
