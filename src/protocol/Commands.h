// The fixed table of frame marker, command codes and frame lengths of the instrument protocol.
#pragma once

#include "UPublic.h"

#include <cstddef>
#include <cstdint>

namespace zeva {

// Receivers compare against the constants in their hexadecimal text form, as the instrument
// documentation gives them; HexStrToInt turns them into bytes at compile time.
inline constexpr uint8_t FrameMarker = uint8_t(HexStrToInt("3F"));

namespace Cmd {
inline constexpr uint8_t Model = uint8_t(HexStrToInt("01"));
inline constexpr uint8_t Live = uint8_t(HexStrToInt("AA"));
inline constexpr uint8_t BlackBox = uint8_t(HexStrToInt("EE"));
inline constexpr uint8_t ReadThresholds = uint8_t(HexStrToInt("11"));
inline constexpr uint8_t ReadCompensation = uint8_t(HexStrToInt("12"));
inline constexpr uint8_t ReadFanTiming = uint8_t(HexStrToInt("13"));
inline constexpr uint8_t ReadLink = uint8_t(HexStrToInt("14"));
inline constexpr uint8_t WriteThresholds = 0x21;
inline constexpr uint8_t WriteCompensation = 0x22;
inline constexpr uint8_t WriteFanTiming = 0x23;
inline constexpr uint8_t WriteLink = 0x24;
inline constexpr uint8_t ClearBlackBox = 0x99;
inline constexpr uint8_t ForceOutput = 0xDD;
} // namespace Cmd

// A write command is its read command plus this.
inline constexpr uint8_t WriteOffset = 0x10;

// Whole frame lengths, checksum included.
namespace FrameLen {
inline constexpr std::size_t Request = 4;
inline constexpr std::size_t Model = 5;
inline constexpr std::size_t Live = 14;
inline constexpr std::size_t BlackBox = 20;
inline constexpr std::size_t Thresholds = 18;
inline constexpr std::size_t Compensation = 12;
inline constexpr std::size_t FanTiming = 6;
inline constexpr std::size_t Link = 6;
inline constexpr std::size_t ForceOutput = 8;
} // namespace FrameLen

// Both windows' send and receive buffers; the longest frame is 20 bytes.
inline constexpr std::size_t FrameBufferSize = 30;

// The reply length that answers a request, 0 for a request that gets none.
constexpr std::size_t ReplyLength(uint8_t command)
{
    switch (command) {
    case Cmd::Model: return FrameLen::Model;
    case Cmd::Live: return FrameLen::Live;
    case Cmd::BlackBox: return FrameLen::BlackBox;
    case Cmd::ReadThresholds: return FrameLen::Thresholds;
    case Cmd::ReadCompensation: return FrameLen::Compensation;
    case Cmd::ReadFanTiming: return FrameLen::FanTiming;
    case Cmd::ReadLink: return FrameLen::Link;
    default: return 0;
    }
}

// The length of a frame the PC sends, by its command; 0 for a code the PC never sends.
constexpr std::size_t SentLength(uint8_t command)
{
    switch (command) {
    case Cmd::Model:
    case Cmd::Live:
    case Cmd::BlackBox:
    case Cmd::ReadThresholds:
    case Cmd::ReadCompensation:
    case Cmd::ReadFanTiming:
    case Cmd::ReadLink:
    case Cmd::ClearBlackBox: return FrameLen::Request;
    case Cmd::WriteThresholds: return FrameLen::Thresholds;
    case Cmd::WriteCompensation: return FrameLen::Compensation;
    case Cmd::WriteFanTiming: return FrameLen::FanTiming;
    case Cmd::WriteLink: return FrameLen::Link;
    case Cmd::ForceOutput: return FrameLen::ForceOutput;
    default: return 0;
    }
}

} // namespace zeva
