// TFrmMain's handlers: creation, the start-up sequence, selection, polling, replies, chart, closing.
#include "FrmMain.h"

#include "Application.h"
#include "Convert.h"
#include "ErrorLog.h"
#include "Faults.h"
#include "Lamp.h"
#include "MarkStrip.h"
#include "LcdDisplay.h"
#include "Notify.h"
#include "Platform.h"
#include "Reconnect.h"
#include "ReplyHandling.h"
#include "Selection.h"
#include "Settings.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
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

TFrmMain::TOpeners& TFrmMain::Openers()
{
    static TOpeners openers;
    return openers;
}

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmMain"));
    // A fixed border with a system menu, no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    buildControls();
    FormCreate();
}

TFrmMain::~TFrmMain()
{
    // The port closes before anything it reports to goes away, and no control's last signals
    // (a combo box losing the focus as it is destroyed) reach handlers whose state is gone.
    m_comM->ClosePort();
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

void TFrmMain::FormShow()
{
    TMainState& s = m_state;
    s.StartDir = QDir::currentPath();
    s.SettingsFile = std::make_unique<TIniFile>(s.StartDir + QLatin1Char('/') + SettingsFileName);
    TStartupSettings st = ReadStartupSettings(*s.SettingsFile, s.StartDir);
    s.DataPath = st.DataPath;
    s.BaudSetting = st.BaudSetting;
    s.PollInterval = st.PollInterval;
    s.RecordCycle = st.RecordCycle;
    s.PortName = st.PortName;
    QStringList writeErrors = st.WriteErrors;

    try {
        m_comM->SetCommName(s.PortName.toStdString());
        m_comM->SetBaudRate(uint32_t(s.BaudSetting));
        m_comM->OpenPort();
    } catch (const std::exception& e) {
        m_exitCode = ExitPortFailed;
        ShowFriendlyMessage(this, QStringLiteral("串口 ") + s.PortName + QStringLiteral("已经打开。"), PortCauseText(e));
        close();
        return;
    }

    s.SelectedAddress = ReadSelectedAddress(*s.SettingsFile, writeErrors);
    SetAxisRange(ChartView->xAxis, 0, 1800);
    SetAxisRange(ChartView->yAxis, -30, 250);
    ChartView->replot();

    if (!m_db.Open(s.DataPath)) {
        m_exitCode = ExitDatabaseFailed;
        ShowFriendlyMessage(this, QStringLiteral("数据库不在 ") + s.DataPath + QStringLiteral("/DataBase 目录下。"),
                            TDatabase::FileFor(s.DataPath) + QStringLiteral("：") + m_db.OpenError());
        close();
        return;
    }
    startRecordWriter();
    try {
        if (EnsureEventJournal(m_db))
            LogError(QStringLiteral("数据库中没有报警记录表 EventJournal，已新建（其他表未改动）"));
    } catch (const EDatabaseError& e) {
        // The monitoring does not depend on it.
        LogError(QStringLiteral("无法新建报警记录表 EventJournal：") + QString::fromUtf8(e.what()));
    }
    restoreOpenAlarms();
    // A settings file that cannot be rewritten is said once the polling runs; the values in
    // memory serve meanwhile.
    for (const QString& error : writeErrors)
        QTimer::singleShot(0, this, [error] { ShowErrorBox(error); });

    TQueryResult all = SelectApparatus(m_db);
    // The fields end on the highest address, not on the selected one.
    FillSelectors(all, ComAddress, MCapition, EditType, [&s](const TQueryResult& row) {
        if (row.FieldAsInteger(Column::ApparatusAddress) == s.SelectedAddress)
            s.SelectedID = row.FieldAsInteger(Column::ID);
    });

    m_adoRecord = SelectEnabledApparatus(m_db);
    std::vector<int64_t> addresses;
    std::vector<uint8_t> polled;
    std::vector<QString> names;
    for (m_adoRecord.First(); !m_adoRecord.Eof(); m_adoRecord.Next()) {
        int64_t address = m_adoRecord.FieldAsInteger(Column::ApparatusAddress);
        polled.push_back(uint8_t(address & 0xFF));
        names.push_back(m_adoRecord.FieldAsString(Column::ApparatusName));
        if (address < 0 || address > 255)
            LogError(QStringLiteral("仪表“%1”的地址 %2 超出 0..255，按其低 8 位 %3 轮询")
                         .arg(m_adoRecord.FieldAsString(Column::ApparatusName))
                         .arg(address)
                         .arg(address & 0xFF));
        addresses.push_back(address);
    }
    m_poll.Fill(addresses);
    m_health.SetPolled(polled, names);
    m_health.SetReport([](const QString& change) { LogError(change); });
    fillOverview();
    setFollow(s.SettingsFile->ReadInteger(SettingsKey::Chart, SettingsKey::Follow, 0) != 0, false);

    m_poll.PollTick = 0;
    m_feed.LiveX = 0;
    m_feed.BlackBoxX = 0;
    m_recorder.RecordCounter = 0;
    m_timerA->setInterval(TPollTable::TimerIntervalMs(s.PollInterval));
    if (m_poll.PollCount() > 0)
        m_timerA->start();
    m_recorder.RecordToggle = 0;
    m_healthTimer->start();
    HealthTimerTimer();
    RefreshAlarmBanner();
    m_startedUp = true;
}

void TFrmMain::startRecordWriter()
{
    QPointer<TFrmMain> self(this);
    m_writer = std::make_unique<TRecordWriter>(m_state.DataPath, [self](const TRecordWriter::TEvent& event) {
        // Heard on the writer's thread; shown on the user-interface thread.
        QMetaObject::invokeMethod(qApp, [self, event] {
            if (self)
                self->recordWriterEvent(event);
        }, Qt::QueuedConnection);
    });
    m_writer->Start();
}

void TFrmMain::recordWriterEvent(const TRecordWriter::TEvent& event)
{
    switch (event.kind) {
    case TRecordWriter::TEvent::Kind::Failing:
        RefreshAlarmBanner();
        ShowErrorBox(RecordingFailingText(event.text));
        break;
    case TRecordWriter::TEvent::Kind::Dropped: ShowErrorBox(RecordingDroppedText(event.count)); break;
    case TRecordWriter::TEvent::Kind::Journaled: {
        // Only now, with the alarms stored, are they shown.
        QStringList raised;
        raised.swap(m_raisedNotShown);
        // Those already alerted while the database took nothing are not alerted again.
        newAlarms(raised.mid(std::min<qsizetype>(m_alertedEarly, raised.size())));
        m_alertedEarly = 0;
        if (JournalChanged)
            Guard(JournalChanged);
        break;
    }
    case TRecordWriter::TEvent::Kind::Recovered:
        // The box that said so, if still open, says it is over; the writer's own line is on stderr.
        AmendErrorBox(QStringLiteral("\n（数据库已恢复，暂存的记录已写入）"));
        break;
    }
}

void TFrmMain::ComAddressChange()
{
    if (std::optional<int> address = FollowAddress(m_adoRecord, ComAddress, MCapition, EditType)) {
        m_state.SettingsFile->WriteInteger(SettingsKey::Info, SettingsKey::ApparatusAddress, *address);
        m_state.SelectedAddress = *address;
    }
}

void TFrmMain::MCapitionChange()
{
    // Choosing by name changes only what the fields show.
    FollowName(m_adoRecord, MCapition, ComAddress, EditType);
}

void TFrmMain::TimerATimer()
{
    const bool passStart = m_poll.NextStartsPass();
    TFrame request = m_poll.Tick();
    m_health.RequestSent(request[0], passStart);
    if (passStart) // where an instrument may have become 中断
        for (uint8_t a : m_health.Polled())
            syncInterrupted(a);
    m_comM->SendData(request.data(), uint16_t(request.size)); // a closed port loses it silently
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

void TFrmMain::ComMReceiveData(TComm*, const uint8_t* Buffer, uint16_t BufferLength)
{
    TChunkOutcome out = HandleChunk(m_state, m_rx, Buffer, BufferLength);
    if (out.kind == TMonitorReply::Model || out.kind == TMonitorReply::Live || out.kind == TMonitorReply::BlackBox) {
        m_health.ReplyAccepted(out.address, QDateTime::currentMSecsSinceEpoch());
        syncInterrupted(out.address);
    } else if (BufferLength > 0) {
        m_health.ChunkRejected();
    }
    if (out.kind == TMonitorReply::Live) {
        const TAddressReadings& r = m_state.ByAddress[out.address]; // just filled by this reply
        journal(m_alarms.Live(out.address, *r.live, (*r.status)[0], (*r.status)[1]));
        // The displays and lamps now show this instrument.
        if (m_shownAddress != out.address)
            ShownAddress->setText(QStringLiteral("显示：地址 %1").arg(out.address));
        m_shownAddress = out.address;
        if (m_stale != staleNow())
            setStale(!m_stale);
    }
    switch (out.kind) {
    case TMonitorReply::Ignored: return; // wrong marker: not even the recording step
    case TMonitorReply::Model: EditType->setText(out.typeName); break;
    case TMonitorReply::Live: {
        showStatus(out.status);
        QLineEdit* texts[3] = {ATP, BTP, CTP};
        TLcdDisplay* lcds[3] = {LCDATP, LCDBTP, LCDCTP};
        for (int i = 0; i < 3; ++i)
            texts[i]->setText(out.phaseTexts[std::size_t(i)]);
        for (int i = 0; i < 3; ++i)
            lcds[i]->SetValue(texts[i]->text().trimmed());
        if (out.feedsChart)
            m_feed.FeedLive(m_state.LiveTemps, m_state.PollInterval);
        break;
    }
    case TMonitorReply::BlackBox:
        if (out.feedsChart)
            m_feed.FeedBlackBox(m_state.BlackBoxTemps, m_state.PollInterval);
        break;
    case TMonitorReply::Unrecognised: break;
    }
    m_recorder.Step(out.kind, out.address, m_poll.PollCount(), m_state.RecordCycle, m_state,
                    [this](const TRecorder::TRow& row) { storeRow(row); });
}

void TFrmMain::storeRow(const TRecorder::TRow& row)
{
    // The time of storing is taken now; the writer looks the ID up and inserts, off this thread.
    if (m_writer)
        m_writer->Post({QDateTime::currentDateTime(), row.address, row.live, row.blackBox});
}

void TFrmMain::Button3Click()
{
    setFollow(false);
    QCPRange r = ChartView->xAxis->range();
    SetAxisRange(ChartView->xAxis, r.lower - 100, r.upper - 100);
    ChartView->replot();
}

void TFrmMain::Button4Click()
{
    setFollow(false);
    QCPRange r = ChartView->xAxis->range();
    SetAxisRange(ChartView->xAxis, r.lower + 100, r.upper + 100);
    ChartView->replot();
}

void TFrmMain::BXClick()
{
    int a = StrToInt(X1->text().trimmed());
    int b = StrToInt(X2->text().trimmed());
    SetAxisRange(ChartView->yAxis, a, b);
    ChartView->replot();
}

void TFrmMain::BYClick()
{
    setFollow(false);
    int a = StrToInt(Y2->text().trimmed());
    int b = StrToInt(Y1->text().trimmed());
    SetAxisRange(ChartView->xAxis, a, b);
    ChartView->replot();
}

void TFrmMain::ButSetPClick()
{
    if (Openers().configuration)
        Openers().configuration(*this);
}

void TFrmMain::Button1Click()
{
    if (Openers().apparatus)
        Openers().apparatus(*this, 1);
}

void TFrmMain::PramSetHistClick()
{
    if (Openers().apparatus)
        Openers().apparatus(*this, 2);
}

void TFrmMain::ButSClick()
{
    if (Openers().historyCurves)
        Openers().historyCurves(*this);
}

void TFrmMain::ButCanelClick()
{
    close();
}

void TFrmMain::ComMRequestHangup()
{
    // The adapter is gone: polling stands still where it is and the port is tried every 2 s.
    m_timerA->stop();
    setLinkUp(false);
    m_reconnect->Start();
}

void TFrmMain::reopened()
{
    setLinkUp(true);
    if (m_poll.PollCount() > 0)
        m_timerA->start();
}

void TFrmMain::setLinkUp(bool up)
{
    // The one place where the port's coming and going reaches the health, the journal and the view.
    const QDateTime now = QDateTime::currentDateTime();
    if (up && m_health.Link() == TLinkState::Disconnected)
        m_health.Reconnected(now);
    else if (!up)
        m_health.Hangup(now);
    journal(m_alarms.LinkDown(!up));
    HealthTimerTimer();
}

void TFrmMain::ConfigurationLink(bool up)
{
    // The configuration window's port stands for the link while it holds it.
    setLinkUp(up);
}

void TFrmMain::SuspendForConfiguration()
{
    m_reconnect->Stop();
    m_comM->ClosePort();
    m_timerA->stop();
}

void TFrmMain::ResumeAfterConfiguration()
{
    try {
        m_comM->OpenPort();
    } catch (const std::exception& e) {
        // Shown as before; the port is then tried every 2 s and the polling waits for it.
        setLinkUp(false);
        m_reconnect->Start();
        ShowErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    if (m_health.Link() == TLinkState::Disconnected)
        setLinkUp(true);
    m_timerA->start();
}

void TFrmMain::syncInterrupted(uint8_t address)
{
    journal(m_alarms.Interrupted(address, m_health.State(address) == TInstrumentState::Interrupted));
}

void TFrmMain::journal(const std::vector<TJournalOp>& ops)
{
    if (ops.empty() || !m_writer)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    for (const TJournalOp& op : ops) {
        TJournalEntry e;
        e.what = op.what == TJournalOp::What::Raise   ? TJournalEntry::What::Raise
                 : op.what == TJournalOp::What::Clear ? TJournalEntry::What::Clear
                                                      : TJournalEntry::What::Event;
        e.when = now;
        e.address = op.address;
        e.kind = op.kind;
        e.text = op.text;
        m_writer->Post(e);
        if (op.what == TJournalOp::What::Raise)
            m_raisedNotShown << (op.address < 0 ? op.text : QStringLiteral("地址 %1：%2").arg(op.address).arg(op.text));
    }
    // While the database takes nothing, an alarm is not kept from the operator until it does.
    if (m_writer->Failing() && m_raisedNotShown.size() > m_alertedEarly) {
        alert(m_raisedNotShown.mid(m_alertedEarly));
        m_alertedEarly = int(m_raisedNotShown.size());
        RefreshAlarmBanner();
    }
}

void TFrmMain::JournalEvent(int address, const TJournalKind& kind, const QString& detail)
{
    journal({MakeJournalOp(TJournalOp::What::Event, address, kind, detail)});
}

void TFrmMain::restoreOpenAlarms()
{
    try {
        TQueryResult open = m_db.Query(QStringLiteral(
            "SELECT ApparatusAddress, Kind FROM EventJournal WHERE ClearedAt IS NULL AND Kind LIKE 'alarm.%'"));
        for (open.First(); !open.Eof(); open.Next()) {
            QVariant address = open.Field(QStringLiteral("ApparatusAddress"));
            m_alarms.Restore(address.isNull() ? -1 : int(address.toLongLong()), open.FieldAsString(QStringLiteral("Kind")));
        }
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    // The port is open: a link-down alarm left by an earlier run is over.
    journal(m_alarms.LinkDown(false));
}

void TFrmMain::newAlarms(const QStringList& texts)
{
    RefreshAlarmBanner();
    alert(texts);
}

void TFrmMain::alert(const QStringList& texts)
{
    if (texts.isEmpty())
        return;
    for (const QString& t : texts)
        LogError(QStringLiteral("报警：") + t);
    if (m_state.SettingsFile && m_state.SettingsFile->ReadInteger(SettingsKey::Alarm, SettingsKey::Beep, 1) != 0)
        QApplication::beep();
    NotifyDesktop(MainCaption, texts.join(QLatin1Char('\n')));
}

void TFrmMain::RefreshAlarmBanner()
{
    // A database that takes nothing is not asked either: the count of the last answer stands.
    const bool failing = m_writer && m_writer->Failing();
    if (!failing) {
        try {
            m_unacknowledged = CountUnacknowledgedAlarms(m_db);
        } catch (const EDatabaseError& e) {
            LogError(QString::fromUtf8(e.what())); // the banner keeps what it showed
        }
    }
    // Alarms raised while the database takes nothing are counted too, and said to be waiting.
    const qint64 waiting = failing ? m_raisedNotShown.size() : 0;
    const qint64 shown = m_unacknowledged + waiting;
    AlarmBanner->setText(QStringLiteral("%1 条未确认报警").arg(shown) +
                         (waiting > 0 ? QStringLiteral("（其中 %1 条尚未存入数据库）").arg(waiting) : QString()));
    AlarmBanner->setVisible(shown > 0);
    if (shown > 0 && !m_blinkTimer->isActive())
        m_blinkTimer->start();
    else if (shown == 0)
        m_blinkTimer->stop();
}

void TFrmMain::ButAlarmsClick()
{
    if (Openers().journal)
        Openers().journal(*this);
}

void TFrmMain::fillOverview()
{
    const std::vector<uint8_t>& polled = m_health.Polled();
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
        const QString name = m_health.NameOf(polled[std::size_t(r)]);
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
    const std::vector<uint8_t>& polled = m_health.Polled();
    const bool linkUp = m_health.Link() == TLinkState::Connected;
    for (int r = 0; r < int(polled.size()) && r < Overview->rowCount(); ++r) {
        const uint8_t address = polled[std::size_t(r)];
        const TInstrumentHealth& h = m_health.Of(address);
        const TAddressReadings& readings = m_state.ByAddress[address];
        const bool stale = !linkUp || h.state == TInstrumentState::Interrupted;
        const QBrush text = stale ? QBrush(Qt::gray) : QBrush(QPalette().color(QPalette::Text));
        for (int p = 0; p < 4; ++p) {
            QTableWidgetItem* item = Overview->item(r, 2 + p);
            item->setText(readings.live ? PhaseText((*readings.live)[std::size_t(p)]) : QStringLiteral("—"));
            item->setForeground(text);
        }
        if (readings.status)
            static_cast<TMarkStrip*>(Overview->cellWidget(r, 6))
                ->Set(StatusMarks((*readings.status)[0], (*readings.status)[1]), stale);
        QTableWidgetItem* state = Overview->item(r, 7);
        state->setText(StateText(h.state));
        state->setBackground(HealthColor(h.state));
        Overview->item(r, 8)->setText(h.lastReplyMs == 0 ? QStringLiteral("—")
                                                         : QDateTime::fromMSecsSinceEpoch(h.lastReplyMs)
                                                               .toString(QStringLiteral("HH:mm:ss")));
        Overview->item(r, 9)->setText(QStringLiteral("%1/%2").arg(h.accepted).arg(h.sent));
        for (int c : {0, 1, 8, 9})
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
    const qint64 age = std::max<qint64>(0, m_health.LinkSince().secsTo(now));
    LinkState->setText(QStringLiteral("链路：%1（%2）").arg(StateText(m_health.Link()), AgeText(age)));
    LinkState->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(HealthColor(m_health.Link()).name()));
    if (staleNow() != m_stale)
        setStale(!m_stale);
}

bool TFrmMain::staleNow() const
{
    return m_health.Link() != TLinkState::Connected ||
           (m_shownAddress >= 0 && m_health.State(uint8_t(m_shownAddress)) == TInstrumentState::Interrupted);
}

void TFrmMain::setStale(bool stale)
{
    m_stale = stale;
    for (TLcdDisplay* lcd : {LCDATP, LCDBTP, LCDCTP})
        lcd->SetOnColor(stale ? clGray : clRed);
    for (TLamp* lamp : {AShape, BShape, CShape, DShape, D1Shape, D2Shape, D3Shape, D6Shape})
        lamp->SetDimmed(stale);
    for (QLabel* text : {GShape, D4Shape, D5Shape})
        text->setStyleSheet(stale ? QStringLiteral("color: gray;") : QString());
    StaleDisplays->setVisible(stale);
    // Its row keeps its height, so nothing below it moves.
    StaleLamps->setText(stale ? QStringLiteral("数据过期") : QString());
    Panel2->adjustSize();
    placePanel2();
}

void TFrmMain::setFollow(bool follow, bool keep)
{
    FollowLatest->setChecked(follow);
    if (m_feed.Follow == follow)
        return;
    m_feed.Follow = follow;
    if (keep && m_state.SettingsFile)
        m_state.SettingsFile->WriteInteger(SettingsKey::Chart, SettingsKey::Follow, follow ? 1 : 0);
}

void TFrmMain::FollowLatestClick()
{
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
    m_timerA->stop();
    m_healthTimer->stop();
    m_blinkTimer->stop();
    m_reconnect->Stop();
    m_comM->ClosePort(); // no serial thread outlives the window
    if (m_writer)
        m_writer->Stop(CloseFlushLimit); // the last rows are committed before the program ends
}

} // namespace zeva
