// The station's pages and API. Nothing here writes: every route reads the snapshot.
#include "WebSite.h"

#include "Database.h"
#include "MqttPublisher.h"
#include "WebData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

#include <atomic>

#include <cmath>

namespace zeva {

namespace {

// The overview: a tile per polled instrument, updated from the event stream without a reload.
// Everything inline: a plant's LAN has no other host to fetch from.
const char* const OverviewPage = R"HTML(<!doctype html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<title>温控仪总览</title>
<style>
body{font-family:"Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif;margin:0;background:#f0f0f0;color:#222}
header{display:flex;flex-wrap:wrap;gap:.4em 1.2em;align-items:baseline;padding:.6em 1em;background:#203040;color:#fff}
header h1{font-size:1.2em;margin:0}
#tiles{display:grid;grid-template-columns:repeat(auto-fill,minmax(17em,1fr));gap:.8em;padding:.8em}
.tile{background:#fff;border:3px solid #8a8;border-radius:6px;padding:.5em .7em}
.tile.p0{border-color:#d01010;background:#fbe4e4}.tile.p1{border-color:#e87000;background:#fdeedd}
.tile.p2{border-color:#f0d020;background:#fdf8dc}.tile.p3{border-color:#5080c0;background:#e4ecf6}
.name{font-weight:bold;color:inherit}.addr{color:#666;margin-left:.4em}
.temps{display:grid;grid-template-columns:repeat(4,1fr);text-align:center;margin:.4em 0}
.temps b{display:block;font-size:1.6em;font-family:monospace}
.lamps span{display:inline-block;min-width:2.2em;margin:.1em;padding:0 .2em;border-radius:3px;background:#2b2;color:#fff;font-size:.8em;text-align:center}
.lamps span.on{background:#d22}
.health{float:right}.health.bad{color:#d01010;font-weight:bold}
</style></head><body>
<header><h1>温控仪总览</h1><span id="station"></span><span id="link"></span><span id="central"></span>
<a href="alarms" style="color:#cde">报警记录</a></header>
<main id="tiles"></main>
<script>
const lampNames = {A:"A相", B:"B相", C:"C相", D:"D相", door:"柜门", fan:"风机", alarm:"超温", trip:"跳闸", fault:"故障"};
const centralText = ["未启用", "已同步", "积压", "不可达"];
function text(v) { return v === null || v === undefined ? "—" : Number(v).toFixed(1); }
function tile(i) {
  let t = document.getElementById("i" + i.address);
  if (!t) {
    t = document.createElement("section");
    t.id = "i" + i.address;
    t.innerHTML = '<span class="health"></span><a class="name"></a><span class="addr"></span>' +
      '<div class="temps"></div><div class="lamps"></div>';
    const tiles = document.getElementById("tiles");
    const after = [...tiles.children].find(c => Number(c.dataset.address) > i.address);
    t.dataset.address = i.address;
    tiles.insertBefore(t, after || null);
  }
  t.className = "tile" + (i.priority >= 0 ? " p" + i.priority : "");
  t.querySelector(".name").textContent = i.name;
  t.querySelector(".name").href = "instrument/" + i.address;
  t.querySelector(".addr").textContent = "地址 " + i.address;
  const h = t.querySelector(".health");
  h.textContent = i.health || "无应答";
  h.className = "health" + (i.health === "正常" ? "" : " bad");
  t.querySelector(".temps").innerHTML = "";
  for (const p of ["A", "B", "C", "D"]) {
    const d = document.createElement("div");
    d.innerHTML = p + '相<b data-phase="' + p + '"></b>';
    d.querySelector("b").textContent = text(i.live[p]);
    t.querySelector(".temps").appendChild(d);
  }
  const lamps = t.querySelector(".lamps");
  lamps.innerHTML = "";
  for (const k in lampNames) {
    const s = document.createElement("span");
    s.textContent = lampNames[k];
    if (i.lamps[k]) s.className = "on";
    lamps.appendChild(s);
  }
}
function station(s) {
  document.getElementById("station").textContent = "站：" + s.station;
  document.getElementById("link").textContent = "链路：" + s.link;
  document.getElementById("central").textContent = "中心库：" + centralText[s.central];
}
const initial = /*INITIAL*/;
station(initial.station);
initial.instruments.forEach(tile);
const events = new EventSource("events");
events.addEventListener("instrument", e => tile(JSON.parse(e.data)));
events.addEventListener("station", e => station(JSON.parse(e.data)));
</script></body></html>
)HTML";

const char* const LoginPage = R"HTML(<!doctype html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<title>登录</title></head><body style="font-family:sans-serif;margin:2em">
<form method="post" action="/login"><label>访问令牌：<input name="token" type="password" autofocus></label>
<button type="submit">登录</button></form></body></html>
)HTML";

TWebResponse json(int status, const std::string& body)
{
    TWebResponse r;
    r.status = status;
    r.contentType = "application/json; charset=utf-8";
    r.body = body;
    return r;
}

TWebResponse jsonError(int status, const QString& text)
{
    return json(status, QJsonDocument(QJsonObject{{"error", text}}).toJson(QJsonDocument::Compact).toStdString());
}

// Compared in a time that does not tell how much of it matched.
bool sameSecret(const std::string& a, const std::string& b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

std::string cookie(const std::string& header, const std::string& name)
{
    for (const QString& part : QString::fromStdString(header).split(QLatin1Char(';'))) {
        const QString p = part.trimmed();
        if (p.startsWith(QString::fromStdString(name) + QLatin1Char('=')))
            return p.mid(qsizetype(name.size()) + 1).toStdString();
    }
    return {};
}

// A label value as Prometheus' text format writes it.
std::string label(const QString& v)
{
    std::string out;
    for (char c : v.toStdString()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QJsonObject shownJson(const TPlantInstrument& in, int priority)
{
    QJsonObject o = QJsonDocument::fromJson(InstrumentPayload(in)).object();
    o.insert(QStringLiteral("alarms"), in.standing);
    o.insert(QStringLiteral("priority"), priority);
    return o;
}

// JSON inside a <script>: no "</script>" can be made of a name.
std::string scriptSafe(const QByteArray& json)
{
    return QString::fromUtf8(json).replace(QLatin1Char('<'), QStringLiteral("\\u003c")).toStdString();
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
        return jsonError(404, QStringLiteral("没有数据库"));
    static std::atomic<int> connections{0};
    TDatabase db(QStringLiteral("web-%1").arg(++connections), m_config.busyTimeoutMs);
    if (!db.Open(m_config.dataPath))
        return jsonError(503, db.OpenError());
    const QUrlQuery query(QString::fromStdString(request.query));
    const QDateTime now = QDateTime::currentDateTime();
    const auto time = [&](const char* key, const QDateTime& otherwise) {
        const QString text = query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        return text.isEmpty() ? otherwise : QDateTime::fromString(text, Qt::ISODate);
    };
    const QDateTime from = time("from", now.addDays(-1)), to = time("to", now);
    try {
        TWebResponse r;
        r.contentType = "text/html; charset=utf-8";
        if (path == QLatin1String("/alarms")) {
            r.body = AlarmsPage(db, now);
        } else if (page.hasMatch()) {
            r.body = InstrumentPage(db, page.captured(1).toInt(), now, r.status);
        } else if (path == QLatin1String("/api/alarms")) {
            if (!from.isValid() || !to.isValid())
                return jsonError(400, QStringLiteral("from、to 须为 ISO 8601 时间"));
            return json(200, AlarmsJson(db, from, to));
        } else {
            bool ok = true;
            const QString stepText = query.queryItemValue(QStringLiteral("step"));
            const qint64 step = stepText.isEmpty() ? 0 : stepText.toLongLong(&ok);
            QString error;
            int status = 200;
            const std::string body = ReadingsJson(db, api.captured(1).toInt(), from, to, ok ? step : -1, status, error);
            return status == 200 ? json(200, body) : jsonError(status, error);
        }
        return r;
    } catch (const EDatabaseError& e) {
        return jsonError(503, QString::fromUtf8(e.what()));
    }
}

bool TWebSite::authorized(const TWebRequest& request) const
{
    if (m_config.token.empty())
        return true;
    const std::string bearer = request.Header("authorization");
    if (bearer.size() > 7 && QByteArray::fromStdString(bearer.substr(0, 7)).toLower() == "bearer " &&
        sameSecret(bearer.substr(7), m_config.token))
        return true;
    return sameSecret(cookie(request.Header("cookie"), "zeva_token"), m_config.token);
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
                    m += "zeva_temperature_celsius{address=\"" + std::to_string(address) + "\",name=\"" + label(in.name) +
                         "\",phase=\"" + char('A' + p) + "\",kind=\"" + kind + "\"} " +
                         QString::number((*temps)[std::size_t(p)]).toStdString() + "\n";
    }
    family("zeva_instrument_health", "gauge", "0 no reply yet, 1 正常, 2 超时, 3 中断.");
    for (const auto& [address, shown] : m_instruments)
        if (shown.instrument.polled)
            m += "zeva_instrument_health{address=\"" + std::to_string(address) + "\",name=\"" +
                 label(shown.instrument.name) + "\"} " + std::to_string(shown.instrument.health) + "\n";
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
    if (request.method == "POST" && request.path == "/login") {
        const QUrlQuery form(QString::fromStdString(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')));
        const std::string token = form.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toStdString();
        if (!m_config.token.empty() && !sameSecret(token, m_config.token)) {
            TWebResponse r;
            r.status = 401;
            r.contentType = "text/html; charset=utf-8";
            r.body = LoginPage;
            return r;
        }
        TWebResponse r;
        r.status = 303;
        r.headers.emplace_back("Location", "/");
        if (!m_config.token.empty())
            r.headers.emplace_back("Set-Cookie", "zeva_token=" + m_config.token + "; Path=/; HttpOnly; SameSite=Lax" +
                                                     (request.secure ? "; Secure" : ""));
        return r;
    }
    if (request.method != "GET" && request.method != "HEAD")
        return jsonError(405, QStringLiteral("只读：不接受 %1").arg(QString::fromStdString(request.method)));
    const bool page = request.path == "/" || request.path == "/index.html";
    // The pages a browser opens get the login form; the API a JSON error.
    const bool html = page || request.path == "/login" || request.path == "/alarms" ||
                      request.path.rfind("/instrument/", 0) == 0;
    if (request.path == "/login") {
        TWebResponse r;
        r.contentType = "text/html; charset=utf-8";
        r.body = LoginPage;
        return r;
    }
    if (!authorized(request)) {
        if (!html)
            return jsonError(401, QStringLiteral("需要访问令牌"));
        TWebResponse r;
        r.status = 401;
        r.contentType = "text/html; charset=utf-8";
        r.body = LoginPage;
        return r;
    }
    if (std::optional<TWebResponse> r = fromDatabase(request))
        return *r;
    std::lock_guard lock(m_mutex);
    if (page) {
        TWebResponse r;
        r.contentType = "text/html; charset=utf-8";
        r.body = OverviewPage;
        const std::string initial = "{\"station\":" + stationJson() + ",\"instruments\":" + instrumentsJson() + "}";
        r.body.replace(r.body.find("/*INITIAL*/"), 11, scriptSafe(QByteArray::fromStdString(initial)));
        return r;
    }
    if (request.path == "/api/instruments")
        return json(200, instrumentsJson());
    if (request.path == "/metrics") {
        TWebResponse r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = metrics();
        return r;
    }
    if (request.path == "/events") {
        TWebResponse r;
        r.contentType = "text/event-stream; charset=utf-8";
        r.stream = true;
        r.body = "retry: 3000\n\n";
        return r;
    }
    return jsonError(404, QStringLiteral("没有 %1").arg(QString::fromStdString(request.path).toHtmlEscaped()));
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
