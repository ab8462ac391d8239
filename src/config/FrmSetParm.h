// TFrmSetParm: the configuration window over the core's configuration exchange. While it is open
// the exchange holds the serial port and reads the parameter group of the tab on view once a
// second; the window shows the replies, and its buttons write parameter groups, clear the black
// box, force outputs and set the PC's link and timing.
#pragma once

#include "ConfigExchange.h"
#include "Database.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QVBoxLayout;
class QWidget;

namespace zeva {

class TMonitorCore;

class TFrmSetParm : public QDialog {
    Q_OBJECT
public:
    TFrmSetParm(TMonitorCore& core, QWidget* parent);
    ~TFrmSetParm() override;

    // The copy of the registry the selectors list.
    const TQueryResult& ADOQCom() const { return m_adoqCom; }
    // CommB, TimerB and the reads, writes and replies behind the controls.
    TConfigExchange& Exchange() { return *m_exchange; }

    // Handlers, named after control and event.
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
    // The line at the foot when no write group exists on the machine.
    QLabel* RightsLine = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void FormCreate();
    void FormShow();
    void FormClose();
    void buildSelectors(QVBoxLayout* root);
    void buildThresholdTab();
    void buildCompensationTab();
    void buildFanTab();
    void buildLinkTab();
    void buildOtherTab();
    void connectHandlers();
    void showReplies();
    void selectRow(int row);
    uint8_t busAddress() const;
    // What a tick of the exchange asks: the group of the tab on view.
    std::optional<TConfigExchange::TRead> readOnView() const;
    // What the window shows at the press of a write button.
    THistoryRow historyRow() const;
    static QStringList texts(std::initializer_list<QWidget*> boxes);
    // Checks the group's set boxes, asks the operator with the read boxes as the values before,
    // and writes when confirmed; `newAddressField` is the field holding a new bus address.
    void writeGroup(TWriteGroup group, std::initializer_list<QWidget*> setBoxes,
                    std::initializer_list<QWidget*> readBoxes, int newAddressField = -1);
    // Without the write group's membership the buttons that change the instrument are disabled.
    void applyRights();

    TMonitorCore& m_core;
    TConfigExchange* m_exchange = nullptr;
    TQueryResult m_adoqCom;
    bool m_shownOnce = false;
    bool m_closed = false;
};

inline const QString SetParmCaption = QStringLiteral("组态参数设置");

} // namespace zeva
