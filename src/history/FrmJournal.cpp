// The alarm and event journal window.
#include "FrmJournal.h"

#include "Alarms.h"
#include "Application.h"
#include "DataGrid.h"
#include "MonitorCore.h"
#include "Statements.h"
#include "WindowSupport.h"
#include "WriteRights.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zeva {

namespace {

const char* const Titles[] = {"类别", "地址", "内容", "发生时间", "消除时间", "确认时间", "确认人"};

} // namespace

void TJournalModel::SetIds(std::vector<qint64> ids)
{
    beginResetModel();
    m_ids = std::move(ids);
    m_pages.clear();
    endResetModel();
}

const QVariantList* TJournalModel::rowAt(int row) const
{
    const int page = row / PageRows;
    auto it = m_pages.find(page);
    if (it == m_pages.end()) {
        const std::size_t first = std::size_t(page) * PageRows;
        const std::size_t last = std::min(m_ids.size(), first + PageRows);
        std::vector<qint64> ids(m_ids.begin() + std::ptrdiff_t(first), m_ids.begin() + std::ptrdiff_t(last));
        try {
            it = m_pages.emplace(page, SelectJournalRows(m_db, ids)).first;
        } catch (const EDatabaseError&) {
            return nullptr; // shown empty; the next paint asks again
        }
    }
    const std::size_t i = std::size_t(row % PageRows);
    const auto& rows = it->second.rows();
    return i < rows.size() ? &rows[i] : nullptr;
}

int TJournalModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_ids.size());
}

int TJournalModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(std::size(Titles));
}

QVariant TJournalModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const QVariantList* row = rowAt(index.row());
    if (!row)
        return {};
    // The columns of SelectJournalRows.
    enum { Id, ApparatusId, Address, Kind, Text, Raised, Cleared, Acked, By };
    const QVariantList& r = *row;
    const bool alarm = IsAlarmKind(r[Kind].toString());
    if (role == Qt::ForegroundRole && alarm && r[Cleared].isNull())
        return QColor(200, 0, 0); // still active
    if (role == Qt::FontRole && alarm && r[Acked].isNull()) {
        QFont bold;
        bold.setBold(true); // not yet acknowledged
        return bold;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0: return alarm ? QStringLiteral("报警") : QStringLiteral("事件");
    case 1: return r[Address].isNull() ? QStringLiteral("总线") : r[Address].toString();
    case 2: return r[Text];
    case 3: return r[Raised];
    case 4: return r[Cleared];
    case 5: return r[Acked];
    case 6: return r[By];
    }
    return {};
}

