// An axis range set the way every chart of the program sets it.
#pragma once

class QCPAxis;

namespace zeva {

// Two bounds in either order: the smaller becomes the minimum.
void SetAxisRange(QCPAxis* axis, double a, double b);

} // namespace zeva
