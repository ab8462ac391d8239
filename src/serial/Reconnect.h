// TReconnect: after a hang-up (adapter pulled, device gone) the port is closed and opened again on
// the same name every 2 s, one attempt at a time, until it opens. No thread, no busy loop: a timer
// on the owner's thread.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace zeva {

class TComm;

class TReconnect : public QObject {
public:
    static constexpr int PeriodMs = 2000;

    // `reopened` runs once the port is open again.
    TReconnect(TComm& comm, std::function<void()> reopened, QObject* parent = nullptr);

    // Closes the port and starts trying; a second call while trying changes nothing.
    void Start();
    // Gives up trying (the port is taken over by someone else, or the program ends).
    void Stop();
    bool Active() const { return m_timer.isActive(); }
    int Attempts() const { return m_attempts; }

private:
    void attempt();

    TComm& m_comm;
    std::function<void()> m_reopened;
    QTimer m_timer;
    int m_attempts = 0;
};

} // namespace zeva
