// The monitoring core: start-up steps, polling, replies, recording, health, reconnect, journal.
#include "MonitorCore.h"

#include "ErrorLog.h"
#include "Faults.h"
#include "Reconnect.h"
#include "Settings.h"
#include "Statements.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QTimer>

#include <stdexcept>
#include <type_traits>

namespace zeva {

TMonitorCore::TMonitorCore(QObject* parent) : QObject(parent)
{
    // Listeners on other threads get the reports queued.
    qRegisterMetaType<TChunkOutcome>();
    qRegisterMetaType<TForwarder::TStatus>();
    setObjectName(QStringLiteral("MonitorCore"));
    m_unaskedClock.start();
    m_comM = new TComm(this);
    m_comM->setObjectName(QStringLiteral("ComM"));
    SetInstrumentBusProperties(*m_comM);
    m_timerA = new QTimer(this);
    m_timerA->setObjectName(QStringLiteral("TimerA"));
    // A coarse timer may run 5 % short (325 ms for 333): the pace must hold for months.
    m_timerA->setTimerType(Qt::PreciseTimer);
    m_recordingWait = new QTimer(this);
    m_recordingWait->setInterval(1000);
    connect(m_recordingWait, &QTimer::timeout, this, [this] { sayRecordingWaits(); });
    m_reconnect = new TReconnect(*m_comM, [this] { guard([this] { reopened(); }); }, this);
    connect(m_timerA, &QTimer::timeout, this, [this] { guard([this] { TimerATimer(); }); });
    m_shelfTimer = new QTimer(this);
    m_shelfTimer->setInterval(5000);
    connect(m_shelfTimer, &QTimer::timeout, this, [this] { guard([this] { ReturnShelved(); }); });
    m_comM->OnRequestHangup = [this](TComm*) { guard([this] { ComMRequestHangup(); }); };
    m_comM->OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
        guard([&] { ComMReceiveData(sender, buffer, length); });
    };
}

TMonitorCore::~TMonitorCore()
{
    // No serial thread outlives what it reports to; the writer's thread ends with m_writer.
    m_comM->ClosePort();
}

void TMonitorCore::guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

void TMonitorCore::reportError(const QString& text)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&TMonitorCore::errorRaised)))
        emit errorRaised(text);
    else
        LogError(text);
}

TMonitorCore::TStartResult TMonitorCore::Start(const QString& dir, TStartupSteps& steps)
{
    readSettings(dir);
    steps.SettingsRead();
    // Before the port: a second recorder of one database would mix two buses into its rows.
    qint64 holder = 0;
    if (!m_recordingLock.Take(m_state.DataPath, &holder)) {
        steps.DatabaseInUse(QStringLiteral("数据库 %1 已由另一个记录程序（PID %2）使用")
                                .arg(TDatabase::FileFor(m_state.DataPath))
                                .arg(holder));
        return TStartResult::DatabaseInUse;
    }
    try {
        openPort();
    } catch (const std::exception& e) {
        const auto* comms = dynamic_cast<const ECommsError*>(&e);
        // A device that is not there yet is a link that is down; one that is there but cannot be
        // used is a failure.
        if (!comms || comms->Fault() != TPortFault::Missing || !steps.WaitForMissingPort(e)) {
            steps.PortFailed(e);
            return TStartResult::PortFailed;
        }
        m_portWaited = true;
    }
    readSelection();
    steps.SelectionRead();
    if (!openDatabase()) {
        steps.DatabaseFailed();
        return TStartResult::DatabaseFailed;
    }
    readRegistry(steps);
    // Where this run begins: a report counts the time no program ran up to here.
    JournalEvent(-1, JournalKind::ProgramStart, QStringLiteral("zeva-") + m_program);
    startPolling();
    if (m_portWaited) {
        m_timerA->stop(); // the reopening starts it
        SetLinkUp(false);
        m_reconnect->Start();
    }
    steps.PollingStarted();
    startForwarding();
    startPlant();
    return TStartResult::Started;
}

