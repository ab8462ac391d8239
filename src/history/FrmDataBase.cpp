// TFrmDataBase and TFrmFrmDstList: history curves and the detail table.
#include "FrmDataBase.h"

#include "Application.h"
#include "AxisRange.h"
#include "Convert.h"
#include "FrmJournal.h"
#include "DataGrid.h"
#include "FrmAddLine.h"
#include "FrmApparatus.h"
#include "GridModel.h"
#include "IniFile.h"
#include "MaskEdit.h"
#include "ResultModel.h"
#include "Selection.h"
#include "Settings.h"
#include "SharedTexts.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace zeva {

namespace {

// The eight history curves: the column each draws and its colour.
struct Curve {
    const char* column;
    QColor color;
};
const Curve Curves[8] = {
    {"AActTemperature", QColor(255, 0, 0)},   {"BActTemperature", QColor(255, 128, 0)},
    {"CActTemperature", QColor(255, 255, 0)}, {"DActTemperature", QColor(0, 255, 0)},
    {"ABlackTemperature", QColor(0, 0, 0)},   {"BBlackTemperature", QColor(0, 0, 255)},
    {"CBlackTemperature", QColor(64, 0, 64)}, {"DBlackTemperature", QColor(0, 128, 128)},
};

} // namespace

TFrmDataBase::TFrmDataBase(TDatabase& db, TIniFile& settings, QWidget* parent)
    : QDialog(parent), m_db(db), m_settings(settings)
{
    setObjectName(QStringLiteral("FrmDataBase"));
    setWindowTitle(QStringLiteral("历史温度曲线查询"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);
    root->addWidget(Named(BigTitle(QStringLiteral("历史温度曲线查询"), this), "Label3"));

    buildChart(root);
    buildFields(root);
    connectHandlers();
    FormShow();
}

void TFrmDataBase::buildChart(QVBoxLayout* root)
{
    ChartView = Named(new QCustomPlot(this), "ChartView");
    ChartView->setMinimumSize(900, 420);
    ChartView->plotLayout()->insertRow(0);
    auto* chartTitle = new QCPTextElement(ChartView, QStringLiteral("温度曲线显示"),
                                          QFont(ChartView->font().family(), 12, QFont::Bold));
    chartTitle->setTextColor(Qt::blue);
    ChartView->plotLayout()->addElement(0, 0, chartTitle);
    ChartView->xAxis->setLabel(QStringLiteral("时间/ 分钟"));
    ChartView->yAxis->setLabel(QStringLiteral("温度范围"));
    ChartView->legend->setVisible(true);
    for (int i = 0; i < 8; ++i) {
        QCPGraph* g = ChartView->addGraph();
        g->setName(CurveNames[std::size_t(i)]);
        g->setPen(QPen(Curves[i].color, 1));
        g->setScatterStyle(QCPScatterStyle::ssNone);
    }
    root->addWidget(ChartView, 1);
}

void TFrmDataBase::buildFields(QVBoxLayout* root)
{
    MCapition = Named(new QComboBox(this), "MCapition");
    ComAddress = Named(new QComboBox(this), "ComAddress");
    for (QComboBox* c : {MCapition, ComAddress}) {
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
    }
    MCapition->setMinimumWidth(200);
    EditType = Named(new QLineEdit(QStringLiteral("ZEVA-5000"), this), "EditType");
    EditType->setEnabled(false);
    DDateBegin = Named(new QDateEdit(QDate::currentDate(), this), "DDateBegin");
    DDateEnd = Named(new QDateEdit(QDate::currentDate(), this), "DDateEnd");
    for (QDateEdit* d : {DDateBegin, DDateEnd}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    // FormCreate: the whole day.
    DDateBeginT = Named(new TMaskEdit(QStringLiteral("00:00:00"), this), "DDateBeginT");
    DDateEndT = Named(new TMaskEdit(QStringLiteral("23:59:59"), this), "DDateEndT");
    for (TMaskEdit* t : {DDateBeginT, DDateEndT})
        t->setFixedWidth(90);
    Button3 = Named(new QPushButton(QStringLiteral("添加曲线(&A)"), this), "Button3");
    Button1 = Named(new QPushButton(QStringLiteral("查询(&S)"), this), "Button1");
    Button4 = Named(new QPushButton(QStringLiteral("查看详细(&X)"), this), "Button4");
    Button2 = Named(new QPushButton(QStringLiteral("退出(&C)"), this), "Button2");
    auto* instrument = new QHBoxLayout;
    instrument->addWidget(Named(new QLabel(QStringLiteral("名称："), this), "Label5"));
    instrument->addWidget(MCapition);
    instrument->addSpacing(12);
    instrument->addWidget(Named(new QLabel(QStringLiteral("地址："), this), "Label4"));
    instrument->addWidget(ComAddress);
    instrument->addSpacing(12);
    instrument->addWidget(Named(new QLabel(QStringLiteral("系列："), this), "Label13"));
    instrument->addWidget(EditType);
    instrument->addStretch(1);
    root->addLayout(instrument);
    auto* range = new QHBoxLayout;
    range->addWidget(Named(new QLabel(QStringLiteral("查询时间："), this), "Label1"));
    range->addWidget(DDateBegin);
    range->addWidget(DDateBeginT);
    range->addWidget(Named(new QLabel(QStringLiteral("至"), this), "Label2"));
    range->addWidget(DDateEnd);
    range->addWidget(DDateEndT);
    range->addStretch(1);
    root->addLayout(range);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {Button3, Button1, Button4, Button2})
        buttons->addWidget(b);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);
}

