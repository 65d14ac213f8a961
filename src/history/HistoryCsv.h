#pragma once

#include "history/HistoryQuery.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// The history's points out as CSV text, for spreadsheets and other tools: the same groups and
// means as the history chart, written as they are found, so that a year at seconds costs no
// more memory than a day.
namespace history {

struct CsvRequest
{
    QDate from;
    QDate to;
    Level level = Level::Hour;
    QStringList serials; // empty: every serial in the store
};

// "second", "minute", "hour", "day", "month", "year" (lower case only).
std::optional<Level> csvLevel(QByteArrayView name);
// A request from the decoded pairs of a query string: from and to as YYYY-MM-DD (once each),
// level once, sn any number of times. Nothing comes back when a parameter is missing,
// repeated, unknown or unreadable; `reason` then says which, in one line.
std::optional<CsvRequest> csvRequest(const std::vector<std::pair<QByteArray, QByteArray>> &query, QString &reason);

// The header line of every export, line feed included.
QByteArray csvHeader();

// One export on a read-only connection of its own: the header, then one line per group and
// serial with a reading, in the order of the groups' times and within one time in the order
// of the serials' bytes. Times are ISO 8601 local times (the group's start), means are written
// with a decimal point as the shortest text that reads back as the same double; a group of
// readings without a value (another tool's NULLs) has an empty mean. Only the current group is
// held. Runs on one thread at a time; cancel() may come from any thread.
class CsvExport
{
public:
    // The name of a serial's sensor (empty when none), asked once per serial.
    using NameOf = std::function<QString(const QString &serial)>;

    CsvExport(QString storePath, CsvRequest request, NameOf nameOf);
    ~CsvExport();
    CsvExport(const CsvExport &) = delete;
    CsvExport &operator=(const CsvExport &) = delete;

    // Opens the store and starts the statement. False with the engine's reason (the file
    // missing, not a store, no table) when it cannot.
    bool open(QString &error);
    // Appends the next lines (the header first) to `out` until it holds `wanted` bytes or
    // more, or the export ends. False once the last line is written. Throws KalvexError when
    // the engine fails or after cancel().
    bool next(QByteArray &out, qsizetype wanted);
    // Stops the export: a statement under way ends at once and next() throws.
    void cancel();
    // Lines written so far, header not counted.
    qint64 rows() const { return m_rows; }

private:
    struct State;
    QString m_path;
    CsvRequest m_request;
    NameOf m_nameOf;
    // Guards the connection against cancel() from another thread while it opens or closes.
    std::mutex m_dbMutex;
    std::unique_ptr<State> m_state;
    std::atomic<bool> m_cancelled{false};
    qint64 m_rows = 0;
};

} // namespace history
