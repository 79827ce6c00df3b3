// NEC family: classification of 32-bit frames, repeat and 48-bit frames, length
// checks, the 1124/1125 bit boundary, and the 32-bit encoder.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "tests/capture.h"

namespace {

using namespace codec_test;

struct NecCase {
  const char *name;
  std::vector<uint8_t> bytes;
  uint16_t leader;
  rc_proto proto;
  uint32_t scancode;
  const char *desc;
};

class NecClassify : public ::testing::TestWithParam<NecCase> {};

TEST_P(NecClassify, DecodesVariantScancodeAndDescription) {
  const NecCase &c = GetParam();
  Decoded d = decode(nec_frame(c.bytes, c.leader));
  EXPECT_EQ(d.rc, c.proto);
  EXPECT_EQ(d.p.protocol, c.proto);
  EXPECT_EQ(d.p.scancode, c.scancode);
  EXPECT_EQ(d.p.fullcode, c.scancode);
  EXPECT_EQ(desc(d.p), c.desc);
  EXPECT_EQ(d.p.len, 67);
  EXPECT_NE(d.p.hash, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, NecClassify,
    ::testing::Values(
        NecCase{"Nec32", {0x04, 0xFB, 0x08, 0xF7}, 9000, RC_PROTO_NEC32, 0xF708FB04,
                "NEC32         -- ADDR: 0xFB CMD: 0xF7"},
        // The address complement is tested before the leader.
        NecCase{"Nec32ShortLeader", {0x04, 0xFB, 0x08, 0xF7}, 4500, RC_PROTO_NEC32, 0xF708FB04,
                "NEC32         -- ADDR: 0xFB CMD: 0xF7"},
        NecCase{"NecxShortLeader", {0x04, 0x12, 0x08, 0xF7}, 4500, RC_PROTO_NECX, 0xF7081204,
                "NECx          -- ADDR: 0x1204 CMD: 0xF708"},
        NecCase{"NecLongLeader", {0x04, 0x12, 0x08, 0xF7}, 9000, RC_PROTO_NEC, 0xF7081204,
                "NEC           -- scancode: 0xF7081204"},
        NecCase{"NoComplements", {0x11, 0x22, 0x33, 0x44}, 9000, RC_PROTO_NEC, 0x44332211,
                "NEC           -- scancode: 0x44332211"},
        // A second byte of 0x87 is Apple whatever the complements say.
        NecCase{"Apple", {0x5D, 0x87, 0x0E, 0xA1}, 9000, RC_PROTO_NEC_APPLE, 0xA10E875D,
                "NEC32 {APPLE} -- ID:0xA1 CODE:0x0E TYPE:0x87 EVENT:0x5D"},
        NecCase{"AppleWithComplements", {0x78, 0x87, 0x10, 0xEF}, 9000, RC_PROTO_NEC_APPLE, 0xEF108778,
                "NEC32 {APPLE} -- ID:0xEF CODE:0x10 TYPE:0x87 EVENT:0x78"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Nec, CleanedFormAndProntoCarryTheRepeatSequence) {
  Edges e = nec_frame({0x04, 0xFB, 0x08, 0xF7});
  e[0] = 8800;  // jitter is cleaned away
  e[3] = 1000;
  e[7] = 1800;
  Decoded d = decode(e);
  ASSERT_EQ(d.rc, RC_PROTO_NEC32);
  EXPECT_EQ(d.p.buf[0], 9024);
  EXPECT_EQ(d.p.buf[1], 4500);
  EXPECT_EQ(d.p.buf[2], 564);
  EXPECT_EQ(d.p.buf[3], 564);  // bit 0 of 0x04
  EXPECT_EQ(d.p.buf[7], 1692);  // bit 2 of 0x04
  EXPECT_EQ(d.p.buf[68], 0);    // no key gap recorded
  EXPECT_EQ(d.p.hash, ir_hash(d.p.buf, 67, 2100));
  ASSERT_EQ(d.p.pronto_len, 4 + 67 + 5);
  EXPECT_EQ(d.p.pronto[3], 2);
  EXPECT_EQ(d.p.pronto[4 + 67], 1521);
}

TEST(Nec, RepeatFrameHasFixedHashWhateverItsDurations) {
  Decoded d = decode({9000, 2250, 560});
  EXPECT_EQ(d.rc, RC_PROTO_NEC_REPEAT);
  EXPECT_EQ(d.p.hash, 4096u);
  EXPECT_EQ(desc(d.p), "NEC           -- REPEAT");
  for (const Edges &e : {Edges{9000, 2250, 560}, Edges{100, 13000, 7}, Edges{0, 0, 0}}) {
    Direct r = decode_with("NEC", e);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.p.protocol, RC_PROTO_NEC_REPEAT);
    EXPECT_EQ(r.p.hash, 0x1000u);
    EXPECT_EQ(r.p.len, 3);
    EXPECT_EQ(r.p.buf[0], 9000);
    EXPECT_EQ(r.p.buf[1], 2250);
    EXPECT_EQ(r.p.buf[2], 562);
  }
}

TEST(Nec, WrongEdgeCountsAreRejected) {
  Edges full = nec_frame({0x04, 0xFB, 0x08, 0xF7});
  Edges short66(full.begin(), full.end() - 1);
  Edges long68 = full;
  long68.push_back(560);
  for (const Edges &e : {short66, long68}) {
    LogCapture cap;
    Direct r = decode_with("NEC", e);
    EXPECT_EQ(r.rc, -1);
    EXPECT_NE(cap.text(1).find("[E] lib/libcodara/protocols/nec ir_nec_decode(") , std::string::npos);
    EXPECT_NE(cap.text(1).find("): length mismatch expected 67|99 != " + std::to_string(e.size()) + "\n"),
              std::string::npos);
    Decoded d = decode(e);
    EXPECT_EQ(d.rc, RC_PROTO_INVALID);
    EXPECT_EQ(desc(d.p), "INVALID       -- 0x0000");
  }
}

TEST(Nec, SpaceOf1124IsZeroAnd1125IsOne) {
  Edges e = nec_frame({0x00, 0xFF, 0x00, 0xFF});
  e[3] = 1124;
  EXPECT_EQ(decode_with("NEC", e).p.scancode & 1, 0u);
  e[3] = 1125;
  EXPECT_EQ(decode_with("NEC", e).p.scancode & 1, 1u);
}

Edges nec48_frame(const std::vector<uint8_t> &bytes) {
  return pulse_distance(9000, 4500, lsb_first(bytes), 560, 560, 1690, 560);
}

TEST(Nec, FortyEightBitFrameKeepsItsFieldsInTheDescription) {
  Decoded d = decode(nec48_frame({0x12, 0x34, 0x56, 0xA9, 0x78, 0x87}));
  EXPECT_EQ(d.rc, RC_PROTO_NEC48);
  EXPECT_EQ(desc(d.p), "NEC48         -- D:0x12 S:0x34 F:0x56 E:0x78");
  EXPECT_EQ(d.p.scancode, 0u);
  EXPECT_EQ(d.p.fullcode, 0u);
  EXPECT_EQ(d.p.len, 99);
  EXPECT_EQ(d.p.pronto[3], 0);  // no repeat sequence for 48-bit frames
}

TEST(Nec, FortyEightBitComplementChecks) {
  {
    LogCapture cap;
    Direct r = decode_with("NEC", nec48_frame({0x12, 0x34, 0x56, 0xA8, 0x78, 0x87}));
    EXPECT_EQ(r.rc, -1);
    EXPECT_NE(cap.text(1).find("): protocol invalid CRC: ^f\n"), std::string::npos);
  }
  {
    LogCapture cap;
    Direct r = decode_with("NEC", nec48_frame({0x12, 0x34, 0x56, 0xA9, 0x78, 0x86}));
    EXPECT_EQ(r.rc, -1);
    EXPECT_NE(cap.text(1).find("): protocol invalid CRC: ^e 0xFE\n"), std::string::npos);
  }
  EXPECT_EQ(decode(nec48_frame({0x12, 0x34, 0x56, 0xA9, 0x78, 0x86})).rc, RC_PROTO_INVALID);
}

TEST(Nec, EncodeGivesTheNominalFrame) {
  ir_packet pkt{};
  ASSERT_EQ(ir_encode(RC_PROTO_NEC32, 0xF708FB04, &pkt), 0);
  ASSERT_EQ(pkt.len, 67);
  EXPECT_EQ(pkt.elapsed, 40);
  EXPECT_EQ(edges_of(pkt), pulse_distance(9000, 4500, lsb_first({0x04, 0xFB, 0x08, 0xF7}), 560, 560, 1690, 560));
  Decoded d = decode(edges_of(pkt));
  EXPECT_EQ(d.rc, RC_PROTO_NEC32);
  EXPECT_EQ(d.p.scancode, 0xF708FB04u);
  // NEC, NECX and NEC32 all send the same frame.
  EXPECT_EQ(encode(RC_PROTO_NEC, 0xF708FB04), edges_of(pkt));
  EXPECT_EQ(encode(RC_PROTO_NECX, 0xF708FB04), edges_of(pkt));
}

}  // namespace
