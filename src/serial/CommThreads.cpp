// The reader and writer threads of an open serial port.
#include "CommThreads.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zeva {

using namespace posix;

TCommThread::TCommThread(TPortShared& port, TStopEvent& stop, TPostFn post, int niceness)
    : m_port(port), m_stop(stop), m_post(std::move(post)), m_thread([this, niceness] { run(niceness); })
{
}

TCommThread::~TCommThread()
{
    WaitFor();
}

void TCommThread::Start()
{
    if (!m_gateOpen.exchange(true))
        m_gate.release();
}

void TCommThread::WaitFor()
{
    // A thread never started is let through its gate only to end.
    if (!m_gateOpen.exchange(true)) {
        m_abandoned = true;
        m_gate.release();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void TCommThread::run(int niceness)
{
    // Best effort: an unprivileged process may not raise its threads' priority.
    ::setpriority(PRIO_PROCESS, ::gettid(), niceness);
    m_gate.acquire();
    if (!m_abandoned && !m_stop.IsSet())
        Execute();
    m_finished = true;
}

void TCommThread::PostHangup()
{
    if (m_port.hangupPosted.exchange(true))
        return;
    TCommPost p;
    p.message = CommMsg::RequestHangup;
    Post(std::move(p)); // a failure to post it is ignored
}

// ---- reader ----

TReadThread::TReadThread(TPortShared& port, TStopEvent& stop, TPostFn post)
    : TCommThread(port, stop, std::move(post), -2)
{
}

TReadThread::~TReadThread()
{
    WaitFor();
}

bool TReadThread::deliver(const uint8_t* bytes, std::size_t n)
{
    if (n == 0)
        return false;
    TCommPost p;
    p.message = CommMsg::ReceiveData;
    p.count = uint16_t(n);
    try {
        p.copy.reset(new uint8_t[n + 1]);
    } catch (const std::bad_alloc&) {
        PostHangup();
        return false;
    }
    std::copy(bytes, bytes + n, p.copy.get());
    p.copy[n] = 0;
    if (!Post(std::move(p))) {
        PostHangup();
        return false;
    }
    reportLineErrors();
    return true;
}

void TReadThread::reportLineErrors()
{
    if (!m_counters)
        return;
    auto now = ReadLineCounters(m_port.fd);
    if (!now)
        return;
    uint32_t flags = ErrorFlags(*m_counters, *now);
    m_counters = now;
    if (flags != 0) {
        TCommPost p;
        p.message = CommMsg::ReceiveError;
        p.lParam = flags;
        if (!Post(std::move(p)))
            PostHangup();
    }
}

void TReadThread::Execute()
{
    const int fd = m_port.fd;
    m_counters = ReadLineCounters(fd);
    uint8_t buffer[BufferSize];
    std::size_t count = 0;
    int64_t readStart = MonotonicMs();
    int64_t lastByte = 0;

    auto complete = [&]() {
        bool ok = deliver(buffer, count);
        count = 0;
        readStart = MonotonicMs();
        return ok;
    };

    for (;;) {
        // The read completes ReadIntervalTimeout ms after its last byte, or when the total
        // time-out (multiplier x bytes asked + constant, 0 = none) runs out, or at 2048 bytes.
        int64_t deadline = -1;
        uint32_t interval = m_port.readInterval.load();
        if (count > 0 && interval > 0)
            deadline = lastByte + interval;
        uint64_t total = uint64_t(m_port.readTotalMultiplier.load()) * BufferSize + m_port.readTotalConstant.load();
        if (total > 0) {
            int64_t t = readStart + int64_t(total);
            deadline = deadline < 0 ? t : std::min(deadline, t);
        }
        int timeout = -1;
        if (deadline >= 0)
            timeout = int(std::clamp<int64_t>(deadline - MonotonicMs(), 0, 1 << 30));

        pollfd fds[2] = {{m_stop.fd(), POLLIN, 0}, {fd, POLLIN, 0}};
        int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            PostHangup();
            break;
        }
        if (fds[0].revents) // a stop that coincides with a completion is taken as a stop
            break;
        if (r == 0) {
            // A read that completes with nothing ends the reader without a notification.
            if (!complete())
                break;
            continue;
        }
        short ev = fds[1].revents;
        if (ev & POLLNVAL)
            break;
        ssize_t n = ::read(fd, buffer + count, BufferSize - count);
        if (n > 0) {
            count += std::size_t(n);
            lastByte = MonotonicMs();
            // A read that fills up while a stop is under way straddles its purge: dropped.
            if (count == BufferSize && (m_stop.IsSet() || !complete()))
                break;
            continue;
        }
        // With VMIN = VTIME = 0 an empty read is "nothing there" (a purge, or another reader of
        // the device took the bytes first); only the poll's hang-up or an I/O error says the
        // device is gone. A hung-up terminal reads empty and polls POLLHUP, so this cannot spin.
        const bool hungUp = (ev & (POLLHUP | POLLERR)) != 0;
        TIoOutcome outcome = n == 0 ? (hungUp ? TIoOutcome::Hangup : TIoOutcome::Again) : Classify(errno);
        if (outcome == TIoOutcome::Interrupted || (outcome == TIoOutcome::Again && !hungUp))
            continue;
        if (outcome == TIoOutcome::InvalidHandle)
            break;
        // The device went away: hand over what had arrived, then ask for the line to be dropped.
        if (count > 0)
            complete();
        PostHangup();
        break;
    }
    Purge(fd, PurgeInput);
}

// ---- writer ----

TWriteThread::TWriteThread(TPortShared& port, TStopEvent& stop, TPostFn post)
    : TCommThread(port, stop, std::move(post), -1)
{
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWriteThread::~TWriteThread()
{
    WaitFor();
    if (m_wake >= 0)
        ::close(m_wake);
}

bool TWriteThread::PostWrite(std::vector<uint8_t>&& copy)
{
    if (Finished())
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(copy));
    }
    uint64_t one = 1;
    return ::write(m_wake, &one, sizeof one) == sizeof one;
}

