// A read-only Modbus TCP server over the station's register map, on a thread of its own: one
// poll() loop over non-blocking sockets, so a client that trickles bytes, sends garbage or floods
// requests holds nobody else up, and nothing here ever waits for the bus.
#pragma once

#include "ModbusMap.h"

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>
#include <thread>

namespace zeva {

class TModbusServer {
public:
    struct TConfig {
        QString host = QStringLiteral("127.0.0.1");
        int port = 1502;
        int maxClients = 16;
    };
    // "HOST:PORT" (an IPv4 address or a name; "*" or empty host for every interface); false with
    // `error` for a text that is none.
    static bool ParseListen(const QString& text, TConfig& config, QString& error);

    using TReport = std::function<void(const QString&)>; // heard on the server's thread
    TModbusServer(TConfig config, TReport report);
    ~TModbusServer();

    // Binds and starts serving; throws std::runtime_error with the reason (the port in use).
    void Start();
    void Stop();

    // The map's newest values, as the core has them.
    void SetInstrument(const TPlantInstrument& instrument);
    void SetStation(const TPlantStation& station);
    int Port() const { return m_boundPort; } // the port bound (a 0 in the listen text: a free one)
    int Clients() const { return m_clients.load(); }

private:
    void run();

    TConfig m_config;
    TReport m_report;
    // The core's updates wait here until the loop takes them (the lock is held only to hand them
    // over: a loop answering 16 clients flat out never keeps the polling thread waiting).
    std::mutex m_updatesMutex;
    std::vector<TPlantInstrument> m_instrumentUpdates;
    std::optional<TPlantStation> m_stationUpdate;
    TRegisterMap m_map; // the loop's own
    int m_listen = -1;
    int m_wake = -1; // an eventfd that ends the loop
    int m_boundPort = 0;
    std::atomic<int> m_clients{0};
    std::thread m_thread;
};

} // namespace zeva
