// The alarm and event journal window.
#include "FrmJournal.h"

#include "Alarms.h"
#include "Application.h"
#include "Colors.h"
#include "Convert.h"
#include "JournalStats.h"
#include "DataGrid.h"
#include "MonitorCore.h"
#include "Statements.h"
#include "WindowSupport.h"
#include "WriteRights.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zeva {

namespace {

const char* const Titles[] = {"类别", "地址", "内容", "发生时间", "消除时间", "确认时间", "确认人",
                              "优先级", "名称", "数值", "备注"};

// How long a shelved alarm stays away, in minutes.
const int ShelfMinutes[] = {15, 60, 240, 480, 1440};

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
    enum {
        Id, ApparatusId, Address, Kind, Text, Raised, Cleared, Acked, By, Priority, Value, Chatter, Comment,
        ShelvedUntil, ShelvedBy, ShelveReason, Name
    };
    const QVariantList& r = *row;
    const bool alarm = IsAlarmKind(r[Kind].toString());
    const int priority = r[Priority].isNull() ? -1 : r[Priority].toInt();
    if (index.column() == 7 && priority >= 0 && role == Qt::BackgroundRole)
        return PriorityColor(priority);
    if (index.column() == 7 && priority >= 0 && role == Qt::ForegroundRole)
        return PriorityTextColor(priority);
    if (role == Qt::ForegroundRole && alarm && r[Cleared].isNull() && r[ShelvedUntil].isNull())
        return QColor(200, 0, 0); // still active
    if (role == Qt::ForegroundRole && !r[ShelvedUntil].isNull())
        return QColor(Qt::gray); // shelved
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
    case 7: return PriorityText(priority);
    case 8: return r[Address].isNull() ? QString() : r[Name];
    case 9: return r[Value].isNull() ? QString() : OneDecimal(r[Value].toDouble());
    case 10: {
        QStringList notes;
        if (r[Chatter].toInt() != 0)
            notes << QStringLiteral("抖动");
        if (!r[ShelvedUntil].isNull())
            notes << QStringLiteral("搁置至 %1（%2：%3）").arg(r[ShelvedUntil].toString(), r[ShelvedBy].toString(),
                                                            r[ShelveReason].toString());
        if (!r[Comment].isNull())
            notes << QStringLiteral("确认备注：") + r[Comment].toString();
        return notes.join(QStringLiteral("；"));
    }
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
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(BigTitle(QStringLiteral("报警记录"), this));
    Tabs = Named(new QTabWidget(this), "Tabs");
    auto* records = new QWidget(Tabs);
    auto* root = new QVBoxLayout(records);
    buildFilters(root);
    buildGrid(root);

    auto* buttons = new QHBoxLayout;
    AckComment = Named(new QLineEdit(this), "AckComment");
    AckComment->setPlaceholderText(QStringLiteral("确认备注（可空）"));
    AckComment->setMaxLength(200);
    ButAck = Named(new QPushButton(QStringLiteral("确认(&K)"), this), "ButAck");
    ButAckAll = Named(new QPushButton(QStringLiteral("全部确认"), this), "ButAckAll");
    ShelveButton = Named(new QPushButton(QStringLiteral("搁置"), this), "ShelveButton");
    ShelveButton->setToolTip(QStringLiteral("选中的报警在选定时间内不计数、不显示在横幅；到期仍存在则重新报警"));
    ButExport = Named(new QPushButton(QStringLiteral("导出(&E)"), this), "ButExport");
    ButClose = Named(new QPushButton(QStringLiteral("关闭(&C)"), this), "ButClose");
    buttons->addWidget(new QLabel(QStringLiteral("备注："), this));
    buttons->addWidget(AckComment, 1);
    buttons->addWidget(ButAck);
    buttons->addWidget(ButAckAll);
    buttons->addWidget(ShelveButton);
    buttons->addStretch(1);
    buttons->addWidget(ButExport);
    root->addLayout(buttons);
    Tabs->addTab(records, QStringLiteral("记录"));
    Stats = new TStatsPage(core.Db(), Tabs);
    Tabs->addTab(Stats, QStringLiteral("统计"));
    outer->addWidget(Tabs, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ButClose);
    outer->addLayout(bottom);
    resize(1180, 640);

