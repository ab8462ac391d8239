// The one database connection, fully fetched query results, and database errors.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <stdexcept>
#include <utility>
#include <unordered_map>
#include <vector>

class QSqlError;

namespace zeva {

// What kind of failure a database error is; it decides the explanation put before the library's
// text and whether a waiting writer may expect it to pass.
enum class TDatabaseFault { Other, Locked, Full, ReadOnly, Io };

// Carries the database's own error text, after a Chinese explanation where the kind is known.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& text, TDatabaseFault fault = TDatabaseFault::Other)
        : std::runtime_error(text), m_fault(fault)
    {
    }
    // From the driver's error: its native code gives the kind, its text stays as it is.
    static EDatabaseError From(const QSqlError& error);
    TDatabaseFault Fault() const { return m_fault; }

private:
    TDatabaseFault m_fault;
};

// The kind of an SQLite result code (extended codes included).
TDatabaseFault FaultOfSqliteCode(int code);
// "数据库被其他程序锁定：database is locked ..." and the like; the text alone for other kinds.
QString ExplainDatabaseError(TDatabaseFault fault, const QString& text);

using TBindings = std::vector<std::pair<QString, QVariant>>;

// A result fetched whole, so its row count is known before the first row is read.
class TQueryResult {
public:
    TQueryResult() = default;
    TQueryResult(QStringList columns, std::vector<QVariantList> rows);

    int RecordCount() const { return int(m_rows.size()); }
    bool Eof() const { return m_current >= int(m_rows.size()); }
    int RecNo() const { return m_current; }
    void First() { m_current = 0; }
    void Next()
    {
        if (!Eof())
            ++m_current;
    }
    void Last() { m_current = m_rows.empty() ? 0 : int(m_rows.size()) - 1; }
    void MoveTo(int row) { m_current = row; }

    // A missing value, an unknown column or an empty result reads as empty text or 0.
    QVariant Field(const QString& column) const;
    QString FieldAsString(const QString& column) const;
    qint64 FieldAsInteger(const QString& column) const;
    double FieldAsFloat(const QString& column) const;

    // Moves to the first row whose column equals `value`: texts without regard to case, whole match.
    bool Locate(const QString& column, const QVariant& value);

    const QStringList& columns() const { return m_columns; }
    const std::vector<QVariantList>& rows() const { return m_rows; }

private:
    int columnIndex(const QString& column) const;

    QStringList m_columns;
    std::vector<QVariantList> m_rows;
    int m_current = 0;
};

class TDatabase {
public:
    static inline const QString ConnectionName = QStringLiteral("ADOCon");
    // The user-interface thread waits at most this long for another program's lock: polling runs
    // on the same thread. Recording has a thread of its own (TRecordWriter).
    static constexpr int DefaultBusyTimeoutMs = 1000;

    // The user-interface thread's connection is ADOCon; a thread of its own opens another name.
    explicit TDatabase(QString connectionName = ConnectionName, int busyTimeoutMs = DefaultBusyTimeoutMs)
        : m_connectionName(std::move(connectionName)), m_busyTimeoutMs(busyTimeoutMs)
    {
    }
    ~TDatabase();
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;

    // <dataPath>/DataBase/Data.db
    static QString FileFor(const QString& dataPath);

    // False when the folder or the file is missing (never creates one) or the file is no database;
    // OpenError() then says why.
    bool Open(const QString& dataPath);
    const QString& OpenError() const { return m_openError; }
    void Close();
    bool IsOpen() const;
    const QString& FileName() const { return m_fileName; }
    QSqlDatabase connection() const;

    // A statement that returns no rows; throws EDatabaseError.
    void Exec(const QString& sql, const TBindings& bindings = {});
    TQueryResult Query(const QString& sql, const TBindings& bindings = {});
    // Hands each row to `each` as it is read, for results too large to hold.
    void Each(const QString& sql, const TBindings& bindings, const std::function<void(const QSqlQuery&)>& each);

private:
    QString m_connectionName;
    int m_busyTimeoutMs;
    QString m_fileName;
    QString m_openError;
    bool m_open = false;
    // Statements of Exec, prepared once: a row stored fires the sums' triggers, whose compiling
    // costs many times the insert itself.
    std::unordered_map<QString, QSqlQuery> m_prepared;
};

} // namespace zeva
