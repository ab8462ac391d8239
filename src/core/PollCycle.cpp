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

uint8_t TOutstanding::bitOf(uint8_t command)
{
    return command == Cmd::Live ? 1 : command == Cmd::BlackBox ? 2 : 0;
}

void TOutstanding::Sent(uint8_t address, uint8_t command)
{
    m_waiting[address] |= bitOf(command);
}

bool TOutstanding::Answer(uint8_t address, uint8_t command)
{
    const uint8_t bit = bitOf(command);
    if (bit == 0 || !(m_waiting[address] & bit))
        return false;
    m_waiting[address] &= uint8_t(~bit);
    return true;
}

} // namespace zeva
