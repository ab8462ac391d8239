// The database connection and fully fetched results.
#include "Database.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

namespace zeva {

TQueryResult::TQueryResult(QStringList columns, std::vector<QVariantList> rows)
    : m_columns(std::move(columns)), m_rows(std::move(rows))
{
}

int TQueryResult::columnIndex(const QString& column) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant TQueryResult::Field(const QString& column) const
{
    int c = columnIndex(column);
    if (c < 0 || Eof())
        return {};
    return m_rows[std::size_t(m_current)][c];
}

QString TQueryResult::FieldAsString(const QString& column) const
{
    QVariant v = Field(column);
    return v.isNull() ? QString() : v.toString();
}

qint64 TQueryResult::FieldAsInteger(const QString& column) const
{
    return Field(column).toLongLong();
}

double TQueryResult::FieldAsFloat(const QString& column) const
{
    return Field(column).toDouble();
}

bool TQueryResult::Locate(const QString& column, const QVariant& value)
{
    int c = columnIndex(column);
    if (c < 0)
        return false;
    const bool text = value.typeId() == QMetaType::QString;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const QVariant& cell = m_rows[r][c];
        if (cell.isNull())
            continue;
        bool match = text ? cell.toString().compare(value.toString(), Qt::CaseInsensitive) == 0
                          : QVariant::compare(cell, value) == QPartialOrdering::Equivalent ||
                                cell.toString() == value.toString();
        if (match) {
            m_current = int(r);
            return true;
        }
    }
    return false;
}

TDatabase::~TDatabase()
{
    Close();
}

QString TDatabase::FileFor(const QString& dataPath)
{
    return dataPath + QStringLiteral("/DataBase/Data.db");
}

bool TDatabase::Open(const QString& dataPath)
{
    Close();
    m_fileName = FileFor(dataPath);
    QFileInfo file(m_fileName);
    if (!QDir(dataPath + QStringLiteral("/DataBase")).exists() || !file.isFile())
        return false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
        // mode=rw: the driver would otherwise create an empty file in place of a missing one.
        QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(ConnectionName);
            return false;
        }
    }
    m_open = true;
    try {
        // A file that is no database fails here, on its first read.
        Query(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        Exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        Exec(QStringLiteral("PRAGMA synchronous=FULL"));
        // Memory-mapped reads: a month of one instrument touches thousands of pages, and a read
        // call per page cost more than the query itself.
        Exec(QStringLiteral("PRAGMA mmap_size=2147418112"));
    } catch (const EDatabaseError&) {
        Close();
        return false;
    }
    return true;
}

void TDatabase::Close()
{
    if (!m_open)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(ConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ConnectionName);
    m_open = false;
}

bool TDatabase::IsOpen() const
{
    return m_open;
}

QSqlDatabase TDatabase::connection() const
{
    return QSqlDatabase::database(ConnectionName, false);
}

namespace {

QSqlQuery run(const QSqlDatabase& db, const QString& sql, const TBindings& bindings)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw EDatabaseError(q.lastError().text().toStdString());
    for (const auto& [name, value] : bindings)
        q.bindValue(name, value);
    if (!q.exec())
        throw EDatabaseError(q.lastError().text().toStdString());
    return q;
}

} // namespace

void TDatabase::Exec(const QString& sql, const TBindings& bindings)
{
    if (!m_open)
        throw EDatabaseError("The database is not open");
    run(connection(), sql, bindings);
}

TQueryResult TDatabase::Query(const QString& sql, const TBindings& bindings)
{
    if (!m_open)
        throw EDatabaseError("The database is not open");
    QSqlQuery q = run(connection(), sql, bindings);
    QSqlRecord rec = q.record();
    QStringList columns;
    for (int i = 0; i < rec.count(); ++i)
        columns << rec.fieldName(i);
    std::vector<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        row.reserve(rec.count());
        for (int i = 0; i < rec.count(); ++i)
            row << q.value(i);
        rows.push_back(std::move(row));
    }
    if (q.lastError().isValid())
        throw EDatabaseError(q.lastError().text().toStdString());
    return TQueryResult(std::move(columns), std::move(rows));
}

} // namespace zeva