void TMonitorCore::readSettings(const QString& dir)
{
    TMainState& s = m_state;
    s.StartDir = dir;
    m_settings = std::make_unique<TIniFile>(s.StartDir + QLatin1Char('/') + SettingsFileName);
    TStartupSettings st = ReadStartupSettings(*m_settings, s.StartDir);
    s.DataPath = st.DataPath;
    s.BaudSetting = st.BaudSetting;
    s.PollInterval = st.PollInterval;
    s.RecordCycle = st.RecordCycle;
    s.PortName = st.PortName;
    s.Follow = m_settings->ReadInteger(SettingsKey::Chart, SettingsKey::Follow, 0) != 0;
    s.AutoScale = m_settings->ReadInteger(SettingsKey::Chart, SettingsKey::AutoScale, 0) != 0;
    s.Beep = m_settings->ReadInteger(SettingsKey::Alarm, SettingsKey::Beep, 1) != 0;
    readAlarmPolicy();
    m_writeErrors += st.WriteErrors;
}

void TMonitorCore::openPort()
{
    m_comM->SetCommName(m_state.PortName.toStdString());
    m_comM->SetBaudRate(uint32_t(m_state.BaudSetting));
    m_comM->OpenPort();
}

void TMonitorCore::readSelection()
{
    m_state.SelectedAddress = ReadSelectedAddress(*m_settings, m_writeErrors);
}

void TMonitorCore::readRegistry(TStartupSteps& steps)
{
    // The last row holding the selected address gives SelectedID.
    TQueryResult all = SelectApparatus(m_db);
    for (all.First(); !all.Eof(); all.Next())
        if (all.FieldAsInteger(Column::ApparatusAddress) == m_state.SelectedAddress)
            m_state.SelectedID = all.FieldAsInteger(Column::ID);
    all.First();
    steps.RegistryRead(all);
}

TWriteRights TMonitorCore::WriteRights()
{
    // An unreadable setting is the default group, never "everyone".
    QString group;
    try {
        if (m_settings)
            group = m_settings->ReadString(SettingsKey::Security, SettingsKey::WriteGroup, QString());
    } catch (const std::exception&) {
    }
    return WriteRightsFor(group);
}

TIniFile& TMonitorCore::WindowSettings()
{
    if (!m_settings)
        throw std::logic_error("Data.ini is read at start-up");
    return *m_settings;
}

template <typename T> void TMonitorCore::keep(const QString& section, const QString& key, T& value, T now)
{
    // The file first: a write that fails leaves memory as it was.
    if (m_settings) {
        if constexpr (std::is_same_v<T, QString>)
            m_settings->WriteString(section, key, now);
        else
            m_settings->WriteInteger(section, key, int(now));
    }
    value = now;
}

void TMonitorCore::SetPollInterval(int seconds)
{
    keep(SettingsKey::Info, SettingsKey::Interval_S, m_state.PollInterval, seconds);
    emit settingsChanged();
}

void TMonitorCore::SetRecordCycle(int count)
{
    keep(SettingsKey::Info, SettingsKey::RunTimer, m_state.RecordCycle, count);
    emit settingsChanged();
}

void TMonitorCore::SetBaudSetting(int baud)
{
    keep(SettingsKey::Info, SettingsKey::Bate, m_state.BaudSetting, baud);
    emit settingsChanged();
}

void TMonitorCore::SetPortName(const QString& name)
{
    keep(SettingsKey::Info, SettingsKey::Port, m_state.PortName, name);
    emit settingsChanged();
}

void TMonitorCore::ChooseAddress(int address)
{
    keep(SettingsKey::Info, SettingsKey::ApparatusAddress, m_state.SelectedAddress, address);
    emit selectionChanged();
}

void TMonitorCore::SetFollow(bool follow)
{
    keep(SettingsKey::Chart, SettingsKey::Follow, m_state.Follow, follow);
    emit settingsChanged();
}

void TMonitorCore::SetAutoScale(bool autoScale)
{
    keep(SettingsKey::Chart, SettingsKey::AutoScale, m_state.AutoScale, autoScale);
    emit settingsChanged();
}

void TMonitorCore::SetBeep(bool beep)
{
    keep(SettingsKey::Alarm, SettingsKey::Beep, m_state.Beep, beep);
    emit settingsChanged();
}

void TMonitorCore::SelectInstrument(int address, qint64 id, const QString& typeName, const QString& capition)
{
    m_state.SelectedAddress = address;
    m_state.SelectedID = id;
    m_state.CurrentTypeName = typeName;
    m_state.CurrentCapition = capition;
    emit selectionChanged();
}

