// Acceptance of received chunks in the windows' 30-byte receive buffers.
#include "Frames.h"
#include "RxBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <random>
#include <vector>

using namespace zeva;

namespace {

using V = std::vector<uint8_t>;

const V LiveChunk{0x01, 0x3F, 0xAA, 0x00, 0xFD, 0x00, 0xFA, 0x01, 0x02, 0x00, 0x00, 0x01, 0x28, 0xF3};

TMonitorReply feed(TRxBuffer& rx, const V& chunk)
{
    rx.Overlay(chunk.data(), chunk.size());
    return AcceptMonitorReply(rx);
}

} // namespace

TEST(MainAcceptance, LiveReplyDecoded)
{
    TRxBuffer rx;
    ASSERT_EQ(feed(rx, LiveChunk), TMonitorReply::Live);
    TLiveReading r = DecodeLive(rx.data());
    EXPECT_EQ(r.address, 1);
    EXPECT_EQ(r.temps, (TPhaseTemps{25.3, 25.0, 25.8, 0.0}));
    EXPECT_EQ(r.PhaseStatus, 0x01);
    EXPECT_EQ(r.OutputStatus, 0x28);
}

TEST(MainAcceptance, BadChecksumWrongMarkerAndUnknownCommand)
{
    TRxBuffer rx;
    V bad = LiveChunk;
    bad.back() ^= 1;
    EXPECT_EQ(feed(rx, bad), TMonitorReply::Unrecognised) << "marker right: recording still runs";
    V marker = LiveChunk;
    marker[1] = 0x40;
    EXPECT_EQ(feed(rx, marker), TMonitorReply::Ignored);
    EXPECT_EQ(feed(rx, V{0x01, 0x3F, 0x11, 0xAF}), TMonitorReply::Unrecognised);
}

TEST(MainAcceptance, ModelReplyAndJoinedReplies)
{
    TRxBuffer rx;
    ASSERT_EQ(feed(rx, V{0x01, 0x3F, 0x01, 0x02, 0xBD}), TMonitorReply::Model);
    TModelReading m = DecodeModel(rx.data());
    EXPECT_EQ(m.modelNumber, 2);
    EXPECT_EQ(m.model.TypeName, "ZEVA5000-S");

    V joined{0x01, 0x3F, 0x01, 0x02, 0xBD};
    joined.insert(joined.end(), LiveChunk.begin(), LiveChunk.end());
    EXPECT_EQ(feed(rx, joined), TMonitorReply::Model) << "two replies in one read: the first alone counts";
}

TEST(MainAcceptance, LeftoverBytesOfEarlierChunks)
{
    TRxBuffer rx;
    TFrame bb = BuildBlackBoxReply(2, {81, 82, 83, 84}, {90, 91, 92, 93});
    rx.Overlay(bb.data(), bb.size);
    ASSERT_EQ(AcceptMonitorReply(rx), TMonitorReply::BlackBox);

    // A short chunk is examined together with positions 4..29 of the black-box reply, but a
    // leftover tail never completes a reply: only the marker counts (the recording step runs).
    V head{0x02, 0x3F, 0xEE, bb[3]};
    EXPECT_TRUE(IsReply(rx.data(), Cmd::BlackBox)) << "before: the old reply still passes its checksum";
    EXPECT_EQ(feed(rx, head), TMonitorReply::Unrecognised);
    EXPECT_TRUE(IsReply(rx.data(), Cmd::BlackBox)) << "head and tail together pass the checksum";
    EXPECT_EQ(rx[19], bb[19]) << "the buffer is never cleared";

    // The head of instrument 2's split live reply over the tail of instrument 1's black-box
    // reply: the mix passes the checksum, and phases C and D would be instrument 1's.
    TFrame two = BuildLiveReply(2, {52.8, 59, 0, 0}, 0, 0);
    const V part(two.data(), two.data() + 8);
    int mixes = 0;
    for (int tenths = 0; tenths < 256; ++tenths) { // instrument 1's reading decides the tail's bytes
        TRxBuffer mixed;
        TFrame one = BuildBlackBoxReply(1, {10, 20, 30, double(tenths) / 10}, {50, 60, 70, 80});
        mixed.Overlay(one.data(), one.size);
        feed(mixed, part);
        if (!IsReply(mixed.data(), Cmd::Live))
            continue;
        ++mixes;
        EXPECT_EQ(AcceptMonitorReply(mixed), TMonitorReply::Unrecognised) << "never a mixed live reply";
    }
    EXPECT_GT(mixes, 0) << "such mixes do pass the checksum";

    // A split live reply: each part starts at position 0 and fails.
    TRxBuffer fresh;
    V first(LiveChunk.begin(), LiveChunk.begin() + 6), second(LiveChunk.begin() + 6, LiveChunk.end());
    EXPECT_EQ(feed(fresh, first), TMonitorReply::Unrecognised);
    EXPECT_EQ(feed(fresh, second), TMonitorReply::Ignored);
}

