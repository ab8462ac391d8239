// The pages' frames, the access rule and the readings' JSON, for the station's view and the central one.
#include "WebPages.h"

#include "AlarmStatistics.h"
#include "PlantTypes.h"

#include <QUrlQuery>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
#problem{color:#ff8080;font-weight:bold}.stale .tile{opacity:.45}
</style></head><body>
<header><h1>温控仪总览</h1><span id="station"></span><span id="link"></span><span id="central"></span><span id="seen"></span><span id="problem"></span>
<a href="alarms" style="color:#cde">报警记录</a>/*HOME*/</header>
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
  for (const k in i.lamps ? lampNames : {}) {
    const s = document.createElement("span");
    s.textContent = lampNames[k];
    if (i.lamps[k]) s.className = "on";
    lamps.appendChild(s);
  }
}
function station(s) {
  document.getElementById("station").textContent = "站：" + s.station;
  // The station's own view says its link and central state; the central view when it last heard of it.
  document.getElementById("link").textContent = s.link === undefined ? "" : "链路：" + s.link;
  document.getElementById("central").textContent = s.central === undefined ? "" : "中心库：" + centralText[s.central];
  document.getElementById("seen").textContent = s.seen === undefined ? "" : "最后上报：" + (s.seen || "—");
  // What is shown may be old: said, and the tiles greyed, until the data can be read again.
  document.getElementById("problem").textContent = s.error || "";
  document.getElementById("tiles").classList.toggle("stale", !!s.error);
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


} // namespace

