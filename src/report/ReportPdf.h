// The report on paper: a summary, then a page per instrument with its chart; the period, the
// station and the time it was made on every page.
#pragma once

#include "ReportFigures.h"

class QPagedPaintDevice;

namespace zeva {

// Paints on a device already set up (a printer, a PDF writer); false when painting cannot begin.
bool PaintReport(const TReport& report, QPagedPaintDevice& device);
// A4 PDF with its fonts embedded, written whole or not at all; the reason when not, else empty.
QString WriteReportPdf(const TReport& report, const QString& file);

} // namespace zeva
