// Reply acceptance for the main and configuration windows.
#include "RxBuffer.h"

#include <algorithm>
#include <cstring>

namespace zeva {

std::size_t TRxBuffer::Overlay(const uint8_t* chunk, std::size_t length)
{
    std::size_t taken = std::min(length, m_bytes.size());
    if (taken > 0)
        std::memcpy(m_bytes.data(), chunk, taken);
    m_taken = taken;
    return taken;
}

bool TRxBuffer::Holds(uint8_t command) const
{
    return IsReply(m_bytes.data(), command) && m_taken >= ReplyLength(command);
}

bool IsReply(const uint8_t* buffer, uint8_t command)
{
    std::size_t n = ReplyLength(command);
    if (n == 0)
        return false;
    return buffer[1] == FrameMarker && buffer[2] == command && FrameChecksum(buffer, n - 1) == buffer[n - 1];
}

TMonitorReply AcceptMonitorReply(const TRxBuffer& rx)
{
    if (rx[1] != FrameMarker)
        return TMonitorReply::Ignored;
    if (rx.Holds(Cmd::Model))
        return TMonitorReply::Model;
    if (rx.Holds(Cmd::Live))
        return TMonitorReply::Live;
    if (rx.Holds(Cmd::BlackBox))
        return TMonitorReply::BlackBox;
    return TMonitorReply::Unrecognised;
}

std::optional<uint8_t> AcceptConfigReply(const TRxBuffer& rx)
{
    for (uint8_t command : ConfigReplyOrder)
        if (rx.Holds(command))
            return command;
    return std::nullopt;
}

} // namespace zeva
