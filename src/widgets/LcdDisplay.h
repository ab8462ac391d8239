// TLcdDisplay: a row of seven-segment digit cells with decimal points and colons, drawn as
// bevelled bars or dot rows, with segment-by-segment animation of a new value.
#pragma once

#include "Colors.h"
#include "LcdLayout.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace zeva {

using lcd::TLCDAnimation;
using TLCDChangeProc = std::function<void(QObject* Sender, const QString& OldValue, const QString& NewValue)>;

class TLcdDisplay : public QWidget {
    Q_OBJECT
public:
    explicit TLcdDisplay(QWidget* parent = nullptr);

    QString Value() const { return QString::fromLatin1(m_value.c_str()); }
    void SetValue(const QString& text);

    int DigitNum() const { return m_params.DigitNum; }
    void SetDigitNum(int v) { assign(m_params.DigitNum, v); }
    int DigitSpacing() const { return m_params.DigitSpacing; }
    void SetDigitSpacing(int v) { assign(m_params.DigitSpacing, v); }
    int SegmentSize() const { return m_params.SegmentSize; }
    void SetSegmentSize(int v) { assign(m_params.SegmentSize, v); }
    int GapX() const { return m_params.GapX; }
    void SetGapX(int v) { assign(m_params.GapX, v); }
    int GapY() const { return m_params.GapY; }
    void SetGapY(int v) { assign(m_params.GapY, v); }
    bool DotDisplay() const { return m_params.DotDisplay; }
    void SetDotDisplay(bool v) { assign(m_params.DotDisplay, v); }
    int DotSpacing() const { return m_params.DotSpacing; }
    void SetDotSpacing(int v) { assign(m_params.DotSpacing, v); }
    TColor OnColor() const { return m_onColor; }
    void SetOnColor(TColor v) { assign(m_onColor, v); }
    TColor OffColor() const { return m_offColor; }
    void SetOffColor(TColor v) { assign(m_offColor, v); }
    TColor Color() const { return m_color; }
    void SetColor(TColor v) { assign(m_color, v); }
    bool DoubleBuffer() const { return m_doubleBuffer; }
    void SetDoubleBuffer(bool v) { assign(m_doubleBuffer, v); }

    TLCDAnimation Animation() const { return m_animation; }
    void SetAnimation(TLCDAnimation v) { m_animation = v; }
    int AnimationDelay() const { return m_animationDelay; }
    void SetAnimationDelay(int v) { m_animationDelay = v; }

    bool IsPainting() const { return m_isPainting; }
    uint32_t PaintDuration() const { return m_paintDuration; }

    TLCDChangeProc OnChange;

    // Draws the whole control by its algorithm. An animated change, which handles pending events
    // between its steps, runs outside Qt's paint event so that every step reaches the screen.
    void Paint();

    // What the control shows: its pixels as of the last drawn step.
    const QImage& Picture() const { return m_screen; }
    lcd::TLcdLayout Layout() const;
    // Called after each of the eight drawing steps of a draw, with the cells drawn in that step and
    // the surface drawn on (for tests and diagnostics).
    std::function<void(int step, int segment, const std::vector<int>& cells, const QImage& surface)>
        PaintStepObserver;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <typename T> void assign(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        update();
    }
    void drawDigits(QImage& surface, const std::string& text, const std::string& compare, TLCDAnimation kind,
                    int delayMs, bool changedOnly);
    void drawSegment(class QPainter& p, const lcd::TLcdLayout& l, int cell, int segment, char c);
    void present(const QImage& surface);
    void waitMs(int ms);
    int64_t elapsedMs() const;

    std::string m_value;
    std::string m_paintedValue;
    bool m_animatePending = false;
    bool m_animationQueued = false;
    bool m_inPaintEvent = false;
    lcd::TLcdParams m_params;
    TColor m_onColor = clLime;
    TColor m_offColor = clBlack;
    TColor m_color = clBlack;
    bool m_doubleBuffer = true;
    TLCDAnimation m_animation = lcd::anNone;
    int m_animationDelay = 0;
    bool m_isPainting = false;
    uint32_t m_paintDuration = 0;
    int64_t m_paintStart = 0;
    QImage m_screen;
    std::mt19937 m_random{std::random_device{}()};
};

} // namespace zeva
