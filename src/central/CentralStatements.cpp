// The station's rows into the central tables.
#include "CentralStatements.h"

#include "CentralSchema.h"
#include "ErrorLog.h"

#include <QDateTime>

#include <array>
#include <cmath>

namespace zeva {

namespace {

// How a station's column becomes a central one.
enum class TValue { Text, Integer, Numeric, Flag, Time, RequiredTime };
struct TColumn {
    const char* local;
    const char* central;
    TValue value;
};

// The registry, the parameter writes and the journal, column by column (the readings travel as
// COPY's lines, made by the station's database).
const TColumn ApparatusColumns[] = {
    {"ID", "local_id", TValue::Integer}, {"ApparatusName", "apparatus_name", TValue::Text},
    {"ApparatusAddress", "apparatus_address", TValue::Integer}, {"ApparatusType", "apparatus_type", TValue::Text},
    {"Implication", "implication", TValue::Text}, {"CFlag", "c_flag", TValue::Flag},
    {"T1", "t1", TValue::Numeric}, {"T2", "t2", TValue::Numeric}, {"T3", "t3", TValue::Numeric},
    {"T4", "t4", TValue::Numeric}, {"T5", "t5", TValue::Numeric}, {"T6", "t6", TValue::Numeric},
    {"T7", "t7", TValue::Numeric}, {"TF", "tf", TValue::Integer}, {"RUN", "run", TValue::Integer},
    {"AAtoneT", "a_atone_t", TValue::Numeric}, {"BAtoneT", "b_atone_t", TValue::Numeric},
    {"CAtoneT", "c_atone_t", TValue::Numeric}, {"DAtoneT", "d_atone_t", TValue::Numeric},
    {"AHightT", "a_hight_t", TValue::Numeric}, {"BHightT", "b_hight_t", TValue::Numeric},
    {"CHightT", "c_hight_t", TValue::Numeric}, {"DHightT", "d_hight_t", TValue::Numeric},
    {"ApparatusBate", "apparatus_bate", TValue::Integer}, {"ComPort", "com_port", TValue::Text},
    {"ComBate", "com_bate", TValue::Integer}, {"RunTime", "run_time", TValue::Integer},
    {"RunFreq", "run_freq", TValue::Integer}, {"CurrentlyAddress", "currently_address", TValue::Text},
};
const TColumn HistoryColumns[] = {
    {"HistoryID", "local_id", TValue::Integer}, {"InDate", "in_date", TValue::Time},
    {"ApparatusName", "apparatus_name", TValue::Text}, {"ApparatusAddress", "apparatus_address", TValue::Integer},
    {"ApparatusBate", "apparatus_bate", TValue::Integer}, {"ApparatusType", "apparatus_type", TValue::Text},
    {"Implication", "implication", TValue::Text},
    {"T1", "t1", TValue::Numeric}, {"T2", "t2", TValue::Numeric}, {"T3", "t3", TValue::Numeric},
    {"T4", "t4", TValue::Numeric}, {"T5", "t5", TValue::Numeric}, {"T6", "t6", TValue::Numeric},
    {"T7", "t7", TValue::Numeric}, {"AAtoneT", "a_atone_t", TValue::Numeric}, {"BAtoneT", "b_atone_t", TValue::Numeric},
    {"CAtoneT", "c_atone_t", TValue::Numeric}, {"DAtoneT", "d_atone_t", TValue::Numeric},
    {"TF", "tf", TValue::Integer}, {"RUN", "run", TValue::Integer}, {"Operator", "operator", TValue::Text},
};
const TColumn JournalColumns[] = {
    {"ID", "local_id", TValue::Integer}, {"ApparatusID", "apparatus_id", TValue::Integer},
    {"ApparatusAddress", "apparatus_address", TValue::Integer}, {"Kind", "kind", TValue::Text},
    {"Text", "text", TValue::Text}, {"RaisedAt", "raised_at", TValue::RequiredTime},
    {"ClearedAt", "cleared_at", TValue::Time}, {"AckedAt", "acked_at", TValue::Time},
    {"AckedBy", "acked_by", TValue::Text}, {"Priority", "priority", TValue::Integer},
    {"Value", "value", TValue::Numeric}, {"Chatter", "chatter", TValue::Integer},
    {"AckComment", "ack_comment", TValue::Text}, {"ShelvedUntil", "shelved_until", TValue::Time},
    {"ShelvedBy", "shelved_by", TValue::Text}, {"ShelveReason", "shelve_reason", TValue::Text},
};

const char* const MarkRemovedApparatusSql =
    "UPDATE apparatus SET removed_at = now(), updated_at = now()"
    " WHERE station = $1 AND removed_at IS NULL AND NOT (local_id = ANY ($2::bigint[]))";
const char* const SelectOpenJournalSql =
    "SELECT local_id FROM event_journal"
    " WHERE station = $1 AND kind LIKE 'alarm.%' AND (cleared_at IS NULL OR acked_at IS NULL) ORDER BY local_id";

const char* const UpsertStationSql =
    "INSERT INTO station (station, database_key) VALUES ($1, $2) ON CONFLICT (station) DO UPDATE"
    " SET last_seen = now(), database_key = coalesce(station.database_key, excluded.database_key)"
    " RETURNING database_key, xmax = 0";

// One statement per batch, whatever its size: the columns travel as arrays, times in UTC.
const char* const SelectPositionsSql = "SELECT table_name, last_id FROM forward_position WHERE station = $1";
const char* const UpsertPositionSql =
    "INSERT INTO forward_position (station, table_name, last_id) VALUES ($1, $2, $3)"
    " ON CONFLICT (station, table_name) DO UPDATE SET last_id = excluded.last_id, updated_at = now()";

// The columns of SelectRecordCopyAfter's lines, in their order.
#define ZEVA_RECORD_COLUMNS                                                                                          \
    "(station, local_id, apparatus_id, in_date_time, a_act_temperature, b_act_temperature, c_act_temperature,"      \
    " d_act_temperature, a_black_temperature, b_black_temperature, c_black_temperature, d_black_temperature)"
const char* const CopyRecordsSql = "COPY apparatus_record " ZEVA_RECORD_COLUMNS " FROM STDIN";
// The way round for rows the central database may have: a temporary table of the batch, then an
// insert that leaves a row it has.
const char* const MakeBatchTableSql =
    "CREATE TEMPORARY TABLE IF NOT EXISTS forward_batch (LIKE apparatus_record) ON COMMIT DELETE ROWS";
const char* const CopyBatchSql = "COPY forward_batch " ZEVA_RECORD_COLUMNS " FROM STDIN";
const char* const InsertBatchSql =
    "INSERT INTO apparatus_record SELECT * FROM forward_batch ON CONFLICT (station, local_id, in_date_time) DO NOTHING";
#undef ZEVA_RECORD_COLUMNS
constexpr const char* UniqueViolation = "23505";

const char* castOf(TValue value)
{
    switch (value) {
    case TValue::Text: return "text";
    case TValue::Integer: return "bigint";
    case TValue::Numeric: return "numeric";
    case TValue::Flag: return "boolean";
    case TValue::Time:
    case TValue::RequiredTime: return "timestamptz";
    }
    return "text";
}

// "INSERT INTO table (station, cols...) VALUES ($1, $2::type, ...)". On a conflict the `changing`
// columns take the new values and the `fixed` ones their given value, when any of them differs;
// `alsoSet` ("updated_at = now()") goes with them.
struct TFixed {
    const char* column;
    const char* value;
};
template <std::size_t N>
std::string upsertSql(const char* table, const TColumn (&columns)[N], const QStringList& changing,
                      std::initializer_list<TFixed> fixed = {}, const char* alsoSet = nullptr)
{
    QStringList names{QStringLiteral("station")}, values{QStringLiteral("$1")};
    int n = 1;
    for (const TColumn& c : columns) {
        names << QLatin1String(c.central);
        values << QStringLiteral("$%1::").arg(++n) + QLatin1String(castOf(c.value));
    }
    QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (station, local_id) DO ")
                      .arg(QLatin1String(table), names.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
    if (changing.isEmpty())
        return (sql + QStringLiteral("NOTHING")).toStdString();
    QStringList set, now, then;
    const auto column = [&](const QString& name, const QString& value) {
        set << name + QStringLiteral(" = ") + value;
        now << QLatin1String(table) + QLatin1Char('.') + name;
        then << value;
    };
    for (const QString& c : changing)
        column(c, QStringLiteral("excluded.") + c);
    for (const TFixed& f : fixed)
        column(QLatin1String(f.column), QLatin1String(f.value));
    if (alsoSet)
        set << QLatin1String(alsoSet);
    return (sql + QStringLiteral("UPDATE SET %1 WHERE (%2) IS DISTINCT FROM (%3)")
                      .arg(set.join(QLatin1Char(',')), now.join(QLatin1Char(',')), then.join(QLatin1Char(','))))
        .toStdString();
}

// Every central column but the key: what an upsert brings up to date.
template <std::size_t N> QStringList valueColumns(const TColumn (&columns)[N])
{
    QStringList names;
    for (const TColumn& c : columns)
        if (QLatin1String(c.central) != QLatin1String("local_id"))
            names << QLatin1String(c.central);
    return names;
}

// One value of a station's row and where it goes, for the notes.
struct TCell {
    const char* table;
    const TColumn& column;
    qint64 id;
};

// A station's value as its central column takes it. A text that is no number, or a number that is
// not finite, becomes NULL rather than stopping the forwarding for good; said once.
TPgValue centralValue(const QVariant& v, const TCell& cell, TLocalTimes& times, TValueNotes& notes)
{
    const TValue kind = cell.column.value;
    if (v.isNull())
        return kind == TValue::Flag ? TPgValue("false") : std::nullopt;
    const QString what = QLatin1String(cell.table) + QLatin1Char('.') + QLatin1String(cell.column.central);
    const auto changed = [&](const char* why) { notes.Note(what, cell.id, v.toString(), QString::fromUtf8(why)); };
    bool ok = false;
    const double d = kind == TValue::Text ? 0 : v.toString().trimmed().toDouble(&ok);
    switch (kind) {
    case TValue::Text: {
        QString text = v.toString();
        if (text.contains(QChar(0))) {
            changed("含 NUL 字符，PostgreSQL 的文本不能存放：已删去");
            text.remove(QChar(0));
        }
        return text.toStdString();
    }
    case TValue::Flag:
        if (!ok)
            changed("不是数值：以 false 发送");
        return ok && d != 0 ? "true" : "false";
    case TValue::Integer:
        if (ok && std::abs(d) < 9e15)
            return std::to_string(qint64(d));
        changed("不是整数或超出范围：以空值发送");
        return std::nullopt;
    case TValue::Numeric:
        if (ok && std::isfinite(d))
            return QString::number(d, 'g', 15).toStdString();
        changed("不是有限数值：以空值发送");
        return std::nullopt;
    case TValue::Time:
    case TValue::RequiredTime: {
        const QString t = times.Of(v.toString()).iso;
        if (!t.isEmpty())
            return t.toStdString();
        changed(kind == TValue::RequiredTime ? "不是时间：此行未发送" : "不是时间：以空值发送");
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// Rows of a station's table, one statement for each; a row without a required time (a malformed
// text) is left out. The caller holds the transaction.
template <std::size_t N>
void writeRows(TPgConnection& db, const std::string& sql, const QString& station, const char* table,
               const TColumn (&columns)[N], const TQueryResult& rows, TValueNotes& notes)
{
    std::array<int, N> at{};
    for (std::size_t c = 0; c < N; ++c)
        at[c] = int(rows.columns().indexOf(QLatin1String(columns[c].local)));
    std::vector<TPgValue> values(N + 1);
    values[0] = station.toStdString();
    TLocalTimes times;
    for (const QVariantList& row : rows.rows()) {
        const qint64 id = row.value(0).toLongLong();
        bool complete = true;
        for (std::size_t c = 0; c < N; ++c) {
            values[c + 1] = centralValue(at[c] < 0 ? QVariant() : row.value(at[c]), TCell{table, columns[c], id}, times, notes);
            complete = complete && (values[c + 1] || columns[c].value != TValue::RequiredTime);
        }
        if (complete)
            db.Exec(sql, values);
    }
}

} // namespace

void TValueNotes::Note(const QString& what, qint64 id, const QString& value, const QString& why)
{
    if (!m_said.insert(what + QLatin1Char('|') + why).second)
        return;
    QString shown = value;
    shown.replace(QChar(0), QStringLiteral("\\0"));
    if (shown.size() > 40)
        shown = shown.left(39) + QChar(0x2026);
    LogError(QStringLiteral("中心库：%1 第 %2 行的值“%3”%4（此后同类不再提示）").arg(what).arg(id).arg(shown, why));
}

bool UpsertStation(TPgConnection& db, const QString& station, qint64 databaseKey)
{
    const TPgResult r = db.Exec(UpsertStationSql, {station.toStdString(), std::to_string(databaseKey)});
    // Two databases under one name would overwrite each other's rows (a reinstalled PC, a second
    // station left at the same name).
    if (r.Rows() != 1 || r.Value(0, 0) != std::to_string(databaseKey))
        throw EPgError(QStringLiteral("站点名“%1”已由另一个本站数据库使用：请在 Data.ini 的 [Central] 中另取 Station 名")
                           .arg(station)
                           .toStdString(),
                       {}, false);
    return r.Value(0, 1) == "t";
}

void UpsertApparatus(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes)
{
    // The row is there, so a removed mark goes.
    static const std::string sql = upsertSql("apparatus", ApparatusColumns, valueColumns(ApparatusColumns),
                                             {{"removed_at", "NULL::timestamptz"}}, "updated_at = now()");
    writeRows(db, sql, station, "apparatus", ApparatusColumns, rows, notes);
}

void MarkRemovedApparatus(TPgConnection& db, const QString& station, const std::vector<qint64>& present)
{
    std::string ids = "{";
    for (qint64 id : present)
        ids += (ids.size() > 1 ? "," : "") + std::to_string(id);
    db.Exec(MarkRemovedApparatusSql, {station.toStdString(), ids + "}"});
}

void InsertHistoryRows(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes)
{
    // Brought up to date: an ID the station gives again after deleting its newest writes.
    static const std::string sql = upsertSql("apparatus_history", HistoryColumns, valueColumns(HistoryColumns));
    writeRows(db, sql, station, "apparatus_history", HistoryColumns, rows, notes);
}

void UpsertJournal(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes)
{
    static const std::string sql = upsertSql("event_journal", JournalColumns,
                                             {QStringLiteral("cleared_at"), QStringLiteral("acked_at"), QStringLiteral("acked_by"),
                                              QStringLiteral("ack_comment"), QStringLiteral("shelved_until"),
                                              QStringLiteral("shelved_by"), QStringLiteral("shelve_reason")});
    writeRows(db, sql, station, "event_journal", JournalColumns, rows, notes);
}

std::vector<qint64> SelectOpenJournal(TPgConnection& db, const QString& station)
{
    const TPgResult r = db.Exec(SelectOpenJournalSql, {station.toStdString()});
    std::vector<qint64> ids;
    for (int i = 0; i < r.Rows(); ++i)
        ids.push_back(std::stoll(r.Value(i, 0)));
    return ids;
}

std::map<std::string, qint64> ReadCentralPositions(TPgConnection& db, const QString& station)
{
    const TPgResult r = db.Exec(SelectPositionsSql, {station.toStdString()});
    std::map<std::string, qint64> positions;
    for (int i = 0; i < r.Rows(); ++i)
        positions[r.Value(i, 0)] = std::stoll(r.Value(i, 1));
    return positions;
}

void WriteCentralPosition(TPgConnection& db, const QString& station, const std::string& table, qint64 lastId)
{
    db.Exec(UpsertPositionSql, {station.toStdString(), table, std::to_string(lastId)});
}

QString CopyField(const QString& text)
{
    QString field;
    field.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': field += QStringLiteral("\\\\"); break;
        case '\t': field += QStringLiteral("\\t"); break;
        case '\n': field += QStringLiteral("\\n"); break;
        case '\r': field += QStringLiteral("\\r"); break;
        case 0: break; // no text of PostgreSQL holds it
        default: field += c;
        }
    }
    return field;
}

void CopyRecords(TPgConnection& db, const QString& station, const std::string& lines, qint64 lastId,
                 const std::function<void()>& meanwhile, const std::function<void(const char*)>& step)
{
    const auto at = [&](const char* name) {
        if (step)
            step(name);
    };
    try {
        InCentralTransaction(db, [&] {
            at("began");
            db.CopyIn(CopyRecordsSql, lines, [&] {
                at("copied");
                if (meanwhile)
                    meanwhile();
            });
            WriteCentralPosition(db, station, CentralTable::Records, lastId);
            at("positioned");
            return 0;
        });
        return;
    } catch (const EPgError& e) {
        if (e.SqlState() != UniqueViolation || !db.Usable())
            throw;
    }
    InCentralTransaction(db, [&] {
        db.Exec(MakeBatchTableSql);
        db.CopyIn(CopyBatchSql, lines);
        db.Exec(InsertBatchSql);
        WriteCentralPosition(db, station, CentralTable::Records, lastId);
        return 0;
    });
}

TLocalTimes::TTime TLocalTimes::Of(const QString& text)
{
    // Fixed positions: "2026-12-09 08:00:00".
    static const QString shape = QStringLiteral("0000-00-00 00:00:00");
    if (text.size() != shape.size())
        return {};
    for (qsizetype i = 0; i < shape.size(); ++i)
        if (shape[i] == QLatin1Char('0') ? !text[i].isDigit() || text[i].unicode() > '9' : text[i] != shape[i])
            return {};
    const auto number = [&](int at, int n) { return QStringView(text).mid(at, n).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    int offset;
    if (QStringView(text).left(13) == m_hour && m_uniform) {
        offset = m_offset;
    } else {
        m_hour = text.left(13);
        m_offset = QDateTime(date, QTime(time.hour(), 0)).offsetFromUtc();
        m_uniform = QDateTime(date, QTime(time.hour(), 59, 59)).offsetFromUtc() == m_offset;
        offset = m_uniform ? m_offset : QDateTime(date, time).offsetFromUtc();
    }
    const int minutes = std::abs(offset) / 60;
    TTime t;
    t.iso = text.left(10) + QLatin1Char('T') + text.mid(11) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
            QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    t.utcDay = QDateTime(date, time, Qt::UTC).addSecs(-offset).date();
    return t;
}

QString CentralTime(const QString& localText)
{
    return TLocalTimes().Of(localText).iso;
}

} // namespace zeva
