// The checks and texts of a write's confirmation and journal entry.
#include "WriteReview.h"

#include "Convert.h"
#include "ReplyHandling.h"
#include "UPublic.h"

#include <cmath>

namespace zeva {

namespace {

struct TFieldSpec {
    const char* name;
    double max;
    bool whole; // a one-byte value: "is not a valid integer value"
};

// Temperatures above 255 show ERR on the instrument; compensations are two bytes of tenths.
const TFieldSpec ThresholdFields[] = {
    {"T1 关冷却风机温度", 255, false}, {"T2 开冷却风机温度", 255, false}, {"T3 超温报警温度", 255, false},
    {"T4 超温跳闸温度", 255, false},   {"T5", 255, false},               {"T6", 255, false},
    {"T7", 255, false},
};
const TFieldSpec CompensationFields[] = {
    {"A相补偿温度", 6553.5, false}, {"B相补偿温度", 6553.5, false},
    {"C相补偿温度", 6553.5, false}, {"D相补偿温度", 6553.5, false},
};
const TFieldSpec FanFields[] = {{"风机运行时间间隔", 255, true}, {"风机定时运行时间", 255, true}};
const TFieldSpec LinkFields[] = {{"仪表地址", 255, true}, {"波特率", 9600, true}};

std::pair<const TFieldSpec*, int> fields(TWriteGroup group)
{
    switch (group) {
    case TWriteGroup::Thresholds: return {ThresholdFields, 7};
    case TWriteGroup::Compensation: return {CompensationFields, 4};
    case TWriteGroup::FanTiming: return {FanFields, 2};
    case TWriteGroup::Link: break;
    }
    return {LinkFields, 2};
}

bool isTemperature(TWriteGroup group)
{
    return group == TWriteGroup::Thresholds || group == TWriteGroup::Compensation;
}

// What the instrument holds after the write: a temperature's tenths cut toward zero.
double sentValue(TWriteGroup group, double v)
{
    return isTemperature(group) ? double(TenthsOf(v)) / 10.0 : v;
}

QString numberText(double v)
{
    return TempText(v);
}

// Temperatures in the review and the journal: one decimal always, beside the boxes' own form.
QString tempText(double v)
{
    return OneDecimal(v);
}

QString valueText(TWriteGroup group, double v)
{
    return isTemperature(group) ? tempText(v) : numberText(v);
}

QString ageText(std::chrono::steady_clock::duration age)
{
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(age).count();
    if (s < 60)
        return QStringLiteral("%1 秒前读到").arg(std::max<long long>(s, 0));
    if (s < 3600)
        return QStringLiteral("%1 分钟前读到").arg(s / 60);
    return QStringLiteral("%1 小时前读到").arg(s / 3600);
}

// The newest live temperatures that count: a phase the display shows (no ERR), phase D only when
// the instrument reports one (a three-phase instrument sends 0 there).
struct THottest {
    int phase = -1;
    double value = 0;
};
THottest hottest(const TAddressReadings& r)
{
    THottest h;
    if (!r.live)
        return h;
    for (int p = 0; p < 4; ++p) {
        const double v = (*r.live)[std::size_t(p)];
        if (v > 255 || v < -30 || (p == 3 && v == 0))
            continue;
        if (h.phase < 0 || v > h.value)
            h = {p, v};
    }
    return h;
}

QString phaseName(int p)
{
    return QString(QChar(u'A' + p)) + QStringLiteral("相");
}

QString title(const QString& what, const TReviewContext& c)
{
    QString t = QStringLiteral("%1：地址 %2").arg(what).arg(c.address);
    if (!c.name.isEmpty())
        t += QStringLiteral("（%1）").arg(c.name);
    return t;
}

void thresholdWarnings(const std::vector<double>& sent, const TReviewContext& c, QStringList& w)
{
    for (int i = 0; i < 3; ++i)
        if (sent[std::size_t(i)] >= sent[std::size_t(i + 1)])
            w << QStringLiteral("%1（%2）不低于 %3（%4）")
                     .arg(QString::fromUtf8(ThresholdFields[i].name), tempText(sent[std::size_t(i)]),
                          QString::fromUtf8(ThresholdFields[i + 1].name), tempText(sent[std::size_t(i + 1)]));
    const THottest h = hottest(c.readings);
    if (h.phase < 0) {
        w << (c.readings.live ? QStringLiteral("地址 %1 的实时温度均为 ERR：无法与当前温度比较")
                              : QStringLiteral("没有收到地址 %1 的实时温度：无法与当前温度比较"))
                 .arg(c.address);
        return;
    }
    const QString when = ageText(c.now - c.readings.liveAt);
    if (sent[3] <= h.value)
        w << QStringLiteral("T4 超温跳闸温度 %1 不高于 %2当前温度 %3 °C（%4）：写入后将立即跳闸，断路器断开")
                 .arg(tempText(sent[3]), phaseName(h.phase), tempText(h.value), when);
    else if (sent[2] <= h.value)
        w << QStringLiteral("T3 超温报警温度 %1 不高于 %2当前温度 %3 °C（%4）：写入后将立即报警")
                 .arg(tempText(sent[2]), phaseName(h.phase), tempText(h.value), when);
}

} // namespace

QString GroupName(TWriteGroup group)
{
    switch (group) {
    case TWriteGroup::Thresholds: return QStringLiteral("温度参数 T1–T7");
    case TWriteGroup::Compensation: return QStringLiteral("补偿温度");
    case TWriteGroup::FanTiming: return QStringLiteral("风机时间");
    case TWriteGroup::Link: break;
    }
    return QStringLiteral("地址与波特率");
}

QString FieldName(TWriteGroup group, int field)
{
    return QString::fromUtf8(fields(group).first[field].name);
}

int FieldCount(TWriteGroup group)
{
    return fields(group).second;
}

std::vector<int> InstrumentBaudRates()
{
    std::vector<int> rates;
    for (uint8_t code = 0; BaudFromIndex(code) != 0; ++code)
        rates.push_back(BaudFromIndex(code));
    return rates;
}

std::vector<double> ParseGroup(TWriteGroup group, const QStringList& texts)
{
    const auto [table, count] = fields(group);
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
        const QString t = texts.value(i).trimmed();
        values.push_back(table[i].whole ? double(StrToInt(t)) : StrToFloat(t));
    }
    for (int i = 0; i < count; ++i) {
        const double v = values[std::size_t(i)];
        const QString name = QString::fromUtf8(table[i].name);
        if (group == TWriteGroup::Link && i == 1) {
            const std::vector<int> rates = InstrumentBaudRates();
            if (std::find(rates.begin(), rates.end(), int(v)) == rates.end()) {
                QStringList list;
                for (int r : rates)
                    list << QString::number(r);
                throw EWriteRefused(QStringLiteral("%1 %2 不是仪表能用的波特率（可用：%3），未写入")
                                        .arg(name, numberText(v), list.join(QStringLiteral("、"))),
                                    i);
            }
            continue;
        }
        if (!(v >= 0 && v <= table[i].max))
            throw EWriteRefused(QStringLiteral("%1 %2 超出范围 0～%3%4，未写入")
                                    .arg(name, numberText(v), numberText(table[i].max),
                                         isTemperature(group) ? QStringLiteral(" °C") : QString()),
                                i);
    }
    return values;
}

