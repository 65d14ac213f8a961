#include "owserver/OwMessage.h"

#include "onewire/OneWireCrc.h"

#include <QtEndian>

#include <array>
#include <cmath>
#include <cstdio>

namespace OwMessage {

namespace {

void put(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

qint32 get(QByteArrayView bytes, int index)
{
    return static_cast<qint32>(qFromBigEndian<quint32>(bytes.data() + index * 4));
}

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

} // namespace

Scale scaleOf(quint32 flags)
{
    const quint32 scale = (flags & Flag::ScaleMask) >> Flag::ScaleShift;
    return scale <= 3 ? static_cast<Scale>(scale) : Scale::Celsius;
}

NameFormat nameFormatOf(quint32 flags)
{
    const quint32 format = (flags & Flag::FormatMask) >> Flag::FormatShift;
    return format <= 5 ? static_cast<NameFormat>(format) : NameFormat::FDI;
}

QByteArray encodeHeader(const Header &header)
{
    QByteArray out;
    out.reserve(HeaderSize);
    put(out, static_cast<quint32>(header.version));
    put(out, static_cast<quint32>(header.payload));
    put(out, static_cast<quint32>(header.typeOrRet));
    put(out, header.flags);
    put(out, static_cast<quint32>(header.size));
    put(out, static_cast<quint32>(header.offset));
    return out;
}

std::optional<Header> decodeHeader(QByteArrayView bytes)
{
    if (bytes.size() < HeaderSize)
        return std::nullopt;
    return Header{get(bytes, 0), get(bytes, 1), get(bytes, 2), static_cast<quint32>(get(bytes, 3)),
                  get(bytes, 4), get(bytes, 5)};
}

QByteArray encodeRequest(const Request &request)
{
    QByteArray payload = request.path;
    payload.append('\0');
    payload.append(request.data);
    const bool forwarded = request.version == ForwardedVersion;
    QByteArray out = encodeHeader({request.version, static_cast<qint32>(payload.size()), request.type,
                                   request.flags, request.size, request.offset});
    out.append(payload);
    if (forwarded)
        out.append(request.token.leftJustified(TokenSize, '\0', true));
    return out;
}

QByteArray encodeReply(const Reply &reply)
{
    if (reply.keepAlive)
        return encodeHeader({reply.version, -1, 0, reply.flags, 0, 0});
    QByteArray out = encodeHeader({reply.version, static_cast<qint32>(reply.payload.size()), reply.ret,
                                   reply.flags, reply.size, reply.offset});
    out.append(reply.payload);
    return out;
}

RequestParser::State RequestParser::feed(QByteArrayView bytes)
{
    m_buffer.append(bytes.data(), bytes.size());
    return parse();
}

RequestParser::State RequestParser::parse()
{
    if (m_ready)
        return State::Ready;
    const std::optional<Header> header = decodeHeader(m_buffer);
    if (!header)
        return State::NeedMore;
    if (header->version != ClientVersion && header->version != ForwardedVersion) {
        m_error = QStringLiteral("версия %1").arg(header->version);
        return State::Bad;
    }
    if (header->payload < 0 || header->payload > m_maxPayload) {
        m_error = QStringLiteral("длина %1").arg(header->payload);
        return State::Bad;
    }
    const qsizetype token = header->version == ForwardedVersion ? TokenSize : 0;
    const qsizetype whole = HeaderSize + header->payload + token;
    if (m_buffer.size() < whole)
        return State::NeedMore;

    Request request;
    request.version = header->version;
    request.type = static_cast<Type>(header->typeOrRet);
    request.flags = header->flags;
    request.size = header->size;
    request.offset = header->offset;
    const QByteArrayView payload = QByteArrayView(m_buffer).sliced(HeaderSize, header->payload);
    const qsizetype nul = payload.indexOf('\0');
    if (nul < 0) {
        request.path = payload.toByteArray();
    } else {
        request.path = payload.first(nul).toByteArray();
        request.data = payload.sliced(nul + 1).toByteArray();
    }
    if (token)
        request.token = m_buffer.mid(HeaderSize + header->payload, token);
    m_buffer.remove(0, whole);
    m_ready = std::move(request);
    return State::Ready;
}

Request RequestParser::take()
{
    Request request = m_ready ? std::move(*m_ready) : Request{};
    m_ready.reset();
    return request;
}

ReplyParser::State ReplyParser::feed(QByteArrayView bytes)
{
    m_buffer.append(bytes.data(), bytes.size());
    return parse();
}

ReplyParser::State ReplyParser::parse()
{
    if (m_ready)
        return State::Ready;
    for (;;) {
        const std::optional<Header> header = decodeHeader(m_buffer);
        if (!header)
            return State::NeedMore;
        if (header->payload == -1) {
            ++m_keepAlives;
            m_buffer.remove(0, HeaderSize);
            continue;
        }
        if (header->payload < 0 || header->payload > MaxPayload) {
            m_error = QStringLiteral("ответ длиной %1 байт").arg(header->payload);
            return State::Bad;
        }
        // A write's reply carries the size written and no payload.
        if (header->size < 0 || (header->payload > 0 && header->size > header->payload)) {
            m_error = QStringLiteral("ответ с размером данных %1 при длине %2").arg(header->size).arg(header->payload);
            return State::Bad;
        }
        const qsizetype whole = HeaderSize + header->payload;
        if (m_buffer.size() < whole)
            return State::NeedMore;
        Reply reply;
        reply.version = header->version;
        reply.ret = header->typeOrRet;
        reply.flags = header->flags;
        reply.size = header->size;
        reply.offset = header->offset;
        reply.payload = m_buffer.mid(HeaderSize, header->payload);
        m_buffer.remove(0, whole);
        m_ready = std::move(reply);
        return State::Ready;
    }
}

Reply ReplyParser::take()
{
    Reply reply = m_ready ? std::move(*m_ready) : Reply{};
    m_ready.reset();
    return reply;
}

void ReplyParser::reset()
{
    m_buffer.clear();
    m_ready.reset();
    m_error.clear();
    m_keepAlives = 0;
}

QByteArray formatFloat(double value)
{
    // snprintf follows the C library's locale: a Russian one writes a comma.
    QByteArray text = QByteArray::number(value, 'g', 6);
    if (text.contains('e')) {
        // %G writes the exponent in capitals with at least two digits.
        text = text.toUpper();
        const qsizetype e = text.indexOf('E');
        const qsizetype digits = text.size() - e - 2;
        if (digits == 1)
            text.insert(e + 2, '0');
    }
    return text.rightJustified(12, ' ');
}

double toScale(double celsius, Scale scale)
{
    switch (scale) {
    case Scale::Celsius:
        return celsius;
    case Scale::Fahrenheit:
        return celsius * 1.8 + 32.0;
    case Scale::Kelvin:
        return celsius + 273.15;
    case Scale::Rankine:
        return (celsius + 273.15) * 1.8;
    }
    return celsius;
}

std::optional<QByteArray> deviceName(const QString &serial, NameFormat format)
{
    if (serial.size() != 16)
        return std::nullopt;
    for (const QChar c : serial) {
        if (c.unicode() > 0x7f || hexDigit(static_cast<char>(c.unicode())) < 0)
            return std::nullopt;
    }
    const QByteArray upper = serial.toLatin1().toUpper();
    const QByteArray family = upper.first(2);
    const QByteArray id = upper.mid(2, 12);
    const QByteArray crc = upper.last(2);
    switch (format) {
    case NameFormat::FDI:
        return family + '.' + id;
    case NameFormat::FI:
        return family + id;
    case NameFormat::FDIDC:
        return family + '.' + id + '.' + crc;
    case NameFormat::FDIC:
        return family + '.' + id + crc;
    case NameFormat::FIDC:
        return family + id + '.' + crc;
    case NameFormat::FIC:
        return family + id + crc;
    }
    return family + '.' + id;
}

std::optional<QString> serialOfDeviceName(QByteArrayView name)
{
    // The hex digits in order, dots dropped: 14 (family and id) or 16 (with the CRC).
    QByteArray digits;
    for (const char c : name) {
        if (c == '.')
            continue;
        if (hexDigit(c) < 0)
            return std::nullopt;
        digits.append(c);
    }
    if (digits.size() != 14 && digits.size() != 16)
        return std::nullopt;
    std::array<std::uint8_t, 8> rom{};
    for (int i = 0; i < digits.size() / 2; ++i)
        rom[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(hexDigit(digits[2 * i]) * 16 + hexDigit(digits[2 * i + 1]));
    const std::uint8_t crc = OneWireCrc::of(rom.data(), 7);
    if (digits.size() == 16 && rom[7] != crc)
        return std::nullopt;
    rom[7] = crc;
    QString serial;
    for (const std::uint8_t byte : rom)
        serial += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return serial;
}

} // namespace OwMessage
