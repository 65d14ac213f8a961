#include "dialogs/AboutContacts.h"

#include <QUrl>

namespace aboutcontacts {
namespace {
const QString mailAddress = QStringLiteral("kalvex@example.org");
} // namespace

QString mailLink(const QString &versionText)
{
    return QStringLiteral("mailto:") + mailAddress + QStringLiteral("?subject=")
        + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("Kalvex ") + versionText));
}

QString siteLink()
{
    return QStringLiteral("https://www.example.org/kalvex/");
}

QList<Contact> contacts(const QString &versionText)
{
    return {
        {QStringLiteral("Автор:"), QStringLiteral("команда Kalvex"), QString()},
        {QStringLiteral("Почта:"), mailAddress, mailLink(versionText)},
        {QStringLiteral("Сайт:"), QStringLiteral("example.org/kalvex"), siteLink()},
        {QStringLiteral("Права:"), QStringLiteral("GNU GPL 3"), QString()},
        {QStringLiteral("Год:"), QStringLiteral("2026"), QString()},
    };
}

} // namespace aboutcontacts
