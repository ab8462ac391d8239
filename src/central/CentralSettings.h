// Where the central PostgreSQL is: Data.ini's section "Central", or a libpq connection string
// (zeva-initdb --central). Either way the settings end as libpq's keywords with their values, handed
// to libpq as they are: a value is never parsed again, whatever it holds.
#pragma once

#include "IniFile.h"

#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace zeva {

class TPgParams {
public:
    // Replaces an earlier value of the key.
    void Set(const std::string& key, const std::string& value);
    std::string Value(const std::string& key) const; // empty when not set
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return m_entries; }

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
};

struct TCentralConfig {
    TPgParams params;
    QString station;          // this station's name in every central row
    int retentionMonths = 0;  // 0: readings are kept for ever
    bool enabled = false;     // Data.ini names a Host
    bool Enabled() const { return enabled; }
    // "db.plant.lan:5432/plant" for the log.
    QString Describe() const;
};

// Section "Central" of Data.ini; Station defaults to the host name. A value the file holds longer
// than the profile rules read is said once in the log. Nothing is written.
TCentralConfig ReadCentralConfig(TIniFile& ini);
// "host=/run/postgresql port=5432 dbname=plant user=zeva sslmode=require": libpq's own parser, so
// every key libpq knows is taken. Throws std::invalid_argument with libpq's reason, and for
// `password` (the password file or peer authentication instead).
TCentralConfig ParseConnInfo(const QString& conninfo);

} // namespace zeva
