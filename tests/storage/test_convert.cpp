// Conversions of typed text and their error texts.
#include "Convert.h"

#include <gtest/gtest.h>

using namespace zeva;

namespace {

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(Convert, IntegersAsTheOperatorTypesThem)
{
    EXPECT_EQ(StrToInt("7"), 7);
    EXPECT_EQ(StrToInt("  12"), 12);
    EXPECT_EQ(StrToInt("-3"), -3);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(errorOf([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
    EXPECT_EQ(errorOf([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(errorOf([] { StrToInt("12 "); }), "'12 ' is not a valid integer value");
    EXPECT_EQ(errorOf([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
    EXPECT_EQ(errorOf([] { StrToInt("１２"); }), "'１２' is not a valid integer value") << "full-width digits";
}

TEST(Convert, FloatsAndDateTimes)
{
    EXPECT_DOUBLE_EQ(StrToFloat("25.55"), 25.55);
    EXPECT_DOUBLE_EQ(StrToFloat(" -30 "), -30);
    EXPECT_DOUBLE_EQ(StrToFloat("1e2"), 100);
    EXPECT_EQ(errorOf([] { StrToFloat("25,5"); }), "'25,5' is not a valid floating point value");
    EXPECT_EQ(errorOf([] { StrToFloat("inf"); }), "'inf' is not a valid floating point value");
    double v = 0;
    EXPECT_FALSE(TryStrToFloat("", v));

    EXPECT_EQ(DateTimeText(StrToDateTime("2026-12-09 08:05:00")), "2026-12-09 08:05:00");
    EXPECT_EQ(DateTimeText(StrToDateTime("2026-12-09")), "2026-12-09 00:00:00");
    EXPECT_EQ(errorOf([] { StrToDateTime("2026-13-09 08:05:00"); }),
              "'2026-13-09 08:05:00' is not a valid date and time");
}
