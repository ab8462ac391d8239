// A throwaway PostgreSQL 15 cluster of the Debian package for the tests: initdb and pg_ctl as an
// unprivileged user (nobody when the tests run as root), its Unix socket in a temporary folder, no
// TCP, superuser zeva_test with trust. Stopped and removed with the object.
#pragma once

#include <string>

namespace zeva::test {

class TPgCluster {
public:
    TPgCluster();
    ~TPgCluster();
    TPgCluster(const TPgCluster&) = delete;
    TPgCluster& operator=(const TPgCluster&) = delete;

    // False, with the reason in Error(), when the cluster could not be made or started.
    bool Ok() const { return m_ok; }
    const std::string& Error() const { return m_error; }
    const std::string& SocketDir() const { return m_dir; }
    static constexpr int Port = 5432;
    // A libpq connection string to `database`.
    std::string ConnInfo(const std::string& database) const;
    // Runs SQL through psql (-At); what it printed, errors included.
    std::string Psql(const std::string& sql, const std::string& database = "postgres") const;
    // The server goes away (fast shutdown) and comes back, on the same socket.
    bool Stop();
    bool Start();

private:
    std::string asOwner(const std::string& command) const;
    std::string m_dir;
    bool m_ok = false;
    std::string m_error;
};

} // namespace zeva::test
