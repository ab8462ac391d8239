// What both charts do under the mouse: zoom, pan, a rubber band, back home, a crosshair readout
// with a pinned second cursor, the legend below the plot with the values at the cursor; and the
// chart's export and printing.
#pragma once

#include "ChartMath.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QCustomPlot;
class QCPItemStraightLine;
class QCPItemText;
class QCPRange;
class QPrinter;
class QRubberBand;
class QWidget;

namespace zeva {

class TChartTools : public QObject {
    Q_OBJECT
public:
    // How a key reads: its time in seconds (for Δt and °C/min) and its text in the readout.
    struct TTimeScale {
        std::function<double(double key)> seconds;
        std::function<QString(double key)> text;
    };
    TChartTools(QCustomPlot* chart, TTimeScale scale);

    void SetTimeScale(TTimeScale scale) { m_scale = std::move(scale); }
    const TTimeScale& TimeScale() const { return m_scale; }

    // The crosshair at the shown point nearest to `key`, as the pointer puts it; nullopt hides it.
    void ShowCursorAt(std::optional<double> key);
    // The second cursor at the crosshair's point; nullopt removes it.
    void Pin(std::optional<double> key);
    // Back to the ranges before the first zoom or pan.
    void Home();
    // New points: no way home, no cursors.
    void Reset();
    // The ranges set anew by the window: Home goes back to them no more.
    void ForgetHome() { m_home.reset(); }
    // The readout as it stands (empty while no cursor is shown).
    QString ReadoutText() const;
    std::optional<double> CursorKey() const { return m_cursor; }

    // The wheel's step: one notch zooms in to this share of the range.
    static constexpr double WheelZoom = 0.85;

signals:
    // The operator moved or scaled the time axis, or the temperature axis.
    void keyRangeChanged();
    void valueRangeChanged();
    // Before the first zoom or pan, and when Home has put the ranges back.
    void leavingHome();
    void homed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class TZone { None, Plot, KeyAxis, ValueAxis };
    TZone zoneAt(const QPoint& pos) const;
    void keepHome();
    void zoom(const QPoint& pos, double factor, TZone zone);
    void refresh();
    void placeBox();
    // The shown series' point nearest to `key` in each (NaN where a series has none).
    std::vector<double> valuesAt(double key) const;
    std::optional<double> nearestKey(double key) const;
    std::optional<double> keyUnder(const QPoint& pos) const;

    QCustomPlot* m_chart;
    TTimeScale m_scale;
    QCPItemStraightLine* m_cursorLine;
    QCPItemStraightLine* m_pinLine;
    QCPItemText* m_box;
    QRubberBand* m_band = nullptr;
    std::optional<double> m_cursor;
    std::optional<double> m_pin;
    struct THome {
        double keyLower, keyUpper, valueLower, valueUpper;
    };
    std::optional<THome> m_home;
    // A press: where, with which ranges, whether it became a drag or a rubber band.
    struct TPress {
        QPoint at;
        double keyLower, keyUpper, valueLower, valueUpper;
        bool band = false;
        bool moved = false;
    };
    std::optional<TPress> m_press;
};

// Lowest and highest value of the shown series over keys [from, to].
TMinMaxIndex::TExtremes ShownExtremes(QCustomPlot* chart, double from, double to);

// The chart as PNG or PDF at its size on screen, or its visible range as CSV (UTF-8 with a
// byte-order mark; the time as `keyText` gives it, one column per shown series), chosen by the
// file name's suffix; false with the reason in `error`.
bool ExportChart(QCustomPlot* chart, const QString& fileName, const std::function<QString(double)>& keyText,
                 QString* error);
// The chart on the printer's page, scaled to fit it.
void PrintChart(QCustomPlot* chart, QPrinter& printer);
// The buttons' dialogs: the file to export to, the printer to print on.
void ExportChartAsked(QCustomPlot* chart, const std::function<QString(double)>& keyText, QWidget* parent);
void PrintChartAsked(QCustomPlot* chart, QWidget* parent);

} // namespace zeva
