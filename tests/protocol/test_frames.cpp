// Byte strings of every request, write, forced output and reply, and their decoding.
#include "Frames.h"
#include "RxBuffer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zeva;

namespace {

std::vector<uint8_t> bytes(const TFrame& f)
{
    return {f.data(), f.data() + f.size};
}

using V = std::vector<uint8_t>;

} // namespace

TEST(Requests, FourBytesEach)
{
    struct Case {
        uint8_t address, command;
        V wire;
    } cases[] = {
        {1, Cmd::Live, {0x01, 0x3F, 0xAA, 0x16}},
        {1, Cmd::BlackBox, {0x01, 0x3F, 0xEE, 0xD2}},
        {1, Cmd::Model, {0x01, 0x3F, 0x01, 0xBF}},
        {1, Cmd::ReadThresholds, {0x01, 0x3F, 0x11, 0xAF}},
        {1, Cmd::ReadCompensation, {0x01, 0x3F, 0x12, 0xAE}},
        {5, Cmd::ReadFanTiming, {0x05, 0x3F, 0x13, 0xA9}},
        {1, Cmd::ReadLink, {0x01, 0x3F, 0x14, 0xAC}},
        {1, Cmd::ClearBlackBox, {0x01, 0x3F, 0x99, 0x27}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bytes(BuildRequest(c.address, c.command)), c.wire) << int(c.command);
    EXPECT_EQ(bytes(BuildBlackBoxClear(1)), (V{0x01, 0x3F, 0x99, 0x27}));
}

TEST(Writes, GroupFrames)
{
    EXPECT_EQ(bytes(BuildThresholdWrite(1, {45, 55, 80, 100, 0, 0, 0})),
              (V{0x01, 0x3F, 0x21, 0x01, 0xC2, 0x02, 0x26, 0x03, 0x20, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0xA6}));
    EXPECT_EQ(bytes(BuildThresholdWrite(1, {25.55, 0, 0, 0, 0, 0, 0})).at(4), 0xFF);
    EXPECT_EQ(bytes(BuildLinkWrite(1, 2, 9600)), (V{0x01, 0x3F, 0x24, 0x02, 0x05, 0x95}));
    EXPECT_EQ(bytes(BuildLinkWrite(1, 2, 300)).at(4), 0x00);
    EXPECT_EQ(bytes(BuildLinkWrite(1, 2, 19200)).at(4), 0x00);
    EXPECT_EQ(bytes(BuildLinkWrite(1, 258, 9600)).at(3), 0x02) << "low eight bits";
    EXPECT_EQ(bytes(BuildFanTimingWrite(1, 10, 30)), (V{0x01, 0x3F, 0x23, 0x0A, 0x1E, 0x75}));
    EXPECT_EQ(bytes(BuildFanTimingWrite(1, 300, 30)).at(3), 0x2C);
    EXPECT_EQ(bytes(BuildFanTimingWrite(1, -1, 30)).at(3), 0xFF);

    TFrame comp = BuildCompensationWrite(3, {1.5, -1.0, 0, 2});
    EXPECT_EQ(bytes(comp), (V{0x03, 0x3F, 0x22, 0x00, 0x0F, 0xFF, 0xF6, 0, 0, 0x00, 0x14, 0x84}));
}

TEST(Writes, EveryFrameSumsToZero)
{
    for (const TFrame& f : {BuildThresholdWrite(200, {1, 2, 3, 4, 5, 6, 7}), BuildCompensationWrite(9, {9, 8, 7, 6}),
                            BuildFanTimingWrite(77, 1, 2), BuildLinkWrite(255, 0, 4800),
                            BuildForceOutput(13, 4, 0xFF)}) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < f.size; ++i)
            sum += f[i];
        EXPECT_EQ(sum % 256, 0u);
    }
}

