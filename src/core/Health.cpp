// Link and instrument health.
#include "Health.h"

namespace zeva {

QString StateText(TInstrumentState state)
{
    switch (state) {
    case TInstrumentState::Normal: return QStringLiteral("正常");
    case TInstrumentState::Timeout: return QStringLiteral("超时");
    case TInstrumentState::Interrupted: return QStringLiteral("中断");
    }
    return {};
}

QString StateText(TLinkState state)
{
    switch (state) {
    case TLinkState::Connected: return QStringLiteral("已连接");
    case TLinkState::Silent: return QStringLiteral("无应答");
    case TLinkState::Disconnected: return QStringLiteral("串口断开");
    }
    return {};
}

QString AgeText(qint64 s)
{
    if (s < 60)
        return QStringLiteral("%1秒").arg(s);
    if (s < 3600)
        return QStringLiteral("%1分%2秒").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    if (s < 86400)
        return QStringLiteral("%1小时%2分").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1天%2小时").arg(s / 86400).arg(s / 3600 % 24, 2, 10, QLatin1Char('0'));
}

void THealth::SetPolled(const std::vector<uint8_t>& addresses, const std::vector<QString>& names)
{
    m_polled = addresses;
    m_isPolled.fill(false);
    for (uint8_t a : addresses)
        m_isPolled[a] = true;
    for (std::size_t i = 0; i < addresses.size() && i < names.size(); ++i)
        m_names[addresses[i]] = names[i];
}

void THealth::RequestSent(uint8_t address, bool passStart)
{
    if (passStart) {
        ++m_pass;
        // Passes wholly past since the last reply: the one just begun does not count yet.
        for (uint8_t a : m_polled)
            if (m_pass - 1 - m_health[a].replyPass >= SilentPasses)
                setState(a, TInstrumentState::Interrupted);
        if (m_link == TLinkState::Connected && !m_polled.empty() && m_pass - 1 - m_anyReplyPass >= SilentPasses)
            setLink(TLinkState::Silent, QDateTime::currentDateTime());
    }
    // A request's reply is due before the next tick: the one asked last is now unanswered.
    if (m_asked >= 0) {
        TInstrumentHealth& last = m_health[std::size_t(m_asked)];
        if (last.outstanding) {
            last.outstanding = false;
            if (++last.unanswered >= TimeoutRequests && last.state == TInstrumentState::Normal)
                setState(uint8_t(m_asked), TInstrumentState::Timeout);
        }
    }
    TInstrumentHealth& h = m_health[address];
    ++h.sent;
    h.outstanding = true;
    m_asked = address;
}

void THealth::ReplyAccepted(uint8_t address, qint64 nowMs)
{
    TInstrumentHealth& h = m_health[address];
    ++h.accepted;
    h.lastReplyMs = nowMs;
    h.unanswered = 0;
    h.outstanding = false;
    h.replyPass = m_pass;
    setState(address, TInstrumentState::Normal);
    // A reply from an address nobody asked (another master, a stray instrument) says nothing of
    // the polled bus.
    if (!m_isPolled[address])
        return;
    m_anyReplyPass = m_pass;
    if (m_link == TLinkState::Silent)
        setLink(TLinkState::Connected, QDateTime::fromMSecsSinceEpoch(nowMs));
}

void THealth::ChunkRejected()
{
    if (m_asked >= 0)
        ++m_health[std::size_t(m_asked)].rejected;
}

void THealth::Hangup(const QDateTime& now)
{
    setLink(TLinkState::Disconnected, now);
}

void THealth::Reconnected(const QDateTime& now)
{
    // Silence while the port was gone is no instrument's fault: the passes start again.
    m_anyReplyPass = m_pass;
    for (uint8_t a : m_polled)
        m_health[a].outstanding = false;
    m_asked = -1;
    setLink(TLinkState::Connected, now);
}

QString THealth::InstrumentText(uint8_t address) const
{
    const QString& name = m_names[address];
    return QStringLiteral("仪表 %1").arg(address) + (name.isEmpty() ? QString() : QStringLiteral("（%1）").arg(name));
}

void THealth::setState(uint8_t address, TInstrumentState state)
{
    TInstrumentHealth& h = m_health[address];
    if (h.state == state)
        return;
    if (m_report)
        m_report(QStringLiteral("%1：%2 → %3").arg(InstrumentText(address), StateText(h.state), StateText(state)));
    h.state = state;
}

void THealth::setLink(TLinkState state, const QDateTime& now)
{
    if (m_link == state)
        return;
    if (m_report)
        m_report(QStringLiteral("链路：%1 → %2").arg(StateText(m_link), StateText(state)));
    m_link = state;
    m_linkSince = now;
}

} // namespace zeva
