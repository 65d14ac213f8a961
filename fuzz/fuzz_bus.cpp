// The echoes on the serial line come from outside: noise, a broken adapter, a hostile device.
// Here they come from the fuzzer, for one whole temperature reading, then a whole search
// enumeration and a single-device ROM read. Nothing may crash or hang; a reading is either
// what its scratchpad gives as the plain slot-by-slot link would have read it, or -999; a
// found code is 16 upper-case hex digits of a ROM code with a valid CRC, or empty text.
//
// The first input byte picks the set-up:
//   bit 0: 0 = every echo is the next input byte (a scripted line);
//          1 = a modelled bus with two sensors answers, each echo XOR the next input byte
//              (zero bytes and the end of the input leave it clean);
//   bit 1: the tick counter starts just short of its wrap;
//   bit 2: read the family-10 sensor instead of the family-28 one;
//   bit 3: the serial number is the next 16 input bytes (Latin-1) instead;
//   bit 4: a scripted line starts over at the end of the input (a device that never tires).

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QString Sensor28 = QStringLiteral("28A2D984000002EA");
const QString Sensor10 = QStringLiteral("108739A80208006F");
constexpr double Celsius28 = 21.5;
constexpr double Celsius10 = -3.5;
// An enumeration reports each code once, in rising order, and at most this many.
constexpr int MaxSearchPasses = RomSearch::MaxDevices;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_bus: %s\n", what);
    std::abort();
}

class ScriptClock final : public Clock
{
public:
    explicit ScriptClock(quint32 start) : m_ticks(start) {}
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 9), QTime(12, 0)); }
    quint32 tickCount() const override { return m_ticks; }
    void advance(quint32 ms) { m_ticks += ms; }

private:
    quint32 m_ticks;
};

class QuietLog final : public Log
{
public:
    void AddLog(const QString &) override {}
    void addRawLine(const QString &) override {}
};

// One write of the master and the echoes the line gave back for it.
struct RoundTrip
{
    int baud = 0;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> echoes;
};

class ScriptedPort final : public SerialPort
{
public:
    ScriptedPort(const std::uint8_t *data, std::size_t size, bool repeat, ScriptClock &clock, VirtualBus *bus)
        : m_data(data), m_size(size), m_repeat(repeat && size > 0), m_clock(clock), m_bus(bus)
    {
    }

    bool OpenCOM(const QString &) override { return true; }
    void CloseCOM() override {}
    bool isOpen() const override { return true; }
    bool PurgeCOM() override { return m_bus ? m_bus->PurgeCOM() : true; }
    bool SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn) override
    {
        m_baud = baud;
        return m_bus ? m_bus->SetModCOM(baud, dataBits, parity, stopBits, dtrOn, rtsOn) : true;
    }
    bool TxByteCOM(std::uint8_t byte) override { return TxDataCOM(&byte, 1); }
    bool TxDataCOM(const std::uint8_t *data, int count) override
    {
        trips.push_back({m_baud, std::vector<std::uint8_t>(data, data + count), {}});
        return m_bus ? m_bus->TxDataCOM(data, count) : true;
    }
    bool RxDataCOM(std::uint8_t *buffer, int count, int &read) override
    {
        read = 0;
        if (m_bus) {
            m_bus->RxDataCOM(buffer, count, read);
            for (int i = 0; i < read; ++i) {
                const std::uint8_t noise = next(0);
                noisy = noisy || noise != 0;
                buffer[i] ^= noise;
            }
        } else {
            while (read < count && more())
                buffer[read++] = next(0);
        }
        if (!trips.empty())
            trips.back().echoes.insert(trips.back().echoes.end(), buffer, buffer + read);
        // A short read is one that waited out the read time-out.
        m_clock.advance(read < count ? 1000 : 1);
        return true;
    }
    bool SetComPortTimeouts() override { return true; }
    QString lastError() const override { return QString(); }

    std::vector<RoundTrip> trips;
    bool noisy = false;

