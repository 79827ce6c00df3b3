// The extended protocols through the whole decode path: frames laid by hand from the
// protocols' published timings, encode -> decode round trips, jittered copies, and
// malformed frames that must not come out under the protocol's name.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/codara_decode_corpus.h"
#include "codara/codara.h"
#include "codecs/codec_support.h"

namespace {

using namespace codec_test;

constexpr auto kSamsung32 = static_cast<rc_proto>(CODARA_PROTO_SAMSUNG32);

class Extended : public ::testing::Test {
 protected:
  void SetUp() override { codara_register_extended(); }
};

// Bi-phase frame from (mark?, units) runs of `unit` microseconds.
Edges biphase_frame(int unit, const std::vector<std::pair<bool, int>> &runs) {
  std::vector<std::pair<bool, int>> levels;
  for (auto [mark, n] : runs) levels.push_back({mark, n * unit});
  return merge_levels(levels);
}

// Runs of bits, msb first, for a bi-phase code where a 1 is mark-then-space when
// `one_mark_first`.
void bits_to_runs(std::vector<std::pair<bool, int>> &runs, uint32_t v, int n, bool one_mark_first, int width = 1) {
  for (int b = n - 1; b >= 0; --b) {
    const bool first = ((v >> b) & 1) == (one_mark_first ? 1u : 0u);
    runs.push_back({first, width});
    runs.push_back({!first, width});
  }
}

Edges rc6_6a(uint32_t body, int bits) {
  std::vector<std::pair<bool, int>> r{{true, 6}, {false, 2}};
  bits_to_runs(r, 1, 1, true);
  bits_to_runs(r, 6, 3, true);
  bits_to_runs(r, 0, 1, true, 2);
  bits_to_runs(r, body, bits, true);
  return biphase_frame(444, r);
}

// Ortek: leader, then device (5 bits), position (2), function (6) and checksum (4),
// each least significant first, a 0 as mark then space.
Edges ortek_frame(uint32_t device, uint32_t position, uint32_t function, uint32_t check) {
  const uint32_t v = device | position << 5 | function << 7 | check << 13;
  uint32_t sent = 0;
  for (int k = 0; k < 17; ++k) sent |= ((v >> k) & 1u) << (16 - k);
  std::vector<std::pair<bool, int>> r{{true, 4}, {false, 1}};
  bits_to_runs(r, sent, 17, false);
  return biphase_frame(480, r);
}

// Sharp and Denon: 5 address bits, 8 command bits, two closing bits, least
// significant first, each a mark and a space; then a closing mark.
Edges sharp_frame(uint8_t address, uint8_t command, int b13, int b14, uint16_t mark, uint16_t zero, uint16_t one) {
  std::vector<int> b = lsb_first({address, command});
  b.erase(b.begin() + 5, b.begin() + 8);
  b.push_back(b13);
  b.push_back(b14);
  Edges e = pulse_distance(0, 0, b, mark, zero, one, mark);
  return Edges(e.begin() + 2, e.end());
}

struct Golden {
  const char *name;
  std::function<Edges()> frame;
  rc_proto protocol;
  uint32_t scancode;
  const char *desc;
};

// Frames built from the protocols' published timings, independently of the encoders.
const Golden kGolden[] = {
    {"jvc", [] { return pulse_distance(8400, 4200, lsb_first({0x03, 0x17}), 525, 525, 1575, 525); }, RC_PROTO_JVC,
     0x0317, "jvc           -- ADDR: 0x03 CMD: 0x17"},
    {"jvc_repeat",
     [] {
       Edges e = pulse_distance(0, 0, lsb_first({0x03, 0x17}), 525, 525, 1575, 525);
       return Edges(e.begin() + 2, e.end());
     },
     RC_PROTO_JVC, 0x0317, "jvc           -- ADDR: 0x03 CMD: 0x17 REPEAT"},
    {"samsung32", [] { return nec_frame({0x07, 0x07, 0x02, 0xFD}, 4500); }, RC_PROTO_NECX, 0x070702,
     "samsung32     -- ADDR: 0x07 CMD: 0x02"},
    // Address 0x11, command 0x5A, closing bits 1, 0; the check frame inverts the command.
    {"sharp", [] { return sharp_frame(0x11, 0x5A, 1, 0, 264, 792, 1848); }, RC_PROTO_SHARP, 0x115A,
     "sharp         -- ADDR: 0x11 CMD: 0x5A CHECK: 0"},
    {"sharp_check", [] { return sharp_frame(0x11, 0xA5, 0, 1, 320, 680, 1680); },  // the kernel's timings
     RC_PROTO_SHARP, 0x115A, "sharp         -- ADDR: 0x11 CMD: 0x5A CHECK: 1"},
    {"denon", [] { return sharp_frame(0x02, 0xC4, 0, 0, 264, 792, 1848); }, RC_PROTO_DENON, 0x02C4,
     "denon         -- ADDR: 0x02 CMD: 0xC4 CHECK: 0"},
    // Symbols of D 0x12, S 0x34, F 0x56, two bits each, most significant first.
    {"nokia",
     [] {
       Edges e{412, 276};
       const uint16_t space[4] = {276, 445, 614, 783};
       for (int k = 11; k >= 0; --k) {
         e.push_back(164);
         e.push_back(space[(0x123456 >> (2 * k)) & 3]);
       }
       e.push_back(164);
       return e;
     },
     RC_PROTO_NOKIA, 0x123456, "nokia         -- D: 0x12 S: 0x34 F: 0x56"},
    {"rc6_mce", [] { return rc6_6a(0x800F8422, 32); }, RC_PROTO_RC6_MCE, 0x800F0422,
     "rc6_mce       -- ADDR: 0x04 CMD: 0x22 T:1"},
    {"rc6_6a_20", [] { return rc6_6a(0x1C2A5, 20); }, RC_PROTO_RC6_6A_20, 0x1C2A5,
     "rc6_6a_20     -- scancode: 0x1C2A5"},
    {"rc6_6a_24", [] { return rc6_6a(0x00A5F0, 24); }, RC_PROTO_RC6_6A_24, 0x00A5F0,
     "rc6_6a_24     -- scancode: 0xA5F0"},
    {"rc6_6a_32", [] { return rc6_6a(0x12345678, 32); }, RC_PROTO_RC6_6A_32, 0x12345678,
     "rc6_6a_32     -- scancode: 0x12345678"},
    // Device 0x05, position 0, function 0x21, checksum 3 + 2 + 0 + 2 = 7.
    {"ortek", [] { return ortek_frame(0x05, 0, 0x21, 7); }, RC_PROTO_ORTEK, 0x0521,
     "ortek         -- ADDR: 0x05 CMD: 0x21 P:0"},
    // Device 0x0B, sub-device 0x14, function 0x3C, most significant first.
    {"tdc",
     [] {
       std::vector<std::pair<bool, int>> r{{true, 1}, {false, 1}};
       bits_to_runs(r, 0x0Bu << 12 | 0x14u << 7 | 0x3C, 17, true);
       return biphase_frame(315, r);
     },
     RC_PROTO_TDC, 0x0B143C, "tdc           -- D: 0x0B S: 0x14 F: 0x3C"},
};

class GoldenFrames : public Extended, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenFrames, DecodeToTheirFields) {
  const Golden &g = GetParam();
  const Decoded d = decode(g.frame());
  EXPECT_EQ(d.p.protocol, g.protocol);
  EXPECT_EQ(d.rc, g.protocol);
  EXPECT_EQ(d.p.scancode, g.scancode);
  EXPECT_STREQ(d.p.desc, g.desc);
  EXPECT_NE(d.p.hash, 0u);
  EXPECT_GT(d.p.pronto_len, 4u);
}

