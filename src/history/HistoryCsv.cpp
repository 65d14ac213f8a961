#include "history/HistoryCsv.h"

#include "base/KalvexError.h"
#include "history/Consolidation.h"
#include "history/StoreFunctions.h"

#include <sqlite3.h>

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace history {
namespace {

const QDate epoch(1899, 12, 30);
constexpr qint64 secondsPerDay = 86400;
// More serials than any bus holds; the engine takes a bounded number of parameters.
constexpr qsizetype maxSerials = 1000;

const char *const levelNames[] = {"second", "minute", "hour", "day", "month", "year"};

// Whether a field must be quoted: it holds a separator, a quote or a line break.
bool needsQuotes(QByteArrayView text)
{
    for (const char c : text) {
        if (c == ',' || c == '"' || c == '\n' || c == '\r')
            return true;
    }
    return false;
}

QByteArray csvField(const QByteArray &text)
{
    if (!needsQuotes(text))
        return text;
    QByteArray quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::optional<QDate> isoDate(const QByteArray &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    // Within these days every group's key has a four-digit year and the store's hour numbers.
    if (!date.isValid() || date < QDate(1900, 1, 1) || date > QDate(9999, 12, 30))
        return std::nullopt;
    return date;
}

struct GroupSums
{
    double s = 0;
    qint64 n = 0;
    qint64 r = 0;
};

// The key of the group an hour falls in, as whole seconds since 1899-12-30 00:00.
qint64 groupOfDay(qint64 day, Level level)
{
    if (level == Level::Month || level == Level::Year) {
        const QDate date = epoch.addDays(day);
        const QDate first(date.year(), level == Level::Month ? date.month() : 1, 1);
        return epoch.daysTo(first) * secondsPerDay;
    }
    return day * secondsPerDay;
}

qint64 groupOfHour(qint64 hk, Level level)
{
    if (level == Level::Hour)
        return hk / 24 * secondsPerDay + hk % 24 * 3600;
    return groupOfDay(hk / 24, level);
}

QByteArray placeholders(int first, qsizetype count)
{
    QByteArray list;
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0)
            list += ',';
        list += '?' + QByteArray::number(first + static_cast<int>(i));
    }
    return list;
}

} // namespace

std::optional<Level> csvLevel(QByteArrayView name)
{
    for (std::size_t i = 0; i < std::size(levelNames); ++i) {
        if (name == QByteArrayView(levelNames[i]))
            return static_cast<Level>(i);
    }
    return std::nullopt;
}

std::optional<CsvRequest> csvRequest(const std::vector<std::pair<QByteArray, QByteArray>> &query, QString &reason)
{
    CsvRequest request;
    bool haveFrom = false;
    bool haveTo = false;
    bool haveLevel = false;
    const auto once = [&reason](bool &seen, const QByteArray &name) {
        if (seen) {
            reason = QStringLiteral("параметр %1 задан дважды").arg(QString::fromUtf8(name));
            return false;
        }
        seen = true;
        return true;
    };
    for (const auto &[name, value] : query) {
        if (name == "from" || name == "to") {
            const bool from = name == "from";
            if (!once(from ? haveFrom : haveTo, name))
                return std::nullopt;
            const std::optional<QDate> date = isoDate(value);
            if (!date) {
                reason = QStringLiteral("неверная дата %1=%2: нужен день ГГГГ-ММ-ДД от 1900-01-01 до 9999-12-30")
                             .arg(QString::fromUtf8(name), QString::fromUtf8(value));
                return std::nullopt;
            }
            (from ? request.from : request.to) = *date;
        } else if (name == "level") {
            if (!once(haveLevel, name))
                return std::nullopt;
            const std::optional<Level> level = csvLevel(value);
            if (!level) {
                reason = QStringLiteral("неверная детализация level=%1: нужна одна из second, minute, hour, day, month, year")
                             .arg(QString::fromUtf8(value));
                return std::nullopt;
            }
            request.level = *level;
        } else if (name == "sn") {
            if (value.isEmpty()) {
                reason = QStringLiteral("пустой серийный номер sn");
                return std::nullopt;
            }
            const QString serial = QString::fromUtf8(value);
            if (!request.serials.contains(serial))
                request.serials << serial;
            if (request.serials.size() > maxSerials) {
                reason = QStringLiteral("больше %1 серийных номеров sn").arg(maxSerials);
                return std::nullopt;
            }
        } else {
            reason = QStringLiteral("неизвестный параметр %1").arg(QString::fromUtf8(name));
            return std::nullopt;
        }
    }
    for (const auto &[seen, name] : {std::pair{haveFrom, "from"}, std::pair{haveTo, "to"}, std::pair{haveLevel, "level"}}) {
        if (!seen) {
            reason = QStringLiteral("нет параметра %1").arg(QLatin1String(name));
            return std::nullopt;
        }
    }
    if (request.from > request.to) {
        reason = QStringLiteral("from позже to");
        return std::nullopt;
    }
    return request;
}