void TMonitorCore::SetModel(const QString& typeName, const QString& capition)
{
    m_state.CurrentTypeName = typeName;
    m_state.CurrentCapition = capition;
}

void TMonitorCore::SetPortBaudRate(int baud)
{
    m_comM->SetBaudRate(uint32_t(baud));
}

QStringList TMonitorCore::TakeWriteErrors()
{
    QStringList errors;
    errors.swap(m_writeErrors);
    return errors;
}

bool TMonitorCore::openDatabase()
{
    if (!m_db.Open(m_state.DataPath))
        return false;
    startRecordWriter();
    try {
        switch (EnsureEventJournal(m_db)) {
        case TJournalUpgrade::Created:
            LogError(QStringLiteral("数据库中没有报警记录表 EventJournal，已新建（其他表未改动）"));
            break;
        case TJournalUpgrade::Columns:
            LogError(QStringLiteral("报警记录表 EventJournal 已加上优先级、数值、抖动、确认备注和搁置的列"));
            break;
        case TJournalUpgrade::None: break;
        }
    } catch (const EDatabaseError& e) {
        // The monitoring does not depend on it.
        LogError(QStringLiteral("无法新建报警记录表 EventJournal：") + QString::fromUtf8(e.what()));
    }
    try {
        if (EnsureHistoryOperator(m_db))
            LogError(QStringLiteral("参数历史表 ApparatusHistory 已加上操作员列 Operator"));
    } catch (const EDatabaseError& e) {
        // Writes then keep their history rows without it: the journal names the user too.
        LogError(QStringLiteral("无法给参数历史表加上操作员列：") + QString::fromUtf8(e.what()));
    }
    try {
        if (EnsureTrend(m_db))
            LogError(QStringLiteral("数据库中没有趋势汇总表，已新建；已存的读数在后台汇总"));
    } catch (const EDatabaseError& e) {
        // The analysis window then reads the rows themselves.
        LogError(QStringLiteral("无法新建趋势汇总表：") + QString::fromUtf8(e.what()));
    }
    m_trendFiller = std::make_unique<TTrendFiller>(m_state.DataPath);
    restoreOpenAlarms();
    return true;
}

void TMonitorCore::startPolling()
{
    m_enabled = SelectEnabledApparatus(m_db);
    std::vector<int64_t> addresses;
    std::vector<uint8_t> polled;
    std::vector<QString> names;
    for (m_enabled.First(); !m_enabled.Eof(); m_enabled.Next()) {
        int64_t address = m_enabled.FieldAsInteger(Column::ApparatusAddress);
        polled.push_back(uint8_t(address & 0xFF));
        names.push_back(m_enabled.FieldAsString(Column::ApparatusName));
        if (address < 0 || address > 255)
            LogError(QStringLiteral("仪表“%1”的地址 %2 超出 0..255，按其低 8 位 %3 轮询")
                         .arg(m_enabled.FieldAsString(Column::ApparatusName))
                         .arg(address)
                         .arg(address & 0xFF));
        addresses.push_back(address);
    }
    m_poll.Fill(addresses);
    m_health.SetPolled(polled, names);
    readThresholds();
    m_health.SetReport([this](const QString& change) {
        LogError(change);
        plantAllChanged(); // an instrument's health or the link's state
    });

    m_poll.PollTick = 0;
    m_recorder.RecordCounter = 0;
    m_timerA->setInterval(TPollTable::TimerIntervalMs(m_state.PollInterval));
    if (m_poll.PollCount() > 0)
        m_timerA->start();
    m_recorder.RecordToggle = 0;
}

void TMonitorCore::Stop(std::chrono::milliseconds flush)
{
    m_trendFiller.reset(); // its step ends within a moment; the last rows need the database
    m_timerA->stop();
    m_shelfTimer->stop();
    stopPlant();
    m_recordingWait->stop();
    m_reconnect->Stop();
    m_comM->ClosePort(); // no serial thread outlives the core's owner
    if (m_writer) {
        m_writer->Stop(flush); // the last rows are committed, or kept, before the program ends
        m_lostAtStop = m_writer->Lost();
    }
    m_recordingLock.Release();
    // What it has not sent goes at the next start. A server that holds it past the patience is not
    // waited for: the thread is left to the end of the process, with the object it uses.
    if (m_forwarder && !m_forwarder->Stop()) {
        LogError(QStringLiteral("中心库：服务器未应答，转发不再等待"));
        (void)m_forwarder.release();
    }
}

