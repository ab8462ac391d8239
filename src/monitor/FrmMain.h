// TFrmMain: the main window over the monitoring core. Start-up, instrument selection, the live
// display, the trend chart, the overview and the alarm banner; the core polls and records.
#pragma once

#include "ChartFeed.h"
#include "ChartTools.h"
#include "MonitorCore.h"
#include "SharedTexts.h"

#include <QFont>
#include <QWidget>

#include <array>
#include <map>

#include <functional>
#include <memory>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QCustomPlot;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTimer;

namespace zeva {

class TLcdDisplay;
class TLamp;
class TReconnect;

class TFrmMain : public QWidget {
    Q_OBJECT
public:
    // Over the program's core; without one, over a core of its own.
    explicit TFrmMain(TMonitorCore& core, QWidget* parent = nullptr);
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // The windows its buttons open (the program wires them); a window whose opener is not set
    // opens nothing.
    struct TOpeners {
        std::function<void()> configuration; // 参数设置
        std::function<void(int listMode)> apparatus; // 仪表一览 (1), 参数历史 (2)
        std::function<void()> historyCurves; // 温度曲线查询
        std::function<void()> journal;       // 报警记录 (not modal)
        std::function<void()> trend;         // 趋势分析 (not modal)
        std::function<void()> report;        // 报表
    };
    TOpeners Openers;

    TMonitorCore& Core() { return *m_core; }
    const TChartFeed& ChartFeed() const { return m_feed; }
    // True once the start-up sequence has run to its end.
    bool StartedUp() const { return m_startedUp; }
    // The program's exit code: non-zero when the port (2) or the database (3) could not be opened.
    int ExitCode() const { return m_exitCode; }
    // Reads the count of unacknowledged alarms again and shows or hides the banner.
    void RefreshAlarmBanner();
    // True while the displays and lamps are drawn as stale.
    bool ShowsStale() const { return m_stale; }

    // Handlers, named after control and event.
    void FormShow();
    void ComAddressChange();
    void MCapitionChange();
    void Button3Click();
    void Button4Click();
    void BXClick();
    void BYClick();
    void ButSetPClick();
    void Button1Click();
    void PramSetHistClick();
    void ButSClick();
    void ButCanelClick();
    void HealthTimerTimer();
    void FollowLatestClick();
    void AutoScaleBoxClick();
    void ButAlarmsClick();
    // Silences the repeated beep for the alarms standing now (they stay unacknowledged).
    void MuteButtonClick();
    // Beeps sounded for alarms since the start (the first beep of a new alarm and the repeats).
    int BeepCount() const { return m_beeps; }
    // Selects the instrument of that overview row as choosing its address would.
    void OverviewDoubleClick(int row);
    static constexpr int OverviewColumns = 10;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TStartup;
    void listen();
    void FormCreate();
    void FormClose();
    void buildControls();
    void buildLeftColumn(QBoxLayout* body);
    void buildCentre(QBoxLayout* body);
    void buildDisplays();
    void buildOverview(QSplitter* split);
    void buildShiftRow(QBoxLayout* centre);
    void buildStatusPanel(QBoxLayout* body);
    void connectHandlers();
    void placePanel2();
    void showStatus(const struct TStatusView& view);
    void showReply(const TChunkOutcome& out);
    void setStale(bool stale);
    std::array<TLamp*, 8> lamps() const;
    bool staleNow() const;
    // The chart and the box show the core's value; the operator's change goes through the core.
    void showFollow();
    void setFollow(bool follow);
    void setAutoScale(bool autoScale);
    // With 自动纵轴, the temperature axis holds the points in view.
    void fitValueAxis();
    void fillOverview();
    void refreshOverview();
    void refreshCentral();
    void alert(const QStringList& texts);
    void beep();
    void paintBanner();

    TMonitorCore* m_core = nullptr;
    // The enabled instruments, searched by the two selection handlers.
    TQueryResult m_adoRecord;
    bool m_shown = false;
    bool m_startedUp = false;
    bool m_taskbarHidden = false;
    int m_exitCode = 0;
    QTimer* m_healthTimer = nullptr;
    int m_shownAddress = -1; // the instrument the displays and lamps show
    bool m_stale = false;
    QTimer* m_blinkTimer = nullptr;
    bool m_bannerBright = true;
    int m_bannerPriority = 0;       // the colour of the most urgent alarm it names
    std::map<int, int> m_standing;  // the overview's colours: most urgent standing priority per address
    QTimer* m_beepTimer = nullptr;  // repeats the beep while an alarm of priority 高 or above waits
    int m_beeps = 0;
    QFont m_overviewLarge;
    TChartFeed m_feed{nullptr};
    TChartTools* m_tools = nullptr;
    bool m_followAtHome = false;
    bool m_autoScaleAtHome = false;

public:
    // Controls under their fixed names (objectName is the same).
    QLabel* TitleLabel = nullptr;
    QComboBox* ComAddress = nullptr;
    QComboBox* MCapition = nullptr;
    QLineEdit* EditType = nullptr;
    QPushButton* ButSetP = nullptr;
    QPushButton* PramSetHist = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* ButS = nullptr;
    QLineEdit* X1 = nullptr;
    QLineEdit* X2 = nullptr;
    QPushButton* BX = nullptr;
    QLineEdit* Y1 = nullptr;
    QLineEdit* Y2 = nullptr;
    QPushButton* BY = nullptr;
    QCustomPlot* ChartView = nullptr;
    QFrame* Panel2 = nullptr;
    TLcdDisplay* LCDATP = nullptr;
    TLcdDisplay* LCDBTP = nullptr;
    TLcdDisplay* LCDCTP = nullptr;
    QLineEdit* ATP = nullptr;
    QLineEdit* BTP = nullptr;
    QLineEdit* CTP = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QFrame* Panel1 = nullptr;
    TLamp* AShape = nullptr;
    TLamp* BShape = nullptr;
    TLamp* CShape = nullptr;
    TLamp* DShape = nullptr;
    QLabel* GShape = nullptr;
    TLamp* D1Shape = nullptr;
    TLamp* D2Shape = nullptr;
    TLamp* D3Shape = nullptr;
    QLabel* D4Shape = nullptr;
    QLabel* D5Shape = nullptr;
    TLamp* D6Shape = nullptr;
    QPushButton* ButCanel = nullptr;
    // Beyond the fixed controls: health, stale marks, following the newest point.
    QTableWidget* Overview = nullptr; // 仪表总览
    QLabel* ShownAddress = nullptr;   // "显示：地址 N" beside the displays
    QLabel* LinkState = nullptr;
    QLabel* CentralState = nullptr; // "中心库：…", only when Data.ini names a central database
    QLabel* StaleDisplays = nullptr;
    QLabel* StaleLamps = nullptr;
    QCheckBox* FollowLatest = nullptr;
    QCheckBox* AutoScaleBox = nullptr; // 自动纵轴
    QPushButton* ExportButton = nullptr;
    QPushButton* PrintButton = nullptr;
    TChartTools& ChartTools() { return *m_tools; }
    QLabel* AlarmBanner = nullptr;     // the most urgent alarm and the counts, blinking
    QPushButton* MuteButton = nullptr; // 静音(&M)
    QPushButton* ButAlarms = nullptr;  // 报警记录(&A)
    QPushButton* ButTrend = nullptr;   // 趋势分析(&T)
    QPushButton* ButReport = nullptr;  // 报表(&R)
};

} // namespace zeva
