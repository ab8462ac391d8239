// The application object with the standard error box.
#include "Application.h"

#include "SharedTexts.h"

#include <QMessageBox>

namespace zeva {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
        return true;
    }
}

void ShowErrorBox(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, MainCaption, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void Guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    }
}

void ShowFriendlyMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Information, FriendlyTitle, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("FriendlyBox"));
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.exec();
}

} // namespace zeva
