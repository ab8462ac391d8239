// TFrmDataBase: the stored readings of one instrument over a date and time range, drawn as the
// chosen curves; TFrmFrmDstList lists the rows of the last search.
#pragma once

#include "Database.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QCustomPlot;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace zeva {

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

    void ComAddressChange();
    void MCapitionChange();
    void Button1Click(); // search
    void Button3Click(); // curve chooser
    void Button4Click(); // detail table
    void Button2Click(); // leave

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

protected:
    void done(int result) override;

private:
    void buildChart(QVBoxLayout* root);
    void buildFields(QVBoxLayout* root);
    void connectHandlers();
    void FormShow();
    void FormClose();

    TDatabase& m_db;
    TIniFile& m_settings;
    TQueryResult m_adoRecord;
    TQueryResult m_adoQuery;
    bool m_closed = false;
};

class TFrmFrmDstList : public QDialog {
    Q_OBJECT
public:
    TFrmFrmDstList(const TQueryResult& result, QWidget* parent = nullptr);

    // The rows shown, as CSV in UTF-8 with a byte-order mark, titles first; false when the file
    // cannot be written.
    bool ExportCsv(const QString& fileName) const;
    void ButExportClick();

    TDataGrid* Grid = nullptr;
    QPushButton* ButC = nullptr;
    QPushButton* ButExport = nullptr;
};

} // namespace zeva
