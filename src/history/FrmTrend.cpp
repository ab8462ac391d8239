// The analysis window.
#include "FrmTrend.h"

#include "Application.h"
#include "AxisRange.h"
#include "ChartMath.h"
#include "ChartTools.h"
#include "Convert.h"
#include "ErrorLog.h"
#include "IniFile.h"
#include "Settings.h"
#include "SharedTexts.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeva {

namespace {

const char* const Presets[] = {"今天", "昨天", "最近7天", "本月", "最近一年"};
const QString Custom = QStringLiteral("自定义");
const QColor Palette[] = {{31, 119, 180}, {255, 127, 14}, {44, 160, 44},  {214, 39, 40},  {148, 103, 189},
                          {140, 86, 75},  {227, 119, 194}, {127, 127, 127}, {188, 189, 34}, {23, 190, 207}};
constexpr int AddressRole = Qt::UserRole, ColumnRole = Qt::UserRole + 1;

// Wall seconds: a local time as the database stores it, read as UTC.
double wall(const QDateTime& local)
{
    return double(QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch());
}

QDateTime fromWall(double seconds)
{
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC);
    return QDateTime(utc.date(), utc.time());
}

QString levelText(TTrendLevel level)
{
    return level == TTrendLevel::Hour         ? QStringLiteral("每小时汇总")
           : level == TTrendLevel::TenMinutes ? QStringLiteral("每10分钟汇总")
           : level == TTrendLevel::Minute     ? QStringLiteral("每分钟汇总")
                                              : QStringLiteral("原始记录");
}

} // namespace

std::vector<TFrmTrend::TChoice> TFrmTrend::ParseSeries(const QString& text)
{
    std::vector<TChoice> choices;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList p = part.trimmed().split(QLatin1Char(':'));
        bool ok = false;
        const int address = p.value(0).toInt(&ok);
        const int column = TrendColumnOf(p.value(1));
        const TChoice c{address, column};
        if (p.size() == 2 && ok && address >= 0 && address <= 255 && column >= 0 &&
            std::find(choices.begin(), choices.end(), c) == choices.end())
            choices.push_back(c);
    }
    return choices;
}

QString TFrmTrend::SeriesText(const std::vector<TChoice>& choices)
{
    QStringList parts;
    for (const TChoice& c : choices)
        parts << QStringLiteral("%1:%2").arg(c.address).arg(TrendCode(c.column));
    return parts.join(QLatin1Char(','));
}

std::optional<std::pair<double, double>> TFrmTrend::PresetRange(const QString& name, const QDateTime& now)
{
    const QDateTime today(now.date(), QTime(0, 0));
    if (name == QString::fromUtf8(Presets[0]))
        return std::pair{wall(today), wall(today.addDays(1)) - 1};
    if (name == QString::fromUtf8(Presets[1]))
        return std::pair{wall(today.addDays(-1)), wall(today) - 1};
    if (name == QString::fromUtf8(Presets[2]))
        return std::pair{wall(now.addDays(-7)), wall(now)};
    if (name == QString::fromUtf8(Presets[3]))
        return std::pair{wall(QDateTime(QDate(now.date().year(), now.date().month(), 1), QTime(0, 0))), wall(now)};
    if (name == QString::fromUtf8(Presets[4]))
        return std::pair{wall(now.addYears(-1)), wall(now)};
    return std::nullopt;
}

