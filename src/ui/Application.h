// The application object with the standard error box, the program's own message box, and the
// stop of every box and window (what SIGTERM and SIGINT do in a program with windows).
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class QLocale;
class QWidget;

namespace zeva {

// Any std::exception that leaves an event handler is shown in the standard error box with its
// own text; the event loop then goes on and what the handler did before stays done.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (standard buttons, file dialogs) in Chinese, from Qt's translations, when `system`
// is a Chinese locale or no locale at all (C/POSIX, the bare desktop of a plant PC). The default
// locale stays as it is, so dates and numbers keep their forms. True when a translation was loaded.
bool InstallQtChineseTexts(const QLocale& system);

// `text` as a shell reads it back as one word: quoted when it holds more than letters, digits and
// the path's own marks, so that a command the operator is told can be pasted as it stands.
QString ShellQuoted(const QString& text);

// The standard error box: a critical message with the error's own text, application-modal, shown
// without a nested event loop (the call returns at once). Every error also goes to the standard
// error output with its time. While a box is open no other opens: further errors are counted into
// the open box's text as "(另有 N 条同类错误)".
// `onClosed`, when given, runs once the operator has closed the box.
void ShowErrorBox(const QString& text, const std::function<void()>& onClosed = {});
// The text the open box shows with `extra` further errors counted, the newest of them `latest`.
QString ErrorBoxText(const QString& first, int extra, const QString& latest = {});
bool ErrorBoxOpen();
// The last line of the open box: the present state of what it says (waiting, or over). A later
// state replaces it, as does a later error.
void SetErrorBoxState(const QString& state);

// Runs a handler; an exception it raises ends it and is shown in the standard error box. Every
// signal connection goes through this, so no exception crosses Qt's own frames.
void Guard(const std::function<void()>& handler);

// The program's own message: title "友情提示", information icon, OK, kept on top. `detail`, when
// given, is the box's second line (the cause).
void ShowFriendlyMessage(QWidget* parent, const QString& text, const QString& detail = {});

// Closes every box and modal window and ends the event loops (the outermost returns `exitCode`);
// from then on no box opens, errors only reach the standard error output.
void StopApplication(int exitCode);
bool Stopping();
// For a program that runs its event loop again after a stop (tests): boxes open again.
void ClearStop();

} // namespace zeva
