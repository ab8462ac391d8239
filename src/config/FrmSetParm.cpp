// TFrmSetParm's handlers: the registry copy and selection, the replies shown, writes with what the
// window shows, maintenance, link and timing settings; the exchange does the talking.
#include "FrmSetParm.h"

#include "Application.h"
#include "ComboText.h"
#include "ConfirmWrite.h"
#include "Convert.h"
#include "Frames.h"
#include "MonitorCore.h"
#include "ReplyHandling.h"
#include "Statements.h"
#include "WindowSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace zeva {

TFrmSetParm::TFrmSetParm(TMonitorCore& core, QWidget* parent) : QDialog(parent), m_core(core)
{
    setObjectName(QStringLiteral("FrmSetParm"));
    m_exchange = new TConfigExchange(core, this);
    m_exchange->ReadSource = [this] { return readOnView(); };
    buildControls();
    applyRights();
    connectHandlers();
    showReplies();
    FormCreate();
}

TFrmSetParm::~TFrmSetParm()
{
    // A window destroyed without closing still hands the port back.
    if (!m_closed)
        FormClose();
    BlockChildSignals(this);
}

void TFrmSetParm::showReplies()
{
    TConfigExchange* x = m_exchange;
    connect(x, &TConfigExchange::thresholdsRead, this, [this](const TThresholds& t) {
        for (int i = 0; i < 7; ++i)
            TGet[i]->setText(TempText(t[std::size_t(i)]));
    });
    connect(x, &TConfigExchange::compensationRead, this, [this](const TCompensation& c) {
        for (int i = 0; i < 4; ++i)
            AtGet[i]->setText(TempText(c[std::size_t(i)]));
    });
    connect(x, &TConfigExchange::fanTimingRead, this, [this](int tf, int run) {
        JGGET->setText(QString::number(tf));
        YXGet->setText(QString::number(run));
    });
    connect(x, &TConfigExchange::linkRead, this, [this](int address, int baud) {
        ADDGet->setText(QString::number(address));
        BateGet->setText(QString::number(baud));
    });
    connect(x, &TConfigExchange::answeringChanged, NoReply, [this](bool answering) { NoReply->setVisible(!answering); });
    connect(x, &TConfigExchange::errorRaised, this, [](const QString& text) { ShowErrorBox(text); });
}

void TFrmSetParm::FormCreate()
{
    Guard([this] {
        m_adoqCom = m_exchange->OpenRegistryCopy();
        for (m_adoqCom.First(); !m_adoqCom.Eof(); m_adoqCom.Next()) {
            MCapition->addItem(m_adoqCom.FieldAsString(Column::ApparatusName));
            MAddress->addItem(m_adoqCom.FieldAsString(Column::ApparatusAddress));
            MXL->addItem(m_adoqCom.FieldAsString(Column::ApparatusType));
        }
        selectRow(0);
        m_exchange->StoreHighest();
    });
    const TMainState& s = m_core.State();
    LXTimeEdit->setText(QString::number(s.PollInterval));
    RecTimeEdit->setText(QString::number(s.RecordCycle));
    SetComboText(ComPort, s.PortName);
    SetComboText(ComBate, QString::number(s.BaudSetting));
    m_exchange->Open();
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
    // The core's polling stopped when the exchange took the port over.
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
        m_core.SelectInstrument(0, 0, {}, {});
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
    // What the read boxes show belongs to the instrument chosen before: a write's question would
    // give it as this one's values.
    if (m_core.State().SelectedID != m_adoqCom.FieldAsInteger(Column::ID)) {
        for (QLineEdit* box : TGet)
            box->clear();
        for (QLineEdit* box : AtGet)
            box->clear();
        for (QLineEdit* box : {JGGET, YXGet, ADDGet, BateGet})
            box->clear();
    }
    m_core.SelectInstrument(int(m_adoqCom.FieldAsInteger(Column::ApparatusAddress)), m_adoqCom.FieldAsInteger(Column::ID),
                            m_adoqCom.FieldAsString(Column::ApparatusType), m_adoqCom.FieldAsString(Column::Implication));
}

uint8_t TFrmSetParm::busAddress() const
{
    return uint8_t(StrToInt(MAddress->currentText().trimmed()) & 0xFF);
}

std::optional<TConfigExchange::TRead> TFrmSetParm::readOnView() const
{
    static constexpr uint8_t commands[5] = {Cmd::ReadThresholds, Cmd::ReadCompensation, Cmd::ReadFanTiming,
                                            Cmd::ReadLink, Cmd::Model};
    if (!isVisible())
        return std::nullopt; // no tab is on view
    const int tab = PageCtl->currentIndex();
    if (tab < 0 || tab > 4)
        return std::nullopt;
    try {
        return TConfigExchange::TRead{busAddress(), commands[tab]};
    } catch (const EConvertError&) {
        return std::nullopt; // no usable address (no enabled instrument): nothing to ask
    }
}

// ---- parameter writes ----

