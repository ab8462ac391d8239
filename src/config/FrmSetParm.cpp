// TFrmSetParm's handlers: taking the port over, reading and storing parameter groups, writes with
// their history row, maintenance, link and timing settings, and handing the port back.
#include "FrmSetParm.h"

#include "Application.h"
#include "ComboText.h"
#include "Convert.h"
#include "ErrorLog.h"
#include "Frames.h"
#include "FrmMain.h"
#include "MainState.h"
#include "Reconnect.h"
#include "ReplyHandling.h"
#include "Settings.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

namespace zeva {

void RegisterConfigurationWindow()
{
    TFrmMain::Openers().configuration = [](TFrmMain& main) {
        TFrmSetParm window(main);
        window.exec();
    };
}

TRxBuffer& TFrmSetParm::ReceiveBuffer()
{
    static TRxBuffer buffer;
    return buffer;
}

TFrmSetParm::TFrmSetParm(TFrmMain& main, QWidget* parent)
    : QDialog(parent ? parent : &main), m_main(main), m_state(main.State()), m_db(main.ADOCon())
{
    setObjectName(QStringLiteral("FrmSetParm"));
    buildControls();
    FormCreate();
}

TFrmSetParm::~TFrmSetParm()
{
    // A window destroyed without closing still hands the port back.
    if (!m_closed)
        FormClose();
    BlockChildSignals(this);
}

void TFrmSetParm::FormCreate()
{
    CopyToTempApparatus(m_db); // a copy left from an earlier run is used as it is
    Guard([this] {
        m_adoqCom = SelectEnabledTempApparatus(m_db);
        for (m_adoqCom.First(); !m_adoqCom.Eof(); m_adoqCom.Next()) {
            MCapition->addItem(m_adoqCom.FieldAsString(Column::ApparatusName));
            MAddress->addItem(m_adoqCom.FieldAsString(Column::ApparatusAddress));
            MXL->addItem(m_adoqCom.FieldAsString(Column::ApparatusType));
        }
        selectRow(0);
        // The highest temperatures of the selected instrument itself, if it has sent any.
        const auto& highest = m_state.ByAddress[uint8_t(m_state.SelectedAddress & 0xFF)].highest;
        if (highest && m_state.SelectedID != 0)
            UpdateHighest(m_db, m_state.SelectedID, *highest);
    });
    LXTimeEdit->setText(QString::number(m_state.PollInterval));
    RecTimeEdit->setText(QString::number(m_state.RecordCycle));
    SetComboText(ComPort, m_state.PortName);
    SetComboText(ComBate, QString::number(m_state.BaudSetting));

    m_main.SuspendForConfiguration();

    m_commB->ClosePort();
    m_commB->SetCommName(m_state.PortName.toStdString());
    m_commB->SetBaudRate(uint32_t(m_state.BaudSetting));
    Guard([this] { m_commB->OpenPort(); }); // a port held elsewhere: shown, the window still opens
    if (!m_commB->IsOpen()) {
        // Gone or held: tried again every 2 s while the window is open.
        m_main.ConfigurationLink(false);
        m_reconnectB->Start();
    }
    m_timerB->start();
}

void TFrmSetParm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    FormShow();
}

void TFrmSetParm::FormShow()
{
    m_main.TimerA()->stop();
    m_adoqCom.MoveTo(std::max(0, MAddress->currentIndex()));
    auto text = [this](const QString& column) { return m_adoqCom.FieldAsString(column); };
    for (int i = 0; i < 7; ++i)
        TSet[i]->setText(text(Column::T(i + 1)));
    for (int i = 0; i < 4; ++i)
        AtSet[i]->setText(text(Column::AtoneT(i)));
    JGSet->setText(text(QStringLiteral("TF")));
    YXSet->setText(text(QStringLiteral("RUN")));
    ADDSet->setText(text(Column::ApparatusAddress));
    SetComboText(BateSet, text(Column::ApparatusBate));
}

