// TLcdDisplay: painting by the display's own algorithm onto an off-screen picture.
#include "LcdDisplay.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace zeva {

using namespace lcd;

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QRect rectOf(const TBox& b)
{
    return QRect(b.x, b.y, b.w, b.h);
}

// Ellipses and polygons are filled and outlined in one colour; an ellipse stays inside its box.
void fillEllipse(QPainter& p, const TBox& b)
{
    if (b.w <= 0 || b.h <= 0)
        return;
    if (b.w <= 2 || b.h <= 2)
        p.fillRect(rectOf(b), p.brush());
    else
        p.drawEllipse(QRect(b.x, b.y, b.w - 1, b.h - 1));
}

} // namespace

TLcdDisplay::TLcdDisplay(QWidget* parent) : QWidget(parent)
{
    // Opaque: the control paints every pixel itself, so Qt erases nothing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    resize(92, 34);
}

void TLcdDisplay::SetValue(const QString& text)
{
    std::string t = text.toStdString();
    if (t == m_value)
        return;
    std::string old = m_value;
    m_value = NormaliseValue(t);
    if (OnChange)
        OnChange(this, QString::fromLatin1(old.c_str()), QString::fromLatin1(m_value.c_str()));
    m_animatePending = true;
    update();
}

TLcdLayout TLcdDisplay::Layout() const
{
    TLcdParams p = m_params;
    p.Width = width();
    p.Height = height();
    return ComputeLayout(p);
}

int64_t TLcdDisplay::elapsedMs() const
{
    return nowMs() - m_paintStart;
}

void TLcdDisplay::paintEvent(QPaintEvent*)
{
    if (!m_isPainting) {
        bool animated = m_animatePending && m_animation != anNone && m_animationDelay > 0;
        if (!animated) {
            m_inPaintEvent = true;
            Paint();
            m_inPaintEvent = false;
        } else if (!m_animationQueued) {
            m_animationQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_animationQueued = false;
                Paint();
            });
        }
    }
    QPainter p(this);
    if (m_screen.size() != size())
        p.fillRect(rect(), ToQColor(m_color));
    p.drawImage(0, 0, m_screen);
}

void TLcdDisplay::present(const QImage& surface)
{
    if (&surface != &m_screen)
        m_screen = surface.copy(); // a deep copy: the painter still draws on the surface
    if (!m_inPaintEvent)
        repaint();
}

void TLcdDisplay::waitMs(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void TLcdDisplay::Paint()
{
    if (m_isPainting)
        return;
    m_isPainting = true;
    m_paintStart = nowMs();

    if (m_screen.size() != size())
        m_screen = QImage(size(), QImage::Format_RGB32);
    QImage offscreen;
    QImage* surface = &m_screen;
    if (m_doubleBuffer) {
        offscreen = QImage(size(), QImage::Format_RGB32);
        if (!offscreen.isNull())
            surface = &offscreen; // otherwise straight onto the control
    }
    surface->fill(ToQColor(m_color));

    TLCDAnimation kind = m_animation;
    if (kind == anRandom)
        kind = TLCDAnimation(std::uniform_int_distribution<int>(anSpiral, anRight)(m_random));

    if (m_value.empty()) {
        drawDigits(*surface, m_value, m_paintedValue, m_animatePending ? kind : anNone,
                   m_animatePending ? m_animationDelay : 0, false);
    } else {
        drawDigits(*surface, m_paintedValue, m_paintedValue, anNone, 0, false);
        int delay = m_animatePending ? std::max<int>(0, m_animationDelay - int(elapsedMs())) : 0;
        drawDigits(*surface, m_value, m_paintedValue, m_animatePending ? kind : anNone, delay, true);
    }
    m_paintedValue = m_value;
    if (surface == &offscreen)
        m_screen = offscreen;
    m_animatePending = false;
    m_isPainting = false;
    m_paintDuration = uint32_t(elapsedMs());
    if (!m_inPaintEvent)
        repaint();
}

void TLcdDisplay::drawDigits(QImage& surface, const std::string& text, const std::string& compare,
                             TLCDAnimation kind, int delayMs, bool changedOnly)
{
    const TLcdLayout l = Layout();
    const int n = std::max(1, m_params.DigitNum);
    auto [digits, points] = SplitValue(text);
    auto [oldDigits, oldPoints] = SplitValue(compare);
    for (std::string* s : {&digits, &points, &oldDigits, &oldPoints})
        AlignRight(*s, n);

    QPainter p(&surface);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor on = ToQColor(m_onColor), off = ToQColor(m_offColor);

    for (int i = 1; i <= n; ++i) {
        std::size_t k = std::size_t(i - 1);
        if (changedOnly && points[k] == oldPoints[k])
            continue;
        const QColor& c = points[k] == '.' ? on : off;
        TBox box = PointBox(l, i);
        if (box.w <= 0)
            continue;
        p.setPen(c);
        p.setBrush(c);
        if (l.dots)
            fillEllipse(p, box);
        else
            p.fillRect(rectOf(box), c);
    }

    const int stepDelay = std::max<int>(0, (delayMs - int(elapsedMs())) / 7);
    int carry = 0;
    const std::array<int, 8>& order = AnimationOrder(kind);
    for (int step = 0; step < 8; ++step) {
        const int64_t stepStart = nowMs();
        const int segment = order[std::size_t(step)];
        std::vector<int> drawn;
        for (int i = 1; i <= n; ++i) {
            std::size_t k = std::size_t(i - 1);
            if (changedOnly && digits[k] == oldDigits[k])
                continue;
            drawSegment(p, l, i, segment, digits[k]);
            drawn.push_back(i);
        }
        if (PaintStepObserver)
            PaintStepObserver(step + 1, segment, drawn, surface);
        if (kind != anNone && stepDelay > 0) {
            present(surface);
            if (step < 7) {
                const int target = stepDelay - carry;
                waitMs(target - int(nowMs() - stepStart));
                carry = std::clamp<int>(int(nowMs() - stepStart) - target, 0, stepDelay);
            }
        }
    }
}

void TLcdDisplay::drawSegment(QPainter& p, const TLcdLayout& l, int cell, int segment, char c)
{
    const bool lit = CharLights(c, segment);
    const QColor color = ToQColor(lit ? m_onColor : m_offColor);
    p.setPen(color);
    p.setBrush(color);
    if (segment == 8) {
        for (const TBox& b : ColonBoxes(l, cell))
            fillEllipse(p, b);
        return;
    }
    const TPlacement s = PlaceSegment(l, cell, segment);
    if (!l.dots) {
        std::array<TPt, 6> hex = BarHexagon(s, l.T);
        QPoint pts[6];
        for (int i = 0; i < 6; ++i)
            pts[i] = QPoint(hex[std::size_t(i)].x, hex[std::size_t(i)].y);
        p.drawPolygon(pts, 6);
        return;
    }
    auto [skipFirst, skipLast] = lit ? std::pair{false, false} : CornersOwnedByNeighbours(c, segment);
    for (const TBox& b : SegmentDots(s, l.T, l.P, skipFirst, skipLast))
        fillEllipse(p, b);
}

} // namespace zeva