QString TWriteReview::AuditText(const QString& user) const
{
    QStringList parts;
    for (const TReviewLine& l : lines) {
        if (!l.value)
            parts << l.name + QLatin1Char(' ') + l.after;
        else
            parts << QStringLiteral("%1 %2→%3").arg(l.name, l.before.isEmpty() ? QStringLiteral("未读") : l.before, l.after);
    }
    return (journal.isEmpty() ? QString() : journal + QStringLiteral("：")) + parts.join(QStringLiteral("，")) + QStringLiteral("；操作员：") + user;
}

TWriteReview ReviewWrite(TWriteGroup group, const QStringList& before, const std::vector<double>& after,
                         const TReviewContext& c)
{
    TWriteReview r;
    r.journal = GroupName(group);
    r.title = title(QStringLiteral("写入") + r.journal, c);
    std::vector<double> sent;
    bool anyRead = false;
    for (int i = 0; i < FieldCount(group); ++i) {
        const double typed = after[std::size_t(i)];
        sent.push_back(sentValue(group, typed));
        TReviewLine l;
        l.name = FieldName(group, i);
        l.before = before.value(i).trimmed();
        l.after = valueText(group, sent.back());
        if (sent.back() != typed)
            l.after += QStringLiteral("（输入 %1）").arg(numberText(typed)); // as typed
        double b = 0;
        anyRead = anyRead || !l.before.isEmpty();
        const bool number = TryStrToFloat(l.before, b);
        l.changed = l.before.isEmpty() || !number || std::abs(b - sent.back()) > 1e-9;
        if (number)
            l.before = valueText(group, b);
        r.lines.push_back(l);
    }
    if (!anyRead)
        r.warnings << QStringLiteral("仪表尚未报告这组参数的当前值");
    if (group == TWriteGroup::Thresholds)
        thresholdWarnings(sent, c, r.warnings);
    if (group == TWriteGroup::Link) {
        const int newAddress = int(after[0]);
        if (!c.newAddressUsedBy.isEmpty())
            r.warnings << QStringLiteral("地址 %1 已由登记表中启用的仪表“%2”使用：两台仪表将同时应答")
                              .arg(newAddress)
                              .arg(c.newAddressUsedBy);
        const int baud = int(after[1]);
        if (c.registeredBaud && *c.registeredBaud != baud)
            r.warnings << QStringLiteral("波特率 %1 与登记表中该仪表的 %2 不同：写入后仪表以 %1 通讯")
                              .arg(baud)
                              .arg(*c.registeredBaud);
    }
    return r;
}

