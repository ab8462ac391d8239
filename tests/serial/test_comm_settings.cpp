// The component's defaults, ordinals, the device-control block and its termios form.
#include "Comm.h"
#include "PortNames.h"
#include "PosixPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace zeva;

TEST(CommDefaults, PropertiesAndOrdinals)
{
    TComm c;
    EXPECT_EQ(c.CommName(), "COM2");
    EXPECT_EQ(c.BaudRate(), 9600u);
    EXPECT_FALSE(c.ParityCheck());
    EXPECT_FALSE(c.Outx_CtsFlow());
    EXPECT_FALSE(c.Outx_DsrFlow());
    EXPECT_EQ(c.DtrControl(), TDtrControl::DtrEnable);
    EXPECT_FALSE(c.DsrSensitivity());
    EXPECT_TRUE(c.TxContinueOnXoff());
    EXPECT_TRUE(c.Outx_XonXoffFlow());
    EXPECT_TRUE(c.Inx_XonXoffFlow());
    EXPECT_FALSE(c.ReplaceWhenParityError());
    EXPECT_FALSE(c.IgnoreNullChar());
    EXPECT_EQ(c.RtsControl(), TRtsControl::RtsEnable);
    EXPECT_EQ(c.XonLimit(), 500);
    EXPECT_EQ(c.XoffLimit(), 500);
    EXPECT_EQ(c.ByteSize(), TByteSize::_8);
    EXPECT_EQ(c.Parity(), TParity::None);
    EXPECT_EQ(c.StopBits(), TStopBits::_1);
    EXPECT_EQ(c.XonChar(), 0x11);
    EXPECT_EQ(c.XoffChar(), 0x13);
    EXPECT_EQ(c.ReplacedChar(), 0x00);
    EXPECT_EQ(c.ReadIntervalTimeout(), 100u);
    EXPECT_EQ(c.ReadTotalTimeoutMultiplier(), 0u);
    EXPECT_EQ(c.ReadTotalTimeoutConstant(), 0u);
    EXPECT_EQ(c.WriteTotalTimeoutMultiplier(), 0u);
    EXPECT_EQ(c.WriteTotalTimeoutConstant(), 0u);
    EXPECT_FALSE(c.IsOpen());

    EXPECT_EQ(int(TDtrControl::DtrHandshake), 2);
    EXPECT_EQ(int(TRtsControl::RtsTransmissionAvailable), 3);
    EXPECT_EQ(int(TByteSize::_5), 0);
    EXPECT_EQ(int(TByteSize::_8), 3);
    EXPECT_EQ(int(TParity::Space), 4);
    EXPECT_EQ(int(TStopBits::_1_5), 1);
    EXPECT_EQ(int(TStopBits::_2), 2);
}

TEST(Dcb, FlagWordBuiltAfresh)
{
    TCommSettings s;
    TDcb d = BuildDcb(s);
    EXPECT_EQ(d.Flags, 0x0001u | 0x0010 | 0x0080 | 0x0100 | 0x0200 | 0x1000);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.XonLim, 500);

    // Both windows: no flow control of any kind.
    s.Outx_XonXoffFlow = false;
    s.Inx_XonXoffFlow = false;
    EXPECT_EQ(BuildDcb(s).Flags, 0x0001u | 0x0010 | 0x0080 | 0x1000);

    s.ParityCheck = s.Outx_CtsFlow = s.Outx_DsrFlow = s.DsrSensitivity = true;
    s.ReplaceWhenParityError = s.IgnoreNullChar = true;
    s.TxContinueOnXoff = false;
    s.DtrControl = TDtrControl::DtrHandshake;
    s.RtsControl = TRtsControl::RtsTransmissionAvailable;
    s.ByteSize = TByteSize::_5;
    s.Parity = TParity::Mark;
    s.StopBits = TStopBits::_1_5;
    s.ReplacedChar = 0x3F;
    d = BuildDcb(s);
    EXPECT_EQ(d.Flags, 0x0001u | 0x0002 | 0x0004 | 0x0008 | 0x0020 | 0x0040 | 0x0400 | 0x0800 | 0x3000);
    EXPECT_EQ(d.ByteSize, 5);
    EXPECT_EQ(d.Parity, 3);
    EXPECT_EQ(d.StopBits, 1);
    EXPECT_EQ(d.ErrorChar, 0x3F);
    s.DtrControl = TDtrControl::DtrDisable;
    s.RtsControl = TRtsControl::RtsDisable;
    EXPECT_EQ(BuildDcb(s).Flags & 0x3030, 0u);
}

