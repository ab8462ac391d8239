// Which window each button of the main window opens, over the main window's core.
#include "Windows.h"

#include "FrmApparatus.h"
#include "FrmDataBase.h"
#include "FrmJournal.h"
#include "FrmMain.h"
#include "FrmSetParm.h"
#include "MonitorCore.h"

namespace zeva {

void WireWindows(TFrmMain& main)
{
    TMonitorCore& core = main.Core();
    main.Openers.configuration = [&main, &core] {
        TFrmSetParm window(core, &main);
        window.exec();
    };
    main.Openers.apparatus = [&main, &core](int listMode) {
        TFrmApparatus window(core.Db(), listMode, &main);
        window.exec();
    };
    main.Openers.historyCurves = [&main, &core] {
        TFrmDataBase window(core.Db(), core.WindowSettings(), &main);
        window.exec();
    };
    main.Openers.journal = [&main, &core] {
        // One window, not modal: shown again and brought forward if it is open already.
        auto* window = main.findChild<TFrmJournal*>(QStringLiteral("FrmJournal"), Qt::FindDirectChildrenOnly);
        if (!window) {
            window = new TFrmJournal(core, &main);
            window->setAttribute(Qt::WA_DeleteOnClose);
        } else {
            window->Reload();
        }
        window->show();
        window->raise();
        window->activateWindow();
    };
}

} // namespace zeva
