// Alarm conditions and journal operations.
#include "Alarms.h"

#include "Convert.h"

namespace zeva {

TJournalOp MakeJournalOp(TJournalOp::What what, int address, const TJournalKind& kind, const QString& detail)
{
    QString text = QString::fromUtf8(kind.text);
    if (!detail.isEmpty())
        text += QStringLiteral("：") + detail;
    return {what, address, QString::fromLatin1(kind.code), text};
}


bool IsAlarmKind(const QString& code)
{
    return code.startsWith(QLatin1String("alarm."));
}

namespace {

struct TKindPriority {
    const TJournalKind& kind;
    TAlarmPriority priority;
};
// Each alarm kind's own priority.
const TKindPriority KindPriorities[] = {
    {JournalKind::Trip, TAlarmPriority::Urgent},        {JournalKind::Fault, TAlarmPriority::Urgent},
    {JournalKind::OverT4, TAlarmPriority::Urgent},      {JournalKind::OverTemp, TAlarmPriority::High},
    {JournalKind::PhaseA, TAlarmPriority::High},        {JournalKind::PhaseB, TAlarmPriority::High},
    {JournalKind::PhaseC, TAlarmPriority::High},        {JournalKind::PhaseD, TAlarmPriority::High},
    {JournalKind::Interrupted, TAlarmPriority::High},   {JournalKind::LinkDown, TAlarmPriority::High},
    {JournalKind::Door, TAlarmPriority::Medium},        {JournalKind::ErrA, TAlarmPriority::Medium},
    {JournalKind::ErrB, TAlarmPriority::Medium},        {JournalKind::ErrC, TAlarmPriority::Medium},
    {JournalKind::ErrD, TAlarmPriority::Medium},
};
} // namespace

std::optional<TAlarmPriority> PriorityFromText(const QString& text)
{
    for (int p = 0; p < 4; ++p)
        if (text.trimmed() == PriorityText(p))
            return TAlarmPriority(p);
    return std::nullopt;
}

std::vector<QString> AlarmKindCodes()
{
    std::vector<QString> codes;
    for (const TKindPriority& k : KindPriorities)
        codes.push_back(QString::fromLatin1(k.kind.code));
    return codes;
}

TAlarmPriority TAlarmPolicy::PriorityOf(const QString& code) const
{
    if (auto o = overrides.find(code); o != overrides.end())
        return o->second;
    for (const TKindPriority& k : KindPriorities)
        if (code == QLatin1String(k.kind.code))
            return k.priority;
    return TAlarmPriority::Low;
}

TJournalOp TAlarmTracker::raised(TJournalOp op, qint64 nowMs)
{
    std::deque<qint64>& times = m_raises[{op.address, op.kind}];
    while (!times.empty() && nowMs - times.front() >= ChatterWindowMs)
        times.pop_front();
    times.push_back(nowMs);
    op.chatter = int(times.size()) >= ChatterRaises;
    return op;
}

std::bitset<13> TAlarmTracker::LiveConditions(const TPhaseTemps& temps, uint8_t ps, uint8_t os,
                                              std::optional<double> t4)
{
    std::bitset<13> c;
    c[0] = ps & PhaseBit::A;
    c[1] = ps & PhaseBit::B;
    c[2] = ps & PhaseBit::C;
    c[3] = ps & PhaseBit::D;
    c[4] = ps & PhaseBit::Door;
    c[5] = !(os & OutputBit::Alarm); // the alarm lamp is red when its bit is 0
    c[6] = os & OutputBit::Trip;
    c[7] = os & OutputBit::Fault;
    for (std::size_t i = 0; i < 4; ++i)
        c[8 + i] = temps[i] > 255 || temps[i] < -30; // shown as "ERR"
    if (t4 && *t4 > 0)
        for (double t : temps)
            c[12] = c[12] || (t >= *t4 && t <= 255);
    return c;
}

namespace {
// What raised the alarm of bit `i`: the phase's temperature, or the hottest phase shown.
std::optional<double> raisingValue(std::size_t i, const TPhaseTemps& temps, std::optional<double> t4)
{
    if (i < 4)
        return temps[i];
    if (i >= 8 && i < 12)
        return temps[i - 8];
    if (i == 5 || i == 6 || i == 12) {
        std::optional<double> hottest;
        for (double t : temps)
            if (t >= -30 && t <= 255 && (!hottest || t > *hottest) && (i != 12 || (t4 && t >= *t4)))
                hottest = t;
        return hottest;
    }
    return std::nullopt;
}
} // namespace

std::vector<TJournalOp> TAlarmTracker::Live(uint8_t address, const TPhaseTemps& temps, uint8_t ps, uint8_t os,
                                            qint64 nowMs, std::optional<double> t4)
{
    std::vector<TJournalOp> ops;
    TState& s = m_states[address];
    const std::bitset<13> now = LiveConditions(temps, ps, os, t4);
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] == s.live[i]) {
            s.pendingSince[i].reset();
            continue;
        }
        // A condition that came or went counts from the first reply that showed it so.
        if (!s.pendingSince[i])
            s.pendingSince[i] = nowMs;
        if (nowMs - *s.pendingSince[i] < (now[i] ? m_policy.onDelayMs : m_policy.offDelayMs))
            continue;
        s.pendingSince[i].reset();
        s.live[i] = now[i];
        TJournalOp op = MakeJournalOp(now[i] ? TJournalOp::What::Raise : TJournalOp::What::Clear, address, LiveAlarms[i],
                                      i == 12 && t4 ? OneDecimal(*t4) + QStringLiteral(" ℃") : QString());
        if (now[i]) {
            op.value = raisingValue(i, temps, t4);
            op = raised(std::move(op), nowMs);
        }
        ops.push_back(std::move(op));
    }
    if (!s.known)
        ops.push_back(MakeJournalOp(TJournalOp::What::Event, address, JournalKind::Fan,
                                    ((os & OutputBit::Fan) ? QStringLiteral("动作") : QStringLiteral("复归")) +
                                        QString::fromUtf8(FanAtStartMark)));
    if (s.known) {
        const uint8_t changed = uint8_t(s.outputs ^ os);
        if (changed & OutputBit::Fan)
            ops.push_back(MakeJournalOp(TJournalOp::What::Event, address, JournalKind::Fan,
                             (os & OutputBit::Fan) ? QStringLiteral("动作") : QStringLiteral("复归")));
        if (changed & OutputBit::FanAuto)
            ops.push_back(MakeJournalOp(TJournalOp::What::Event, address, JournalKind::FanMode,
                             (os & OutputBit::FanAuto) ? QStringLiteral("自动") : QStringLiteral("手动")));
        if (changed & OutputBit::BuzzerMute)
            ops.push_back(MakeJournalOp(TJournalOp::What::Event, address, JournalKind::Buzzer,
                             (os & OutputBit::BuzzerMute) ? QStringLiteral("静音") : QStringLiteral("不静音")));
    }
    s.known = true;
    s.outputs = os;
    return ops;
}

