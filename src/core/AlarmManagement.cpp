// What the operator does with alarms beyond acknowledging them: priorities and delays from Data.ini,
// shelving and its return, muting the repeated beep, and what the banner and the overview show.
#include "MonitorCore.h"

#include "ErrorLog.h"
#include "IniFile.h"
#include "Settings.h"

#include <QTimer>

namespace zeva {

void TMonitorCore::readAlarmPolicy()
{
    TAlarmPolicy p;
    const auto delay = [&](const QString& key) {
        const int seconds = m_settings->ReadInteger(SettingsKey::Alarm, key, 0);
        if (seconds < 0 || seconds > 3600)
            LogError(QStringLiteral("Data.ini [Alarm] %1=%2 不在 0..3600 秒内，按 0").arg(key).arg(seconds));
        return seconds < 0 || seconds > 3600 ? 0 : qint64(seconds) * 1000;
    };
    p.onDelayMs = delay(SettingsKey::OnDelay);
    p.offDelayMs = delay(SettingsKey::OffDelay);
    for (const QString& code : AlarmKindCodes()) {
        const QString key = SettingsKey::PriorityPrefix + code;
        const QString text = m_settings->ReadString(SettingsKey::Alarm, key, QString());
        if (text.isEmpty())
            continue;
        const std::optional<TAlarmPriority> priority = PriorityFromText(text);
        if (!priority) {
            LogError(QStringLiteral("Data.ini [Alarm] %1=%2 无效（应为紧急、高、中或低），按默认").arg(key, text));
            continue;
        }
        p.overrides[code] = *priority;
    }
    m_policy = p;
    m_alarms.SetPolicy(p);
}

void TMonitorCore::readThresholds()
{
    m_t4.fill(std::nullopt);
    try {
        TQueryResult enabled = SelectEnabledApparatus(m_db);
        for (enabled.First(); !enabled.Eof(); enabled.Next()) {
            const QVariant t4 = enabled.Field(QStringLiteral("T4"));
            bool ok = false;
            const double value = t4.toDouble(&ok);
            const uint8_t address = uint8_t(enabled.FieldAsInteger(Column::ApparatusAddress) & 0xFF);
            // The first enabled row of an address is the one polled.
            if (ok && !t4.isNull() && value > 0 && !m_t4[address])
                m_t4[address] = value;
        }
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what())); // no T4 alarms until the registry is read again
    }
}

void TMonitorCore::readShelved()
{
    try {
        m_shelved = SelectShelved(m_db);
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
}

void TMonitorCore::Acknowledge(const std::vector<qint64>& ids, const QString& user, const QString& comment)
{
    AcknowledgeJournal(m_db, ids, QDateTime::currentDateTime(), user, comment);
    plantAlarmsChanged();
    emit alarmsChanged();
}

const TMonitorCore::TAlarmView& TMonitorCore::AlarmView()
{
    if (m_writer && m_writer->Failing())
        return m_view;
    try {
        // One read: a lock taken meanwhile makes the window wait once, not once per query.
        TAlarmView view;
        m_db.Exec(QStringLiteral("SAVEPOINT alarm_view"));
        try {
            view.summary = SummarizeAlarms(m_db);
            view.standing = zeva::StandingPriorities(m_db);
            view.beeping = SelectBeepingAlarms(m_db, int(TAlarmPriority::High));
            m_db.Exec(QStringLiteral("RELEASE alarm_view"));
        } catch (const EDatabaseError&) {
            m_db.Exec(QStringLiteral("ROLLBACK TO alarm_view"));
            m_db.Exec(QStringLiteral("RELEASE alarm_view"));
            throw;
        }
        m_view = std::move(view);
        // Muted alarms no longer beeping need not be remembered.
        std::set<qint64> stillMuted;
        for (qint64 id : m_view.beeping)
            if (m_muted.count(id))
                stillMuted.insert(id);
        m_muted.swap(stillMuted);
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what())); // the last view stands
    }
    return m_view;
}

int TMonitorCore::Shelve(const std::vector<qint64>& ids, const QDateTime& until, const QString& user,
                         const QString& reason)
{
    const std::vector<TShelfRow> rows = ShelveJournal(m_db, ids, until, user, reason);
    for (const TShelfRow& row : rows)
        JournalEvent(row.address, JournalKind::Shelve,
                     QStringLiteral("%1，至 %2，%3：%4").arg(row.text, until.toString(QStringLiteral("yyyy-MM-dd HH:mm")), user,
                                                          reason.trimmed().isEmpty() ? QStringLiteral("未说明原因") : reason.trimmed()));
    readShelved();
    plantAlarmsChanged();
    emit alarmsChanged();
    emit journalStored();
    return int(rows.size());
}

void TMonitorCore::ReturnShelved()
{
    // Only when a shelf is due (known without asking the database: no wait on a locked one), and
    // not again for a while after the database refused.
    const QDateTime now = QDateTime::currentDateTime();
    bool due = false;
    for (const auto& [key, shelf] : m_shelved)
        due = due || (shelf.due.isValid() && shelf.due <= now);
    if (!due || (m_writer && m_writer->Failing()) || (m_shelfRetryAt.isValid() && now < m_shelfRetryAt))
        return;
    std::vector<TShelfRow> back;
    try {
        // An instrument's alarm comes back only once a reply has shown its condition still holds
        // (its shelf may have ended while the program was off); until then it stays due.
        for (TShelfRow& row : SelectShelfDue(m_db, now))
            if (row.address < 0 || m_alarms.Known(uint8_t(row.address)))
                back.push_back(std::move(row));
        std::vector<qint64> ids;
        for (const TShelfRow& row : back)
            ids.push_back(row.id);
        EndShelves(m_db, ids, now);
        m_shelfRetryAt = {};
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
        m_shelfRetryAt = now.addSecs(30);
        return;
    }
    readShelved();
    QStringList alerted;
    for (const TShelfRow& row : back) {
        QString detail = QStringLiteral("到期返回：") + row.text;
        if (!row.ackedBy.isEmpty() || !row.ackedAt.isEmpty())
            detail += QStringLiteral("（原确认：%1 %2%3）")
                          .arg(row.ackedBy, row.ackedAt,
                               row.ackComment.isEmpty() ? QString() : QStringLiteral("，") + row.ackComment);
        JournalEvent(row.address, JournalKind::Shelve, detail);
        alerted << (row.address < 0 ? row.text
                                    : m_health.InstrumentText(uint8_t(row.address)) + QStringLiteral("：") + row.text);
    }
    plantAlarmsChanged();
    emit alarmsChanged();
    emit journalStored();
    alert(alerted); // back unacknowledged: as if raised now
}

void TMonitorCore::Mute(const QString& user)
{
    int fresh = 0;
    for (qint64 id : m_view.beeping)
        fresh += m_muted.insert(id).second ? 1 : 0;
    if (fresh > 0)
        JournalEvent(-1, JournalKind::Mute, QStringLiteral("%1 条，%2").arg(fresh).arg(user));
}

bool TMonitorCore::BeepDue() const
{
    for (qint64 id : m_view.beeping)
        if (!m_muted.count(id))
            return true;
    return false;
}

} // namespace zeva