TFrmTrend::TFrmTrend(TDatabase& db, TIniFile& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_db(db), m_settings(settings)
{
    setObjectName(QStringLiteral("FrmTrend"));
    setWindowTitle(QStringLiteral("趋势分析"));
    buildControls();
    m_tools = new TChartTools(ChartView, {[](double key) { return key; }, [this](double key) { return keyText(key); }});
    m_requery = new QTimer(this);
    m_requery->setSingleShot(true);
    m_requery->setInterval(0);
    connect(m_requery, &QTimer::timeout, this, [this] { Guard([this] { requery(false); }); });
    m_fillWatch = new QTimer(this);
    m_fillWatch->setInterval(2000);
    connect(m_fillWatch, &QTimer::timeout, this, [this] { Guard([this] { showFill(); }); });
    connect(ChartView->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), m_requery, qOverload<>(&QTimer::start));
    connect(ChartView, &QCustomPlot::beforeReplot, this, [this] { fitValueAxis(); });
    connect(m_tools, &TChartTools::valueRangeChanged, this, [this] {
        AutoScaleBox->setChecked(false);
        save();
    });

    AutoScaleBox->setChecked(m_settings.ReadInteger(SettingsKey::Trend, SettingsKey::AutoScale, 1) != 0);
    const QString range = m_settings.ReadString(SettingsKey::Trend, SettingsKey::TrendRange, QString::fromUtf8(Presets[0]));
    const QStringList times = range.split(QLatin1Char(','));
    const QDateTime begin = QDateTime::fromString(times.value(0).trimmed(), DateTimeFormat),
                    end = QDateTime::fromString(times.value(1).trimmed(), DateTimeFormat);
    if (times.size() == 2 && begin.isValid() && end.isValid()) {
        const QSignalBlocker a(RangeBox);
        RangeBegin->setDateTime(std::min(begin, end)); // a range typed the wrong way round
        RangeEnd->setDateTime(std::max(begin, end));
        RangeBox->setCurrentText(Custom);
    } else if (PresetRange(range, QDateTime::currentDateTime())) {
        const QSignalBlocker a(RangeBox);
        RangeBox->setCurrentText(range);
    }
    RangeBegin->setEnabled(RangeBox->currentText() == Custom);
    RangeEnd->setEnabled(RangeBox->currentText() == Custom);
    fillTree();
    SetChoices(ParseSeries(m_settings.ReadString(SettingsKey::Trend, SettingsKey::TrendSeries, QString())));
    resize(1400, 820);
}

void TFrmTrend::buildControls()
{
    auto* root = new QHBoxLayout(this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    root->addWidget(split);
    SeriesTree = Named(new QTreeWidget(split), "SeriesTree");
    SeriesTree->setHeaderLabel(QStringLiteral("温控仪与曲线"));
    SeriesTree->setMinimumWidth(220);
    auto* right = new QWidget(split);
    auto* column = new QVBoxLayout(right);
    column->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    RangeBox = Named(new QComboBox(right), "RangeBox");
    for (const char* p : Presets)
        RangeBox->addItem(QString::fromUtf8(p));
    RangeBox->addItem(Custom);
    RangeBegin = Named(new QDateTimeEdit(QDateTime(QDate::currentDate(), QTime(0, 0)), right), "RangeBegin");
    RangeEnd = Named(new QDateTimeEdit(QDateTime(QDate::currentDate(), QTime(23, 59, 59)), right), "RangeEnd");
    for (QDateTimeEdit* e : {RangeBegin, RangeEnd}) {
        e->setDisplayFormat(DateTimeFormat);
        e->setCalendarPopup(true);
    }
    AutoScaleBox = Named(new QCheckBox(QStringLiteral("自动纵轴"), right), "AutoScaleBox");
    ExportButton = Named(new QPushButton(QStringLiteral("导出曲线"), right), "ExportButton");
    PrintButton = Named(new QPushButton(QStringLiteral("打印曲线"), right), "PrintButton");
    auto* reload = Named(new QPushButton(QStringLiteral("刷新(&R)"), right), "ReloadButton");
    LevelLabel = Named(new QLabel(right), "LevelLabel");
    bar->addWidget(new QLabel(QStringLiteral("时间范围："), right));
    bar->addWidget(RangeBox);
    bar->addWidget(RangeBegin);
    bar->addWidget(new QLabel(QStringLiteral("至"), right));
    bar->addWidget(RangeEnd);
    bar->addSpacing(12);
    bar->addWidget(AutoScaleBox);
    bar->addStretch(1);
    bar->addWidget(LevelLabel);
    bar->addWidget(reload);
    bar->addWidget(ExportButton);
    bar->addWidget(PrintButton);
    column->addLayout(bar);
    ChartView = Named(new QCustomPlot(right), "ChartView");
    ChartView->setMinimumSize(640, 400);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC); // wall seconds: the stored local times as they read
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm"));
    ChartView->xAxis->setTicker(ticker);
    ChartView->xAxis->setLabel(QStringLiteral("日期 / 时间"));
    ChartView->yAxis->setLabel(QStringLiteral("温度（°C）"));
    ChartView->legend->setVisible(true);
    column->addWidget(ChartView, 1);
    split->setStretchFactor(1, 1);

    const auto guarded = [this](auto* sender, auto signal, auto f) { ConnectGuarded(sender, signal, this, f); };
    guarded(SeriesTree, &QTreeWidget::itemChanged, [this] { choicesChanged(); });
    guarded(RangeBox, &QComboBox::currentTextChanged, [this] { rangeChanged(); });
    guarded(RangeBegin, &QDateTimeEdit::editingFinished, [this] { rangeChanged(); });
    guarded(RangeEnd, &QDateTimeEdit::editingFinished, [this] { rangeChanged(); });
    guarded(AutoScaleBox, &QCheckBox::clicked, [this] {
        save();
        ChartView->replot();
    });
    guarded(reload, &QPushButton::clicked, [this] { Reload(); });
    guarded(ExportButton, &QPushButton::clicked, [this] { ExportChartAsked(ChartView, [this](double k) { return keyText(k); }, this); });
    guarded(PrintButton, &QPushButton::clicked, [this] { PrintChartAsked(ChartView, this); });
}

