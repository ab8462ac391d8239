// The application object with the standard error box, and the program's own message box.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace zeva {

// Any std::exception that leaves an event handler is shown in the standard error box with its
// own text; the event loop then goes on and what the handler did before stays done.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard error box: a critical message with the error's own text.
void ShowErrorBox(const QString& text);

// Runs a handler; an exception it raises ends it and is shown in the standard error box. Every
// signal connection goes through this, so no exception crosses Qt's own frames.
void Guard(const std::function<void()>& handler);

// The program's own message: title "友情提示", information icon, OK, kept on top.
void ShowFriendlyMessage(QWidget* parent, const QString& text);

} // namespace zeva
