// The reader and writer threads of an open serial port.
//
// Contract: both are created (held at a start gate) and started by OpenPort on the owner's thread,
// and stopped by ClosePort through the stop event. They touch only the shared port, the stop event
// and their own state, and reach the owner's thread only by posting notifications.
#pragma once

#include "PosixPort.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace zeva {

// What a worker hands to the owner's thread; posting keeps the order of each thread's posts.
struct TCommPost {
    int message = 0;            // CommMsg number
    uint32_t lParam = 0;        // error flags or modem bits
    std::unique_ptr<uint8_t[]> copy; // received bytes plus one zero byte
    uint16_t count = 0;
};
using TPostFn = std::function<bool(TCommPost&&)>;

class TCommThread {
public:
    TCommThread(posix::TPortShared& port, posix::TStopEvent& stop, TPostFn post, int niceness);
    virtual ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    void Start();     // opens the start gate
    void WaitFor();   // joins; the gate opens first so a never-started thread can see the stop
    bool Finished() const { return m_finished.load(); }

protected:
    virtual void Execute() = 0;
    void PostHangup();
    bool Post(TCommPost&& p) { return m_post(std::move(p)); }

    posix::TPortShared& m_port;
    posix::TStopEvent& m_stop;

private:
    void run(int niceness);

    TPostFn m_post;
    std::binary_semaphore m_gate{0};
    std::atomic<bool> m_gateOpen{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

class TReadThread : public TCommThread {
public:
    static constexpr std::size_t BufferSize = 2048;
    TReadThread(posix::TPortShared& port, posix::TStopEvent& stop, TPostFn post);
    ~TReadThread() override;

protected:
    void Execute() override;

private:
    bool deliver(const uint8_t* bytes, std::size_t n);
    void reportLineErrors();

    std::optional<posix::TLineCounters> m_counters;
};

class TWriteThread : public TCommThread {
public:
    TWriteThread(posix::TPortShared& port, posix::TStopEvent& stop, TPostFn post);
    ~TWriteThread() override;

    // The writer's message queue: takes the copy; false when the writer has ended.
    bool PostWrite(std::vector<uint8_t>&& copy);

protected:
    void Execute() override;

private:
    bool takeNext(std::vector<uint8_t>& out);
    bool writeAll(const std::vector<uint8_t>& bytes);

    std::mutex m_mutex;
    std::deque<std::vector<uint8_t>> m_queue;
    int m_wake = -1; // eventfd: new input in the queue
};

} // namespace zeva