void TFrmSetParm::selectRow(int row)
{
    if (row < 0 || row >= m_adoqCom.RecordCount()) {
        m_state.SelectedAddress = 0;
        m_state.SelectedID = 0;
        m_state.CurrentTypeName.clear();
        m_state.CurrentCapition.clear();
        return;
    }
    m_adoqCom.MoveTo(row);
    DataSourceDataChange();
}

void TFrmSetParm::DataSourceDataChange()
{
    // The three selectors list the rows in one order, so the chosen row stays chosen even when
    // another row shares its name, address or model.
    int row = m_adoqCom.RecNo();
    for (QComboBox* selector : {MCapition, MAddress, MXL})
        selector->setCurrentIndex(row);
    m_state.SelectedAddress = int(m_adoqCom.FieldAsInteger(Column::ApparatusAddress));
    m_state.SelectedID = m_adoqCom.FieldAsInteger(Column::ID);
    m_state.CurrentTypeName = m_adoqCom.FieldAsString(Column::ApparatusType);
    m_state.CurrentCapition = m_adoqCom.FieldAsString(Column::Implication);
}

uint8_t TFrmSetParm::busAddress() const
{
    return uint8_t(StrToInt(MAddress->currentText().trimmed()) & 0xFF);
}

void TFrmSetParm::TimerBTimer()
{
    static constexpr uint8_t commands[5] = {Cmd::ReadThresholds, Cmd::ReadCompensation, Cmd::ReadFanTiming,
                                            Cmd::ReadLink, Cmd::Model};
    if (!isVisible())
        return; // no tab is on view
    int tab = PageCtl->currentIndex();
    if (tab < 0 || tab > 4)
        return;
    uint8_t address;
    try {
        address = busAddress();
    } catch (const EConvertError&) {
        return; // no usable address (no enabled instrument): nothing to ask
    }
    // A read's reply is due before the next one goes out.
    if (m_readOutstanding && ++m_unansweredReads >= 3 && !NoReply->isVisible()) {
        NoReply->show();
        LogError(QStringLiteral("参数设置：地址 %1 无应答").arg(address));
    }
    m_readOutstanding = true;
    TFrame request = BuildRequest(address, commands[tab]);
    m_commB->SendData(request.data(), uint16_t(request.size));
}

void TFrmSetParm::CommBReceiveData(TComm*, const uint8_t* Buffer, uint16_t BufferLength)
{
    TRxBuffer& rx = ReceiveBuffer();
    rx.Overlay(Buffer, BufferLength);
    if (rx[1] != FrameMarker)
        return;
    const qint64 id = m_state.SelectedID; // whichever address the reply came from
    for (uint8_t command : ConfigReplyOrder) {
        if (!rx.Holds(command))
            continue;
        m_readOutstanding = false;
        m_unansweredReads = 0;
        if (NoReply->isVisible()) {
            NoReply->hide();
            LogError(QStringLiteral("参数设置：恢复应答"));
        }
        switch (command) {
        case Cmd::ReadThresholds: {
            TThresholds t = DecodeThresholds(rx.data());
            for (int i = 0; i < 7; ++i)
                TGet[i]->setText(TempText(t[std::size_t(i)]));
            UpdateThresholds(m_db, id, t);
            break;
        }
        case Cmd::ReadCompensation: {
            TCompensation c = DecodeCompensation(rx.data());
            for (int i = 0; i < 4; ++i)
                AtGet[i]->setText(TempText(c[std::size_t(i)]));
            UpdateCompensation(m_db, id, c);
            break;
        }
        case Cmd::ReadFanTiming: {
            TFanTimingReading f = DecodeFanTiming(rx.data());
            JGGET->setText(QString::number(f.TF));
            YXGet->setText(QString::number(f.RUN));
            UpdateFanTiming(m_db, id, f.TF, f.RUN);
            break;
        }
        case Cmd::ReadLink: {
            TLinkReading l = DecodeLink(rx.data());
            ADDGet->setText(QString::number(l.address));
            BateGet->setText(QString::number(l.baud));
            UpdateLink(m_db, id, l.address, l.baud);
            break;
        }
        case Cmd::Model: {
            TModelReading m = DecodeModel(rx.data());
            m_state.CurrentTypeName = QString::fromStdString(m.model.TypeName);
            m_state.CurrentCapition = QString::fromStdString(m.model.Capition);
            UpdateModel(m_db, id, m_state.CurrentTypeName, m_state.CurrentCapition);
            break;
        }
        }
    }
}

