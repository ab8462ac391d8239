// What every window does the same way: named controls, the bold title, handlers run under the
// standard error box, and silenced controls while a window is destroyed.
#pragma once

#include "Application.h"

#include <QFont>
#include <QLabel>
#include <QObject>

#include <functional>

namespace zeva {

// A control whose objectName is its fixed name, so tests find it with findChild.
template <typename W> W* Named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// The large bold title line at the top of a window.
inline QLabel* BigTitle(const QString& text, QWidget* parent, int larger = 8)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(font.pointSize() + larger);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// Connects a signal to a handler that runs under the standard error box, so no exception crosses
// Qt's own frames.
template <typename Sender, typename Signal>
void ConnectGuarded(Sender* sender, Signal signal, QObject* context, std::function<void()> handler)
{
    QObject::connect(sender, signal, context, [handler] { Guard(handler); });
}

// A control's last signals while its window is destroyed (a combo box losing the focus) must not
// reach handlers whose state is already gone.
inline void BlockChildSignals(QObject* window)
{
    for (QObject* child : window->findChildren<QObject*>())
        child->blockSignals(true);
}

} // namespace zeva
