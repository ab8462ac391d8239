// The configuration exchange: port take-over and hand-back, the reads, replies into the registry,
// writes with their history row and journal entry, the PC's link settings.
#include "ConfigExchange.h"

#include "Comm.h"
#include "ErrorLog.h"
#include "MonitorCore.h"
#include "Reconnect.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QTimer>

namespace zeva {

TRxBuffer& TConfigExchange::ReceiveBuffer()
{
    static TRxBuffer buffer;
    return buffer;
}

TConfigExchange::TConfigExchange(TMonitorCore& core, QObject* parent)
    : QObject(parent), m_core(core), m_db(core.Db())
{
    setObjectName(QStringLiteral("ConfigExchange"));
    m_commB = new TComm(this);
    m_commB->setObjectName(QStringLiteral("CommB"));
    SetInstrumentBusProperties(*m_commB);
    m_commB->OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
        guard([&] { CommBReceiveData(sender, buffer, length); });
    };
    m_timerB = new QTimer(this);
    m_timerB->setObjectName(QStringLiteral("TimerB"));
    m_timerB->setInterval(1000);
    connect(m_timerB, &QTimer::timeout, this, [this] { guard([this] { TimerBTimer(); }); });
    // A pulled adapter: CommB is tried again every 2 s while the exchange is open; meanwhile it
    // stands for the link.
    m_reconnectB = new TReconnect(*m_commB, [this] {
        LogError(QStringLiteral("参数设置：串口已重新打开"));
        guard([this] { m_core.SetLinkUp(true); });
    }, this);
    m_commB->OnRequestHangup = [this](TComm*) {
        LogError(QStringLiteral("参数设置：串口断开，每 2 秒重试"));
        guard([this] { m_core.SetLinkUp(false); });
        m_reconnectB->Start();
    };
}

TConfigExchange::~TConfigExchange()
{
    if (!m_closed)
        Close();
}

void TConfigExchange::guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what());
        if (isSignalConnected(QMetaMethod::fromSignal(&TConfigExchange::errorRaised)))
            emit errorRaised(text);
        else
            LogError(text);
    }
}

TQueryResult TConfigExchange::OpenRegistryCopy()
{
    CopyToTempApparatus(m_db); // a copy left from an earlier run is used as it is
    return SelectEnabledTempApparatus(m_db);
}

void TConfigExchange::StoreHighest()
{
    const TMainState& s = m_core.State();
    const auto& highest = s.ByAddress[uint8_t(s.SelectedAddress & 0xFF)].highest;
    if (highest && s.SelectedID != 0)
        UpdateHighest(m_db, s.SelectedID, *highest);
}

void TConfigExchange::Open()
{
    const TMainState& s = m_core.State();
    m_core.SuspendForConfiguration();
    m_open = true;
    m_commB->ClosePort();
    m_commB->SetCommName(s.PortName.toStdString());
    m_commB->SetBaudRate(uint32_t(s.BaudSetting));
    guard([this] { m_commB->OpenPort(); }); // a port held elsewhere: said, the reads still tick
    if (!m_commB->IsOpen()) {
        m_core.SetLinkUp(false);
        m_reconnectB->Start();
    }
    m_timerB->start();
}

void TConfigExchange::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_reconnectB->Stop();
    m_commB->ClosePort();
    m_timerB->stop();
    // The core's port opens again at the rate set meanwhile; a failure is said and the port is
    // tried again every 2 s.
    if (m_open)
        guard([this] { m_core.ResumeAfterConfiguration(); });
    m_open = false;
    guard([this] { DropTempApparatus(m_db); });
}

void TConfigExchange::TimerBTimer()
{
    const std::optional<TRead> read = ReadSource ? ReadSource() : std::nullopt;
    if (!read)
        return;
    // A read's reply is due before the next one goes out.
    if (m_readOutstanding && ++m_unansweredReads >= 3 && m_answering) {
        m_answering = false;
        LogError(QStringLiteral("参数设置：地址 %1 无应答").arg(read->address));
        emit answeringChanged(false);
    }
    m_readOutstanding = true;
    send(BuildRequest(read->address, read->command));
}

void TConfigExchange::CommBReceiveData(TComm*, const uint8_t* Buffer, uint16_t BufferLength)
{
    TRxBuffer& rx = ReceiveBuffer();
    rx.Overlay(Buffer, BufferLength);
    if (rx[1] != FrameMarker)
        return;
    for (uint8_t command : ConfigReplyOrder) {
        if (!rx.Holds(command))
            continue;
        m_readOutstanding = false;
        m_unansweredReads = 0;
        if (!m_answering) {
            m_answering = true;
            LogError(QStringLiteral("参数设置：恢复应答"));
            emit answeringChanged(true);
        }
        handleReply(command, rx.data());
    }
}

