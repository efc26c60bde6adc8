// Line coding and the stream deframer.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "protocol/control_frame.h"
#include "protocol/protocol_phy.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes encode(const Bytes& f) {
    Bytes out;
    protocol_phy::data_re_transf_meaning(out, f.data(), f.size());
    return out;
}

Bytes everyByte() {
    Bytes f(256);
    for (int i = 0; i < 256; ++i) f[size_t(i)] = uint8_t(i);
    return f;
}

std::vector<Bytes> deframe(frame_deframer& d, const Bytes& stream, size_t piece) {
    std::vector<Bytes> frames;
    for (size_t i = 0; i < stream.size(); i += piece)
        d.feed(stream.data() + i, std::min(piece, stream.size() - i),
               [&](const uint8_t* f, size_t n) { frames.emplace_back(f, f + n); });
    return frames;
}
}  // namespace

TEST(ProtocolPhy, EncodedFrameNeverCarriesPreambleOrEndInside) {
    const Bytes f = everyByte();
    const Bytes line = encode(f);
    ASSERT_GE(line.size(), 4u);
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 3), Bytes(3, ctl::kPreamble));
    EXPECT_EQ(line.back(), ctl::kEnd);
    const Bytes inner(line.begin() + 3, line.end() - 1);
    EXPECT_EQ(std::count(inner.begin(), inner.end(), ctl::kPreamble), 0);
    EXPECT_EQ(std::count(inner.begin(), inner.end(), ctl::kEnd), 0);
    EXPECT_EQ(line.size(), 256u + 3 + 3 + 1) << "three bytes escaped, preamble and end";
    Bytes back(600);
    const int n = protocol_phy::data_transf_meaning(line.data(), line.size(), back.data(), back.size());
    ASSERT_EQ(n, 256);
    back.resize(size_t(n));
    EXPECT_EQ(back, f);
}

TEST(ProtocolPhy, DecoderRefusesBrokenLineFramesAndSmallBuffers) {
    Bytes out(64);
    const Bytes good = encode({1, ctl::kEscape, 3});
    EXPECT_EQ(protocol_phy::data_transf_meaning(good.data(), good.size(), out.data(), out.size()), 3);
    EXPECT_EQ(protocol_phy::data_transf_meaning(good.data(), good.size(), out.data(), 2), -1) << "overrun";
    Bytes noEnd(good.begin(), good.end() - 1);
    EXPECT_EQ(protocol_phy::data_transf_meaning(noEnd.data(), noEnd.size(), out.data(), out.size()), -1);
    const Bytes badEscape = {0xA5, 1, ctl::kEscape, 0x11, 0x5A};
    EXPECT_EQ(protocol_phy::data_transf_meaning(badEscape.data(), badEscape.size(), out.data(), out.size()), -1);
    const Bytes danglingEscape = {0xA5, 1, ctl::kEscape, 0x5A};
    EXPECT_EQ(protocol_phy::data_transf_meaning(danglingEscape.data(), danglingEscape.size(), out.data(), out.size()), -1);
    const Bytes noPreamble = {1, 2, 0x5A};
    EXPECT_EQ(protocol_phy::data_transf_meaning(noPreamble.data(), noPreamble.size(), out.data(), out.size()), -1);
}

TEST(ProtocolPhy, SwapHeadExchangesSourceAndDestination) {
    Bytes f = {0x00, 0xF1, 0x10, 0xF0, 4, 0};
    protocol_phy::swap_phy_head(f.data());
    EXPECT_EQ(f, (Bytes{0x10, 0xF0, 0x00, 0xF1, 4, 0}));
}

TEST(FrameDeframer, FramesSplitAtEveryByteOrJoinedInOneReadAllDecode) {
    const Bytes a = everyByte();
    const Bytes b = {0x10, 0xF0, 0xA5, 0x5A, 0xAA};
    Bytes stream = encode(a);
    const Bytes eb = encode(b);
    stream.insert(stream.end(), {0x00, 0x13, 0x37});  // noise between frames
    stream.insert(stream.end(), eb.begin(), eb.end());
    for (size_t piece : {size_t(1), size_t(2), size_t(7), stream.size()}) {
        frame_deframer d(ctl::kMaxFrame);
        const auto frames = deframe(d, stream, piece);
        ASSERT_EQ(frames.size(), 2u) << "piece " << piece;
        EXPECT_EQ(frames[0], a);
        EXPECT_EQ(frames[1], b);
        EXPECT_EQ(d.dropped(), 0u);
    }
}

TEST(FrameDeframer, AcceptsWhatTheChunkRuleAccepted) {
    // One preamble byte is enough, as is a run of more than three.
    frame_deframer d(ctl::kMaxFrame);
    const Bytes one = {0xA5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x5A};
    const Bytes many = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 7, 8, 0x5A};
    auto frames = deframe(d, one, one.size());
    auto more = deframe(d, many, 3);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0], (Bytes{7, 8}));
}

TEST(FrameDeframer, TruncatedOrBadlyEscapedFramesAreDroppedAndTheNextOneSurvives) {
    frame_deframer d(ctl::kMaxFrame);
    Bytes stream = {0xA5, 0xA5, 0xA5, 1, 2, 3};                  // cut off by the next preamble
    stream.insert(stream.end(), {0xA5, 9, ctl::kEscape, 0x01, 9, 0x5A});   // bad escape
    stream.insert(stream.end(), {0xA5, 9, ctl::kEscape, 0x5A});            // escape then end
    const Bytes good = encode({4, 5, 6});
    stream.insert(stream.end(), good.begin(), good.end());
    const auto frames = deframe(d, stream, 5);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{4, 5, 6}));
    EXPECT_EQ(d.dropped(), 3u);
}

TEST(FrameDeframer, FrameLongerThanTheLimitIsDroppedWithoutGrowingWithoutBound) {
    frame_deframer d(16);
    Bytes stream = encode(Bytes(17, 1));
    const Bytes ok = encode(Bytes(16, 2));
    stream.insert(stream.end(), ok.begin(), ok.end());
    const auto frames = deframe(d, stream, 4);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Bytes(16, 2));
    EXPECT_EQ(d.dropped(), 1u);
}

TEST(FrameDeframer, RandomFramesSurviveRandomReadSizes) {
    std::mt19937 rng(7);
    std::vector<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 200; ++i) {
        Bytes f(1 + rng() % 300);
        for (auto& b : f) b = uint8_t(rng());
        const Bytes e = encode(f);
        stream.insert(stream.end(), e.begin(), e.end());
        sent.push_back(f);
    }
    frame_deframer d(ctl::kMaxFrame);
    std::vector<Bytes> got;
    for (size_t i = 0; i < stream.size();) {
        const size_t n = std::min<size_t>(1 + rng() % 100, stream.size() - i);
        d.feed(stream.data() + i, n, [&](const uint8_t* f, size_t len) { got.emplace_back(f, f + len); });
        i += n;
    }
    EXPECT_EQ(got, sent);
}
