// TFrmApparatus: the instrument list and the parameter history.
#include "FrmApparatus.h"

#include "Application.h"
#include "DataGrid.h"
#include "GridModel.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace zeva {

namespace {

// The 25 grid columns, in order, for both modes; the history adds when and by whom.
std::vector<TGridColumn> gridColumns(bool history)
{
    std::vector<TGridColumn> columns{
        {"ApparatusName", "仪表名称"},      {"ApparatusAddress", "仪表地址"},  {"ApparatusType", "仪表类型"},
        {"CFlag", "循环标记"},              {"T1", "关冷却风机温度"},          {"T2", "开冷却风机温度"},
        {"T3", "超温报警温度"},             {"T4", "超温跳闸温度"},            {"T5", "无含义"},
        {"T6", "无含义"},                   {"T7", "无含义"},                  {"TF", "运行时间间隔"},
        {"RUN", "定时运行时间"},            {"AHightT", "A相历史最高温度"},    {"BHightT", "B相历史最高温度"},
        {"CHightT", "C相历史最高温度"},     {"DHightT", "D相历史最高温度"},    {"AAtoneT", "A相补偿温度"},
        {"BAtoneT", "B相补偿温度"},         {"CAtoneT", "C相补偿温度"},        {"DAtoneT", "D相补偿温度"},
        {"ComPort", "串口"},                {"ComBate", "波特率"},             {"CurrentlyAddress", "当前地址"},
        {"Implication", "含义"},
    };
    if (history) {
        columns.push_back({"InDate", "写入时间"});
        columns.push_back({"Operator", "操作员"});
    }
    return columns;
}

} // namespace

