// TFrmJournal: the alarm and event journal, not modal. Active alarms first (the most urgent first),
// then the rest, newest first; filtered by instrument and date; acknowledgement of the selected rows
// or of all, with a comment; shelving; and the statistics page.
#pragma once

#include "Database.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <unordered_map>
#include <vector>

class QComboBox;
class QLineEdit;
class QTabWidget;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;
class QVBoxLayout;

namespace zeva {

class TMonitorCore;
class TStatsPage;

// How long and why the selected alarms are shelved.
class TShelveDialog : public QDialog {
public:
    explicit TShelveDialog(QWidget* parent);
    int Minutes() const;
    QComboBox* For = nullptr;
    QLineEdit* Reason = nullptr;
    QPushButton* Ok = nullptr;
};

// The journal's rows as the window shows them: the IDs of the filter at once, each row's columns
// read a page at a time when the view first shows it (100,000 rows open in a blink).
class TJournalModel : public QAbstractTableModel {
public:
    static constexpr int PageRows = 200;
    TJournalModel(TDatabase& db, QObject* parent) : QAbstractTableModel(parent), m_db(db) {}
    void SetIds(std::vector<qint64> ids);
    qint64 IdAt(int row) const { return m_ids[std::size_t(row)]; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const QVariantList* rowAt(int row) const;

    TDatabase& m_db;
    std::vector<qint64> m_ids;
    mutable std::unordered_map<int, TQueryResult> m_pages;
};

class TFrmJournal : public QDialog {
    Q_OBJECT
public:
    // Reads its rows again whenever the core has stored journal entries.
    TFrmJournal(TMonitorCore& core, QWidget* parent = nullptr);

    // Reads the rows again with the filters shown.
    void Reload();
    void ButQueryClick();
    void ButAckClick();
    void ButAckAllClick();
    // The rows shown as CSV; false when the file cannot be written.
    bool ExportCsv(const QString& fileName) const;
    void ButExportClick();
    // Asks how long and why, then shelves the selected alarms.
    void ShelveButtonClick();
    // Shelves the selected alarms for `minutes` with `reason` (not blank); how many were shelved.
    int ShelveSelected(int minutes, const QString& reason);

    TJournalModel* Model() const { return m_model; }

    QTabWidget* Tabs = nullptr; // 记录, 统计
    TStatsPage* Stats = nullptr;
    QLineEdit* AckComment = nullptr; // taken by 确认 and 全部确认 when it holds text
    QPushButton* ShelveButton = nullptr;

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
    std::vector<qint64> selectedIds() const;

    void buildFilters(QVBoxLayout* root);
    void buildGrid(QVBoxLayout* root);

    TMonitorCore& m_core;
    TJournalModel* m_model;
};

} // namespace zeva
