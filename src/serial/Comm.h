// TComm: the serial port component. It opens one port, applies its line settings and time-outs,
// runs a reader and a writer thread, and raises its events on the owner's thread.
//
// Thread contract: every member function, setter and event handler belongs to the thread that
// created the component (the user-interface thread, which must run a Qt event loop for events to
// arrive). The reader thread only reads the port; the writer thread only writes it. They meet the
// owner's thread solely through posted notifications (dispatched in posting order) and the
// writer's queue. OnReceiveData's buffer is valid only while the handler runs and is followed by
// one zero byte.
#pragma once

#include "CommTypes.h"
#include "PosixPort.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zeva {

class TComm;
class TReadThread;
class TWriteThread;
class TCommNotifier;

using TReceiveDataEvent = std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TSendDataEmptyEvent = std::function<void(TComm* Sender)>;

class TComm : public QObject {
    Q_OBJECT
public:
    explicit TComm(QObject* owner = nullptr);
    // An open component closes first, so no thread outlives the handles it uses.
    ~TComm() override;

    void OpenPort();
    void ClosePort();
    // Copies and queues; true means queued, not sent.
    bool SendData(const void* data, uint16_t size);
    bool IsOpen() const { return m_port.fd >= 0; }

    // Events, raised only when assigned.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

    // Stored only: take effect at the next OpenPort.
    const std::string& CommName() const { return m_commName; }
    void SetCommName(const std::string& v) { m_commName = v; }
    TParity Parity() const { return m_settings.Parity; }
    void SetParity(TParity v) { m_settings.Parity = v; }

    // Line settings: re-applied at once while open.
    uint32_t BaudRate() const { return m_settings.BaudRate; }
    void SetBaudRate(uint32_t v) { setLine(m_settings.BaudRate, v); }
    bool ParityCheck() const { return m_settings.ParityCheck; }
    void SetParityCheck(bool v) { setLine(m_settings.ParityCheck, v); }
    bool Outx_CtsFlow() const { return m_settings.Outx_CtsFlow; }
    void SetOutx_CtsFlow(bool v) { setLine(m_settings.Outx_CtsFlow, v); }
    bool Outx_DsrFlow() const { return m_settings.Outx_DsrFlow; }
    void SetOutx_DsrFlow(bool v) { setLine(m_settings.Outx_DsrFlow, v); }
    TDtrControl DtrControl() const { return m_settings.DtrControl; }
    void SetDtrControl(TDtrControl v) { setLine(m_settings.DtrControl, v); }
    bool DsrSensitivity() const { return m_settings.DsrSensitivity; }
    void SetDsrSensitivity(bool v) { setLine(m_settings.DsrSensitivity, v); }
    bool TxContinueOnXoff() const { return m_settings.TxContinueOnXoff; }
    void SetTxContinueOnXoff(bool v) { setLine(m_settings.TxContinueOnXoff, v); }
    bool Outx_XonXoffFlow() const { return m_settings.Outx_XonXoffFlow; }
    void SetOutx_XonXoffFlow(bool v) { setLine(m_settings.Outx_XonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return m_settings.Inx_XonXoffFlow; }
    void SetInx_XonXoffFlow(bool v) { setLine(m_settings.Inx_XonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return m_settings.ReplaceWhenParityError; }
    void SetReplaceWhenParityError(bool v) { setLine(m_settings.ReplaceWhenParityError, v); }
    bool IgnoreNullChar() const { return m_settings.IgnoreNullChar; }
    void SetIgnoreNullChar(bool v) { setLine(m_settings.IgnoreNullChar, v); }
    TRtsControl RtsControl() const { return m_settings.RtsControl; }
    void SetRtsControl(TRtsControl v) { setLine(m_settings.RtsControl, v); }
    uint16_t XonLimit() const { return m_settings.XonLimit; }
    void SetXonLimit(uint16_t v) { setLine(m_settings.XonLimit, v); }
    uint16_t XoffLimit() const { return m_settings.XoffLimit; }
    void SetXoffLimit(uint16_t v) { setLine(m_settings.XoffLimit, v); }
    TByteSize ByteSize() const { return m_settings.ByteSize; }
    void SetByteSize(TByteSize v) { setLine(m_settings.ByteSize, v); }
    TStopBits StopBits() const { return m_settings.StopBits; }
    void SetStopBits(TStopBits v) { setLine(m_settings.StopBits, v); }
    uint8_t XonChar() const { return m_settings.XonChar; }
    void SetXonChar(uint8_t v) { setLine(m_settings.XonChar, v); }
    uint8_t XoffChar() const { return m_settings.XoffChar; }
    void SetXoffChar(uint8_t v) { setLine(m_settings.XoffChar, v); }
    uint8_t ReplacedChar() const { return m_settings.ReplacedChar; }
    void SetReplacedChar(uint8_t v) { setLine(m_settings.ReplacedChar, v); }

    // Time-outs in ms: all five re-applied at once while open.
    uint32_t ReadIntervalTimeout() const { return m_timeouts.ReadIntervalTimeout; }
    void SetReadIntervalTimeout(uint32_t v) { setTimeout(m_timeouts.ReadIntervalTimeout, v); }
    uint32_t ReadTotalTimeoutMultiplier() const { return m_timeouts.ReadTotalTimeoutMultiplier; }
    void SetReadTotalTimeoutMultiplier(uint32_t v) { setTimeout(m_timeouts.ReadTotalTimeoutMultiplier, v); }
    uint32_t ReadTotalTimeoutConstant() const { return m_timeouts.ReadTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(uint32_t v) { setTimeout(m_timeouts.ReadTotalTimeoutConstant, v); }
    uint32_t WriteTotalTimeoutMultiplier() const { return m_timeouts.WriteTotalTimeoutMultiplier; }
    void SetWriteTotalTimeoutMultiplier(uint32_t v) { setTimeout(m_timeouts.WriteTotalTimeoutMultiplier, v); }
    uint32_t WriteTotalTimeoutConstant() const { return m_timeouts.WriteTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(uint32_t v) { setTimeout(m_timeouts.WriteTotalTimeoutConstant, v); }

    const TCommSettings& settings() const { return m_settings; }

private:
    friend class TCommNotifier;

    template <typename T> void setLine(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        if (IsOpen())
            ApplyLineSettings();
    }
    template <typename T> void setTimeout(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        if (IsOpen())
            ApplyTimeouts();
    }
    void ApplyLineSettings();
    void ApplyTimeouts();
    void stopReader();
    void stopWriter();
    void closeHandle();

    std::string m_commName = "COM2";
    TCommSettings m_settings;
    TCommTimeouts m_timeouts;
    posix::TPortShared m_port;
    std::unique_ptr<posix::TStopEvent> m_stopEvent;
    std::unique_ptr<TReadThread> m_reader;
    std::unique_ptr<TWriteThread> m_writer;
    TCommNotifier* m_notificationWindow = nullptr;
};

// The property values both windows give their component: 8 data bits, no parity, one stop bit,
// no flow control of any kind (so every byte value, 0x11 and 0x13 included, passes as data),
// DTR and RTS on, a 100 ms interval between bytes ending a read, no total time-outs.
void SetInstrumentBusProperties(TComm& c);

} // namespace zeva