    ConnectGuarded(ButQuery, &QPushButton::clicked, this, [this] { ButQueryClick(); });
    ConnectGuarded(ButAck, &QPushButton::clicked, this, [this] { ButAckClick(); });
    ConnectGuarded(ButAckAll, &QPushButton::clicked, this, [this] { ButAckAllClick(); });
    ConnectGuarded(ButExport, &QPushButton::clicked, this, [this] { ButExportClick(); });
    ConnectGuarded(ShelveButton, &QPushButton::clicked, this, [this] { ShelveButtonClick(); });
    connect(ButClose, &QPushButton::clicked, this, [this] { close(); });
    // The keyboard starts in the rows: Tab goes on to 确认, then to the other buttons and the filters.
    setTabOrder(Grid, ButAck);
    setTabOrder(ButAck, ButAckAll);
    setTabOrder(ButAckAll, ShelveButton);
    setTabOrder(ShelveButton, AckComment);
    setTabOrder(AckComment, ButExport);
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
    // The comment goes with this acknowledgement only.
    m_core.Acknowledge(ids, OperatingSystemUser(), AckComment->text()); // the banner follows the core's count
    AckComment->clear();
    Reload();
}

std::vector<qint64> TFrmJournal::selectedIds() const
{
    std::vector<qint64> ids;
    for (const QModelIndex& row : Grid->selectionModel()->selectedRows())
        ids.push_back(m_model->IdAt(row.row()));
    return ids;
}

void TFrmJournal::ButAckClick()
{
    const std::vector<qint64> ids = selectedIds();
    if (ids.empty())
        return; // nothing selected: "all" has its own button
    acknowledge(ids);
}

int TFrmJournal::ShelveSelected(int minutes, const QString& reason)
{
    const std::vector<qint64> ids = selectedIds();
    if (ids.empty() || minutes <= 0 || reason.trimmed().isEmpty())
        return 0;
    const int shelved = m_core.Shelve(ids, QDateTime::currentDateTime().addSecs(qint64(minutes) * 60),
                                      OperatingSystemUser(), reason);
    Reload();
    return shelved;
}

void TFrmJournal::ShelveButtonClick()
{
    if (selectedIds().empty()) {
        Footer->setText(QStringLiteral("先选中要搁置的报警"));
        return;
    }
    TShelveDialog ask(this);
    if (ask.exec() != QDialog::Accepted)
        return;
    const int shelved = ShelveSelected(ask.Minutes(), ask.Reason->text());
    Footer->setText(Footer->text() + QStringLiteral("；已搁置 %1 条").arg(shelved));
}

TShelveDialog::TShelveDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ShelveDialog"));
    setWindowTitle(QStringLiteral("搁置报警"));
    auto* form = new QFormLayout(this);
    For = Named(new QComboBox(this), "ShelveFor");
    for (int minutes : ShelfMinutes)
        For->addItem(minutes < 60 ? QStringLiteral("%1 分钟").arg(minutes) : QStringLiteral("%1 小时").arg(minutes / 60),
                     minutes);
    For->setCurrentIndex(1);
    Reason = Named(new QLineEdit(this), "ShelveReason");
    Reason->setMaxLength(200);
    Reason->setPlaceholderText(QStringLiteral("必填，如：检修中、传感器待更换"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("搁置(&S)"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    Ok = box->button(QDialogButtonBox::Ok);
    Ok->setEnabled(false); // a reason first
    form->addRow(QStringLiteral("时长："), For);
    form->addRow(QStringLiteral("原因："), Reason);
    form->addRow(box);
    connect(Reason, &QLineEdit::textChanged, this, [this](const QString& t) { Ok->setEnabled(!t.trimmed().isEmpty()); });
    connect(box, &QDialogButtonBox::accepted, this, [this] {
        if (!Reason->text().trimmed().isEmpty())
            accept();
    });
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Reason->setFocus();
}

int TShelveDialog::Minutes() const
{
    return For->currentData().toInt();
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
