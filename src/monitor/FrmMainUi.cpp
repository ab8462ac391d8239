// TFrmMain's controls: creation, captions, initial texts and layout.
#include "FrmMain.h"

#include "Application.h"
#include "Lamp.h"
#include "LcdDisplay.h"
#include "ReplyHandling.h"
#include "StatusView.h"
#include "WindowSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace zeva {

namespace {

// The live chart's position as the readout and the CSV give it: nominal seconds of polling.
QString liveKeyText(double key)
{
    return QString::number(key, 'f', 0) + QStringLiteral(" 秒");
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    return l;
}


} // namespace

void TFrmMain::buildControls()
{
    setWindowTitle(MainCaption);
    auto* root = new QVBoxLayout(this);

    TitleLabel = Named(BigTitle(MainCaption, this, 6), "TitleLabel");
    root->addWidget(TitleLabel);
    // While alarms stand or wait for acknowledgement; it blinks while some are unacknowledged, never
    // takes the focus, opens the journal on a click and keeps its place when hidden (nothing below
    // it moves when it comes).
    auto* bannerRow = new QHBoxLayout;
    AlarmBanner = Named(new QLabel(this), "AlarmBanner");
    AlarmBanner->setAlignment(Qt::AlignCenter);
    AlarmBanner->setFocusPolicy(Qt::NoFocus);
    AlarmBanner->setCursor(Qt::PointingHandCursor);
    AlarmBanner->setToolTip(QStringLiteral("单击打开报警记录"));
    AlarmBanner->installEventFilter(this);
    MuteButton = Named(new QPushButton(QStringLiteral("静音(&M)"), this), "MuteButton");
    MuteButton->setToolTip(QStringLiteral("停止此刻存在的报警的重复提示音，不确认报警"));
    MuteButton->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{AlarmBanner, MuteButton}) {
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
    }
    AlarmBanner->setText(QStringLiteral(" "));
    AlarmBanner->setMinimumHeight(MuteButton->sizeHint().height());
    AlarmBanner->hide();
    bannerRow->addWidget(AlarmBanner, 1);
    bannerRow->addWidget(MuteButton);
    root->addLayout(bannerRow);

    auto* body = new QHBoxLayout;
    root->addLayout(body, 1);
    buildLeftColumn(body);
    buildCentre(body);
    buildStatusPanel(body);
    m_healthTimer = Named(new QTimer(this), "HealthTimer");
    m_healthTimer->setInterval(250); // the overview follows the replies closely
    m_blinkTimer = Named(new QTimer(this), "BlinkTimer");
    m_blinkTimer->setInterval(1000);
    m_beepTimer = Named(new QTimer(this), "BeepTimer");
    m_beepTimer->setInterval(TMonitorCore::RepeatBeepMs);
}

