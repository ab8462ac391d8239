// Which window each button of the main window opens, over the main window's core.
#include "Windows.h"

#include "FrmApparatus.h"
#include "FrmDataBase.h"
#include "FrmJournal.h"
#include "FrmMain.h"
#include "FrmReport.h"
#include "CentralSettings.h"
#include "FrmSetParm.h"
#include "FrmTrend.h"
#include "MonitorCore.h"

namespace zeva {

namespace {

// One window, not modal: shown again, with what it shows read again, and brought forward if it
// is open already.
template <typename TWindow, typename TMake> void showOne(TFrmMain& main, const QString& name, TMake make)
{
    auto* window = main.findChild<TWindow*>(name, Qt::FindDirectChildrenOnly);
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        window->Reload();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void WireWindows(TFrmMain& main)
{
    TMonitorCore& core = main.Core();
    main.Openers.configuration = [&main, &core] {
        TFrmSetParm window(core, &main);
        window.exec();
    };
    main.Openers.apparatus = [&main, &core](int listMode) {
        TFrmApparatus window(core.Db(), listMode, &main, core.WriteRights());
        window.exec();
    };
    main.Openers.historyCurves = [&main, &core] {
        TFrmDataBase window(core.Db(), core.WindowSettings(), &main);
        window.exec();
    };
    main.Openers.journal = [&main, &core] {
        showOne<TFrmJournal>(main, QStringLiteral("FrmJournal"), [&] { return new TFrmJournal(core, &main); });
    };
    main.Openers.trend = [&main, &core] {
        showOne<TFrmTrend>(main, QStringLiteral("FrmTrend"),
                           [&] { return new TFrmTrend(core.Db(), core.WindowSettings(), &main); });
    };
    main.Openers.report = [&main, &core] {
        const QString path = core.State().DataPath;
        TFrmReport window(path, ReadCentralConfig(core.WindowSettings()).station, path + QStringLiteral("/reports"), &main);
        window.exec();
    };
}

} // namespace zeva
