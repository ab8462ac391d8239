// TMarkStrip: a row of small coloured squares, one per lamp, for a table cell.
#pragma once

#include "Colors.h"

#include <QPainter>
#include <QWidget>

#include <vector>

namespace zeva {

class TMarkStrip : public QWidget {
public:
    explicit TMarkStrip(QWidget* parent = nullptr) : QWidget(parent) { setFocusPolicy(Qt::NoFocus); }
    const std::vector<TColor>& Colors() const { return m_colors; }
    bool Dimmed() const { return m_dimmed; }
    void Set(const std::vector<TColor>& colors, bool dimmed)
    {
        if (colors == m_colors && dimmed == m_dimmed)
            return;
        m_colors = colors;
        m_dimmed = dimmed;
        update();
    }
    QSize sizeHint() const override { return {int(m_colors.size()) * (Side + Gap) + Gap, Side + 2 * Gap}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int top = (height() - Side) / 2;
        for (std::size_t i = 0; i < m_colors.size(); ++i) {
            QRect r(Gap + int(i) * (Side + Gap), top, Side, Side);
            p.fillRect(r, ToQColor(m_dimmed ? clGray : m_colors[i]));
            p.setPen(Qt::black);
            p.drawRect(r.adjusted(0, 0, -1, -1));
        }
    }

private:
    static constexpr int Side = 12;
    static constexpr int Gap = 3;
    std::vector<TColor> m_colors;
    bool m_dimmed = false;
};

} // namespace zeva