private:
    bool more() const { return m_pos < m_size || m_repeat; }
    std::uint8_t next(std::uint8_t otherwise)
    {
        if (m_pos >= m_size) {
            if (!m_repeat)
                return otherwise;
            m_pos = 0;
        }
        return m_data[m_pos++];
    }

    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_repeat;
    ScriptClock &m_clock;
    VirtualBus *m_bus;
    int m_baud = 9600;
};

// The Dallas/Maxim CRC-8 in its reflected-polynomial form.
std::uint8_t crc8(const std::uint8_t *bytes, std::size_t count)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>(crc & 1 ? (crc >> 1) ^ 0x8C : crc >> 1);
    }
    return crc;
}

// The slot characters of bytes written least significant bit first.
std::vector<std::uint8_t> slotCharacters(const std::vector<std::uint8_t> &bytes)
{
    std::vector<std::uint8_t> out;
    for (const std::uint8_t byte : bytes) {
        for (int bit = 0; bit < 8; ++bit)
            out.push_back((byte >> bit) & 1 ? 0xFF : 0x00);
    }
    return out;
}

bool isReset(const RoundTrip &trip)
{
    return trip.baud == 9600 && trip.sent == std::vector<std::uint8_t>{0xF0};
}

bool presence(const RoundTrip &trip)
{
    return trip.echoes.size() == 1 && trip.echoes[0] != 0xF0;
}

// What the reading must have given, from the echoes alone, as slot-by-slot operation reads
// them: a byte is the low bits of its eight echoes, 0xFF when any of them is missing.
double expectedReading(const QString &serial, const std::vector<RoundTrip> &trips)
{
    const auto rom = TemperatureReader::romBytes(serial);
    if (!rom) {
        if (!trips.empty())
            fail("a malformed serial number reached the bus");
        return TemperatureReader::NoReading;
    }
    std::vector<std::uint8_t> address{0x55};
    address.insert(address.end(), rom->begin(), rom->end());
    std::vector<std::uint8_t> convert = address;
    convert.push_back(0x44);
    std::vector<std::uint8_t> read = address;
    read.push_back(0xBE);
    std::vector<std::uint8_t> readSlots = slotCharacters(read);
    readSlots.insert(readSlots.end(), 72, 0xFF);

    if (trips.empty() || !isReset(trips[0]))
        fail("a reading did not start with a reset");
    if (!presence(trips[0])) {
        if (trips.size() != 1)
            fail("the bus was used after a reset without presence");
        return TemperatureReader::NoReading;
    }
    if (trips.size() < 3 || trips[1].baud != 115200 || trips[1].sent != slotCharacters(convert) || !isReset(trips[2]))
        fail("the conversion was not addressed as Match ROM, the code and Convert T");
    if (!presence(trips[2])) {
        if (trips.size() != 3)
            fail("the bus was used after a reset without presence");
        return TemperatureReader::NoReading;
    }
    if (trips.size() != 4 || trips[3].baud != 115200 || trips[3].sent != readSlots)
        fail("the scratchpad was not read as Match ROM, the code, Read Scratchpad and 72 read slots");
    const std::vector<std::uint8_t> &echoes = trips[3].echoes;
    std::array<std::uint8_t, 9> scratchpad{};
    for (std::size_t i = 0; i < scratchpad.size(); ++i) {
        const std::size_t first = 80 + 8 * i; // after Match ROM, the code and Read Scratchpad
        if (echoes.size() < first + 8) {
            scratchpad[i] = 0xFF;
            continue;
        }
        for (int bit = 0; bit < 8; ++bit)
            scratchpad[i] |= static_cast<std::uint8_t>((echoes[first + static_cast<std::size_t>(bit)] & 1) << bit);
    }
    if (crc8(scratchpad.data(), 8) != scratchpad[8])
        return TemperatureReader::NoReading;
    // Nine zero bytes (a line held low) pass the CRC but are no reading.
    if (std::all_of(scratchpad.begin(), scratchpad.end(), [](std::uint8_t b) { return b == 0; }))
        return TemperatureReader::NoReading;
    return TemperatureReader::decode(scratchpad, serial.startsWith(QLatin1String("28")));
}

