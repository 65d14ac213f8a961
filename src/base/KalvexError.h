#pragma once

#include <QString>

#include <stdexcept>

// An error of the store engine, of picture loading or of number conversion. It ends the
// event handler it happens in; the handler's guard shows its text.
class KalvexError : public std::runtime_error
{
public:
    explicit KalvexError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};
