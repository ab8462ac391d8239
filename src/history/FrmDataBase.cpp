// TFrmDataBase and TFrmFrmDstList: history curves and the detail table.
#include "FrmDataBase.h"

#include "Application.h"
#include "AxisRange.h"
#include "ChartTools.h"
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

#include <QCheckBox>
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

// Seconds since the epoch of stored local times "yyyy-MM-dd HH:mm:ss". The zone's offset is asked
// once per hour of wall time: asking it for each of a month's rows costs most of a search.
class TLocalSeconds {
public:
    double operator()(const QString& text)
    {
        const QDate date(text.mid(0, 4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
        const int h = text.mid(11, 2).toInt(), m = text.mid(14, 2).toInt(), s = text.mid(17, 2).toInt();
        const auto slow = [&] {
            return double(QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss")).toSecsSinceEpoch());
        };
        if (text.size() != 19 || !date.isValid() || !QTime::isValid(h, m, s))
            return slow();
        const qint64 wall = date.toJulianDay() * 86400 + h * 3600 + m * 60 + s;
        if (wall / 3600 != m_hour) {
            const QDateTime start(date, QTime(h, 0, 0));
            if (!start.isValid())
                return slow(); // an hour the clocks skip
            m_hour = wall / 3600;
            m_offset = start.offsetFromUtc();
        }
        return double(wall - m_offset - UnixEpochJulianDay * 86400);
    }

private:
    static constexpr qint64 UnixEpochJulianDay = 2440588;
    qint64 m_hour = -1;
    int m_offset = 0;
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
    m_tools = new TChartTools(ChartView, {[this](double key) { return keySeconds(key); },
                                          [this](double key) { return keyText(key); }});
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
    AutoScaleBox = Named(new QCheckBox(QStringLiteral("自动纵轴"), this), "AutoScaleBox");
    TimeAxisBox = Named(new QCheckBox(QStringLiteral("按时间"), this), "TimeAxisBox");
    ExportButton = Named(new QPushButton(QStringLiteral("导出曲线"), this), "ExportButton");
    PrintButton = Named(new QPushButton(QStringLiteral("打印曲线"), this), "PrintButton");
    AutoScaleBox->setToolTip(QStringLiteral("温度轴适应查询结果；不选时为 -100～100，并扩展到包含每个读数"));
    TimeAxisBox->setToolTip(QStringLiteral("横轴为读数的日期和时间，超过中位间隔三倍的空档处曲线断开；不选时为行号"));
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
    for (QWidget* w : std::initializer_list<QWidget*>{AutoScaleBox, TimeAxisBox, ExportButton, PrintButton})
        buttons->addWidget(w);
    buttons->addStretch(1);
    for (QPushButton* b : {Button3, Button1, Button4, Button2})
        buttons->addWidget(b);
    Button1->setDefault(true); // Enter searches, from any box
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
    on(AutoScaleBox, &QCheckBox::clicked, [this] { AutoScaleBoxClick(); });
    on(TimeAxisBox, &QCheckBox::clicked, [this] { TimeAxisBoxClick(); });
    // The CSV's time column holds the readings' times, whatever the axis counts.
    on(ExportButton, &QPushButton::clicked, [this] {
        ExportChartAsked(ChartView, [this](double k) { return timeText(keySeconds(k)); }, this);
    });
    on(PrintButton, &QPushButton::clicked, [this] { PrintChartAsked(ChartView, this); });
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
    AutoScaleBox->setChecked(m_settings.ReadInteger(SettingsKey::HistoryLine, SettingsKey::AutoScale, 0) != 0);
    TimeAxisBox->setChecked(m_settings.ReadInteger(SettingsKey::HistoryLine, SettingsKey::TimeAxis, 0) != 0);
    SetAxisRange(ChartView->xAxis, 0, 60);
    SetAxisRange(ChartView->yAxis, -100, 100);
    // Over time from the start: the range the boxes hold, empty.
    m_begin = double(StrToDateTime(DDateBegin->date().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"))
                         .toSecsSinceEpoch());
    m_end = m_begin + 86399;
    if (TimeAxisBox->isChecked())
        draw();
    ChartView->replot();
}

void TFrmDataBase::AutoScaleBoxClick()
{
    m_tools->ForgetHome();
    m_settings.WriteInteger(SettingsKey::HistoryLine, SettingsKey::AutoScale, AutoScaleBox->isChecked() ? 1 : 0);
    fitValueAxis();
    ChartView->replot();
}

void TFrmDataBase::TimeAxisBoxClick()
{
    m_settings.WriteInteger(SettingsKey::HistoryLine, SettingsKey::TimeAxis, TimeAxisBox->isChecked() ? 1 : 0);
    draw();
}

double TFrmDataBase::keySeconds(double key) const
{
    if (TimeAxisBox->isChecked() || m_times.empty())
        return key;
    const auto row = std::size_t(std::clamp<double>(std::round(key), 0, double(m_times.size() - 1)));
    return m_times[row];
}

QString TFrmDataBase::timeText(double seconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::llround(seconds))).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString TFrmDataBase::keyText(double key) const
{
    const QString when = timeText(keySeconds(key));
    if (TimeAxisBox->isChecked() || m_times.empty())
        return when;
    return QStringLiteral("第 %1 行  %2").arg(qint64(std::llround(key))).arg(when);
}

void TFrmDataBase::fitValueAxis()
{
    // Part of the readings is never hidden: the fixed range widens to hold them all.
    const TMinMaxIndex::TExtremes e = ShownExtremes(ChartView, -std::numeric_limits<double>::infinity(),
                                                    std::numeric_limits<double>::infinity());
    const auto [lo, hi] = ValueAxisRange(e.min, e.max, {-100, 100}, AutoScaleBox->isChecked());
    SetAxisRange(ChartView->yAxis, lo, hi);
}

void TFrmDataBase::draw()
{
    const bool byTime = TimeAxisBox->isChecked();
    for (int i = 0; i < 8; ++i)
        ChartView->graph(i)->data()->clear();
    const int rows = m_adoQuery.RecordCount();
    std::vector<std::size_t> breaks = byTime ? GapBreaks(m_times) : std::vector<std::size_t>{};
    auto nextBreak = breaks.begin();
    const double gap = std::numeric_limits<double>::quiet_NaN();
    int n = 0;
    for (m_adoQuery.First(); !m_adoQuery.Eof(); m_adoQuery.Next(), ++n) {
        const double key = byTime ? m_times[std::size_t(n)] : n;
        const bool breakHere = nextBreak != breaks.end() && *nextBreak == std::size_t(n);
        if (breakHere)
            ++nextBreak;
        for (int i = 0; i < 8; ++i) {
            if (!m_marked[i])
                continue;
            if (breakHere)
                ChartView->graph(i)->addData((m_times[std::size_t(n) - 1] + key) / 2, gap);
            ChartView->graph(i)->addData(key, m_adoQuery.FieldAsFloat(QLatin1String(Curves[i].column)));
        }
    }
    m_adoQuery.First();
    if (byTime) {
        auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm"));
        ChartView->xAxis->setTicker(ticker);
        ChartView->xAxis->setLabel(QStringLiteral("日期 / 时间"));
        SetAxisRange(ChartView->xAxis, m_begin, m_end);
    } else {
        ChartView->xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
        ChartView->xAxis->setLabel(QStringLiteral("时间/ 分钟"));
        SetAxisRange(ChartView->xAxis, 0, rows);
    }
    fitValueAxis();
    m_tools->Reset();
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
    // The searched instrument's own name: the name box may show another (set from code).
    TQueryResult registry = m_adoRecord;
    m_queryName = registry.Locate(Column::ID, id) ? registry.FieldAsString(Column::ApparatusName)
                                                   : ComAddress->currentText().trimmed();
    m_begin = double(begin.toSecsSinceEpoch());
    m_end = double(end.toSecsSinceEpoch());
    m_times.clear();
    TLocalSeconds seconds;
    for (m_adoQuery.First(); !m_adoQuery.Eof(); m_adoQuery.Next())
        m_times.push_back(seconds(m_adoQuery.FieldAsString(QStringLiteral("InDateTime"))));
    for (int i = 0; i < 8; ++i)
        m_marked[i] = false;
    for (const QString& entry : TempStrings)
        for (int i = 0; i < 8; ++i)
            if (entry == CurveNames[std::size_t(i)])
                m_marked[i] = true;
    // Each search shows its own result alone.
    draw();
}

void TFrmDataBase::Button3Click()
{
    TFrmAddLine chooser(TempStrings, this);
    chooser.exec();
}

void TFrmDataBase::Button4Click()
{
    TFrmFrmDstList details(m_adoQuery, this, DetailCsvName());
    details.exec();
}

QString TFrmDataBase::DetailCsvName() const
{
    if (m_queryName.isNull())
        return QStringLiteral("查询明细表.csv");
    auto stamp = [](double seconds) {
        return QDateTime::fromSecsSinceEpoch(qint64(seconds)).toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    };
    QString name = m_queryName;
    name.replace(QLatin1Char('/'), QLatin1Char('_')); // a name is no path
    return name + QLatin1Char('_') + stamp(m_begin) + QLatin1Char('_') + stamp(m_end) + QStringLiteral(".csv");
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

TFrmFrmDstList::TFrmFrmDstList(const TQueryResult& result, QWidget* parent, const QString& csvName)
    : QDialog(parent), CsvName(csvName)
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
    ExportModelCsvAs(this, *Grid->model(), CsvName);
}

} // namespace zeva
