// Answers message boxes for tests.
#include "BoxCatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace zeva::test {

TBoxCatcher::TBoxCatcher()
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            boxes << box->objectName() + QStringLiteral(": ") + box->text();
            titles << box->windowTitle();
            details << box->informativeText();
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
        }
    });
    m_timer.start();
}

} // namespace zeva::test