QStringList TFrmSetParm::texts(std::initializer_list<QWidget*> boxes)
{
    QStringList t;
    for (QWidget* box : boxes) {
        auto* combo = qobject_cast<QComboBox*>(box);
        t << (combo ? combo->currentText() : static_cast<QLineEdit*>(box)->text()).trimmed();
    }
    return t;
}

void TFrmSetParm::writeGroup(TWriteGroup group, std::initializer_list<QWidget*> setBoxes,
                             std::initializer_list<QWidget*> readBoxes, int newAddressField)
{
    const uint8_t address = busAddress();
    std::vector<double> values;
    try {
        values = ParseGroup(group, texts(setBoxes));
    } catch (const EWriteRefused& e) {
        // The box at fault takes the focus, for the operator to mend it.
        (*(setBoxes.begin() + e.field))->setFocus(Qt::OtherFocusReason);
        throw;
    } catch (const EConvertError&) {
        const QStringList typed = texts(setBoxes);
        for (int i = 0; i < typed.size(); ++i) {
            double v = 0;
            if (!TryStrToFloat(typed[i], v)) {
                (*(setBoxes.begin() + i))->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
        throw;
    }
    const TReviewContext context =
        m_exchange->ReviewContext(address, newAddressField < 0 ? -1 : int(values[std::size_t(newAddressField)]));
    const TWriteReview review = ReviewWrite(group, texts(readBoxes), values, context);
    if (TFrmConfirmWrite::Ask(review, this))
        m_exchange->Write(group, address, values, historyRow(), review);
}

void TFrmSetParm::ButT1Click()
{
    writeGroup(TWriteGroup::Thresholds, {TSet[0], TSet[1], TSet[2], TSet[3], TSet[4], TSet[5], TSet[6]},
               {TGet[0], TGet[1], TGet[2], TGet[3], TGet[4], TGet[5], TGet[6]});
}

void TFrmSetParm::ButAClick()
{
    writeGroup(TWriteGroup::Compensation, {AtSet[0], AtSet[1], AtSet[2], AtSet[3]},
               {AtGet[0], AtGet[1], AtGet[2], AtGet[3]});
}

void TFrmSetParm::ButJGClick()
{
    writeGroup(TWriteGroup::FanTiming, {JGSet, YXSet}, {JGGET, YXGet});
}

void TFrmSetParm::ButAddClick()
{
    writeGroup(TWriteGroup::Link, {ADDSet, BateSet}, {ADDGet, BateGet}, 0);
}

THistoryRow TFrmSetParm::historyRow() const
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
    row.ApparatusName = MCapition->currentText().trimmed();
    row.ApparatusAddress = whole(ADDSet->text());
    row.ApparatusBate = whole(BateSet->currentText());
    row.ApparatusType = MXL->currentText().trimmed();
    for (int i = 0; i < 7; ++i)
        row.T[std::size_t(i)] = number(TSet[i]->text());
    for (int i = 0; i < 4; ++i)
        row.Atone[std::size_t(i)] = number(AtSet[i]->text());
    row.TF = whole(JGSet->text());
    row.RUN = whole(YXSet->text());
    return row;
}

// ---- maintenance and link settings ----

void TFrmSetParm::ButClearClick()
{
    const uint8_t address = busAddress();
    const TWriteReview review = ReviewBlackBoxClear(m_exchange->ReviewContext(address));
    if (TFrmConfirmWrite::Ask(review, this))
        m_exchange->ClearBlackBox(address, review);
}

void TFrmSetParm::ButOutClick()
{
    const uint8_t address = busAddress();
    const QString output = OUTEdit->currentText().trimmed();
    const QString action = OUTTypeEdit->currentText().trimmed();
    const TWriteReview review = ReviewForceOutput(output, action, m_exchange->ReviewContext(address));
    if (TFrmConfirmWrite::Ask(review, this))
        m_exchange->ForceOutput(address, output, action, review);
}

void TFrmSetParm::ButSetTClick()
{
    // Each value reaches Data.ini before memory; a failure stops the rest.
    m_core.SetPollInterval(StrToInt(LXTimeEdit->text().trimmed()));
    m_core.SetRecordCycle(StrToInt(RecTimeEdit->text().trimmed()));
    m_exchange->StoreRunTimes();
}

void TFrmSetParm::ButComClick()
{
    const int baud = StrToInt(ComBate->currentText().trimmed());
    m_core.SetBaudSetting(baud);
    const QString port = ComPort->currentText().trimmed();
    m_core.SetPortName(port);
    m_exchange->ApplyLinkSettings(port, baud);
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

void TFrmSetParm::keyPressEvent(QKeyEvent* event)
{
    // The window has no default button: Enter typed into a box must not press whichever button
    // the dialog would pick (the first write button). A focused button takes Enter itself.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !qobject_cast<QPushButton*>(QApplication::focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
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
    // The core's port opens again at the rate this window may have set; a failure is shown, the
    // window closes all the same and the port is tried again every 2 s.
    m_closed = true;
    m_exchange->Close();
}

} // namespace zeva
