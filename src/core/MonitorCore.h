// TMonitorCore: the monitoring without a window, and the one owner of its state. The port, the
// poll table and its timer, the handling of every reply, the per-instrument readings, the
// recording, the health, the reopening of the port after a hang-up, the event journal and the
// forwarding. Windows read a const view of the state, change it through one setter per value and
// listen to the signals; the recorder logs them.
#pragma once

#include "AlarmCursor.h"
#include "Alarms.h"
#include "Comm.h"
#include "Forwarder.h"
#include "Database.h"
#include "Health.h"
#include "MainState.h"
#include "ModbusServer.h"
#include "WebSite.h"
#include "MqttPublisher.h"
#include "PollCycle.h"
#include "Recording.h"
#include "RecordWriter.h"
#include "RecordingLock.h"
#include "ReplyHandling.h"
#include "RxBuffer.h"
#include "Statements.h"
#include "Trend.h"
#include "WriteRights.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class QTimer;

namespace zeva {

class TIniFile;
class TReconnect;

// What a program does between the steps of the start-up sequence; every step may stay empty.
class TStartupSteps {
public:
    virtual ~TStartupSteps() = default;
    // Data.ini read and repaired (the repairs that could not be written wait in TakeWriteErrors).
    virtual void SettingsRead() {}
    virtual void PortFailed(const std::exception& /*error*/) {}
    // A port whose device does not exist yet: true to start all the same, with the link down and
    // the device tried every 2 s (the recorder, whose adapter may come after the boot).
    virtual bool WaitForMissingPort(const std::exception& /*error*/) { return false; }
    // The selected address read; the database is next.
    virtual void SelectionRead() {}
    virtual void DatabaseFailed() {}
    // Another program records into the same database: "数据库 … 已由另一个记录程序（PID …）使用".
    virtual void DatabaseInUse(const QString& /*text*/) {}
    // The whole registry in address order; SelectedID is set from it.
    virtual void RegistryRead(TQueryResult& /*all*/) {}
    // The poll table filled and the timer running; the forwarding is next.
    virtual void PollingStarted() {}
};

class TMonitorCore : public QObject {
    Q_OBJECT
public:
    explicit TMonitorCore(QObject* parent = nullptr);
    ~TMonitorCore() override;

    // ---- start and stop ----
    enum class TStartResult { Started, PortFailed, DatabaseFailed, DatabaseInUse };
    // "monitor" (the window) or "recorder": the MQTT client id's last part. Before Start.
    void SetProgram(const QString& program) { m_program = program; }
    // The start-up sequence: Data.ini in `dir`, the port, the selection, the database, the
    // registry, the polling, the forwarding, in that order; `steps` runs between them.
    TStartResult Start(const QString& dir, TStartupSteps& steps);
    QString OpenError() const { return m_db.OpenError(); }
    // The repairs of Data.ini that could not be written, collected by the steps so far.
    QStringList TakeWriteErrors();
    // The close step: polling stops, the port closes, the waiting rows are written (up to `flush`,
    // then kept in Data.db.pending), the forwarding ends.
    void Stop(std::chrono::milliseconds flush = CloseFlushLimit);
    // Readings and entries neither written nor kept at the close step (the programs then end
    // with code 74).
    std::size_t LostAtStop() const { return m_lostAtStop; }
    // Rows not yet stored may wait this long at the close step before they count as lost.
    static constexpr std::chrono::milliseconds CloseFlushLimit{1200};

    // ---- the state: a const view, and one setter per value ----
    const TMainState& State() const { return m_state; }
    // Each of these writes Data.ini first and then the value in memory; a failed write throws
    // "Unable to write to …" and leaves memory as it was. Before Start no file is written.
    // Interval_S: the live chart's step at once; the polling timer's period at the next start.
    void SetPollInterval(int seconds);
    // RunTimer: the recording counts with it from the next chunk on.
    void SetRecordCycle(int count);
    // Bate: the port takes it when it is opened next (see SetPortBaudRate).
    void SetBaudSetting(int baud);
    // Port: used at the next start; the open port keeps its name.
    void SetPortName(const QString& name);
    // ApparatusAddress, the main window's choice: SelectedAddress follows, SelectedID stays.
    void ChooseAddress(int address);
    // [Chart] Follow.
    void SetFollow(bool follow);
    // [Chart] AutoScale.
    void SetAutoScale(bool autoScale);
    // [Alarm] Beep.
    void SetBeep(bool beep);
    // In memory only. The configuration window's choice of instrument (Data.ini keeps the main
    // window's earlier choice), and the model its reply reported.
    void SelectInstrument(int address, qint64 id, const QString& typeName, const QString& capition);
    void SetModel(const QString& typeName, const QString& capition);
    // The rate at which the port opens next (the configuration window's link settings).
    void SetPortBaudRate(int baud);
    // The windows' own sections of Data.ini ([HistoryLine]); the core's keys change only through
    // the setters above.
    TIniFile& WindowSettings();

