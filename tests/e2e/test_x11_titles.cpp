// Window titles as the desktop reads them: zeva-monitor on a real X server (Xvfb), its windows'
// _NET_WM_NAME read back with xprop.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

class XServer {
public:
    XServer()
    {
        for (int n = 70 + getpid() % 100; n < 300 && m_pid < 0; ++n) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            m_display = ":" + std::to_string(n);
            m_pid = zeva::test::Spawn({XVFB_PATH, m_display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, "/",
                                      "/dev/null");
            for (int i = 0; i < 300 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i)
                std::this_thread::sleep_for(milliseconds(10));
        }
    }
    ~XServer() { zeva::test::Terminate(m_pid); }
    const std::string& display() const { return m_display; }

    // The titles of every window on the server.
    std::multiset<std::string> Titles() const
    {
        std::multiset<std::string> titles;
        std::string env = "DISPLAY=" + m_display + " LANG=C.UTF-8 ";
        std::istringstream tree(zeva::test::Shell(env + "xwininfo -root -tree"));
        std::regex id("^\\s*(0x[0-9a-f]+)");
        for (std::string line; std::getline(tree, line);) {
            std::smatch m;
            if (!std::regex_search(line, m, id))
                continue;
            std::string prop = zeva::test::Shell(env + "xprop -id " + m[1].str() + " _NET_WM_NAME 2>/dev/null");
            auto q = prop.find(" = \"");
            if (q != std::string::npos && prop.size() >= q + 6)
                titles.insert(prop.substr(q + 4, prop.rfind('"') - q - 4));
        }
        return titles;
    }

    // The icon sizes (_NET_WM_ICON) of the windows titled `title`, as "16x16" and so on.
    std::set<std::string> IconSizes(const std::string& title) const
    {
        std::set<std::string> sizes;
        std::string env = "DISPLAY=" + m_display + " LANG=C.UTF-8 ";
        std::istringstream tree(zeva::test::Shell(env + "xwininfo -root -tree"));
        std::regex id("^\\s*(0x[0-9a-f]+)"), icon("Icon \\(([0-9]+) x ([0-9]+)\\)");
        for (std::string line; std::getline(tree, line);) {
            std::smatch m;
            if (!std::regex_search(line, m, id))
                continue;
            const std::string window = m[1].str();
            if (zeva::test::Shell(env + "xprop -id " + window + " _NET_WM_NAME 2>/dev/null").find("\"" + title + "\"") ==
                std::string::npos)
                continue;
            const std::string prop = zeva::test::Shell(env + "xprop -id " + window + " _NET_WM_ICON 2>/dev/null");
            for (auto it = std::sregex_iterator(prop.begin(), prop.end(), icon); it != std::sregex_iterator(); ++it)
                sizes.insert((*it)[1].str() + "x" + (*it)[2].str());
        }
        return sizes;
    }

private:
    std::string m_display;
    int m_pid = -1;
};

// Starts zeva-monitor on the X server in `dir`; its pid.
int startOnX(const XServer& x, const fs::path& dir)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        int fd = open((dir / "monitor.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("DISPLAY", x.display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execl(ZEVA_MONITOR, ZEVA_MONITOR, (char*)nullptr);
        _exit(127);
    }
    return pid;
}

const std::string MainTitle = "ZEVA-5000S系列智能温控仪通讯软件";

} // namespace

TEST(X11Titles, StartUpBoxesAndTheMainWindowCarryTheirOwnCaptionsAlone)
{
    XServer x;
    ASSERT_FALSE(x.display().empty());
    fs::path dir = fs::temp_directory_path() / ("zeva-x11-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "notaport");
    ASSERT_EQ(std::system((std::string(ZEVA_INITDB) + " '" + dir.string() + "' > /dev/null").c_str()), 0);

    // The first start-up box: the port cannot be opened. The second: the database is missing.
    for (int box = 0; box < 2; ++box) {
        std::ofstream(dir / "Data.ini", std::ios::binary)
            << "[Info]\r\nPath=" << (box == 0 ? dir.string() : (dir / "nowhere").string())
            << "\r\nPort=" << (box == 0 ? (dir / "notaport").string() : "/dev/ptmx") << "\r\n";
        int pid = startOnX(x, dir);
        std::multiset<std::string> titles;
        for (int i = 0; i < 100 && !titles.count("友情提示"); ++i) {
            std::this_thread::sleep_for(milliseconds(100));
            titles = x.Titles();
        }
        EXPECT_EQ(titles.count("友情提示"), 1u) << "box " << box;
        EXPECT_EQ(titles.count(MainTitle), 1u) << "box " << box;
        if (box == 0) {
            // The program's own icon, from 16 px (drawn for that size) up.
            const std::set<std::string> icons = x.IconSizes(MainTitle);
            for (const char* size : {"16x16", "32x32", "48x48", "128x128"})
                EXPECT_EQ(icons.count(size), 1u) << size;
        }
        for (const std::string& t : titles)
            EXPECT_EQ(t.find("—"), std::string::npos) << "no suffix: " << t;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(dir);
}
