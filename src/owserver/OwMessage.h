#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

// The owserver message protocol (OWFS's network protocol, TCP port 4304), both sides.
//
// A request is a header of six big-endian 32-bit integers (version, payload length, message
// type, control flags, expected data size, offset) and its payload: the path, NUL-terminated,
// and for a write the data after the NUL. A request forwarded by another owserver has version
// 0x00010001 and a 16-byte token after the payload that the payload length does not count.
// A reply has the same header with the return value in place of the type (negative: an error
// number) and the data size; a reply whose payload length is -1 is a keep-alive ("still
// working") and the real reply follows it.
namespace OwMessage {

constexpr int HeaderSize = 24;
constexpr int TokenSize = 16;
constexpr qint32 ClientVersion = 0;
constexpr qint32 ForwardedVersion = 0x00010001;
constexpr qint32 DefaultPort = 4304;
// The data size a client asks for when it reads (what OWFS's own clients send).
constexpr qint32 DefaultDataSize = 65536;
// No honest message is longer: a longer length is refused before anything is allocated.
constexpr qint32 MaxPayload = 1 << 20;

enum Type : qint32 {
    Error = 0,
    Nop = 1,
    Read = 2,
    Write = 3,
    Dir = 4,
    Size = 5,
    Presence = 6,
    DirAll = 7,
    Get = 8,
    DirAllSlash = 9,
    GetSlash = 10,
};

namespace Flag {
constexpr quint32 BusNames = 0x02;
constexpr quint32 Persistence = 0x04;
constexpr quint32 Alias = 0x08;
constexpr quint32 Safemode = 0x10;
constexpr quint32 Uncached = 0x20;
constexpr quint32 OwNet = 0x100;
// Bits 16–19: the temperature scale; bits 24–31: the device name format.
constexpr int ScaleShift = 16;
constexpr quint32 ScaleMask = 0x000F0000;
constexpr int FormatShift = 24;
constexpr quint32 FormatMask = 0xFF000000;
} // namespace Flag

// The flags OWFS's own clients send with every request: bus names, aliases, an ownet client.
constexpr quint32 ClientFlags = Flag::OwNet | Flag::Alias | Flag::BusNames;

enum class Scale { Celsius = 0, Fahrenheit = 1, Kelvin = 2, Rankine = 3 };
// Device name formats: 28.ECEDC7050000, 28ECEDC7050000, with ".crc" or "crc" appended.
enum class NameFormat { FDI = 0, FI = 1, FDIDC = 2, FDIC = 3, FIDC = 4, FIC = 5 };

Scale scaleOf(quint32 flags);
NameFormat nameFormatOf(quint32 flags);

struct Header
{
    qint32 version = 0;
    qint32 payload = 0;
    // A request's message type, a reply's return value.
    qint32 typeOrRet = 0;
    quint32 flags = 0;
    qint32 size = 0;
    qint32 offset = 0;
};

// The header's 24 bytes in network order.
QByteArray encodeHeader(const Header &header);
// The header at the start of `bytes`; nothing when fewer than 24 bytes are there.
std::optional<Header> decodeHeader(QByteArrayView bytes);

struct Request
{
    qint32 version = ClientVersion;
    Type type = Nop;
    quint32 flags = ClientFlags;
    qint32 size = DefaultDataSize;
    qint32 offset = 0;
    QByteArray path;
    // For a write: the bytes after the path's NUL.
    QByteArray data;
    // A forwarded request's token (16 bytes), passed on unchanged.
    QByteArray token;
};

// The whole request: header, path and its NUL, data, and the token when forwarded.
QByteArray encodeRequest(const Request &request);

struct Reply
{
    qint32 version = 0;
    qint32 ret = 0;
    quint32 flags = 0;
    qint32 size = 0;
    qint32 offset = 0;
    QByteArray payload;
    // A keep-alive: the server is still working and the reply follows.
    bool keepAlive = false;
};

QByteArray encodeReply(const Reply &reply);

// Reads requests off a stream of bytes as they arrive. A header whose lengths no real client
// sends is an error at once, before its payload is waited for or held.
class RequestParser
{
public:
    enum class State { NeedMore, Ready, Bad };
    RequestParser() = default;
    // A server that takes only short requests refuses longer ones as early.
    explicit RequestParser(qint32 maxPayload)
        : m_maxPayload(maxPayload)
    {
    }
    // Adds bytes and says whether a whole request is there (take it with take()).
    State feed(QByteArrayView bytes);
    // The request, and the parser ready for the next one (bytes after it are kept).
    Request take();
    // Why the last feed said Bad.
    QString error() const { return m_error; }
    // Bytes held now (a request under way).
    qsizetype buffered() const { return m_buffer.size(); }

private:
    State parse();

    QByteArray m_buffer;
    std::optional<Request> m_ready;
    QString m_error;
    qint32 m_maxPayload = MaxPayload;
};

// Reads replies off a stream, skipping keep-alives. A length no real server sends ends the
// stream as an error before anything is allocated for it.
class ReplyParser
{
public:
    enum class State { NeedMore, Ready, Bad };
    State feed(QByteArrayView bytes);
    Reply take();
    QString error() const { return m_error; }
    // Keep-alives seen since the last reset.
    int keepAlives() const { return m_keepAlives; }
    void reset();

private:
    State parse();

    QByteArray m_buffer;
    std::optional<Reply> m_ready;
    QString m_error;
    int m_keepAlives = 0;
};

// A float as owserver writes one: "%G" right-aligned in 12 characters, a decimal point in
// any locale ("        21.5").
QByteArray formatFloat(double value);
// Degrees Celsius in the scale the flags ask for.
double toScale(double celsius, Scale scale);
// The device name of a 16-digit serial (family first, CRC last, as the program writes it) in
// the format the flags ask for; nothing for a serial that is not 16 hex digits.
std::optional<QByteArray> deviceName(const QString &serial, NameFormat format);
// The program's serial of a device name in any format (28.ECEDC7050000[.3D] and the like).
std::optional<QString> serialOfDeviceName(QByteArrayView name);

} // namespace OwMessage
