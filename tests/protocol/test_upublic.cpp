// Checksum, value encodings, model and baud tables.
#include "UPublic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace zeva;

TEST(FrameChecksum, WorkedExamplesAndZeroSum)
{
    const uint8_t live[] = {0x01, 0x3F, 0xAA};
    const uint8_t black[] = {0x01, 0x3F, 0xEE};
    const uint8_t wraps[] = {0x80, 0x40, 0x40};
    EXPECT_EQ(FrameChecksum(live, 3), 0x16);
    EXPECT_EQ(FrameChecksum(black, 3), 0xD2);
    EXPECT_EQ(FrameChecksum(wraps, 3), 0x00);
    const uint8_t longer[] = {0x01, 0x3F, 0xAA, 0x99, 0x55, 0xFF};
    EXPECT_EQ(FrameChecksum(longer, 3), 0x16) << "positions beyond the count are ignored";
    const uint8_t single[] = {0x01};
    EXPECT_EQ(FrameChecksum(single, 1), 0xFF);
}

TEST(DecodeTemp, UnsignedTenths)
{
    EXPECT_DOUBLE_EQ(DecodeTemp(0x00, 0xFD), 25.3);
    EXPECT_DOUBLE_EQ(DecodeTemp(0x09, 0xF6), 255.0);
    EXPECT_DOUBLE_EQ(DecodeTemp(0x09, 0xF7), 255.1);
    EXPECT_DOUBLE_EQ(DecodeTemp(0xFF, 0xFF), 6553.5);
    EXPECT_DOUBLE_EQ(DecodeTemp(0xFE, 0xD4), 6523.6) << "never negative";
    EXPECT_DOUBLE_EQ(DecodeTemp(0x00, 0xFA), 25.0);
    EXPECT_DOUBLE_EQ(DecodeTemp(0x01, 0x04), 26.0);
}

TEST(EncodeTemp, TruncatesAndWraps)
{
    EXPECT_EQ(EncodeTemp(25.3), (TTempBytes{0x00, 0xFD}));
    EXPECT_EQ(EncodeTemp(25.36), (TTempBytes{0x00, 0xFD})) << "truncated, not rounded";
    EXPECT_EQ(EncodeTemp(25.55), (TTempBytes{0x00, 0xFF}));
    EXPECT_EQ(EncodeTemp(-30.0), (TTempBytes{0xFE, 0xD4}));
    EXPECT_EQ(EncodeTemp(-0.05), (TTempBytes{0x00, 0x00})) << "toward zero";
    EXPECT_EQ(EncodeTemp(6553.6), (TTempBytes{0x00, 0x00})) << "upper bits lost";
    EXPECT_EQ(EncodeTemp(45), (TTempBytes{0x01, 0xC2}));
    EXPECT_EQ(EncodeTemp(std::nan("")), (TTempBytes{0x00, 0x00}));
}

TEST(EncodeTemp, EveryTenthFromMinus1000To6553_5IsExact)
{
    // Values arrive both as computed doubles and as parsed operator text; both must keep their tenth.
    char text[32];
    for (int tenths = -10000; tenths <= 65535; ++tenths) {
        uint16_t want = uint16_t(tenths & 0xFFFF);
        double computed = tenths / 10.0;
        std::snprintf(text, sizeof text, "%d.%d", tenths / 10, std::abs(tenths % 10));
        if (tenths < 0 && tenths > -10)
            std::snprintf(text, sizeof text, "-0.%d", -tenths);
        double parsed = std::strtod(text, nullptr);
        for (double v : {computed, parsed}) {
            TTempBytes b = EncodeTemp(v);
            ASSERT_EQ(uint16_t(b.high << 8 | b.low), want) << text;
        }
    }
}

TEST(HexStrToInt, UpperCaseOnly)
{
    EXPECT_EQ(HexStrToInt("3F"), 63);
    EXPECT_EQ(HexStrToInt("AA"), 170);
    EXPECT_EQ(HexStrToInt("aa"), 0);
    EXPECT_EQ(HexStrToInt(""), 0);
    EXPECT_EQ(HexStrToInt("1x2"), 0x12) << "other characters are skipped";
}

TEST(GetTypeAndCapition, TableAndUnknown)
{
    EXPECT_EQ(GetTypeAndCapition(2), (TTypeAndCapition{"ZEVA5000-S", "ZEVA5000带RS485通讯接口"}));
    EXPECT_EQ(GetTypeAndCapition(0), (TTypeAndCapition{"ZEVA5000", "ZEVA5000基本型"}));
    EXPECT_EQ(GetTypeAndCapition(7), (TTypeAndCapition{"ZEVA5001-A", "ZEVA5001带电流变送输出接口"}));
    EXPECT_EQ(GetTypeAndCapition(11), (TTypeAndCapition{"ZEVA5002-A", "ZEVA5002带电流变送输出接口"}));
    EXPECT_EQ(GetTypeAndCapition(12), TTypeAndCapition{});
    EXPECT_EQ(GetTypeAndCapition(-1), TTypeAndCapition{});
    EXPECT_EQ(GetTypeAndCapition(255), TTypeAndCapition{});
}

TEST(BaudCodes, BothDirections)
{
    const int rates[] = {300, 600, 1200, 2400, 4800, 9600};
    for (uint8_t code = 0; code < 6; ++code) {
        EXPECT_EQ(BaudFromIndex(code), rates[code]);
        EXPECT_EQ(IndexFromBaud(rates[code]), code);
    }
    EXPECT_EQ(BaudFromIndex(6), 0);
    EXPECT_EQ(BaudFromIndex(255), 0);
    EXPECT_EQ(IndexFromBaud(1000), 0);
    EXPECT_EQ(IndexFromBaud(19200), 0);
}

TEST(TempToText, ShortestWithPoint)
{
    EXPECT_EQ(TempToText(25.3), "25.3");
    EXPECT_EQ(TempToText(25.0), "25");
    EXPECT_EQ(TempToText(0.0), "0");
    EXPECT_EQ(TempToText(-0.0), "0");
    EXPECT_EQ(TempToText(6553.5), "6553.5");
    EXPECT_EQ(TempToText(25.55), "25.55");
    EXPECT_EQ(TempToText(DecodeTemp(0x09, 0xF7)), "255.1");
    EXPECT_EQ(TempToText(0.1 + 0.2), "0.3") << "binary noise is not shown";
    EXPECT_EQ(TempToText(-12.5), "-12.5");
}
