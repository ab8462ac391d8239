// The plant's counterparts for the tests: a mosquitto broker on a loopback port, what a subscriber
// gets, and raw Modbus TCP exchanges.
#pragma once

#include "Station.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zeva::test {

// Waits, without an event loop, until `condition` holds or `ms` pass; its last value.
inline bool eventually(const std::function<bool()>& condition, int ms = 8000)
{
    for (int waited = 0; waited < ms && !condition(); waited += 50)
        std::this_thread::sleep_for(milliseconds(50));
    return condition();
}

// A port nobody listens on now.
inline int FreePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

inline int Connect(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval t{3, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// A broker of its own, without persistence, in `dir`.
class Broker {
public:
    explicit Broker(const fs::path& dir) : port(FreePort())
    {
        std::ofstream(dir / "mosquitto.conf") << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
        pid = Spawn({MOSQUITTO_PATH, "-c", (dir / "mosquitto.conf").string()}, dir.string(), (dir / "mosquitto.out").string());
        for (int i = 0; i < 100; ++i) {
            const int s = Connect(port);
            if (s >= 0) {
                ::close(s);
                break;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
    }
    ~Broker() { Terminate(pid); }
    // The retained message of `topic` (empty when none comes within 3 s).
    std::string Retained(const std::string& topic) const
    {
        return Shell("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(port) + " -t '" + topic + "' -C 1 -W 3 2>/dev/null");
    }
    int port;
    int pid = -1;
};

// One raw request on its own connection; the bytes that came back (none when the server closed).
inline std::vector<uint8_t> ModbusRaw(int port, const std::vector<uint8_t>& request)
{
    const int s = Connect(port);
    if (s < 0)
        return {};
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    uint8_t buffer[512];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ::close(s);
    return n > 0 ? std::vector<uint8_t>(buffer, buffer + n) : std::vector<uint8_t>{};
}

} // namespace zeva::test
