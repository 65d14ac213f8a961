#include "owserver/OwTree.h"

#include <QList>

#include <algorithm>
#include <array>

using namespace OwMessage;

namespace owtree {

namespace {

// The flags owserver puts in a listing's offset field: the directory holds thermometers
// (DEV_temp) that resume (DEV_resume). A chained owserver reads them; nothing else does.
constexpr qint32 ThermometerDirFlags = 0x8002;

// A sensor's files, in owserver's (alphabetical) order.
constexpr std::array<const char *, 7> Files = {"address", "alias", "crc8", "family", "id", "temperature", "type"};

struct Target
{
    enum Kind { Missing, Root, Bus, Device, File } kind = Root;
    int bus = -1;                  // -1: every bus
    bool uncached = false;
    const OwSnapshot::Sensor *sensor = nullptr;
    QByteArray file;
    QByteArray prefix;             // the path as the client wrote it, no trailing slash
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The sensor a device name means, in any of owserver's name formats and either case: family
// and id must match; a CRC, when given, must be the sensor's.
const OwSnapshot::Sensor *sensorNamed(QByteArrayView name, const OwSnapshot &snapshot, int bus)
{
    QByteArray digits;
    for (const char c : name) {
        if (c == '.')
            continue;
        if (hexDigit(c) < 0)
            return nullptr;
        digits.append(c);
    }
    if (digits.size() != 14 && digits.size() != 16)
        return nullptr;
    digits = digits.toUpper();
    for (const OwSnapshot::Sensor &sensor : snapshot.sensors) {
        if (bus >= 0 && sensor.bus != bus)
            continue;
        const QByteArray serial = sensor.SN.toLatin1().toUpper();
        if (serial.size() == 16 && serial.startsWith(digits.first(14)) && (digits.size() == 14 || serial == digits))
            return &sensor;
    }
    return nullptr;
}

// "bus.N" for a bus the snapshot has.
int busNamed(QByteArrayView segment, const OwSnapshot &snapshot)
{
    if (!segment.startsWith("bus.") || segment.size() < 5 || segment.size() > 7)
        return -1;
    int n = 0;
    for (const char c : segment.sliced(4)) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n < snapshot.buses ? n : -1;
}

Target resolve(const QByteArray &path, const OwSnapshot &snapshot)
{
    Target target;
    QList<QByteArray> segments = path.split('/');
    // A leading slash may be left out, as owserver allows.
    if (!segments.isEmpty() && segments.front().isEmpty())
        segments.removeFirst();
    const bool trailingSlash = !segments.isEmpty() && segments.back().isEmpty();
    if (trailingSlash)
        segments.removeLast();
    for (const QByteArray &segment : std::as_const(segments)) {
        target.prefix += '/' + segment;
        switch (target.kind) {
        case Target::Root:
        case Target::Bus:
            if (segment == "uncached" && !target.uncached) {
                target.uncached = true;
                continue;
            }
            if (target.kind == Target::Root) {
                if (const int bus = busNamed(segment, snapshot); bus >= 0) {
                    target.kind = Target::Bus;
                    target.bus = bus;
                    continue;
                }
            }
            target.sensor = sensorNamed(segment, snapshot, target.bus);
            target.kind = target.sensor ? Target::Device : Target::Missing;
            break;
        case Target::Device:
            target.kind = Target::Missing;
            for (const char *file : Files) {
                if (segment == file) {
                    target.kind = Target::File;
                    target.file = segment;
                }
            }
            break;
        case Target::File:
        case Target::Missing:
            target.kind = Target::Missing;
            break;
        }
        if (target.kind == Target::Missing)
            return target;
    }
    // "/28.…/temperature/" names no file, as on owserver.
    if (trailingSlash && target.kind == Target::File)
        target.kind = Target::Missing;
    return target;
}

struct Entry
{
    QByteArray name;
    bool directory = false;
};

std::vector<Entry> entriesOf(const Target &target, const OwSnapshot &snapshot, quint32 flags)
{
    std::vector<Entry> entries;
    if (target.kind == Target::Device) {
        for (const char *file : Files)
            entries.push_back({target.prefix + '/' + file, false});
        return entries;
    }
    const NameFormat format = nameFormatOf(flags);
    for (const OwSnapshot::Sensor &sensor : snapshot.sensors) {
        if (target.bus >= 0 && sensor.bus != target.bus)
            continue;
        if (const std::optional<QByteArray> name = deviceName(sensor.SN, format))
            entries.push_back({target.prefix + '/' + *name, true});
    }
    // Buses and the uncached view only for a client that asks for them, as owserver does;
    // its other top entries (settings, statistics, …) describe adapters this program has not.
    if (target.kind == Target::Root && (flags & Flag::BusNames)) {
        for (int bus = 0; bus < snapshot.buses; ++bus)
            entries.push_back({target.prefix + "/bus." + QByteArray::number(bus), true});
        if (!target.uncached)
            entries.push_back({target.prefix + "/uncached", true});
    }
    return entries;
}

Reply error(const Request &request, qint32 ret)
{
    Reply reply;
    reply.ret = ret;
    reply.flags = request.flags & ~Flag::Persistence;
    return reply;
}

std::optional<QByteArray> fileText(const Target &target, quint32 flags)
{
    const OwSnapshot::Sensor &sensor = *target.sensor;
    const QByteArray serial = sensor.SN.toLatin1().toUpper();
    if (target.file == "address")
        return serial;
    if (target.file == "alias")
        return sensor.alias;
    if (target.file == "crc8")
        return serial.last(2);
    if (target.file == "family")
        return serial.first(2);
    if (target.file == "id")
        return serial.mid(2, 12);
    if (target.file == "type")
        return typeOfFamily(serial.first(2));
    if (!sensor.valid)
        return std::nullopt;
    return formatFloat(toScale(sensor.celsius, scaleOf(flags)));
}

Reply read(const Request &request, const Target &target)
{
    if (target.kind != Target::File)
        return error(request, target.kind == Target::Missing ? Ret::NotFound : Ret::IsDirectory);
    if (request.size <= 0)
        return error(request, Ret::TooSmall);
    const std::optional<QByteArray> text = fileText(target, request.flags);
    if (!text)
        return error(request, Ret::NoReading);
    Reply reply;
    reply.flags = request.flags & ~Flag::Persistence;
    // A client asking for fewer bytes, or from an offset, gets that part.
    reply.payload = text->mid(std::max(request.offset, 0)).left(request.size);
    reply.ret = static_cast<qint32>(reply.payload.size());
    reply.size = reply.ret;
    return reply;
}

std::vector<Reply> list(const Request &request, const Target &target, const OwSnapshot &snapshot, bool slash)
{
    if (target.kind == Target::Missing)
        return {error(request, Ret::NotFound)};
    if (target.kind == Target::File)
        return {error(request, Ret::NotDirectory)};
    const std::vector<Entry> entries = entriesOf(target, snapshot, request.flags);
    const bool thermometers = target.kind != Target::Device
        && std::any_of(snapshot.sensors.begin(), snapshot.sensors.end(),
                       [&](const OwSnapshot::Sensor &s) { return target.bus < 0 || s.bus == target.bus; });
    const qint32 dirFlags = thermometers ? ThermometerDirFlags : 0;
    Reply reply;
    reply.flags = request.flags & ~Flag::Persistence;
    if (request.type == Dir) {
        // One reply per entry, then an empty one that ends the listing.
        std::vector<Reply> replies;
        for (const Entry &entry : entries) {
            Reply one = reply;
            one.payload = entry.name + '\0';
            one.size = static_cast<qint32>(entry.name.size());
            replies.push_back(std::move(one));
        }
        reply.offset = dirFlags;
        replies.push_back(std::move(reply));
        return replies;
    }
    QByteArray text;
    for (const Entry &entry : entries) {
        if (!text.isEmpty())
            text += ',';
        text += entry.name;
        if (slash && entry.directory)
            text += '/';
    }
    if (!entries.empty()) {
        reply.size = static_cast<qint32>(text.size());
        reply.payload = text + '\0';
    }
    reply.offset = dirFlags;
    return {std::move(reply)};
}

Reply presence(const Request &request, const Target &target)
{
    if (target.kind == Target::Missing)
        return error(request, Ret::NotFound);
    // The device's ROM code, eight bytes; eight zeros for a directory above the devices.
    QByteArray rom(8, '\0');
    if (target.sensor)
        rom = QByteArray::fromHex(target.sensor->SN.toLatin1());
    Reply reply;
    reply.flags = request.flags & ~Flag::Persistence;
    reply.payload = rom;
    return reply;
}

} // namespace

QByteArray typeOfFamily(QByteArrayView family)
{
    static const std::array<std::pair<const char *, const char *>, 5> types = {{
        {"10", "DS18S20"},
        {"22", "DS1822"},
        {"28", "DS18B20"},
        {"3B", "DS1825"},
        {"42", "DS28EA00"},
    }};
    for (const auto &[code, type] : types) {
        if (family.compare(QByteArrayView(code), Qt::CaseInsensitive) == 0)
            return type;
    }
    return {};
}

std::vector<Reply> answer(const Request &request, const OwSnapshot &snapshot)
{
    switch (request.type) {
    case Nop: {
        Reply reply;
        reply.flags = request.flags & ~Flag::Persistence;
        return {reply};
    }
    case Read:
        return {read(request, resolve(request.path, snapshot))};
    case Write: {
        const Target target = resolve(request.path, snapshot);
        return {error(request, target.kind == Target::Missing ? Ret::NotFound : Ret::ReadOnly)};
    }
    case Dir:
    case DirAll:
    case DirAllSlash:
        return list(request, resolve(request.path, snapshot), snapshot, request.type == DirAllSlash);
    case Presence:
        return {presence(request, resolve(request.path, snapshot))};
    case Get:
    case GetSlash: {
        const Target target = resolve(request.path, snapshot);
        if (target.kind == Target::File || target.kind == Target::Missing)
            return {read(request, target)};
        Request listing = request;
        listing.type = request.type == Get ? DirAll : DirAllSlash;
        return list(listing, target, snapshot, request.type == GetSlash);
    }
    case Error:
    case Size:
        break;
    }
    return {error(request, Ret::Unsupported)};
}

} // namespace owtree