void TFrmMain::buildLeftColumn(QBoxLayout* body)
{
    auto* left = new QVBoxLayout;
    body->addLayout(left);
    left->addWidget(caption(QStringLiteral("温控仪地址："), this));
    ComAddress = Named(new QComboBox(this), "ComAddress");
    ComAddress->setEditable(true);
    ComAddress->setInsertPolicy(QComboBox::NoInsert);
    left->addWidget(ComAddress);
    left->addWidget(caption(QStringLiteral("温控仪名称："), this));
    MCapition = Named(new QComboBox(this), "MCapition");
    MCapition->setEditable(true);
    MCapition->setInsertPolicy(QComboBox::NoInsert);
    left->addWidget(MCapition);
    left->addWidget(caption(QStringLiteral("温控仪系列："), this));
    EditType = Named(new QLineEdit(QStringLiteral("ZEVA-5000"), this), "EditType");
    EditType->setEnabled(false);
    left->addWidget(EditType);
    left->addSpacing(16);
    ButSetP = Named(new QPushButton(QStringLiteral("参数设置(&P)"), this), "ButSetP");
    PramSetHist = Named(new QPushButton(QStringLiteral("参数历史(&H)"), this), "PramSetHist");
    Button1 = Named(new QPushButton(QStringLiteral("仪表一览(&V)"), this), "Button1");
    ButS = Named(new QPushButton(QStringLiteral("温度曲线查询(&S)"), this), "ButS");
    ButAlarms = Named(new QPushButton(QStringLiteral("报警记录(&A)"), this), "ButAlarms");
    ButTrend = Named(new QPushButton(QStringLiteral("趋势分析(&T)"), this), "ButTrend");
    ButReport = Named(new QPushButton(QStringLiteral("报表(&R)"), this), "ButReport");
    for (QPushButton* b : {ButSetP, PramSetHist, Button1, ButS, ButAlarms, ButTrend, ButReport}) {
        b->setMinimumHeight(34);
        left->addWidget(b);
    }
    left->addStretch(1);
    left->addWidget(caption(QStringLiteral("放大/缩小"), this));
    auto* ranges = new QGridLayout;
    X1 = Named(new QLineEdit(QStringLiteral("-30"), this), "X1");
    X2 = Named(new QLineEdit(QStringLiteral("250"), this), "X2");
    BX = Named(new QPushButton(QStringLiteral("X"), this), "BX");
    Y1 = Named(new QLineEdit(QStringLiteral("0"), this), "Y1");
    Y2 = Named(new QLineEdit(QStringLiteral("1800"), this), "Y2");
    BY = Named(new QPushButton(QStringLiteral("Y"), this), "BY");
    for (QLineEdit* e : {X1, X2, Y1, Y2})
        e->setMaximumWidth(60);
    for (QPushButton* b : {BX, BY})
        b->setMaximumWidth(32);
    ranges->addWidget(X1, 0, 0);
    ranges->addWidget(X2, 0, 1);
    ranges->addWidget(BX, 0, 2);
    ranges->addWidget(Y1, 1, 0);
    ranges->addWidget(Y2, 1, 1);
    ranges->addWidget(BY, 1, 2);
    left->addLayout(ranges);
}

// Centre: the chart with the temperature displays on it, the overview and the shift buttons under it.
void TFrmMain::buildCentre(QBoxLayout* body)
{
    auto* centre = new QVBoxLayout;
    body->addLayout(centre, 1);
    ChartView = Named(new QCustomPlot(this), "ChartView");
    ChartView->installEventFilter(this); // keeps Panel2 near the chart's right edge
    SetupLiveChart(ChartView);
    m_feed = TChartFeed(ChartView);
    m_tools = new TChartTools(ChartView, {[](double key) { return key; }, liveKeyText});
    // The chart and the overview share the height; the operator may move the line between them.
    auto* split = Named(new QSplitter(Qt::Vertical, this), "ChartSplitter");
    split->setChildrenCollapsible(false);
    centre->addWidget(split, 1);
    split->addWidget(ChartView);
    buildDisplays();
    buildOverview(split);
    buildShiftRow(centre);
}

void TFrmMain::buildDisplays()
{
    Panel2 = Named(new QFrame(ChartView), "Panel2");
    Panel2->setFrameShape(QFrame::Box);
    Panel2->setAutoFillBackground(true);
    QPalette dark = Panel2->palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, Qt::white);
    Panel2->setPalette(dark);
    auto* lcds = new QGridLayout(Panel2);
    lcds->setContentsMargins(6, 6, 6, 6);
    const char* lcdNames[3] = {"LCDATP", "LCDBTP", "LCDCTP"};
    const char* phaseCaptions[3] = {"A相", "B相", "C相"};
    TLcdDisplay** lcdSlots[3] = {&LCDATP, &LCDBTP, &LCDCTP};
    for (int i = 0; i < 3; ++i) {
        auto* d = Named(new TLcdDisplay(Panel2), QLatin1String(lcdNames[i]));
        d->setFixedSize(79, 28);
        d->SetColor(clBlack);
        d->SetDigitNum(4);
        d->SetOnColor(clRed);
        d->SetValue(QStringLiteral("0000"));
        *lcdSlots[i] = d;
        lcds->addWidget(caption(QString::fromUtf8(phaseCaptions[i]), Panel2), i, 0);
        lcds->addWidget(d, i, 1);
    }
    // Whose values the displays show at this moment.
    ShownAddress = Named(new QLabel(Panel2), "ShownAddress");
    ShownAddress->setAlignment(Qt::AlignCenter);
    lcds->addWidget(ShownAddress, 4, 0, 1, 2);
    // Said beside the displays when what they show is no longer fresh.
    StaleDisplays = Named(new QLabel(QStringLiteral("数据过期"), Panel2), "StaleDisplays");
    StaleDisplays->setStyleSheet(QStringLiteral("color: #ffd000; font-weight: bold;"));
    StaleDisplays->setAlignment(Qt::AlignCenter);
    StaleDisplays->hide();
    lcds->addWidget(StaleDisplays, 3, 0, 1, 2);
    Panel2->adjustSize();

    // The phase texts the displays take their values from; never shown.
    ATP = Named(new QLineEdit(this), "ATP");
    BTP = Named(new QLineEdit(this), "BTP");
    CTP = Named(new QLineEdit(this), "CTP");
    for (QLineEdit* e : {ATP, BTP, CTP})
        e->hide();
}

