// TFrmMain's handlers: creation, the start-up sequence, selection, polling, replies, chart, closing.
#include "FrmMain.h"

#include "Colors.h"
#include "WriteRights.h"

#include "ErrorLog.h"

#include "Application.h"
#include "AxisRange.h"
#include "Convert.h"
#include "Faults.h"
#include "Lamp.h"
#include "MarkStrip.h"
#include "LcdDisplay.h"
#include "Notify.h"
#include "Platform.h"
#include "ReplyHandling.h"
#include "StatusView.h"
#include "Selection.h"
#include "Settings.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <qcustomplot.h>

namespace zeva {

namespace {

QColor HealthColor(TInstrumentState state)
{
    switch (state) {
    case TInstrumentState::Normal: return QColor(0, 200, 0);
    case TInstrumentState::Timeout: return QColor(240, 200, 0);
    case TInstrumentState::Interrupted: return QColor(230, 40, 40);
    }
    return {};
}

QColor HealthColor(TLinkState state)
{
    switch (state) {
    case TLinkState::Connected: return QColor(0, 140, 0);
    case TLinkState::Silent: return QColor(200, 140, 0);
    case TLinkState::Disconnected: return QColor(210, 30, 30);
    }
    return {};
}

} // namespace

TFrmMain::TFrmMain(QWidget* parent) : TFrmMain(*new TMonitorCore, parent)
{
    m_core->setParent(this); // its own: it goes with the window
}

TFrmMain::TFrmMain(TMonitorCore& core, QWidget* parent) : QWidget(parent), m_core(&core)
{
    setObjectName(QStringLiteral("FrmMain"));
    // A fixed border with a system menu, no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    buildControls();
    listen();
    connectHandlers();
    FormCreate();
}

TFrmMain::~TFrmMain()
{
    // The port closes before anything it reports to goes away, and no control's last signals
    // (a combo box losing the focus as it is destroyed) reach handlers whose state is gone.
    m_core->disconnect(this);
    m_core->ComM()->ClosePort();
    BlockChildSignals(this);
}

void TFrmMain::FormCreate()
{
    m_taskbarHidden = HideTaskbar();
    QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    ChartView->setMinimumSize(std::max(200, (screen.width() - 240) / 2), std::max(200, screen.height() - 120) / 2);
    ChartView->resize(screen.width() - 240, screen.height() - 120);
    placePanel2();
}

void TFrmMain::placePanel2()
{
    Panel2->move(ChartView->width() - Panel2->width() - 100, 120);
    Panel2->raise();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ChartView && event->type() == QEvent::Resize)
        placePanel2();
    if (watched == AlarmBanner && event->type() == QEvent::MouseButtonRelease) {
        Guard([this] { ButAlarmsClick(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Runs once the window is on screen, so that a failure box stands over it.
    QTimer::singleShot(0, this, [this] { Guard([this] { FormShow(); }); });
}

// The window's part between the core's start-up steps.
class TFrmMain::TStartup : public TStartupSteps {
public:
    explicit TStartup(TFrmMain& w) : m_w(w) {}

    void PortFailed(const std::exception& e) override
    {
        m_w.m_exitCode = ExitPortFailed;
        ShowFriendlyMessage(&m_w, QStringLiteral("串口 ") + m_w.m_core->State().PortName + QStringLiteral("已经打开。"),
                            PortCauseText(e));
    }
    void SelectionRead() override
    {
        SetAxisRange(m_w.ChartView->xAxis, 0, 1800);
        SetAxisRange(m_w.ChartView->yAxis, -30, 250);
        m_w.ChartView->replot();
    }
    void DatabaseFailed() override
    {
        const QString path = m_w.m_core->State().DataPath;
        m_w.m_exitCode = ExitDatabaseFailed;
        // No instrument was ever read: the lamps' start colours would read as states.
        for (TLamp* lamp : m_w.lamps())
            lamp->SetDimmed(true);
        QString detail = TDatabase::FileFor(path) + QStringLiteral("：") + m_w.m_core->OpenError();
        if (!QFile::exists(TDatabase::FileFor(path)))
            detail += QStringLiteral("\n新建数据库：zeva-initdb ") + ShellQuoted(path);
        ShowFriendlyMessage(&m_w, QStringLiteral("数据库不在 ") + path + QStringLiteral("/DataBase 目录下。"), detail);
    }
    void DatabaseInUse(const QString& text) override
    {
        m_w.m_exitCode = ExitDatabaseInUse;
        LogError(text); // the box logs only a text with details
        ShowFriendlyMessage(&m_w, text, {});
    }
    void RegistryRead(TQueryResult& all) override
    {
        // A settings file that cannot be rewritten is said once the polling runs; the values in
        // memory serve meanwhile.
        for (const QString& error : m_w.m_core->TakeWriteErrors())
            QTimer::singleShot(0, &m_w, [error] { ShowErrorBox(error); });
        // The fields show the instrument the chart follows.
        FillSelectors(all, m_w.ComAddress, m_w.MCapition, m_w.EditType, {}, m_w.m_core->State().SelectedAddress);
        m_w.m_feed.LiveX = 0;
        m_w.m_feed.BlackBoxX = 0;
    }
    void PollingStarted() override { m_w.m_adoRecord = m_w.m_core->Enabled(); }

private:
    TFrmMain& m_w;
};

void TFrmMain::FormShow()
{
    TStartup steps(*this);
    if (m_core->Start(QDir::currentPath(), steps) != TMonitorCore::TStartResult::Started) {
        close();
        return;
    }
    fillOverview();
    showFollow();
    m_healthTimer->start();
    HealthTimerTimer();
    RefreshAlarmBanner();
    m_startedUp = true;
}

void TFrmMain::ComAddressChange()
{
    if (std::optional<int> address = FollowAddress(m_adoRecord, ComAddress, MCapition, EditType))
        m_core->ChooseAddress(*address);
}

void TFrmMain::MCapitionChange()
{
    // Choosing by name changes only what the fields show.
    FollowName(m_adoRecord, MCapition, ComAddress, EditType);
}

void TFrmMain::showStatus(const TStatusView& v)
{
    TLamp* phases[4] = {AShape, BShape, CShape, DShape};
    for (int i = 0; i < 4; ++i)
        phases[i]->SetColor(v.phase[std::size_t(i)]);
    GShape->setText(v.door);
    D1Shape->SetColor(v.fan);
    D2Shape->SetColor(v.alarm);
    D3Shape->SetColor(v.trip);
    D4Shape->setText(v.fanMode);
    D5Shape->setText(v.buzzer);
    D6Shape->SetColor(v.fault);
}

void TFrmMain::showReply(const TChunkOutcome& out)
{
    switch (out.kind) {
    case TMonitorReply::Model: EditType->setText(out.typeName); break;
    case TMonitorReply::Live: {
        // The displays and lamps now show this instrument.
        if (m_shownAddress != out.address)
            ShownAddress->setText(QStringLiteral("显示：地址 %1").arg(out.address));
        m_shownAddress = out.address;
        if (m_stale != staleNow())
            setStale(!m_stale);
        showStatus(StatusView(out.phaseStatus, out.outputStatus));
        QLineEdit* texts[3] = {ATP, BTP, CTP};
        TLcdDisplay* lcds[3] = {LCDATP, LCDBTP, LCDCTP};
        for (int i = 0; i < 3; ++i)
            texts[i]->setText(out.phaseTexts[std::size_t(i)]);
        for (int i = 0; i < 3; ++i)
            lcds[i]->SetValue(texts[i]->text().trimmed());
        if (out.feedsChart)
            m_feed.FeedLive(m_core->State().LiveTemps, m_core->State().PollInterval, out.address);
        break;
    }
    case TMonitorReply::BlackBox:
        if (out.feedsChart)
            m_feed.FeedBlackBox(m_core->State().BlackBoxTemps, m_core->State().PollInterval, out.address);
        break;
    case TMonitorReply::Ignored:
    case TMonitorReply::Unrecognised: break;
    }
}

void TFrmMain::Button3Click()
{
    m_feed.Hold = false; // the shift buttons' view moves on with the feeds
    setFollow(false);
    QCPRange r = ChartView->xAxis->range();
    SetAxisRange(ChartView->xAxis, r.lower - 100, r.upper - 100);
    ChartView->replot();
}

void TFrmMain::Button4Click()
{
    m_feed.Hold = false;
    setFollow(false);
    QCPRange r = ChartView->xAxis->range();
    SetAxisRange(ChartView->xAxis, r.lower + 100, r.upper + 100);
    ChartView->replot();
}

void TFrmMain::BXClick()
{
    int a = StrToInt(X1->text().trimmed());
    int b = StrToInt(X2->text().trimmed());
    setAutoScale(false); // the typed range is the one wanted
    SetAxisRange(ChartView->yAxis, a, b);
    ChartView->replot();
}

void TFrmMain::BYClick()
{
    setFollow(false);
    m_feed.Hold = false;
    int a = StrToInt(Y2->text().trimmed());
    int b = StrToInt(Y1->text().trimmed());
    SetAxisRange(ChartView->xAxis, a, b);
    ChartView->replot();
}

void TFrmMain::ButSetPClick()
{
    if (Openers.configuration)
        Openers.configuration();
}

void TFrmMain::Button1Click()
{
    if (Openers.apparatus)
        Openers.apparatus(1);
}

void TFrmMain::PramSetHistClick()
{
    if (Openers.apparatus)
        Openers.apparatus(2);
}

void TFrmMain::ButSClick()
{
    if (Openers.historyCurves)
        Openers.historyCurves();
}

void TFrmMain::ButCanelClick()
{
    close();
}

void TFrmMain::alert(const QStringList& texts)
{
    // The core has put them on the standard error output.
    if (m_core->State().Beep)
        beep();
    NotifyDesktop(MainCaption, texts.join(QLatin1Char('\n')));
    m_beepTimer->start(); // the repeats count from this beep
}

void TFrmMain::beep()
{
    ++m_beeps;
    QApplication::beep();
}

void TFrmMain::MuteButtonClick()
{
    m_core->Mute(OperatingSystemUser());
    MuteButton->setEnabled(false);
}

void TFrmMain::RefreshAlarmBanner()
{
    // Alarms raised while the database takes nothing are counted too, and said to be waiting.
    const TMonitorCore::TAlarmCount count = m_core->CountAlarms();
    const TMonitorCore::TAlarmView& view = m_core->AlarmView();
    const TAlarmSummary& summary = view.summary;
    const qint64 unacknowledged = count.stored + count.waiting;
    QString text = QStringLiteral("%1 条未确认报警").arg(unacknowledged) +
                   (count.waiting > 0 ? QStringLiteral("（其中 %1 条尚未存入数据库）").arg(count.waiting) : QString());
    if (summary.standing > 0)
        text += QStringLiteral("，%1 条未消除").arg(summary.standing);
    if (summary.topPriority >= 0) {
        const QString where = summary.topAddress < 0 ? QStringLiteral("总线")
                                                     : m_core->Health().InstrumentText(uint8_t(summary.topAddress));
        text = QStringLiteral("【%1】%2：%3 ｜ ").arg(PriorityText(summary.topPriority), where, summary.topText) + text;
    }
    // Not yet stored, an alarm's priority is not known: the most urgent colour.
    m_bannerPriority = summary.topPriority >= 0 && count.waiting == 0 ? summary.topPriority : 0;
    const bool show = unacknowledged > 0 || summary.standing > 0;
    AlarmBanner->setText(show ? text : QStringLiteral(" "));
    AlarmBanner->setVisible(show);
    if (unacknowledged > 0 && !m_blinkTimer->isActive())
        m_blinkTimer->start();
    else if (unacknowledged == 0) {
        m_blinkTimer->stop();
        m_bannerBright = true;
    }
    paintBanner();
    const bool beepDue = m_core->BeepDue();
    MuteButton->setEnabled(beepDue);
    // Alarms standing from an earlier run beep again too.
    if (beepDue && !m_beepTimer->isActive())
        m_beepTimer->start();
    m_standing = view.standing;
    refreshOverview();
}

void TFrmMain::paintBanner()
{
    const QColor back = PriorityColor(m_bannerPriority);
    const QColor fore = PriorityTextColor(m_bannerPriority);
    AlarmBanner->setStyleSheet(QStringLiteral("background: %1; color: %2; font-weight: bold; padding: 2px;")
                                   .arg((m_bannerBright ? back : back.darker(250)).name(),
                                        (m_bannerBright ? fore : back.lighter(160)).name()));
}

void TFrmMain::ButAlarmsClick()
{
    if (Openers.journal)
        Openers.journal();
}

void TFrmMain::fillOverview()
{
    const std::vector<uint8_t>& polled = m_core->Health().Polled();
    Overview->setRowCount(int(polled.size()));
    for (int r = 0; r < int(polled.size()); ++r) {
        for (int c = 0; c < Overview->columnCount(); ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(c == 1 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
            if (c >= 2 && c <= 5)
                item->setFont(m_overviewLarge);
            Overview->setItem(r, c, item);
        }
        Overview->item(r, 0)->setText(QString::number(polled[std::size_t(r)]));
        const QString name = m_core->Health().NameOf(polled[std::size_t(r)]);
        Overview->item(r, 1)->setText(name);
        Overview->item(r, 1)->setToolTip(name);
        Overview->setCellWidget(r, 6, new TMarkStrip(Overview));
    }
    // Room for up to 8 rows under the chart, taken from the chart's height; the rest scrolls.
    if (auto* split = findChild<QSplitter*>(QStringLiteral("ChartSplitter"))) {
        const int rows = std::clamp(Overview->rowCount(), 2, 8);
        const int want = Overview->horizontalHeader()->sizeHint().height() +
                         rows * Overview->verticalHeader()->defaultSectionSize() + 2 * Overview->frameWidth() +
                         Overview->fontMetrics().height() + Overview->verticalHeader()->defaultSectionSize() / 2 + 12;
        const int total = split->height();
        const int chart = std::max(ChartView->minimumHeight(), total - want);
        split->setSizes({chart, std::max(0, total - chart)});
    }
}

void TFrmMain::refreshOverview()
{
    const std::vector<uint8_t>& polled = m_core->Health().Polled();
    const THealth& health = m_core->Health();
    const bool linkUp = health.Link() == TLinkState::Connected;
    for (int r = 0; r < int(polled.size()) && r < Overview->rowCount(); ++r) {
        const uint8_t address = polled[std::size_t(r)];
        const TInstrumentHealth& h = health.Of(address);
        const TAddressReadings& readings = m_core->State().ByAddress[address];
        const bool stale = !linkUp || h.state == TInstrumentState::Interrupted;
        const QBrush text = stale ? QBrush(Qt::gray) : QBrush(QPalette().color(QPalette::Text));
        for (int p = 0; p < 4; ++p) {
            QTableWidgetItem* item = Overview->item(r, 2 + p);
            item->setText(readings.live ? PhaseOneDecimal((*readings.live)[std::size_t(p)]) : QStringLiteral("—"));
            item->setForeground(text);
        }
        if (readings.status)
            static_cast<TMarkStrip*>(Overview->cellWidget(r, 6))
                ->Set(StatusMarks((*readings.status)[0], (*readings.status)[1]), stale);
        QTableWidgetItem* state = Overview->item(r, 7);
        // The instrument's own state means nothing while the port is gone.
        const bool portGone = health.Link() == TLinkState::Disconnected;
        state->setText(portGone ? StateText(health.Link()) : StateText(h.state));
        state->setBackground(portGone ? HealthColor(health.Link()) : HealthColor(h.state));
        // The row marked in the colour of its most urgent standing alarm, by its address and name:
        // the readings keep a plain ground, so that dimmed values still read.
        const auto standing = m_standing.find(address);
        const QBrush back = standing == m_standing.end() ? QBrush() : QBrush(PriorityColor(standing->second));
        const QBrush fore = standing == m_standing.end() ? text : QBrush(PriorityTextColor(standing->second));
        for (int c : {0, 1}) {
            Overview->item(r, c)->setBackground(back);
            Overview->item(r, c)->setForeground(fore);
        }
        Overview->item(r, 8)->setText(h.lastReplyMs == 0 ? QStringLiteral("—")
                                                         : QDateTime::fromMSecsSinceEpoch(h.lastReplyMs)
                                                               .toString(QStringLiteral("HH:mm:ss")));
        Overview->item(r, 9)->setText(QStringLiteral("%1/%2").arg(h.accepted).arg(h.sent));
        for (int c : {8, 9})
            Overview->item(r, c)->setForeground(text);
    }
}

void TFrmMain::OverviewDoubleClick(int row)
{
    QTableWidgetItem* address = Overview->item(row, 0);
    if (!address)
        return;
    ComAddress->setEditText(address->text());
    ComAddressChange();
}

void TFrmMain::HealthTimerTimer()
{
    const QDateTime now = QDateTime::currentDateTime();
    refreshOverview();
    const THealth& health = m_core->Health();
    const qint64 age = std::max<qint64>(0, health.LinkSince().secsTo(now));
    LinkState->setText(QStringLiteral("链路：%1（%2）").arg(StateText(health.Link()), AgeText(age)));
    LinkState->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(HealthColor(health.Link()).name()));
    refreshCentral();
    if (staleNow() != m_stale)
        setStale(!m_stale);
}

void TFrmMain::refreshCentral()
{
    const std::optional<TForwarder::TStatus> status = m_core->CentralStatus();
    CentralState->setVisible(status.has_value());
    if (!status)
        return;
    // The link's colours: sent, still sending, away.
    const TLinkState like = status->state == TForwarder::TState::Synced    ? TLinkState::Connected
                            : status->state == TForwarder::TState::Backlog ? TLinkState::Silent
                                                                           : TLinkState::Disconnected;
    CentralState->setText(TForwarder::StatusText(*status));
    CentralState->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(HealthColor(like).name()));
    CentralState->setToolTip(status->error);
}

std::array<TLamp*, 8> TFrmMain::lamps() const
{
    return {AShape, BShape, CShape, DShape, D1Shape, D2Shape, D3Shape, D6Shape};
}

bool TFrmMain::staleNow() const
{
    const THealth& health = m_core->Health();
    return health.Link() != TLinkState::Connected ||
           (m_shownAddress >= 0 && health.State(uint8_t(m_shownAddress)) == TInstrumentState::Interrupted);
}

void TFrmMain::setStale(bool stale)
{
    m_stale = stale;
    for (TLcdDisplay* lcd : {LCDATP, LCDBTP, LCDCTP})
        lcd->SetOnColor(stale ? clGray : clRed);
    for (TLamp* lamp : lamps())
        lamp->SetDimmed(stale);
    for (QLabel* text : {GShape, D4Shape, D5Shape})
        text->setStyleSheet(stale ? QStringLiteral("color: gray;") : QString());
    StaleDisplays->setVisible(stale);
    // Its row keeps its height, so nothing below it moves.
    StaleLamps->setText(stale ? QStringLiteral("数据过期") : QString());
    Panel2->adjustSize();
    placePanel2();
}

void TFrmMain::showFollow()
{
    FollowLatest->setChecked(m_core->State().Follow);
    m_feed.Follow = m_core->State().Follow;
    if (AutoScaleBox->isChecked() != m_core->State().AutoScale) {
        AutoScaleBox->setChecked(m_core->State().AutoScale);
        ChartView->replot(QCustomPlot::rpQueuedReplot);
    }
}

void TFrmMain::setAutoScale(bool autoScale)
{
    try {
        if (m_core->State().AutoScale != autoScale)
            m_core->SetAutoScale(autoScale);
    } catch (...) {
        showFollow();
        throw;
    }
    showFollow();
}

void TFrmMain::AutoScaleBoxClick()
{
    setAutoScale(AutoScaleBox->isChecked());
}

void TFrmMain::fitValueAxis()
{
    if (!m_core->State().AutoScale)
        return;
    const QCPRange keys = ChartView->xAxis->range();
    const TMinMaxIndex::TExtremes e = ShownExtremes(ChartView, keys.lower, keys.upper);
    if (!e.Empty()) {
        const QCPRange values = ChartView->yAxis->range();
        const auto [lo, hi] = ValueAxisRange(e.min, e.max, {values.lower, values.upper}, true);
        SetAxisRange(ChartView->yAxis, lo, hi);
    }
}

void TFrmMain::setFollow(bool follow)
{
    // The core keeps it in Data.ini; a write that fails leaves the box and the chart as they were.
    try {
        if (m_core->State().Follow != follow)
            m_core->SetFollow(follow);
    } catch (...) {
        showFollow();
        throw;
    }
    showFollow();
}

void TFrmMain::FollowLatestClick()
{
    if (FollowLatest->isChecked())
        m_feed.Hold = false;
    setFollow(FollowLatest->isChecked());
}

void TFrmMain::closeEvent(QCloseEvent* event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TFrmMain::FormClose()
{
    if (m_taskbarHidden)
        ShowTaskbar();
    m_healthTimer->stop();
    m_blinkTimer->stop();
    m_core->Stop(); // polling stops, the port closes, the last rows are committed or kept
    if (m_core->LostAtStop() > 0 && m_exitCode == 0)
        m_exitCode = ExitReadingsLost;
}

} // namespace zeva