    // Who may change instruments now ([Security] WriteGroup read again each time).
    TWriteRights WriteRights();

    // ---- what the windows read ----
    TDatabase& Db() { return m_db; }
    TComm* ComM() const { return m_comM; }
    QTimer* TimerA() const { return m_timerA; }
    const TPollTable& PollTable() const { return m_poll; }
    // The requests whose answers are awaited (a test that injects a reply registers its request).
    TOutstanding& Outstanding() { return m_outstanding; }
    const TRecorder& Recorder() const { return m_recorder; }
    // The enabled instruments in polling order, as read at start.
    const TQueryResult& Enabled() const { return m_enabled; }
    TRecordWriter* RecordWriter() const { return m_writer.get(); }
    const THealth& Health() const { return m_health; }
    TReconnect* Reconnect() const { return m_reconnect; }
    // The forwarding's state; none when nothing is forwarded.
    std::optional<TForwarder::TStatus> CentralStatus() const;

    // Unacknowledged alarms: those stored (read again, unless the database takes nothing: then the
    // last count stands) and those raised while it takes nothing.
    struct TAlarmCount {
        qint64 stored = 0;
        qint64 waiting = 0;
    };
    TAlarmCount CountAlarms();
    qint64 StoredUnacknowledged() const { return m_unacknowledged; }
    // The operator acknowledges journal rows (all unacknowledged when `ids` is empty), with a
    // comment when it is not blank (the alarm counts change).
    void Acknowledge(const std::vector<qint64>& ids, const QString& user, const QString& comment = {});

    // ---- alarm management ----
    const TAlarmPolicy& AlarmPolicy() const { return m_policy; }
    // What the banner, the overview and the repeated beep go by, read again in one go (the last
    // one stands while the database takes nothing: no window waits for a locked database).
    struct TAlarmView {
        TAlarmSummary summary;
        std::map<int, int> standing;  // the most urgent standing priority per address (-1: the bus)
        std::vector<qint64> beeping;  // standing, unacknowledged, of priority 高 or above
    };
    const TAlarmView& AlarmView();
    // Shelves the journal's alarms among `ids` until `until`: they leave every count and the
    // banner; journaled with the reason. Returns how many were shelved (an alarm cleared and
    // acknowledged already is not).
    int Shelve(const std::vector<qint64>& ids, const QDateTime& until, const QString& user, const QString& reason);
    // Shelved alarms whose time is up and whose condition still holds come back unacknowledged
    // (the core asks every few seconds; a test may ask at once).
    void ReturnShelved();
    // Silences the repeated beep for the alarms standing now; a later one beeps again.
    void Mute(const QString& user);
    // An unacknowledged, unshelved, unmuted alarm of priority 高 or above stands (as the last
    // AlarmView read): the window beeps again (every RepeatBeepMs).
    bool BeepDue() const;
    static constexpr int RepeatBeepMs = 5000;

    // An event of the configuration window (a parameter write, a black-box clear, a forced output).
    void JournalEvent(int address, const TJournalKind& kind, const QString& detail);
    // The configuration exchange takes the port over and gives it back; only the core stops and
    // starts its polling timer.
    void SuspendForConfiguration();
    void ResumeAfterConfiguration();
    // The link is up or down: the one place where that reaches the health and the journal.
    void SetLinkUp(bool up);