// ---- parameter writes ----

void TFrmSetParm::ButT1Click()
{
    uint8_t address = busAddress();
    TThresholds t{};
    for (int i = 0; i < 7; ++i)
        t[std::size_t(i)] = StrToFloat(TSet[i]->text().trimmed());
    TFrame f = BuildThresholdWrite(address, t);
    m_commB->SendData(f.data(), uint16_t(f.size));
    writeHistory();
    m_main.JournalEvent(address, JournalKind::ParameterWrite, QStringLiteral("温度参数 T1–T7"));
}

void TFrmSetParm::ButAClick()
{
    uint8_t address = busAddress();
    TCompensation c{};
    for (int i = 0; i < 4; ++i)
        c[std::size_t(i)] = StrToFloat(AtSet[i]->text().trimmed());
    TFrame f = BuildCompensationWrite(address, c);
    m_commB->SendData(f.data(), uint16_t(f.size));
    writeHistory();
    m_main.JournalEvent(address, JournalKind::ParameterWrite, QStringLiteral("补偿温度"));
}

void TFrmSetParm::ButJGClick()
{
    uint8_t address = busAddress();
    int tf = StrToInt(JGSet->text().trimmed());
    int run = StrToInt(YXSet->text().trimmed());
    TFrame f = BuildFanTimingWrite(address, tf, run);
    m_commB->SendData(f.data(), uint16_t(f.size));
    writeHistory();
    m_main.JournalEvent(address, JournalKind::ParameterWrite, QStringLiteral("风机时间"));
}

void TFrmSetParm::ButAddClick()
{
    uint8_t address = busAddress();
    int newAddress = StrToInt(ADDSet->text().trimmed());
    int baud = StrToInt(BateSet->currentText().trimmed());
    TFrame f = BuildLinkWrite(address, newAddress, baud);
    m_commB->SendData(f.data(), uint16_t(f.size));
    writeHistory();
    m_main.JournalEvent(address, JournalKind::ParameterWrite,
                        QStringLiteral("地址与波特率：%1，%2").arg(newAddress).arg(baud));
}

void TFrmSetParm::writeHistory()
{
    // What the window shows at the press; a box that holds no number is stored as NULL.
    auto number = [](const QString& text) -> QVariant {
        double v = 0;
        return TryStrToFloat(text.trimmed(), v) ? QVariant(v) : QVariant();
    };
    auto whole = [](const QString& text) -> QVariant {
        try {
            return StrToInt(text.trimmed());
        } catch (const EConvertError&) {
            return {};
        }
    };
    THistoryRow row;
    row.InDate = QDateTime::currentDateTime();
    row.ApparatusName = MCapition->currentText().trimmed();
    row.ApparatusAddress = whole(ADDSet->text());
    row.ApparatusBate = whole(BateSet->currentText());
    row.ApparatusType = MXL->currentText().trimmed();
    row.Implication = m_state.CurrentCapition;
    for (int i = 0; i < 7; ++i)
        row.T[std::size_t(i)] = number(TSet[i]->text());
    for (int i = 0; i < 4; ++i)
        row.Atone[std::size_t(i)] = number(AtSet[i]->text());
    row.TF = whole(JGSet->text());
    row.RUN = whole(YXSet->text());
    try {
        InsertHistory(m_db, row);
    } catch (const EDatabaseError&) {
        // The frame has gone out; a refused history row is not the operator's to handle.
    }
}

// ---- maintenance and link settings ----

void TFrmSetParm::ButClearClick()
{
    const uint8_t address = busAddress();
    TFrame f = BuildBlackBoxClear(address);
    m_commB->SendData(f.data(), uint16_t(f.size));
    m_main.JournalEvent(address, JournalKind::BlackBoxClear, {});
}

