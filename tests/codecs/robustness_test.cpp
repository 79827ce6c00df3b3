// Truncated and garbage captures of 0 to 256 edges against every decoder: no
// decoder reads past the capture's count, writes outside its arrays, or crashes.
// Run under the sanitizer build as well.
#include <gtest/gtest.h>

#include <random>

#include "codec_support.h"
#include "tests/capture.h"

namespace {

using namespace codec_test;

const char *const kHandlers[] = {"AMINO", "ZIVRA", "NEC", "RC5", "RC6", "PANASONIC", "SONY", "XMP"};

// Valid frames of every protocol, whose prefixes make realistic truncated captures.
std::vector<Edges> frames() {
  std::vector<Edges> f;
  f.push_back(encode(RC_PROTO_NEC, 0xF708FB04));
  f.push_back(encode(RC_PROTO_RC5, 0x0535));
  f.push_back(encode(RC_PROTO_RC6_0, 0x800C));
  f.push_back(encode(RC_PROTO_RC6_0, 0x7FF3));
  f.push_back(encode(RC_PROTO_SONY20, 0xFFFFF000));
  f.push_back(encode(RC_PROTO_PANASONIC, 0x12345678));
  f.push_back(encode(RC_PROTO_ZIVRA, 0x2A835));
  Edges xmp;
  for (int k = 0; k < 16; ++k) {
    if (k == 8) xmp.insert(xmp.end(), {210, 13800});
    xmp.insert(xmp.end(), {210, static_cast<uint16_t>(760 + 136 * k)});
  }
  xmp.push_back(210);
  f.push_back(xmp);
  // Longer than any protocol: every edge count up to the array's end.
  Edges longest;
  while (longest.size() < IR_MAX_EDGES)
    for (uint16_t v : {889, 1778, 444, 888, 1332, 560, 1690}) longest.push_back(v);
  longest.resize(IR_MAX_EDGES);
  f.push_back(longest);
  return f;
}

std::vector<Edges> captures() {
  std::vector<Edges> out;
  for (const Edges &f : frames())
    for (size_t n = 0; n <= f.size(); ++n) out.emplace_back(f.begin(), f.begin() + static_cast<long>(n));
  std::mt19937 rng(1234);
  const uint16_t tops[] = {2000, 14000, 65535};
  for (int round = 0; round < 3; ++round)
    for (uint16_t top : tops)
      for (size_t n = 0; n <= IR_MAX_EDGES; n += (round == 0 ? 1 : 7)) {
        Edges e(n);
        for (auto &v : e) v = static_cast<uint16_t>(rng() % (top + 1u));
        out.push_back(e);
      }
  return out;
}

// Garbage makes every decoder complain; the lines are not what these tests check.
class Robustness : public ::testing::Test {
 protected:
  void SetUp() override { set_loglevel(0); }
  LevelGuard guard_;
};

TEST_F(Robustness, DecodersNeverLookPastTheCapture) {
  const auto all = captures();
  for (const char *name : kHandlers) {
    for (const Edges &e : all) {
      if (e.size() >= IR_MAX_EDGES) continue;  // nothing lies beyond a full array
      Direct zero = decode_with(name, e, 0);
      Direct poison = decode_with(name, e, 0xBEEF);
      ASSERT_EQ(zero.rc, poison.rc) << name << " " << e.size();
      ASSERT_EQ(std::memcmp(&zero.p, &poison.p, sizeof zero.p), 0) << name << " " << e.size() << " edges";
    }
  }
}

TEST_F(Robustness, DecodersKeepTheirCleanedFormInsideTheArray) {
  for (const char *name : kHandlers) {
    for (const Edges &e : captures()) {
      Direct r = decode_with(name, e);
      const size_t n = e.size() % 256;  // a 256-edge capture arrives with a count of 0
      // A cleaned form is as long as the capture (or absent); a key gap stored past
      // the array's end would have overwritten the length.
      ASSERT_TRUE(r.p.len == 0 || r.p.len == n) << name << " " << e.size() << " len " << r.p.len;
      ASSERT_LE(r.p.pronto_len, IR_MAX_EDGES);
    }
  }
}

TEST_F(Robustness, FullArrayWithACountOfZeroIsNotRead) {
  std::mt19937 rng(99);
  for (const char *name : kHandlers) {
    const IR_PROTOCOL_HANDLER *h = handler(name);
    ASSERT_NE(h, nullptr);
    ir_t full{}, empty{};
    for (auto &v : full.buf) v = static_cast<uint16_t>(rng());
    ir_prot a{}, b{};
    EXPECT_EQ(h->decode(&full, &a), h->decode(&empty, &b)) << name;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << name;
  }
}

TEST_F(Robustness, DecodePathSurvivesEveryCapture) {
  for (const Edges &e : captures()) {
    Decoded d = decode(e);
    bool too_long_edge = false;
    for (uint16_t v : e) too_long_edge |= v > 14000;
    if (too_long_edge) {
      EXPECT_EQ(d.rc, -1);
      continue;
    }
    ASSERT_GE(d.rc, 0);
    ASSERT_LE(d.rc, RC_PROTO_PANASONIC);
    if (d.rc == RC_PROTO_INVALID) {
      EXPECT_EQ(desc(d.p), "INVALID       -- 0x0000");
    } else {
      EXPECT_NE(d.p.hash, 0u);
    }
    EXPECT_LE(d.p.pronto_len, IR_MAX_EDGES);
    EXPECT_LE(d.p.len, IR_MAX_EDGES);
  }
}

}  // namespace
