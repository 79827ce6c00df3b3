// Manchester decoding, pulse merging and encoding.
#include <gtest/gtest.h>

#include <memory>

#include "tests/codara/support.h"

namespace {

std::vector<uint16_t> edges(const uint16_t *buf, uint16_t len) { return {buf, buf + len}; }

TEST(ManchesterDecode, HalfBitKeepsFullBitFlips) {
  std::vector<uint16_t> in{444, 444, 888};
  uint32_t bits = 1, got = 99;
  EXPECT_EQ(manchester_decode(in.data(), 3, 10, &bits, &got, 444, 888), 3);
  EXPECT_EQ(bits, 6u);
  EXPECT_EQ(got, 2u);
}

TEST(ManchesterDecode, NothingToDo) {
  std::vector<uint16_t> in{444, 444};
  uint32_t bits = 5, got = 7;
  EXPECT_EQ(manchester_decode(in.data(), 2, 0, &bits, &got, 444, 888), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(bits, 5u);
  EXPECT_EQ(manchester_decode(in.data(), 0, 8, &bits, &got, 444, 888), 0);
  EXPECT_EQ(manchester_decode(in.data(), -3, 8, &bits, &got, 444, 888), 0);
  EXPECT_EQ(got, 0u);
}

TEST(ManchesterDecode, LoneHalfBitAtAnEvenEndIsNotABit) {
  std::vector<uint16_t> in{888, 888, 444};  // index 2 is the last, even and short
  uint32_t bits = 0, got = 0;
  EXPECT_EQ(manchester_decode(in.data(), 3, 10, &bits, &got, 888, 444), 2);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(bits, 0b10u);  // two flips from 0: 1, then 0
}

TEST(ManchesterDecode, StopsAtTheBitCount) {
  std::vector<uint16_t> in{888, 888, 888, 888};
  uint32_t bits = 0, got = 0;
  EXPECT_EQ(manchester_decode(in.data(), 4, 2, &bits, &got, 444, 888), 2);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(bits, 0b10u);
}

TEST(ManchesterDecode, NeverReadsAtOrBeyondLen) {
  // Exactly sized heap buffers, so a read past the end shows under the sanitizer.
  // A half-bit pair starting at the last interval would step past it.
  const uint16_t cases[][2] = {{888, 444}, {444, 444}};
  for (const auto &c : cases) {
    auto buf = std::make_unique<uint16_t[]>(2);
    buf[0] = c[0];
    buf[1] = c[1];
    uint32_t bits = 1, got = 0;
    const int r = manchester_decode(buf.get(), 2, 32, &bits, &got, 444, 888);
    EXPECT_LE(r, 2);
    EXPECT_GE(got, 1u);
  }
}

TEST(CompressTimes, MergesRunsOfOneSign) {
  int32_t t[] = {500, 0, -300};
  uint16_t out[8];
  uint16_t len = 0;
  compress_times(t, 3, out, &len);
  EXPECT_EQ(edges(out, len), (std::vector<uint16_t>{500, 300}));

  int32_t lead[] = {-100, -200, 300, 400, -500, 600};
  compress_times(lead, 6, out, &len);
  EXPECT_EQ(edges(out, len), (std::vector<uint16_t>{700, 500, 600}));

  int32_t last[] = {-100, -200, 300};
  compress_times(last, 3, out, &len);
  EXPECT_EQ(edges(out, len), (std::vector<uint16_t>{300}));

  int32_t none[] = {42};
  compress_times(none, 0, out, &len);
  EXPECT_EQ(edges(out, len), (std::vector<uint16_t>{42}));
}

struct EncodeCase {
  uint32_t value;
  int bits;
  int width;
  std::vector<uint16_t> want;
};

class EncodeManchester : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeManchester, Edges) {
  const auto &c = GetParam();
  uint16_t out[IR_MAX_EDGES];
  uint16_t len = 0xFFFF;
  encode_manchester(c.value, c.bits, c.width, out, &len);
  EXPECT_EQ(edges(out, len), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EncodeManchester,
    ::testing::Values(EncodeCase{0x3, 2, 889, {889, 889, 889, 889}},   // equal bits keep their half-bits
                      EncodeCase{0x2, 2, -889, {1778, 889}},           // leading space dropped, marks merge
                      EncodeCase{0x5, 3, 444, {444, 888, 888, 444}},   // 1 0 1 with marks first
                      EncodeCase{0x0, 0, 444, {0}}, EncodeCase{0x0, -4, 444, {0}},
                      // 40 bits are capped at 32: only the low 32 are sent.
                      EncodeCase{0xFFFFFFFFu, 40, 100, std::vector<uint16_t>(64, 100)}));

TEST(EncodeManchester, RoundTripsThroughTheDecoder) {
  for (uint32_t v : {0x2Du, 0x3FFFu, 0x1555u, 0x2AAAu}) {
    uint16_t out[IR_MAX_EDGES];
    uint16_t len = 0;
    const uint32_t frame = 0x2000 | v;  // leading 1 so the first bit shows as a mark
    encode_manchester(frame, 14, 444, out, &len);
    uint32_t bits = 1, got = 0;
    // The first bit (a 1) is taken as known; decode the 13 after it from edge 1.
    manchester_decode(out + 1, len - 1, 13, &bits, &got, 444, 888);
    EXPECT_EQ(got, 13u) << std::hex << v;
    EXPECT_EQ(bits & 0x3FFF, frame & 0x3FFF) << std::hex << v;
  }
}

}  // namespace