TFrmApparatus::TFrmApparatus(TDatabase& db, int listMode, QWidget* parent, const TWriteRights& rights)
    : QDialog(parent), m_db(db), m_listMode(listMode), m_rights(rights)
{
    setObjectName(QStringLiteral("FrmApparatus"));
    setWindowTitle(QStringLiteral("仪表一览"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);
    Label1 = Named(BigTitle(QStringLiteral("仪 表 一 览"), this), QStringLiteral("Label1"));
    root->addWidget(Label1);
    Grid = Named(new TDataGrid(this), QStringLiteral("Grid"));
    root->addWidget(Grid, 1);
    Label2 = Named(new QLabel(QStringLiteral("仪表名称和仪表地址必须填写"), this), QStringLiteral("Label2"));
    root->addWidget(Label2);
    auto* buttons = new QHBoxLayout;
    Button1 = Named(new QPushButton(QStringLiteral("添加(&A)"), this), QStringLiteral("Button1"));
    Button2 = Named(new QPushButton(QStringLiteral("删除(&C)"), this), QStringLiteral("Button2"));
    Button3 = Named(new QPushButton(QStringLiteral("关闭(&C)"), this), QStringLiteral("Button3"));
    buttons->addStretch(1);
    for (QPushButton* b : {Button1, Button2, Button3})
        buttons->addWidget(b);
    root->addLayout(buttons);
    ConnectGuarded(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ConnectGuarded(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    ConnectGuarded(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    setFixedSize(1100, 520); // a fixed-size dialog
    FormShow();
}

TFrmApparatus::~TFrmApparatus()
{
    BlockChildSignals(this);
}

void TFrmApparatus::FormShow()
{
    const bool history = m_listMode == 2;
    m_table = history ? CreateHistoryModel(m_db, this) : CreateApparatusModel(m_db, this);
    if (history) {
        Button1->hide();
        Label2->hide();
        Label1->setText(QStringLiteral("参数设置历史记录"));
        setWindowTitle(QStringLiteral("参数设置历史记录"));
    }
    m_grid = new TGridModel(m_table, gridColumns(history), history || !m_rights.allowed, this);
    for (QPushButton* b : {Button1, Button2}) {
        b->setEnabled(m_rights.allowed);
        b->setToolTip(m_rights.allowed ? QString() : m_rights.Refusal());
    }
    // Enter ends a cell's edit and keeps the row pending; the row is posted when the cursor
    // leaves it (below) or by the close step, which drops it without name and address.
    m_grid->SetHoldRows(!history);
    Grid->SetModel(m_grid);
    connect(Grid->view()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex& previous) {
                Guard([&] { GridRowLeft(previous.row(), current.row()); });
            });
    Grid->view()->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Grid->view()->horizontalHeader()->setMaximumSectionSize(TGridModel::MaxColumnWidth);
    // An empty list starts with a row to type the first instrument into.
    if (!history && m_rights.allowed && m_table->rowCount() == 0)
        m_table->insertRow(0);
    if (m_grid->rowCount() > 0)
        Grid->view()->setCurrentIndex(m_grid->index(0, 0));
}

void TFrmApparatus::GridRowLeft(int previous, int current)
{
    // A row going away (dropped, or the window closing) moves the cursor too: not a post.
    if (m_closed || m_grid->Reverting())
        return;
    if (m_listMode != 1 || previous < 0 || previous == current || !m_grid->RowDirty(previous))
        return;
    // The grid's own behaviour: a changed row is posted as the cursor leaves it, without the
    // name and address test of the add and close steps.
    if (!m_table->submitAll())
        throw EDatabaseError::From(m_table->lastError());
}

int TFrmApparatus::currentRow() const
{
    QModelIndex current = Grid->view()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

bool TFrmApparatus::nameAndAddressGiven(int row) const
{
    if (row < 0)
        return false;
    QSqlRecord r = m_table->record(row);
    // An empty cell of a new row is a null value, whose text Qt gives as "0" for a number.
    auto given = [&r](const QString& column) {
        QVariant v = r.value(column);
        return !v.isNull() && !v.toString().trimmed().isEmpty();
    };
    return given(Column::ApparatusName) && given(Column::ApparatusAddress);
}

void TFrmApparatus::Button1Click()
{
    if (!m_rights.allowed)
        return;
    int row = currentRow();
    if (!nameAndAddressGiven(row))
        return; // the hint under the grid states the rule
    if (m_table->isDirty() && !m_table->submit())
        throw EDatabaseError::From(m_table->lastError());
    int added = m_table->rowCount();
    m_table->insertRow(added);
    Grid->view()->setCurrentIndex(m_grid->index(added, 0));
    Grid->view()->setFocus();
}

void TFrmApparatus::Button2Click()
{
    if (!m_rights.allowed)
        return;
    int row = currentRow();
    if (row < 0 || m_table->rowCount() == 0)
        return;
    if (m_grid->IsNewRow(row)) {
        m_grid->RevertRow(row); // a new row still being typed is simply discarded
    } else {
        if (!m_table->removeRow(row))
            throw EDatabaseError::From(m_table->lastError());
        m_table->select();
    }
    // The next row becomes current (the last one when the deleted row was last), so a second
    // press deletes it.
    if (m_grid->rowCount() > 0) {
        int column = std::max(0, Grid->view()->currentIndex().column());
        Grid->view()->setCurrentIndex(m_grid->index(std::min(row, m_grid->rowCount() - 1), column));
    }
}

void TFrmApparatus::Button3Click()
{
    close();
}

void TFrmApparatus::done(int result)
{
    if (!m_closed)
        Guard([this] { FormClose(); });
    QDialog::done(result);
}

void TFrmApparatus::FormClose()
{
    m_closed = true;
    // A row left in editing or inserting is posted only with its name and address; the others
    // go first (from the bottom, so the rows above keep their places), then what is left posts.
    for (int row = m_table->rowCount() - 1; row >= 0; --row) {
        if (m_grid->RowDirty(row) && !nameAndAddressGiven(row))
            m_grid->RevertRow(row);
    }
    if (m_table->isDirty() && !m_table->submitAll())
        throw EDatabaseError::From(m_table->lastError());
}

} // namespace zeva
