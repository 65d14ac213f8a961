#pragma once

#include <QByteArray>
#include <QString>

namespace cp1251 {

// The text in Windows-1251; a character the code page cannot hold becomes "?". Thread-safe.
QByteArray fromText(const QString &text);

} // namespace cp1251
