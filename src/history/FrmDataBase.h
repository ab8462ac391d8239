// TFrmDataBase: the stored readings of one instrument over a date and time range, drawn as the
// chosen curves; TFrmFrmDstList lists the rows of the last search.
#pragma once

#include "Database.h"

#include <QDialog>
#include <QStringList>

#include <vector>

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace zeva {

class TChartTools;
class TDataGrid;
class TIniFile;
class TMaskEdit;

class TFrmDataBase : public QDialog {
    Q_OBJECT
public:
    TFrmDataBase(TDatabase& db, TIniFile& settings, QWidget* parent = nullptr);
    ~TFrmDataBase() override;

    QStringList TempStrings;
    const TQueryResult& ADOQuery() const { return m_adoQuery; }
    // The detail table's export name: <name>_<begin>_<end>.csv of the last search.
    QString DetailCsvName() const;

    void ComAddressChange();
    void MCapitionChange();
    void Button1Click(); // search
    void Button3Click(); // curve chooser
    void Button4Click(); // detail table
    void Button2Click(); // leave
    void AutoScaleBoxClick();
    void TimeAxisBoxClick();

    QCustomPlot* ChartView = nullptr;
    QComboBox* MCapition = nullptr;
    QComboBox* ComAddress = nullptr;
    QLineEdit* EditType = nullptr;
    QDateEdit* DDateBegin = nullptr;
    TMaskEdit* DDateBeginT = nullptr;
    QDateEdit* DDateEnd = nullptr;
    TMaskEdit* DDateEndT = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    // Beyond the fixed controls: the axes and the chart's export.
    QCheckBox* AutoScaleBox = nullptr; // 自动纵轴
    QCheckBox* TimeAxisBox = nullptr;  // 按时间
    QPushButton* ExportButton = nullptr;
    QPushButton* PrintButton = nullptr;
    TChartTools& ChartTools() { return *m_tools; }

protected:
    void done(int result) override;

private:
    void buildChart(QVBoxLayout* root);
    void buildFields(QVBoxLayout* root);
    void connectHandlers();
    void FormShow();
    void FormClose();
    // The last search's rows as the chosen curves, over the row number or the time.
    void draw();
    void fitValueAxis();
    QString keyText(double key) const;
    static QString timeText(double seconds);
    double keySeconds(double key) const;

    TDatabase& m_db;
    TIniFile& m_settings;
    TQueryResult m_adoRecord;
    TQueryResult m_adoQuery;
    bool m_closed = false;
    bool m_marked[8] = {};
    // Per row of the last search: its time in seconds since the epoch; the search's range.
    std::vector<double> m_times;
    double m_begin = 0, m_end = 0;
    QString m_queryName; // the searched instrument's name
    TChartTools* m_tools = nullptr;
};

class TFrmFrmDstList : public QDialog {
    Q_OBJECT
public:
    // `csvName`: the file name the export proposes.
    TFrmFrmDstList(const TQueryResult& result, QWidget* parent = nullptr,
                   const QString& csvName = QStringLiteral("查询明细表.csv"));

    // The rows shown, as CSV in UTF-8 with a byte-order mark, titles first; false when the file
    // cannot be written.
    bool ExportCsv(const QString& fileName) const;
    void ButExportClick();

    TDataGrid* Grid = nullptr;
    QString CsvName;
    QPushButton* ButC = nullptr;
    QPushButton* ButExport = nullptr;
};

} // namespace zeva
