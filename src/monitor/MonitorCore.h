// TMonitorCore: the monitoring without a window. The port, the poll table and its timer, the
// handling of every reply, the per-instrument readings, the recording, the health, the reopening
// of the port after a hang-up and the event journal. The main window shows what it reports; the
// recorder logs it.
#pragma once

#include "Alarms.h"
#include "Comm.h"
#include "Forwarder.h"
#include "Database.h"
#include "Health.h"
#include "MainState.h"
#include "PollCycle.h"
#include "Recording.h"
#include "RecordWriter.h"
#include "ReplyHandling.h"
#include "RxBuffer.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace zeva {

class TReconnect;

class TMonitorCore : public QObject {
public:
    explicit TMonitorCore(QObject* parent = nullptr);
    ~TMonitorCore() override;

    // What the core reports. Every hook may stay empty.
    struct THooks {
        // A chunk with the right marker was handled (the readings and the journal are up to date).
        std::function<void(const TChunkOutcome&)> reply;
        // The link went down or came back; the health says which.
        std::function<void()> linkChanged;
        // An error for the operator (a handler's exception, the recording's troubles). Empty: the
        // standard error output only.
        std::function<void(const QString&)> error;
        // What an earlier error said is over (the database takes rows again).
        std::function<void(const QString&)> recovered;
        // New alarms, after their line on the standard error output (a beep, a desktop message).
        std::function<void(const QStringList&)> alert;
        // The count of unacknowledged alarms may have changed.
        std::function<void()> alarmsChanged;
        // Journal entries were stored.
        std::function<void()> journalStored;
        // The forwarding to the central database changed its state.
        std::function<void(const TForwarder::TStatus&)> centralChanged;
    };
    THooks Hooks;

    // The start-up, step by step in this order; a window does its own part between the steps.
    // Data.ini in `dir`, read and repaired as at every start.
    void ReadSettings(const QString& dir);
    // Throws the port's error.
    void OpenPort();
    // The selected instrument's address from Data.ini (repaired when missing).
    void ReadSelection();
    // The database, the recording's writer, the journal table and the alarms still open in it;
    // false (and OpenError) when the database is not there.
    bool OpenDatabase();
    QString OpenError() const { return m_db.OpenError(); }
    // The repairs of Data.ini that could not be written, collected by the steps so far.
    QStringList TakeWriteErrors();
    // Reads the enabled instruments, fills the poll table and the health, and starts polling.
    void StartPolling();
    // After the database: a copy of what is stored goes to the central database that Data.ini's
    // section Central names, on a thread of its own (no section: nothing happens).
    void StartForwarding();
    // The forwarding's state; none when nothing is forwarded.
    std::optional<TForwarder::TStatus> CentralStatus() const;
    // The close step: polling stops, the port closes, the waiting rows are written (up to `flush`),
    // the forwarding ends.
    void Stop(std::chrono::milliseconds flush = CloseFlushLimit);
    // Rows not yet stored may wait this long at the close step before they count as lost.
    static constexpr std::chrono::milliseconds CloseFlushLimit{1200};

    TMainState& State() { return m_state; }
    TDatabase& Db() { return m_db; }
    TComm* ComM() const { return m_comM; }
    QTimer* TimerA() const { return m_timerA; }
    TPollTable& PollTable() { return m_poll; }
    TRecorder& Recorder() { return m_recorder; }
    // The enabled instruments in polling order, as read at start.
    TQueryResult& Enabled() { return m_enabled; }
    const TQueryResult& Enabled() const { return m_enabled; }
    TRecordWriter* RecordWriter() const { return m_writer.get(); }
    const THealth& Health() const { return m_health; }
    TReconnect* Reconnect() const { return m_reconnect; }
    const TAlarmTracker& Alarms() const { return m_alarms; }

    // Unacknowledged alarms: those stored (read again, unless the database takes nothing: then the
    // last count stands) and those raised while it takes nothing.
    struct TAlarmCount {
        qint64 stored = 0;
        qint64 waiting = 0;
    };
    TAlarmCount CountAlarms();
    qint64 StoredUnacknowledged() const { return m_unacknowledged; }

    // An event of the configuration window (a parameter write, a black-box clear, a forced output).
    void JournalEvent(int address, const TJournalKind& kind, const QString& detail);
    // The configuration window takes the port over and gives it back.
    void SuspendForConfiguration();
    void ResumeAfterConfiguration();
    // The link is up or down: the one place where that reaches the health and the journal.
    void SetLinkUp(bool up);

    // Handlers, named after the component and its event.
    void TimerATimer();
    void ComMReceiveData(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength);
    void ComMRequestHangup();

private:
    void guard(const std::function<void()>& handler);
    void reportError(const QString& text);
    void reopened();
    void startRecordWriter();
    void recordWriterEvent(const TRecordWriter::TEvent& event);
    void storeRow(const TRecorder::TRow& row);
    void journal(const std::vector<TJournalOp>& ops);
    void syncInterrupted(uint8_t address);
    void restoreOpenAlarms();
    void alert(const QStringList& texts);
    void centralChanged(const TForwarder::TStatus& status);

    TMainState m_state;
    QStringList m_writeErrors;
    TDatabase m_db;
    TRxBuffer m_rx;
    TPollTable m_poll;
    TRecorder m_recorder;
    TQueryResult m_enabled;
    THealth m_health;
    TAlarmTracker m_alarms;
    qint64 m_unacknowledged = 0;
    QStringList m_raisedNotShown; // raised alarms posted, not yet committed
    int m_alertedEarly = 0;       // of those, alerted already because the database took nothing
    std::unique_ptr<TRecordWriter> m_writer;
    std::unique_ptr<TForwarder> m_forwarder;
    bool m_centralLost = false; // the journal said the central database is unreachable
    TComm* m_comM = nullptr;
    QTimer* m_timerA = nullptr;
    TReconnect* m_reconnect = nullptr;
};

} // namespace zeva
