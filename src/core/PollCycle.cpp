// The polling table.
#include "PollCycle.h"

#include <climits>

namespace zeva {

void TPollTable::Fill(const std::vector<int64_t>& addresses)
{
    m_slots.clear();
    for (int64_t a : addresses)
        m_slots.push_back(uint8_t(uint64_t(a) & 0xFF));
}

TFrame TPollTable::Tick()
{
    if (int64_t(PollTick) >= 2 * int64_t(m_slots.size()))
        PollTick = 0;
    std::size_t slot = std::size_t(PollTick / 2);
    uint8_t address = slot < m_slots.size() ? m_slots[slot] : 0;
    uint8_t command = PollTick % 2 == 0 ? Cmd::Live : Cmd::BlackBox;
    ++PollTick;
    return BuildRequest(address, command);
}

int TPollTable::TimerIntervalMs(int pollIntervalSeconds)
{
    long long ms = (long long)pollIntervalSeconds * 1000 / 3;
    // A negative interval, possible from Data.ini, would never fire as an unsigned period: the
    // longest period Qt takes stands for it.
    return ms < 1 ? INT_MAX : int(std::min<long long>(ms, INT_MAX));
}

} // namespace zeva