// Every polled instrument at a glance, under the chart; it never takes the focus.
void TFrmMain::buildOverview(QSplitter* split)
{
    auto* overviewBox = new QWidget(split);
    auto* overviewLayout = new QVBoxLayout(overviewBox);
    overviewLayout->setContentsMargins(0, 2, 0, 0);
    overviewLayout->addWidget(new QLabel(QStringLiteral("仪表总览"), overviewBox));
    Overview = Named(new QTableWidget(0, OverviewColumns, overviewBox), "Overview");
    Overview->setHorizontalHeaderLabels({QStringLiteral("地址"), QStringLiteral("名称"), QStringLiteral("A相"),
                                         QStringLiteral("B相"), QStringLiteral("C相"), QStringLiteral("D相"),
                                         QStringLiteral("状态"), QStringLiteral("通讯"), QStringLiteral("最后应答"),
                                         QStringLiteral("应答/发送")});
    Overview->setFocusPolicy(Qt::NoFocus);
    Overview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Overview->setSelectionMode(QAbstractItemView::NoSelection);
    Overview->verticalHeader()->hide();
    Overview->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Overview->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    QFont large = Overview->font();
    large.setPointSizeF(large.pointSizeF() * 2.2); // readable from a few metres
    large.setBold(true);
    m_overviewLarge = large;
    Overview->verticalHeader()->setDefaultSectionSize(QFontMetrics(large).height() + 4);
    Overview->setMinimumHeight(QFontMetrics(large).height() * 2 + 36);
    Overview->setWordWrap(false); // a long name is cut, whole in its tooltip
    Overview->setTextElideMode(Qt::ElideRight);
    Overview->setToolTip(QStringLiteral("状态灯：") + QString::fromUtf8(StatusMarkNames) +
                         QStringLiteral("；双击一行选定该仪表"));
    overviewLayout->addWidget(Overview);
    split->addWidget(overviewBox);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
}

void TFrmMain::buildShiftRow(QBoxLayout* centre)
{
    auto* shifts = new QHBoxLayout;
    Button3 = Named(new QPushButton(QStringLiteral("<<<<（左移）"), this), "Button3");
    Button4 = Named(new QPushButton(QStringLiteral("（右移）>>>>"), this), "Button4");
    FollowLatest = Named(new QCheckBox(QStringLiteral("跟随最新"), this), "FollowLatest");
    AutoScaleBox = Named(new QCheckBox(QStringLiteral("自动纵轴"), this), "AutoScaleBox");
    ExportButton = Named(new QPushButton(QStringLiteral("导出曲线"), this), "ExportButton");
    PrintButton = Named(new QPushButton(QStringLiteral("打印曲线"), this), "PrintButton");
    for (QWidget* w : std::initializer_list<QWidget*>{AutoScaleBox, ExportButton, PrintButton})
        w->setToolTip(QStringLiteral("滚轮缩放（在坐标轴上只缩放该轴），拖动平移，Ctrl+拖动框选放大，"
                                     "Home 或双击复原；单击固定第二光标，Esc 或右键取消"));
    LinkState = Named(new QLabel(this), "LinkState");
    LinkState->setAlignment(Qt::AlignCenter);
    CentralState = Named(new QLabel(this), "CentralState");
    CentralState->setAlignment(Qt::AlignCenter);
    CentralState->hide();
    shifts->addWidget(Button3);
    shifts->addWidget(FollowLatest);
    shifts->addWidget(AutoScaleBox);
    shifts->addWidget(ExportButton);
    shifts->addWidget(PrintButton);
    shifts->addStretch(1);
    shifts->addWidget(LinkState);
    shifts->addSpacing(24);
    shifts->addWidget(CentralState);
    shifts->addStretch(1);
    shifts->addWidget(Button4);
    centre->addLayout(shifts);
}

