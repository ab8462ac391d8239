// Axis ranges.
#include "AxisRange.h"

#include <qcustomplot.h>

#include <algorithm>

namespace zeva {

void SetAxisRange(QCPAxis* axis, double a, double b)
{
    // The chart refuses an empty range and would keep its old one; two equal bounds show as
    // a .. a + 1 instead.
    double lower = std::min(a, b), upper = std::max(a, b);
    if (upper == lower)
        upper = lower + 1;
    axis->setRange(lower, upper);
}

} // namespace zeva
