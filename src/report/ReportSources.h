// The report's rows from the station's own database or from the central PostgreSQL.
#pragma once

#include "ReportFigures.h"

#include <memory>
#include <string>

namespace zeva {

class TDatabase;
class TPgConnection;

// The station's Data.db, open on the calling thread.
std::unique_ptr<TReportSource> StationReportSource(TDatabase& db);
// One station's rows in the central database; times are read in this machine's time zone.
std::unique_ptr<TReportSource> CentralReportSource(TPgConnection& db, const QString& station);

} // namespace zeva