bool TWriteThread::takeNext(std::vector<uint8_t>& out)
{
    std::lock_guard lock(m_mutex);
    if (m_queue.empty())
        return false;
    out = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

bool TWriteThread::writeAll(const std::vector<uint8_t>& bytes)
{
    const int fd = m_port.fd;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n); // a partial write goes on with the rest
            continue;
        }
        TIoOutcome outcome = n == 0 ? TIoOutcome::Again : Classify(errno);
        if (outcome == TIoOutcome::Interrupted)
            continue;
        if (outcome == TIoOutcome::InvalidHandle)
            return false;
        if (outcome == TIoOutcome::Hangup) {
            PostHangup();
            return false;
        }
        pollfd fds[2] = {{m_stop.fd(), POLLIN, 0}, {fd, POLLOUT, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            PostHangup();
            return false;
        }
        if (fds[0].revents)
            return false;
        if (fds[1].revents & POLLNVAL)
            return false;
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            PostHangup();
            return false;
        }
    }
    return true;
}

void TWriteThread::Execute()
{
    bool completedWrite = true;
    for (;;) {
        std::vector<uint8_t> request;
        if (!takeNext(request)) {
            if (completedWrite) {
                TCommPost p;
                p.message = CommMsg::SendDataEmpty;
                if (!Post(std::move(p))) {
                    PostHangup();
                    break;
                }
            }
            completedWrite = false;
            // The port is watched too (for hang-up only), so a writer never outlives a vanished device.
            pollfd fds[3] = {{m_stop.fd(), POLLIN, 0}, {m_wake, POLLIN, 0}, {m_port.fd, 0, 0}};
            int r = ::poll(fds, 3, -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                PostHangup();
                break;
            }
            if (fds[0].revents || (fds[2].revents & POLLNVAL))
                break;
            if (fds[2].revents & (POLLHUP | POLLERR)) {
                PostHangup();
                break;
            }
            uint64_t drained;
            [[maybe_unused]] ssize_t n = ::read(m_wake, &drained, sizeof drained);
            continue;
        }
        if (m_stop.IsSet())
            break;
        if (!writeAll(request))
            break;
        completedWrite = true;
    }
    Purge(m_port.fd, PurgeOutput);
}

} // namespace zeva
