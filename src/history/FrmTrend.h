// TFrmTrend (趋势分析): any readings of any instruments over a chosen range, drawn over their time
// from the sums per hour or minute or from the rows, whichever is the coarsest that still gives a
// bucket per pixel column; the alarm and trip thresholds as dashed lines, the alarms shaded.
#pragma once

#include "Database.h"
#include "Trend.h"

#include <QWidget>

#include <optional>
#include <vector>

class QCPAbstractItem;
class QCPItemRect;
class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace zeva {

class TChartTools;
class TIniFile;

class TFrmTrend : public QWidget {
    Q_OBJECT
public:
    TFrmTrend(TDatabase& db, TIniFile& settings, QWidget* parent = nullptr);

    // A series: an instrument's address and a reading column (0..7: live A..D, black box A..D).
    struct TChoice {
        int address;
        int column;
        bool operator==(const TChoice&) const = default;
    };
    // [Trend] Series "3:AAct,7:ABlack" and back; unknown parts are skipped.
    static std::vector<TChoice> ParseSeries(const QString& text);
    static QString SeriesText(const std::vector<TChoice>& choices);
    // A preset's range in wall seconds (the stored local time read as UTC) at `now`; nullopt for
    // a name that is none.
    static std::optional<std::pair<double, double>> PresetRange(const QString& name, const QDateTime& now);

    std::vector<TChoice> Choices() const;
    void SetChoices(const std::vector<TChoice>& choices);
    // A preset name, or "自定义" with the two fields' times.
    void SetRange(const QString& preset);
    // The instruments again from the registry, and the chart.
    void Reload();
    TTrendLevel Level() const { return m_level; }

    QTreeWidget* SeriesTree = nullptr;
    QComboBox* RangeBox = nullptr;
    QDateTimeEdit* RangeBegin = nullptr;
    QDateTimeEdit* RangeEnd = nullptr;
    QCheckBox* AutoScaleBox = nullptr;
    QPushButton* ExportButton = nullptr;
    QPushButton* PrintButton = nullptr;
    QLabel* LevelLabel = nullptr;
    QCustomPlot* ChartView = nullptr;
    TChartTools& ChartTools() { return *m_tools; }

private:
    void buildControls();
    void fillTree();
    void choicesChanged();
    void rangeChanged();
    // The graphs, thresholds and alarms of the choices over the range, then the readings.
    void redraw();
    // The readings of the visible range at its level, when the level or the range needs it.
    void requery(bool always);
    void fitValueAxis();
    // The level shown and the background fill's progress; once it is done, what it completed.
    void showFill();
    void save();
    QString keyText(double key) const;

    TDatabase& m_db;
    TIniFile& m_settings;
    TChartTools* m_tools = nullptr;
    QTimer* m_requery = nullptr;
    QTimer* m_fillWatch = nullptr;
    bool m_partial = false; // the last read left unsummed rows out
    std::vector<TChoice> m_drawn;
    std::vector<double> m_thresholds;
    std::vector<QCPAbstractItem*> m_items; // thresholds, their labels, alarms
    std::vector<std::pair<QCPItemRect*, TAlarmSpan>> m_alarms;
    TTrendLevel m_level = TTrendLevel::Hour;
    double m_loadedFrom = 0, m_loadedTo = -1;
    bool m_filling = false;
};

} // namespace zeva