QByteArray csvHeader()
{
    return QByteArrayLiteral("time,serial,name,celsius\n");
}

// Where the groups come from: the readings in the order of their times, or the store's hourly
// sums in the order of their hours, with the readings of the two edge hours that the range
// cuts (see queryChart). Either way the groups' keys never go down, so a group is complete
// as soon as a row of a later one arrives.
struct CsvExport::State
{
    enum class Source { Readings, Hours };

    struct Serial
    {
        std::string bytes;
        QByteArray field;     // the serial as a CSV field
        QByteArray nameField; // its sensor's name as a CSV field
        GroupSums sums;
        bool touched = false;
    };

    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    Source source = Source::Readings;
    bool headerWritten = false;
    bool finished = false;
    bool haveGroup = false;
    qint64 groupKey = 0;
    // By their bytes, so a group's lines come out in that order.
    std::map<std::string, Serial, std::less<>> serials;
    std::vector<Serial *> touched;
    // The edge hours' readings, to add to (or take off) the groups they belong to.
    struct Edge
    {
        qint64 key;
        std::string serial;
        GroupSums sums;
    };
    std::vector<Edge> edges; // in the order of their keys
    std::size_t nextEdge = 0;
    // The date part of the last time written.
    qint64 textDay = -1;
    char dateText[11] = {};

    ~State()
    {
        sqlite3_finalize(stmt);
        sqlite3_close_v2(db);
    }
};

CsvExport::CsvExport(QString storePath, CsvRequest request, NameOf nameOf)
    : m_path(std::move(storePath))
    , m_request(std::move(request))
    , m_nameOf(std::move(nameOf))
{
}

CsvExport::~CsvExport()
{
    std::lock_guard lock(m_dbMutex);
    m_state.reset();
}

void CsvExport::cancel()
{
    m_cancelled = true;
    std::lock_guard lock(m_dbMutex);
    if (m_state && m_state->db)
        sqlite3_interrupt(m_state->db);
}

namespace {

[[noreturn]] void engineFailed(sqlite3 *db)
{
    throw KalvexError(QString::fromUtf8(sqlite3_errmsg(db)));
}

sqlite3_stmt *prepared(sqlite3 *db, const QByteArray &sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        engineFailed(db);
    }
    return stmt;
}

void bindSerials(sqlite3_stmt *stmt, int first, const QList<QByteArray> &serials)
{
    for (qsizetype i = 0; i < serials.size(); ++i)
        sqlite3_bind_text(stmt, first + static_cast<int>(i), serials.at(i).constData(),
                          static_cast<int>(serials.at(i).size()), SQLITE_TRANSIENT);
}

} // namespace

