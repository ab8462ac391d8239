// TDataGrid: a grid over a TGridModel with its footer line ("合计" and the row count) as a
// one-row widget of its own, kept aligned with the grid's columns.
#pragma once

#include <QWidget>

class QTableView;
class QTableWidget;

namespace zeva {

class TGridModel;

class TDataGrid : public QWidget {
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr);

    void SetModel(TGridModel* model);
    TGridModel* model() const { return m_model; }
    QTableView* view() const { return m_view; }
    QTableWidget* footer() const { return m_footer; }
    // The footer's count: rows of the result, a row still being inserted not included.
    int RowCount() const;
    QString FooterText(int column) const;

private:
    void refreshFooter();

    QTableView* m_view;
    QTableWidget* m_footer;
    TGridModel* m_model = nullptr;
};

} // namespace zeva
