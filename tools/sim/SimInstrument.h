// One simulated temperature controller: its parameter store, measured temperatures and relay logic.
#pragma once

#include "Frames.h"

#include <cstdint>
#include <optional>
#include <random>

namespace zeva::sim {

struct TSimParameters {
    TThresholds T{50, 60, 80, 100, 0, 0, 0}; // fan off, fan on, alarm, trip, three spare
    TCompensation Atone{0, 0, 0, 0};
    uint8_t TF = 10;
    uint8_t RUN = 30;
    uint8_t baudCode = 5;
};

class TSimInstrument {
public:
    // `lineBaud`: the speed the instrument's UART runs at; a link write moves it to the new rate.
    TSimInstrument(uint8_t address, uint8_t model, double baseTemp, uint32_t seed, uint32_t lineBaud = 9600);

    uint8_t address() const { return m_address; }
    uint8_t model() const { return m_model; }
    const TSimParameters& parameters() const { return m_params; }
    bool doorOpen() const { return m_doorOpen; }
    void setDoorOpen(bool open) { m_doorOpen = open; }
    // A sensor fault: the fault output comes on (unless forced) and, with a phase given, that
    // phase reads 6553.5, as an open sensor does.
    void setFault(bool on, int phase = -1);
    bool fault() const { return m_fault; }
    // An instrument switched off or cut from the bus answers nothing.
    bool present() const { return m_present; }
    void setPresent(bool on) { m_present = on; }
    uint32_t lineBaud() const { return m_lineBaud; }
    void setLineBaud(uint32_t baud) { m_lineBaud = baud; }

    // Moves the temperatures on to `nowMs` (monotonic) and updates relays, black box and maxima.
    void Advance(int64_t nowMs);
    // For tests: pin the measured temperatures (before compensation) and re-run the relay logic.
    void SetMeasured(const TPhaseTemps& temps);
    // Holds the temperatures where they are set (no wander) until Release.
    void Pin(const TPhaseTemps& temps);
    void Release() { m_pinned = false; }

    TPhaseTemps temps() const; // as reported: measured plus compensation, one tenth resolution
    uint8_t PhaseStatus() const;
    uint8_t OutputStatus() const;
    const TPhaseTemps& blackBox() const { return m_blackBox; }
    const TPhaseTemps& highest() const { return m_highest; }

    // Handles a whole request addressed to this instrument; the reply to send, if any.
    std::optional<TFrame> Handle(const uint8_t* frame, std::size_t length);

private:
    void updateOutputs();

    uint8_t m_address;
    uint8_t m_model;
    TSimParameters m_params;
    TPhaseTemps m_base{};
    TPhaseTemps m_measured{};
    TPhaseTemps m_blackBox{};
    TPhaseTemps m_highest{};
    bool m_fanOn = false;
    bool m_alarm = false;
    bool m_trip = false;
    bool m_doorOpen = false;
    bool m_fault = false;
    int m_faultPhase = -1;
    bool m_present = true;
    bool m_pinned = false;
    uint32_t m_lineBaud;
    // Forced outputs by kind; unset follows the thresholds.
    std::optional<bool> m_forced[5];
    int64_t m_lastMs = -1;
    std::mt19937 m_rng;
};

} // namespace zeva::sim
