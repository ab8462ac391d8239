// Shared routines of the instrument protocol.
#include "UPublic.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace zeva {

namespace {

struct ModelRow {
    const char* typeName;
    const char* capition;
};

// Number = series * 4 + variant (basic, RS-232, RS-485, current-loop output).
constexpr std::array<ModelRow, ModelCount> ModelTable{{
    {"ZEVA5000", "ZEVA5000基本型"},
    {"ZEVA5000-R", "ZEVA5000带RS232通讯接口"},
    {"ZEVA5000-S", "ZEVA5000带RS485通讯接口"},
    {"ZEVA5000-A", "ZEVA5000带电流变送输出接口"},
    {"ZEVA5001", "ZEVA5001基本型"},
    {"ZEVA5001-R", "ZEVA5001带RS232通讯接口"},
    {"ZEVA5001-S", "ZEVA5001带RS485通讯接口"},
    {"ZEVA5001-A", "ZEVA5001带电流变送输出接口"},
    {"ZEVA5002", "ZEVA5002基本型"},
    {"ZEVA5002-R", "ZEVA5002带RS232通讯接口"},
    {"ZEVA5002-S", "ZEVA5002带RS485通讯接口"},
    {"ZEVA5002-A", "ZEVA5002带电流变送输出接口"},
}};

constexpr std::array<int, 6> BaudTable{300, 600, 1200, 2400, 4800, 9600};

} // namespace

int64_t TenthsOf(double value)
{
    if (!std::isfinite(value))
        return 0;
    double scaled = value * 10.0;
    // value * 10 in binary can land a hair below a whole number of tenths (0.3 * 10 = 2.9999...);
    // the operator typed a tenth, so a result within rounding noise of the next integer counts as it.
    double nearest = std::round(scaled);
    double tolerance = std::fabs(scaled) * 4 * std::numeric_limits<double>::epsilon();
    if (std::fabs(scaled - nearest) <= tolerance)
        scaled = nearest;
    scaled = std::trunc(scaled);
    constexpr double limit = 9.0e18;
    if (scaled > limit)
        scaled = limit;
    if (scaled < -limit)
        scaled = -limit;
    return int64_t(scaled);
}

TTempBytes EncodeTemp(double value)
{
    auto bits = uint16_t(uint64_t(TenthsOf(value)) & 0xFFFF);
    return {uint8_t(bits >> 8), uint8_t(bits & 0xFF)};
}

TTypeAndCapition GetTypeAndCapition(int modelNumber)
{
    if (modelNumber < 0 || modelNumber >= ModelCount)
        return {};
    const ModelRow& row = ModelTable[std::size_t(modelNumber)];
    return {row.typeName, row.capition};
}

int BaudFromIndex(uint8_t code)
{
    return code < BaudTable.size() ? BaudTable[code] : 0;
}

uint8_t IndexFromBaud(int baud)
{
    for (std::size_t i = 0; i < BaudTable.size(); ++i)
        if (BaudTable[i] == baud)
            return uint8_t(i);
    return 0;
}

std::string TempToText(double value)
{
    if (value == 0)
        value = 0; // no "-0"
    char text[64];
    // 15 significant digits hide binary noise (25.55 stays 25.55) while keeping every tenth.
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string out(text, result.ptr);
    // general format may choose exponent form for large or tiny values; keep it, it is still a number.
    return out;
}

} // namespace zeva
