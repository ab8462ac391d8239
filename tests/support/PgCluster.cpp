// The tests' PostgreSQL cluster.
#include "PgCluster.h"

#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace zeva::test {

namespace {

const std::string Bin = "/usr/lib/postgresql/15/bin/";

std::string shellQuoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

TPgCluster::TPgCluster()
{
    char pattern[] = "/tmp/zeva-pg-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_error = "no temporary folder";
        return;
    }
    m_dir = pattern;
    if (!std::filesystem::exists(Bin + "initdb")) {
        m_error = "PostgreSQL 15 is not installed (package postgresql-15)";
        return;
    }
    // PostgreSQL refuses to run as root.
    if (::geteuid() == 0)
        Shell("chown nobody:nogroup " + shellQuoted(m_dir));
    const std::string out = asOwner(Bin + "initdb -D " + shellQuoted(m_dir + "/data") +
                                    " -U zeva_test --auth=trust -E UTF8 --no-sync --no-instructions 2>&1; echo rc=$?");
    if (out.find("rc=0\n") == std::string::npos) {
        m_error = "initdb: " + out;
        return;
    }
    m_ok = Start();
}

TPgCluster::~TPgCluster()
{
    if (m_ok)
        asOwner(Bin + "pg_ctl -D " + shellQuoted(m_dir + "/data") + " -m immediate stop > /dev/null 2>&1");
    if (!m_dir.empty())
        std::filesystem::remove_all(m_dir);
}

std::string TPgCluster::asOwner(const std::string& command) const
{
    if (::geteuid() != 0)
        return Shell(command);
    return Shell("setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c " + shellQuoted(command));
}

bool TPgCluster::Start()
{
    const std::string out =
        asOwner(Bin + "pg_ctl -D " + shellQuoted(m_dir + "/data") + " -l " + shellQuoted(m_dir + "/server.log") +
                " -w -t 30 -o " + shellQuoted("-k " + m_dir + " -c listen_addresses='' -p " + std::to_string(Port) +
                                         " -c fsync=off -c synchronous_commit=off") +
                " start 2>&1; echo rc=$?");
    if (out.find("rc=0\n") == std::string::npos) {
        m_error = "pg_ctl start: " + out + ReadText(m_dir + "/server.log");
        return false;
    }
    return true;
}

bool TPgCluster::Stop()
{
    return asOwner(Bin + "pg_ctl -D " + shellQuoted(m_dir + "/data") + " -m fast -w stop > /dev/null 2>&1; echo rc=$?") ==
           "rc=0\n";
}

std::string TPgCluster::ConnInfo(const std::string& database) const
{
    return "host=" + m_dir + " port=" + std::to_string(Port) + " dbname=" + database + " user=zeva_test sslmode=disable";
}

std::string TPgCluster::Psql(const std::string& sql, const std::string& database) const
{
    return Shell(Bin + "psql -X -q -At -h " + shellQuoted(m_dir) + " -p " + std::to_string(Port) +
                 " -U zeva_test -d " + shellQuoted(database) + " -c " + shellQuoted(sql) + " 2>&1");
}

} // namespace zeva::test
