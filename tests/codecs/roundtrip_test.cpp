// Encode -> decode through the whole decode path over many scancodes per protocol,
// with the exceptions the protocols carry (RC5's trailing half-bit, Sony's unsent low
// bits, the device-own protocol's odd IDs).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec_support.h"

namespace {

using namespace codec_test;

constexpr int kRounds = 400;

// A receiver never sees the space after the last mark.
Edges as_received(Edges e) {
  if (!e.empty() && e.size() % 2 == 0) e.pop_back();
  return e;
}

struct Trip {
  const char *name;
  rc_proto proto;
  uint32_t mask;  // scancode bits that survive the trip
  uint16_t max_edge;  // the decoder's hash argument
  std::vector<rc_proto> accepted;
};

class RoundTrip : public ::testing::TestWithParam<Trip> {};

TEST_P(RoundTrip, ScancodeComesBack) {
  const Trip &t = GetParam();
  std::mt19937 rng(0xC0DA5EEDu ^ t.proto);
  std::vector<uint32_t> codes{0, t.mask, 0xFFFFFFFFu & t.mask, 0x55555555u & t.mask, 0xAAAAAAAAu & t.mask};
  for (int i = 0; i < kRounds; ++i) codes.push_back(rng() & t.mask);
  int degenerate = 0;
  for (uint32_t code : codes) {
    Edges e = as_received(encode(t.proto, code));
    Decoded d = decode(e);
    // A frame whose bit edges are all alike (every bit equal) cannot be split into
    // short and long edges: its hash is 0 and the decode path rejects it.
    if (ir_hash(e.data(), e.size(), t.max_edge) == 0) {
      ++degenerate;
      EXPECT_EQ(d.rc, RC_PROTO_INVALID) << t.name << " 0x" << std::hex << code;
      continue;
    }
    EXPECT_NE(std::find(t.accepted.begin(), t.accepted.end(), static_cast<rc_proto>(d.rc)), t.accepted.end())
        << t.name << " 0x" << std::hex << code << " gave " << std::dec << d.rc << " " << d.p.desc;
    EXPECT_EQ(d.p.scancode, code) << t.name << " 0x" << std::hex << code;
    EXPECT_NE(d.p.hash, 0u);
  }
  EXPECT_LE(degenerate, 3) << t.name;
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, RoundTrip,
    ::testing::Values(
        Trip{"NEC", RC_PROTO_NEC, 0xFFFFFFFF, 2100, {RC_PROTO_NEC, RC_PROTO_NEC32, RC_PROTO_NEC_APPLE}},
        Trip{"RC5", RC_PROTO_RC5, 0x1F3F, 2400, {RC_PROTO_RC5}},  // address in bits 8-12, command 0-5
        Trip{"RC6", RC_PROTO_RC6_0, 0xFFFF, 2400, {RC_PROTO_RC6_0}},
        Trip{"SONY12", RC_PROTO_SONY12, 0xFFF00000, 2100, {RC_PROTO_SONY12}},
        Trip{"SONY15", RC_PROTO_SONY15, 0xFFFE0000, 2100, {RC_PROTO_SONY15}},
        Trip{"SONY20", RC_PROTO_SONY20, 0xFFFFF000, 2100, {RC_PROTO_SONY20}},
        Trip{"PANASONIC", RC_PROTO_PANASONIC, 0xFFFFFFFF, 3000, {RC_PROTO_PANASONIC}},
        Trip{"ZIVRA", RC_PROTO_ZIVRA, 0xFEFFF, 2400, {RC_PROTO_ZIVRA}}),  // even IDs only
    [](const auto &info) { return std::string(info.param.name); });

TEST(RoundTrip, NecVariantFollowsTheComplements) {
  std::mt19937 rng(7);
  for (int i = 0; i < kRounds; ++i) {
    const uint8_t addr = static_cast<uint8_t>(rng()), cmd = static_cast<uint8_t>(rng());
    if (static_cast<uint8_t>(~addr) == 0x87) continue;
    const uint32_t code = addr | (uint32_t{static_cast<uint8_t>(~addr)} << 8) | (uint32_t{cmd} << 16) |
                          (uint32_t{static_cast<uint8_t>(~cmd)} << 24);
    Decoded d = decode(encode(RC_PROTO_NEC, code));
    EXPECT_EQ(d.rc, RC_PROTO_NEC32) << std::hex << code;
    EXPECT_EQ(d.p.scancode, code);
  }
}

TEST(RoundTrip, Rc6ToggleAlternatesInFullcode) {
  std::mt19937 rng(11);
  int last = -1;
  for (int i = 0; i < 50; ++i) {
    const uint32_t code = rng() & 0xFFFF;
    Decoded d = decode(encode(RC_PROTO_RC6_0, code));
    ASSERT_EQ(d.rc, RC_PROTO_RC6_0);
    const int toggle = static_cast<int>((d.p.fullcode >> 16) & 1);
    if (last >= 0) {
      EXPECT_NE(toggle, last);
    }
    last = toggle;
    EXPECT_EQ(d.p.fullcode & ~0x10000ull, 0x100000u | code);
  }
}

TEST(RoundTrip, Rc5ToggleAlternatesInFullcode) {
  int last = -1;
  for (int i = 0; i < 20; ++i) {
    Decoded d = decode(as_received(encode(RC_PROTO_RC5, 0x0A15)));
    ASSERT_EQ(d.rc, RC_PROTO_RC5);
    const int toggle = static_cast<int>((d.p.fullcode >> 11) & 1);
    if (last >= 0) {
      EXPECT_NE(toggle, last);
    }
    last = toggle;
  }
}

}  // namespace
