// The server's loop: accept up to MaxClients (the rest closed at once), read what comes, answer
// each whole request, keep what a client has not read yet, drop clients that misbehave or idle.
#include "ModbusServer.h"

#include <QDateTime>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace zeva {

namespace {

constexpr std::size_t MaxPending = 64 * 1024;  // answers a client has not read: beyond, it goes
constexpr int RequestsPerTurn = 16;            // a flooding client yields to the others
constexpr qint64 IdleMs = 120000;              // a connection that asks nothing for 2 minutes goes

struct TClient {
    int fd = -1;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    qint64 lastMs = 0;
};

} // namespace

bool TModbusServer::ParseListen(const QString& text, TConfig& config, QString& error)
{
    return ParseHostPort(text, config.host, config.port, error);
}

TModbusServer::TModbusServer(TConfig config, TReport report) : m_config(std::move(config)), m_report(std::move(report)) {}

TModbusServer::~TModbusServer()
{
    Stop();
}

void TModbusServer::Start()
{
    m_listen = ListenTcp(m_config.host, m_config.port, QStringLiteral("Modbus"), m_boundPort);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

void TModbusServer::Stop()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_wake >= 0)
        ::close(m_wake);
    m_listen = m_wake = -1;
}

void TModbusServer::SetInstrument(const TPlantInstrument& instrument)
{
    std::lock_guard lock(m_updatesMutex);
    // Only the newest state of an address is of use.
    for (TPlantInstrument& waiting : m_instrumentUpdates)
        if (waiting.address == instrument.address) {
            waiting = instrument;
            return;
        }
    m_instrumentUpdates.push_back(instrument);
}

void TModbusServer::SetStation(const TPlantStation& station)
{
    std::lock_guard lock(m_updatesMutex);
    m_stationUpdate = station;
}

void TModbusServer::run()
{
    YieldToPolling();
    std::vector<TClient> clients;
    std::vector<pollfd> fds;
    qint64 refusedSaidMs = -60000; // said at most once a minute
    bool backlog = false; // a client still holds whole requests after its turn
    auto drop = [&](std::size_t i) {
        ::close(clients[i].fd);
        clients.erase(clients.begin() + std::ptrdiff_t(i));
    };
    for (;;) {
        fds.clear();
        fds.push_back({m_wake, POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        for (const TClient& c : clients)
            fds.push_back({c.fd, short(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        m_clients = int(clients.size());
        // Woken once a second at least, for the idle connections.
        if (::poll(fds.data(), fds.size(), backlog ? 0 : 1000) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        {
            std::vector<TPlantInstrument> instruments;
            std::optional<TPlantStation> station;
            {
                std::lock_guard lock(m_updatesMutex);
                instruments.swap(m_instrumentUpdates);
                station.swap(m_stationUpdate);
            }
            for (const TPlantInstrument& in : instruments)
                m_map.SetInstrument(in);
            if (station)
                m_map.SetStation(*station);
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0)
                    break;
                if (int(clients.size()) >= m_config.maxClients) {
                    ::close(fd); // beyond the limit: closed at once
                    if (now - refusedSaidMs >= 60000 && m_report) {
                        refusedSaidMs = now;
                        m_report(QStringLiteral("Modbus：已有 %1 个连接，新连接被关闭").arg(m_config.maxClients));
                    }
                    continue;
                }
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                clients.push_back({fd, {}, {}, now});
            }
        }
        backlog = false;
        // From the back, so a dropped client does not move the ones still to be served.
        for (std::size_t k = clients.size(); k-- > 0;) {
            const pollfd& p = fds[2 + k];
            TClient& c = clients[k];
            bool gone = (p.revents & (POLLERR | POLLNVAL)) != 0;
            bool closing = false;
            if (!gone && (p.revents & (POLLIN | POLLHUP))) {
                uint8_t buffer[4096];
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    c.in.insert(c.in.end(), buffer, buffer + n);
                    c.lastMs = now;
                } else if (n == 0) {
                    closing = true; // what it sent before it half-closed is still answered
                } else if (errno != EAGAIN && errno != EINTR) {
                    gone = true;
                }
            }
            int served = 0;
            for (; !gone && (closing || served < RequestsPerTurn); ++served) {
                const TModbusStep step = AnswerModbus(c.in.data(), c.in.size(), m_map, now);
                if (step.what == TModbusStep::What::Close)
                    gone = true;
                if (step.what != TModbusStep::What::Answer)
                    break;
                c.in.erase(c.in.begin(), c.in.begin() + std::ptrdiff_t(step.used));
                c.out.insert(c.out.end(), step.response.begin(), step.response.end());
            }
            backlog = backlog || (!gone && !closing && served == RequestsPerTurn);
            if (!gone && !c.out.empty()) {
                const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0)
                    c.out.erase(c.out.begin(), c.out.begin() + n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    gone = true;
            }
            // Half-closed: once its answers are out (or cannot go), it goes.
            if (closing) {
                c.in.clear(); // a request cut by the close is none
                gone = gone || c.out.empty();
            }
            if (c.out.size() > MaxPending || c.in.size() > MaxPending || now - c.lastMs > IdleMs)
                gone = true;
            if (gone)
                drop(k);
        }
    }
    for (TClient& c : clients)
        ::close(c.fd);
    m_clients = 0;
}

} // namespace zeva
