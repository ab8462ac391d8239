// Reading the journal's alarm changes.
#include "AlarmCursor.h"

#include "Alarms.h"
#include "Convert.h"
#include "Statements.h"

namespace zeva {

void TAlarmCursor::Begin(TDatabase& db)
{
    m_lastId = LastIds(db).journal;
    m_unsettled.clear();
    TQueryResult open = SelectUnsettledAlarms(db);
    std::vector<qint64> ids;
    for (open.First(); !open.Eof(); open.Next())
        ids.push_back(open.FieldAsInteger(QStringLiteral("ID")));
    if (ids.empty())
        return;
    TQueryResult rows = SelectJournalRows(db, ids);
    for (rows.First(); !rows.Eof(); rows.Next())
        m_unsettled[rows.FieldAsInteger(QStringLiteral("ID"))] = {!rows.Field(QStringLiteral("ClearedAt")).isNull(),
                                                                   !rows.Field(QStringLiteral("AckedAt")).isNull(),
                                                                   !rows.Field(QStringLiteral("ShelvedUntil")).isNull()};
}

std::vector<TPlantAlarmEvent> TAlarmCursor::Next(TDatabase& db, const std::function<QString(int)>& name)
{
    std::vector<TPlantAlarmEvent> events;
    auto time = [](const QVariant& v) { return v.isNull() ? QDateTime() : QDateTime::fromString(v.toString(), DateTimeFormat); };
    auto visit = [&](TQueryResult& r, bool fresh) {
        const qint64 id = r.FieldAsInteger(QStringLiteral("ID"));
        const QString kind = r.FieldAsString(QStringLiteral("Kind"));
        if (!IsAlarmKind(kind))
            return;
        TPlantAlarmEvent e;
        e.id = id;
        e.kind = kind;
        const QVariant address = r.Field(QStringLiteral("ApparatusAddress"));
        e.address = address.isNull() ? -1 : int(address.toLongLong());
        e.name = e.address < 0 ? QString() : name(e.address);
        e.text = r.FieldAsString(QStringLiteral("Text"));
        e.raised = time(r.Field(QStringLiteral("RaisedAt")));
        e.cleared = time(r.Field(QStringLiteral("ClearedAt")));
        e.acked = time(r.Field(QStringLiteral("AckedAt")));
        e.by = r.FieldAsString(QStringLiteral("AckedBy"));
        const QVariant priority = r.Field(QStringLiteral("Priority"));
        e.priority = priority.isNull() ? QString() : PriorityText(int(priority.toLongLong()));
        e.comment = r.FieldAsString(QStringLiteral("AckComment"));
        e.shelvedUntil = time(r.Field(QStringLiteral("ShelvedUntil")));
        TSeen& seen = m_unsettled[id];
        if (fresh) {
            e.event = QStringLiteral("raised");
            events.push_back(e);
        }
        if (e.shelvedUntil.isValid() && !seen.shelved) {
            seen.shelved = true;
            TPlantAlarmEvent s = e;
            s.event = QStringLiteral("shelved");
            s.by = r.FieldAsString(QStringLiteral("ShelvedBy"));
            s.reason = r.FieldAsString(QStringLiteral("ShelveReason"));
            events.push_back(s);
        } else if (!e.shelvedUntil.isValid() && seen.shelved) {
            // Back from the shelf unacknowledged.
            seen.shelved = false;
            seen.acked = false;
            e.event = QStringLiteral("returned");
            events.push_back(e);
        }
        if (e.cleared.isValid() && !seen.cleared) {
            seen.cleared = true;
            e.event = QStringLiteral("cleared");
            events.push_back(e);
        }
        if (e.acked.isValid() && !seen.acked) {
            seen.acked = true;
            e.event = QStringLiteral("acked");
            events.push_back(e);
        }
        if (seen.cleared && seen.acked)
            m_unsettled.erase(id);
    };
    // Those already known first (their clears and acknowledgements), then the new ones.
    std::vector<qint64> known;
    for (const auto& [id, seen] : m_unsettled)
        known.push_back(id);
    if (!known.empty()) {
        TQueryResult rows = SelectJournalRows(db, known);
        for (rows.First(); !rows.Eof(); rows.Next())
            visit(rows, false);
    }
    for (;;) {
        TQueryResult rows = SelectJournalAfter(db, m_lastId, 1000);
        if (rows.RecordCount() == 0)
            break;
        for (rows.First(); !rows.Eof(); rows.Next()) {
            m_lastId = rows.FieldAsInteger(QStringLiteral("ID"));
            visit(rows, true);
        }
    }
    return events;
}

} // namespace zeva