QVariant TJournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < int(std::size(Titles)))
        return QString::fromUtf8(Titles[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

TFrmJournal::TFrmJournal(TMonitorCore& core, QWidget* parent)
    : QDialog(parent), m_core(core), m_model(new TJournalModel(core.Db(), this))
{
    setObjectName(QStringLiteral("FrmJournal"));
    setWindowTitle(QStringLiteral("报警记录"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false); // the main window goes on being usable
    auto* root = new QVBoxLayout(this);
    root->addWidget(BigTitle(QStringLiteral("报警记录"), this));
    buildFilters(root);
    buildGrid(root);

    auto* buttons = new QHBoxLayout;
    ButAck = Named(new QPushButton(QStringLiteral("确认(&K)"), this), "ButAck");
    ButAckAll = Named(new QPushButton(QStringLiteral("全部确认"), this), "ButAckAll");
    ButExport = Named(new QPushButton(QStringLiteral("导出(&E)"), this), "ButExport");
    ButClose = Named(new QPushButton(QStringLiteral("关闭(&C)"), this), "ButClose");
    buttons->addWidget(ButAck);
    buttons->addWidget(ButAckAll);
    buttons->addStretch(1);
    buttons->addWidget(ButExport);
    buttons->addWidget(ButClose);
    root->addLayout(buttons);
    resize(1040, 600);

    ConnectGuarded(ButQuery, &QPushButton::clicked, this, [this] { ButQueryClick(); });
    ConnectGuarded(ButAck, &QPushButton::clicked, this, [this] { ButAckClick(); });
    ConnectGuarded(ButAckAll, &QPushButton::clicked, this, [this] { ButAckAllClick(); });
    ConnectGuarded(ButExport, &QPushButton::clicked, this, [this] { ButExportClick(); });
    connect(ButClose, &QPushButton::clicked, this, [this] { close(); });
    // The keyboard starts in the rows: Tab goes on to 确认, then to the other buttons and the filters.
    setTabOrder(Grid, ButAck);
    setTabOrder(ButAck, ButAckAll);
    setTabOrder(ButAckAll, ButExport);
    setTabOrder(ButExport, ButClose);
    setTabOrder(ButClose, Instrument);
    setTabOrder(Instrument, DateFrom);
    setTabOrder(DateFrom, DateTo);
    setTabOrder(DateTo, ButQuery);
    ConnectGuarded(&core, &TMonitorCore::journalStored, this, [this] { Reload(); });
    Reload();
    Grid->setFocus();
}

void TFrmJournal::buildFilters(QVBoxLayout* root)
{
    auto* filters = new QHBoxLayout;
    Instrument = Named(new QComboBox(this), "Instrument");
    Instrument->addItem(QStringLiteral("全部"), -2);
    Instrument->addItem(QStringLiteral("总线"), -1);
    const THealth& health = m_core.Health();
    for (uint8_t a : health.Polled())
        Instrument->addItem(QStringLiteral("地址 %1 %2").arg(a).arg(health.NameOf(a)), int(a));
    DateFrom = Named(new QDateEdit(QDate::currentDate().addDays(-30), this), "DateFrom");
    DateTo = Named(new QDateEdit(QDate::currentDate(), this), "DateTo");
    for (QDateEdit* d : {DateFrom, DateTo}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    ButQuery = Named(new QPushButton(QStringLiteral("查询(&Q)"), this), "ButQuery");
    filters->addWidget(new QLabel(QStringLiteral("仪表："), this));
    filters->addWidget(Instrument);
    filters->addWidget(new QLabel(QStringLiteral("从"), this));
    filters->addWidget(DateFrom);
    filters->addWidget(new QLabel(QStringLiteral("到"), this));
    filters->addWidget(DateTo);
    filters->addWidget(ButQuery);
    filters->addStretch(1);
    root->addLayout(filters);
}

void TFrmJournal::buildGrid(QVBoxLayout* root)
{
    Grid = Named(new QTableView(this), "Grid");
    Grid->setModel(m_model);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setTabKeyNavigation(false); // Tab goes on to the buttons
    Grid->setFocusPolicy(Qt::StrongFocus);
    Grid->verticalHeader()->hide();
    Grid->verticalHeader()->setDefaultSectionSize(22);
    Grid->horizontalHeader()->setStretchLastSection(true);
    for (int c : {0, 1})
        Grid->setColumnWidth(c, 56);
    Grid->setColumnWidth(2, 260);
    for (int c : {3, 4, 5})
        Grid->setColumnWidth(c, 150);
    root->addWidget(Grid, 1);
    Footer = Named(new QLabel(this), "Footer");
    root->addWidget(Footer);
}

void TFrmJournal::Reload()
{
    const int address = Instrument->currentData().toInt();
    const QDateTime from(DateFrom->date(), QTime(0, 0, 0));
    const QDateTime to(DateTo->date(), QTime(23, 59, 59));
    m_model->SetIds(SelectJournalIds(m_core.Db(), address, from, to));
    Footer->setText(QStringLiteral("共 %1 条").arg(m_model->rowCount()));
    if (m_model->rowCount() > 0)
        Grid->setCurrentIndex(m_model->index(0, 0)); // the newest active alarm, ready for 确认
}

void TFrmJournal::ButQueryClick()
{
    Reload();
}

void TFrmJournal::acknowledge(const std::vector<qint64>& ids)
{
    m_core.Acknowledge(ids, OperatingSystemUser()); // the banner follows the core's count
    Reload();
}

void TFrmJournal::ButAckClick()
{
    std::vector<qint64> ids;
    for (const QModelIndex& row : Grid->selectionModel()->selectedRows())
        ids.push_back(m_model->IdAt(row.row()));
    if (ids.empty())
        return; // nothing selected: "all" has its own button
    acknowledge(ids);
}

void TFrmJournal::ButAckAllClick()
{
    acknowledge({});
}

bool TFrmJournal::ExportCsv(const QString& fileName) const
{
    return ExportModelCsv(*m_model, fileName);
}

void TFrmJournal::ButExportClick()
{
    ExportModelCsvAs(this, *m_model, QStringLiteral("报警记录.csv"));
}

} // namespace zeva