void TFrmTrend::fillTree()
{
    const std::vector<TChoice> chosen = Choices();
    const QSignalBlocker block(SeriesTree);
    SeriesTree->clear();
    TQueryResult all = SelectApparatus(m_db);
    for (all.First(); !all.Eof(); all.Next()) {
        const int address = int(all.FieldAsInteger(Column::ApparatusAddress));
        auto* instrument = new QTreeWidgetItem(SeriesTree, {QStringLiteral("地址 %1  %2").arg(address).arg(
                                                               all.FieldAsString(Column::ApparatusName))});
        for (int c = 0; c < TrendColumns; ++c) {
            auto* item = new QTreeWidgetItem(instrument, {CurveNames[std::size_t(c)]});
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setData(0, AddressRole, address);
            item->setData(0, ColumnRole, c);
            const bool on = std::find(chosen.begin(), chosen.end(), TChoice{address, c}) != chosen.end();
            item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
            if (on)
                instrument->setExpanded(true);
        }
    }
}

std::vector<TFrmTrend::TChoice> TFrmTrend::Choices() const
{
    std::vector<TChoice> choices;
    for (int i = 0; i < SeriesTree->topLevelItemCount(); ++i)
        for (int c = 0; c < SeriesTree->topLevelItem(i)->childCount(); ++c)
            if (QTreeWidgetItem* item = SeriesTree->topLevelItem(i)->child(c); item->checkState(0) == Qt::Checked)
                choices.push_back({item->data(0, AddressRole).toInt(), item->data(0, ColumnRole).toInt()});
    return choices;
}

void TFrmTrend::SetChoices(const std::vector<TChoice>& choices)
{
    {
        const QSignalBlocker block(SeriesTree);
        for (int i = 0; i < SeriesTree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* instrument = SeriesTree->topLevelItem(i);
            bool any = false;
            for (int c = 0; c < instrument->childCount(); ++c) {
                QTreeWidgetItem* item = instrument->child(c);
                const bool on = std::find(choices.begin(), choices.end(),
                                          TChoice{item->data(0, AddressRole).toInt(), item->data(0, ColumnRole).toInt()}) !=
                                choices.end();
                item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
                any = any || on;
            }
            instrument->setExpanded(any);
        }
    }
    choicesChanged();
}

void TFrmTrend::SetRange(const QString& preset)
{
    RangeBox->setCurrentText(preset);
    rangeChanged();
}

void TFrmTrend::Reload()
{
    fillTree();
    redraw();
}

void TFrmTrend::choicesChanged()
{
    save();
    redraw();
}

void TFrmTrend::rangeChanged()
{
    const bool custom = RangeBox->currentText() == Custom;
    RangeBegin->setEnabled(custom);
    RangeEnd->setEnabled(custom);
    save();
    redraw();
}

void TFrmTrend::save()
{
    m_settings.WriteString(SettingsKey::Trend, SettingsKey::TrendSeries, SeriesText(Choices()));
    m_settings.WriteString(SettingsKey::Trend, SettingsKey::TrendRange,
                           RangeBox->currentText() == Custom
                               ? DateTimeText(RangeBegin->dateTime()) + QLatin1Char(',') + DateTimeText(RangeEnd->dateTime())
                               : RangeBox->currentText());
    m_settings.WriteInteger(SettingsKey::Trend, SettingsKey::AutoScale, AutoScaleBox->isChecked() ? 1 : 0);
}

