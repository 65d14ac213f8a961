#pragma once

#include <QList>
#include <QString>

// What the about box says of how to reach the program's makers: five caption and value pairs,
// two of whose values are links.
namespace aboutcontacts {

struct Contact
{
    QString caption;
    QString value;
    // Where a click on the value leads; empty for plain text.
    QString link;
};

// In the order they stand in the box, top to bottom.
QList<Contact> contacts(const QString &versionText);
// A new message to the makers, its subject naming the version.
QString mailLink(const QString &versionText);
QString siteLink();

} // namespace aboutcontacts
