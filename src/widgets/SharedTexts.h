// Window texts that more than one window uses.
#pragma once

#include <QString>

#include <array>

namespace zeva {

// The main window's caption; also the title of the standard error box, which names the program.
inline const QString MainCaption = QStringLiteral("ZEVA-5000S系列智能温控仪通讯软件");

// Title of the program's own message boxes.
inline const QString FriendlyTitle = QStringLiteral("友情提示");

// The eight curves: live A..D, then black box A..D (the live chart's series and the history curves).
inline const std::array<QString, 8> CurveNames{
    QStringLiteral("A相实时温度"),   QStringLiteral("B相实时温度"),   QStringLiteral("C相实时温度"),
    QStringLiteral("D相实时温度"),   QStringLiteral("A相黑匣子温度"), QStringLiteral("B相黑匣子温度"),
    QStringLiteral("C相黑匣子温度"), QStringLiteral("D相黑匣子温度"),
};

} // namespace zeva
