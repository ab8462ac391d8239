// The POSIX side of the serial port: device open, termios mapping, purge, line-error counters,
// the stop event and the one place where errno becomes an outcome.
#pragma once

#include "CommTypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <termios.h>

namespace zeva::posix {

// What a failed call means to a worker thread.
enum class TIoOutcome {
    Again,         // would block: wait and retry
    Interrupted,   // EINTR: retry at once
    InvalidHandle, // the descriptor is gone (closed under us): end without a notification
    Hangup,        // the device went away or failed: ask for the line to be dropped
};

// Turns errno after a failed call into its outcome; the single mapping for both threads.
TIoOutcome Classify(int err);

enum class TOpenResult { Ok, OpenFailed, NotCommHandle };

// Opens exclusively (flock, which holds for root too, and TIOCEXCL where the device takes it)
// and checks for a terminal device. On failure nothing stays open and `error` holds the errno of
// the step that failed (EWOULDBLOCK when another program holds the lock, ENOTTY for no terminal).
TOpenResult OpenDevice(const char* name, int& fd, int& error);
// Clears TIOCEXCL and closes.
void CloseDevice(int fd);

bool GetTermios(int fd, termios& t);
// Maps the device-control block onto termios and the modem lines. Raw mode and every line flag
// apply whatever the speed; a speed outside the termios table goes through termios2 where the
// device takes it, otherwise the device keeps its speed. False when anything was refused.
bool ApplyDcb(int fd, const TDcb& dcb);
// Pure part of ApplyDcb, for tests: fills every flag; the speed only when the table has it
// (then true).
bool DcbToTermios(const TDcb& dcb, termios& t);
std::optional<speed_t> SpeedOf(uint32_t baud);

enum TPurge : int { PurgeInput = 1, PurgeOutput = 2, PurgeBoth = 3 };
void Purge(int fd, int which);

// Line-error counters of the device, where it keeps them (not a pseudo-terminal).
struct TLineCounters {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
std::optional<TLineCounters> ReadLineCounters(int fd);
// CE_* flags for the counters that moved.
uint32_t ErrorFlags(const TLineCounters& before, const TLineCounters& after);

// A manual-reset event: once set it stays readable for every poll().
class TStopEvent {
public:
    TStopEvent() = default;
    ~TStopEvent();
    TStopEvent(const TStopEvent&) = delete;
    TStopEvent& operator=(const TStopEvent&) = delete;

    bool Create();
    void Set();
    bool IsSet() const;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// The port as both threads share it: the descriptor and the time-outs the device holds, which
// ApplyTimeouts changes from the owner's thread while a read is outstanding.
struct TPortShared {
    int fd = -1;
    std::atomic<uint32_t> readInterval{0};
    std::atomic<uint32_t> readTotalMultiplier{0};
    std::atomic<uint32_t> readTotalConstant{0};
    std::atomic<uint32_t> writeTotalMultiplier{0};
    std::atomic<uint32_t> writeTotalConstant{0};
    // Both threads may notice one hang-up; the owner hears of it once.
    std::atomic<bool> hangupPosted{false};
};

int64_t MonotonicMs();

} // namespace zeva::posix
