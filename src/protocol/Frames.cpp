// Building and decoding the frames of the instrument protocol.
#include "Frames.h"

namespace zeva {

namespace {

class FrameWriter {
public:
    FrameWriter(uint8_t address, uint8_t command)
    {
        m_frame.bytes[0] = address;
        m_frame.bytes[1] = FrameMarker;
        m_frame.bytes[2] = command;
        m_pos = 3;
    }
    void byte(uint8_t b) { m_frame.bytes[m_pos++] = b; }
    void temp(double value)
    {
        TTempBytes t = EncodeTemp(value);
        byte(t.high);
        byte(t.low);
    }
    TFrame finish()
    {
        m_frame.bytes[m_pos] = FrameChecksum(m_frame.bytes.data(), m_pos);
        m_frame.size = m_pos + 1;
        return m_frame;
    }

private:
    TFrame m_frame;
    std::size_t m_pos = 0;
};

double tempAt(const uint8_t* frame, std::size_t pos)
{
    return DecodeTemp(frame[pos], frame[pos + 1]);
}

template <std::size_t N>
std::array<double, N> tempsAt(const uint8_t* frame, std::size_t pos)
{
    std::array<double, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = tempAt(frame, pos + 2 * i);
    return out;
}

uint8_t low8(int64_t value)
{
    return uint8_t(uint64_t(value) & 0xFF);
}

} // namespace

TFrame BuildRequest(uint8_t address, uint8_t command)
{
    return FrameWriter(address, command).finish();
}

TFrame BuildThresholdFrame(uint8_t address, uint8_t command, const TThresholds& t)
{
    FrameWriter w(address, command);
    for (double v : t)
        w.temp(v);
    return w.finish();
}

TFrame BuildCompensationFrame(uint8_t address, uint8_t command, const TCompensation& c)
{
    FrameWriter w(address, command);
    for (double v : c)
        w.temp(v);
    return w.finish();
}

TFrame BuildFanTimingFrame(uint8_t address, uint8_t command, int64_t tf, int64_t run)
{
    FrameWriter w(address, command);
    w.byte(low8(tf));
    w.byte(low8(run));
    return w.finish();
}

TFrame BuildLinkFrame(uint8_t address, uint8_t command, int64_t newAddress, uint8_t baudCode)
{
    FrameWriter w(address, command);
    w.byte(low8(newAddress));
    w.byte(baudCode);
    return w.finish();
}

TFrame BuildThresholdWrite(uint8_t address, const TThresholds& t)
{
    return BuildThresholdFrame(address, Cmd::WriteThresholds, t);
}

TFrame BuildCompensationWrite(uint8_t address, const TCompensation& c)
{
    return BuildCompensationFrame(address, Cmd::WriteCompensation, c);
}

TFrame BuildFanTimingWrite(uint8_t address, int64_t tf, int64_t run)
{
    return BuildFanTimingFrame(address, Cmd::WriteFanTiming, tf, run);
}

TFrame BuildLinkWrite(uint8_t address, int64_t newAddress, int baud)
{
    return BuildLinkFrame(address, Cmd::WriteLink, newAddress, IndexFromBaud(baud));
}

TFrame BuildBlackBoxClear(uint8_t address)
{
    return BuildRequest(address, Cmd::ClearBlackBox);
}

TFrame BuildForceOutput(uint8_t address, uint8_t kind, uint8_t action)
{
    FrameWriter w(address, Cmd::ForceOutput);
    w.byte(kind);
    w.byte(action);
    w.byte(action);
    w.byte(action);
    return w.finish();
}

uint8_t OutputKindOf(int itemIndex)
{
    // The last three items share the fault relay's kind.
    static constexpr std::array<uint8_t, OutputKindItems.size()> kinds{0, 1, 2, 3, 4, 4, 4};
    if (itemIndex < 0 || std::size_t(itemIndex) >= kinds.size())
        return 0;
    return kinds[std::size_t(itemIndex)];
}

uint8_t OutputKindOf(std::string_view itemText)
{
    for (std::size_t i = 0; i < OutputKindItems.size(); ++i)
        if (OutputKindItems[i] == itemText)
            return OutputKindOf(int(i));
    return 0;
}

uint8_t OutputActionOf(std::string_view actionText)
{
    if (actionText == "继电器放开" || actionText == "自动")
        return 0xFF;
    return 0x00;
}

TFrame BuildModelReply(uint8_t address, uint8_t modelNumber)
{
    FrameWriter w(address, Cmd::Model);
    w.byte(modelNumber);
    return w.finish();
}

TFrame BuildLiveReply(uint8_t address, const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus)
{
    FrameWriter w(address, Cmd::Live);
    for (double v : temps)
        w.temp(v);
    w.byte(phaseStatus);
    w.byte(outputStatus);
    return w.finish();
}

TFrame BuildBlackBoxReply(uint8_t address, const TPhaseTemps& blackBox, const TPhaseTemps& highest)
{
    FrameWriter w(address, Cmd::BlackBox);
    for (double v : blackBox)
        w.temp(v);
    for (double v : highest)
        w.temp(v);
    return w.finish();
}

TLiveReading DecodeLive(const uint8_t* frame)
{
    return {frame[0], tempsAt<4>(frame, 3), frame[11], frame[12]};
}

TBlackBoxReading DecodeBlackBox(const uint8_t* frame)
{
    return {frame[0], tempsAt<4>(frame, 3), tempsAt<4>(frame, 11)};
}

TModelReading DecodeModel(const uint8_t* frame)
{
    return {frame[0], frame[3], GetTypeAndCapition(frame[3])};
}

TThresholds DecodeThresholds(const uint8_t* frame)
{
    return tempsAt<7>(frame, 3);
}

TCompensation DecodeCompensation(const uint8_t* frame)
{
    return tempsAt<4>(frame, 3);
}

TFanTimingReading DecodeFanTiming(const uint8_t* frame)
{
    return {frame[3], frame[4]};
}

TLinkReading DecodeLink(const uint8_t* frame)
{
    return {frame[3], BaudFromIndex(frame[4])};
}

} // namespace zeva
