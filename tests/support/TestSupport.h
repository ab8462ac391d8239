// Helpers for tests: waiting on conditions while the event loop runs, pseudo-terminal pairs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zeva::test {

// Runs the event loop until `condition` holds or `ms` pass; returns the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, int ms = 5000);
// Runs the event loop for `ms` (to prove that nothing more arrives).
void Pump(int ms);

// A pseudo-terminal in the kernel's default (cooked) settings, whose master the test holds; the
// component opens `slaveName`, a link of its own to the slave that goes with the master.
class TPty {
public:
    TPty();
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    int master() const { return m_master; }
    const std::string& slaveName() const { return m_slaveName; }
    void CloseMaster();
    void Write(const std::vector<uint8_t>& bytes);
    // Everything readable on the master within `ms`, gathering until `count` bytes if given;
    // the event loop runs meanwhile.
    std::vector<uint8_t> Read(int ms, std::size_t count = 0);

private:
    int m_master = -1;
    int m_slave = -1; // closed at once, so closing the master is a hang-up for the component
    std::string m_slaveName;
};

// Starts a program in `cwd` with standard output and error to `output`, drawing off screen; its pid.
int Spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& output);
// SIGTERM, then waits; the wait status.
int Terminate(int pid);

// The whole content of a file (empty when it cannot be read).
std::string ReadText(const std::string& path);

// One command on zeva-sim's control FIFO; true once the simulator's log says it was carried out.
bool SimControl(const std::string& fifo, const std::string& log, const std::string& line, int ms = 3000);

// Runs a shell command and returns what it printed on standard output.
std::string Shell(const std::string& command);

// Another program (the sqlite3 shell) holding a database's write lock. The constructor returns once
// the lock is held (`Held()`); the lock goes after `seconds`, or at Release() or destruction.
class TDbLock {
public:
    TDbLock(const std::string& file, double seconds);
    ~TDbLock();
    TDbLock(const TDbLock&) = delete;
    TDbLock& operator=(const TDbLock&) = delete;
    bool Held() const { return m_held; }
    // Ends the holder at once (its transaction is rolled back) and waits for it.
    void Release();
    // Waits until the holder has committed and ended.
    void Wait();

private:
    int m_pid = -1;
    bool m_held = false;
};

// CPU time (user and system) of another process (or of one of its threads; the main thread's ID is
// the process's), in seconds, and its resident memory in KiB.
double CpuSecondsOf(int pid, int thread = 0);
long RssKbOf(int pid);

// CPU time of this process, in ms.
double ProcessCpuMs();

} // namespace zeva::test
