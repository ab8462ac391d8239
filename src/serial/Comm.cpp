// TComm: opening, configuring and closing the port, sending, and dispatching notifications.
#include "Comm.h"

#include "CommThreads.h"
#include "PortNames.h"

#include <QCoreApplication>
#include <QEvent>

namespace zeva {

namespace {

class TCommEvent : public QEvent {
public:
    explicit TCommEvent(TCommPost&& p) : QEvent(QEvent::Type(p.message)), post(std::move(p)) {}
    TCommPost post;
};

} // namespace

// The invisible target on the owner's thread to which both threads post.
class TCommNotifier : public QObject {
public:
    explicit TCommNotifier(TComm* comm) : QObject(comm), m_comm(comm) {}

    bool event(QEvent* e) override
    {
        int type = int(e->type());
        if (type < CommMsg::ReceiveData || type > CommMsg::SendDataEmpty)
            return QObject::event(e);
        // The copy is released with the event once the handler returns, assigned or not.
        TCommPost& p = static_cast<TCommEvent*>(e)->post;
        switch (type) {
        case CommMsg::ReceiveData:
            if (m_comm->OnReceiveData)
                m_comm->OnReceiveData(m_comm, p.copy.get(), p.count);
            break;
        case CommMsg::ReceiveError:
            if (m_comm->OnReceiveError)
                m_comm->OnReceiveError(m_comm, p.lParam);
            break;
        case CommMsg::RequestHangup:
            if (m_comm->OnRequestHangup)
                m_comm->OnRequestHangup(m_comm);
            break;
        case CommMsg::ModemStateChange:
            if (m_comm->OnModemStateChange)
                m_comm->OnModemStateChange(m_comm, p.lParam);
            break;
        case CommMsg::SendDataEmpty:
            if (m_comm->OnSendDataEmpty)
                m_comm->OnSendDataEmpty(m_comm);
            break;
        }
        return true;
    }

    TPostFn poster()
    {
        return [this](TCommPost&& p) {
            QCoreApplication::postEvent(this, new TCommEvent(std::move(p)));
            return true;
        };
    }

private:
    TComm* m_comm;
};

TComm::TComm(QObject* owner) : QObject(owner), m_notificationWindow(new TCommNotifier(this)) {}

TComm::~TComm()
{
    ClosePort();
}

void TComm::OpenPort()
{
    if (IsOpen())
        throw ECommsError(CommMessage::AlreadyOpen);
    int fd = -1, error = 0;
    const std::string device = ResolvePortName(m_commName);
    switch (posix::OpenDevice(device.c_str(), fd, error)) {
    case posix::TOpenResult::OpenFailed:
        throw ECommsError(CommMessage::OpenFailed, PortFaultOf(error), error, device);
    case posix::TOpenResult::NotCommHandle:
        throw ECommsError(CommMessage::NotCommHandle, TPortFault::NotSerial, error, device);
    case posix::TOpenResult::Ok: break;
    }
    // Driver queue sizes have no POSIX counterpart: that step always succeeds.
    m_port.fd = fd;
    m_port.hangupPosted = false;
    // The line is made raw before the purge: bytes that arrived while it was still cooked (edited,
    // echoed) are thrown away with the rest, never delivered.
    ApplyTimeouts();
    ApplyLineSettings();
    posix::Purge(fd, posix::PurgeBoth);

    m_stopEvent = std::make_unique<posix::TStopEvent>();
    if (!m_stopEvent->Create()) {
        m_stopEvent.reset();
        closeHandle();
        throw ECommsError(CommMessage::EventFailed);
    }
    try {
        m_reader = std::make_unique<TReadThread>(m_port, *m_stopEvent, m_notificationWindow->poster());
    } catch (const std::exception&) {
        m_reader.reset();
        m_stopEvent.reset();
        closeHandle();
        throw ECommsError(CommMessage::ReadThreadFailed);
    }
    try {
        m_writer = std::make_unique<TWriteThread>(m_port, *m_stopEvent, m_notificationWindow->poster());
    } catch (const std::exception&) {
        stopReader();
        m_writer.reset();
        m_stopEvent.reset();
        closeHandle();
        throw ECommsError(CommMessage::WriteThreadFailed);
    }
    m_reader->Start();
    m_writer->Start();
}

void TComm::stopReader()
{
    if (!m_reader)
        return;
    m_stopEvent->Set();
    posix::Purge(m_port.fd, posix::PurgeInput);
    m_reader->WaitFor();
    m_reader.reset();
}

void TComm::stopWriter()
{
    if (!m_writer)
        return;
    m_stopEvent->Set();
    posix::Purge(m_port.fd, posix::PurgeOutput);
    m_writer->WaitFor();
    m_writer.reset(); // requests not yet written are dropped with it
}

void TComm::closeHandle()
{
    // The line stays as the component set it: restoring the cooked settings it found would echo and
    // edit the bus's bytes for as long as anyone holds the device, the next window's port included.
    posix::CloseDevice(m_port.fd);
    m_port.fd = -1;
}

void TComm::ClosePort()
{
    if (!IsOpen())
        return;
    stopReader();
    stopWriter();
    m_stopEvent.reset();
    closeHandle();
}

bool TComm::SendData(const void* data, uint16_t size)
{
    if (!m_writer || m_writer->Finished() || size == 0)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
        return m_writer->PostWrite(std::vector<uint8_t>(bytes, bytes + size));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TComm::ApplyLineSettings()
{
    posix::ApplyDcb(m_port.fd, BuildDcb(m_settings)); // a refused setting leaves what the device had
}

void TComm::ApplyTimeouts()
{
    m_port.readInterval = m_timeouts.ReadIntervalTimeout;
    m_port.readTotalMultiplier = m_timeouts.ReadTotalTimeoutMultiplier;
    m_port.readTotalConstant = m_timeouts.ReadTotalTimeoutConstant;
    m_port.writeTotalMultiplier = m_timeouts.WriteTotalTimeoutMultiplier;
    m_port.writeTotalConstant = m_timeouts.WriteTotalTimeoutConstant;
}

void SetInstrumentBusProperties(TComm& c)
{
    c.SetByteSize(TByteSize::_8);
    c.SetParity(TParity::None);
    c.SetStopBits(TStopBits::_1);
    c.SetParityCheck(false);
    c.SetOutx_CtsFlow(false);
    c.SetOutx_DsrFlow(false);
    c.SetDtrControl(TDtrControl::DtrEnable);
    c.SetDsrSensitivity(false);
    c.SetTxContinueOnXoff(true);
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    c.SetReplaceWhenParityError(false);
    c.SetIgnoreNullChar(false);
    c.SetRtsControl(TRtsControl::RtsEnable);
    c.SetXonLimit(500);
    c.SetXoffLimit(500);
    c.SetXonChar(0x11);
    c.SetXoffChar(0x13);
    c.SetReplacedChar(0x00);
    c.SetReadIntervalTimeout(100);
    c.SetReadTotalTimeoutMultiplier(0);
    c.SetReadTotalTimeoutConstant(0);
    c.SetWriteTotalTimeoutMultiplier(0);
    c.SetWriteTotalTimeoutConstant(0);
}

} // namespace zeva
