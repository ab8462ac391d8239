// One simulated temperature controller.
#include "SimInstrument.h"

#include "RxBuffer.h"
#include "UPublic.h"

#include <algorithm>
#include <cmath>

namespace zeva::sim {

namespace {

double tenth(double v)
{
    return std::round(v * 10.0) / 10.0;
}

} // namespace

TSimInstrument::TSimInstrument(uint8_t address, uint8_t model, double baseTemp, uint32_t seed, uint32_t lineBaud)
    : m_address(address), m_model(model), m_lineBaud(lineBaud), m_rng(seed)
{
    // A rate outside the six codes (a special order) keeps the 9600 code in its link reply.
    if (uint8_t code = IndexFromBaud(int(lineBaud)); BaudFromIndex(code) == int(lineBaud))
        m_params.baudCode = code;
    // Phases of one cabinet differ by a degree or two.
    for (std::size_t i = 0; i < 4; ++i)
        m_base[i] = baseTemp + double(i) * 0.8 - (i == 3 ? 2.0 : 0.0);
    m_measured = m_base;
    m_highest = temps();
    updateOutputs();
}

void TSimInstrument::Advance(int64_t nowMs)
{
    if (m_lastMs < 0)
        m_lastMs = nowMs;
    // A mean-reverting walk, stepped every 100 ms of simulated time: slow drift of a few
    // tenths a minute around the base, never a jump.
    std::normal_distribution<double> step(0.0, 0.05);
    for (; m_lastMs + 100 <= nowMs; m_lastMs += 100)
        for (std::size_t i = 0; i < 4 && !m_pinned; ++i)
            m_measured[i] += step(m_rng) - 0.002 * (m_measured[i] - m_base[i]);
    updateOutputs();
}

void TSimInstrument::SetMeasured(const TPhaseTemps& t)
{
    m_measured = t;
    updateOutputs();
}

void TSimInstrument::Pin(const TPhaseTemps& t)
{
    m_pinned = true;
    m_base = t;
    SetMeasured(t);
}

void TSimInstrument::setFault(bool on, int phase)
{
    m_fault = on;
    m_faultPhase = on && phase >= 0 && phase < 4 ? phase : -1;
    updateOutputs();
}

TPhaseTemps TSimInstrument::temps() const
{
    TPhaseTemps out{};
    for (std::size_t i = 0; i < 4; ++i)
        out[i] = std::clamp(tenth(m_measured[i] + m_params.Atone[i]), 0.0, 6553.5);
    if (m_faultPhase >= 0)
        out[std::size_t(m_faultPhase)] = 6553.5; // an open sensor reads the largest value
    return out;
}

void TSimInstrument::updateOutputs()
{
    TPhaseTemps t = temps();
    for (std::size_t i = 0; i < 4; ++i)
        m_highest[i] = std::max(m_highest[i], t[i]);
    double hottest = *std::max_element(t.begin(), t.end());
    const TThresholds& T = m_params.T;
    if (hottest >= T[1])
        m_fanOn = true;
    else if (hottest <= T[0])
        m_fanOn = false;
    bool alarm = hottest >= T[2];
    bool trip = hottest >= T[3];
    // The black box catches the phases at the moment an alarm or a trip comes on.
    if ((alarm && !m_alarm) || (trip && !m_trip))
        m_blackBox = t;
    m_alarm = alarm;
    m_trip = trip;
}

uint8_t TSimInstrument::PhaseStatus() const
{
    TPhaseTemps t = temps();
    uint8_t s = 0;
    static constexpr uint8_t bits[4]{PhaseBit::A, PhaseBit::B, PhaseBit::C, PhaseBit::D};
    for (std::size_t i = 0; i < 4; ++i)
        if (t[i] >= m_params.T[2])
            s |= bits[i];
    if (m_doorOpen)
        s |= PhaseBit::Door;
    return s;
}

uint8_t TSimInstrument::OutputStatus() const
{
    auto out = [this](int kind, bool automatic) { return m_forced[kind].value_or(automatic); };
    uint8_t s = 0;
    if (out(0, m_fanOn))
        s |= OutputBit::Fan;
    // The over-temperature alarm output reads 1 while all is well and 0 in alarm: the main window
    // shows that bit green for 1 and red for 0, the opposite sense from its neighbours.
    if (!out(1, m_alarm))
        s |= OutputBit::Alarm;
    if (out(2, m_trip))
        s |= OutputBit::Trip;
    if (!m_forced[0])
        s |= OutputBit::FanAuto;
    if (out(3, false))
        s |= OutputBit::BuzzerMute;
    if (out(4, m_fault))
        s |= OutputBit::Fault;
    return s;
}

std::optional<TFrame> TSimInstrument::Handle(const uint8_t* f, std::size_t length)
{
    if (length < FrameLen::Request)
        return std::nullopt;
    switch (f[2]) {
    case Cmd::Live: return BuildLiveReply(m_address, temps(), PhaseStatus(), OutputStatus());
    case Cmd::BlackBox: return BuildBlackBoxReply(m_address, m_blackBox, m_highest);
    case Cmd::Model: return BuildModelReply(m_address, m_model);
    case Cmd::ReadThresholds: return BuildThresholdFrame(m_address, Cmd::ReadThresholds, m_params.T);
    case Cmd::ReadCompensation: return BuildCompensationFrame(m_address, Cmd::ReadCompensation, m_params.Atone);
    case Cmd::ReadFanTiming:
        return BuildFanTimingFrame(m_address, Cmd::ReadFanTiming, m_params.TF, m_params.RUN);
    case Cmd::ReadLink: return BuildLinkFrame(m_address, Cmd::ReadLink, m_address, m_params.baudCode);
    case Cmd::WriteThresholds:
        m_params.T = DecodeThresholds(f);
        updateOutputs();
        return std::nullopt;
    case Cmd::WriteCompensation:
        m_params.Atone = DecodeCompensation(f);
        updateOutputs();
        return std::nullopt;
    case Cmd::WriteFanTiming:
        m_params.TF = f[3];
        m_params.RUN = f[4];
        return std::nullopt;
    case Cmd::WriteLink:
        m_address = f[3];
        m_params.baudCode = f[4];
        // The UART follows the new rate; a code outside the table leaves it where it was.
        if (int baud = BaudFromIndex(f[4]); baud > 0)
            m_lineBaud = uint32_t(baud);
        return std::nullopt;
    case Cmd::ClearBlackBox:
        m_blackBox = {0, 0, 0, 0};
        m_highest = temps();
        return std::nullopt;
    case Cmd::ForceOutput: {
        uint8_t kind = f[3];
        if (kind < 5) {
            // 0x00 pulls the relay in (fan: manual), 0xFF hands it back to the thresholds.
            if (f[4] == 0xFF)
                m_forced[kind].reset();
            else
                m_forced[kind] = true;
        }
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

} // namespace zeva::sim