void TFrmDataBase::connectHandlers()
{
    auto on = [this](auto* sender, auto signal, std::function<void()> f) {
        ConnectGuarded(sender, signal, this, std::move(f));
    };
    on(ComAddress->lineEdit(), &QLineEdit::textEdited, [this] { ComAddressChange(); });
    on(ComAddress, &QComboBox::textActivated, [this] { ComAddressChange(); });
    on(MCapition->lineEdit(), &QLineEdit::textEdited, [this] { MCapitionChange(); });
    on(MCapition, &QComboBox::textActivated, [this] { MCapitionChange(); });
    on(Button1, &QPushButton::clicked, [this] { Button1Click(); });
    on(Button2, &QPushButton::clicked, [this] { Button2Click(); });
    on(Button3, &QPushButton::clicked, [this] { Button3Click(); });
    on(Button4, &QPushButton::clicked, [this] { Button4Click(); });
}

TFrmDataBase::~TFrmDataBase()
{
    BlockChildSignals(this);
}

void TFrmDataBase::FormShow()
{
    for (int i = 0; i < SettingsKey::HistoryLineCount; ++i) {
        QString v = m_settings.ReadString(SettingsKey::HistoryLine, SettingsKey::HistoryLineKey(i), QString());
        if (!v.trimmed().isEmpty())
            TempStrings << v;
    }
    Guard([this] {
        m_adoRecord = SelectApparatus(m_db);
        FillSelectors(m_adoRecord, ComAddress, MCapition, EditType); // starts on the highest address
    });
    SetAxisRange(ChartView->xAxis, 0, 60);
    SetAxisRange(ChartView->yAxis, -100, 100);
    ChartView->replot();
}

void TFrmDataBase::ComAddressChange()
{
    FollowAddress(m_adoRecord, ComAddress, MCapition, EditType);
}

void TFrmDataBase::MCapitionChange()
{
    FollowName(m_adoRecord, MCapition, ComAddress, EditType);
}

