// libpq in non-blocking mode: every wait is a poll() on the connection's socket, in slices of a
// tenth of a second so that a stop is heard, until the step's deadline.
#include "PgConnection.h"

#include "ErrorLog.h"

#include <libpq-fe.h>

#include <QString>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

namespace zeva {

namespace {

constexpr auto Slice = std::chrono::milliseconds(100);
// A cancel goes to a server that may not answer it either: a few at most wait at once.
constexpr int MaxCancels = 4;
std::atomic<int> cancelsInFlight{0};

// What libpq or the server said, on one line.
std::string oneLine(const char* text)
{
    return QString::fromUtf8(text ? text : "").simplified().toStdString();
}

// Unless the settings name them: texts in UTF-8 whatever the server's encoding, our name in
// pg_stat_activity, and TCP keepalives and the user timeout, so that the kernel too gives a dead
// path up.
const std::pair<const char*, const char*> SessionDefaults[] = {
    {"client_encoding", "UTF8"},  {"application_name", "zeva"}, {"keepalives", "1"},
    {"keepalives_idle", "10"},    {"keepalives_interval", "5"}, {"keepalives_count", "3"},
    {"tcp_user_timeout", "20000"},
};

// Times are sent with their offset; the session's zone only names them in messages. The server's
// notices ("already exists, skipping") are no news. A lock held by someone else is given up before
// the client's own bound; a transaction this client leaves open (a frozen station) ends in a minute.
const char* const SessionSetup = "SET TIME ZONE 'UTC'; SET client_min_messages = warning; SET lock_timeout = '10s';"
                                 " SET statement_timeout = '30s'; SET idle_in_transaction_session_timeout = '60s'";

// A host name's addresses, looked up on a thread nobody waits for past the bound.
struct TLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::string> addresses;
    std::string error;
};

std::shared_ptr<TLookup> startLookup(const std::string& host)
{
    auto lookup = std::make_shared<TLookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        std::vector<std::string> addresses;
        for (const addrinfo* a = rc == 0 ? found : nullptr; a; a = a->ai_next) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* at = a->ai_family == AF_INET ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr)
                                                     : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
            if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) && ::inet_ntop(a->ai_family, at, text, sizeof text))
                addresses.emplace_back(text);
        }
        if (found)
            ::freeaddrinfo(found);
        std::lock_guard lock(lookup->mutex);
        lookup->addresses = std::move(addresses);
        if (lookup->addresses.empty())
            lookup->error = "could not translate host name \"" + host + "\" to address: " +
                            (rc != 0 ? ::gai_strerror(rc) : "no address");
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    return lookup;
}

// A name libpq would look up itself, blocking: one host by name, no address given.
bool needsLookup(const TPgParams& params)
{
    const std::string host = params.Value("host");
    if (host.empty() || host[0] == '/' || host[0] == '@' || host.find(',') != std::string::npos ||
        !params.Value("hostaddr").empty())
        return false;
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) != 1 && ::inet_pton(AF_INET6, host.c_str(), address) != 1;
}

} // namespace

TPgResult::TPgResult(pg_result* result) : m_result(result, PQclear) {}

int TPgResult::Rows() const
{
    return m_result ? PQntuples(m_result.get()) : 0;
}

int TPgResult::Columns() const
{
    return m_result ? PQnfields(m_result.get()) : 0;
}

bool TPgResult::IsNull(int row, int column) const
{
    return PQgetisnull(m_result.get(), row, column) != 0;
}

std::string TPgResult::Value(int row, int column) const
{
    return std::string(PQgetvalue(m_result.get(), row, column), std::size_t(PQgetlength(m_result.get(), row, column)));
}

