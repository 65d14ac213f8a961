#include "dialogs/AboutContacts.h"

#include "base/ProjectAddress.h"

#include <QUrl>

namespace aboutcontacts {
namespace {
const QString mailAddress = QString::fromLatin1(projectaddress::Mail);
} // namespace

QString mailLink(const QString &versionText)
{
    return QStringLiteral("mailto:") + mailAddress + QStringLiteral("?subject=")
        + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("Kalvex ") + versionText));
}

QString siteLink()
{
    return QString::fromLatin1(projectaddress::Site);
}

QList<Contact> contacts(const QString &versionText)
{
    return {
        {QStringLiteral("Автор:"), QStringLiteral("команда Kalvex"), QString()},
        {QStringLiteral("Почта:"), mailAddress, mailLink(versionText)},
        {QStringLiteral("Сайт:"), QString::fromLatin1(projectaddress::SiteShown), siteLink()},
        {QStringLiteral("Права:"), QStringLiteral("GNU GPL 3"), QString()},
        {QStringLiteral("Год:"), QStringLiteral("2026"), QString()},
    };
}

} // namespace aboutcontacts
