// Alarm conditions and journal operations.
#include "Alarms.h"

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

std::bitset<12> TAlarmTracker::LiveConditions(const TPhaseTemps& temps, uint8_t ps, uint8_t os)
{
    std::bitset<12> c;
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
    return c;
}

std::vector<TJournalOp> TAlarmTracker::Live(uint8_t address, const TPhaseTemps& temps, uint8_t ps, uint8_t os)
{
    std::vector<TJournalOp> ops;
    TState& s = m_states[address];
    const std::bitset<12> now = LiveConditions(temps, ps, os);
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] && !s.live[i])
            ops.push_back(MakeJournalOp(TJournalOp::What::Raise, address, LiveAlarms[i]));
        else if (!now[i] && s.live[i])
            ops.push_back(MakeJournalOp(TJournalOp::What::Clear, address, LiveAlarms[i]));
    }
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
    s.live = now;
    s.outputs = os;
    return ops;
}

std::vector<TJournalOp> TAlarmTracker::Interrupted(uint8_t address, bool interrupted)
{
    TState& s = m_states[address];
    if (s.interrupted == interrupted)
        return {};
    s.interrupted = interrupted;
    return {MakeJournalOp(interrupted ? TJournalOp::What::Raise : TJournalOp::What::Clear, address, JournalKind::Interrupted)};
}

std::vector<TJournalOp> TAlarmTracker::LinkDown(bool down)
{
    if (m_linkDown == down)
        return {};
    m_linkDown = down;
    return {MakeJournalOp(down ? TJournalOp::What::Raise : TJournalOp::What::Clear, -1, JournalKind::LinkDown)};
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