TEST(ForcedOutput, KindsActionsAndFrame)
{
    EXPECT_EQ(bytes(BuildForceOutput(1, OutputKindOf("风机强制输出"), OutputActionOf("自动"))),
              (V{0x01, 0x3F, 0xDD, 0x00, 0xFF, 0xFF, 0xFF, 0xE6}));
    const uint8_t kinds[] = {0, 1, 2, 3, 4, 4, 4};
    for (std::size_t i = 0; i < OutputKindItems.size(); ++i) {
        EXPECT_EQ(OutputKindOf(OutputKindItems[i]), kinds[i]) << OutputKindItems[i];
        EXPECT_EQ(OutputKindOf(int(i)), kinds[i]);
    }
    EXPECT_EQ(OutputKindOf(-1), 0) << "nothing chosen";
    EXPECT_EQ(OutputKindOf(""), 0);
    EXPECT_EQ(OutputActionOf("继电器吸合"), 0x00);
    EXPECT_EQ(OutputActionOf("手动"), 0x00);
    EXPECT_EQ(OutputActionOf("继电器放开"), 0xFF);
    EXPECT_EQ(OutputActionOf("自动"), 0xFF);
    EXPECT_EQ(OutputActionOf("whatever"), 0x00);
    EXPECT_EQ(bytes(BuildForceOutput(1, 4, 0x00)), (V{0x01, 0x3F, 0xDD, 0x04, 0, 0, 0, 0xDF}));
}

TEST(Replies, BuiltRepliesDecodeBack)
{
    TFrame live = BuildLiveReply(1, {25.3, 25.0, 25.8, 0.0}, 0x01, 0x28);
    EXPECT_EQ(bytes(live), (V{0x01, 0x3F, 0xAA, 0x00, 0xFD, 0x00, 0xFA, 0x01, 0x02, 0x00, 0x00, 0x01, 0x28, 0xF3}));
    EXPECT_EQ(bytes(BuildModelReply(1, 2)), (V{0x01, 0x3F, 0x01, 0x02, 0xBD}));

    TFrame bb = BuildBlackBoxReply(4, {81, 82, 83, 84}, {90.5, 91, 92, 93});
    EXPECT_EQ(bytes(bb), (V{0x04, 0x3F, 0xEE, 0x03, 0x2A, 0x03, 0x34, 0x03, 0x3E, 0x03, 0x48, 0x03, 0x89, 0x03,
                            0x8E, 0x03, 0x98, 0x03, 0xA2, 0x82}))
        << "black box first, then the highest temperatures";
    TBlackBoxReading r = DecodeBlackBox(bb.data());
    EXPECT_EQ(r.address, 4);
    EXPECT_EQ(r.blackBox, (TPhaseTemps{81, 82, 83, 84}));
    EXPECT_EQ(r.highest, (TPhaseTemps{90.5, 91, 92, 93}));

    TFrame th = BuildThresholdFrame(1, Cmd::ReadThresholds, {45, 55, 80, 100, 1, 2, 3.5});
    EXPECT_TRUE(IsReply(th.data(), Cmd::ReadThresholds));
    EXPECT_EQ(DecodeThresholds(th.data()), (TThresholds{45, 55, 80, 100, 1, 2, 3.5}));
    TFrame cp = BuildCompensationFrame(1, Cmd::ReadCompensation, {1, 2, 3, 4});
    EXPECT_EQ(DecodeCompensation(cp.data()), (TCompensation{1, 2, 3, 4}));
    TFrame ft = BuildFanTimingFrame(1, Cmd::ReadFanTiming, 200, 7);
    EXPECT_EQ(DecodeFanTiming(ft.data()).TF, 200);
    EXPECT_EQ(DecodeFanTiming(ft.data()).RUN, 7);
    TFrame ln = BuildLinkFrame(1, Cmd::ReadLink, 9, 7);
    EXPECT_EQ(DecodeLink(ln.data()).address, 9);
    EXPECT_EQ(DecodeLink(ln.data()).baud, 0) << "baud code 7 reads as 0";
}
