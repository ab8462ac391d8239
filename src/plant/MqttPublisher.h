// The station's state and alarm events on an MQTT broker (libmosquitto, its network loop on a
// thread of its own, reconnecting with back-off). Nothing here waits for the broker: telemetry
// keeps the newest message per topic until it can go, alarm events wait in a bounded queue (the
// journal keeps them anyway).
#pragma once

#include "PlantConfig.h"
#include "PlantTypes.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

struct mosquitto;

namespace zeva {

// The payloads: UTF-8 JSON, times in ISO 8601 with their offset.
QByteArray InstrumentPayload(const TPlantInstrument& instrument);
QByteArray LinkPayload(int link, const QDateTime& since);
QByteArray AlarmPayload(const TPlantAlarmEvent& event);

class TMqttPublisher {
public:
    // A state or error worth saying: `journal` when it is a change of the connection's state.
    using TReport = std::function<void(const QString& text, bool journal)>;
    static constexpr std::size_t AlarmQueue = 1000;

    TMqttPublisher(TMqttConfig config, TReport report);
    ~TMqttPublisher();

    void Start();
    // A clean stop: "offline" is published (waited for up to `patience`), then the connection ends.
    void Stop(std::chrono::milliseconds patience = std::chrono::milliseconds(1000));

    void Instrument(const TPlantInstrument& instrument);
    void Link(int link, const QDateTime& since);
    void Alarm(const TPlantAlarmEvent& event);
    bool Connected() const;

private:
    void run();
    void connected(int rc);
    void disconnected(int rc);
    bool publish(const QString& topic, const QByteArray& payload, int qos, bool retain, int* mid = nullptr);

    TMqttConfig m_config;
    TReport m_report;
    mosquitto* m_mosq = nullptr;
    std::thread m_worker;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_downSaid = false;
    bool m_onlineDue = false;
    std::map<int, TPlantInstrument> m_latest;
    std::set<int> m_dirty;
    std::optional<std::pair<int, QDateTime>> m_link;
    bool m_linkDirty = false;
    std::deque<TPlantAlarmEvent> m_alarms;
    bool m_droppedSaid = false;
    int m_offlineMid = -1;
    bool m_offlineSent = false;
    std::condition_variable m_published;
    std::map<QString, QByteArray> m_sent; // the retained state as the broker has it (worker only)
};

} // namespace zeva