TEST(Dcb, TermiosFormFromEveryFlagSet)
{
    TCommSettings s;
    s.Outx_XonXoffFlow = s.Inx_XonXoffFlow = false;
    // Start from a line with every flag on, so each flag the block must clear is seen cleared.
    termios t;
    std::memset(&t, 0xFF, sizeof t);
    ASSERT_TRUE(posix::DcbToTermios(BuildDcb(s), t));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | BRKINT | PARMRK),
              0u)
        << "every byte passes as data";
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << "nothing rewritten on the way out";
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

    s.Parity = TParity::Space;
    s.StopBits = TStopBits::_1_5;
    s.ByteSize = TByteSize::_7;
    s.ParityCheck = true;
    s.Outx_CtsFlow = true;
    s.Outx_XonXoffFlow = true;
    s.BaudRate = 300;
    ASSERT_TRUE(posix::DcbToTermios(BuildDcb(s), t));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "1.5 stop bits map to 2";
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_iflag & IXOFF, 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B300));

    // A speed outside the table: every flag still applies, the speed is left for termios2.
    s.BaudRate = 12345;
    s.Parity = TParity::None;
    s.Outx_XonXoffFlow = false;
    EXPECT_FALSE(posix::DcbToTermios(BuildDcb(s), t));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_lflag & ICANON, 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B300)) << "speed untouched";
}

TEST(LineErrors, CounterDeltasToFlags)
{
    posix::TLineCounters a, b;
    EXPECT_EQ(posix::ErrorFlags(a, b), 0u);
    b.frame = 2;
    b.brk = 1;
    EXPECT_EQ(posix::ErrorFlags(a, b), CommError::Frame | CommError::Break);
    b = a;
    b.overrun = b.parity = b.bufOverrun = 5;
    EXPECT_EQ(posix::ErrorFlags(a, b), CommError::Overrun | CommError::RxParity | CommError::RxOver);
}

TEST(PortNames, ComNamesMapToTtySUnlessAFileOfThatNameIsHere)
{
    auto dir = std::filesystem::temp_directory_path() / ("zeva-ports-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("com2"), "/dev/ttyS1") << "any letter case, as on the original platform";
    EXPECT_EQ(ResolvePortName("COM12"), "/dev/ttyS11");
    for (const char* kept : {"COM0", "COM", "COMx", "COM1 ", "/dev/ttyUSB0", "./COM1", "bus", ""})
        EXPECT_EQ(ResolvePortName(kept), kept) << kept;
    std::ofstream("COM3") << "";
    EXPECT_EQ(ResolvePortName("COM3"), "COM3") << "a file of that name in the working folder";
    std::filesystem::create_symlink("/dev/null", "COM4");
    EXPECT_EQ(ResolvePortName("COM4"), "COM4") << "a link (the simulator's) as well";
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
}

TEST(PortNames, ListHasStableNamesAdaptersAndTheUartsPresent)
{
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("zeva-devs-" + std::to_string(getpid()));
    fs::create_directories(root / "dev" / "serial" / "by-id");
    for (const char* name : {"ttyS0", "ttyS1", "ttyS10", "ttyS2", "ttyUSB1", "ttyUSB0", "ttyACM0", "tty0", "ttyX"})
        std::ofstream(root / "dev" / name) << "";
    std::ofstream(root / "dev" / "serial" / "by-id" / "usb-FTDI_FT232R-if00-port0") << "";
    // The UART type of each ttyS: 0 is no UART behind the name.
    for (auto [name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS2", "0"}, {"ttyS10", "4"}}) {
        fs::create_directories(root / "sys" / name);
        std::ofstream(root / "sys" / name / "type") << type << "\n";
    }
    std::vector<std::string> want{
        (root / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0").string(),
        (root / "dev/ttyUSB0").string(),
        (root / "dev/ttyUSB1").string(),
        (root / "dev/ttyACM0").string(),
        (root / "dev/ttyS0").string(),
        (root / "dev/ttyS10").string(),
    };
    EXPECT_EQ(ListSerialDevices((root / "dev").string(), (root / "sys").string()), want);
    EXPECT_TRUE(ListSerialDevices((root / "none").string(), (root / "none").string()).empty());
    fs::remove_all(root);
}
