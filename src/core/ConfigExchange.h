// TConfigExchange: the configuration window's own exchange with one instrument, without a window.
// It takes the port over from the monitoring core (CommB on the core's port), reads the parameter
// group the window asks for once a second, decodes the replies into the selected instrument's
// registry row, sends the writes with their history row and journal entry, reopens CommB after a
// hang-up and marks three unanswered reads; closing hands the port back to the core.
#pragma once

#include "Database.h"
#include "Frames.h"
#include "RxBuffer.h"
#include "Statements.h"
#include "WriteReview.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

namespace zeva {

class TComm;
class TMonitorCore;
class TReconnect;

class TConfigExchange : public QObject {
    Q_OBJECT
public:
    explicit TConfigExchange(TMonitorCore& core, QObject* parent = nullptr);
    // An exchange destroyed without Close still hands the port back.
    ~TConfigExchange() override;

    // The registry copy (TempApparatus) the window's selectors list: made anew from Apparatus; a
    // copy left from an earlier run is used as it is.
    TQueryResult OpenRegistryCopy();
    // The highest temperatures that the polling received from the selected instrument itself go
    // into its row (none received: nothing is written).
    void StoreHighest();
    // Takes the port over: the core's polling stops, CommB opens on the core's port name and rate
    // (a failure is said and the port tried every 2 s) and the reads start.
    void Open();
    // Hands the port back (the core opens its port and polls again) and drops the registry copy;
    // a failure of either is said, and the exchange is closed all the same. Once only.
    void Close();
    bool Closed() const { return m_closed; }

    // What a tick asks: the address and the read command of the group on view; none sends nothing.
    struct TRead {
        uint8_t address = 0;
        uint8_t command = 0;
    };
    std::function<std::optional<TRead>()> ReadSource;

    // What a write, a forced output or a clear will do, with what the core knows of the
    // instrument at `address` (its newest readings, the registry).
    TReviewContext ReviewContext(uint8_t address, int newAddress = -1);
    // Writes, after the operator confirmed `review`: refused without the write group's membership
    // and for values the instrument cannot hold (nothing sent then); otherwise the frame goes out,
    // a history row (what the window shows, stamped now, with the acting user) is stored and the
    // journal keeps the review's values before and after. A history row the database refuses is
    // not the operator's to handle.
    void Write(TWriteGroup group, uint8_t address, const std::vector<double>& values, THistoryRow row,
               const TWriteReview& review);
    void ClearBlackBox(uint8_t address, const TWriteReview& review);
    // `output` and `action` are the selectors' trimmed texts.
    void ForceOutput(uint8_t address, const QString& output, const QString& action, const TWriteReview& review);
    // The selected row's polling times, as the core holds them now.
    void StoreRunTimes();
    // The PC's link: the selected row takes the port and rate, both ports take the rate, and CommB
    // opens again on its own port (throws when it cannot; it stays closed then).
    void ApplyLinkSettings(const QString& port, int baud);

    TComm* CommB() const { return m_commB; }
    QTimer* TimerB() const { return m_timerB; }
    TReconnect* ReconnectB() const { return m_reconnectB; }
    // Reads in a row that got no reply before the next one went out.
    int UnansweredReads() const { return m_unansweredReads; }
    bool Answering() const { return m_answering; }
    // The receive buffer lives for the whole run, across openings.
    static TRxBuffer& ReceiveBuffer();

    // Handlers, named after the component and its event.
    void TimerBTimer();
    void CommBReceiveData(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength);

signals:
    void thresholdsRead(const zeva::TThresholds& t);
    void compensationRead(const zeva::TCompensation& c);
    void fanTimingRead(int tf, int run);
    void linkRead(int address, int baud);
    // After three unanswered reads (false), and at the next reply (true).
    void answeringChanged(bool answering);
    // An error for the operator; nobody listening: the standard error output only.
    void errorRaised(const QString& text);

private:
    void guard(const std::function<void()>& handler);
    void send(const TFrame& frame);
    void mayWrite();
    void handleReply(uint8_t command, const uint8_t* data);

    TMonitorCore& m_core;
    TDatabase& m_db;
    TComm* m_commB = nullptr;
    QTimer* m_timerB = nullptr;
    TReconnect* m_reconnectB = nullptr;
    int m_unansweredReads = 0;
    bool m_readOutstanding = false;
    bool m_answering = true;
    bool m_open = false;
    bool m_closed = false;
};

} // namespace zeva