// Right: status lamps and texts.
void TFrmMain::buildStatusPanel(QBoxLayout* body)
{
    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFixedWidth(280);
    body->addWidget(Panel1);
    auto* right = new QGridLayout(Panel1);
    int row = 0;
    StaleLamps = Named(new QLabel(Panel1), "StaleLamps"); // "数据过期" while stale, its row always there
    StaleLamps->setStyleSheet(QStringLiteral("color: #b07000; font-weight: bold;"));
    StaleLamps->setAlignment(Qt::AlignCenter);
    StaleLamps->setFixedHeight(StaleLamps->fontMetrics().height() + 4);
    right->addWidget(StaleLamps, row++, 0, 1, 2);
    auto lamp = [&](TLamp*& slot, const char* name, const char* text, TColor initial) {
        slot = Named(new TLamp(initial, Panel1), QLatin1String(name));
        right->addWidget(caption(QString::fromUtf8(text), Panel1), row, 0);
        right->addWidget(slot, row++, 1);
    };
    auto state = [&](QLabel*& slot, const char* name, const char* text, const char* initial) {
        slot = Named(new QLabel(QString::fromUtf8(initial), Panel1), QLatin1String(name));
        right->addWidget(caption(QString::fromUtf8(text), Panel1), row, 0);
        right->addWidget(slot, row++, 1);
    };
    lamp(AShape, "AShape", "A相状态", clRed);
    lamp(BShape, "BShape", "B相状态", clLime);
    lamp(CShape, "CShape", "C相状态", clRed);
    lamp(DShape, "DShape", "D相状态", clLime);
    state(GShape, "GShape", "柜门状态", "关");
    lamp(D1Shape, "D1Shape", "风机控制输出", clLime);
    lamp(D2Shape, "D2Shape", "超温报警输出", clRed);
    lamp(D3Shape, "D3Shape", "超温跳闸输出", clRed);
    state(D4Shape, "D4Shape", "风机状态", "自动");
    state(D5Shape, "D5Shape", "蜂鸣器静音", "不静音");
    lamp(D6Shape, "D6Shape", "故障输出位", clLime);
    auto* note = new QLabel(QStringLiteral("说明：红色为动作或报警，绿色为正常。显示的是最近一次应答的"
                                           "温控仪状态；曲线跟随所选地址的温控仪。"),
                            Panel1);
    note->setObjectName(QStringLiteral("StaticText"));
    note->setWordWrap(true);
    right->addWidget(note, row++, 0, 1, 2);

    right->setRowStretch(row++, 1);
    ButCanel = Named(new QPushButton(QStringLiteral("退出(&C)"), Panel1), "ButCanel");
    ButCanel->setMinimumHeight(34);
    right->addWidget(ButCanel, row++, 0, 1, 2);
}

