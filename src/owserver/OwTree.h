#pragma once

#include "owserver/OwMessage.h"
#include "owserver/OwSnapshot.h"

#include <vector>

// The owserver's directory tree over a snapshot, read-only, answered as Debian's owserver
// answers: the root lists one directory per sensor, /bus.N and /uncached (the last two only
// for clients that ask for bus names); each sensor holds address, alias, crc8, family, id,
// temperature and type; /uncached/… and /bus.N/… reach the same sensors.
namespace owtree {

// The error numbers (negated in the reply) a real owserver gives for the same cases.
namespace Ret {
constexpr qint32 NotFound = -1;     // no such path (owserver's own code for it)
constexpr qint32 NoReading = -22;   // EINVAL: the sensor did not give a valid reading
constexpr qint32 IsDirectory = -21; // EISDIR: a read of a directory
constexpr qint32 NotDirectory = -20;// ENOTDIR: a listing of a file
constexpr qint32 ReadOnly = -30;    // EROFS: every write (a read-only owserver)
constexpr qint32 TooSmall = -90;    // EMSGSIZE: a read that asks for no bytes
constexpr qint32 Unsupported = -42; // ENOMSG: a message type not served
} // namespace Ret

// The replies to one request, in order: one, or for DIR one per entry and an empty last one.
// Reply flags are the request's, persistence left to the connection.
std::vector<OwMessage::Reply> answer(const OwMessage::Request &request, const OwSnapshot &snapshot);

// The device type owserver names for a family code ("28" → "DS18B20"); empty when unknown.
QByteArray typeOfFamily(QByteArrayView family);

} // namespace owtree
