// TDataGrid: the grid and its footer line.
#include "DataGrid.h"

#include "GridModel.h"
#include "IniFile.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QScrollBar>
#include <QStringList>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zeva {

TDataGrid::TDataGrid(QWidget* parent) : QWidget(parent), m_view(new QTableView(this)), m_footer(new QTableWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_footer);
    m_view->setObjectName(QStringLiteral("GridView"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_view->verticalHeader()->hide(); // so that the footer's columns line up with the grid's
    m_footer->setObjectName(QStringLiteral("GridFooter"));
    m_footer->setRowCount(1);
    m_footer->horizontalHeader()->hide();
    m_footer->verticalHeader()->hide();
    m_footer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_footer->setSelectionMode(QAbstractItemView::NoSelection);
    m_footer->setFocusPolicy(Qt::NoFocus);
    m_footer->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_footer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_footer->setFixedHeight(m_footer->verticalHeader()->defaultSectionSize() + 4);
    // The footer follows the grid: column widths, scrolling, the row header's width.
    connect(m_view->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int section, int, int size) { m_footer->setColumnWidth(section, size); });
    connect(m_view->horizontalScrollBar(), &QScrollBar::valueChanged, m_footer->horizontalScrollBar(),
            &QScrollBar::setValue);
}

void TDataGrid::SetModel(TGridModel* model)
{
    m_model = model;
    m_view->setModel(model);
    m_footer->setColumnCount(model->columnCount());
    for (int c = 0; c < model->columnCount(); ++c) {
        auto* item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        m_footer->setItem(0, c, item);
        m_footer->setColumnWidth(c, m_view->columnWidth(c));
    }
    connect(model, &QAbstractItemModel::rowsInserted, this, &TDataGrid::refreshFooter);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TDataGrid::refreshFooter);
    connect(model, &QAbstractItemModel::modelReset, this, &TDataGrid::refreshFooter);
    connect(model, &QAbstractItemModel::dataChanged, this, &TDataGrid::refreshFooter);
    connect(model, &QAbstractItemModel::headerDataChanged, this, &TDataGrid::refreshFooter);
    refreshFooter();
}

int TDataGrid::RowCount() const
{
    if (!m_model)
        return 0;
    int n = 0;
    for (int r = 0; r < m_model->rowCount(); ++r)
        if (!m_model->IsNewRow(r))
            ++n;
    return n;
}

QString TDataGrid::FooterText(int column) const
{
    QTableWidgetItem* item = m_footer->item(0, column);
    return item ? item->text() : QString();
}

void TDataGrid::refreshFooter()
{
    if (m_footer->columnCount() < 2)
        return;
    m_footer->item(0, 0)->setText(QStringLiteral("合计"));
    m_footer->item(0, 1)->setText(QString::number(RowCount()));
}

namespace {

QString csvField(QString text)
{
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))) {
        text.replace(QLatin1String("\""), QLatin1String("\"\""));
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

} // namespace

QString CsvLine(const QStringList& fields)
{
    QStringList cells;
    for (const QString& f : fields)
        cells << csvField(f);
    return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString ModelCsvText(const QAbstractItemModel& m)
{
    QStringList cells;
    for (int c = 0; c < m.columnCount(); ++c)
        cells << m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    QString text = CsvLine(cells);
    for (int r = 0; r < m.rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < m.columnCount(); ++c)
            cells << m.data(m.index(r, c), Qt::DisplayRole).toString();
        text += CsvLine(cells);
    }
    return text;
}

bool WriteCsvFile(const QString& fileName, const QString& text)
{
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // The byte-order mark lets spreadsheet programs read the Chinese titles as UTF-8.
    QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    return f.write(bytes) == bytes.size() && f.flush();
}

bool ExportModelCsv(const QAbstractItemModel& m, const QString& fileName)
{
    return WriteCsvFile(fileName, ModelCsvText(m));
}

void ExportModelCsvAs(QWidget* parent, const QAbstractItemModel& model, const QString& suggested)
{
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("导出"), suggested, QStringLiteral("CSV (*.csv)"));
    if (name.isEmpty())
        return;
    if (!ExportModelCsv(model, name))
        throw EIniFileError(("Unable to write to " + name).toStdString());
}

} // namespace zeva
