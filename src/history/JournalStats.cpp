// The journal's alarm statistics page.
#include "JournalStats.h"

#include "Convert.h"
#include "DataGrid.h"
#include "IniFile.h"
#include "WindowSupport.h"

#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace zeva {

namespace {

// Wall seconds, as the chart's time axis reads them (a UTC ticker): the stored local times as they read.
double wall(const QDateTime& local)
{
    return double(QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch());
}

QString addressText(int address)
{
    return address < 0 ? QStringLiteral("总线") : QString::number(address);
}

QString durationOrNone(const std::optional<qint64>& seconds)
{
    return seconds ? DurationText(*seconds) : QStringLiteral("—");
}

void fill(QTableWidget* table, const std::vector<QStringList>& rows)
{
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < rows[std::size_t(r)].size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[std::size_t(r)][c]));
}

} // namespace

TStatsPage::TStatsPage(TDatabase& db, QWidget* parent) : QWidget(parent), m_db(db)
{
    setObjectName(QStringLiteral("StatsPage"));
    auto* root = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    DateFrom = Named(new QDateEdit(QDate::currentDate().addDays(-6), this), "StatsFrom");
    DateTo = Named(new QDateEdit(QDate::currentDate(), this), "StatsTo");
    for (QDateEdit* d : {DateFrom, DateTo}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    ButStats = Named(new QPushButton(QStringLiteral("统计(&S)"), this), "ButStats");
    ButExport = Named(new QPushButton(QStringLiteral("导出 CSV"), this), "ButStatsExport");
    filters->addWidget(new QLabel(QStringLiteral("从"), this));
    filters->addWidget(DateFrom);
    filters->addWidget(new QLabel(QStringLiteral("到"), this));
    filters->addWidget(DateTo);
    filters->addWidget(ButStats);
    filters->addStretch(1);
    filters->addWidget(ButExport);
    root->addLayout(filters);
    Summary = Named(new QLabel(this), "StatsSummary");
    Summary->setWordWrap(true);
    root->addWidget(Summary);

    Chart = Named(new QCustomPlot(this), "StatsChart");
    Chart->setMinimumHeight(180);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC); // wall seconds
    ticker->setDateTimeFormat(QStringLiteral("MM-dd\nHH:mm"));
    Chart->xAxis->setTicker(ticker);
    Chart->yAxis->setLabel(QStringLiteral("每10分钟报警数"));
    auto counts = QSharedPointer<QCPAxisTickerFixed>::create(); // whole numbers only
    counts->setTickStep(1);
    counts->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    Chart->yAxis->setTicker(counts);
    for (const QColor& colour : {QColor(31, 119, 180), QColor(214, 39, 40)}) {
        auto* bars = new QCPBars(Chart->xAxis, Chart->yAxis); // the plot owns it
        bars->setWidth(TAlarmStatistics::BucketSeconds);
        bars->setPen(Qt::NoPen);
        bars->setBrush(colour);
    }
    Chart->plottable(0)->setName(QStringLiteral("报警数"));
    Chart->plottable(1)->setName(QStringLiteral("泛滥"));
    Chart->legend->setVisible(true);
    auto* floodLine = new QCPItemStraightLine(Chart); // more than this in ten minutes is a flood
    floodLine->point1->setCoords(0, TAlarmStatistics::FloodAbove);
    floodLine->point2->setCoords(1, TAlarmStatistics::FloodAbove);
    floodLine->setPen(QPen(QColor(214, 39, 40), 1, Qt::DashLine));
    root->addWidget(Chart, 1);

    Sections = Named(new QTabWidget(this), "StatsSections");
    Totals = addSection(QStringLiteral("汇总"), "StatsTotals", {QStringLiteral("项目"), QStringLiteral("数值")});
    Buckets = addSection(QStringLiteral("每10分钟报警数"), "StatsBuckets",
                         {QStringLiteral("时段开始"), QStringLiteral("报警数")});
    Floods =
        addSection(QStringLiteral("报警泛滥"), "StatsFloods", {QStringLiteral("时段开始"), QStringLiteral("报警数")});
    Chattering = addSection(QStringLiteral("抖动报警"), "StatsChattering",
                            {QStringLiteral("地址"), QStringLiteral("仪表"), QStringLiteral("报警"),
                             QStringLiteral("发生次数"), QStringLiteral("抖动次数")});
    Top = addSection(QStringLiteral("最频繁的十项"), "StatsTop",
                     {QStringLiteral("次数"), QStringLiteral("地址"), QStringLiteral("仪表"), QStringLiteral("报警")});
    Standing = addSection(QStringLiteral("超过24小时"), "StatsStanding",
                          {QStringLiteral("发生时间"), QStringLiteral("地址"), QStringLiteral("仪表"),
                           QStringLiteral("报警"), QStringLiteral("持续时间")});
    root->addWidget(Sections, 1);

    ConnectGuarded(ButStats, &QPushButton::clicked, this, [this] { ButStatsClick(); });
    ConnectGuarded(ButExport, &QPushButton::clicked, this, [this] { ButExportClick(); });
}

