// Port names and the serial devices present.
#include "PortNames.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zeva {

namespace fs = std::filesystem;

std::string ResolvePortName(const std::string& name)
{
    auto upper = [&](std::size_t i) { return std::toupper(static_cast<unsigned char>(name[i])); };
    if (name.size() < 4 || upper(0) != 'C' || upper(1) != 'O' || upper(2) != 'M')
        return name;
    unsigned long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000)
            return name;
        n = n * 10 + unsigned(name[i] - '0');
    }
    if (n == 0)
        return name;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(name, ec)))
        return name; // a file of that name in the working folder is what the name means
    return "/dev/ttyS" + std::to_string(n - 1);
}

namespace {

// Natural order, so ttyS2 comes before ttyS10.
bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t i2 = i, j2 = j;
            while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2])))
                ++i2;
            while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2])))
                ++j2;
            std::string na = a.substr(i, i2 - i), nb = b.substr(j, j2 - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = i2;
            j = j2;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> namesStartingWith(const fs::path& dir, const std::string& prefix)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > prefix.size())
            out.push_back(name);
    }
    std::sort(out.begin(), out.end(), naturalLess);
    return out;
}

// A UART stands behind ttySn when its type is known; sysfs tells without opening the port
// (opening would raise DTR on real hardware), TIOCGSERIAL where sysfs has no answer.
bool uartPresent(const fs::path& device, const fs::path& sysEntry)
{
    std::ifstream type(sysEntry / "type");
    int t = -1;
    if (type >> t)
        return t != 0; // PORT_UNKNOWN
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

} // namespace

std::vector<std::string> ListSerialDevices(const std::string& devDir, const std::string& sysTtyDir)
{
    std::vector<std::string> out;
    const fs::path dev(devDir);
    for (const std::string& id : namesStartingWith(dev / "serial" / "by-id", ""))
        out.push_back((dev / "serial" / "by-id" / id).string());
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (const std::string& name : namesStartingWith(dev, prefix))
            out.push_back((dev / name).string());
    for (const std::string& name : namesStartingWith(dev, "ttyS"))
        if (uartPresent(dev / name, fs::path(sysTtyDir) / name))
            out.push_back((dev / name).string());
    return out;
}

} // namespace zeva