void TFrmSetParm::ButOutClick()
{
    uint8_t address = busAddress();
    uint8_t kind = OutputKindOf(OUTEdit->currentText().trimmed().toStdString());
    uint8_t action = OutputActionOf(OUTTypeEdit->currentText().trimmed().toStdString());
    TFrame f = BuildForceOutput(address, kind, action);
    m_commB->SendData(f.data(), uint16_t(f.size));
    m_main.JournalEvent(address, JournalKind::ForceOutput,
                        OUTEdit->currentText().trimmed() + QLatin1Char(' ') + OUTTypeEdit->currentText().trimmed());
}

void TFrmSetParm::ButSetTClick()
{
    TIniFile& ini = *m_state.SettingsFile;
    int seconds = StrToInt(LXTimeEdit->text().trimmed());
    ini.WriteInteger(SettingsKey::Info, SettingsKey::Interval_S, seconds);
    m_state.PollInterval = seconds;
    int count = StrToInt(RecTimeEdit->text().trimmed());
    ini.WriteInteger(SettingsKey::Info, SettingsKey::RunTimer, count);
    m_state.RecordCycle = count;
    UpdateRunTimes(m_db, m_state.SelectedID, m_state.PollInterval, m_state.RecordCycle);
}

void TFrmSetParm::ButComClick()
{
    TIniFile& ini = *m_state.SettingsFile;
    int baud = StrToInt(ComBate->currentText().trimmed());
    ini.WriteInteger(SettingsKey::Info, SettingsKey::Bate, baud);
    m_state.BaudSetting = baud;
    QString port = ComPort->currentText().trimmed();
    ini.WriteString(SettingsKey::Info, SettingsKey::Port, port);
    m_state.PortName = port;
    UpdateComPort(m_db, m_state.SelectedID, port, baud);
    // Both components take the new rate; neither changes its port name here.
    m_commB->ClosePort();
    m_commB->SetBaudRate(uint32_t(m_state.BaudSetting));
    m_main.ComM()->SetBaudRate(uint32_t(m_state.BaudSetting));
    m_commB->OpenPort();
}

bool TFrmSetParm::T1EditSetKeyPress(QChar& Key)
{
    if (Key.isDigit() && Key.unicode() < 0x80)
        return true;
    if (Key == QLatin1Char('.') || Key == QChar(8))
        return true;
    Key = QChar(0);
    return false;
}

bool TFrmSetParm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Only typed characters are filtered: keys without one (arrows, Home), focus moves (Tab),
        // Delete and Escape, which type nothing, pass.
        const bool typesNothing = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
                                  key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace ||
                                  key->key() == Qt::Key_Escape;
        if (!key->text().isEmpty() && !typesNothing) {
            for (QChar c : key->text()) {
                if (!T1EditSetKeyPress(c))
                    return true; // discarded
            }
        }
    }
    // Text an input method commits (a Chinese one, full-width digits) is typed text too: only the
    // characters the filter lets through are kept.
    if (event->type() == QEvent::InputMethod) {
        auto* im = static_cast<QInputMethodEvent*>(event);
        if (!im->commitString().isEmpty()) {
            QString kept;
            for (QChar c : im->commitString())
                if (T1EditSetKeyPress(c))
                    kept += c;
            if (kept != im->commitString())
                im->setCommitString(kept, im->replacementStart(), im->replacementLength());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFrmSetParm::ButCanelClick()
{
    close();
}

void TFrmSetParm::done(int result)
{
    if (!m_closed)
        FormClose();
    QDialog::done(result);
}

void TFrmSetParm::FormClose()
{
    m_closed = true;
    m_reconnectB->Stop();
    m_commB->ClosePort();
    m_timerB->stop();
    // The main window's port opens again at the rate this window may have set; a failure is
    // shown, the window closes all the same and the port is tried again every 2 s.
    Guard([this] { m_main.ResumeAfterConfiguration(); });
    Guard([this] { DropTempApparatus(m_db); });
}

} // namespace zeva