QTableWidget* TStatsPage::addSection(const QString& title, const char* name, const QStringList& columns)
{
    auto* table = Named(new QTableWidget(0, int(columns.size()), Sections), QLatin1String(name));
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(22);
    table->horizontalHeader()->setStretchLastSection(true);
    Sections->addTab(table, title);
    return table;
}

void TStatsPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!std::exchange(m_shown, true))
        Guard([this] { ButStatsClick(); });
}

void TStatsPage::ButStatsClick()
{
    // Days given the wrong way round are meant the right way round.
    if (DateFrom->date() > DateTo->date()) {
        const QDate first = DateTo->date();
        DateTo->setDate(DateFrom->date());
        DateFrom->setDate(first);
    }
    const QDateTime from(DateFrom->date(), QTime(0, 0, 0));
    const QDateTime to(DateTo->date(), QTime(23, 59, 59));
    Show(JournalStatistics(m_db, from, to, QDateTime::currentDateTime()), from, to);
}

void TStatsPage::Show(const TAlarmStatistics& s, const QDateTime& from, const QDateTime& to)
{
    m_stats = s;
    Summary->setText(QStringLiteral("%1 至 %2：报警 %3 条，泛滥 %4 个时段，抖动 %5 项，超过24小时 %6 条；"
                                    "已确认 %7 条，确认用时中位 %8，最长 %9")
                         .arg(DateTimeText(from), DateTimeText(to))
                         .arg(s.total)
                         .arg(s.floods.size())
                         .arg(s.chattering.size())
                         .arg(s.standing.size())
                         .arg(s.acknowledged)
                         .arg(durationOrNone(s.medianAckSeconds), durationOrNone(s.worstAckSeconds)));
    fill(Totals, {{QStringLiteral("开始"), DateTimeText(from)},
                  {QStringLiteral("结束"), DateTimeText(to)},
                  {QStringLiteral("报警总数"), QString::number(s.total)},
                  {QStringLiteral("泛滥时段"), QString::number(s.floods.size())},
                  {QStringLiteral("抖动报警"), QString::number(s.chattering.size())},
                  {QStringLiteral("超过24小时"), QString::number(s.standing.size())},
                  {QStringLiteral("已确认"), QString::number(s.acknowledged)},
                  {QStringLiteral("确认用时中位"), durationOrNone(s.medianAckSeconds)},
                  {QStringLiteral("确认用时最长"), durationOrNone(s.worstAckSeconds)}});
    std::vector<QStringList> rows;
    for (const auto& b : s.perTenMinutes)
        rows.push_back({b.start, QString::number(b.count)});
    fill(Buckets, rows);
    rows.clear();
    for (const auto& b : s.floods)
        rows.push_back({b.start, QString::number(b.count)});
    fill(Floods, rows);
    rows.clear();
    for (const auto& c : s.chattering)
        rows.push_back({addressText(c.source.address), c.source.name, c.source.kindText, QString::number(c.raises),
                        QString::number(c.bursts)});
    fill(Chattering, rows);
    rows.clear();
    for (const auto& t : s.top)
        rows.push_back({QString::number(t.count), addressText(t.source.address), t.source.name, t.source.kindText});
    fill(Top, rows);
    rows.clear();
    for (const auto& a : s.standing)
        rows.push_back({a.raised, addressText(a.source.address), a.source.name, a.source.kindText,
                        DurationText(a.seconds) + (a.cleared ? QString() : QStringLiteral("（未消除）"))});
    fill(Standing, rows);
    showChart(from, to);
}

void TStatsPage::showChart(const QDateTime& from, const QDateTime& to)
{
    QVector<double> x, y, floodX, floodY;
    for (const auto& b : m_stats.perTenMinutes) {
        const double middle = double(WallSeconds(b.start).value_or(0)) + TAlarmStatistics::BucketSeconds / 2.0;
        const bool flood = b.count > TAlarmStatistics::FloodAbove;
        (flood ? floodX : x) << middle;
        (flood ? floodY : y) << b.count;
    }
    static_cast<QCPBars*>(Chart->plottable(0))->setData(x, y, true);
    static_cast<QCPBars*>(Chart->plottable(1))->setData(floodX, floodY, true);
    Chart->xAxis->setRange(wall(from), wall(to) + 1);
    int most = TAlarmStatistics::FloodAbove; // the flood line's height stays in view
    for (const auto& b : m_stats.perTenMinutes)
        most = std::max(most, b.count);
    Chart->yAxis->setRange(0, most * 1.1);
    Chart->replot();
}

bool TStatsPage::ExportCsv(const QString& fileName) const
{
    QString text;
    for (int i = 0; i < Sections->count(); ++i)
        text +=
            CsvLine({Sections->tabText(i)}) + ModelCsvText(*static_cast<QTableWidget*>(Sections->widget(i))->model());
    return WriteCsvFile(fileName, text);
}

void TStatsPage::ButExportClick()
{
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("导出"), QStringLiteral("报警统计.csv"),
                                                      QStringLiteral("CSV (*.csv)"));
    if (name.isEmpty())
        return;
    if (!ExportCsv(name))
        throw EIniFileError(("Unable to write to " + name).toStdString());
}

} // namespace zeva
