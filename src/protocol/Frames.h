// Building the request, write and reply frames of the instrument protocol, and decoding replies.
#pragma once

#include "Commands.h"
#include "UPublic.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zeva {

// A frame built in a 30-byte buffer; `size` bytes go on the wire.
struct TFrame {
    std::array<uint8_t, FrameBufferSize> bytes{};
    std::size_t size = 0;

    const uint8_t* data() const { return bytes.data(); }
    uint8_t operator[](std::size_t i) const { return bytes[i]; }
};

using TThresholds = std::array<double, 7>;   // T1..T7
using TCompensation = std::array<double, 4>; // phases A..D
using TPhaseTemps = std::array<double, 4>;   // phases A..D

// Bits of PhaseStatus and OutputStatus, least significant first.
namespace PhaseBit {
inline constexpr uint8_t A = 0x01, B = 0x02, C = 0x04, D = 0x08, Door = 0x10;
}
namespace OutputBit {
inline constexpr uint8_t Fan = 0x01, Alarm = 0x02, Trip = 0x04, FanAuto = 0x08, BuzzerMute = 0x10,
                         Fault = 0x20;
}

// Address, marker, command and checksum: the live, black-box, model and four group readings,
// and the black-box clear.
TFrame BuildRequest(uint8_t address, uint8_t command);

// Group frames: the write of a group has the layout of its read reply, so one builder serves both.
TFrame BuildThresholdFrame(uint8_t address, uint8_t command, const TThresholds& t);
TFrame BuildCompensationFrame(uint8_t address, uint8_t command, const TCompensation& c);
// Numbers typed for one-byte fields go out as their low eight bits.
TFrame BuildFanTimingFrame(uint8_t address, uint8_t command, int64_t tf, int64_t run);
TFrame BuildLinkFrame(uint8_t address, uint8_t command, int64_t newAddress, uint8_t baudCode);

TFrame BuildThresholdWrite(uint8_t address, const TThresholds& t);
TFrame BuildCompensationWrite(uint8_t address, const TCompensation& c);
TFrame BuildFanTimingWrite(uint8_t address, int64_t tf, int64_t run);
// The baud rate is sent as its code; a rate without one sends code 0.
TFrame BuildLinkWrite(uint8_t address, int64_t newAddress, int baud);
TFrame BuildBlackBoxClear(uint8_t address);

// Forced output: kind, then the action byte three times.
TFrame BuildForceOutput(uint8_t address, uint8_t kind, uint8_t action);

// The output selector's items in their order, and the kind each stands for.
inline constexpr std::array<std::string_view, 7> OutputKindItems{
    "风机强制输出",     "超温报警强制输出",   "超温跳闸强制输出",    "蜂鸣器静音强制输出",
    "故障继电器强制输出", "机房散热风机强制输出", "铁芯超温报警强制输出",
};
// The action selector's items.
inline constexpr std::array<std::string_view, 4> OutputActionItems{"继电器吸合", "继电器放开", "手动", "自动"};

// Item index -1 (nothing chosen) or out of range gives kind 0.
uint8_t OutputKindOf(int itemIndex);
uint8_t OutputKindOf(std::string_view itemText);
// "继电器放开" and "自动" release (0xFF); every other text pulls in (0x00).
uint8_t OutputActionOf(std::string_view actionText);

// Reply builders for the instruments' side (the simulator and tests).
TFrame BuildModelReply(uint8_t address, uint8_t modelNumber);
TFrame BuildLiveReply(uint8_t address, const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus);
TFrame BuildBlackBoxReply(uint8_t address, const TPhaseTemps& blackBox, const TPhaseTemps& highest);

// Decoded replies. Position 0 is whoever answered; receivers do not compare it with the address asked.
struct TLiveReading {
    uint8_t address = 0;
    TPhaseTemps temps{};
    uint8_t PhaseStatus = 0;
    uint8_t OutputStatus = 0;
};
struct TBlackBoxReading {
    uint8_t address = 0;
    TPhaseTemps blackBox{};
    TPhaseTemps highest{};
};
struct TModelReading {
    uint8_t address = 0;
    int modelNumber = 0;
    TTypeAndCapition model;
};
struct TLinkReading {
    uint8_t address = 0;
    int baud = 0;
};
struct TFanTimingReading {
    int TF = 0;
    int RUN = 0;
};

// The frames below read from a buffer of at least FrameBufferSize bytes.
TLiveReading DecodeLive(const uint8_t* frame);
TBlackBoxReading DecodeBlackBox(const uint8_t* frame);
TModelReading DecodeModel(const uint8_t* frame);
TThresholds DecodeThresholds(const uint8_t* frame);
TCompensation DecodeCompensation(const uint8_t* frame);
TFanTimingReading DecodeFanTiming(const uint8_t* frame);
TLinkReading DecodeLink(const uint8_t* frame);

} // namespace zeva
