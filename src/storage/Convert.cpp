// Conversions of typed text.
#include "Convert.h"

#include <climits>
#include <cmath>

namespace zeva {

namespace {

[[noreturn]] void fail(const QString& text, const char* what)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid %2").arg(text, QLatin1String(what)).toStdString());
}

} // namespace

int StrToInt(const QString& text)
{
    int i = 0;
    const int n = int(text.size());
    while (i < n && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        fail(text, "integer value");
    long long v = 0;
    for (; i < n; ++i) {
        int d = QChar(text[i]).digitValue();
        char16_t c = text[i].unicode();
        if (base == 16 && d < 0) {
            if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
        }
        if (d < 0 || d >= base || c > 0x7F)
            fail(text, "integer value");
        v = v * base + d;
        if (v > (base == 16 ? 0xFFFFFFFFLL : (long long)INT_MAX + (negative ? 1 : 0)))
            fail(text, "integer value");
    }
    if (base == 16)
        v = (long long)int32_t(uint32_t(v));
    return int(negative ? -v : v);
}

bool TryStrToFloat(const QString& text, double& value)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (QChar c : t)
        if (!(c.isDigit() && c.unicode() < 0x80) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return false;
    bool ok = false;
    double v = t.toDouble(&ok); // C locale: a point is the separator whatever the desktop says
    if (!ok || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

double StrToFloat(const QString& text)
{
    double v = 0;
    if (!TryStrToFloat(text, v))
        fail(text, "floating point value");
    return v;
}

QDateTime StrToDateTime(const QString& text)
{
    const QString t = text.trimmed();
    for (const char* format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd H:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        QDateTime dt = QDateTime::fromString(t, QLatin1String(format));
        if (dt.isValid())
            return dt;
    }
    fail(text, "date and time");
}

QString DateTimeText(const QDateTime& when)
{
    return when.toString(DateTimeFormat);
}

double RoundedToOneDecimal(double value)
{
    const double r = std::round(value * 10) / 10;
    return r == 0 ? 0.0 : r; // no "-0.0"
}

QString OneDecimal(double value)
{
    return QString::number(RoundedToOneDecimal(value), 'f', 1);
}

} // namespace zeva
