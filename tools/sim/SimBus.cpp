// A bus of simulated instruments.
#include "SimBus.h"

#include "UPublic.h"

namespace zeva::sim {

TSimInstrument& TSimBus::AddInstrument(uint8_t address, uint8_t model, double baseTemp, uint32_t seed,
                                       uint32_t lineBaud)
{
    return m_instruments.emplace_back(address, model, baseTemp, seed, lineBaud);
}

TSimInstrument* TSimBus::Find(uint8_t address)
{
    for (auto& instrument : m_instruments)
        if (instrument.address() == address)
            return &instrument;
    return nullptr;
}

void TSimBus::Advance(int64_t nowMs)
{
    for (auto& instrument : m_instruments)
        instrument.Advance(nowMs);
}

std::vector<TBusEvent> TSimBus::Expire(int64_t nowMs)
{
    std::vector<TBusEvent> events;
    if (!m_pending.empty() && nowMs - m_lastByteMs > FrameGapMs) {
        m_junk.insert(m_junk.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
        flushJunk(events);
    }
    return events;
}

std::vector<TBusEvent> TSimBus::Receive(const uint8_t* bytes, std::size_t length, int64_t nowMs, uint32_t lineBaud)
{
    std::vector<TBusEvent> events = Expire(nowMs);
    m_lastByteMs = nowMs;
    m_pending.insert(m_pending.end(), bytes, bytes + length);
    scan(events, lineBaud);
    return events;
}

void TSimBus::scan(std::vector<TBusEvent>& events, uint32_t lineBaud)
{
    std::size_t pos = 0;
    while (m_pending.size() - pos >= 3) {
        const uint8_t* p = m_pending.data() + pos;
        std::size_t n = p[1] == FrameMarker ? SentLength(p[2]) : 0;
        if (n == 0) {
            m_junk.push_back(p[0]);
            ++pos;
            continue;
        }
        if (m_pending.size() - pos < n)
            break;
        if (FrameChecksum(p, n - 1) != p[n - 1]) {
            m_junk.push_back(p[0]);
            ++pos;
            continue;
        }
        flushJunk(events);
        TBusEvent event;
        event.bytes.assign(p, p + n);
        // Copy the frame out first: the instrument may change its address while handling it.
        uint8_t frame[FrameBufferSize]{};
        std::copy(p, p + n, frame);
        TSimInstrument* target = Find(frame[0]);
        if (target && target->present() && (lineBaud == 0 || target->lineBaud() == lineBaud))
            event.reply = target->Handle(frame, n);
        events.push_back(std::move(event));
        pos += n;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(pos));
    flushJunk(events);
}

void TSimBus::flushJunk(std::vector<TBusEvent>& events)
{
    if (m_junk.empty())
        return;
    TBusEvent event;
    event.junk = true;
    event.bytes.swap(m_junk);
    events.push_back(std::move(event));
}

} // namespace zeva::sim
