#pragma once

#include <QByteArray>
#include <QString>

// How the program's log lines go to its standard error when it runs as a service. Under
// systemd (JOURNAL_STREAM names the stream standard error is), a line carries its syslog
// priority ("<3>" failures, "<4>" warnings, "<6>" the rest) and no time stamp of its own:
// the journal stamps it, and `journalctl -p warning` shows what went wrong. Anywhere else it
// is the line as the log box shows it.
namespace servicelog {

enum Priority { Error = 3, Warning = 4, Info = 6 };

// The priority of one of the program's log texts, by what it says.
Priority priority(const QString &text);

// True when `journalStream` ("DEVICE:INODE") names the file that `fd` is open on.
bool isStream(const QByteArray &journalStream, int fd);
// Whether standard error goes to the journal; asked once.
bool toJournal();

// The line to write: "<p>text" for the journal, else "stamp : text".
QString line(const QString &stamp, const QString &text, Priority priority, bool journal);

} // namespace servicelog
