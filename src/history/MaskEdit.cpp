// TMaskEdit: the masked time box.
#include "MaskEdit.h"

#include "Application.h"

#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

namespace zeva {

TMaskEdit::TMaskEdit(const QString& text, QWidget* parent) : QLineEdit(parent)
{
    setInputMask(QStringLiteral("99:99:99"));
    setText(text);
}

void TMaskEdit::focusInEvent(QFocusEvent* event)
{
    if (!m_refusing)
        m_entered = text();
    QLineEdit::focusInEvent(event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (!hasAcceptableInput())
        refuse();
}

void TMaskEdit::refuse()
{
    if (m_refusing)
        return;
    // Refused after the focus has settled, so the message box does not fight the focus change;
    // the focus comes back when the box is closed (it takes the focus while it is open).
    m_refusing = true;
    QTimer::singleShot(0, this, [this] {
        QPointer<TMaskEdit> self(this);
        ShowErrorBox(InvalidInputMessage, [self] {
            if (!self)
                return;
            self->setFocus();
            self->m_refusing = false;
        });
    });
}

void TMaskEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        setText(m_entered); // abandon the changes
        return;
    }
    // Enter would press the window's default button with a time that is no time.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !hasAcceptableInput()) {
        refuse();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace zeva
