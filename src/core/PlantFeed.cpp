// The core's feed of the plant's interfaces: the Modbus register map and the MQTT topics follow
// every accepted reply, change of health, link, alarm count and central state; the journal's
// alarm changes go out as events. The servers run on their own threads: nothing here waits.
#include "MonitorCore.h"

#include "ErrorLog.h"
#include "PlantConfig.h"

namespace zeva {

namespace {

int healthCode(TInstrumentState s)
{
    switch (s) {
    case TInstrumentState::Normal: return 1;
    case TInstrumentState::Timeout: return 2;
    case TInstrumentState::Interrupted: return 3;
    }
    return 0;
}

} // namespace

void TMonitorCore::startPlant()
{
    try {
        m_alarmCursor.Begin(m_db);
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    const TModbusConfig modbus = ReadModbusConfig(*m_settings);
    if (modbus.Enabled()) {
        TModbusServer::TConfig c;
        QString error;
        if (!TModbusServer::ParseListen(modbus.listen, c, error)) {
            reportError(QStringLiteral("Modbus：") + error);
        } else {
            c.maxClients = modbus.maxClients;
            auto server = std::make_unique<TModbusServer>(c, [](const QString& text) { LogError(text); });
            try {
                server->Start();
                m_modbus = std::move(server);
                LogError(QStringLiteral("Modbus：在 %1:%2 提供输入寄存器（功能码 04）").arg(c.host).arg(m_modbus->Port()));
            } catch (const std::exception& e) {
                // The monitoring goes on without it.
                reportError(QString::fromUtf8(e.what()));
            }
        }
    }
    try {
        const TMqttConfig mqtt = ReadMqttConfig(*m_settings, m_program);
        if (mqtt.Enabled()) {
            m_mqtt = std::make_unique<TMqttPublisher>(mqtt, [this](const QString& text, bool journaled) {
                // Heard on the publisher's threads; said and journaled on this one.
                QMetaObject::invokeMethod(this, [this, text, journaled] {
                    LogError(text);
                    if (journaled)
                        JournalEvent(-1, JournalKind::Mqtt, text.section(QStringLiteral("："), 1));
                }, Qt::QueuedConnection);
            });
            m_mqtt->Start();
            LogError(QStringLiteral("MQTT：发布到 %1:%2，主题 %3/…").arg(mqtt.host).arg(mqtt.port).arg(mqtt.prefix));
        }
    } catch (const std::exception& e) {
        m_mqtt.reset();
        const QString text = QString::fromUtf8(e.what());
        JournalEvent(-1, JournalKind::Mqtt, text.section(QStringLiteral("："), 1));
        reportError(text);
    }
    plantAllChanged();
}

void TMonitorCore::stopPlant()
{
    if (m_mqtt)
        m_mqtt->Stop();
    m_mqtt.reset();
    if (m_modbus)
        m_modbus->Stop();
    m_modbus.reset();
}

TPlantInstrument TMonitorCore::plantInstrument(uint8_t address) const
{
    TPlantInstrument in;
    in.address = address;
    in.name = m_health.NameOf(address);
    in.polled = std::find(m_health.Polled().begin(), m_health.Polled().end(), address) != m_health.Polled().end();
    const TInstrumentHealth& h = m_health.Of(address);
    in.health = healthCode(h.state);
    in.lastReplyMs = h.lastReplyMs;
    in.time = m_replyTime[address];
    const TAddressReadings& r = m_state.ByAddress[address];
    in.live = r.live;
    in.blackBox = r.blackBox;
    if (r.status)
        in.lamps = LampBits((*r.status)[0], (*r.status)[1]);
    // A shelved alarm is not counted until it returns.
    const auto standing = [&](const TJournalKind& kind) {
        const auto shelf = m_shelved.find({address, QLatin1String(kind.code)});
        return m_alarms.Active(address, kind) && (shelf == m_shelved.end() || !shelf->second.standing) ? 1 : 0;
    };
    for (const TJournalKind& kind : LiveAlarms)
        in.standing += standing(kind);
    in.standing += standing(JournalKind::Interrupted);
    return in;
}

void TMonitorCore::plantInstrumentChanged(uint8_t address)
{
    if (!m_modbus && !m_mqtt)
        return;
    const TPlantInstrument in = plantInstrument(address);
    if (m_modbus)
        m_modbus->SetInstrument(in);
    if (m_mqtt && in.polled)
        m_mqtt->Instrument(in);
}

void TMonitorCore::plantAllChanged()
{
    for (uint8_t a : m_health.Polled())
        plantInstrumentChanged(a);
    plantStationChanged();
}

void TMonitorCore::plantStationChanged()
{
    if (!m_modbus && !m_mqtt)
        return;
    TPlantStation s;
    s.link = m_health.Link() == TLinkState::Connected ? 0 : m_health.Link() == TLinkState::Silent ? 1 : 2;
    s.linkSince = m_health.LinkSince();
    s.polled = int(m_health.Polled().size());
    s.unacknowledged = m_unacknowledged;
    if (const auto central = CentralStatus())
        s.central = central->state == TForwarder::TState::Synced ? 1 : central->state == TForwarder::TState::Backlog ? 2 : 3;
    if (m_modbus)
        m_modbus->SetStation(s);
    if (m_mqtt)
        m_mqtt->Link(s.link, s.linkSince.isValid() ? s.linkSince : QDateTime::currentDateTime());
}

void TMonitorCore::plantAlarmsChanged()
{
    if (!m_modbus && !m_mqtt)
        return;
    CountAlarms(); // the unacknowledged count the station block holds
    if (m_mqtt) {
        try {
            for (const TPlantAlarmEvent& e : m_alarmCursor.Next(m_db, [this](int a) { return m_health.NameOf(uint8_t(a)); }))
                m_mqtt->Alarm(e);
        } catch (const EDatabaseError& e) {
            LogError(QString::fromUtf8(e.what())); // read again at the next change
        }
    }
    plantAllChanged(); // the standing alarms of each instrument
}

} // namespace zeva
