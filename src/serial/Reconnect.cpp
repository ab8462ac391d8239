// Reopening a port after a hang-up.
#include "Reconnect.h"

#include "Comm.h"

namespace zeva {

TReconnect::TReconnect(TComm& comm, std::function<void()> reopened, QObject* parent)
    : QObject(parent), m_comm(comm), m_reopened(std::move(reopened))
{
    m_timer.setInterval(PeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { attempt(); });
}

void TReconnect::Start()
{
    m_comm.ClosePort();
    if (!m_timer.isActive()) {
        m_attempts = 0;
        m_timer.start();
    }
}

void TReconnect::Stop()
{
    m_timer.stop();
}

void TReconnect::attempt()
{
    ++m_attempts;
    try {
        m_comm.OpenPort();
    } catch (const ECommsError&) {
        return; // still gone, or held: the next attempt in 2 s
    }
    m_timer.stop();
    if (m_reopened)
        m_reopened();
}

} // namespace zeva