bool CsvExport::open(QString &error)
{
    auto state = std::make_unique<State>();
    // Read-only: the export never writes, a read-only file serves, and a missing one is an
    // error instead of a new empty store.
    const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &state->db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = state->db ? QString::fromUtf8(sqlite3_errmsg(state->db)) : QString::fromUtf8(sqlite3_errstr(rc));
        return false;
    }
    sqlite3_extended_result_codes(state->db, 0);
    // The cycle's insert holds the file for a moment only; in WAL mode not even that.
    sqlite3_busy_timeout(state->db, 5000);
    QList<QByteArray> serials;
    for (const QString &serial : std::as_const(m_request.serials))
        serials << serial.toUtf8();
    const QByteArray serialCondition
        = serials.isEmpty() ? QByteArrayLiteral("Sn IS NOT NULL") : "Sn IN (" + placeholders(4, serials.size()) + ")";
    const double from = rangeStart(m_request.from);
    const double to = rangeEnd(m_request.to);
    try {
        // One read transaction for the statements of the edges and of the groups: one snapshot.
        if (sqlite3_exec(state->db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            engineFailed(state->db);
        const Level level = m_request.level;
        const bool coarse = level == Level::Hour || level == Level::Day || level == Level::Month || level == Level::Year;
        if (coarse && consolidation::present(state->db)) {
            state->source = State::Source::Hours;
            const qint64 first = consolidation::hourKey(from);
            const qint64 last = consolidation::hourKey(to);
            const double oneSecond = 1.0 / 86400.0;
            const QByteArray hk = consolidation::hourKeySql(QStringLiteral("Dat")).toUtf8();
            struct EdgeQuery
            {
                const char *condition;
                double bound;
                double limit;
                qint64 hk;
                int sign;
            };
            for (const EdgeQuery &e : {EdgeQuery{"Dat >= ?1 AND Dat < ?2", from - oneSecond, from, first, -1},
                                       EdgeQuery{"Dat > ?1 AND Dat <= ?2", to - oneSecond, to, last + 1, +1}}) {
                sqlite3_stmt *edge = prepared(state->db, QByteArray("SELECT Sn, total(t), count(t), count(*) FROM Stats WHERE ")
                                                              + e.condition + " AND " + serialCondition + " AND " + hk
                                                              + " = ?3 GROUP BY Sn");
                sqlite3_bind_double(edge, 1, e.bound);
                sqlite3_bind_double(edge, 2, e.limit);
                sqlite3_bind_int64(edge, 3, e.hk);
                bindSerials(edge, 4, serials);
                int step;
                while ((step = sqlite3_step(edge)) == SQLITE_ROW) {
                    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(edge, 0));
                    State::Edge found{groupOfHour(e.hk, level),
                                      std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(edge, 0))),
                                      {e.sign * sqlite3_column_double(edge, 1), e.sign * sqlite3_column_int64(edge, 2),
                                       e.sign * sqlite3_column_int64(edge, 3)}};
                    state->edges.push_back(std::move(found));
                }
                sqlite3_finalize(edge);
                if (step != SQLITE_DONE)
                    engineFailed(state->db);
            }
            // Coarser than the hour, the days are summed by the engine.
            const QByteArray sql = level == Level::Hour
                ? "SELECT Hk, Sn, S, N, R FROM stats_hours WHERE Hk >= ?1 AND Hk <= ?2 AND " + serialCondition
                    + " ORDER BY Hk, Sn"
                : "SELECT Hk / 24 * 24, Sn, total(S), total(N), total(R) FROM stats_hours WHERE Hk >= ?1 AND Hk <= ?2 AND "
                    + serialCondition + " GROUP BY Hk / 24, Sn ORDER BY Hk / 24, Sn";
            state->stmt = prepared(state->db, sql);
            sqlite3_bind_int64(state->stmt, 1, first);
            sqlite3_bind_int64(state->stmt, 2, last);
        } else {
            state->stmt = prepared(state->db, "SELECT Dat, Sn, t FROM Stats WHERE (Dat>=?1 AND Dat<=?2) AND "
                                                  + serialCondition + " ORDER BY Dat");
            sqlite3_bind_double(state->stmt, 1, from);
            sqlite3_bind_double(state->stmt, 2, to);
        }
        bindSerials(state->stmt, 4, serials);
    } catch (const KalvexError &e) {
        error = e.message();
        return false;
    }
    std::stable_sort(state->edges.begin(), state->edges.end(),
                     [](const State::Edge &a, const State::Edge &b) { return a.key < b.key; });
    std::lock_guard lock(m_dbMutex);
    m_state = std::move(state);
    return true;
}