void TMonitorCore::startForwarding()
{
    const TCentralConfig central = ReadCentralConfig(*m_settings);
    if (!central.Enabled() || m_forwarder)
        return;
    // A loss the journal holds from an earlier run gets its 已同步 too.
    try {
        m_centralLost = LastJournalText(m_db, QLatin1String(JournalKind::Central.code))
                            .startsWith(QString::fromUtf8(JournalKind::Central.text) + QStringLiteral("：不可达"));
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    LogError(QStringLiteral("中心库：转发到 %1，站点 %2").arg(central.Describe(), central.station));
    m_forwarder = std::make_unique<TForwarder>(m_state.DataPath, central, [this](const TForwarder::TStatus& status) {
        // Heard on the forwarder's thread; handled on this one (the forwarder ends before this
        // object does).
        QMetaObject::invokeMethod(this, [this, status] { guard([&] { centralChangedHere(status); }); },
                                  Qt::QueuedConnection);
    });
    m_forwarder->Start();
}

std::optional<TForwarder::TStatus> TMonitorCore::CentralStatus() const
{
    if (!m_forwarder)
        return std::nullopt;
    return m_forwarder->Status();
}

void TMonitorCore::centralChangedHere(const TForwarder::TStatus& status)
{
    // The journal says when the central database went away and when all had been sent again. The
    // log says each state that differs from the last one said, and a backlog only as the catch-up
    // after a loss: the routine backlog of a fresh commit, sent within moments, is only shown. The
    // forwarder says the reason of a loss itself.
    using TState = TForwarder::TState;
    if (status.state == TState::Unreachable && !m_centralLost) {
        m_centralLost = true;
        const QString why = status.error.simplified();
        JournalEvent(-1, JournalKind::Central,
                     QStringLiteral("不可达（%1）").arg(why.size() > 160 ? why.left(159) + QChar(0x2026) : why));
    } else if (status.state == TState::Synced && m_centralLost) {
        m_centralLost = false;
        JournalEvent(-1, JournalKind::Central, QStringLiteral("已同步"));
    }
    const bool say = status.state == TState::Backlog ? m_centralSaid == TState::Unreachable : m_centralSaid != status.state;
    if (say) {
        if (status.state != TState::Unreachable)
            LogError(TForwarder::StatusText(status));
        m_centralSaid = status.state;
    }
    plantStationChanged();
    emit centralChanged(status);
}

void TMonitorCore::startRecordWriter()
{
    m_writer = std::make_unique<TRecordWriter>(m_state.DataPath, [this](const TRecordWriter::TEvent& event) {
        // Heard on the writer's thread; handled on this one. The writer ends before this object
        // does, and what it posted goes with this object.
        QMetaObject::invokeMethod(this, [this, event] { guard([&] { recordWriterEvent(event); }); },
                                  Qt::QueuedConnection);
    });
    m_writer->Start(&m_db); // what an earlier stop kept is written before the open alarms are read
}

void TMonitorCore::recordWriterEvent(const TRecordWriter::TEvent& event)
{
    switch (event.kind) {
    case TRecordWriter::TEvent::Kind::Failing:
        emit alarmsChanged();
        reportError(RecordingFailingText(event.text));
        sayRecordingWaits();
        m_recordingWait->start(); // the count moves on while the outage lasts
        break;
    case TRecordWriter::TEvent::Kind::Dropped: reportError(RecordingDroppedText(event.count)); break;
    case TRecordWriter::TEvent::Kind::Journaled: journaled(); break;
    case TRecordWriter::TEvent::Kind::Stored:
        // What is committed goes on to the central database at once.
        if (m_forwarder)
            m_forwarder->Wake();
        break;
    case TRecordWriter::TEvent::Kind::Recovered:
        // The writer's own line is on the standard error output.
        m_recordingWait->stop();
        emit recordingStateChanged(QStringLiteral("\n（数据库已恢复，暂存的记录已写入）"));
        break;
    }
}

void TMonitorCore::sayRecordingWaits()
{
    if (m_writer)
        emit recordingStateChanged(QStringLiteral("\n（%1 条记录等待写入数据库）").arg(m_writer->Pending()));
}

void TMonitorCore::journaled()
{
    // Only now, with the alarms stored, are they shown.
    QStringList raised;
    raised.swap(m_raisedNotShown);
    readShelved(); // a raise may have joined a shelved alarm
    emit alarmsChanged();
    // Those already alerted while the database took nothing are not alerted again.
    alert(raised.mid(std::min<qsizetype>(m_alertedEarly, raised.size())));
    m_alertedEarly = 0;
    plantAlarmsChanged();
    emit journalStored();
}

void TMonitorCore::TimerATimer()
{
    const bool passStart = m_poll.NextStartsPass();
    TFrame request = m_poll.Tick();
    m_health.RequestSent(request[0], passStart);
    // Where an instrument has become 中断. Only a reply ends it (see ComMReceiveData): an alarm
    // restored from an earlier run stays open while its instrument has not answered.
    if (passStart)
        for (uint8_t a : m_health.Polled())
            if (m_health.State(a) == TInstrumentState::Interrupted)
                syncInterrupted(a);
    m_outstanding.Sent(request[0], request[2]);
    m_comM->SendData(request.data(), uint16_t(request.size)); // a closed port loses it silently
}

void TMonitorCore::ComMReceiveData(TComm*, const uint8_t* Buffer, uint16_t BufferLength)
{
    TChunkOutcome out = HandleChunk(m_state, m_rx, m_outstanding, Buffer, BufferLength);
    if (out.unasked) {
        // Neither shown nor recorded nor counted as the instrument's answer; said once a minute.
        m_health.ChunkRejected();
        const qint64 now = m_unaskedClock.elapsed();
        if (m_unaskedSaidAt < 0 || now - m_unaskedSaidAt >= 60000) {
            m_unaskedSaidAt = now;
            LogError(QStringLiteral("总线上出现未请求的应答：地址 %1").arg(out.address));
        }
        return;
    }
    if (out.kind == TMonitorReply::Model || out.kind == TMonitorReply::Live || out.kind == TMonitorReply::BlackBox) {
        m_health.ReplyAccepted(out.address, QDateTime::currentMSecsSinceEpoch());
        syncInterrupted(out.address);
    } else if (BufferLength > 0) {
        m_health.ChunkRejected();
    }
    if (out.kind == TMonitorReply::Live) {
        const TAddressReadings& r = m_state.ByAddress[out.address]; // just filled by this reply
        journal(m_alarms.Live(out.address, *r.live, (*r.status)[0], (*r.status)[1], m_unaskedClock.elapsed(),
                              m_t4[out.address]));
    }
    if (out.kind == TMonitorReply::Ignored)
        return; // wrong marker: not even the recording step
    if (out.kind == TMonitorReply::Live || out.kind == TMonitorReply::BlackBox) {
        m_replyTime[out.address] = QDateTime::currentDateTime();
        plantInstrumentChanged(out.address);
    }
    emit replyHandled(out);
    m_recorder.Step(out.kind, out.address, m_poll.PollCount(), m_state.RecordCycle, m_state,
                    [this](const TRecorder::TRow& row) { storeRow(row); });
}

void TMonitorCore::storeRow(const TRecorder::TRow& row)
{
    // The time of storing is taken now; the writer looks the ID up and inserts, off this thread.
    if (m_writer)
        m_writer->Post({QDateTime::currentDateTime(), row.address, row.live, row.blackBox});
}

void TMonitorCore::ComMRequestHangup()
{
    // The adapter is gone: polling stands still where it is and the port is tried every 2 s.
    m_timerA->stop();
    SetLinkUp(false);
    m_reconnect->Start();
}

void TMonitorCore::reopened()
{
    SetLinkUp(true);
    if (m_poll.PollCount() > 0)
        m_timerA->start();
}

void TMonitorCore::SetLinkUp(bool up)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (up && m_health.Link() == TLinkState::Disconnected)
        m_health.Reconnected(now);
    else if (!up)
        m_health.Hangup(now);
    journal(m_alarms.LinkDown(!up, m_unaskedClock.elapsed()));
    plantStationChanged();
    emit linkChanged();
}

