// TDataGrid: a grid over a TGridModel with its footer line ("合计" and the row count) as a
// one-row widget of its own, kept aligned with the grid's columns.
#pragma once

#include <QStringList>
#include <QWidget>

class QAbstractItemModel;
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

// The model's titles and rows as CSV lines; one line of fields; a CSV text written in UTF-8 with a
// byte-order mark (false when the file cannot be written).
QString ModelCsvText(const QAbstractItemModel& model);
QString CsvLine(const QStringList& fields);
bool WriteCsvFile(const QString& fileName, const QString& text);
// The model's rows as CSV in UTF-8 with a byte-order mark, its titles first; false when the file
// cannot be written.
bool ExportModelCsv(const QAbstractItemModel& model, const QString& fileName);
// Asks for the file (suggesting `suggested`) and writes it; a file that cannot be written throws
// "Unable to write to %s". Nothing happens when the operator cancels.
void ExportModelCsvAs(QWidget* parent, const QAbstractItemModel& model, const QString& suggested);

} // namespace zeva
