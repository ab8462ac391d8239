// What the station's web server answers: the overview page with its live event stream, the
// instruments as JSON and the metrics in Prometheus' text format, read-only, behind the access
// token when there is one. Fed by the core (any thread), read by the server's thread.
#pragma once

#include "PlantTypes.h"
#include "WebServer.h"

#include <map>
#include <optional>
#include <mutex>

namespace zeva {

struct TWebCounters {
    quint64 requests = 0, repliesAccepted = 0, chunksRejected = 0, rowsWritten = 0;
    qint64 rowsWaiting = 0, alarmsStanding = 0, alarmsUnacknowledged = 0;
    qint64 centralBacklog = -1; // -1: no central database
};

class TWebSite {
public:
    struct TConfig {
        std::string token; // empty: none asked
        QString station;
        QString dataPath; // the station's database (DataBase/Data.db in it); empty: none
        int busyTimeoutMs = 2000;
    };
    explicit TWebSite(TConfig config);

    TWebResponse Handle(const TWebRequest& request);

    // Each returns the event the open streams are to get (empty when nothing they show changed).
    std::string SetInstrument(const TPlantInstrument& instrument, int priority);
    std::string SetStation(const TPlantStation& station);
    void SetCounters(const TWebCounters& counters);

private:
    std::string instrumentsJson() const;
    std::string stationJson() const;
    std::string metrics() const;
    // The routes that read the database, on a connection of this call's own.
    std::optional<TWebResponse> fromDatabase(const TWebRequest& request);

    TConfig m_config;
    mutable std::mutex m_mutex;
    struct TShown {
        TPlantInstrument instrument;
        int priority = -1; // the most urgent standing alarm's, -1 for none
    };
    std::map<int, TShown> m_instruments;
    TPlantStation m_station;
    TWebCounters m_counters;
};

} // namespace zeva
