#include "web/WebPage.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <algorithm>

#include <charconv>
#include <cmath>

#include <time.h>
#include <unistd.h>

namespace {

// A sample value as the exposition format writes it: the shortest text that reads back as the
// same double, in the C convention whatever the locale.
void appendValue(QByteArray &out, double value)
{
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
        return;
    }
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, written.ptr - digits);
}

// A label value between its double quotes: backslash, double quote and line feed escaped,
// everything else (UTF-8 included) as it is.
void appendLabelValue(QByteArray &out, const QByteArray &value)
{
    for (const char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
}

void appendFamily(QByteArray &out, const char *name, const char *type, const char *help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void appendSample(QByteArray &out, const char *name, const QByteArray &labels, double value)
{
    out += name;
    out += labels;
    out += ' ';
    appendValue(out, value);
    out += '\n';
}

// What is known of each device (its latest diagnosis, else what its readings show), as an
// info metric: the family appears once some sensor has a verdict.
void appendSensorInfo(QByteArray &out, const std::vector<std::pair<const WebSnapshot::Slot *, QByteArray>> &sensors)
{
    bool any = false;
    for (const auto &[slot, labels] : sensors) {
        if (slot->verdict.isEmpty())
            continue;
        if (!any)
            appendFamily(out, "kalvex_sensor_info", "gauge",
                         "1 for each sensor: its family, power (external, parasite, unknown) and verdict (genuine, "
                         "counterfeit, unknown) as last diagnosed or read.");
        any = true;
        QByteArray info = labels.left(labels.size() - 1);
        info += ",family=\"";
        appendLabelValue(info, slot->family);
        info += "\",power=\"";
        appendLabelValue(info, slot->power);
        info += "\",verdict=\"";
        appendLabelValue(info, slot->verdict);
        info += "\"}";
        appendSample(out, "kalvex_sensor_info", info, 1);
    }
}

// When the process started, in seconds since the epoch: its start after boot in clock ticks
// (/proc/self/stat, on the boot-time clock) taken back from now. /proc/stat, where the boot
// time is, is hidden from a hardened service.
double processStartSeconds()
{
    static const double start = [] {
        QFile stat(QStringLiteral("/proc/self/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return 0.0;
        const QByteArray self = stat.readAll();
        // The command name in parentheses may hold blanks: fields count after its ")".
        const QList<QByteArray> fields = self.mid(self.lastIndexOf(')') + 2).split(' ');
        // starttime is field 22 of the line, the 20th after the name.
        const double ticks = fields.size() > 19 ? fields.at(19).toDouble() : 0;
        const long perSecond = ::sysconf(_SC_CLK_TCK);
        timespec boot{};
        timespec real{};
        ::clock_gettime(CLOCK_BOOTTIME, &boot);
        ::clock_gettime(CLOCK_REALTIME, &real);
        const auto seconds = [](const timespec &t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9; };
        return seconds(real) - seconds(boot) + ticks / static_cast<double>(perSecond > 0 ? perSecond : 100);
    }();
    return start;
}

} // namespace

QByteArray web::metrics(const WebSnapshot &state, qint64 nowMs)
{
    // The switched-on sensors with their label sets. Two slots with the same serial and name
    // would be one series twice, which scrapers reject: the first one stands.
    std::vector<std::pair<const WebSnapshot::Slot *, QByteArray>> sensors;
    sensors.reserve(state.items.size());
    QSet<QByteArray> seen;
    for (const WebSnapshot::Slot &slot : state.items) {
        if (!slot.inUse || !slot.Enable)
            continue;
        QByteArray labels = "{serial=\"";
        appendLabelValue(labels, slot.SN);
        labels += "\",name=\"";
        appendLabelValue(labels, slot.name);
        if (!slot.bus.isEmpty()) {
            labels += "\",bus=\"";
            appendLabelValue(labels, slot.bus);
        }
        labels += "\"}";
        if (seen.contains(labels))
            continue;
        seen.insert(labels);
        sensors.emplace_back(&slot, std::move(labels));
    }

    QByteArray out;
    out.reserve(800 + 200 * static_cast<qsizetype>(sensors.size()));
    appendFamily(out, "kalvex_temperature_celsius", "gauge",
                 "Last valid reading of each switched-on sensor, its correction applied.");
    for (const auto &[slot, labels] : sensors) {
        if (slot->hasReading)
            appendSample(out, "kalvex_temperature_celsius", labels, slot->reading);
    }
    appendFamily(out, "kalvex_reading_age_seconds", "gauge", "Seconds since the sensor's last valid reading.");
    for (const auto &[slot, labels] : sensors) {
        // A clock set back makes no reading younger than new.
        if (slot->hasReading)
            appendSample(out, "kalvex_reading_age_seconds", labels,
                         static_cast<double>(std::max<qint64>(nowMs - slot->readingMs, 0)) / 1000.0);
    }
    appendFamily(out, "kalvex_reading_failures_total", "counter",
                 "Readings of the sensor that ended without a valid value since the program started.");
    for (const auto &[slot, labels] : sensors)
        appendSample(out, "kalvex_reading_failures_total", labels, static_cast<double>(slot->failures));
    // With several buses the cycle and the port are each bus's own: one sample per bus. Two
    // buses of the same name would be one series twice: the first one stands.
    std::vector<std::pair<const WebSnapshot::Bus *, QByteArray>> buses;
    for (const WebSnapshot::Bus &bus : state.buses) {
        QByteArray labels = "{bus=\"";
        appendLabelValue(labels, bus.name);
        labels += "\"}";
        if (std::none_of(buses.begin(), buses.end(), [&](const auto &b) { return b.second == labels; }))
            buses.emplace_back(&bus, std::move(labels));
    }
    appendFamily(out, "kalvex_cycle_duration_seconds", "gauge", "How long the last monitoring cycle took.");
    if (state.buses.empty() && state.cycleSeconds >= 0)
        appendSample(out, "kalvex_cycle_duration_seconds", QByteArray(), state.cycleSeconds);
    for (const auto &[bus, labels] : buses) {
        if (bus->cycleSeconds >= 0)
            appendSample(out, "kalvex_cycle_duration_seconds", labels, bus->cycleSeconds);
    }
    appendFamily(out, "kalvex_port_open", "gauge",
                 "1 while observation holds its serial port open, 0 while the port is lost (unplugged).");
    if (state.buses.empty() && state.portOpen >= 0)
        appendSample(out, "kalvex_port_open", QByteArray(), state.portOpen);
    for (const auto &[bus, labels] : buses) {
        if (bus->portOpen >= 0)
            appendSample(out, "kalvex_port_open", labels, bus->portOpen);
    }
    appendFamily(out, "kalvex_store_errors_total", "counter",
                 "Failures of the reading store (open, insert, file gone) since the program started.");
    if (state.storeErrors >= 0)
        appendSample(out, "kalvex_store_errors_total", QByteArray(), static_cast<double>(state.storeErrors));
    appendFamily(out, "kalvex_mqtt_connected", "gauge",
                 "1 while the MQTT broker has accepted the connection, 0 while not; absent while MQTT is off.");
    if (state.mqttConnected >= 0)
        appendSample(out, "kalvex_mqtt_connected", QByteArray(), state.mqttConnected);
    appendFamily(out, "kalvex_mqtt_messages_total", "counter",
                 "Messages handed to the MQTT broker since the program started.");
    appendSample(out, "kalvex_mqtt_messages_total", QByteArray(), static_cast<double>(state.mqttMessages));
    if (state.owserver) {
        const RequestTally &ow = *state.owserver;
        appendFamily(out, "kalvex_owserver_listening", "gauge", "1 while the owserver side listens, 0 while it does not.");
        appendSample(out, "kalvex_owserver_listening", QByteArray(), ow.listening ? 1 : 0);
        appendFamily(out, "kalvex_owserver_requests_total", "counter",
                     "Requests the owserver side answered since the program started, errors included.");
        appendSample(out, "kalvex_owserver_requests_total", QByteArray(), static_cast<double>(ow.requests.load()));
        appendFamily(out, "kalvex_owserver_errors_total", "counter",
                     "Requests the owserver side answered with an error (no such path, no valid reading, a write).");
        appendSample(out, "kalvex_owserver_errors_total", QByteArray(), static_cast<double>(ow.errors.load()));
        appendFamily(out, "kalvex_owserver_refused_total", "counter",
                     "Connections the owserver side closed unanswered: a malformed or late request, over its limits.");
        appendSample(out, "kalvex_owserver_refused_total", QByteArray(), static_cast<double>(ow.refused.load()));
    }
    appendSensorInfo(out, sensors);
    appendFamily(out, "kalvex_build_info", "gauge", "1, labelled with the version of the program that answers.");
    appendSample(out, "kalvex_build_info", "{version=\"" KALVEX_VERSION "\"}", 1);
    appendFamily(out, "process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
    appendSample(out, "process_start_time_seconds", QByteArray(), processStartSeconds());
    return out;
}
