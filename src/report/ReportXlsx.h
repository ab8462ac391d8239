// The report as a workbook: a sheet per table, numbers as numbers and times as Excel dates.
#pragma once

#include "ReportFigures.h"

namespace zeva {

// Writes `file` whole or not at all (a temporary beside it, renamed at the end); the reason when it
// could not, empty when written.
QString WriteReportXlsx(const TReport& report, const QString& file);

// The tables' headers, shared with the printed report.
namespace ReportHeader {
QStringList Summary();      // 汇总
QStringList Alarms();       // 报警
QStringList Writes();       // 参数写入
QStringList Availability(); // 可用率
} // namespace ReportHeader

// "A", "B", ... for phase 0..3.
QString PhaseLetter(int phase);

} // namespace zeva
