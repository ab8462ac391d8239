// TFrmApparatus: the instrument list (ListMode 1, editable rows of Apparatus) or the parameter
// history (ListMode 2, rows of ApparatusHistory that can only be deleted).
#pragma once

#include "Database.h"
#include "WriteRights.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QSqlTableModel;

namespace zeva {

class TDataGrid;
class TGridModel;

class TFrmApparatus : public QDialog {
    Q_OBJECT
public:
    // Without `rights` to change the registry the grid is read-only and add and delete are disabled.
    TFrmApparatus(TDatabase& db, int listMode, QWidget* parent = nullptr, const TWriteRights& rights = {});
    ~TFrmApparatus() override;

    int ListMode() const { return m_listMode; }
    QSqlTableModel* ADOTable() const { return m_table; }

    void Button1Click(); // add
    void Button2Click(); // delete
    void Button3Click(); // close
    // The grid's cursor moved from row `previous` to row `current`.
    void GridRowLeft(int previous, int current);

    QLabel* Label1 = nullptr;
    TDataGrid* Grid = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

protected:
    void done(int result) override;

private:
    void FormShow();
    void FormClose();
    int currentRow() const;
    bool nameAndAddressGiven(int row) const;

    TDatabase& m_db;
    int m_listMode;
    TWriteRights m_rights;
    QSqlTableModel* m_table = nullptr;
    TGridModel* m_grid = nullptr;
    bool m_closed = false;
};

} // namespace zeva
