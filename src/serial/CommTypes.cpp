// The device-control block built from the component's properties.
#include "CommTypes.h"

#include <cerrno>

namespace zeva {

TPortFault PortFaultOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return TPortFault::Missing;
    case EACCES:
    case EPERM:
    case EROFS: return TPortFault::PermissionDenied;
    case ENOTTY:
    case EISDIR: return TPortFault::NotSerial;
    case EBUSY:
    case EWOULDBLOCK: return TPortFault::Busy;
    default: return TPortFault::Other;
    }
}

TDcb BuildDcb(const TCommSettings& s)
{
    TDcb d;
    d.BaudRate = s.BaudRate;
    uint32_t f = DcbFlag::Binary;
    if (s.ParityCheck)
        f |= DcbFlag::Parity;
    if (s.Outx_CtsFlow)
        f |= DcbFlag::OutxCtsFlow;
    if (s.Outx_DsrFlow)
        f |= DcbFlag::OutxDsrFlow;
    uint32_t dtr = 0;
    switch (s.DtrControl) {
    case TDtrControl::DtrEnable: dtr = 1; break;
    case TDtrControl::DtrHandshake: dtr = 2; break;
    case TDtrControl::DtrDisable: dtr = 0; break;
    }
    f |= dtr << DcbFlag::DtrControlShift;
    if (s.DsrSensitivity)
        f |= DcbFlag::DsrSensitivity;
    if (s.TxContinueOnXoff)
        f |= DcbFlag::TXContinueOnXoff;
    if (s.Outx_XonXoffFlow)
        f |= DcbFlag::OutX;
    if (s.Inx_XonXoffFlow)
        f |= DcbFlag::InX;
    if (s.ReplaceWhenParityError)
        f |= DcbFlag::ErrorChar;
    if (s.IgnoreNullChar)
        f |= DcbFlag::Null;
    uint32_t rts = 0;
    switch (s.RtsControl) {
    case TRtsControl::RtsEnable: rts = 1; break;
    case TRtsControl::RtsHandshake: rts = 2; break;
    case TRtsControl::RtsTransmissionAvailable: rts = 3; break;
    case TRtsControl::RtsDisable: rts = 0; break;
    }
    f |= rts << DcbFlag::RtsControlShift;
    d.Flags = f;
    d.XonLim = s.XonLimit;
    d.XoffLim = s.XoffLimit;
    d.ByteSize = uint8_t(uint8_t(s.ByteSize) + 5);
    d.Parity = uint8_t(s.Parity);
    d.StopBits = uint8_t(s.StopBits);
    d.XonChar = s.XonChar;
    d.XoffChar = s.XoffChar;
    d.ErrorChar = s.ReplacedChar;
    return d;
}

} // namespace zeva
