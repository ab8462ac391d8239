// Line-setting types of the serial port component: enumerations, settings, the device-control block.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zeva {

enum class TDtrControl : uint8_t { DtrEnable = 0, DtrDisable = 1, DtrHandshake = 2 };
enum class TRtsControl : uint8_t { RtsEnable = 0, RtsDisable = 1, RtsHandshake = 2, RtsTransmissionAvailable = 3 };
enum class TByteSize : uint8_t { _5 = 0, _6 = 1, _7 = 2, _8 = 3 };
enum class TParity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class TStopBits : uint8_t { _1 = 0, _1_5 = 1, _2 = 2 };

// Why a port could not be opened, beside the fixed message.
enum class TPortFault { None, Missing, PermissionDenied, NotSerial, Busy, Other };

// Raised by OpenPort, carrying one of the component's fixed messages and, for a failed open, the
// cause: its kind, the errno and the device name.
class ECommsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    ECommsError(const char* message, TPortFault fault, int error, std::string device)
        : std::runtime_error(message), m_fault(fault), m_error(error), m_device(std::move(device))
    {
    }
    TPortFault Fault() const { return m_fault; }
    int Error() const { return m_error; }
    const std::string& Device() const { return m_device; }

private:
    TPortFault m_fault = TPortFault::None;
    int m_error = 0;
    std::string m_device;
};

// The kind of an errno left by a failed open.
TPortFault PortFaultOf(int error);

namespace CommMessage {
inline constexpr const char* AlreadyOpen = "This serial port already opened";
inline constexpr const char* OpenFailed = "Error opening serial port";
inline constexpr const char* NotCommHandle = "File handle is not a comm handle ";
inline constexpr const char* SetupFailed = "Cannot setup comm buffer";
inline constexpr const char* EventFailed = "Unable to create event";
inline constexpr const char* ReadThreadFailed = "Unable to create read thread";
inline constexpr const char* WriteThreadFailed = "Unable to create write thread";
} // namespace CommMessage

// Notification numbers: the first user message (1024) plus 1 to 5.
namespace CommMsg {
inline constexpr int ReceiveData = 1025; // also MsgWriteData on the writer's queue
inline constexpr int ReceiveError = 1026;
inline constexpr int RequestHangup = 1027;
inline constexpr int ModemStateChange = 1028;
inline constexpr int SendDataEmpty = 1029;
} // namespace CommMsg

// Line-error flags as the platform reports them.
namespace CommError {
inline constexpr uint32_t RxOver = 0x1;
inline constexpr uint32_t Overrun = 0x2;
inline constexpr uint32_t RxParity = 0x4;
inline constexpr uint32_t Frame = 0x8;
inline constexpr uint32_t Break = 0x10;
} // namespace CommError

// Every line setting of the component, with the defaults its constructor sets.
struct TCommSettings {
    uint32_t BaudRate = 9600;
    bool ParityCheck = false;
    bool Outx_CtsFlow = false;
    bool Outx_DsrFlow = false;
    TDtrControl DtrControl = TDtrControl::DtrEnable;
    bool DsrSensitivity = false;
    bool TxContinueOnXoff = true;
    bool Outx_XonXoffFlow = true;
    bool Inx_XonXoffFlow = true;
    bool ReplaceWhenParityError = false;
    bool IgnoreNullChar = false;
    TRtsControl RtsControl = TRtsControl::RtsEnable;
    uint16_t XonLimit = 500;
    uint16_t XoffLimit = 500;
    TByteSize ByteSize = TByteSize::_8;
    TParity Parity = TParity::None;
    TStopBits StopBits = TStopBits::_1;
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
    uint8_t ReplacedChar = 0x00;
};

struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 100;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// The device-control block as the component fills it: one flag word plus the line fields.
namespace DcbFlag {
inline constexpr uint32_t Binary = 0x0001;
inline constexpr uint32_t Parity = 0x0002;
inline constexpr uint32_t OutxCtsFlow = 0x0004;
inline constexpr uint32_t OutxDsrFlow = 0x0008;
inline constexpr uint32_t DtrControlShift = 4; // two bits
inline constexpr uint32_t DsrSensitivity = 0x0040;
inline constexpr uint32_t TXContinueOnXoff = 0x0080;
inline constexpr uint32_t OutX = 0x0100;
inline constexpr uint32_t InX = 0x0200;
inline constexpr uint32_t ErrorChar = 0x0400;
inline constexpr uint32_t Null = 0x0800;
inline constexpr uint32_t RtsControlShift = 12; // two bits
} // namespace DcbFlag

struct TDcb {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8; // 5..8
    uint8_t Parity = 0;   // 0..4: none, odd, even, mark, space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;

    uint32_t DtrControl() const { return (Flags >> DcbFlag::DtrControlShift) & 3; }
    uint32_t RtsControl() const { return (Flags >> DcbFlag::RtsControlShift) & 3; }
};

// The flag word is built afresh from the properties; every bit not named stays 0.
TDcb BuildDcb(const TCommSettings& s);

} // namespace zeva
