// Helpers for tests.
#include "TestSupport.h"

#include <atomic>

#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace zeva::test {

bool WaitUntil(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void Pump(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

TPty::TPty()
{
    char name[256] = {};
    // The kernel's default settings (cooked: ICANON, ECHO, OPOST, IXON): the component must make
    // the line raw itself, as it must on a real port that another program left cooked.
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // The component opens it by a name of this pair's own: a pseudo-terminal's number is given to
    // the next one at once (another test running beside this one), so after CloseMaster the name
    // must be gone as a pulled adapter's is, not name somebody else's terminal.
    static std::atomic<int> made{0};
    m_slaveName = "/tmp/zeva-pty-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
    ::unlink(m_slaveName.c_str());
    if (::symlink(name, m_slaveName.c_str()) != 0)
        throw std::runtime_error("symlink to the pseudo-terminal failed");
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    // The component must see the hang-up when the test closes the master, so the test does not
    // keep a slave descriptor of its own.
    close(m_slave);
    m_slave = -1;
}

TPty::~TPty()
{
    CloseMaster();
}

void TPty::CloseMaster()
{
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
    ::unlink(m_slaveName.c_str());
}

void TPty::Write(const std::vector<uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("pty write failed");
        pollfd p{m_master, POLLOUT, 0};
        poll(&p, 1, 100);
    }
}

std::vector<uint8_t> TPty::Read(int ms, std::size_t count)
{
    // The event loop keeps running meanwhile, so the component's timers and events go on.
    std::vector<uint8_t> out;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && (count == 0 || out.size() < count)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, 2) <= 0)
            continue;
        uint8_t buf[4096];
        ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        else if (n < 0 && errno != EAGAIN)
            break;
    }
    return out;
}

int Spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& output)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

TDbLock::TDbLock(const std::string& file, double seconds)
{
    int out[2];
    if (pipe(out) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        setpgid(0, 0);
        std::string script = "(echo '.timeout 20000'; echo 'BEGIN EXCLUSIVE;'; echo \"SELECT 'locked';\"; sleep " +
                             std::to_string(seconds) + "; echo 'COMMIT;') | sqlite3 '" + file + "'";
        execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string seen;
    char buffer[256];
    ssize_t n;
    while (seen.find("locked") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0)
        seen.append(buffer, std::size_t(n));
    close(out[0]);
    m_held = seen.find("locked") != std::string::npos;
}

TDbLock::~TDbLock()
{
    Release();
}

void TDbLock::Release()
{
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGKILL); // the shell, its sleep and sqlite3
    Wait();
}

void TDbLock::Wait()
{
    if (m_pid <= 0)
        return;
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

int Terminate(int pid)
{
    int status = 0;
    if (pid <= 0)
        return status;
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    return status;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool SimControl(const std::string& fifo, const std::string& log, const std::string& line, int ms)
{
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string text = line + "\n";
    bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    const std::string done = "CTL " + line + "\n";
    QDeadlineTimer deadline(ms);
    while (written && ReadText(log).find(done) == std::string::npos) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return written;
}

std::string Shell(const std::string& command)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return {};
    std::string out;
    char buf[512];
    while (std::size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    pclose(p);
    return out;
}

double CpuSecondsOf(int pid, int thread)
{
    std::string stat = ReadText("/proc/" + std::to_string(pid) +
                                (thread > 0 ? "/task/" + std::to_string(thread) : std::string()) + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream f(stat.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && f >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long RssKbOf(int pid)
{
    std::istringstream in(ReadText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string l; std::getline(in, l);)
        if (l.rfind("VmRSS:", 0) == 0)
            return std::stol(l.substr(6));
    return -1;
}

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

} // namespace zeva::test