void TConfigExchange::handleReply(uint8_t command, const uint8_t* data)
{
    const qint64 id = m_core.State().SelectedID; // whichever address the reply came from
    switch (command) {
    case Cmd::ReadThresholds: {
        const TThresholds t = DecodeThresholds(data);
        emit thresholdsRead(t);
        UpdateThresholds(m_db, id, t);
        break;
    }
    case Cmd::ReadCompensation: {
        const TCompensation c = DecodeCompensation(data);
        emit compensationRead(c);
        UpdateCompensation(m_db, id, c);
        break;
    }
    case Cmd::ReadFanTiming: {
        const TFanTimingReading f = DecodeFanTiming(data);
        emit fanTimingRead(f.TF, f.RUN);
        UpdateFanTiming(m_db, id, f.TF, f.RUN);
        break;
    }
    case Cmd::ReadLink: {
        const TLinkReading l = DecodeLink(data);
        emit linkRead(l.address, l.baud);
        UpdateLink(m_db, id, l.address, l.baud);
        break;
    }
    case Cmd::Model: {
        const TModelReading m = DecodeModel(data);
        m_core.SetModel(QString::fromStdString(m.model.TypeName), QString::fromStdString(m.model.Capition));
        UpdateModel(m_db, id, m_core.State().CurrentTypeName, m_core.State().CurrentCapition);
        break;
    }
    }
}

void TConfigExchange::send(const TFrame& frame)
{
    m_commB->SendData(frame.data(), uint16_t(frame.size)); // a closed port refuses it silently
}

TReviewContext TConfigExchange::ReviewContext(uint8_t address, int newAddress)
{
    const TMainState& s = m_core.State();
    TReviewContext c;
    c.address = address;
    c.readings = s.ByAddress[address];
    c.now = std::chrono::steady_clock::now();
    const TQueryResult self = SelectApparatusById(m_db, s.SelectedID);
    if (self.RecordCount() > 0) {
        c.name = self.FieldAsString(Column::ApparatusName);
        const QVariant baud = self.Field(Column::ApparatusBate);
        if (!baud.isNull() && baud.toInt() > 0)
            c.registeredBaud = baud.toInt();
    }
    if (newAddress >= 0 && newAddress != address) {
        const TQueryResult other = SelectEnabledAtAddress(m_db, newAddress, s.SelectedID);
        if (other.RecordCount() > 0)
            c.newAddressUsedBy = other.FieldAsString(Column::ApparatusName);
    }
    return c;
}

void TConfigExchange::mayWrite()
{
    const TWriteRights rights = m_core.WriteRights();
    if (!rights.allowed)
        throw std::runtime_error(rights.Refusal().toStdString());
}

void TConfigExchange::Write(TWriteGroup group, uint8_t address, const std::vector<double>& v, THistoryRow row,
                            const TWriteReview& review)
{
    mayWrite();
    QStringList texts;
    for (double x : v)
        texts << QString::number(x, 'g', 17);
    ParseGroup(group, texts); // the window checked them; a caller that did not is refused here
    switch (group) {
    case TWriteGroup::Thresholds: send(BuildThresholdWrite(address, {v[0], v[1], v[2], v[3], v[4], v[5], v[6]})); break;
    case TWriteGroup::Compensation: send(BuildCompensationWrite(address, {v[0], v[1], v[2], v[3]})); break;
    case TWriteGroup::FanTiming: send(BuildFanTimingWrite(address, int(v[0]), int(v[1]))); break;
    case TWriteGroup::Link: send(BuildLinkWrite(address, int(v[0]), int(v[1]))); break;
    }
    const QString user = OperatingSystemUser();
    row.InDate = QDateTime::currentDateTime();
    row.Implication = m_core.State().CurrentCapition;
    row.Operator = user;
    // The journal keeps the write whatever happens to the history row (it waits for the database).
    m_core.JournalEvent(address, JournalKind::ParameterWrite, review.AuditText(user));
    try {
        EnsureHistoryOperator(m_db); // an older database whose column could not be added at the start
        InsertHistory(m_db, row);
    } catch (const EDatabaseError& e) {
        // The frame has gone out: the audit must not lose the row without a word.
        throw EDatabaseError(QStringLiteral("参数已发送到仪表并记入报警记录，但参数历史未能保存：%1")
                                 .arg(QString::fromUtf8(e.what()))
                                 .toStdString());
    }
}

void TConfigExchange::ClearBlackBox(uint8_t address, const TWriteReview& review)
{
    mayWrite();
    send(BuildBlackBoxClear(address));
    m_core.JournalEvent(address, JournalKind::BlackBoxClear, review.AuditText(OperatingSystemUser()));
}

void TConfigExchange::ForceOutput(uint8_t address, const QString& output, const QString& action,
                                  const TWriteReview& review)
{
    mayWrite();
    send(BuildForceOutput(address, OutputKindOf(output.toStdString()), OutputActionOf(action.toStdString())));
    m_core.JournalEvent(address, JournalKind::ForceOutput, review.AuditText(OperatingSystemUser()));
}

void TConfigExchange::StoreRunTimes()
{
    const TMainState& s = m_core.State();
    UpdateRunTimes(m_db, s.SelectedID, s.PollInterval, s.RecordCycle);
}

void TConfigExchange::ApplyLinkSettings(const QString& port, int baud)
{
    UpdateComPort(m_db, m_core.State().SelectedID, port, baud);
    // Both components take the new rate; neither changes its port name here.
    m_commB->ClosePort();
    m_commB->SetBaudRate(uint32_t(baud));
    m_core.SetPortBaudRate(baud);
    m_commB->OpenPort();
}

} // namespace zeva
