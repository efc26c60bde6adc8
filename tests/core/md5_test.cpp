#include "core/md5.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string hexOf(const std::string& text) { return MD5(text.data(), static_cast<unsigned>(text.size())).toString(); }

}  // namespace

TEST(Md5, MatchesTheReferenceSuite) {
    EXPECT_EQ(hexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(hexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(hexOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    MD5 fresh;
    EXPECT_EQ(fresh.toString(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, PaddingIsRightAroundTheBlockEdges) {
    // Lengths where the tail block and the bit length do or do not fit in the last block.
    const std::vector<std::pair<size_t, const char*>> cases = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto& c : cases) EXPECT_EQ(hexOf(std::string(c.first, 'a')), c.second) << c.first;
}

TEST(Md5, MillionBytesFedInOddPiecesMatchTheReference) {
    const std::string chunk(997, 'a');  // a prime length: pieces straddle every block offset
    MD5 m;
    size_t fed = 0;
    while (fed < 1000000) {
        const size_t n = std::min(chunk.size(), 1000000 - fed);
        m.update(chunk.data(), static_cast<unsigned>(n));
        fed += n;
    }
    EXPECT_EQ(m.toString(), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, PiecesOfAnySizeGiveTheOneShotDigest) {
    std::mt19937 rng(1321);
    std::vector<MD5::byte> data(3000);
    for (auto& b : data) b = static_cast<MD5::byte>(rng());
    const std::string whole = MD5(data.data(), static_cast<unsigned>(data.size())).toString();

    MD5 bytewise;
    for (MD5::byte b : data) bytewise.update(&b, 1);
    EXPECT_EQ(bytewise.toString(), whole);

    for (int round = 0; round < 20; ++round) {
        MD5 m;
        size_t pos = 0;
        while (pos < data.size()) {
            size_t n = std::min<size_t>(rng() % 200, data.size() - pos);  // zero-length pieces too
            m.update(data.data() + pos, static_cast<unsigned>(n));
            pos += n;
        }
        EXPECT_EQ(m.toString(), whole) << "round " << round;
    }
}

TEST(Md5, DigestIsStableUntilResetAndLateBytesDoNotChangeIt) {
    MD5 m("abc", 3);
    const std::string first = m.toString();
    EXPECT_EQ(m.toString(), first);
    m.update("more bytes", 10);
    EXPECT_EQ(m.toString(), "900150983cd24fb0d6963f7d28e17f72");

    m.reset();
    m.update("a", 1);
    EXPECT_EQ(m.toString(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, SharedInstanceRestartsForEachTransfer) {
    md5.reset();
    md5.update("message ", 8);
    md5.update("digest", 6);
    EXPECT_EQ(md5.toString(), "f96b697d7cb7938d525a2f31aaf161d0");
    md5.reset();
    EXPECT_EQ(md5.toString(), "d41d8cd98f00b204e9800998ecf8427e");
}