    // Handlers, named after the component and its event.
    void TimerATimer();
    void ComMReceiveData(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength);
    void ComMRequestHangup();

signals:
    // A chunk with the right marker was handled (the readings and the journal are up to date).
    void replyHandled(const zeva::TChunkOutcome& out);
    // The link went down or came back; the health says which.
    void linkChanged();
    // An error for the operator (a handler's exception, the recording's troubles). Nobody
    // listening: the standard error output only.
    void errorRaised(const QString& text);
    // The recording's present state, after an error said its trouble: waiting (with the count)
    // or over (the database takes rows again).
    void recordingStateChanged(const QString& text);
    // New alarms, after their line on the standard error output (a beep, a desktop message).
    void alertRaised(const QStringList& texts);
    // The count of unacknowledged alarms may have changed.
    void alarmsChanged();
    // Journal entries were stored.
    void journalStored();
    // The forwarding to the central database changed its state.
    void centralChanged(const zeva::TForwarder::TStatus& status);
    // A value of the state changed through its setter.
    void settingsChanged();
    void selectionChanged();

private:
    // The start-up's parts.
    void readSettings(const QString& dir);
    void openPort();
    void readSelection();
    bool openDatabase();
    void readRegistry(TStartupSteps& steps);
    void startPolling();
    void startForwarding();
    // The Modbus server, the MQTT publisher and the web view ([Modbus], [Mqtt], [Web]), fed from here on.
    void startPlant();
    void startWeb();
    bool plantFed() const { return m_modbus || m_mqtt || m_web; }
    void stopPlant();
    TPlantInstrument plantInstrument(uint8_t address) const;
    // The instrument's standing alarms, shelved ones left out.
    std::vector<const TJournalKind*> standingKinds(uint8_t address) const;
    void webCounters();
    void plantInstrumentChanged(uint8_t address);
    void plantAllChanged();
    void plantStationChanged();
    void plantAlarmsChanged();

    void guard(const std::function<void()>& handler);
    void reportError(const QString& text);
    void reopened();
    void startRecordWriter();
    void recordWriterEvent(const TRecordWriter::TEvent& event);
    void sayRecordingWaits();
    void journaled();
    void storeRow(const TRecorder::TRow& row);
    void journal(const std::vector<TJournalOp>& ops);
    void syncInterrupted(uint8_t address);
    void restoreOpenAlarms();
    void alert(const QStringList& texts);
    void centralChangedHere(const TForwarder::TStatus& status);
    // [Alarm]'s delays and priorities, and each polled address's T4 from the registry.
    void readAlarmPolicy();
    void readThresholds();
    void readShelved();
    // A value of the state that Data.ini keeps: the file first (when there is one), then memory.
    template <typename T> void keep(const QString& section, const QString& key, T& value, T now);

    TMainState m_state;
    std::unique_ptr<TIniFile> m_settings;
    QStringList m_writeErrors;
    TDatabase m_db;
    TRxBuffer m_rx;
    TPollTable m_poll;
    TOutstanding m_outstanding;
    TRecordingLock m_recordingLock;
    QTimer* m_recordingWait = nullptr; // says the waiting count again while the recording fails
    std::size_t m_lostAtStop = 0;
    QElapsedTimer m_unaskedClock; // started with the core
    qint64 m_unaskedSaidAt = -1;  // when an unasked reply was last said, on that clock
    TRecorder m_recorder;
    TQueryResult m_enabled;
    THealth m_health;
    TAlarmTracker m_alarms;
    qint64 m_unacknowledged = 0;
    QStringList m_raisedNotShown; // raised alarms posted, not yet committed
    int m_alertedEarly = 0;       // of those, alerted already because the database took nothing
    std::unique_ptr<TRecordWriter> m_writer;
    std::unique_ptr<TTrendFiller> m_trendFiller;
    std::unique_ptr<TForwarder> m_forwarder;
    bool m_centralLost = false; // the journal said the central database is unreachable
    std::optional<TForwarder::TState> m_centralSaid; // the central state the log said last
    TComm* m_comM = nullptr;
    QTimer* m_timerA = nullptr;
    TReconnect* m_reconnect = nullptr;
    QString m_program = QStringLiteral("monitor");
    bool m_portWaited = false; // started without its device, waiting for it
    std::unique_ptr<TModbusServer> m_modbus;
    std::unique_ptr<TMqttPublisher> m_mqtt;
    std::unique_ptr<TWebSite> m_site; // before the server that calls it
    std::unique_ptr<TWebServer> m_web;
    qint64 m_webCountedMs = 0; // when the web's counters were last given
    TAlarmCursor m_alarmCursor;
    std::array<QDateTime, 256> m_replyTime{}; // of each address's newest accepted reply
    TAlarmPolicy m_policy;
    std::array<std::optional<double>, 256> m_t4{}; // each enabled address's trip threshold
    std::map<std::pair<int, QString>, TShelved> m_shelved; // shelved alarms by address and kind
    std::set<qint64> m_muted;                      // alarms whose repeated beep is silenced
    TAlarmView m_view;
    QTimer* m_shelfTimer = nullptr;
    QDateTime m_shelfRetryAt; // after the database refused a return
};

} // namespace zeva
