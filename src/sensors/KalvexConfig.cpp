#include "sensors/KalvexConfig.h"

#include "sensors/IniFile.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <set>
#include <vector>

namespace {

const QString General = QStringLiteral("General");
const QString Items = QStringLiteral("Items");
const QString Bus = QStringLiteral("Bus");
const QString Mqtt = QStringLiteral("MQTT");
const QString OwServer = QStringLiteral("OwServer");

// The section of bus `number` (2 .. MaxBuses).
QString busSection(int number)
{
    return Bus + QString::number(number);
}

QString itemKey(const char *name, int k)
{
    return QLatin1String(name) + QString::number(k);
}

QString signKey(int k, int n, const char *field)
{
    return QStringLiteral("Item%1Sig%2").arg(k).arg(n) + QLatin1String(field);
}

TColor color(int stored)
{
    return static_cast<TColor>(stored);
}

int stored(TColor c)
{
    return static_cast<int>(c);
}

} // namespace

namespace {

// The numbers k of the sensors whose keys the file holds ("ItemSN" k, "Item" k "Sig" n
// "Enable", ...), in rising order: such a sensor is never left out because "ItemCount" says
// fewer, and a number with no key of its own gets no sensor.
std::vector<int> storedSensors(const IniFile &ini)
{
    static const QRegularExpression itemKey(
        QStringLiteral("^Item(?:(?:Top|Left|Name|SN|Enable|Correct|Tray|CBFon|CBText|CBChart|Bus)(\\d+)"
                       "|(\\d+)Sig[1-4](?:Enable|bm|Value|mp3path|mp3Enable|AppPath|AppEnable))$"),
        QRegularExpression::CaseInsensitiveOption);
    std::set<int> found;
    for (const QString &key : ini.keys(Items)) {
        const QRegularExpressionMatch m = itemKey.match(key);
        if (!m.hasMatch())
            continue;
        const QString digits = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
        bool ok = false;
        const int k = digits.toInt(&ok);
        // "ItemSN07" is not the key of sensor 7: the file's numbers are plain decimals.
        if (ok && k >= 0 && QString::number(k) == digits)
            found.insert(k);
    }
    return {found.begin(), found.end()};
}

} // namespace

namespace {

// Reads the keys of one file, noting every value that is there but not of its type and every
// text held to MaxTextLength, for one log line each.
class KeyReader
{
public:
    explicit KeyReader(const IniFile &ini) : m_ini(ini) {}

