// What the station's web view and the central one share: the access rule, the pages' frames, the
// overview's script, the chart, the journal's table and the readings' JSON. Each view fills them
// from its own database.
#pragma once

#include "Trend.h"
#include "WebServer.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace zeva {

TWebResponse JsonAnswer(int status, std::string body);
TWebResponse JsonError(int status, const QString& text);
TWebResponse HtmlAnswer(int status, std::string body);
// Prometheus' text format.
TWebResponse MetricsAnswer(std::string body);

// The login form, the read-only rule and the token: an answer when the request goes no further
// (a page route, `htmlRoute`, gets the login form for a missing token, the API a JSON 401).
std::optional<TWebResponse> WebGate(const TWebRequest& request, const std::string& token, bool htmlRoute);

// The overview with `initial` ({"station": {...}, "instruments": [...]}) in it; it follows the
// stream `events` next to it. `home`, when set, is the link back to the list above it.
std::string OverviewHtml(const std::string& initial, const QString& home = {});

// The head of the other pages (their <html> and style, up to an open <head>).
extern const char* const PageHead;

struct TJournalLine {
    QString kind, text, raised, cleared, acked, by;
    std::optional<int> address;
    QString name;
    int priority = -1;
};
std::string JournalTableHtml(const std::vector<TJournalLine>& lines);

// An instrument's chart: each phase's lowest and highest per column over [from, to) in wall
// seconds, its thresholds T3 and T4 dashed (0: none); `rows` when the points are single readings.
std::string ChartSvg(const std::array<TTrendPoints, 4>& series, double t3, double t4, double from, double to, bool rows);
// The page of one instrument: its last 24 hours and its journal.
std::string InstrumentHtml(const QString& name, int address, const std::string& chart, const std::string& journal);
std::string AlarmsHtml(const std::string& journal);
std::string NoInstrumentHtml(int address);

// ISO 8601 with the local offset of an instant (seconds since the epoch) and of a wall time (the
// local clock read as UTC).
std::string IsoOfInstant(qint64 instant);
std::string IsoOfWall(qint64 wall);
qint64 WallOf(const QDateTime& time);
qint64 WallOfInstant(qint64 instant);

// The readings API: at most this many buckets or single rows, a step up to ten years.
inline constexpr qint64 MaxReadingBuckets = 100000, MaxReadingRows = 100000;
inline constexpr qint64 MaxReadingStep = 10LL * 366 * 86400;
// A request's `from` and `to` (ISO 8601; the last 24 hours when absent, invalid when unreadable) and
// `step` (seconds; 0 when absent, -1 when no whole number).
struct TRangeQuery {
    QDateTime from, to;
    qint64 step = 0;
};
TRangeQuery RangeQuery(const std::string& query, const QDateTime& now);
// Why `from`, `to` and `step` cannot be answered (empty when they can), with its status.
QString ReadingsRequestError(const QDateTime& from, const QDateTime& to, qint64 step, int& status);

struct TReadingPhase {
    std::optional<double> min, max, first, last;
};
struct TReadingBucket {
    qint64 start = 0; // wall seconds
    std::array<TReadingPhase, 4> phases;
};
// Takes one reading (nullopt: ERR) into the bucket's phase.
void AddReading(TReadingPhase& phase, const std::optional<double>& value, bool first);
std::string BucketsJson(const std::vector<TReadingBucket>& buckets);

// A label value as Prometheus' text format writes it.
std::string PromLabel(const QString& value);

} // namespace zeva