TPgConnection::TPgConnection(const TPgParams& params, TPgLimits limits) : m_limits(std::move(limits))
{
    try {
        connect(params);
        Exec(SessionSetup);
    } catch (...) {
        // No destructor runs for an object not made: its socket is closed here.
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
}

TPgConnection::~TPgConnection()
{
    if (m_conn)
        PQfinish(m_conn); // non-blocking: the goodbye is not waited for
}

int TPgConnection::CancelsInFlight()
{
    return cancelsInFlight.load();
}

bool TPgConnection::Usable() const
{
    return m_conn && !m_broken && PQstatus(m_conn) == CONNECTION_OK;
}

std::string TPgConnection::DatabaseName() const
{
    return m_conn ? PQdb(m_conn) : "";
}

TPgParams TPgConnection::resolve(const TPgParams& params, TClock::time_point until)
{
    if (!needsLookup(params))
        return params;
    const std::string host = params.Value("host");
    const std::shared_ptr<TLookup> lookup = startLookup(host);
    std::unique_lock lock(lookup->mutex);
    while (!lookup->done.wait_for(lock, Slice, [&] { return lookup->finished; })) {
        if (m_limits.stopAsked && m_limits.stopAsked())
            throw EPgStopped();
        if (TClock::now() >= until)
            throw EPgError("服务器无应答（主机名 " + host + " 在时限内未能解析）", {}, true);
    }
    if (!lookup->error.empty())
        throw EPgError(lookup->error, {}, false);
    // Every address, each under the name (for the password file and the certificate's check).
    TPgParams withAddresses = params;
    std::string hosts, addresses;
    for (const std::string& a : lookup->addresses) {
        hosts += (hosts.empty() ? "" : ",") + host;
        addresses += (addresses.empty() ? "" : ",") + a;
    }
    withAddresses.Set("host", hosts);
    withAddresses.Set("hostaddr", addresses);
    return withAddresses;
}

void TPgConnection::connect(const TPgParams& given)
{
    const auto until = TClock::now() + m_limits.connect;
    const TPgParams params = resolve(given, until);
    std::vector<const char*> keys, values;
    for (const auto& [key, value] : params.Entries()) {
        keys.push_back(key.c_str());
        values.push_back(value.c_str());
    }
    for (const auto& [key, value] : SessionDefaults)
        if (params.Value(key).empty()) {
            keys.push_back(key);
            values.push_back(value);
        }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // expand_dbname 0: a database name is a name, never more settings.
    m_conn = PQconnectStartParams(keys.data(), values.data(), 0);
    if (!m_conn)
        throw EPgError("libpq: out of memory", {}, false);
    if (PQstatus(m_conn) == CONNECTION_BAD)
        fail("connect");
    // The server's warnings go to the log in its form, not raw to the standard error output.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char* message) { LogError(QStringLiteral("中心库：服务器通知：") + QString::fromUtf8(message).simplified()); },
        nullptr);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED)
            fail("connect");
        waitFor(state == PGRES_POLLING_READING ? TWait::Read : TWait::Write, until);
        state = PQconnectPoll(m_conn);
    }
    if (PQsetnonblocking(m_conn, 1) != 0)
        fail("connect");
}