void TMonitorCore::SuspendForConfiguration()
{
    m_reconnect->Stop();
    m_comM->ClosePort();
    m_timerA->stop();
}

void TMonitorCore::ResumeAfterConfiguration()
{
    try {
        m_comM->OpenPort();
    } catch (const std::exception& e) {
        // Said as before; the port is then tried every 2 s and the polling waits for it.
        SetLinkUp(false);
        m_reconnect->Start();
        reportError(QString::fromUtf8(e.what()));
        return;
    }
    if (m_health.Link() == TLinkState::Disconnected)
        SetLinkUp(true);
    m_timerA->start();
}

void TMonitorCore::syncInterrupted(uint8_t address)
{
    journal(m_alarms.Interrupted(address, m_health.State(address) == TInstrumentState::Interrupted,
                                 m_unaskedClock.elapsed()));
}

void TMonitorCore::journal(const std::vector<TJournalOp>& ops)
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
        if (IsAlarmKind(op.kind))
            e.priority = int(m_policy.PriorityOf(op.kind));
        e.value = op.value;
        e.chatter = op.chatter;
        m_writer->Post(e);
        const QString said =
            op.address < 0 ? op.text : m_health.InstrumentText(uint8_t(op.address)) + QStringLiteral("：") + op.text;
        // A raised alarm is said once it is stored (see alert); the rest at once. One raised while
        // the same is shelved is shelved with it, and not alerted.
        const auto shelf = m_shelved.find({op.address, op.kind});
        const bool shelved = shelf != m_shelved.end() && shelf->second.until > now;
        if (op.what == TJournalOp::What::Raise && shelved)
            LogError(QStringLiteral("报警（已搁置）：") + said);
        else if (op.what == TJournalOp::What::Raise)
            m_raisedNotShown << said;
        else
            LogError((op.what == TJournalOp::What::Clear ? QStringLiteral("报警解除：") : QStringLiteral("事件：")) + said);
    }
    // While the database takes nothing, an alarm is not kept from the operator until it does.
    if (m_writer->Failing() && m_raisedNotShown.size() > m_alertedEarly) {
        const QStringList early = m_raisedNotShown.mid(m_alertedEarly);
        m_alertedEarly = int(m_raisedNotShown.size());
        emit alarmsChanged();
        alert(early);
    }
}