void TFrmDataBase::Button1Click()
{
    qint64 id = LookupIdByAddressText(m_db, ComAddress->currentText());
    QDateTime begin = StrToDateTime(DDateBegin->date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
                                    DDateBeginT->text().trimmed());
    QDateTime end = StrToDateTime(DDateEnd->date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
                                  DDateEndT->text().trimmed());
    m_adoQuery = SelectRecords(m_db, id, begin, end);

    bool marked[8] = {};
    for (const QString& entry : TempStrings)
        for (int i = 0; i < 8; ++i)
            if (entry == CurveNames[std::size_t(i)])
                marked[i] = true;
    // Each search shows its own result alone.
    for (int i = 0; i < 8; ++i)
        ChartView->graph(i)->data()->clear();
    SetAxisRange(ChartView->xAxis, 0, m_adoQuery.RecordCount());
    int n = 0;
    for (m_adoQuery.First(); !m_adoQuery.Eof(); m_adoQuery.Next(), ++n)
        for (int i = 0; i < 8; ++i)
            if (marked[i])
                ChartView->graph(i)->addData(n, m_adoQuery.FieldAsFloat(QLatin1String(Curves[i].column)));
    m_adoQuery.First();
    ChartView->replot();
}

void TFrmDataBase::Button3Click()
{
    TFrmAddLine chooser(TempStrings, this);
    chooser.exec();
}

void TFrmDataBase::Button4Click()
{
    TFrmFrmDstList details(m_adoQuery, this);
    details.exec();
}

void TFrmDataBase::Button2Click()
{
    close();
}

void TFrmDataBase::done(int result)
{
    if (!m_closed)
        FormClose();
    QDialog::done(result);
}

void TFrmDataBase::FormClose()
{
    m_closed = true;
    try {
        for (int i = 0; i < TempStrings.size() && i < SettingsKey::HistoryLineCount; ++i)
            if (!TempStrings[i].trimmed().isEmpty())
                m_settings.WriteString(SettingsKey::HistoryLine, SettingsKey::HistoryLineKey(i),
                                       TempStrings[i].trimmed());
        // A list shortened in the chooser stays short: keys beyond its end are emptied.
        for (int i = int(TempStrings.size()); i < SettingsKey::HistoryLineCount; ++i)
            if (!m_settings.ReadString(SettingsKey::HistoryLine, SettingsKey::HistoryLineKey(i), {}).isEmpty())
                m_settings.WriteString(SettingsKey::HistoryLine, SettingsKey::HistoryLineKey(i), QString());
    } catch (const std::exception&) {
        // A failure while writing ends the step silently.
    }
}

// ---- detail table ----

namespace {

std::vector<TGridColumn> detailColumns()
{
    std::vector<TGridColumn> c{{"InDateTime", "录入时间"}};
    for (int i = 0; i < 8; ++i)
        c.push_back({QLatin1String(Curves[i].column), CurveNames[std::size_t(i)]});
    return c;
}

} // namespace

TFrmFrmDstList::TFrmFrmDstList(const TQueryResult& result, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmFrmDstList"));
    setWindowTitle(QStringLiteral("查询明细表"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);
    root->addWidget(BigTitle(QStringLiteral("查询明细表"), this));
    Grid = Named(new TDataGrid(this), "Grid");
    auto* source = new TResultModel(result, this);
    Grid->SetModel(new TGridModel(source, detailColumns(), true, this));
    Grid->view()->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    root->addWidget(Grid, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButExport = Named(new QPushButton(QStringLiteral("导出(&E)"), this), "ButExport");
    ButC = Named(new QPushButton(QStringLiteral("关闭(&C)"), this), "ButC");
    buttons->addWidget(ButExport);
    buttons->addWidget(ButC);
    root->addLayout(buttons);
    setFixedSize(1000, 560); // a fixed-size dialog
    connect(ButC, &QPushButton::clicked, this, [this] { close(); });
    ConnectGuarded(ButExport, &QPushButton::clicked, this, [this] { ButExportClick(); });
}

bool TFrmFrmDstList::ExportCsv(const QString& fileName) const
{
    return ExportModelCsv(*Grid->model(), fileName);
}

void TFrmFrmDstList::ButExportClick()
{
    ExportModelCsvAs(this, *Grid->model(), QStringLiteral("查询明细表.csv"));
}

} // namespace zeva