std::vector<TJournalOp> TAlarmTracker::Interrupted(uint8_t address, bool interrupted, qint64 nowMs)
{
    TState& s = m_states[address];
    if (s.interrupted == interrupted)
        return {};
    s.interrupted = interrupted;
    if (!interrupted)
        return {MakeJournalOp(TJournalOp::What::Clear, address, JournalKind::Interrupted)};
    return {raised(MakeJournalOp(TJournalOp::What::Raise, address, JournalKind::Interrupted), nowMs)};
}

std::vector<TJournalOp> TAlarmTracker::LinkDown(bool down, qint64 nowMs)
{
    if (m_linkDown == down)
        return {};
    m_linkDown = down;
    if (!down)
        return {MakeJournalOp(TJournalOp::What::Clear, -1, JournalKind::LinkDown)};
    return {raised(MakeJournalOp(TJournalOp::What::Raise, -1, JournalKind::LinkDown), nowMs)};
}

bool TAlarmTracker::Restore(int address, const QString& code)
{
    if (code == QLatin1String(JournalKind::LinkDown.code)) {
        m_linkDown = true;
        return true;
    }
    if (address < 0 || address > 255)
        return false;
    TState& s = m_states[std::size_t(address)];
    if (code == QLatin1String(JournalKind::Interrupted.code)) {
        s.interrupted = true;
        return true;
    }
    for (std::size_t i = 0; i < LiveAlarms.size(); ++i)
        if (code == QLatin1String(LiveAlarms[i].code)) {
            s.live[i] = true;
            return true;
        }
    return false;
}

bool TAlarmTracker::Active(uint8_t address, const TJournalKind& kind) const
{
    const TState& s = m_states[address];
    if (QLatin1String(kind.code) == QLatin1String(JournalKind::Interrupted.code))
        return s.interrupted;
    if (QLatin1String(kind.code) == QLatin1String(JournalKind::LinkDown.code))
        return m_linkDown;
    for (std::size_t i = 0; i < LiveAlarms.size(); ++i)
        if (QLatin1String(LiveAlarms[i].code) == QLatin1String(kind.code))
            return s.live[i];
    return false;
}

} // namespace zeva