INSTANTIATE_TEST_SUITE_P(Extended, GoldenFrames, ::testing::ValuesIn(kGolden),
                         [](const auto &info) { return std::string(info.param.name); });

struct Codec {
  const char *name;
  rc_proto encode_as;
  rc_proto decoded;
  uint32_t mask;      // scancode bits the frame carries
  uint32_t fixed;     // bits every valid scancode has set
  int jitter_pct;     // per-edge jitter the decoder must take
  const char *label;  // the description begins with it
};

// Samsung-32 repeats its address byte, which the generator below arranges.
const Codec kCodecs[] = {
    {"sharp", RC_PROTO_SHARP, RC_PROTO_SHARP, 0x1FFF, 0, 20, "sharp "},
    {"denon", RC_PROTO_DENON, RC_PROTO_DENON, 0x1FFF, 0, 20, "denon "},
    {"nokia", RC_PROTO_NOKIA, RC_PROTO_NOKIA, 0xFFFFFF, 0, 10, "nokia "},
    {"rc6_mce", RC_PROTO_RC6_MCE, RC_PROTO_RC6_MCE, 0x7FFF, 0x800F0000, 15, "rc6_mce "},
    {"rc6_6a_20", RC_PROTO_RC6_6A_20, RC_PROTO_RC6_6A_20, 0xFFFFF, 0, 15, "rc6_6a_20 "},
    {"rc6_6a_24", RC_PROTO_RC6_6A_24, RC_PROTO_RC6_6A_24, 0xFFFFFF, 0, 15, "rc6_6a_24 "},
    {"rc6_6a_32", RC_PROTO_RC6_6A_32, RC_PROTO_RC6_6A_32, 0x7FFFFFFF, 0, 15, "rc6_6a_32 "},
    {"ortek", RC_PROTO_ORTEK, RC_PROTO_ORTEK, 0x1F3F, 0, 15, "ortek "},
    {"tdc", RC_PROTO_TDC, RC_PROTO_TDC, 0x1F1F7F, 0, 15, "tdc "},
    {"jvc", RC_PROTO_JVC, RC_PROTO_JVC, 0xFFFF, 0, 20, "jvc "},
    {"samsung32", kSamsung32, RC_PROTO_NECX, 0xFF00FF, 0, 20, "samsung32 "},
};

uint32_t valid(const Codec &c, uint32_t s) {
  s = (s & c.mask) | c.fixed;
  return c.encode_as == kSamsung32 ? s | (s >> 16 & 0xFF) << 8 : s;
}

