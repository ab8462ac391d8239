// The database connection and fully fetched results.
#include "Database.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

namespace zeva {

TDatabaseFault FaultOfSqliteCode(int code)
{
    switch (code & 0xFF) { // an extended code keeps its primary code in the low byte
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
        return TDatabaseFault::Locked;
    case 13: return TDatabaseFault::Full;     // SQLITE_FULL
    case 8: return TDatabaseFault::ReadOnly;  // SQLITE_READONLY
    case 10: return TDatabaseFault::Io;       // SQLITE_IOERR
    default: return TDatabaseFault::Other;
    }
}

QString ExplainDatabaseError(TDatabaseFault fault, const QString& text)
{
    switch (fault) {
    case TDatabaseFault::Locked: return QStringLiteral("数据库被其他程序锁定：") + text;
    case TDatabaseFault::Full: return QStringLiteral("磁盘已满：") + text;
    case TDatabaseFault::ReadOnly: return QStringLiteral("数据库只读，无法写入：") + text;
    case TDatabaseFault::Io: return QStringLiteral("数据库文件读写出错：") + text;
    case TDatabaseFault::Other: break;
    }
    return text;
}

EDatabaseError EDatabaseError::From(const QSqlError& error)
{
    bool numeric = false;
    int code = error.nativeErrorCode().toInt(&numeric);
    TDatabaseFault fault = numeric ? FaultOfSqliteCode(code) : TDatabaseFault::Other;
    return EDatabaseError(ExplainDatabaseError(fault, error.text()).toStdString(), fault);
}

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
    m_openError.clear();
    QFileInfo file(m_fileName);
    if (!QDir(dataPath + QStringLiteral("/DataBase")).exists() || !file.isFile()) {
        m_openError = QStringLiteral("文件不存在");
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        // mode=rw: the driver would otherwise create an empty file in place of a missing one.
        QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
        if (!db.open()) {
            m_openError = QString::fromUtf8(EDatabaseError::From(db.lastError()).what());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
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
    } catch (const EDatabaseError& e) {
        Close();
        m_openError = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

void TDatabase::Close()
{
    if (!m_open)
        return;
    m_prepared.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_open = false;
}

bool TDatabase::IsOpen() const
{
    return m_open;
}

QSqlDatabase TDatabase::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

namespace {

QSqlQuery run(const QSqlDatabase& db, const QString& sql, const TBindings& bindings)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw EDatabaseError::From(q.lastError());
    for (const auto& [name, value] : bindings)
        q.bindValue(name, value);
    if (!q.exec())
        throw EDatabaseError::From(q.lastError());
    return q;
}

} // namespace

void TDatabase::Exec(const QString& sql, const TBindings& bindings)
{
    if (!m_open)
        throw EDatabaseError("The database is not open");
    constexpr std::size_t MostPrepared = 64; // texts made with their values in them pass by
    auto it = m_prepared.find(sql);
    if (it == m_prepared.end()) {
        if (m_prepared.size() >= MostPrepared)
            m_prepared.clear();
        QSqlQuery q(connection());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw EDatabaseError::From(q.lastError());
        it = m_prepared.emplace(sql, std::move(q)).first;
    }
    QSqlQuery& q = it->second;
    for (const auto& [name, value] : bindings)
        q.bindValue(name, value);
    const bool done = q.exec();
    if (!done) {
        EDatabaseError error = EDatabaseError::From(q.lastError());
        m_prepared.erase(it);
        throw error;
    }
    q.finish();
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
        throw EDatabaseError::From(q.lastError());
    return TQueryResult(std::move(columns), std::move(rows));
}

void TDatabase::Each(const QString& sql, const TBindings& bindings, const std::function<void(const QSqlQuery&)>& each)
{
    if (!m_open)
        throw EDatabaseError("The database is not open");
    QSqlQuery q = run(connection(), sql, bindings);
    while (q.next())
        each(q);
    if (q.lastError().isValid())
        throw EDatabaseError::From(q.lastError());
}

} // namespace zeva
