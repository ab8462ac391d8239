// The monitoring state the core owns: settings read at start-up, the selection, and the newest
// readings. Windows read it through the core's const view and change it through its setters.
#pragma once

#include "Frames.h"

#include <QString>

#include <array>
#include <chrono>
#include <optional>

namespace zeva {

// The newest readings received from one bus address.
struct TAddressReadings {
    std::optional<TPhaseTemps> live;
    std::chrono::steady_clock::time_point liveAt{}; // when `live` came
    std::optional<TPhaseTemps> blackBox;
    std::optional<TPhaseTemps> highest;
    std::optional<std::array<uint8_t, 2>> status; // phase and output status of the newest live reply
};

struct TMainState {
    QString StartDir;
    QString DataPath;
    QString PortName;
    int BaudSetting = 0;
    int PollInterval = 0;
    int RecordCycle = 0;
    int SelectedAddress = 0;
    qint64 SelectedID = 0;
    // Beyond the start-up keys: the live chart follows its newest point; a new alarm beeps (read
    // again from Data.ini when an alarm comes).
    bool Follow = false;
    bool AutoScale = false; // the live chart's temperature axis fits its visible points
    bool Beep = true;

    // The newest accepted reply of each kind, from whichever instrument sent it.
    TPhaseTemps LiveTemps{};
    TPhaseTemps BlackBoxTemps{};
    TPhaseTemps HighestTemps{};
    QString CurrentTypeName;
    QString CurrentCapition;

    // The same, kept per bus address, so that a stored row and the configuration window's
    // highest temperatures belong to one instrument.
    std::array<TAddressReadings, 256> ByAddress{};
};

} // namespace zeva