uint32_t scancode_for(const Codec &c, decode_bench::Rng &r) { return valid(c, static_cast<uint32_t>(r.next())); }

// Each edge off by up to `pct` percent either way.
Edges jittered(decode_bench::Rng &r, Edges e, int pct) {
  for (uint16_t &t : e) t = static_cast<uint16_t>(t + t * r.between(-pct, pct) / 100);
  return e;
}

class Codecs : public Extended, public ::testing::WithParamInterface<Codec> {};

TEST_P(Codecs, EncodedFramesAndJitteredCopiesDecodeToTheScancode) {
  const Codec &c = GetParam();
  decode_bench::Rng r{0x5EED0000u + static_cast<uint64_t>(c.encode_as)};
  for (int k = 0; k < 64; ++k) {
    const uint32_t sc = k == 0 ? valid(c, 0) : k == 1 ? valid(c, ~0u) : scancode_for(c, r);
    const Edges frame = encode(c.encode_as, sc);
    for (int copy = 0; copy < 8; ++copy) {
      const Decoded d = decode(copy == 0 ? frame : jittered(r, frame, c.jitter_pct));
      ASSERT_EQ(d.p.protocol, c.decoded) << std::hex << sc << " copy " << copy << ": " << d.p.desc;
      ASSERT_EQ(d.p.scancode, sc) << std::hex << sc << " copy " << copy << ": " << d.p.desc;
      ASSERT_EQ(std::strncmp(d.p.desc, c.label, std::strlen(c.label)), 0) << d.p.desc;
      ASSERT_NE(d.p.hash, 0u);
    }
  }
}

// Damage that leaves no frame of the protocol: it must not decode under its name.
TEST_P(Codecs, MalformedFramesAreNotTakenForTheProtocol) {
  const Codec &c = GetParam();
  decode_bench::Rng r{0xBAD0000u + static_cast<uint64_t>(c.encode_as)};
  const Edges frame = encode(c.encode_as, scancode_for(c, r));
  const std::vector<std::function<Edges(Edges)>> damage = {
      [](Edges e) { return Edges(e.begin(), e.end() - 2); },                  // a bit short
      [](Edges e) { e.insert(e.end() - 1, {e[2], e[3]}); return e; },        // a bit too many
      [](Edges e) { e[e.size() / 2 & ~size_t{1}] = 3000; return e; },       // a mark far too long
      [](Edges e) { e[e.size() / 2 | 1] = 5000; return e; },                 // a space far too long
      [](Edges e) { e.resize(e.size() / 3); return e; },                     // cut short
  };
  for (size_t k = 0; k < damage.size(); ++k) {
    const Decoded d = decode(damage[k](frame));
    EXPECT_NE(std::strncmp(d.p.desc, c.label, std::strlen(c.label)), 0) << "damage " << k << ": " << d.p.desc;
    if (c.decoded != RC_PROTO_NECX) {
      EXPECT_NE(d.p.protocol, c.decoded) << "damage " << k << ": " << d.p.desc;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Extended, Codecs, ::testing::ValuesIn(kCodecs),
                         [](const auto &info) { return std::string(info.param.name); });

// Checks beyond the frame's shape.
TEST_F(Extended, FramesFailingTheirChecksAreRefused) {
  // Samsung-32 without a repeated address is a NECx frame and stays one.
  Decoded d = decode(nec_frame({0x07, 0x08, 0x02, 0xFD}, 4500));
  EXPECT_EQ(d.p.protocol, RC_PROTO_NECX);
  EXPECT_STREQ(d.p.desc, "NECx          -- ADDR: 0x0807 CMD: 0xFD02");
  // Ortek with a wrong checksum, and in the position no frame has.
  d = decode(ortek_frame(0x05, 0, 0x21, 6));
  EXPECT_NE(d.p.protocol, RC_PROTO_ORTEK) << d.p.desc;
  d = decode(ortek_frame(0x05, 3, 0x21, 9));
  EXPECT_NE(d.p.protocol, RC_PROTO_ORTEK) << d.p.desc;
  // RC6 mode 0 frames are still the library's own RC6.
  d = decode(encode(RC_PROTO_RC6_0, 0x800C));
  EXPECT_EQ(d.p.protocol, RC_PROTO_RC6_0);
  EXPECT_EQ(d.p.scancode, 0x800Cu);
  // RC6 mode 6A with 28 data bits.
  d = decode(rc6_6a(0x1234567, 28));
  EXPECT_NE(std::strncmp(d.p.desc, "rc6_", 4), 0) << d.p.desc;
}

// The MCE toggle alternates from frame to frame and never reaches the scancode.
TEST_F(Extended, MceToggleAlternates) {
  const Decoded a = decode(encode(RC_PROTO_RC6_MCE, 0x800F0422));
  const Decoded b = decode(encode(RC_PROTO_RC6_MCE, 0x800F0422));
  EXPECT_EQ(a.p.scancode, 0x800F0422u);
  EXPECT_EQ(b.p.scancode, 0x800F0422u);
  EXPECT_NE(a.p.fullcode & 0x8000, b.p.fullcode & 0x8000);
}

}  // namespace
