// The core's feed of the plant's interfaces: the Modbus register map and the MQTT topics follow
// every accepted reply, change of health, link, alarm count and central state; the journal's
// alarm changes go out as events. The servers run on their own threads: nothing here waits.
#include "MonitorCore.h"

#include "ErrorLog.h"
#include "CentralSettings.h"
#include "PlantConfig.h"

#include <sys/resource.h>

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
    startWeb();
    plantAllChanged();
}

// The web view listens away from the loopback only with a token and TLS: a token must not cross the
// LAN in plain HTTP. A refusal is said and journaled; monitoring goes on without it.
void TMonitorCore::startWeb()
{
    const TWebConfig web = ReadWebConfig(*m_settings);
    if (!web.Enabled())
        return;
    const auto refuse = [this](const QString& text) {
        reportError(QStringLiteral("Web：") + text);
        JournalEvent(-1, JournalKind::Web, text);
    };
    TWebServer::TConfig c;
    QString error;
    if (!ParseHostPort(web.listen, c.host, c.port, error))
        return refuse(error);
    TWebSite::TConfig site;
    site.station = ReadCentralConfig(*m_settings).station;
    site.dataPath = m_state.DataPath;
    try {
        if (!web.tokenFile.isEmpty())
            site.token = ReadWebToken(web.tokenFile);
    } catch (const std::exception& e) {
        return refuse(QString::fromUtf8(e.what()).section(QStringLiteral("："), 1));
    }
    const bool tls = !web.certFile.isEmpty() && !web.keyFile.isEmpty();
    if (!IsLoopbackHost(c.host) && (site.token.empty() || !tls))
        return refuse(QStringLiteral("Listen=%1 不是本机地址：需要 TokenFile 和 CertFile、KeyFile（TLS），未启动").arg(web.listen));
    if (tls) {
        c.certFile = web.certFile;
        c.keyFile = web.keyFile;
    }
    // Well below the process's file limit: the serial port and the database must never run short.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    c.maxClients = int(std::min<rlim_t>(rlim_t(web.maxClients), files.rlim_cur > 128 ? files.rlim_cur - 96 : 32));
    m_site = std::make_unique<TWebSite>(site);
    auto server = std::make_unique<TWebServer>(c, [site = m_site.get()](const TWebRequest& r) { return site->Handle(r); },
                                               [](const QString& text) { LogError(text); });
    try {
        server->Start();
        m_web = std::move(server);
        LogError(QStringLiteral("Web：在 %1://%2:%3/ 提供只读页面%4")
                     .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), c.host)
                     .arg(m_web->Port())
                     .arg(site.token.empty() ? QString() : QStringLiteral("（需要令牌）")));
    } catch (const std::exception& e) {
        m_site.reset();
        refuse(QString::fromUtf8(e.what()).section(QStringLiteral("："), 1));
    }
}

void TMonitorCore::stopPlant()
{
    if (m_web)
        m_web->Stop();
    m_web.reset();
    m_site.reset();
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
    in.standing = int(standingKinds(address).size());
    return in;
}

std::vector<const TJournalKind*> TMonitorCore::standingKinds(uint8_t address) const
{
    // A shelved alarm is not counted until it returns.
    std::vector<const TJournalKind*> kinds;
    const auto add = [&](const TJournalKind& kind) {
        const auto shelf = m_shelved.find({address, QLatin1String(kind.code)});
        if (m_alarms.Active(address, kind) && (shelf == m_shelved.end() || !shelf->second.standing))
            kinds.push_back(&kind);
    };
    for (const TJournalKind& kind : LiveAlarms)
        add(kind);
    add(JournalKind::Interrupted);
    return kinds;
}

void TMonitorCore::webCounters()
{
    // Off the reply's path: at most once a second is enough for a scrape.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_webCountedMs < 1000)
        return;
    m_webCountedMs = now;
    TWebCounters c;
    for (uint8_t a : m_health.Polled()) {
        const TInstrumentHealth& h = m_health.Of(a);
        c.requests += h.sent;
        c.repliesAccepted += h.accepted;
        c.chunksRejected += h.rejected;
        c.alarmsStanding += qint64(standingKinds(a).size());
    }
    if (m_writer) {
        c.rowsWritten = m_writer->Written();
        c.rowsWaiting = qint64(m_writer->Pending());
    }
    c.alarmsUnacknowledged = m_unacknowledged;
    if (const auto central = CentralStatus())
        c.centralBacklog = central->backlog;
    m_site->SetCounters(c);
}

void TMonitorCore::plantInstrumentChanged(uint8_t address)
{
    if (!plantFed())
        return;
    const TPlantInstrument in = plantInstrument(address);
    if (m_modbus)
        m_modbus->SetInstrument(in);
    if (m_mqtt && in.polled)
        m_mqtt->Instrument(in);
    if (m_web) {
        // The most urgent standing alarm's priority colours the instrument's tile.
        int priority = -1;
        for (const TJournalKind* kind : standingKinds(address))
            priority = priority < 0 ? int(m_policy.PriorityOf(QLatin1String(kind->code)))
                                    : std::min(priority, int(m_policy.PriorityOf(QLatin1String(kind->code))));
        m_web->Broadcast(m_site->SetInstrument(in, priority));
        webCounters();
    }
}

void TMonitorCore::plantAllChanged()
{
    for (uint8_t a : m_health.Polled())
        plantInstrumentChanged(a);
    plantStationChanged();
}

void TMonitorCore::plantStationChanged()
{
    if (!plantFed())
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
    if (m_web) {
        m_web->Broadcast(m_site->SetStation(s));
        webCounters();
    }
}

void TMonitorCore::plantAlarmsChanged()
{
    if (!plantFed())
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
