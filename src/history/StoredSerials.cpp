#include "history/StoredSerials.h"

#include "history/HistoryQuery.h"
#include "history/TADOQuery.h"

#include <QByteArray>
#include <QSet>

namespace history {
namespace {

void collect(TADOQuery &query, const QString &statement, QStringList &into)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(statement);
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) {
        if (!query.Fields(0).IsNull())
            into << query.Fields(0).AsString();
    }
    query.Close();
}

void execText(TADOQuery &query, const QString &statement)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(statement);
    query.ExecSQL();
}

struct AllMet
{
};

} // namespace

QStringList storedSerials(TADOQuery &query)
{
    QStringList serials;
    if (!hourSumsPresent(query)) {
        collect(query, QStringLiteral("SELECT DISTINCT Sn FROM Stats"), serials);
        return serials;
    }
    // One read of one state of the store: every serial the two lists name is met in the scan.
    execText(query, QStringLiteral("BEGIN"));
    try {
        QStringList named;
        collect(query, QStringLiteral("SELECT DISTINCT Sn FROM stats_hours"), named);
        // Text and blobs sort after every number, so the last range holds the dates that are
        // not numbers too.
        collect(query,
                QStringLiteral("SELECT Sn FROM Stats WHERE Dat IS NULL UNION SELECT Sn FROM Stats WHERE Dat < 1 "
                               "UNION SELECT Sn FROM Stats WHERE Dat >= 2958466"),
                named);
        // Compared as the stored bytes, without a text made for each reading: a serial met
        // late in a year of readings costs one pass over them.
        QSet<QByteArray> pending;
        for (const QString &serial : std::as_const(named)) {
            if (!serial.isEmpty())
                pending.insert(serial.toUtf8());
        }
        QSet<QByteArray> met;
        if (!pending.isEmpty()) {
            query.Close();
            query.SQL.Clear();
            query.SQL.Add(QStringLiteral("SELECT Sn FROM Stats ORDER BY rowid"));
            try {
                query.Scan([&](const TRowView &row) {
                    if (row.IsNull(0))
                        return;
                    const QByteArrayView bytes = row.AsUtf8(0);
                    const QByteArray serial = QByteArray::fromRawData(bytes.data(), bytes.size());
                    if (met.contains(serial))
                        return;
                    const QByteArray kept(bytes.data(), bytes.size());
                    met.insert(kept);
                    serials << QString::fromUtf8(kept);
                    pending.remove(kept);
                    if (pending.isEmpty())
                        throw AllMet{};
                });
            } catch (const AllMet &) {
            }
        }
        execText(query, QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            execText(query, QStringLiteral("ROLLBACK"));
        } catch (...) {
        }
        throw;
    }
    query.Close();
    return serials;
}

} // namespace history
