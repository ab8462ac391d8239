// TStatsPage: the journal's alarm statistics over a range of days, as a chart, a summary line and
// tables, and all of it as one CSV file.
#pragma once

#include "AlarmStatistics.h"
#include "Database.h"

#include <QWidget>

class QCustomPlot;
class QDateEdit;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace zeva {

class TStatsPage : public QWidget {
    Q_OBJECT
public:
    // Works the statistics out when first shown.
    TStatsPage(TDatabase& db, QWidget* parent = nullptr);

    // Over the days shown, from the first one's midnight to the last one's 23:59:59, as of now.
    void ButStatsClick();
    void Show(const TAlarmStatistics& statistics, const QDateTime& from, const QDateTime& to);
    const TAlarmStatistics& Statistics() const { return m_stats; }
    // Every table, each under its title row, in one UTF-8 file; false when it cannot be written.
    bool ExportCsv(const QString& fileName) const;
    void ButExportClick();

    QDateEdit* DateFrom = nullptr;
    QDateEdit* DateTo = nullptr;
    QPushButton* ButStats = nullptr;
    QPushButton* ButExport = nullptr;
    QLabel* Summary = nullptr;
    QCustomPlot* Chart = nullptr;
    QTabWidget* Sections = nullptr;
    // The tables in the order of the tabs and of the CSV file.
    QTableWidget* Totals = nullptr;
    QTableWidget* Buckets = nullptr;
    QTableWidget* Floods = nullptr;
    QTableWidget* Chattering = nullptr;
    QTableWidget* Top = nullptr;
    QTableWidget* Standing = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTableWidget* addSection(const QString& title, const char* name, const QStringList& columns);
    void showChart(const QDateTime& from, const QDateTime& to);

    TDatabase& m_db;
    TAlarmStatistics m_stats;
    bool m_shown = false;
};

} // namespace zeva
