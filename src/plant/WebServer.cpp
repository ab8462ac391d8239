// The web server's loop: accept up to MaxClients (the rest closed at once), read each request up to
// its blank line (and its short body) within the time allowed, answer it and close; event streams
// stay and get what Broadcast() queued, a comment every 15 s, and are dropped when they fall behind.
#include "WebServer.h"

#include "PlantTypes.h"

#include <QDateTime>
#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zeva {

namespace {

constexpr std::size_t MaxStreamBacklog = 256 * 1024; // an event stream that reads no more goes
constexpr qint64 StreamPingMs = 15000;

const char* reasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    }
    return "Error";
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s)
{
    const auto a = s.find_first_not_of(" \t");
    const auto b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string head(const TWebResponse& r)
{
    std::string h = "HTTP/1.1 " + std::to_string(r.status) + " " + reasonOf(r.status) + "\r\nContent-Type: " +
                    r.contentType + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : r.headers)
        h += name + ": " + value + "\r\n";
    if (!r.stream)
        h += "Content-Length: " + std::to_string(r.body.size()) + "\r\nConnection: close\r\n";
    return h + "\r\n";
}

TWebResponse plain(int status, const std::string& text)
{
    TWebResponse r;
    r.status = status;
    r.body = text + "\n";
    return r;
}

} // namespace

std::string TWebRequest::Header(const std::string& lowerName) const
{
    for (const auto& [name, value] : headers)
        if (name == lowerName)
            return value;
    return {};
}

struct TWebServer::TClient {
    int fd = -1;
    SSL* tls = nullptr;
    bool handshaken = false;
    std::string in, out;
    qint64 since = 0, lastSentMs = 0;
    bool answered = false; // the response is queued: close once it is out
    bool stream = false;
    std::string topic;
    bool wantWrite = false; // TLS needs the socket writable to go on
    bool head = false;      // a HEAD request: the answer without its body
    std::uint64_t id = 0;
    bool pending = false;   // its request is with a worker
};

TWebServer::TWebServer(TConfig config, THandler handler, std::function<void(const QString&)> report)
    : m_config(std::move(config)), m_handler(std::move(handler)), m_report(std::move(report))
{
}

TWebServer::~TWebServer()
{
    Stop();
}

void TWebServer::Start()
{
    if (!m_config.certFile.isEmpty() || !m_config.keyFile.isEmpty()) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        // A stream's queued events grow (and move) between two tries of one write.
        SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
        const QByteArray cert = QFile::encodeName(m_config.certFile), key = QFile::encodeName(m_config.keyFile);
        if (SSL_CTX_use_certificate_chain_file(ctx, cert.constData()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, key.constData(), SSL_FILETYPE_PEM) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
            char why[256] = "";
            ERR_error_string_n(ERR_get_error(), why, sizeof why);
            SSL_CTX_free(ctx);
            throw std::runtime_error(QStringLiteral("Web：证书 %1 或私钥 %2 无法使用：%3")
                                         .arg(m_config.certFile, m_config.keyFile, QString::fromUtf8(why))
                                         .toStdString());
        }
        m_tls = ctx;
    }
    m_listen = ListenTcp(m_config.host, m_config.port, QStringLiteral("Web"), m_port);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("Web：pipe2 failed");
    m_wakeRead = pipe[0];
    m_wakeWrite = pipe[1];
    m_thread = std::thread([this] { run(); });
    m_stopWorkers = false;
    for (int w = 0; w < m_config.workers; ++w)
        m_workers.emplace_back([this] { work(); });
}

void TWebServer::work()
{
    YieldToPolling();
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(m_jobsMutex);
            m_jobsReady.wait(lock, [this] { return m_stopWorkers || !m_jobs.empty(); });
            if (m_stopWorkers)
                return;
            job = std::move(m_jobs.front());
            m_jobs.erase(m_jobs.begin());
        }
        job.response = m_handler(job.request);
        {
            std::lock_guard lock(m_jobsMutex);
            m_done.push_back(std::move(job));
        }
        wake();
    }
}