namespace {

void appendTwo(QByteArray &out, int value)
{
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

} // namespace

bool CsvExport::next(QByteArray &out, qsizetype wanted)
{
    if (!m_state)
        throw KalvexError(QStringLiteral("the export is not open"));
    State &st = *m_state;
    if (!st.headerWritten) {
        out += csvHeader();
        st.headerWritten = true;
    }
    if (st.finished)
        return false;

    const auto serialOf = [&](std::string_view bytes) -> State::Serial & {
        auto it = st.serials.find(bytes);
        if (it == st.serials.end()) {
            const QByteArray utf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
            const QString name = m_nameOf ? m_nameOf(QString::fromUtf8(utf8)) : QString();
            it = st.serials.emplace(std::string(bytes), State::Serial{std::string(bytes), csvField(utf8), csvField(name.toUtf8()), {}, false}).first;
        }
        return it->second;
    };
    const auto add = [&](State::Serial &serial, const GroupSums &sums) {
        serial.sums.s += sums.s;
        serial.sums.n += sums.n;
        serial.sums.r += sums.r;
        if (!serial.touched) {
            serial.touched = true;
            st.touched.push_back(&serial);
        }
    };
    const auto writeTime = [&](qint64 key) {
        const qint64 day = key / secondsPerDay;
        if (day != st.textDay) {
            st.textDay = day;
            int y = 0;
            int m = 0;
            int d = 0;
            epoch.addDays(day).getDate(&y, &m, &d);
            QByteArray date;
            appendTwo(date, y / 100);
            appendTwo(date, y % 100);
            date += '-';
            appendTwo(date, m);
            date += '-';
            appendTwo(date, d);
            std::copy_n(date.constData(), 10, st.dateText);
        }
        out.append(st.dateText, 10);
        out += 'T';
        const int second = static_cast<int>(key % secondsPerDay);
        appendTwo(out, second / 3600);
        out += ':';
        appendTwo(out, second / 60 % 60);
        out += ':';
        appendTwo(out, second % 60);
    };
    // Writes the group of `key` (the edges of that key added first) and forgets it.
    const auto flush = [&](qint64 key) {
        while (st.nextEdge < st.edges.size() && st.edges[st.nextEdge].key == key) {
            const State::Edge &edge = st.edges[st.nextEdge++];
            add(serialOf(edge.serial), edge.sums);
        }
        std::sort(st.touched.begin(), st.touched.end(),
                  [](const State::Serial *a, const State::Serial *b) { return a->bytes < b->bytes; });
        for (State::Serial *serial : st.touched) {
            if (serial->sums.r > 0) {
                writeTime(key);
                out += ',';
                out += serial->field;
                out += ',';
                out += serial->nameField;
                out += ',';
                if (serial->sums.n > 0) {
                    char digits[32];
                    const auto written = std::to_chars(digits, digits + sizeof digits,
                                                       serial->sums.s / static_cast<double>(serial->sums.n));
                    out.append(digits, written.ptr - digits);
                }
                out += '\n';
                ++m_rows;
            }
            serial->sums = {};
            serial->touched = false;
        }
        st.touched.clear();
    };
    // Edge groups before `key` that no row of the sums reached.
    const auto flushEdgesBefore = [&](qint64 key, bool all) {
        while (st.nextEdge < st.edges.size() && (all || st.edges[st.nextEdge].key < key))
            flush(st.edges[st.nextEdge].key);
    };

    const Level level = m_request.level;
    const qint64 width = level == Level::Second ? 1 : level == Level::Minute ? 60 : level == Level::Hour ? 3600 : secondsPerDay;
    qint64 lastDay = -1;
    qint64 lastDayGroup = 0;
    sqlite3_stmt *stmt = st.stmt;
    int checked = 0;
    while (out.size() < wanted) {
        if ((++checked & 1023) == 0 && m_cancelled.load(std::memory_order_relaxed))
            throw KalvexError(QStringLiteral("interrupted"));
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW) {
            if (rc != SQLITE_DONE)
                engineFailed(st.db);
            if (st.haveGroup)
                flush(st.groupKey);
            flushEdgesBefore(0, true);
            st.finished = true;
            sqlite3_exec(st.db, "COMMIT", nullptr, nullptr, nullptr);
            return false;
        }
        qint64 key = 0;
        GroupSums sums;
        if (st.source == State::Source::Hours) {
            key = groupOfHour(sqlite3_column_int64(stmt, 0), level);
            sums = {sqlite3_column_double(stmt, 2), sqlite3_column_int64(stmt, 3), sqlite3_column_int64(stmt, 4)};
        } else {
            // Cut where format() cuts the stored double, as the statement's groups are.
            const storefunctions::DaySecond at = storefunctions::daySecond(sqlite3_column_double(stmt, 0));
            if (level == Level::Month || level == Level::Year) {
                if (at.day != lastDay) {
                    lastDay = at.day;
                    lastDayGroup = groupOfDay(at.day, level);
                }
                key = lastDayGroup;
            } else {
                key = at.day * secondsPerDay + at.second / width * width;
            }
            const bool value = sqlite3_column_type(stmt, 2) != SQLITE_NULL;
            sums = {value ? sqlite3_column_double(stmt, 2) : 0.0, value ? 1 : 0, 1};
        }
        if (!st.haveGroup || key != st.groupKey) {
            if (st.haveGroup)
                flush(st.groupKey);
            flushEdgesBefore(key, false);
            st.haveGroup = true;
            st.groupKey = key;
        }
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        add(serialOf(std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, 1)))), sums);
    }
    return true;
}

} // namespace history