TEST(MainAcceptance, ChunkLongerThanBufferExaminesFirst30)
{
    TRxBuffer rx;
    V big(4096, 0xAB);
    std::copy(LiveChunk.begin(), LiveChunk.end(), big.begin());
    EXPECT_EQ(rx.Overlay(big.data(), big.size()), 30u);
    EXPECT_EQ(AcceptMonitorReply(rx), TMonitorReply::Live) << "a reply followed by noise in one read";
    EXPECT_EQ(rx[29], 0xAB);
    EXPECT_EQ(rx.Overlay(big.data(), 0), 0u);
}

TEST(ConfigAcceptance, EachReplyAndByteZeroNotExamined)
{
    TRxBuffer rx;
    struct Case {
        TFrame frame;
        uint8_t command;
    } cases[] = {
        {BuildThresholdFrame(9, Cmd::ReadThresholds, {1, 2, 3, 4, 5, 6, 7}), Cmd::ReadThresholds},
        {BuildCompensationFrame(9, Cmd::ReadCompensation, {1, 2, 3, 4}), Cmd::ReadCompensation},
        {BuildFanTimingFrame(9, Cmd::ReadFanTiming, 1, 2), Cmd::ReadFanTiming},
        {BuildLinkFrame(9, Cmd::ReadLink, 9, 5), Cmd::ReadLink},
        {BuildModelReply(9, 3), Cmd::Model},
    };
    for (const auto& c : cases) {
        rx.Overlay(c.frame.data(), c.frame.size);
        EXPECT_EQ(AcceptConfigReply(rx), c.command);
    }
    TFrame bad = BuildLinkFrame(1, Cmd::ReadLink, 1, 5);
    bad.bytes[5] ^= 0x10;
    rx.Overlay(bad.data(), bad.size);
    EXPECT_EQ(AcceptConfigReply(rx), std::nullopt);
    TFrame live = BuildLiveReply(1, {1, 2, 3, 4}, 0, 0);
    rx.Overlay(live.data(), live.size);
    EXPECT_EQ(AcceptConfigReply(rx), std::nullopt) << "monitoring replies are not the window's";
}

TEST(RandomChunks, AMillionThroughAcceptanceAndDecoding)
{
    // Under the sanitizer build this proves no chunk reads or writes outside the buffers.
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> length(1, 64), byte(0, 255), pick(0, 9);
    const uint8_t commands[] = {0x01, 0xAA, 0xEE, 0x11, 0x12, 0x13, 0x14, 0x21, 0x99, 0xDD};
    TRxBuffer main, config;
    std::vector<uint8_t> chunk(64);
    std::map<int, long> accepted; // per reply kind
    auto inRange = [](const TPhaseTemps& t) {
        return std::all_of(t.begin(), t.end(), [](double v) { return v >= 0 && v <= 6553.5; });
    };
    for (int i = 0; i < 1'000'000; ++i) {
        std::size_t n = std::size_t(length(rng));
        for (std::size_t k = 0; k < n; ++k)
            chunk[k] = uint8_t(byte(rng));
        if (n > 1 && pick(rng) < 7)
            chunk[1] = 0x3F;
        if (n > 2 && pick(rng) < 7)
            chunk[2] = commands[pick(rng)];
        if (pick(rng) < 3) {
            // Give a real share of chunks a valid checksum for their command.
            std::size_t len = ReplyLength(n > 2 ? chunk[2] : 0);
            if (len > 0 && len <= n)
                chunk[len - 1] = FrameChecksum(chunk.data(), len - 1);
        }
        main.Overlay(chunk.data(), n);
        switch (AcceptMonitorReply(main)) {
        case TMonitorReply::Live:
            ASSERT_TRUE(inRange(DecodeLive(main.data()).temps)) << i;
            ++accepted[Cmd::Live];
            break;
        case TMonitorReply::BlackBox: {
            TBlackBoxReading b = DecodeBlackBox(main.data());
            ASSERT_TRUE(inRange(b.blackBox) && inRange(b.highest)) << i;
            ++accepted[Cmd::BlackBox];
            break;
        }
        case TMonitorReply::Model: {
            TModelReading m = DecodeModel(main.data());
            ASSERT_EQ(m.model.TypeName.empty(), m.modelNumber >= ModelCount) << i;
            ++accepted[Cmd::Model];
            break;
        }
        default: break;
        }
        config.Overlay(chunk.data(), n);
        if (auto c = AcceptConfigReply(config)) {
            ++accepted[0x100 + *c];
            if (*c == Cmd::ReadLink) {
                int baud = DecodeLink(config.data()).baud;
                ASSERT_TRUE(baud == 0 || baud == 300 || baud == 600 || baud == 1200 || baud == 2400 || baud == 4800 ||
                            baud == 9600)
                    << i;
            }
        }
    }
    // The random stream must exercise every decoder.
    for (int kind : {int(Cmd::Live), int(Cmd::BlackBox), int(Cmd::Model), 0x100 + Cmd::ReadThresholds,
                     0x100 + Cmd::ReadLink, 0x100 + Cmd::Model})
        EXPECT_GT(accepted[kind], 1000) << std::hex << kind;
}