QString TFrmTrend::keyText(double key) const
{
    return DateTimeText(fromWall(key));
}

void TFrmTrend::redraw()
{
    // Sums for an older database that the program could not make at its start.
    try {
        EnsureTrend(m_db);
    } catch (const EDatabaseError& e) {
        LogError(QStringLiteral("无法新建趋势汇总表：") + QString::fromUtf8(e.what()));
    }
    ChartView->clearGraphs();
    // Only the window's own items: the cursor and its readout stay.
    for (QCPAbstractItem* item : m_items)
        ChartView->removeItem(item);
    m_items.clear();
    m_alarms.clear();
    m_thresholds.clear();
    m_drawn = Choices();
    TQueryResult all = SelectApparatus(m_db);
    auto [from, to] = RangeBox->currentText() == Custom
                          ? std::pair{wall(RangeBegin->dateTime()), wall(RangeEnd->dateTime())}
                          : PresetRange(RangeBox->currentText(), QDateTime::currentDateTime())
                                .value_or(*PresetRange(QString::fromUtf8(Presets[0]), QDateTime::currentDateTime()));
    if (from > to)
        std::swap(from, to); // the end typed before the beginning
    const double now = wall(QDateTime::currentDateTime());
    for (std::size_t i = 0; i < m_drawn.size(); ++i) {
        const TChoice& c = m_drawn[i];
        const QColor color = Palette[i % std::size(Palette)];
        const bool known = all.Locate(Column::ApparatusAddress, c.address);
        QCPGraph* g = ChartView->addGraph();
        g->setName(QStringLiteral("地址 %1 %2 %3")
                       .arg(c.address)
                       .arg(known ? all.FieldAsString(Column::ApparatusName) : QString())
                       .arg(CurveNames[std::size_t(c.column)]));
        g->setPen(QPen(color, 1)); // a wider pen is stroked, many times slower
        if (!known)
            continue;
        // The alarm (T3) and trip (T4) thresholds; 0 is none.
        for (const char* key : {"T3", "T4"}) {
            const double t = all.FieldAsFloat(QLatin1String(key));
            if (t == 0)
                continue;
            m_thresholds.push_back(t);
            auto* line = new QCPItemStraightLine(ChartView);
            m_items.push_back(line);
            line->point1->setCoords(0, t);
            line->point2->setCoords(1, t);
            line->setPen(QPen(color, 1, key[1] == '3' ? Qt::DashLine : Qt::DashDotLine));
            auto* label = new QCPItemText(ChartView);
            m_items.push_back(label);
            label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
            label->position->setTypeY(QCPItemPosition::ptPlotCoords);
            label->position->setCoords(1, t);
            label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
            label->setColor(color);
            label->setText(QStringLiteral("地址 %1 %2 %3").arg(c.address).arg(key[1] == '3' ? QStringLiteral("报警") : QStringLiteral("跳闸")).arg(t));
        }
        // Its alarms, shaded over their time.
        // The instrument's own alarms, also those raised while it had another address.
        for (const TAlarmSpan& span : ReadAlarmSpans(m_db, all.FieldAsInteger(Column::ID), from, to, now)) {
            auto* rect = new QCPItemRect(ChartView);
            m_items.push_back(rect);
            rect->setLayer(QStringLiteral("grid"));
            for (QCPItemPosition* p : {rect->topLeft, rect->bottomRight}) {
                p->setTypeX(QCPItemPosition::ptPlotCoords);
                p->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            rect->topLeft->setCoords(span.from, 0);
            rect->bottomRight->setCoords(span.to, 1);
            m_alarms.push_back({rect, span});
            rect->setPen(Qt::NoPen);
            QColor shade = color;
            shade.setAlpha(45);
            rect->setBrush(shade);
        }
    }
    m_tools->Reset();
    SetAxisRange(ChartView->xAxis, from, std::max(to, from + 60));
    requery(true);
}

void TFrmTrend::requery(bool always)
{
    const QCPRange visible = ChartView->xAxis->range();
    const double pixels = std::max(1, ChartView->axisRect()->width() > 10 ? ChartView->axisRect()->width() : ChartView->width());
    const TTrendLevel level = TrendLevelFor(visible.size() / pixels);
    // An alarm of minutes in a year's view is still seen: at least two pixel columns wide.
    for (auto& [rect, span] : m_alarms)
        rect->bottomRight->setCoords(std::max(span.to, span.from + 2 * visible.size() / pixels), 1);
    if (!always && level == m_level && visible.lower >= m_loadedFrom && visible.upper <= m_loadedTo)
        return;
    m_level = level;
    // Half a screen more each side: a pan needs no query at once.
    m_loadedFrom = visible.lower - visible.size() / 2;
    m_loadedTo = visible.upper + visible.size() / 2;
    TQueryResult all = SelectApparatus(m_db);
    const double width = TrendBucketSeconds(level);
    m_partial = false;
    for (std::size_t i = 0; i < m_drawn.size(); ++i) {
        QCPGraph* g = ChartView->graph(int(i));
        g->data()->clear();
        if (!all.Locate(Column::ApparatusAddress, m_drawn[i].address))
            continue;
        const TTrendPoints p = ReadTrend(m_db, all.FieldAsInteger(QStringLiteral("ID")), m_drawn[i].column, level,
                                         m_loadedFrom, m_loadedTo);
        m_partial = m_partial || p.partial;
        // Single readings, sparse enough to be told apart, are marked.
        const double inView = double(p.time.size()) * visible.size() / (m_loadedTo - m_loadedFrom);
        g->setScatterStyle(level == TTrendLevel::Rows && inView < pixels / 3
                               ? QCPScatterStyle(QCPScatterStyle::ssDisc, 4)
                               : QCPScatterStyle(QCPScatterStyle::ssNone));
        // A bucket is drawn as its lowest and highest value; a gap in the readings breaks the line.
        const std::vector<std::size_t> breaks = GapBreaks(p.time);
        auto nextBreak = breaks.begin();
        QVector<QCPGraphData> points;
        points.reserve(qsizetype(p.time.size() * 2 + breaks.size()));
        for (std::size_t k = 0; k < p.time.size(); ++k) {
            if (nextBreak != breaks.end() && *nextBreak == k) {
                points.append({(p.time[k - 1] + p.time[k]) / 2 + width / 2, std::numeric_limits<double>::quiet_NaN()});
                ++nextBreak;
            }
            if (width == 0 || p.low[k] == p.high[k]) {
                points.append({p.time[k] + width / 2, p.high[k]});
            } else {
                points.append({p.time[k] + width / 4, p.low[k]});
                points.append({p.time[k] + width * 3 / 4, p.high[k]});
            }
        }
        g->data()->set(points, true);
    }
    m_level = level;
    showFill();
    ChartView->replot();
}

void TFrmTrend::showFill()
{
    double filled = 1;
    try {
        filled = TrendFilled(m_db);
    } catch (const EDatabaseError&) {
    }
    QString note;
    if (filled < 1)
        note = m_partial ? QStringLiteral("（已存读数汇总中 %1%，尚未汇总的较早读数汇总后显示）").arg(int(filled * 100))
                         : QStringLiteral("（已存读数汇总中 %1%）").arg(int(filled * 100));
    LevelLabel->setText(QStringLiteral("显示：") + levelText(m_level) + note);
    // The fill goes on in the background: its progress is shown, and what it completes drawn.
    if (filled < 1)
        m_fillWatch->start();
    else if (m_fillWatch->isActive()) {
        m_fillWatch->stop();
        if (m_partial)
            requery(true);
    }
}

void TFrmTrend::fitValueAxis()
{
    if (!AutoScaleBox->isChecked())
        return;
    const QCPRange keys = ChartView->xAxis->range();
    TMinMaxIndex::TExtremes e = ShownExtremes(ChartView, keys.lower, keys.upper);
    // The thresholds stay in view with the readings.
    for (double t : m_thresholds) {
        e.min = std::fmin(e.min, t);
        e.max = std::fmax(e.max, t);
    }
    if (!e.Empty()) {
        const auto [lo, hi] = ValueAxisRange(e.min, e.max, {0, 0}, true);
        SetAxisRange(ChartView->yAxis, lo, hi);
    }
}

} // namespace zeva
