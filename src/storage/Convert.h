// Conversions of typed text to numbers and times, with the conversion errors the operator sees.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace zeva {

// "'%s' is not a valid integer value", "... floating point value", "... date and time".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A temperature the displays show (no ERR) lies within these bounds.
inline constexpr int ShownLowest = -30, ShownHighest = 255;

// Decimal with an optional sign, or hexadecimal after $ or 0x; leading blanks allowed.
int StrToInt(const QString& text);
// Decimal with a point, optional sign and exponent; blanks around it allowed.
double StrToFloat(const QString& text);
bool TryStrToFloat(const QString& text, double& value);
// "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm" or a date alone (midnight).
QDateTime StrToDateTime(const QString& text);

// The stored form of a date and time: always "yyyy-MM-dd HH:mm:ss", midnight included.
QString DateTimeText(const QDateTime& when);
// A figure beyond the displays and grids (overview, journal texts, reports): rounded to one
// decimal (no -0), and as text with that decimal always, so 64.0 stands beside 64.8.
double RoundedToOneDecimal(double value);
QString OneDecimal(double value);

inline const QString DateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace zeva