TWriteReview ReviewForceOutput(const QString& output, const QString& action, const TReviewContext& c)
{
    TWriteReview r;
    r.title = title(QStringLiteral("强制输出"), c);
    const uint8_t kind = OutputKindOf(output.toStdString());
    const bool pull = OutputActionOf(action.toStdString()) == 0x00;
    const QString chosen = output.isEmpty() ? QString::fromUtf8(OutputKindItems[0].data(), qsizetype(OutputKindItems[0].size())) : output;
    r.lines.push_back({QStringLiteral("输出"), {}, chosen, true, false});
    r.lines.push_back({QStringLiteral("动作"), {}, action.isEmpty() ? QStringLiteral("（空）") : action, true, false});
    if (output.isEmpty())
        r.warnings << QStringLiteral("没有选择输出：按“%1”发送").arg(chosen);
    bool known = false;
    for (std::string_view a : OutputActionItems)
        known = known || action == QString::fromUtf8(a.data(), qsizetype(a.size()));
    if (!known)
        r.warnings << QStringLiteral("输出类型“%1”不在列表中：按“继电器吸合”发送").arg(action);
    // Pulling a protection relay in acts on the plant at once.
    if (kind == 2 && pull)
        r.warnings << QStringLiteral("超温跳闸继电器将被强制吸合：断路器断开，变压器立即停电");
    else if (kind == 1 && pull)
        r.warnings << QStringLiteral("超温报警继电器将被强制吸合：报警输出动作");
    return r;
}

TWriteReview ReviewBlackBoxClear(const TReviewContext& c)
{
    TWriteReview r;
    r.title = title(QStringLiteral("清除黑匣子"), c);
    for (int p = 0; p < 4; ++p)
        r.lines.push_back({phaseName(p) + QStringLiteral("历史最高温度"),
                           c.readings.highest ? tempText((*c.readings.highest)[std::size_t(p)]) : QString(),
                           QStringLiteral("清零"), true, true});
    r.warnings << QStringLiteral("仪表黑匣子记录的历史最高温度将被清除，不能恢复");
    return r;
}

} // namespace zeva