// Not visible: the monitoring core (the serial component ComM and the polling timer TimerA); the
// window shows what it reports.
void TFrmMain::listen()
{
    const auto on = [this](auto signal, auto handler) {
        connect(m_core, signal, this, [handler](const auto&... args) { Guard([&] { handler(args...); }); });
    };
    on(&TMonitorCore::replyHandled, [this](const TChunkOutcome& out) { showReply(out); });
    on(&TMonitorCore::linkChanged, [this] { HealthTimerTimer(); });
    on(&TMonitorCore::errorRaised, [](const QString& text) { ShowErrorBox(text); });
    on(&TMonitorCore::recordingStateChanged, [](const QString& text) { SetErrorBoxState(text); });
    on(&TMonitorCore::alertRaised, [this](const QStringList& texts) { alert(texts); });
    on(&TMonitorCore::alarmsChanged, [this] { RefreshAlarmBanner(); });
    on(&TMonitorCore::centralChanged, [this](const TForwarder::TStatus&) { refreshCentral(); });
    on(&TMonitorCore::settingsChanged, [this] { showFollow(); });
    // The operator's zoom or pan leaves the newest point and the fitted axis; Home returns to both.
    connect(m_tools, &TChartTools::keyRangeChanged, this, [this] {
        Guard([this] {
            setFollow(false);
            m_feed.Hold = true;
        });
    });
    connect(m_tools, &TChartTools::valueRangeChanged, this, [this] { Guard([this] { setAutoScale(false); }); });
    connect(m_tools, &TChartTools::leavingHome, this, [this] {
        m_followAtHome = m_core->State().Follow;
        m_autoScaleAtHome = m_core->State().AutoScale;
    });
    connect(m_tools, &TChartTools::homed, this, [this] {
        Guard([this] {
            m_feed.Hold = false;
            setFollow(m_followAtHome);
            setAutoScale(m_autoScaleAtHome);
        });
    });
    connect(ChartView, &QCustomPlot::beforeReplot, this, [this] { fitValueAxis(); });
}

void TFrmMain::connectHandlers()
{
    // The operator's typing or choosing only: setting a text from code runs no handler.
    ConnectGuarded(ComAddress->lineEdit(), &QLineEdit::textEdited, this, [this] { ComAddressChange(); });
    ConnectGuarded(ComAddress, &QComboBox::textActivated, this, [this] { ComAddressChange(); });
    ConnectGuarded(MCapition->lineEdit(), &QLineEdit::textEdited, this, [this] { MCapitionChange(); });
    ConnectGuarded(MCapition, &QComboBox::textActivated, this, [this] { MCapitionChange(); });
    ConnectGuarded(ButSetP, &QPushButton::clicked, this, [this] { ButSetPClick(); });
    ConnectGuarded(PramSetHist, &QPushButton::clicked, this, [this] { PramSetHistClick(); });
    ConnectGuarded(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ConnectGuarded(ButS, &QPushButton::clicked, this, [this] { ButSClick(); });
    ConnectGuarded(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    ConnectGuarded(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    ConnectGuarded(BX, &QPushButton::clicked, this, [this] { BXClick(); });
    ConnectGuarded(BY, &QPushButton::clicked, this, [this] { BYClick(); });
    ConnectGuarded(ButCanel, &QPushButton::clicked, this, [this] { ButCanelClick(); });
    ConnectGuarded(m_healthTimer, &QTimer::timeout, this, [this] { HealthTimerTimer(); });
    ConnectGuarded(FollowLatest, &QCheckBox::clicked, this, [this] { FollowLatestClick(); });
    ConnectGuarded(AutoScaleBox, &QCheckBox::clicked, this, [this] { AutoScaleBoxClick(); });
    // The CSV's time column holds the position as a number.
    ConnectGuarded(ExportButton, &QPushButton::clicked, this,
                   [this] { ExportChartAsked(ChartView, [](double key) { return QString::number(key); }, this); });
    ConnectGuarded(PrintButton, &QPushButton::clicked, this, [this] { PrintChartAsked(ChartView, this); });
    ConnectGuarded(ButAlarms, &QPushButton::clicked, this, [this] { ButAlarmsClick(); });
    ConnectGuarded(ButTrend, &QPushButton::clicked, this, [this] {
        if (Openers.trend)
            Openers.trend();
    });
    ConnectGuarded(ButReport, &QPushButton::clicked, this, [this] {
        if (Openers.report)
            Openers.report();
    });
    connect(Overview, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { Guard([this, row] { OverviewDoubleClick(row); }); });
    ConnectGuarded(m_blinkTimer, &QTimer::timeout, this, [this] {
        // Blinks by its colours, so the layout never moves.
        m_bannerBright = !m_bannerBright;
        paintBanner();
    });
    ConnectGuarded(m_beepTimer, &QTimer::timeout, this, [this] {
        if (m_core->BeepDue() && m_core->State().Beep)
            beep();
        MuteButton->setEnabled(m_core->BeepDue());
    });
    ConnectGuarded(MuteButton, &QPushButton::clicked, this, [this] { MuteButtonClick(); });
}

} // namespace zeva
