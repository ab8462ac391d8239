// Publishing through libmosquitto's threaded interface; our own worker turns the newest state into
// messages whenever the broker is there.
#include "MqttPublisher.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>

namespace zeva {

namespace {

QJsonValue timeValue(const QDateTime& t)
{
    if (!t.isValid())
        return QJsonValue::Null;
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonObject phases(const std::optional<TPhaseTemps>& temps)
{
    QJsonObject o;
    for (int p = 0; p < 4; ++p) {
        const QString name(QChar(u'A' + p));
        if (temps && Shown((*temps)[std::size_t(p)]))
            o.insert(name, (*temps)[std::size_t(p)]);
        else
            o.insert(name, QJsonValue::Null);
    }
    return o;
}

struct TLibrary {
    TLibrary() { mosquitto_lib_init(); }
    ~TLibrary() { mosquitto_lib_cleanup(); }
};

} // namespace

QByteArray InstrumentPayload(const TPlantInstrument& in)
{
    QJsonObject lamps;
    static const char* const names[9] = {"A", "B", "C", "D", "door", "fan", "alarm", "trip", "fault"};
    for (int b = 0; b < 9; ++b)
        lamps.insert(QLatin1String(names[b]), in.lamps ? int((*in.lamps >> b) & 1) : 0);
    QJsonObject o{{"address", in.address},
                  {"name", in.name},
                  {"time", timeValue(in.time)},
                  // Before its first reply an instrument has no health to tell.
                  {"health", in.lastReplyMs > 0 ? QJsonValue(HealthText(in.health)) : QJsonValue(QJsonValue::Null)},
                  {"live", phases(in.live)},
                  {"blackbox", phases(in.blackBox)},
                  {"lamps", lamps}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray LinkPayload(int link, const QDateTime& since)
{
    return QJsonDocument(QJsonObject{{"state", LinkText(link)}, {"since", timeValue(since)}}).toJson(QJsonDocument::Compact);
}

QByteArray AlarmPayload(const TPlantAlarmEvent& e)
{
    QJsonObject o{{"id", e.id},
                  {"event", e.event},
                  {"kind", e.kind},
                  {"address", e.address < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(e.address)},
                  {"name", e.name},
                  {"text", e.text},
                  {"raised", timeValue(e.raised)},
                  {"cleared", timeValue(e.cleared)},
                  {"acked", timeValue(e.acked)},
                  {"by", e.by.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(e.by)}};
    // Added later, after the fields above; null when not known.
    const auto text = [](const QString& t) { return t.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(t); };
    o.insert(QStringLiteral("priority"), text(e.priority));
    o.insert(QStringLiteral("comment"), text(e.comment));
    o.insert(QStringLiteral("shelvedUntil"), timeValue(e.shelvedUntil));
    o.insert(QStringLiteral("reason"), text(e.reason));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

TMqttPublisher::TMqttPublisher(TMqttConfig config, TReport report) : m_config(std::move(config)), m_report(std::move(report))
{
    static TLibrary library;
}

TMqttPublisher::~TMqttPublisher()
{
    Stop(std::chrono::milliseconds(0));
}

void TMqttPublisher::Start()
{
    m_mosq = mosquitto_new(m_config.clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        throw std::runtime_error("MQTT：无法建立客户端");
    if (!m_config.user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_config.user.toUtf8().constData(),
                                  m_config.password.isEmpty() ? nullptr : m_config.password.toUtf8().constData());
    const QByteArray will = (m_config.prefix + QStringLiteral("/status")).toUtf8();
    mosquitto_will_set(m_mosq, will.constData(), 7, "offline", 1, true);
    if (!m_config.caFile.isEmpty()) {
        const int rc = mosquitto_tls_set(m_mosq, m_config.caFile.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error(QStringLiteral("MQTT：CaFile %1 无法使用：%2")
                                         .arg(m_config.caFile, QString::fromUtf8(mosquitto_strerror(rc)))
                                         .toStdString());
    }
    mosquitto_reconnect_delay_set(m_mosq, 1, 30, true);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        static_cast<TMqttPublisher*>(self)->connected(rc);
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        static_cast<TMqttPublisher*>(self)->disconnected(rc);
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* obj, int mid) {
        auto* self = static_cast<TMqttPublisher*>(obj);
        std::lock_guard lock(self->m_mutex);
        if (mid == self->m_offlineMid) {
            self->m_offlineSent = true;
            self->m_published.notify_all();
        }
    });
    // An absent broker is no error here: the loop tries again, with back-off.
    mosquitto_connect_async(m_mosq, m_config.host.toUtf8().constData(), m_config.port, 30);
    mosquitto_loop_start(m_mosq);
    m_worker = std::thread([this] { run(); });
}

void TMqttPublisher::Stop(std::chrono::milliseconds patience)
{
    if (!m_mosq)
        return;
    {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    bool wasConnected = false;
    {
        std::unique_lock lock(m_mutex);
        wasConnected = m_connected;
    }
    if (wasConnected) {
        int mid = -1;
        if (publish(m_config.prefix + QStringLiteral("/status"), "offline", 1, true, &mid)) {
            std::unique_lock lock(m_mutex);
            m_offlineMid = mid;
            m_published.wait_for(lock, patience, [this] { return m_offlineSent; });
        }
    }
    mosquitto_disconnect(m_mosq);
    // A loop that waits between reconnects is not waited for.
    mosquitto_loop_stop(m_mosq, !wasConnected);
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

bool TMqttPublisher::Connected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

void TMqttPublisher::connected(int rc)
{
    // libmosquitto's own network thread, heard here first.
    static thread_local bool yielded = false;
    if (!yielded) {
        YieldToPolling();
        yielded = true;
    }
    std::unique_lock lock(m_mutex);
    if (rc != 0) {
        const QString why = QString::fromUtf8(mosquitto_connack_string(rc));
        const bool say = !m_downSaid;
        m_downSaid = true;
        lock.unlock();
        if (say && m_report)
            m_report(QStringLiteral("MQTT：%1:%2 拒绝连接（%3）").arg(m_config.host).arg(m_config.port).arg(why), true);
        return;
    }
    m_connected = true;
    m_everConnected = true;
    m_downSaid = false;
    m_onlineDue = true;
    // A broker that lost its retained messages gets them all again.
    for (const auto& [address, state] : m_latest)
        m_dirty.insert(address);
    m_linkDirty = m_link.has_value();
    lock.unlock();
    m_wake.notify_all();
    if (m_report)
        m_report(QStringLiteral("MQTT：已连接 %1:%2，主题 %3").arg(m_config.host).arg(m_config.port).arg(m_config.prefix), true);
}

void TMqttPublisher::disconnected(int rc)
{
    std::unique_lock lock(m_mutex);
    const bool was = m_connected;
    m_connected = false;
    const bool say = was && !m_stopping;
    if (say)
        m_downSaid = true;
    lock.unlock();
    if (say && m_report)
        m_report(QStringLiteral("MQTT：与 %1:%2 的连接断开（%3），自动重连")
                     .arg(m_config.host)
                     .arg(m_config.port)
                     .arg(QString::fromUtf8(mosquitto_strerror(rc))),
                 true);
}

bool TMqttPublisher::publish(const QString& topic, const QByteArray& payload, int qos, bool retain, int* mid)
{
    const QByteArray t = topic.toUtf8();
    return mosquitto_publish(m_mosq, mid, t.constData(), int(payload.size()), payload.constData(), qos, retain) ==
           MOSQ_ERR_SUCCESS;
}

void TMqttPublisher::Instrument(const TPlantInstrument& instrument)
{
    {
        std::lock_guard lock(m_mutex);
        m_latest[instrument.address] = instrument;
        m_dirty.insert(instrument.address);
    }
    m_wake.notify_all();
}

void TMqttPublisher::Link(int link, const QDateTime& since)
{
    {
        std::lock_guard lock(m_mutex);
        m_link = std::pair{link, since};
        m_linkDirty = true;
    }
    m_wake.notify_all();
}

void TMqttPublisher::Alarm(const TPlantAlarmEvent& event)
{
    bool sayDropped = false;
    {
        std::lock_guard lock(m_mutex);
        m_alarms.push_back(event);
        if (m_alarms.size() > AlarmQueue) {
            m_alarms.pop_front();
            sayDropped = !m_droppedSaid;
            m_droppedSaid = true;
        }
    }
    if (sayDropped && m_report)
        m_report(QStringLiteral("MQTT：待发的报警事件超过 %1 条，最早的已丢弃（报警记录中仍有）").arg(AlarmQueue), false);
    m_wake.notify_all();
}

void TMqttPublisher::run()
{
    YieldToPolling();
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(m_mutex);
    for (;;) {
        const bool due = m_connected && (m_onlineDue || !m_dirty.empty() || m_linkDirty || !m_alarms.empty());
        if (m_stopping)
            return;
        if (!due) {
            // Never connected after a while: said once, the loop keeps trying.
            if (!m_everConnected && !m_downSaid && std::chrono::steady_clock::now() - started > std::chrono::seconds(5)) {
                m_downSaid = true;
                lock.unlock();
                if (m_report)
                    m_report(QStringLiteral("MQTT：无法连接 %1:%2，自动重试").arg(m_config.host).arg(m_config.port), true);
                lock.lock();
                continue;
            }
            m_wake.wait_for(lock, std::chrono::seconds(1));
            continue;
        }
        const bool online = m_onlineDue;
        m_onlineDue = false;
        std::vector<TPlantInstrument> instruments;
        for (int a : m_dirty)
            instruments.push_back(m_latest[a]);
        m_dirty.clear();
        std::optional<std::pair<int, QDateTime>> link;
        if (m_linkDirty)
            link = m_link;
        m_linkDirty = false;
        std::deque<TPlantAlarmEvent> alarms;
        alarms.swap(m_alarms);
        m_droppedSaid = false;
        lock.unlock();

        bool ok = true;
        // Retained state goes out when it differs from what the broker holds; all of it after a
        // (re)connection.
        auto retained = [&](const QString& topic, const QByteArray& payload, int qos) {
            if (!online && m_sent[topic] == payload)
                return;
            if (publish(topic, payload, qos, true))
                m_sent[topic] = payload;
            else
                ok = false;
        };
        if (online)
            ok = publish(m_config.prefix + QStringLiteral("/status"), "online", 1, true);
        if (link)
            retained(m_config.prefix + QStringLiteral("/link"), LinkPayload(link->first, link->second), 1);
        for (const TPlantInstrument& in : instruments)
            retained(m_config.prefix + QStringLiteral("/instrument/%1").arg(in.address), InstrumentPayload(in), 0);
        std::size_t sent = 0;
        for (; sent < alarms.size(); ++sent)
            if (!publish(m_config.prefix + QStringLiteral("/alarm"), AlarmPayload(alarms[sent]), 1, false))
                break;

        lock.lock();
        // What did not go (the connection went meanwhile) waits for the next connection, which
        // sends the whole state again anyway; the alarm events keep their order.
        for (std::size_t i = alarms.size(); i-- > sent;)
            m_alarms.push_front(alarms[i]);
        if (!ok && !m_connected)
            m_onlineDue = m_onlineDue || online;
        if (sent < alarms.size())
            m_wake.wait_for(lock, std::chrono::milliseconds(100)); // no spinning on a refusing library
    }
}

} // namespace zeva
