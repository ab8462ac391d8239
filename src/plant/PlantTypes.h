// What the plant's systems read of the station: each polled instrument's newest readings, lamps and
// health, the link, and the journal's alarm events. Filled by the monitoring core, read by the
// Modbus server and the MQTT publisher on their own threads.
#pragma once

#include "Convert.h"
#include "Frames.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace zeva {

struct TPlantInstrument {
    int address = 0;
    QString name;
    bool polled = false;
    int health = 0;         // 0 no reply yet or not polled, 1 正常, 2 超时, 3 中断
    qint64 lastReplyMs = 0; // ms since the epoch of the last accepted reply; 0 before the first
    QDateTime time;         // of the newest accepted reply
    std::optional<TPhaseTemps> live;
    std::optional<TPhaseTemps> blackBox;
    std::optional<uint16_t> lamps; // none before the first live reply
    int standing = 0;              // alarms raised and not yet cleared
};

struct TPlantStation {
    int link = 0; // 0 已连接, 1 无应答, 2 串口断开
    QDateTime linkSince;
    int polled = 0;
    qint64 unacknowledged = 0;
    int central = 0; // 0 off, 1 已同步, 2 积压, 3 不可达
};

struct TPlantAlarmEvent {
    qint64 id = 0;
    QString event; // raised, cleared, acked, shelved, returned
    QString kind;
    int address = -1;
    QString name;
    QString text;
    QDateTime raised, cleared, acked;
    QString by;        // who acknowledged it; for "shelved" who shelved it
    QString priority;  // 紧急, 高, 中, 低
    QString comment;   // the acknowledgement's
    QDateTime shelvedUntil;
    QString reason;    // the shelving's
};

// The lamps as bits (0..3 phase A..D, 4 door, 5 fan, 6 alarm output, 7 trip output, 8 fault), each
// 1 when the main window shows it red; the alarm output is red when its bit is 0.
uint16_t LampBits(uint8_t phaseStatus, uint8_t outputStatus);
// A temperature the display shows (no ERR): within ShownLowest..ShownHighest.
bool Shown(double temperature);
// The health texts of the instruments (正常, 超时, 中断) and of the link.
QString HealthText(int health);
QString LinkText(int link);
// The calling thread yields to the polling: its nice value is raised by 5 (serving the plant must
// never cost the bus its pace, whatever the clients do).
void YieldToPolling();

// "HOST:PORT" as [Modbus] and [Web] Listen write it; false with the reason.
bool ParseHostPort(const QString& listen, QString& host, int& port, QString& error);
// Whether `host` names this machine alone (127.0.0.0/8 in numbers, localhost).
bool IsLoopbackHost(const QString& host);
// A non-blocking IPv4 socket listening on host:port ("" or "*": every address); `boundPort` the
// port it got. Throws std::runtime_error starting with `what`.
int ListenTcp(const QString& host, int port, const QString& what, int& boundPort);

} // namespace zeva
