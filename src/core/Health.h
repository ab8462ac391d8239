// The health of the link and of every polled instrument: counts per bus address, the states
// 正常 / 超时 / 中断 and 已连接 / 无应答 / 串口断开, and the changes of state. No window here.
#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace zeva {

enum class TInstrumentState { Normal, Timeout, Interrupted }; // 正常, 超时, 中断
enum class TLinkState { Connected, Silent, Disconnected };    // 已连接, 无应答, 串口断开

QString StateText(TInstrumentState state);
QString StateText(TLinkState state);
// "12秒", "3分05秒", "2小时07分", "5天03小时": how long a state has lasted.
QString AgeText(qint64 seconds);

struct TInstrumentHealth {
    qint64 lastReplyMs = 0; // ms since the epoch of the last accepted reply; 0 before the first
    uint64_t sent = 0;
    uint64_t accepted = 0;
    uint64_t rejected = 0;
    uint32_t unanswered = 0; // requests in a row that got no accepted reply
    bool outstanding = false; // its last request still waits for its reply (due before the next tick)
    int64_t replyPass = 0;    // the pass of the last accepted reply
    TInstrumentState state = TInstrumentState::Normal;
};

class THealth {
public:
    // Requests in a row without an accepted reply before an instrument is 超时.
    static constexpr uint32_t TimeoutRequests = 3;
    // Whole polling passes without an accepted reply before an instrument is 中断 (and, for all of
    // them together, before the link is 无应答).
    static constexpr int64_t SilentPasses = 3;

    // Called with a text for every change of state ("仪表 3：正常 → 超时", "链路：已连接 → 串口断开").
    using TReport = std::function<void(const QString&)>;
    void SetReport(TReport report) { m_report = std::move(report); }

    // The polled addresses, in polling order; their names for the reports.
    void SetPolled(const std::vector<uint8_t>& addresses, const std::vector<QString>& names = {});
    const std::vector<uint8_t>& Polled() const { return m_polled; }
    QString NameOf(uint8_t address) const { return m_names[address]; }
    // "仪表 3（1号变压器）": an instrument as the reports and log lines name it.
    QString InstrumentText(uint8_t address) const;

    // A request goes out; `passStart` when it is the first of a polling pass.
    void RequestSent(uint8_t address, bool passStart);
    // `nowMs`: QDateTime::currentMSecsSinceEpoch(), cheap enough for every chunk.
    void ReplyAccepted(uint8_t address, qint64 nowMs);
    // A chunk that was no accepted reply: charged to the instrument asked last.
    void ChunkRejected();
    void Hangup(const QDateTime& now);
    void Reconnected(const QDateTime& now);

    const TInstrumentHealth& Of(uint8_t address) const { return m_health[address]; }
    TInstrumentState State(uint8_t address) const { return m_health[address].state; }
    TLinkState Link() const { return m_link; }
    const QDateTime& LinkSince() const { return m_linkSince; }
    int64_t Pass() const { return m_pass; }

private:
    void setState(uint8_t address, TInstrumentState state);
    void setLink(TLinkState state, const QDateTime& now);

    TReport m_report;
    std::vector<uint8_t> m_polled;
    std::array<QString, 256> m_names{};
    std::array<bool, 256> m_isPolled{};
    std::array<TInstrumentHealth, 256> m_health{};
    int64_t m_pass = 0;
    int64_t m_anyReplyPass = 0;
    int m_asked = -1; // the address of the last request
    TLinkState m_link = TLinkState::Connected;
    QDateTime m_linkSince = QDateTime::currentDateTime();
};

} // namespace zeva