void TWebServer::Stop()
{
    {
        std::lock_guard lock(m_jobsMutex);
        m_stopWorkers = true;
    }
    m_jobsReady.notify_all();
    for (std::thread& w : m_workers)
        w.join();
    m_workers.clear();
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_eventsMutex);
            m_events.push_back({}); // an empty event: stop
        }
        wake();
        m_thread.join();
    }
    for (int* fd : {&m_listen, &m_wakeRead, &m_wakeWrite})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    if (m_tls)
        SSL_CTX_free(static_cast<SSL_CTX*>(m_tls));
    m_tls = nullptr;
}

void TWebServer::wake()
{
    const char one = 1;
    (void)!::write(m_wakeWrite, &one, 1);
}

void TWebServer::Broadcast(std::string event, std::string topic)
{
    if (event.empty())
        return;
    {
        std::lock_guard lock(m_eventsMutex);
        if (m_events.size() > 1000)
            m_events.erase(m_events.begin()); // the loop is behind: the newest matter
        m_events.push_back({std::move(event), std::move(topic)});
    }
    wake();
}

std::vector<std::string> TWebServer::StreamTopics() const
{
    std::lock_guard lock(m_topicsMutex);
    return m_topics;
}

void TWebServer::run()
{
    YieldToPolling();
    std::vector<TClient> clients;
    std::vector<pollfd> fds;
    qint64 refusedSaidMs = -60000;
    const auto drop = [&](std::size_t i) {
        if (clients[i].tls)
            SSL_free(clients[i].tls);
        ::close(clients[i].fd);
        clients.erase(clients.begin() + std::ptrdiff_t(i));
    };
    // What a connection reads and writes, through TLS when it has it: > 0 bytes, 0 the peer closed,
    // -1 nothing now, -2 failed.
    const auto receive = [](TClient& c, char* buffer, std::size_t size) -> ssize_t {
        if (!c.tls) {
            const ssize_t n = ::recv(c.fd, buffer, size, 0);
            return n >= 0 ? n : (errno == EAGAIN || errno == EINTR) ? -1 : -2;
        }
        const int n = SSL_read(c.tls, buffer, int(size));
        if (n > 0)
            return n;
        const int e = SSL_get_error(c.tls, n);
        c.wantWrite = e == SSL_ERROR_WANT_WRITE;
        return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? -1 : e == SSL_ERROR_ZERO_RETURN ? 0 : -2;
    };
    const auto sendSome = [](TClient& c) -> bool {
        while (!c.out.empty()) {
            ssize_t n;
            if (!c.tls) {
                n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n < 0)
                    return errno == EAGAIN || errno == EINTR;
            } else {
                n = SSL_write(c.tls, c.out.data(), int(c.out.size()));
                if (n <= 0) {
                    const int e = SSL_get_error(c.tls, int(n));
                    c.wantWrite = e == SSL_ERROR_WANT_WRITE;
                    return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE;
                }
            }
            c.out.erase(0, std::size_t(n));
        }
        return true;
    };

    std::uint64_t lastId = 0;
    const auto answer = [&](TClient& c, const TWebResponse& response, qint64 now) {
        c.answered = true;
        c.pending = false;
        c.stream = response.stream && response.status == 200 && !c.head;
        c.topic = response.topic;
        c.in.clear();
        c.out = head(response) + (c.head ? std::string() : response.body);
        c.lastSentMs = now;
    };

    for (;;) {
        fds.clear();
        fds.push_back({m_wakeRead, POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        // An answered connection is not read any more: what it sends after its request is not
        // waited on (a poll for it would return at once, again and again).
        for (const TClient& c : clients)
            fds.push_back({c.fd, short(((c.answered && !c.stream) || c.pending ? 0 : POLLIN) | (!c.out.empty() || c.wantWrite ? POLLOUT : 0)), 0});
        m_clients = int(clients.size());
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            break;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();

        std::vector<TEvent> events;
        if (fds[0].revents) {
            char drain[256];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
            std::lock_guard lock(m_eventsMutex);
            events.swap(m_events);
        }
        std::vector<TJob> done;
        if (!m_workers.empty()) {
            std::lock_guard lock(m_jobsMutex);
            done.swap(m_done);
        }
        for (TJob& job : done) // a client gone meanwhile is not waited for
            for (TClient& c : clients)
                if (c.id == job.client && c.pending)
                    answer(c, job.response, now);
        if (std::any_of(events.begin(), events.end(), [](const TEvent& e) { return e.text.empty(); }))
            break;

        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0)
                    break;
                if (int(clients.size()) >= m_config.maxClients) {
                    ::close(fd);
                    if (now - refusedSaidMs >= 60000 && m_report) {
                        refusedSaidMs = now;
                        m_report(QStringLiteral("Web：已有 %1 个连接，新连接被关闭").arg(m_config.maxClients));
                    }
                    continue;
                }
                TClient c;
                c.fd = fd;
                c.id = ++lastId;
                c.since = now;
                if (m_tls) {
                    c.tls = SSL_new(static_cast<SSL_CTX*>(m_tls));
                    SSL_set_fd(c.tls, fd);
                    SSL_set_accept_state(c.tls);
                }
                clients.push_back(std::move(c));
                fds.push_back({fd, POLLIN, POLLIN}); // tried at once: a request may be there already
            }
        }

        for (std::size_t k = clients.size(); k-- > 0;) {
            TClient& c = clients[k];
            const short revents = fds[2 + k].revents;
            bool gone = (revents & (POLLERR | POLLNVAL)) != 0;
            if (!gone && c.stream) {
                for (const TEvent& e : events)
                    if (e.topic.empty() || e.topic == c.topic)
                        c.out += e.text;
                if (c.out.empty() && now - c.lastSentMs >= StreamPingMs)
                    c.out = ": ping\n\n";
                if (!c.out.empty())
                    c.lastSentMs = now;
                gone = c.out.size() > MaxStreamBacklog;
            }
            if (!gone && c.tls && !c.handshaken && (revents & (POLLIN | POLLOUT | POLLHUP))) {
                const int rc = SSL_do_handshake(c.tls);
                if (rc == 1) {
                    c.handshaken = true;
                    c.wantWrite = false;
                } else {
                    const int e = SSL_get_error(c.tls, rc);
                    c.wantWrite = e == SSL_ERROR_WANT_WRITE;
                    gone = e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE;
                }
            }
            const bool ready = !c.tls || c.handshaken;
            if (!gone && ready && (revents & (POLLIN | POLLHUP)) && !c.answered) {
                char buffer[8192];
                for (;;) {
                    const ssize_t n = receive(c, buffer, sizeof buffer);
                    if (n > 0) {
                        c.in.append(buffer, std::size_t(n));
                        if (c.in.size() > m_config.maxHeader + m_config.maxBody)
                            break;
                        continue;
                    }
                    gone = n != -1;
                    break;
                }
            } else if (!gone && c.stream && (revents & (POLLIN | POLLHUP))) {
                char buffer[512];
                const ssize_t n = receive(c, buffer, sizeof buffer);
                gone = n == 0 || n == -2; // a stream's reader has nothing to say
            }
            if (!gone && ready && !c.answered && !c.pending) {
                TWebResponse response;
                bool complete = false;
                const std::size_t end = c.in.find("\r\n\r\n");
                if (end == std::string::npos) {
                    if (c.in.find("\n\n") != std::string::npos) {
                        response = plain(400, "lines end in CR LF");
                        complete = true;
                    } else if (c.in.size() > m_config.maxHeader) {
                        response = plain(431, "request header too large");
                        complete = true;
                    }
                } else if (end > m_config.maxHeader) {
                    response = plain(431, "request header too large");
                    complete = true;
                } else {
                    TWebRequest request;
                    request.secure = c.tls != nullptr;
                    const std::string headerText = c.in.substr(0, end);
                    std::size_t lineEnd = headerText.find("\r\n");
                    const std::string line = headerText.substr(0, lineEnd);
                    const std::size_t s1 = line.find(' '), s2 = line.rfind(' ');
                    bool bad = s1 == std::string::npos || s2 == s1 || line.compare(s2 + 1, 7, "HTTP/1.") != 0;
                    if (!bad) {
                        request.method = line.substr(0, s1);
                        const std::string target = line.substr(s1 + 1, s2 - s1 - 1);
                        const std::size_t q = target.find('?');
                        request.path = target.substr(0, q);
                        request.query = q == std::string::npos ? std::string() : target.substr(q + 1);
                        bad = request.path.empty() || request.path[0] != '/';
                    }
                    for (std::size_t at = lineEnd; !bad && at != std::string::npos && at < headerText.size();) {
                        const std::size_t next = headerText.find("\r\n", at + 2);
                        const std::string h = headerText.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
                        const std::size_t colon = h.find(':');
                        if (colon == std::string::npos || colon == 0)
                            bad = true;
                        else
                            request.headers.emplace_back(lower(h.substr(0, colon)), trim(h.substr(colon + 1)));
                        at = next;
                    }
                    std::size_t length = 0;
                    const std::string lengthText = request.Header("content-length");
                    if (!bad && !lengthText.empty()) {
                        bad = lengthText.size() > 9 || lengthText.find_first_not_of("0123456789") != std::string::npos;
                        length = bad ? 0 : std::stoul(lengthText);
                    }
                    bad = bad || !request.Header("transfer-encoding").empty(); // no chunked bodies here
                    if (bad) {
                        response = plain(400, "bad request");
                        complete = true;
                    } else if (length > m_config.maxBody) {
                        response = plain(413, "request body too large");
                        complete = true;
                    } else if (c.in.size() >= end + 4 + length) {
                        request.body = c.in.substr(end + 4, length);
                        c.head = request.method == "HEAD";
                        if (m_workers.empty()) {
                            response = m_handler(request);
                            complete = true;
                        } else {
                            c.pending = true;
                            c.in.clear();
                            {
                                std::lock_guard lock(m_jobsMutex);
                                m_jobs.push_back({c.id, std::move(request), {}});
                            }
                            m_jobsReady.notify_one();
                        }
                    }
                }
                if (!complete && !c.pending && now - c.since > m_config.requestTimeoutMs) {
                    response = plain(408, "request timeout");
                    complete = true;
                }
                if (complete)
                    answer(c, response, now);
            } else if (!gone && !ready && now - c.since > m_config.requestTimeoutMs) {
                gone = true; // a TLS handshake that never ends
            }
            if (!gone && !c.out.empty())
                gone = !sendSome(c);
            if (!gone && c.answered && !c.stream && c.out.empty())
                gone = true; // answered: Connection: close
            if (!gone && c.answered && !c.stream && now - c.since > m_config.requestTimeoutMs * 3)
                gone = true; // a reader that never takes its answer
            if (gone)
                drop(k);
        }
        std::vector<std::string> topics;
        for (const TClient& c : clients)
            if (c.stream && std::find(topics.begin(), topics.end(), c.topic) == topics.end())
                topics.push_back(c.topic);
        std::lock_guard lock(m_topicsMutex);
        m_topics.swap(topics);
    }
    for (std::size_t k = clients.size(); k-- > 0;)
        drop(k);
    m_clients = 0;
    std::lock_guard lock(m_topicsMutex);
    m_topics.clear();
}

} // namespace zeva
