// TPgConnection: one connection to PostgreSQL through libpq, asynchronous underneath, so that every
// step has a bound on the client's side. A server that stops answering (a frozen backend, a path
// that drops packets without closing) ends the step after its bound instead of holding the caller
// for ever; a stop asked for is heard within a tenth of a second whatever the server does.
#pragma once

#include "CentralSettings.h"
#include "Database.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace zeva {

// The server's refusal or the connection's loss; `timedOut` when a bound passed (服务器无应答).
class EPgError : public EDatabaseError {
public:
    EPgError(const std::string& text, std::string sqlState, bool timedOut, std::string primary = {})
        : EDatabaseError(text), m_sqlState(std::move(sqlState)), m_timedOut(timedOut),
          m_primary(primary.empty() ? text : std::move(primary))
    {
    }
    const std::string& SqlState() const { return m_sqlState; } // "23505"; empty when none came
    bool TimedOut() const { return m_timedOut; }
    // The message without its details (which may name a row that differs at every try).
    const std::string& Primary() const { return m_primary; }

private:
    std::string m_sqlState;
    bool m_timedOut;
    std::string m_primary;
};

// Thrown when the owner asked to stop while a step waited.
struct EPgStopped : std::runtime_error {
    EPgStopped() : std::runtime_error("stopped") {}
};

struct TPgLimits {
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds statement{20000}; // a statement, a COPY or a commit
    std::function<bool()> stopAsked;            // polled while waiting; may be empty
};

// A statement's rows, as text; a NULL is std::nullopt.
class TPgResult {
public:
    explicit TPgResult(pg_result* result);
    int Rows() const;
    int Columns() const;
    bool IsNull(int row, int column) const;
    std::string Value(int row, int column) const;
    QString Text(int row, int column) const { return QString::fromStdString(Value(row, column)); }

private:
    std::shared_ptr<pg_result> m_result;
};

using TPgValue = std::optional<std::string>;

class TPgConnection {
public:
    // Connects and sets the session up (UTC, short lock waits); throws EPgError or EPgStopped.
    TPgConnection(const TPgParams& params, TPgLimits limits = {});
    ~TPgConnection();
    TPgConnection(const TPgConnection&) = delete;
    TPgConnection& operator=(const TPgConnection&) = delete;

    // One statement; parameters as text ($1, $2, ...), a NULL as std::nullopt. A statement without
    // parameters may be several, separated by ';'.
    TPgResult Exec(const std::string& sql, const std::vector<TPgValue>& params = {});
    // COPY ... FROM STDIN with `data` in COPY's text format; `meanwhile` runs once all is handed to
    // the server and before its answer is awaited (the caller's next batch).
    void CopyIn(const std::string& copySql, std::string_view data, const std::function<void()>& meanwhile = {});
    // False after a failure that left the connection unusable (lost, abandoned after a bound).
    bool Usable() const;
    std::string DatabaseName() const;

    // How many cancel requests are still on their way (each on a thread of its own).
    static int CancelsInFlight();

private:
    enum class TWait { Read, Write };
    using TClock = std::chrono::steady_clock;
    void connect(const TPgParams& params);
    // libpq looks a host name up blocking: done here on a thread of its own, within the bound.
    TPgParams resolve(const TPgParams& params, TClock::time_point until);
    void send(bool queued, const std::string& what);
    void flush(TClock::time_point deadline);
    // The results of what was sent, until libpq has no more; the first error is thrown after all
    // of them are read. The last result is kept.
    pg_result* collect(TClock::time_point deadline, pg_result** copyIn = nullptr);
    void waitFor(TWait wait, TClock::time_point deadline);
    [[noreturn]] void abandon(const std::string& why);
    [[noreturn]] void fail(const std::string& what, pg_result* result = nullptr);
    TClock::time_point deadline() const { return TClock::now() + m_limits.statement; }

    pg_conn* m_conn = nullptr;
    TPgLimits m_limits;
    bool m_broken = false;
};

// 'text' with quotes doubled, for the few statements whose values are part of the text (DDL).
std::string PgLiteral(const std::string& text);

} // namespace zeva