bool isCode(const QString &code)
{
    if (code.size() != 16)
        return false;
    std::array<std::uint8_t, 8> rom{};
    for (int i = 0; i < 16; ++i) {
        const char16_t c = code.at(i).unicode();
        int digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        rom[static_cast<std::size_t>(i / 2)] = static_cast<std::uint8_t>(rom[static_cast<std::size_t>(i / 2)] * 16 + digit);
    }
    return crc8(rom.data(), 8) == 0 && rom[0] != 0xFF;
}

bool isByteList(const QString &text)
{
    if (text.isEmpty())
        return true;
    if (text.size() != 24)
        return false;
    for (int i = 0; i < 24; ++i) {
        const QChar c = text.at(i);
        const bool ok = i % 3 == 2 ? c == QLatin1Char(' ') : (c.isDigit() || (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

// The bus operations are coroutines: each runs to its end here in the event loop. Plain
// functions, not QCoro::waitFor: clang 14 cannot emit inline coroutines under the sanitizers.
void runUntil(const bool &done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

QCoro::Task<> readingInto(TemperatureReader &reader, QString serial, double &t, bool &done)
{
    t = co_await reader.GetTempSn(serial);
    done = true;
}

QCoro::Task<> codeInto(RomSearch &search, bool single, QString &code, bool &done)
{
    if (single)
        code = co_await search.GetSNForOne();
    else
        code = co_await search.FindDS();
    done = true;
}

double readingOf(TemperatureReader &reader, const QString &serial)
{
    double t = 0;
    bool done = false;
    auto task = readingInto(reader, serial, t, done);
    runUntil(done);
    return t;
}

QString codeOf(RomSearch &search, bool single)
{
    QString code;
    bool done = false;
    auto task = codeInto(search, single, code, done);
    runUntil(done);
    return code;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The link's waits suspend and resume from an event loop.
    static int argc = 1;
    static char name[] = "fuzz_bus";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    const bool onBus = mode & 1;
    QString serial = mode & 4 ? Sensor10 : Sensor28;
    const bool ownSerial = (mode & 8) && size >= 16;
    if (ownSerial) {
        serial = QString::fromLatin1(reinterpret_cast<const char *>(data), 16);
        data += 16;
        size -= 16;
    }

    ScriptClock clock(mode & 2 ? 0xFFFFFFFFu - 20 : 1000);
    VirtualBus bus;
    if (onBus) {
        bus.OpenCOM(QStringLiteral("COM1"));
        bus.addSensor(Sensor28, Celsius28);
        bus.addSensor(Sensor10, Celsius10);
    }
    ScriptedPort port(data, size, !onBus && (mode & 16), clock, onBus ? &bus : nullptr);
    QuietLog log;
    OneWireLink link(port, log, clock);

    TemperatureReader reader(link, log);
    reader.setConversionDelayMs(0);
    const double t = readingOf(reader, serial);
    if (t != expectedReading(serial, port.trips))
        fail("the reading differs from what its echoes give");
    if (onBus && !port.noisy && !ownSerial) {
        const double want = serial == Sensor28 ? Celsius28 : Celsius10;
        if (t < want - 0.5 || t > want + 0.5)
            fail("a clean bus gave a wrong reading");
    }

    RomSearch search(link);
    search.clearState();
    QSet<QString> found;
    int passes = 0;
    for (;;) {
        const QString code = codeOf(search, false);
        if (code.isEmpty())
            break;
        if (!isCode(code))
            fail("the search reported something that is no ROM code");
        found.insert(code);
        if (++passes > MaxSearchPasses)
            fail("the search enumeration never ends");
    }
    if (search.LastDiscrepancy != 0 || search.LastDeviceFlag)
        fail("a finished enumeration left its state behind");
    if (onBus && !port.noisy && found != QSet<QString>{Sensor28, Sensor10})
        fail("a clean bus did not give both sensors");

    if (!isByteList(codeOf(search, true)))
        fail("a ROM read gave something other than eight hex bytes");
    return 0;
}
