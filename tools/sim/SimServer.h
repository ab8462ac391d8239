// The simulator's process: the pseudo-terminal at its link path, reply timing on the wire, the
// faults, the control channel and the log.
#pragma once

#include "SimBus.h"
#include "SimControl.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace zeva::sim {

struct TSimOptions {
    std::string link;
    std::string log;
    std::string control;
    struct Instrument {
        int address;
        int model;
        double temp;
        uint32_t baud;
    };
    std::vector<Instrument> instruments;
    double drop = 0, corrupt = 0, split = 0, noise = 0;
    int delayMs = 0;
    uint32_t seed = 1;
};

class TSimServer {
public:
    explicit TSimServer(TSimOptions options);
    ~TSimServer();
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Runs until `stop` becomes non-zero (a signal handler sets it); 0 on a clean end.
    int Run(volatile int& stop);

private:
    struct TPlannedWrite {
        int64_t dueUs;
        uint64_t order;
        std::vector<uint8_t> bytes;
        const char* logKind; // nullptr: part of a frame already logged
        std::vector<uint8_t> logBytes;
        int64_t firstDueUs;
        bool operator>(const TPlannedWrite& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : order > o.order; }
    };

    // The log and the control FIFO; false (said on stderr) when either cannot be had.
    bool openFiles();
    // The line while plugged: polled for bytes while someone holds it; otherwise looked at now and
    // then, and released after a while (the loop then starts afresh).
    enum class TLineWatch { Poll, Idle, Released };
    TLineWatch watchLine(int64_t now, int64_t& waitUs);
    bool plug();
    void unplug();
    void releaseLine();
    bool hungUp() const;
    void receive(int64_t nowUs);
    // Plans `bytes` on the line from `startUs` (or once the line is free); when the last of them
    // reaches the PC.
    int64_t transmit(const std::vector<uint8_t>& bytes, uint32_t baud, int64_t startUs, std::size_t cut,
                     const char* logKind);
    uint32_t lineBaud() const;
    void planReply(const TFrame& reply, uint32_t baud, int64_t nowUs, std::size_t requestBytes);
    void plan(int64_t dueUs, std::vector<uint8_t> bytes, const char* logKind, std::vector<uint8_t> logBytes);
    void writeDue(int64_t nowUs);
    void readControl();
    void apply(const TControlCommand& c);
    void log(const char* kind, const uint8_t* bytes, std::size_t n);
    void logText(const char* kind, const std::string& text);
    bool happens(double share);
    std::vector<uint8_t> randomBytes(std::size_t n);

    TSimOptions m_opt;
    TSimBus m_bus;
    std::mt19937 m_rng;
    std::uniform_real_distribution<double> m_chance{0.0, 1.0};
    std::FILE* m_log = nullptr;
    int m_master = -1;
    std::string m_slaveName;
    bool m_plugged = false;
    // A client has had the line open since the last release; the time the line went quiet.
    bool m_inUse = false;
    int64_t m_hupSinceUs = -1;
    int m_control = -1;
    int m_controlKeep = -1;
    bool m_createdFifo = false;
    std::string m_controlPending;
    std::priority_queue<TPlannedWrite, std::vector<TPlannedWrite>, std::greater<>> m_planned;
    uint64_t m_order = 0;
    int64_t m_lineFreeAtUs = 0;
    // Bytes to send behind a reply of an address, in the order they were asked for.
    std::deque<std::pair<uint8_t, std::vector<uint8_t>>> m_sendAfter;
};

} // namespace zeva::sim