    int integer(const QString &section, const QString &key, int def)
    {
        bool bad = false;
        const int v = m_ini.readInteger(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    bool boolean(const QString &section, const QString &key, bool def)
    {
        bool bad = false;
        const bool v = m_ini.readBool(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    double real(const QString &section, const QString &key, double def)
    {
        bool bad = false;
        const double v = m_ini.readFloat(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    QString text(const QString &section, const QString &key, const QString &def)
    {
        QString v = m_ini.readString(section, key, def);
        if (v.size() > MaxTextLength) {
            m_cut << QStringLiteral("%1 (%2)").arg(key).arg(v.size());
            v.truncate(MaxTextLength);
        }
        return v;
    }

    // The log lines of what was noted, and whether the file holds anything a save would lose.
    QStringList lines() const
    {
        QStringList out;
        if (!m_unreadable.isEmpty())
            out << QStringLiteral("значения не прочитаны, взяты значения по умолчанию: ") + listed(m_unreadable)
                    + QLatin1Char('.');
        if (!m_cut.isEmpty())
            out << QStringLiteral("тексты длиннее %1 символов сокращены: ").arg(MaxTextLength) + listed(m_cut)
                    + QLatin1Char('.');
        return out;
    }
    bool lossy() const { return !m_unreadable.isEmpty() || !m_cut.isEmpty(); }

    // A value read here but found to be none of those allowed.
    void note(bool bad, const QString &section, const QString &key)
    {
        if (!bad)
            return;
        QString value = m_ini.readString(section, key, QString());
        if (value.size() > 40)
            value = value.left(40) + QStringLiteral("…");
        // The keys of the buses 2, 3, ... are the same in every section: the section tells them apart.
        const QString where = section.size() > Bus.size() && section.startsWith(Bus, Qt::CaseInsensitive)
            ? QLatin1Char('[') + section + QStringLiteral("] ")
            : QString();
        m_unreadable << where + key + QStringLiteral("=«") + value + QStringLiteral("»");
    }

private:
    // A file full of garbage gives one line of bounded length.
    static QString listed(const QStringList &items)
    {
        constexpr int shown = 20;
        QString text = QStringList(items.mid(0, shown)).join(QStringLiteral(", "));
        if (items.size() > shown)
            text += QStringLiteral(" и ещё %1").arg(items.size() - shown);
        return text;
    }

    const IniFile &m_ini;
    QStringList m_unreadable;
    QStringList m_cut;
};

} // namespace

namespace {

bool knownBusKind(const QString &kind)
{
    return kind == QLatin1String("serial") || kind == QLatin1String("kernel") || kind == QLatin1String("owserver")
        || kind == QLatin1String("ds2480b");
}

// Buses 2 .. MaxBuses from [Bus2] ... [Bus16]: as many as the highest section present says; a
// number without its section is a default bus, switched off.
std::vector<BusConfig> readMoreBuses(const IniFile &ini, KeyReader &r, const std::function<void(const QString &)> &hold)
{
    static const QRegularExpression numbered(QStringLiteral("^Bus([1-9][0-9]*)$"), QRegularExpression::CaseInsensitiveOption);
    std::set<int> present;
    QStringList beyond;
    for (const QString &section : ini.sections()) {
        const QRegularExpressionMatch m = numbered.match(section);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        if (ok && n >= 2 && n <= MaxBuses)
            present.insert(n);
        else if (n != 1)
            beyond << QLatin1Char('[') + section + QLatin1Char(']');
    }
    if (!beyond.isEmpty())
        hold(QStringLiteral("шин не больше %1, разделы не прочитаны: %2.").arg(MaxBuses).arg(beyond.join(QStringLiteral(", "))));
    std::vector<BusConfig> buses;
    if (present.empty())
        return buses;
    QStringList missing;
    const BusConfig d;
    for (int n = 2; n <= *present.rbegin(); ++n) {
        BusConfig b;
        if (!present.contains(n)) {
            b.Active = false;
            missing << QString::number(n);
            buses.push_back(b);
            continue;
        }
        const QString section = busSection(n);
        const QString kindText = r.text(section, QStringLiteral("Kind"), d.Kind);
        const QString kind = kindText.trimmed().toLower();
        b.Kind = knownBusKind(kind) ? kind : d.Kind;
        r.note(!knownBusKind(kind), section, QStringLiteral("Kind"));
        b.COMPort = r.integer(section, QStringLiteral("COMPort"), d.COMPort);
        b.KernelPath = r.text(section, QStringLiteral("KernelPath"), d.KernelPath);
        b.BulkConvert = r.boolean(section, QStringLiteral("BulkConvert"), d.BulkConvert);
        b.OwServer.Host = r.text(section, QStringLiteral("Host"), d.OwServer.Host).trimmed();
        b.OwServer.Port = r.integer(section, QStringLiteral("Port"), d.OwServer.Port);
        if (b.OwServer.Port < 1 || b.OwServer.Port > 65535)
            b.OwServer.Port = d.OwServer.Port;
        b.OwServer.Path = r.text(section, QStringLiteral("Path"), d.OwServer.Path).trimmed();
        b.Name = r.text(section, QStringLiteral("Name"), d.Name);
        b.Active = r.boolean(section, QStringLiteral("Active"), d.Active);
        buses.push_back(b);
    }
    if (!missing.isEmpty())
        hold(QStringLiteral("нет разделов шин %1: эти шины выключены.").arg(missing.join(QStringLiteral(", "))));
    return buses;
}

void writeMoreBuses(IniFile &ini, const std::vector<BusConfig> &buses)
{
    const BusConfig d;
    int n = 2;
    for (const BusConfig &b : buses) {
        const QString section = busSection(n++);
        // Always, so that the section exists and keeps the bus's number.
        ini.writeString(section, QStringLiteral("Kind"), b.Kind);
        if (b.COMPort != d.COMPort)
            ini.writeInteger(section, QStringLiteral("COMPort"), b.COMPort);
        if (b.KernelPath != d.KernelPath)
            ini.writeString(section, QStringLiteral("KernelPath"), b.KernelPath);
        if (b.BulkConvert != d.BulkConvert)
            ini.writeBool(section, QStringLiteral("BulkConvert"), b.BulkConvert);
        if (b.OwServer.Host != d.OwServer.Host)
            ini.writeString(section, QStringLiteral("Host"), b.OwServer.Host);
        if (b.OwServer.Port != d.OwServer.Port)
            ini.writeInteger(section, QStringLiteral("Port"), b.OwServer.Port);
        if (b.OwServer.Path != d.OwServer.Path)
            ini.writeString(section, QStringLiteral("Path"), b.OwServer.Path);
        if (b.Name != d.Name)
            ini.writeString(section, QStringLiteral("Name"), b.Name);
        if (b.Active != d.Active)
            ini.writeBool(section, QStringLiteral("Active"), b.Active);
    }
}

} // namespace

KalvexConfig readConfig(const IniFile &ini, const RandomIndex &random, QStringList *holds, bool *partial)
{
    const auto hold = [holds](const QString &text) {
        if (holds)
            *holds << text;
    };
    KalvexConfig c;
    const KalvexConfig d;
    KeyReader r(ini);
    c.GneralPanel = r.boolean(General, QStringLiteral("GneralPanel"), d.GneralPanel);
    c.bkFileName = r.text(General, QStringLiteral("bkFileName"), d.bkFileName);
    c.TimeOut = r.integer(General, QStringLiteral("TimeOut"), d.TimeOut);
    if (c.TimeOut <= 0) {
        hold(QStringLiteral("TimeOut=%1 заменено на %2.").arg(c.TimeOut).arg(d.TimeOut));
        c.TimeOut = d.TimeOut;
    }
    c.COMPort = r.integer(General, QStringLiteral("COMPort"), d.COMPort);
    c.AutoNab = r.boolean(General, QStringLiteral("AutoNab"), d.AutoNab);
    c.StartMin = r.boolean(General, QStringLiteral("StartMin"), d.StartMin);
    c.WinStartRun = r.boolean(General, QStringLiteral("WinStartRun"), d.WinStartRun);
    const int charMaxCount = r.integer(General, QStringLiteral("CharMaxCount"), d.CharMaxCount);
    c.CharMaxCount = std::clamp(charMaxCount, 0, MaxCharMaxCount);
    if (c.CharMaxCount != charMaxCount)
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2.").arg(charMaxCount).arg(c.CharMaxCount));
    c.CharMinMaxAuto = r.boolean(General, QStringLiteral("CharMinMaxAuto"), d.CharMinMaxAuto);
    c.CharMinY = r.real(General, QStringLiteral("CharMinY"), d.CharMinY);
    c.CharMaxY = r.real(General, QStringLiteral("CharMaxY"), d.CharMaxY);

    c.SnsHeight = r.integer(General, QStringLiteral("SnsHeight"), d.SnsHeight);
    if (c.SnsHeight <= 0)
        c.SnsHeight = 200;
    c.SHourHeight = r.integer(General, QStringLiteral("SHourHeight"), d.SHourHeight);
    if (c.SHourHeight <= 0)
        c.SHourHeight = 200;
    const auto notNegative = [&](const QString &key, int def) {
        const int v = r.integer(General, key, def);
        if (v >= 0)
            return v;
        hold(QStringLiteral("%1=%2 заменено на 0.").arg(key).arg(v));
        return 0;
    };
    c.LogHeight = notNegative(QStringLiteral("LogHeight"), d.LogHeight);
    c.P3Width = notNegative(QStringLiteral("P3Width"), d.P3Width);

    if (!c.CharMinMaxAuto && c.CharMinY > c.CharMaxY)
        c.CharMinY = c.CharMaxY - 10;

    c.HTTPPort = r.integer(General, QStringLiteral("HTTPPort"), d.HTTPPort);
    c.HTTPActive = r.boolean(General, QStringLiteral("HTTPActive"), d.HTTPActive);
    c.BulkConvert = r.boolean(Bus, QStringLiteral("BulkConvert"), d.BulkConvert);
    // Anything else is the serial line, the bus the program always had.
    const QString kind = r.text(Bus, QStringLiteral("Kind"), d.BusKind).trimmed().toLower();
    c.BusKind = kind == QLatin1String("kernel") || kind == QLatin1String("owserver") || kind == QLatin1String("ds2480b") ? kind : d.BusKind;
    c.KernelPath = r.text(Bus, QStringLiteral("KernelPath"), d.KernelPath);
    c.OwServerBus.Host = r.text(Bus, QStringLiteral("Host"), d.OwServerBus.Host).trimmed();
    c.OwServerBus.Port = r.integer(Bus, QStringLiteral("Port"), d.OwServerBus.Port);
    if (c.OwServerBus.Port < 1 || c.OwServerBus.Port > 65535)
        c.OwServerBus.Port = d.OwServerBus.Port;
    c.OwServerBus.Path = r.text(Bus, QStringLiteral("Path"), d.OwServerBus.Path).trimmed();
    c.BusName = r.text(Bus, QStringLiteral("Name"), d.BusName);
    c.MoreBuses = readMoreBuses(ini, r, hold);
    c.MQTT.Active = r.boolean(Mqtt, QStringLiteral("Active"), d.MQTT.Active);
    c.MQTT.Host = r.text(Mqtt, QStringLiteral("Host"), d.MQTT.Host);
    c.MQTT.Port = r.integer(Mqtt, QStringLiteral("Port"), d.MQTT.Port);
    c.MQTT.User = r.text(Mqtt, QStringLiteral("User"), d.MQTT.User);
    c.MQTT.Password = r.text(Mqtt, QStringLiteral("Password"), d.MQTT.Password);
    c.MQTT.Topic = r.text(Mqtt, QStringLiteral("Topic"), d.MQTT.Topic);
    c.MQTT.Discovery = r.boolean(Mqtt, QStringLiteral("Discovery"), d.MQTT.Discovery);
    c.MQTT.DiscoveryPrefix = r.text(Mqtt, QStringLiteral("DiscoveryPrefix"), d.MQTT.DiscoveryPrefix);
    c.MQTT.CAFile = r.text(Mqtt, QStringLiteral("CAFile"), d.MQTT.CAFile);
    c.MQTT.TLS = r.boolean(Mqtt, QStringLiteral("TLS"), d.MQTT.TLS);
    c.MQTT.CertFile = r.text(Mqtt, QStringLiteral("CertFile"), d.MQTT.CertFile);
    c.MQTT.KeyFile = r.text(Mqtt, QStringLiteral("KeyFile"), d.MQTT.KeyFile);
    c.OwServer.Active = r.boolean(OwServer, QStringLiteral("Active"), d.OwServer.Active);
    c.OwServer.Port = r.integer(OwServer, QStringLiteral("Port"), d.OwServer.Port);
    c.OwServer.Address = r.text(OwServer, QStringLiteral("Address"), d.OwServer.Address).trimmed();

    const int itemCount = r.integer(Items, QStringLiteral("ItemCount"), 0);
    // Sensors 0 .. ItemCount - 1 (default ones where the file has no keys), then those beyond
    // whose keys the file holds.
    std::vector<int> numbers;
    const int counted = std::clamp(itemCount, 0, MaxItemCount);
    for (int k = 0; k < counted; ++k)
        numbers.push_back(k);
    for (const int k : storedSensors(ini)) {
        if (k >= counted)
            numbers.push_back(k);
    }
    const int inFile = static_cast<int>(numbers.size());
    if (inFile > MaxStoredItems)
        numbers.resize(MaxStoredItems);
    const int count = static_cast<int>(numbers.size());
    const int busCount = 1 + static_cast<int>(c.MoreBuses.size());
    // Sensors whose bus is not in the file are read on bus 1.
    QStringList strayBus;
    if (count != std::max(itemCount, 0))
        hold(QStringLiteral("ItemCount=%1: загружено датчиков: %2.").arg(itemCount).arg(count));
    for (const int k : numbers) {
        SensorConfig s;
        for (int n = 1; n <= 4; ++n) {
            TSignArr &g = s.Sign[static_cast<size_t>(n - 1)];
            g.Enable = r.boolean(Items, signKey(k, n, "Enable"), g.Enable);
            g.bm = r.boolean(Items, signKey(k, n, "bm"), g.bm);
            g.Value = r.real(Items, signKey(k, n, "Value"), g.Value);
            g.mp3path = r.text(Items, signKey(k, n, "mp3path"), g.mp3path);
            g.mp3Enable = r.boolean(Items, signKey(k, n, "mp3Enable"), g.mp3Enable);
            g.AppPath = r.text(Items, signKey(k, n, "AppPath"), g.AppPath);
            g.AppEnable = r.boolean(Items, signKey(k, n, "AppEnable"), g.AppEnable);
        }
        s.Name = r.text(Items, itemKey("ItemName", k), s.Name);
        s.SN = r.text(Items, itemKey("ItemSN", k), s.SN);
        s.Enable = r.boolean(Items, itemKey("ItemEnable", k), s.Enable);
        s.Correct = r.real(Items, itemKey("ItemCorrect", k), s.Correct);
        s.Tray = r.boolean(Items, itemKey("ItemTray", k), s.Tray);
        s.CBFon = color(r.integer(Items, itemKey("ItemCBFon", k), stored(s.CBFon)));
        s.CBText = color(r.integer(Items, itemKey("ItemCBText", k), stored(s.CBText)));
        const int index = random ? random(16) : static_cast<int>(QRandomGenerator::global()->bounded(16));
        const TColor chartDefault = StandardColors[static_cast<size_t>(std::clamp(index, 0, 15))];
        s.CBChart = color(r.integer(Items, itemKey("ItemCBChart", k), stored(chartDefault)));
        s.Y = r.integer(Items, itemKey("ItemTop", k), s.Y);
        s.X = r.integer(Items, itemKey("ItemLeft", k), s.X);
        const QString busKey = itemKey("ItemBus", k);
        if (ini.hasKey(Items, busKey)) {
            bool bad = false;
            const int bus = ini.readInteger(Items, busKey, 1, &bad);
            if (bad || bus < 1 || bus > busCount) {
                QString value = ini.readString(Items, busKey, QString());
                if (value.size() > 40)
                    value = value.left(40) + QStringLiteral("…");
                strayBus << busKey + QStringLiteral("=«") + value + QStringLiteral("»");
            } else {
                s.Bus = bus;
            }
        }
        c.Items.push_back(std::move(s));
    }
    // Every line is pre-filled with CharMaxCount points: the bound is on all lines together.
    if (count > 0 && static_cast<qint64>(c.CharMaxCount) * count > MaxChartPoints) {
        const int fitting = static_cast<int>(MaxChartPoints / count);
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2: %3 датчиков.").arg(c.CharMaxCount).arg(fitting).arg(count));
        c.CharMaxCount = fitting;
    }
    if (!strayBus.isEmpty()) {
        constexpr int shown = 20;
        QString listed = QStringList(strayBus.mid(0, shown)).join(QStringLiteral(", "));
        if (strayBus.size() > shown)
            listed += QStringLiteral(" и ещё %1").arg(strayBus.size() - shown);
        hold(QStringLiteral("таких шин нет (шин: %1), датчики читаются на шине 1: %2.").arg(busCount).arg(listed));
    }
    if (partial)
        *partial = inFile > MaxStoredItems || r.lossy() || !strayBus.isEmpty();
    if (inFile > MaxStoredItems)
        hold(QStringLiteral("В файле датчиков: %1, загружены первые %2.").arg(inFile).arg(MaxStoredItems));
    for (const QString &line : r.lines())
        hold(line);
    return c;
}

KalvexConfig loadConfig(const QString &path, const RandomIndex &random, QStringList *holds, QString *problem,
                        bool *partial)
{
    return readConfig(IniFile::fromFile(path, problem), random, holds, partial);
}

IniFile configIni(const KalvexConfig &c)
{
    IniFile ini;
    ini.writeBool(General, QStringLiteral("GneralPanel"), c.GneralPanel);
    ini.writeString(General, QStringLiteral("bkFileName"), c.bkFileName);
    ini.writeInteger(General, QStringLiteral("COMPort"), c.COMPort);
    ini.writeInteger(General, QStringLiteral("CharMaxCount"), c.CharMaxCount);
    ini.writeInteger(General, QStringLiteral("TimeOut"), c.TimeOut);
    ini.writeBool(General, QStringLiteral("HTTPActive"), c.HTTPActive);
    ini.writeInteger(General, QStringLiteral("HTTPPort"), c.HTTPPort);
    ini.writeBool(General, QStringLiteral("CharMinMaxAuto"), c.CharMinMaxAuto);
    ini.writeFloat(General, QStringLiteral("CharMinY"), c.CharMinY);
    ini.writeFloat(General, QStringLiteral("CharMaxY"), c.CharMaxY);
    ini.writeInteger(General, QStringLiteral("SnsHeight"), c.SnsHeight);
    ini.writeInteger(General, QStringLiteral("SHourHeight"), c.SHourHeight);
    ini.writeInteger(General, QStringLiteral("LogHeight"), c.LogHeight);
    ini.writeInteger(General, QStringLiteral("P3Width"), c.P3Width);
    ini.writeBool(General, QStringLiteral("AutoNab"), c.AutoNab);
    ini.writeBool(General, QStringLiteral("StartMin"), c.StartMin);
    ini.writeBool(General, QStringLiteral("WinStartRun"), c.WinStartRun);

    int k = 0;
    for (const SensorConfig &s : c.Items) {
        ini.writeInteger(Items, itemKey("ItemTop", k), s.Y);
        ini.writeInteger(Items, itemKey("ItemLeft", k), s.X);
        ini.writeString(Items, itemKey("ItemName", k), s.Name);
        ini.writeString(Items, itemKey("ItemSN", k), s.SN);
        ini.writeBool(Items, itemKey("ItemEnable", k), s.Enable);
        ini.writeFloat(Items, itemKey("ItemCorrect", k), s.Correct);
        ini.writeBool(Items, itemKey("ItemTray", k), s.Tray);
        ini.writeInteger(Items, itemKey("ItemCBFon", k), stored(s.CBFon));
        ini.writeInteger(Items, itemKey("ItemCBText", k), stored(s.CBText));
        ini.writeInteger(Items, itemKey("ItemCBChart", k), stored(s.CBChart));
        for (int n = 1; n <= 4; ++n) {
            const TSignArr &g = s.Sign[static_cast<size_t>(n - 1)];
            ini.writeBool(Items, signKey(k, n, "Enable"), g.Enable);
            ini.writeBool(Items, signKey(k, n, "bm"), g.bm);
            ini.writeFloat(Items, signKey(k, n, "Value"), g.Value);
            ini.writeString(Items, signKey(k, n, "mp3path"), g.mp3path);
            ini.writeBool(Items, signKey(k, n, "mp3Enable"), g.mp3Enable);
            ini.writeString(Items, signKey(k, n, "AppPath"), g.AppPath);
            ini.writeBool(Items, signKey(k, n, "AppEnable"), g.AppEnable);
        }
        if (s.Bus != 1)
            ini.writeInteger(Items, itemKey("ItemBus", k), s.Bus);
        ++k;
    }
    ini.writeInteger(Items, QStringLiteral("ItemCount"), k);
    if (c.BulkConvert != KalvexConfig().BulkConvert)
        ini.writeBool(Bus, QStringLiteral("BulkConvert"), c.BulkConvert);
    if (c.BusKind != KalvexConfig().BusKind)
        ini.writeString(Bus, QStringLiteral("Kind"), c.BusKind);
    if (c.KernelPath != KalvexConfig().KernelPath)
        ini.writeString(Bus, QStringLiteral("KernelPath"), c.KernelPath);
    const OwServerBusSettings ow;
    if (c.OwServerBus.Host != ow.Host)
        ini.writeString(Bus, QStringLiteral("Host"), c.OwServerBus.Host);
    if (c.OwServerBus.Port != ow.Port)
        ini.writeInteger(Bus, QStringLiteral("Port"), c.OwServerBus.Port);
    if (c.OwServerBus.Path != ow.Path)
        ini.writeString(Bus, QStringLiteral("Path"), c.OwServerBus.Path);
    if (!c.BusName.isEmpty())
        ini.writeString(Bus, QStringLiteral("Name"), c.BusName);
    writeMoreBuses(ini, c.MoreBuses);
    // Every key once any differs, so the file shows the whole of what is in effect; the
    // default topic is left out while it is the default, so it follows a renamed machine.
    const MqttSettings m;
    if (!(c.MQTT == m)) {
        ini.writeBool(Mqtt, QStringLiteral("Active"), c.MQTT.Active);
        ini.writeString(Mqtt, QStringLiteral("Host"), c.MQTT.Host);
        ini.writeInteger(Mqtt, QStringLiteral("Port"), c.MQTT.Port);
        ini.writeString(Mqtt, QStringLiteral("User"), c.MQTT.User);
        ini.writeString(Mqtt, QStringLiteral("Password"), c.MQTT.Password);
        if (c.MQTT.Topic != m.Topic)
            ini.writeString(Mqtt, QStringLiteral("Topic"), c.MQTT.Topic);
        ini.writeBool(Mqtt, QStringLiteral("Discovery"), c.MQTT.Discovery);
        ini.writeString(Mqtt, QStringLiteral("DiscoveryPrefix"), c.MQTT.DiscoveryPrefix);
        ini.writeString(Mqtt, QStringLiteral("CAFile"), c.MQTT.CAFile);
        // Later keys only when used: a file written before them reads back the same.
        if (c.MQTT.TLS != m.TLS)
            ini.writeBool(Mqtt, QStringLiteral("TLS"), c.MQTT.TLS);
        if (c.MQTT.CertFile != m.CertFile)
            ini.writeString(Mqtt, QStringLiteral("CertFile"), c.MQTT.CertFile);
        if (c.MQTT.KeyFile != m.KeyFile)
            ini.writeString(Mqtt, QStringLiteral("KeyFile"), c.MQTT.KeyFile);
    }
    if (!(c.OwServer == OwServerSettings())) {
        ini.writeBool(OwServer, QStringLiteral("Active"), c.OwServer.Active);
        ini.writeInteger(OwServer, QStringLiteral("Port"), c.OwServer.Port);
        if (!c.OwServer.Address.isEmpty())
            ini.writeString(OwServer, QStringLiteral("Address"), c.OwServer.Address);
    }
    return ini;
}

std::vector<BusConfig> busList(const KalvexConfig &config)
{
    BusConfig first;
    first.Kind = config.BusKind;
    first.COMPort = config.COMPort;
    first.KernelPath = config.KernelPath;
    first.BulkConvert = config.BulkConvert;
    first.OwServer = config.OwServerBus;
    first.Name = config.BusName;
    first.Active = true;
    std::vector<BusConfig> buses{first};
    buses.insert(buses.end(), config.MoreBuses.begin(), config.MoreBuses.end());
    return buses;
}

void setBusList(KalvexConfig &config, const std::vector<BusConfig> &buses)
{
    if (buses.empty()) {
        config.MoreBuses.clear();
        return;
    }
    const BusConfig &first = buses.front();
    config.BusKind = first.Kind;
    config.COMPort = first.COMPort;
    config.KernelPath = first.KernelPath;
    config.BulkConvert = first.BulkConvert;
    config.OwServerBus = first.OwServer;
    config.BusName = first.Name;
    config.MoreBuses.assign(buses.begin() + 1, buses.end());
}

bool writeConfig(const QString &path, const KalvexConfig &config)
{
    // The broker's password is nobody else's to read.
    return configIni(config).save(path, !config.MQTT.Password.isEmpty());
}