const char* const PageHead = R"HTML(<!doctype html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<style>
body{font-family:"Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif;margin:0;background:#f0f0f0;color:#222}
header{padding:.6em 1em;background:#203040;color:#fff}header a{color:#cde}
main{padding:.8em}table{border-collapse:collapse;background:#fff;width:100%;font-size:.9em}
td,th{border:1px solid #ccc;padding:.2em .4em;text-align:left}th{background:#e8e8e8}
tr.p0{background:#fbe4e4}tr.p1{background:#fdeedd}tr.p2{background:#fdf8dc}
svg{background:#fff;width:100%;height:auto;max-width:1200px;min-width:640px}
.wide{overflow-x:auto}
</style>)HTML";


namespace {

TWebResponse answer(int status, const char* contentType, std::string body)
{
    TWebResponse r;
    r.status = status;
    r.contentType = contentType;
    r.body = std::move(body);
    return r;
}

} // namespace

TWebResponse JsonAnswer(int status, std::string body)
{
    return answer(status, "application/json; charset=utf-8", std::move(body));
}

TWebResponse JsonError(int status, const QString& text)
{
    return JsonAnswer(status, QJsonDocument(QJsonObject{{"error", text}}).toJson(QJsonDocument::Compact).toStdString());
}

TWebResponse HtmlAnswer(int status, std::string body)
{
    return answer(status, "text/html; charset=utf-8", std::move(body));
}

TWebResponse MetricsAnswer(std::string body)
{
    return answer(200, "text/plain; version=0.0.4; charset=utf-8", std::move(body));
}

std::optional<TWebResponse> WebGate(const TWebRequest& request, const std::string& token, bool htmlRoute)
{
    if (request.method == "POST" && request.path == "/login") {
        const QUrlQuery form(QString::fromStdString(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')));
        const std::string given = form.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toStdString();
        if (!token.empty() && !sameSecret(given, token))
            return HtmlAnswer(401, LoginPage);
        TWebResponse r;
        r.status = 303;
        r.headers.emplace_back("Location", "/");
        if (!token.empty())
            r.headers.emplace_back("Set-Cookie", "zeva_token=" + token + "; Path=/; HttpOnly; SameSite=Lax" +
                                                     (request.secure ? "; Secure" : ""));
        return r;
    }
    if (request.method != "GET" && request.method != "HEAD")
        return JsonError(405, QStringLiteral("只读：不接受 %1").arg(QString::fromStdString(request.method)));
    if (request.path == "/login")
        return HtmlAnswer(200, LoginPage);
    if (token.empty())
        return std::nullopt;
    const std::string bearer = request.Header("authorization");
    if (bearer.size() > 7 && QByteArray::fromStdString(bearer.substr(0, 7)).toLower() == "bearer " &&
        sameSecret(bearer.substr(7), token))
        return std::nullopt;
    if (sameSecret(cookie(request.Header("cookie"), "zeva_token"), token))
        return std::nullopt;
    if (htmlRoute)
        return HtmlAnswer(401, LoginPage);
    return JsonError(401, QStringLiteral("需要访问令牌"));
}

std::string OverviewHtml(const std::string& initial, const QString& home)
{
    std::string page = OverviewPage;
    page.replace(page.find("/*HOME*/"), 8,
                 home.isEmpty() ? std::string()
                                : "<a href=\"" + home.toHtmlEscaped().toStdString() + "\" style=\"color:#cde\">厂站列表</a>");
    // JSON inside a <script>: no "</script>" can be made of a name.
    const std::string safe = QString::fromStdString(initial).replace(QLatin1Char('<'), QStringLiteral("\\u003c")).toStdString();
    page.replace(page.find("/*INITIAL*/"), 11, safe);
    return page;
}

std::string JournalTableHtml(const std::vector<TJournalLine>& lines)
{
    const auto html = [](const QString& text) { return text.toHtmlEscaped().toStdString(); };
    std::string t = "<div class=\"wide\"><table><tr><th>发生</th><th>仪表</th><th>报警/事件</th><th>优先级</th><th>消除</th>"
                    "<th>确认</th><th>确认人</th></tr>";
    for (const TJournalLine& l : lines) {
        const bool alarm = l.kind.startsWith(QLatin1String("alarm."));
        t += "<tr" +
             (alarm && l.priority >= 0 && l.priority < 3 ? " class=\"p" + std::to_string(l.priority) + "\"" : std::string()) +
             "><td>" + html(l.raised) + "</td><td>" +
             html(l.address ? QStringLiteral("%1 %2").arg(*l.address).arg(l.name) : QStringLiteral("总线")) + "</td><td>" +
             html(l.text) + "</td><td>" + html(alarm ? PriorityText(l.priority) : QString()) + "</td><td>" +
             html(l.cleared) + "</td><td>" + html(l.acked) + "</td><td>" + html(l.by) + "</td></tr>";
    }
    return t + "</table></div>";
}

std::string ChartSvg(const std::array<TTrendPoints, 4>& series, double t3, double t4, double from, double to, bool rows)
{
    static const char* const colors[4] = {"#c89600", "#1e8c1e", "#d02020", "#205ad0"};
    constexpr double W = 960, H = 320, L = 48, R = 24, T = 18, B = 28;
    double lo = INFINITY, hi = -INFINITY;
    for (const TTrendPoints& s : series)
        for (std::size_t i = 0; i < s.time.size(); ++i)
            if (Shown(s.low[i]) && Shown(s.high[i])) {
                lo = std::min(lo, s.low[i]);
                hi = std::max(hi, s.high[i]);
            }
    for (double t : {t3, t4})
        if (t > 0 && std::isfinite(lo)) {
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
    if (!std::isfinite(lo)) {
        lo = 0;
        hi = 100;
    }
    const double step = hi - lo > 100 ? 50 : hi - lo > 40 ? 20 : hi - lo > 20 ? 10 : 5;
    lo = std::floor(lo / step) * step;
    hi = std::max(std::ceil(hi / step) * step, lo + step);
    const auto x = [&](double t) { return L + (t - from) / (to - from) * (W - L - R); };
    const auto y = [&](double v) { return T + (hi - v) / (hi - lo) * (H - T - B); };
    const auto n = [](double v) { return QString::number(v, 'f', 1).toStdString(); };
    std::string svg = "<svg viewBox=\"0 0 960 320\" role=\"img\" aria-label=\"24 小时温度\">";
    for (double v = lo; v <= hi + step / 2; v += step)
        svg += "<line x1=\"" + n(L) + "\" x2=\"" + n(W - R) + "\" y1=\"" + n(y(v)) + "\" y2=\"" + n(y(v)) +
               "\" stroke=\"#ddd\"/><text x=\"" + n(L - 4) + "\" y=\"" + n(y(v) + 4) +
               "\" font-size=\"11\" text-anchor=\"end\">" + n(v) + "</text>";
    for (int h = 0; h <= 24; h += 3) {
        const double t = from + h * 3600.0;
        svg += "<text x=\"" + n(x(t)) + "\" y=\"" + n(H - 8) + "\" font-size=\"11\" text-anchor=\"middle\">" +
               QDateTime::fromSecsSinceEpoch(qint64(t), Qt::UTC).toString(QStringLiteral("HH:mm")).toStdString() + "</text>";
    }
    for (const auto& [name, t] : {std::pair{"T3", t3}, std::pair{"T4", t4}})
        if (t > 0)
            svg += "<line x1=\"" + n(L) + "\" x2=\"" + n(W - R) + "\" y1=\"" + n(y(t)) + "\" y2=\"" + n(y(t)) +
                   "\" stroke=\"#e07000\" stroke-dasharray=\"6 4\"/><text x=\"" + n(L + 4) + "\" y=\"" + n(y(t) - 3) +
                   "\" font-size=\"11\" fill=\"#e07000\">" + name + " " + n(t) + "</text>";
    for (int p = 0; p < 4; ++p) {
        std::string high, low;
        const TTrendPoints& s = series[std::size_t(p)];
        for (std::size_t i = 0; i < s.time.size(); ++i)
            if (Shown(s.high[i]) && Shown(s.low[i])) {
                high += n(x(s.time[i])) + "," + n(y(s.high[i])) + " ";
                low += n(x(s.time[i])) + "," + n(y(s.low[i])) + " ";
            }
        if (high.empty())
            continue;
        svg += std::string("<polyline fill=\"none\" stroke=\"") + colors[p] + "\" stroke-width=\"1.5\" points=\"" + high +
               "\"><title>" + char('A' + p) + "相</title></polyline>";
        if (!rows)
            svg += std::string("<polyline fill=\"none\" stroke=\"") + colors[p] +
                   "\" stroke-width=\"0.8\" stroke-opacity=\"0.6\" points=\"" + low + "\"/>";
    }
    svg += "</svg><p>";
    for (int p = 0; p < 4; ++p)
        svg += std::string("<span style=\"color:") + colors[p] + "\">■</span> " + char('A' + p) + "相 ";
    return svg + "（每格最高与最低）</p>";
}

std::string InstrumentHtml(const QString& name, int address, const std::string& chart, const std::string& journal)
{
    const std::string title = QStringLiteral("%1（地址 %2）").arg(name).arg(address).toHtmlEscaped().toStdString();
    return std::string(PageHead) + "<title>" + title + "</title></head><body><header><a href=\"../\">总览</a> · " + title +
           "</header><main><h2>最近 24 小时</h2><div class=\"wide\">" + chart + "</div><h2>报警记录</h2>" + journal +
           "</main></body></html>";
}

std::string AlarmsHtml(const std::string& journal)
{
    return std::string(PageHead) + "<title>报警记录</title></head><body><header><a href=\"./\">总览</a> · 报警记录（最近 7 天）"
                                   "</header><main>" +
           journal + "</main></body></html>";
}

std::string NoInstrumentHtml(int address)
{
    return std::string(PageHead) + "<title>没有此仪表</title></head><body><main>没有启用的仪表 " + std::to_string(address) +
           "</main></body></html>";
}

std::string IsoOfInstant(qint64 instant)
{
    const time_t t = time_t(instant);
    tm local{};
    ::localtime_r(&t, &local);
    const long offset = local.tm_gmtoff;
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (offset == 0)
        std::snprintf(text + n, sizeof text - std::size_t(n), "Z");
    else
        std::snprintf(text + n, sizeof text - std::size_t(n), "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                      std::labs(offset) / 3600, (std::labs(offset) % 3600) / 60);
    return text;
}

// Through the C library: thousands of buckets would spend their time in QDateTime's zone lookups.
std::string IsoOfWall(qint64 wall)
{
    // The offset of the instant that wall time names; a second look settles a change of offset.
    time_t t = time_t(wall);
    tm local{};
    ::localtime_r(&t, &local);
    t = time_t(wall - local.tm_gmtoff);
    ::localtime_r(&t, &local);
    return IsoOfInstant(wall - local.tm_gmtoff);
}

qint64 WallOf(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
}

TRangeQuery RangeQuery(const std::string& text, const QDateTime& now)
{
    const QUrlQuery query(QString::fromStdString(text));
    const auto time = [&](const char* key, const QDateTime& otherwise) {
        const QString t = query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        return t.isEmpty() ? otherwise : QDateTime::fromString(t, Qt::ISODate);
    };
    bool ok = true;
    const QString step = query.queryItemValue(QStringLiteral("step"));
    const qint64 seconds = step.isEmpty() ? 0 : step.toLongLong(&ok);
    return {time("from", now.addDays(-1)), time("to", now), ok ? seconds : -1};
}

qint64 WallOfInstant(qint64 instant)
{
    const time_t t = time_t(instant);
    tm local{};
    ::localtime_r(&t, &local);
    return instant + local.tm_gmtoff;
}

QString ReadingsRequestError(const QDateTime& from, const QDateTime& to, qint64 step, int& status)
{
    status = 400;
    if (!from.isValid() || !to.isValid() || to <= from || step < 0 || step > MaxReadingStep)
        return QStringLiteral("需要 from、to（ISO 8601，from 早于 to）和 0..%1 的 step").arg(MaxReadingStep);
    // Bounded, so that no request holds the server (or its memory) for long.
    if (step > 0 && (WallOf(to) - WallOf(from)) / step > MaxReadingBuckets)
        return QStringLiteral("超过 %1 个时段：请加大 step 或缩短范围").arg(MaxReadingBuckets);
    status = 200;
    return {};
}

void AddReading(TReadingPhase& phase, const std::optional<double>& value, bool first)
{
    if (first)
        phase.first = value;
    phase.last = value;
    if (value) {
        phase.min = std::min(phase.min.value_or(*value), *value);
        phase.max = std::max(phase.max.value_or(*value), *value);
    }
}

std::string BucketsJson(const std::vector<TReadingBucket>& buckets)
{
    // A reading as JSON writes it: the shortest text that reads back the same (not printf: the C
    // locale may be German).
    const auto number = [](std::string& out, const std::optional<double>& v) {
        out += v ? QByteArray::number(*v, 'g', 15).toStdString() : std::string("null");
    };
    std::string out = "[";
    out.reserve(buckets.size() * 256);
    for (const TReadingBucket& b : buckets) {
        if (out.size() > 1)
            out += ',';
        out += "{\"time\":\"" + IsoOfWall(b.start) + "\"";
        for (int p = 0; p < 4; ++p) {
            const TReadingPhase& ph = b.phases[std::size_t(p)];
            if (!ph.min)
                continue;
            out += std::string(",\"") + char('A' + p) + "\":{\"min\":";
            number(out, ph.min);
            out += ",\"max\":";
            number(out, ph.max);
            out += ",\"first\":";
            number(out, ph.first);
            out += ",\"last\":";
            number(out, ph.last);
            out += "}";
        }
        out += "}";
    }
    return out + "]";
}

std::string PromLabel(const QString& value)
{
    std::string out;
    for (char c : value.toStdString()) {
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

} // namespace zeva