void TMonitorCore::JournalEvent(int address, const TJournalKind& kind, const QString& detail)
{
    journal({MakeJournalOp(TJournalOp::What::Event, address, kind, detail)});
    if (QLatin1String(kind.code) == QLatin1String(JournalKind::ParameterWrite.code))
        readThresholds(); // a new T4 counts from the next reply
}

void TMonitorCore::restoreOpenAlarms()
{
    try {
        TQueryResult open = SelectOpenAlarms(m_db);
        for (open.First(); !open.Eof(); open.Next()) {
            QVariant address = open.Field(QStringLiteral("ApparatusAddress"));
            m_alarms.Restore(address.isNull() ? -1 : int(address.toLongLong()), open.FieldAsString(QStringLiteral("Kind")));
        }
    } catch (const EDatabaseError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    readShelved();
    m_shelfTimer->start();
    // The port is open: a link-down alarm left by an earlier run is over. Still waiting for the
    // device: the alarm stands (restored above, not raised again).
    if (!m_portWaited)
        journal(m_alarms.LinkDown(false));
}

void TMonitorCore::alert(const QStringList& texts)
{
    if (texts.isEmpty())
        return;
    for (const QString& t : texts)
        LogError(QStringLiteral("报警：") + t);
    // Data.ini's [Alarm] Beep is asked when the alarm comes: an edit of the file takes effect at once.
    if (m_settings)
        m_state.Beep = m_settings->ReadInteger(SettingsKey::Alarm, SettingsKey::Beep, 1) != 0;
    emit alertRaised(texts);
}

TMonitorCore::TAlarmCount TMonitorCore::CountAlarms()
{
    const bool failing = m_writer && m_writer->Failing();
    if (!failing) {
        try {
            m_unacknowledged = CountUnacknowledgedAlarms(m_db);
        } catch (const EDatabaseError& e) {
            LogError(QString::fromUtf8(e.what())); // the last count stands
        }
    }
    return {m_unacknowledged, failing ? qint64(m_raisedNotShown.size()) : 0};
}


} // namespace zeva
