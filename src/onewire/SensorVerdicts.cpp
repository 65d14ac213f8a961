#include "onewire/SensorVerdicts.h"

#include "onewire/RomSearch.h"

bool SensorVerdicts::noteScratchpad(const std::array<std::uint8_t, 8> &rom, const std::array<std::uint8_t, 9> &scratchpad)
{
    const QString serial = RomSearch::codeText(rom);
    Entry &entry = m_entries[serial];
    const Entry before = entry;
    entry.family = rom[0];
    const SensorReport::Verdict running = SensorDiagnosis::runningVerdict(rom, scratchpad);
    // A diagnosis knows more than three bytes; only a definite sign seen since overrides it.
    if (!entry.diagnosed || running == SensorReport::Verdict::LikelyClone)
        entry.verdict = running;
    return before.family != entry.family || before.verdict != entry.verdict;
}

void SensorVerdicts::noteReport(const SensorReport &report)
{
    if (report.verdict == SensorReport::Verdict::NoAnswer)
        return;
    Entry &entry = m_entries[report.serial.toUpper()];
    entry.family = report.family;
    entry.parasite = report.parasite;
    entry.verdict = report.verdict;
    entry.diagnosed = true;
}

std::optional<SensorVerdicts::Entry> SensorVerdicts::find(const QString &serial) const
{
    const auto it = m_entries.constFind(serial.toUpper());
    if (it == m_entries.constEnd())
        return std::nullopt;
    return *it;
}

QString SensorVerdicts::familyText(std::uint8_t family)
{
    if (family == 0x28)
        return QStringLiteral("DS18B20");
    if (family == 0x10)
        return QStringLiteral("DS18S20");
    return QStringLiteral("%1").arg(family, 2, 16, QLatin1Char('0')).toUpper();
}

QString SensorVerdicts::powerText(const std::optional<bool> &parasite)
{
    if (!parasite)
        return QStringLiteral("неизвестно");
    return *parasite ? QStringLiteral("паразитное") : QStringLiteral("своё");
}

QString SensorVerdicts::powerKey(const std::optional<bool> &parasite)
{
    if (!parasite)
        return QStringLiteral("unknown");
    return *parasite ? QStringLiteral("parasite") : QStringLiteral("external");
}
