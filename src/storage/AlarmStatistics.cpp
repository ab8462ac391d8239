// The alarm statistics, worked out in one pass over the alarms in time order.
#include "AlarmStatistics.h"

#include "Statements.h"

#include <QDate>
#include <QHash>
#include <QPair>

#include <algorithm>

namespace zeva {

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 EpochJulianDay = 2440588; // 1970-01-01

qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : (a - b + 1) / b;
}

} // namespace

QString PriorityText(int priority)
{
    static const char* const texts[] = {"紧急", "高", "中", "低"};
    return priority >= 0 && priority < 4 ? QString::fromUtf8(texts[priority]) : QString();
}

// Read by hand: QDateTime's parser would cost more than the rest of the pass.
std::optional<qint64> WallSeconds(const QString& s)
{
    if (s.size() != 19)
        return std::nullopt;
    bool ok = true;
    const auto number = [&](int at, int n) {
        int v = 0;
        for (int i = at; i < at + n; ++i) {
            const char16_t c = s[i].unicode();
            ok = ok && c >= u'0' && c <= u'9';
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const int h = number(11, 2), m = number(14, 2), sec = number(17, 2);
    if (!ok || !date.isValid() || h > 23 || m > 59 || sec > 59 || s[4] != u'-' || s[7] != u'-' || s[10] != u' ' ||
        s[13] != u':' || s[16] != u':')
        return std::nullopt;
    return (date.toJulianDay() - EpochJulianDay) * Day + h * 3600 + m * 60 + sec;
}

namespace {

qint64 wallOf(const QDateTime& t)
{
    return (t.date().toJulianDay() - EpochJulianDay) * Day + t.time().msecsSinceStartOfDay() / 1000;
}

QString storedText(qint64 wall)
{
    const qint64 day = floorDiv(wall, Day);
    const int second = int(wall - day * Day);
    return QDate::fromJulianDay(day + EpochJulianDay).toString(QStringLiteral("yyyy-MM-dd ")) +
           QStringLiteral("%1:%2:%3")
               .arg(second / 3600, 2, 10, QLatin1Char('0'))
               .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
               .arg(second % 60, 2, 10, QLatin1Char('0'));
}

struct TAccumulator {
    TAlarmSource source;
    int raises = 0;
    int bursts = 0;
    qint64 last = 0, beforeLast = 0; // the times of the last two raises
    bool burstCounted = false;       // the current run of raises already counts as a burst
};

bool before(const TAlarmSource& a, const TAlarmSource& b)
{
    return a.address != b.address ? a.address < b.address : a.kind < b.kind;
}

} // namespace

TAlarmStatistics JournalStatistics(TDatabase& db, const QDateTime& from, const QDateTime& to, const QDateTime& now)
{
    using S = TAlarmStatistics;
    static_assert(S::ChatterRaises == 3, "the pass keeps the last two raises of each source");
    enum { Address, Kind, Text, Raised, Cleared, Acked, Name };
    const TQueryResult rows = SelectAlarmsRaised(db, from, to);
    const qint64 nowWall = wallOf(now);
    S s;
    std::vector<TAccumulator> sources;
    QHash<QPair<int, QString>, std::size_t> sourceAt;
    std::vector<qint64> ackDelays;
    qint64 bucket = 0;
    for (const QVariantList& r : rows.rows()) {
        const QString raisedText = r[Raised].toString();
        const std::optional<qint64> raised = WallSeconds(raisedText);
        if (!raised)
            continue; // a time no statistic can place
        ++s.total;

        const qint64 b = floorDiv(*raised, S::BucketSeconds) * S::BucketSeconds;
        if (s.perTenMinutes.empty() || b != bucket)
            s.perTenMinutes.push_back({storedText(b), 0});
        bucket = b;
        ++s.perTenMinutes.back().count;

        const int address = r[Address].toInt();
        const QString kind = r[Kind].toString();
        auto it = sourceAt.find({address, kind});
        if (it == sourceAt.end()) {
            const QString text = r[Text].toString();
            const qsizetype colon = text.indexOf(QChar(0xFF1A)); // the kind's text, then "：detail"
            TAlarmSource src{address, address < 0 ? QStringLiteral("总线") : r[Name].toString(), kind,
                             colon < 0 ? text : text.left(colon)};
            if (src.kindText.isEmpty())
                src.kindText = kind;
            sources.push_back({std::move(src)});
            it = sourceAt.insert({address, kind}, sources.size() - 1);
        }
        TAccumulator& a = sources[*it];
        // A run of raises goes on while they come less than ChatterSeconds apart; it is a burst once
        // ChatterRaises of them fall within ChatterSeconds.
        if (a.raises > 0 && *raised - a.last >= S::ChatterSeconds)
            a.burstCounted = false;
        if (a.raises >= S::ChatterRaises - 1 && *raised - a.beforeLast < S::ChatterSeconds && !a.burstCounted) {
            ++a.bursts;
            a.burstCounted = true;
        }
        a.beforeLast = a.last;
        a.last = *raised;
        ++a.raises;

        const std::optional<qint64> cleared = WallSeconds(r[Cleared].toString());
        const bool open = r[Cleared].isNull();
        const qint64 stood = (open ? nowWall : cleared.value_or(*raised)) - *raised;
        if (stood > S::StandingSeconds)
            s.standing.push_back({a.source, raisedText, stood, !open});
        if (const std::optional<qint64> acked = WallSeconds(r[Acked].toString()))
            ackDelays.push_back(*acked - *raised);
    }

    for (const S::TBucket& b : s.perTenMinutes)
        if (b.count > S::FloodAbove)
            s.floods.push_back(b);

    for (const TAccumulator& a : sources)
        if (a.bursts > 0)
            s.chattering.push_back({a.source, a.raises, a.bursts});
    std::sort(s.chattering.begin(), s.chattering.end(), [](const S::TChattering& x, const S::TChattering& y) {
        if (x.bursts != y.bursts)
            return x.bursts > y.bursts;
        return x.raises != y.raises ? x.raises > y.raises : before(x.source, y.source);
    });

    std::vector<const TAccumulator*> order;
    for (const TAccumulator& a : sources)
        order.push_back(&a);
    const auto more = [](const TAccumulator* x, const TAccumulator* y) {
        return x->raises != y->raises ? x->raises > y->raises : before(x->source, y->source);
    };
    const auto topEnd = order.begin() + std::ptrdiff_t(std::min<std::size_t>(order.size(), S::TopCount));
    std::partial_sort(order.begin(), topEnd, order.end(), more);
    for (auto it = order.begin(); it != topEnd; ++it)
        s.top.push_back({(*it)->source, (*it)->raises});

    s.acknowledged = int(ackDelays.size());
    if (!ackDelays.empty()) {
        const auto middle = ackDelays.begin() + std::ptrdiff_t((ackDelays.size() - 1) / 2);
        std::nth_element(ackDelays.begin(), middle, ackDelays.end());
        s.medianAckSeconds = *middle;
        s.worstAckSeconds = *std::max_element(ackDelays.begin(), ackDelays.end());
    }
    return s;
}

QString DurationText(qint64 seconds)
{
    const QString sign = seconds < 0 ? QStringLiteral("-") : QString();
    qint64 left = seconds < 0 ? -seconds : seconds;
    const qint64 days = left / Day, hours = left % Day / 3600, minutes = left % 3600 / 60;
    left %= 60;
    QString text;
    if (days > 0)
        text += QStringLiteral("%1 天 ").arg(days);
    if (days > 0 || hours > 0)
        text += QStringLiteral("%1 小时 ").arg(hours);
    if (days > 0 || hours > 0 || minutes > 0)
        text += QStringLiteral("%1 分 ").arg(minutes);
    return sign + text + QStringLiteral("%1 秒").arg(left);
}

} // namespace zeva
