// TFrmSetParm: the configuration window. Takes the serial port over from the main window, reads
// the parameter group of the tab on view once a second, writes parameter groups with a history
// row, clears the black box, forces outputs and sets the PC's link and timing.
#pragma once

#include "Comm.h"
#include "Database.h"
#include "RxBuffer.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QWidget;

namespace zeva {

class TFrmMain;
class TReconnect;
struct TMainState;

class TFrmSetParm : public QDialog {
    Q_OBJECT
public:
    explicit TFrmSetParm(TFrmMain& main, QWidget* parent = nullptr);
    ~TFrmSetParm() override;

    // The copy of the registry the selectors list.
    const TQueryResult& ADOQCom() const { return m_adoqCom; }
    TComm* CommB() const { return m_commB; }
    QTimer* TimerB() const { return m_timerB; }
    // Reopens CommB every 2 s after a hang-up.
    TReconnect* ReconnectB() const { return m_reconnectB; }
    // Reads in a row that got no reply before the next one went out.
    int UnansweredReads() const { return m_unansweredReads; }
    // The window's receive buffer lives for the whole run, across openings.
    static TRxBuffer& ReceiveBuffer();

    // Handlers, named after control and event.
    void TimerBTimer();
    void CommBReceiveData(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength);
    void DataSourceDataChange();
    void ButT1Click();
    void ButAClick();
    void ButJGClick();
    void ButAddClick();
    void ButClearClick();
    void ButOutClick();
    void ButSetTClick();
    void ButComClick();
    void ButCanelClick();
    // Lets through digits, the point and backspace only.
    static bool T1EditSetKeyPress(QChar& Key);

    // Controls under their fixed names.
    QComboBox* MCapition = nullptr;
    QComboBox* MAddress = nullptr;
    QComboBox* MXL = nullptr;
    QTabWidget* PageCtl = nullptr;
    // "无应答" beside the tabs after 3 unanswered reads in a row; the next reply clears it.
    QLabel* NoReply = nullptr;
    QWidget* Parm1 = nullptr;
    QWidget* Parm2 = nullptr;
    QWidget* Parm3 = nullptr;
    QWidget* Parm4 = nullptr;
    QWidget* ParmOther = nullptr;
    QLineEdit* TGet[7] = {};    // T1EditGet..T7EditGet
    QLineEdit* TSet[7] = {};    // T1EditSet..T7EditSet
    QPushButton* ButT[7] = {};  // ButT1..ButT7
    QLineEdit* AtGet[4] = {};   // ATGet..DTGet
    QLineEdit* AtSet[4] = {};   // ATSet..DTSet
    QPushButton* ButPhase[4] = {}; // ButA..ButD
    QLineEdit* JGGET = nullptr;
    QLineEdit* JGSet = nullptr;
    QPushButton* ButJG = nullptr;
    QLineEdit* YXGet = nullptr;
    QLineEdit* YXSet = nullptr;
    QPushButton* ButYX = nullptr;
    QLineEdit* ADDGet = nullptr;
    QLineEdit* ADDSet = nullptr;
    QPushButton* ButAdd = nullptr;
    QLineEdit* BateGet = nullptr;
    QComboBox* BateSet = nullptr;
    QPushButton* ButBate = nullptr;
    QComboBox* ComPort = nullptr;
    QComboBox* ComBate = nullptr;
    QPushButton* ButCom = nullptr;
    QPushButton* ButClear = nullptr;
    QComboBox* OUTEdit = nullptr;
    QComboBox* OUTTypeEdit = nullptr;
    QPushButton* ButOut = nullptr;
    QLineEdit* LXTimeEdit = nullptr;
    QLineEdit* RecTimeEdit = nullptr;
    QPushButton* ButSetT = nullptr;
    QPushButton* ButCanel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void FormCreate();
    void FormShow();
    void FormClose();
    void selectRow(int row);
    uint8_t busAddress() const;
    void writeHistory();

    TFrmMain& m_main;
    TMainState& m_state;
    TDatabase& m_db;
    TComm* m_commB = nullptr;
    QTimer* m_timerB = nullptr;
    TReconnect* m_reconnectB = nullptr;
    int m_unansweredReads = 0;
    bool m_readOutstanding = false;
    TQueryResult m_adoqCom;
    bool m_shownOnce = false;
    bool m_closed = false;
};

inline const QString SetParmCaption = QStringLiteral("组态参数设置");

// Makes the main window's "参数设置(&P)" button open a new configuration window, modally.
void RegisterConfigurationWindow();

} // namespace zeva
