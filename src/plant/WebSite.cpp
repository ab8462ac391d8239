// The station's pages and API. Nothing here writes: every route reads the snapshot.
#include "WebSite.h"

#include "Database.h"
#include "MqttPublisher.h"
#include "WebData.h"
#include "WebPages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <atomic>

#include <cmath>

namespace zeva {

namespace {

QJsonObject shownJson(const TPlantInstrument& in, int priority)
{
    QJsonObject o = QJsonDocument::fromJson(InstrumentPayload(in)).object();
    o.insert(QStringLiteral("alarms"), in.standing);
    o.insert(QStringLiteral("priority"), priority);
    return o;
}

} // namespace

TWebSite::TWebSite(TConfig config) : m_config(std::move(config)) {}

std::optional<TWebResponse> TWebSite::fromDatabase(const TWebRequest& request)
{
    static const QRegularExpression instrumentPage(QStringLiteral("^/instrument/(\\d{1,3})$"));
    static const QRegularExpression readings(QStringLiteral("^/api/instrument/(\\d{1,3})/readings$"));
    const QString path = QString::fromStdString(request.path);
    const QRegularExpressionMatch page = instrumentPage.match(path), api = readings.match(path);
    if (path != QLatin1String("/alarms") && path != QLatin1String("/api/alarms") && !page.hasMatch() && !api.hasMatch())
        return std::nullopt;
    if (m_config.dataPath.isEmpty())
        return JsonError(404, QStringLiteral("没有数据库"));
    static std::atomic<int> connections{0};
    TDatabase db(QStringLiteral("web-%1").arg(++connections), m_config.busyTimeoutMs);
    if (!db.Open(m_config.dataPath))
        return JsonError(503, db.OpenError());
    const QDateTime now = QDateTime::currentDateTime();
    const TRangeQuery range = RangeQuery(request.query, now);
    try {
        TWebResponse r;
        r.contentType = "text/html; charset=utf-8";
        if (path == QLatin1String("/alarms")) {
            r.body = AlarmsPage(db, now);
        } else if (page.hasMatch()) {
            r.body = InstrumentPage(db, page.captured(1).toInt(), now, r.status);
        } else if (path == QLatin1String("/api/alarms")) {
            if (!range.from.isValid() || !range.to.isValid() || range.to < range.from)
                return JsonError(400, QStringLiteral("from、to 须为 ISO 8601 时间，from 不晚于 to"));
            return JsonAnswer(200, AlarmsJson(db, range.from, range.to));
        } else {
            QString error;
            int status = 200;
            const std::string body = ReadingsJson(db, api.captured(1).toInt(), range.from, range.to, range.step, status, error);
            return status == 200 ? JsonAnswer(200, body) : JsonError(status, error);
        }
        return r;
    } catch (const EDatabaseError& e) {
        return JsonError(503, QString::fromUtf8(e.what()));
    }
}

std::string TWebSite::instrumentsJson() const
{
    QJsonArray a;
    for (const auto& [address, shown] : m_instruments)
        if (shown.instrument.polled)
            a.append(shownJson(shown.instrument, shown.priority));
    return QJsonDocument(a).toJson(QJsonDocument::Compact).toStdString();
}

std::string TWebSite::stationJson() const
{
    return QJsonDocument(QJsonObject{{"station", m_config.station},
                                     {"link", LinkText(m_station.link)},
                                     {"polled", m_station.polled},
                                     {"unacknowledged", m_station.unacknowledged},
                                     {"central", m_station.central}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

std::string TWebSite::metrics() const
{
    std::string m;
    const auto family = [&](const char* name, const char* type, const char* help) {
        m += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    family("zeva_temperature_celsius", "gauge", "The newest reading of each phase (ERR and unread left out).");
    for (const auto& [address, shown] : m_instruments) {
        const TPlantInstrument& in = shown.instrument;
        if (!in.polled)
            continue;
        for (const auto& [kind, temps] : {std::pair{"live", in.live}, std::pair{"blackbox", in.blackBox}})
            for (int p = 0; temps && p < 4; ++p)
                if (Shown((*temps)[std::size_t(p)]))
                    m += "zeva_temperature_celsius{address=\"" + std::to_string(address) + "\",name=\"" + PromLabel(in.name) +
                         "\",phase=\"" + char('A' + p) + "\",kind=\"" + kind + "\"} " +
                         QString::number((*temps)[std::size_t(p)]).toStdString() + "\n";
    }
    family("zeva_instrument_health", "gauge", "0 no reply yet, 1 正常, 2 超时, 3 中断.");
    for (const auto& [address, shown] : m_instruments)
        if (shown.instrument.polled)
            m += "zeva_instrument_health{address=\"" + std::to_string(address) + "\",name=\"" +
                 PromLabel(shown.instrument.name) + "\"} " + std::to_string(shown.instrument.health) + "\n";
    const auto one = [&](const char* name, const char* type, const char* help, long double value) {
        family(name, type, help);
        m += std::string(name) + " " + QString::number(double(value), 'g', 17).toStdString() + "\n";
    };
    one("zeva_link_state", "gauge", "0 已连接, 1 无应答, 2 串口断开.", m_station.link);
    one("zeva_requests_total", "counter", "Requests sent on the bus.", m_counters.requests);
    one("zeva_replies_accepted_total", "counter", "Replies accepted.", m_counters.repliesAccepted);
    one("zeva_chunks_rejected_total", "counter", "Received chunks that were no accepted reply.", m_counters.chunksRejected);
    one("zeva_rows_written_total", "counter", "Reading rows stored.", m_counters.rowsWritten);
    one("zeva_rows_waiting", "gauge", "Reading rows waiting for the database.", m_counters.rowsWaiting);
    one("zeva_alarms_standing", "gauge", "Alarms raised and not cleared (shelved ones left out).", m_counters.alarmsStanding);
    one("zeva_alarms_unacknowledged", "gauge", "Alarms not acknowledged (shelved ones left out).",
        m_counters.alarmsUnacknowledged);
    if (m_counters.centralBacklog >= 0)
        one("zeva_central_backlog_rows", "gauge", "Rows not yet forwarded to the central database.",
            m_counters.centralBacklog);
    return m;
}

TWebResponse TWebSite::Handle(const TWebRequest& request)
{
    const bool page = request.path == "/" || request.path == "/index.html";
    // The pages a browser opens get the login form; the API a JSON error.
    const bool html = page || request.path == "/alarms" || request.path.rfind("/instrument/", 0) == 0;
    if (std::optional<TWebResponse> r = WebGate(request, m_config.token, html))
        return *r;
    if (std::optional<TWebResponse> r = fromDatabase(request))
        return *r;
    std::lock_guard lock(m_mutex);
    if (page)
        return HtmlAnswer(200, OverviewHtml("{\"station\":" + stationJson() + ",\"instruments\":" + instrumentsJson() + "}"));
    if (request.path == "/api/instruments")
        return JsonAnswer(200, instrumentsJson());
    if (request.path == "/metrics")
        return MetricsAnswer(metrics());
    if (request.path == "/events") {
        TWebResponse r;
        r.contentType = "text/event-stream; charset=utf-8";
        r.stream = true;
        r.body = "retry: 3000\n\n";
        return r;
    }
    return JsonError(404, QStringLiteral("没有 %1").arg(QString::fromStdString(request.path).toHtmlEscaped()));
}

std::string TWebSite::SetInstrument(const TPlantInstrument& instrument, int priority)
{
    std::lock_guard lock(m_mutex);
    m_instruments[instrument.address] = {instrument, priority};
    if (!instrument.polled)
        return {};
    return "event: instrument\ndata: " +
           QJsonDocument(shownJson(instrument, priority)).toJson(QJsonDocument::Compact).toStdString() + "\n\n";
}

std::string TWebSite::SetStation(const TPlantStation& station)
{
    std::lock_guard lock(m_mutex);
    m_station = station;
    return "event: station\ndata: " + stationJson() + "\n\n";
}

void TWebSite::SetCounters(const TWebCounters& counters)
{
    std::lock_guard lock(m_mutex);
    m_counters = counters;
}

} // namespace zeva
