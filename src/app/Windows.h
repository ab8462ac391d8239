// The main window's buttons open the other windows over the same core.
#pragma once

namespace zeva {

class TFrmMain;

// 参数设置 (modal configuration window), 仪表一览 and 参数历史, 温度曲线查询 (modal), 报警记录 (one
// window, not modal).
void WireWindows(TFrmMain& main);

} // namespace zeva
