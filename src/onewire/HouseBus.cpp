#include "onewire/HouseBus.h"

HouseBus::HouseBus(int number, BusConfig config, Log &log)
    : m_number(number)
    , m_config(std::move(config))
    , m_namedLog(*this, log)
{
}

QString HouseBus::say(const QString &sentence) const
{
    if (!m_named || sentence.isEmpty())
        return sentence;
    QString lowered = sentence;
    // "Порт COM3 потерян" reads on after the name; an abbreviation ("USB", "COM3") stays.
    if (lowered.size() < 2 || !lowered.at(1).isUpper())
        lowered[0] = lowered.at(0).toLower();
    return QStringLiteral("Шина «") + name() + QStringLiteral("»: ") + lowered;
}
