#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The statement text of a query object, set line by line (the lines are joined with "\n").
class QueryText
{
public:
    void Clear() { m_lines.clear(); }
    void Add(const QString &line) { m_lines << line; }
    QString Text() const { return m_lines.join(QLatin1Char('\n')); }
    int Count() const { return static_cast<int>(m_lines.size()); }

private:
    QStringList m_lines;
};

// One column of the current row of an open query.
class TField
{
public:
    using Value = std::variant<std::monostate, qint64, double, QString>;
    explicit TField(Value value = {}) : m_value(std::move(value)) {}

    bool IsNull() const { return std::holds_alternative<std::monostate>(m_value); }
    // A number; text is converted as the engine converts it (0 when it holds no number).
    double AsFloat() const;
    qint64 AsInteger() const;
    // A date-time double (the stored value as it is).
    double AsDateTime() const { return AsFloat(); }
    // Text as stored; numbers in the general form with the locale separator.
    QString AsString() const;

private:
    Value m_value;
};

// The current row of a statement read by TADOQuery::Scan, straight from the engine: valid only
// inside the call that received it. Texts are the stored UTF-8 bytes.
class TRowView
{
public:
    explicit TRowView(sqlite3_stmt *stmt) : m_stmt(stmt) {}
    bool IsNull(int column) const;
    // As the engine converts: a text to the number it starts with, NULL to 0.
    double AsFloat(int column) const;
    qint64 AsInteger(int column) const;
    QByteArrayView AsUtf8(int column) const;

private:
    sqlite3_stmt *m_stmt;
};

// A query object on the reading store: it connects by itself to the file its connection string
// names (the file's path, empty = not connected) whenever it runs a statement. Named parameters
// (":Name") are found in the text and set by name before the statement runs; Open fetches every
// row, so First/Last/RecordCount cost nothing. HOUR() and format() are registered on its
// connection. Every failure of the engine is thrown as KalvexError with the engine's message.
class TADOQuery : public QObject
{
    Q_OBJECT

public:
    explicit TADOQuery(QObject *parent = nullptr);
    ~TADOQuery() override;

    // The store file's path. Changing it (or emptying it) drops the current connection, so an
    // empty string holds the file open nowhere.
    QString ConnectionString() const { return m_connectionString; }
    void setConnectionString(const QString &path);

    QueryText SQL;

    // Asked every few thousand steps of the engine while a statement runs, on the thread that
    // runs it: true stops the statement, which then fails ("interrupted"). Set before the
    // first statement.
    void setInterruptCheck(std::function<bool()> check) { m_interrupt = std::move(check); }
    // The check's answer now (false without one), for long work on the rows after a statement.
    bool Interrupted() const { return m_interrupt && m_interrupt(); }

    // Sets a parameter of the current text by name (case-insensitive). Throws KalvexError when
    // the text has no parameter of that name.
    void setDateTime(const QString &name, double value);
    void setText(const QString &name, const QString &value);
    void setFloat(const QString &name, double value);
    // The parameter names of the current text, in order of first appearance.
    QStringList ParamNames() const;

    // Runs a statement that returns no rows. Returns the number of rows it changed.
    int ExecSQL();
    // Runs a statement that returns rows and moves to the first one.
    void Open();
    // Runs a statement that returns rows and hands each one to `row` as it comes, keeping none:
    // for results too large to copy whole. The query stays closed. An exception of `row` ends
    // the statement and goes on to the caller.
    void Scan(const std::function<void(const TRowView &)> &row);
    // Forgets the rows; the connection stays.
    void Close();
    // True when the file this query holds open is no longer the one at its path (deleted,
    // moved, or replaced by another file): one stat of the path. False without a connection.
    bool FileMoved() const;
    bool Active() const { return m_active; }

    void First() { m_row = 0; }
    void Last() { m_row = m_rows.empty() ? 0 : static_cast<int>(m_rows.size()) - 1; }
    void Next()
    {
        if (m_row < static_cast<int>(m_rows.size()))
            ++m_row;
    }
    bool Eof() const { return m_row >= static_cast<int>(m_rows.size()); }
    int RecordCount() const { return static_cast<int>(m_rows.size()); }
    int FieldCount() const { return m_fieldCount; }
    // Column `index` of the current row. Throws KalvexError past the end or outside the columns.
    TField Fields(int index) const;

    // The text sent to the engine: double-quoted literals of the statement texts become
    // single-quoted ones, so no literal can be taken for a column name.
    static QString engineText(const QString &text);

private:
    using Param = std::variant<std::monostate, double, QString>;
    sqlite3 *connection();
    void disconnect();
    sqlite3_stmt *prepare();
    [[noreturn]] void fail(sqlite3 *db) const;
    void setParam(const QString &name, Param value);
    void syncParams();

    QString m_connectionString;
    std::function<bool()> m_interrupt;
    sqlite3 *m_db = nullptr;
    // The prepared form of the last text, kept while the text stays the same: one insert per
    // reading then costs no parse.
    sqlite3_stmt *m_stmt = nullptr;
    QString m_stmtText;

    QString m_paramsText;
    QStringList m_paramNames;
    QHash<QString, Param> m_params; // keyed by lower-case name

    bool m_active = false;
    int m_fieldCount = 0;
    int m_row = 0;
    std::vector<std::vector<TField::Value>> m_rows;
};