void TPgConnection::waitFor(TWait wait, TClock::time_point until)
{
    for (;;) {
        if (m_limits.stopAsked && m_limits.stopAsked()) {
            // The server rolls back what was open when it sees the connection go.
            PQfinish(m_conn);
            m_conn = nullptr;
            m_broken = true;
            throw EPgStopped();
        }
        const auto now = TClock::now();
        if (now >= until)
            abandon(PQstatus(m_conn) == CONNECTION_OK ? "服务器无应答（语句超过时限未完成）" : "服务器无应答（连接超过时限未建立）");
        const auto slice = std::min<TClock::duration>(Slice, until - now);
        pollfd p{PQsocket(m_conn), short(wait == TWait::Read ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&p, 1, int(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
        if (ready > 0)
            return;
        if (ready < 0 && errno != EINTR)
            fail(std::string("poll: ") + std::strerror(errno));
    }
}

void TPgConnection::abandon(const std::string& why)
{
    // A statement in flight is cancelled (the server then lets go of its locks once it runs again);
    // nobody waits for the answer.
    if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) {
        if (PGcancel* cancel = PQgetCancel(m_conn)) {
            if (cancelsInFlight.fetch_add(1) < MaxCancels) {
                std::thread([cancel] {
                    char error[256];
                    PQcancel(cancel, error, sizeof error);
                    PQfreeCancel(cancel);
                    cancelsInFlight.fetch_sub(1);
                }).detach();
            } else {
                cancelsInFlight.fetch_sub(1);
                PQfreeCancel(cancel);
            }
        }
    }
    PQfinish(m_conn);
    m_conn = nullptr;
    m_broken = true;
    throw EPgError(why, {}, true);
}

void TPgConnection::fail(const std::string& what, pg_result* result)
{
    std::string message = oneLine(result ? PQresultErrorMessage(result) : m_conn ? PQerrorMessage(m_conn) : "");
    std::string state, primary;
    if (result) {
        if (const char* s = PQresultErrorField(result, PG_DIAG_SQLSTATE))
            state = s;
        if (const char* p = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY))
            primary = oneLine(p);
        PQclear(result);
    }
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        m_broken = true;
    throw EPgError(message.empty() ? what : message, state, false, primary);
}

void TPgConnection::send(bool queued, const std::string& what)
{
    if (!queued)
        fail(what);
}

void TPgConnection::flush(TClock::time_point until)
{
    for (;;) {
        const int left = PQflush(m_conn);
        if (left == 0)
            return;
        if (left < 0)
            fail("send");
        // The server may be sending too (notices, an early error): read it so that it is not stuck.
        waitFor(TWait::Write, until);
        if (!PQconsumeInput(m_conn))
            fail("receive");
    }
}

pg_result* TPgConnection::collect(TClock::time_point until, pg_result** copyIn)
{
    pg_result* last = nullptr;
    pg_result* error = nullptr;
    for (;;) {
        while (PQisBusy(m_conn)) {
            waitFor(TWait::Read, until);
            if (!PQconsumeInput(m_conn)) {
                PQclear(last);
                PQclear(error);
                fail("receive");
            }
        }
        pg_result* r = PQgetResult(m_conn);
        if (!r)
            break;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_COPY_IN && copyIn && !error) {
            PQclear(last);
            *copyIn = r;
            return nullptr;
        }
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_COPY_IN ||
            status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            if (status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE) {
                // A COPY nobody asked for: ended at once.
                PQputCopyEnd(m_conn, "not expected");
            }
            if (!error)
                error = r;
            else
                PQclear(r);
            continue;
        }
        PQclear(last);
        last = r;
    }
    if (error) {
        PQclear(last);
        fail("statement", error);
    }
    return last;
}

TPgResult TPgConnection::Exec(const std::string& sql, const std::vector<TPgValue>& params)
{
    if (!Usable())
        throw EPgError("the connection to the central database is lost", {}, false);
    if (params.empty()) {
        send(PQsendQuery(m_conn, sql.c_str()) == 1, "send");
    } else {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const TPgValue& v : params)
            values.push_back(v ? v->c_str() : nullptr);
        send(PQsendQueryParams(m_conn, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0) == 1,
             "send");
    }
    const auto until = deadline();
    flush(until);
    return TPgResult(collect(until));
}

void TPgConnection::CopyIn(const std::string& copySql, std::string_view data, const std::function<void()>& meanwhile)
{
    if (!Usable())
        throw EPgError("the connection to the central database is lost", {}, false);
    send(PQsendQuery(m_conn, copySql.c_str()) == 1, "send");
    auto until = deadline();
    flush(until);
    pg_result* copying = nullptr;
    PQclear(collect(until, &copying));
    if (!copying)
        fail("COPY did not start");
    PQclear(copying);
    // The bound runs from the last progress: a large batch to a busy server is no frozen one.
    constexpr std::size_t Chunk = 64 * 1024;
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min(Chunk, data.size() - at);
        const int queued = PQputCopyData(m_conn, data.data() + at, int(n));
        if (queued < 0)
            fail("COPY");
        if (queued == 0) {
            waitFor(TWait::Write, until);
            if (PQflush(m_conn) < 0)
                fail("send");
            continue;
        }
        at += n;
        until = deadline();
    }
    for (int ended; (ended = PQputCopyEnd(m_conn, nullptr)) != 1;) {
        if (ended < 0)
            fail("COPY");
        waitFor(TWait::Write, until);
    }
    flush(until);
    // The server digests the rows; the caller prepares its next ones. Its failure waits until the
    // server's answer is read, so that the connection stays in step.
    std::exception_ptr failed;
    if (meanwhile) {
        try {
            meanwhile();
        } catch (...) {
            failed = std::current_exception();
        }
    }
    PQclear(collect(deadline()));
    if (failed)
        std::rethrow_exception(failed);
}

std::string PgLiteral(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += '\'';
        quoted += c;
    }
    return quoted + "'";
}

} // namespace zeva
