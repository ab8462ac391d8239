// TLamp: a small rectangle filled with its colour (a status lamp).
#pragma once

#include "Colors.h"

#include <QPainter>
#include <QWidget>

namespace zeva {

class TLamp : public QWidget {
public:
    explicit TLamp(TColor color, QWidget* parent = nullptr) : QWidget(parent), m_color(color)
    {
        setFixedSize(40, 16);
    }
    TColor Color() const { return m_color; }
    // A stale lamp keeps its colour but is drawn grey.
    bool Dimmed() const { return m_dimmed; }
    void SetDimmed(bool dimmed)
    {
        if (dimmed == m_dimmed)
            return;
        m_dimmed = dimmed;
        update();
    }
    void SetColor(TColor c)
    {
        if (c == m_color)
            return;
        m_color = c;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), ToQColor(m_dimmed ? clGray : m_color));
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    TColor m_color;
    bool m_dimmed = false;
};

} // namespace zeva
