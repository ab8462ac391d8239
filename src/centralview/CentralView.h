// The web view of the central database: a list of the stations, and for each the station's own
// pages and API under /station/<name>/, read from the central tables (the readings' partitioned
// table in date_bin buckets). Read-only: its session cannot write.
#pragma once

#include "CentralSettings.h"
#include "WebServer.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zeva {

class TPgConnection;

class TCentralView {
public:
    struct TConfig {
        TPgParams params;
        std::string token; // empty: none asked
        std::chrono::milliseconds connect{3000}, statement{5000};
        int followMs = 5000; // how often the watched stations' newest readings are asked for
        // A newest reading older than this is 无新数据.
        qint64 staleSeconds = 900;
    };
    TCentralView(TConfig config, std::function<void(const QString&)> report);
    ~TCentralView();
    TCentralView(const TCentralView&) = delete;
    TCentralView& operator=(const TCentralView&) = delete;

    // On any thread, each with a connection of its own (made again after a loss).
    TWebResponse Handle(const TWebRequest& request);
    // Sends the newer readings of each station that a page watches to its streams, from a thread of
    // its own, until Stop().
    void Follow(TWebServer& server);
    void Stop();

private:
    TWebResponse handle(const TWebRequest& request);
    TWebResponse station(const QString& name, const std::string& rest, const TWebRequest& request);
    // The calling thread's connection.
    TPgConnection& connection();
    std::string stationsPage();
    std::string metrics();
    void follow(TWebServer& server);
    TPgConnection& database(std::unique_ptr<TPgConnection>& db);

    TConfig m_config;
    std::function<void(const QString&)> m_report;
    std::mutex m_connectionsMutex;
    std::map<std::thread::id, std::unique_ptr<TPgConnection>> m_connections;
    std::thread m_follower;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};

} // namespace zeva
