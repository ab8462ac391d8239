// The application object, the standard error box and the stop of every window and loop.
#include "Application.h"

#include "ErrorLog.h"
#include "SharedTexts.h"

#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTranslator>


namespace zeva {

namespace {

QPointer<QMessageBox> g_errorBox;
QString g_firstError;
QString g_latestError; // the newest counted error, when it differs from the first
QString g_state; // the present state of what the box says
int g_extraErrors = 0;
bool g_stopping = false;

} // namespace

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

bool InstallQtChineseTexts(const QLocale& system)
{
    QLocale wanted;
    if (system.language() == QLocale::Chinese)
        wanted = system;
    else if (system.language() == QLocale::C)
        wanted = QLocale(QLocale::Chinese, QLocale::China);
    else
        return false;
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Qt has its texts for zh_CN and zh_TW only: Singapore and Malaysia write as the mainland does,
    // Hong Kong and Macao as Taiwan.
    const QLocale written(QLocale::Chinese, wanted.script() == QLocale::TraditionalChineseScript ? QLocale::Taiwan : QLocale::China);
    if (!translator->load(wanted, QStringLiteral("qtbase"), QStringLiteral("_"), dir) &&
        !translator->load(written, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QString ShellQuoted(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:=@%^,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

QString ErrorBoxText(const QString& first, int extra, const QString& latest)
{
    if (extra <= 0)
        return first;
    QString text = first + QStringLiteral("\n(另有 %1 条同类错误)").arg(extra);
    // A different error counted in (rows dropped while the database is locked) is not lost.
    if (!latest.isEmpty() && latest != first)
        text += QStringLiteral("\n最近一条：") + latest;
    return text;
}

namespace {

void refreshErrorBox()
{
    if (g_errorBox)
        g_errorBox->setText(ErrorBoxText(g_firstError, g_extraErrors, g_latestError) + g_state);
}

} // namespace

void SetErrorBoxState(const QString& state)
{
    if (!g_errorBox)
        return;
    g_state = state;
    refreshErrorBox();
}

bool ErrorBoxOpen()
{
    return !g_errorBox.isNull();
}

void ShowErrorBox(const QString& text, const std::function<void()>& onClosed)
{
    LogError(text);
    if (g_stopping)
        return;
    if (g_errorBox) {
        ++g_extraErrors;
        g_latestError = text;
        g_state.clear(); // a state said before this error is no longer the present one
        refreshErrorBox();
        if (onClosed)
            QObject::connect(g_errorBox, &QDialog::finished, g_errorBox, onClosed);
        return;
    }
    // Shown without an event loop of its own: a box per error, each inside the last one's loop,
    // grew the stack without bound, and a timer whose handler raised the error stood still
    // (Qt does not run a timer again while its last tick is still on the stack).
    auto* box = new QMessageBox(QMessageBox::Critical, MainCaption, text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("ErrorBox"));
    box->setWindowModality(Qt::ApplicationModal);
    // Over a window that opens after it (a dialog whose creation failed half way).
    box->setWindowFlags(box->windowFlags() | Qt::WindowStaysOnTopHint);
    g_errorBox = box;
    g_firstError = text;
    g_latestError.clear();
    g_state.clear();
    g_extraErrors = 0;
    QObject::connect(box, &QDialog::finished, box, [box] {
        if (g_errorBox == box)
            g_errorBox = nullptr;
        box->deleteLater();
    });
    if (onClosed)
        QObject::connect(box, &QDialog::finished, box, onClosed);
    box->show();
}

void Guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    }
}

void ShowFriendlyMessage(QWidget* parent, const QString& text, const QString& detail)
{
    if (!detail.isEmpty())
        LogError(text + QLatin1Char(' ') + detail);
    if (g_stopping)
        return;
    QMessageBox box(QMessageBox::Information, FriendlyTitle, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("FriendlyBox"));
    box.setInformativeText(detail);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.exec();
}

bool Stopping()
{
    return g_stopping;
}

void StopApplication(int exitCode)
{
    g_stopping = true;
    // Every nested event loop (a box, a modal window) ends with its dialog; exit() ends them all
    // and keeps any loop opened from now on from running.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            dialog->reject();
    QCoreApplication::exit(exitCode);
}

void ClearStop()
{
    g_stopping = false;
}

} // namespace zeva
