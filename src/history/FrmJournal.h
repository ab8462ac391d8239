// TFrmJournal: the alarm and event journal, not modal. Active alarms first, then the rest, newest
// first; filtered by instrument and date; acknowledgement of the selected rows or of all.
#pragma once

#include "Database.h"

#include <QAbstractTableModel>
#include <QDialog>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;

namespace zeva {

class TFrmMain;

// The journal's rows as the window shows them.
class TJournalModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetResult(TQueryResult result);
    const TQueryResult& Result() const { return m_result; }
    qint64 IdAt(int row) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    TQueryResult m_result;
    int m_kind = -1, m_address = -1, m_text = -1, m_raised = -1, m_cleared = -1, m_acked = -1, m_by = -1, m_id = -1;
};

class TFrmJournal : public QDialog {
    Q_OBJECT
public:
    TFrmJournal(TFrmMain& main, QWidget* parent = nullptr);

    // Reads the rows again with the filters shown.
    void Reload();
    void ButQueryClick();
    void ButAckClick();
    void ButAckAllClick();
    // The rows shown as CSV; false when the file cannot be written.
    bool ExportCsv(const QString& fileName) const;
    void ButExportClick();

    TJournalModel* Model() const { return m_model; }

    QComboBox* Instrument = nullptr; // 全部, 总线, then each instrument
    QDateEdit* DateFrom = nullptr;
    QDateEdit* DateTo = nullptr;
    QPushButton* ButQuery = nullptr;
    QTableView* Grid = nullptr;
    QLabel* Footer = nullptr;
    QPushButton* ButAck = nullptr;
    QPushButton* ButAckAll = nullptr;
    QPushButton* ButExport = nullptr;
    QPushButton* ButClose = nullptr;

private:
    void acknowledge(const std::vector<qint64>& ids);

    TFrmMain& m_main;
    TJournalModel* m_model;
};

} // namespace zeva
