#include "history/TADOQuery.h"

#include "base/KalvexError.h"
#include "base/NumberText.h"
#include "history/StoreFunctions.h"

#include <sqlite3.h>

#include <QByteArray>

namespace {

// How long a statement waits for another connection of this program (the history window's)
// that holds the file, before the engine reports it busy.
constexpr int busyTimeoutMs = 5000;

bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Parameter names of a statement text, outside its quoted parts.
QStringList scanParams(const QString &text)
{
    QStringList names;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char(':') && i + 1 < text.size() && isNameStart(text.at(i + 1))) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text.at(end)))
                ++end;
            const QString name = text.mid(i + 1, end - i - 1);
            if (!names.contains(name, Qt::CaseInsensitive))
                names << name;
            i = end - 1;
        }
    }
    return names;
}

} // namespace

double TField::AsFloat() const
{
    if (const auto *d = std::get_if<double>(&m_value))
        return *d;
    if (const auto *i = std::get_if<qint64>(&m_value))
        return static_cast<double>(*i);
    if (const auto *s = std::get_if<QString>(&m_value))
        return s->toDouble();
    return 0;
}

qint64 TField::AsInteger() const
{
    if (const auto *i = std::get_if<qint64>(&m_value))
        return *i;
    if (const auto *d = std::get_if<double>(&m_value))
        return static_cast<qint64>(*d);
    if (const auto *s = std::get_if<QString>(&m_value))
        return s->toLongLong();
    return 0;
}

QString TField::AsString() const
{
    if (const auto *s = std::get_if<QString>(&m_value))
        return *s;
    if (const auto *i = std::get_if<qint64>(&m_value))
        return QString::number(*i);
    if (const auto *d = std::get_if<double>(&m_value))
        return numbertext::general(*d);
    return QString();
}

TADOQuery::TADOQuery(QObject *parent)
    : QObject(parent)
{
}

TADOQuery::~TADOQuery()
{
    disconnect();
}

void TADOQuery::setConnectionString(const QString &path)
{
    if (path == m_connectionString)
        return;
    Close();
    disconnect();
    m_connectionString = path;
}

void TADOQuery::disconnect()
{
    if (m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        m_stmtText.clear();
    }
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool TADOQuery::FileMoved() const
{
    if (!m_db)
        return false;
    int moved = 0;
    return sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0;
}

void TADOQuery::fail(sqlite3 *db) const
{
    throw KalvexError(QString::fromUtf8(sqlite3_errmsg(db)));
}

sqlite3 *TADOQuery::connection()
{
    if (m_db)
        return m_db;
    if (m_connectionString.isEmpty())
        throw KalvexError(QStringLiteral("Missing Connection or ConnectionString"));
    sqlite3 *db = nullptr;
    // Never SQLITE_OPEN_CREATE: only ConnectDB creates the store, so a file that vanished
    // is an error here instead of a new empty store.
    const int rc = sqlite3_open_v2(m_connectionString.toUtf8().constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db))
                                   : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw KalvexError(message);
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (!storefunctions::registerFunctions(db)) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        throw KalvexError(message);
    }
    if (m_interrupt) {
        sqlite3_progress_handler(
            db, 4000, [](void *self) { return static_cast<TADOQuery *>(self)->m_interrupt() ? 1 : 0; }, this);
    }
    m_db = db;
    return m_db;
}

QString TADOQuery::engineText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    bool inSingle = false;
    bool inDouble = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inSingle) {
            out += c;
            if (c == QLatin1Char('\''))
                inSingle = false;
        } else if (inDouble) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    out += c;
                    ++i;
                } else {
                    out += QLatin1Char('\'');
                    inDouble = false;
                }
            } else if (c == QLatin1Char('\'')) {
                out += QLatin1String("''");
            } else {
                out += c;
            }
        } else if (c == QLatin1Char('\'')) {
            out += c;
            inSingle = true;
        } else if (c == QLatin1Char('"')) {
            out += QLatin1Char('\'');
            inDouble = true;
        } else {
            out += c;
        }
    }
    if (inDouble)
        out += QLatin1Char('\'');
    return out;
}

void TADOQuery::syncParams()
{
    const QString text = SQL.Text();
    if (text == m_paramsText)
        return;
    m_paramsText = text;
    m_paramNames = scanParams(text);
    QHash<QString, Param> kept;
    for (const QString &name : std::as_const(m_paramNames)) {
        const QString key = name.toLower();
        kept.insert(key, m_params.value(key));
    }
    m_params = std::move(kept);
}

QStringList TADOQuery::ParamNames() const
{
    return scanParams(SQL.Text());
}

void TADOQuery::setParam(const QString &name, Param value)
{
    syncParams();
    const QString key = name.toLower();
    auto it = m_params.find(key);
    if (it == m_params.end())
        throw KalvexError(QStringLiteral("Parameter '%1' not found").arg(name));
    *it = std::move(value);
}

void TADOQuery::setDateTime(const QString &name, double value)
{
    setParam(name, value);
}

void TADOQuery::setText(const QString &name, const QString &value)
{
    setParam(name, value);
}

void TADOQuery::setFloat(const QString &name, double value)
{
    setParam(name, value);
}

sqlite3_stmt *TADOQuery::prepare()
{
    syncParams();
    sqlite3 *db = connection();
    const QString text = SQL.Text();
    if (!m_stmt || text != m_stmtText) {
        if (m_stmt) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            m_stmtText.clear();
        }
        const QByteArray utf8 = engineText(text).toUtf8();
        const char *tail = nullptr;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v3(db, utf8.constData(), static_cast<int>(utf8.size()),
                               SQLITE_PREPARE_PERSISTENT, &stmt, &tail) != SQLITE_OK)
            fail(db);
        if (!stmt)
            throw KalvexError(QStringLiteral("Command text was not set for the command object."));
        m_stmt = stmt;
        m_stmtText = text;
    }
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    const int count = sqlite3_bind_parameter_count(m_stmt);
    for (int i = 1; i <= count; ++i) {
        const char *raw = sqlite3_bind_parameter_name(m_stmt, i);
        const QString name = raw ? QString::fromUtf8(raw + 1) : QString();
        const Param value = m_params.value(name.toLower());
        int rc = SQLITE_OK;
        if (const auto *d = std::get_if<double>(&value)) {
            rc = sqlite3_bind_double(m_stmt, i, *d);
        } else if (const auto *s = std::get_if<QString>(&value)) {
            const QByteArray utf8 = s->toUtf8();
            rc = sqlite3_bind_text(m_stmt, i, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        } else {
            throw KalvexError(QStringLiteral("Parameter '%1' has no value").arg(name));
        }
        if (rc != SQLITE_OK)
            fail(db);
    }
    return m_stmt;
}

int TADOQuery::ExecSQL()
{
    Close();
    sqlite3_stmt *stmt = prepare();
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        // The message belongs to the failed step; read it before reset clears nothing of it.
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_reset(stmt);
        throw KalvexError(message);
    }
    const int changed = sqlite3_changes(m_db);
    sqlite3_reset(stmt);
    return changed;
}

void TADOQuery::Open()
{
    Close();
    sqlite3_stmt *stmt = prepare();
    const int columns = sqlite3_column_count(stmt);
    std::vector<std::vector<TField::Value>> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<TField::Value> row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<qint64>(sqlite3_column_int64(stmt, c)));
                break;
            case SQLITE_FLOAT:
                row.emplace_back(sqlite3_column_double(stmt, c));
                break;
            case SQLITE_NULL:
                row.emplace_back(std::monostate{});
                break;
            default: {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
                row.emplace_back(QString::fromUtf8(text, sqlite3_column_bytes(stmt, c)));
                break;
            }
            }
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_reset(stmt);
        throw KalvexError(message);
    }
    sqlite3_reset(stmt);
    m_rows = std::move(rows);
    m_fieldCount = columns;
    m_row = 0;
    m_active = true;
}

void TADOQuery::Scan(const std::function<void(const TRowView &)> &row)
{
    Close();
    sqlite3_stmt *stmt = prepare();
    const TRowView view(stmt);
    int rc;
    try {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            row(view);
    } catch (...) {
        sqlite3_reset(stmt);
        throw;
    }
    if (rc != SQLITE_DONE) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_reset(stmt);
        throw KalvexError(message);
    }
    sqlite3_reset(stmt);
}

bool TRowView::IsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

double TRowView::AsFloat(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

qint64 TRowView::AsInteger(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

QByteArrayView TRowView::AsUtf8(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return QByteArrayView(text, sqlite3_column_bytes(m_stmt, column));
}

void TADOQuery::Close()
{
    m_rows.clear();
    m_fieldCount = 0;
    m_row = 0;
    m_active = false;
}

TField TADOQuery::Fields(int index) const
{
    if (!m_active)
        throw KalvexError(QStringLiteral("Operation is not allowed when the object is closed."));
    if (Eof())
        throw KalvexError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    if (index < 0 || index >= m_fieldCount)
        throw KalvexError(QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal."));
    return TField(m_rows[static_cast<std::size_t>(m_row)][static_cast<std::size_t>(index)]);
}
