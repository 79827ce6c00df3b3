// The device-own protocol (encode, decode, its known loss of odd IDs) and the Amino
// decoder, alone and reached through a client's analyzer.
#include <gtest/gtest.h>

#include "codec_support.h"
#include "tests/capture.h"

namespace {

using namespace codec_test;

// Device-own frame by hand: leader, 8 ID bits as pulse distance (840 space a 1, 1680
// a 0), 2800 of silence, then 12 bits Manchester with a 1 as space-then-mark.
Edges zivra_frame(uint32_t scancode) {
  std::vector<std::pair<bool, int>> lv{{true, 4900}, {false, 4900}};
  for (int b = 19; b >= 12; --b) {
    lv.push_back({true, 840});
    lv.push_back({false, ((scancode >> b) & 1) ? 840 : 1680});
  }
  lv.push_back({false, 2800});
  for (int b = 11; b >= 0; --b) {
    const bool one = (scancode >> b) & 1;
    lv.push_back({!one, 840});
    lv.push_back({one, 840});
  }
  return merge_levels(lv);
}

TEST(Zivra, EncodeDecodeOfAnEvenId) {
  ir_packet pkt{};
  ASSERT_EQ(ir_encode(RC_PROTO_ZIVRA, 0x2A135, &pkt), 0);
  EXPECT_EQ(pkt.elapsed, 28);
  Edges e = edges_of(pkt);
  ASSERT_GE(e.size(), 4u);
  EXPECT_EQ((Edges{e[0], e[1], e[2], e[3]}), (Edges{4900, 4900, 840, 1680}));
  Edges hand = zivra_frame(0x2A135);
  EXPECT_EQ(Edges(e.begin(), e.begin() + static_cast<long>(hand.size())), hand);

  Decoded d = decode(e);
  ASSERT_EQ(d.rc, RC_PROTO_ZIVRA);
  EXPECT_EQ(d.p.scancode, 0x2A135u);
  EXPECT_EQ(desc(d.p), "ZIVRA-TV      -- ID: 0x2A DEV: 0x01 CMD: 0x35");
  EXPECT_EQ(d.p.len, 0);
  EXPECT_EQ(d.p.hash, ir_hash(e.data(), e.size(), 2400));
}

TEST(Zivra, OddIdLosesItsLowestBit) {
  Decoded d = decode(encode(RC_PROTO_ZIVRA, 0x2B135));
  EXPECT_NE(d.p.scancode, 0x2B135u);
  EXPECT_EQ(d.p.scancode >> 13, 0x2Bu >> 1);
}

TEST(Zivra, IdSpaceBoundary) {
  Edges e = zivra_frame(0x2A135);
  e[3] = 1259;
  EXPECT_EQ(decode_with("ZIVRA", e).p.scancode >> 19, 1u);
  e[3] = 1260;
  EXPECT_EQ(decode_with("ZIVRA", e).p.scancode >> 19, 0u);
}

TEST(Zivra, LongSpaceAfterTheIdCarriesBit11) {
  Edges zero = encode(RC_PROTO_ZIVRA, 0x2A035);
  Edges one = encode(RC_PROTO_ZIVRA, 0x2A835);
  EXPECT_EQ(zero[17], 4480);
  EXPECT_EQ(one[17], 5320);
  EXPECT_EQ(decode(zero).p.scancode, 0x2A035u);
  EXPECT_EQ(decode(one).p.scancode, 0x2A835u);
}

TEST(Zivra, DevicesWithoutAProfileShareOneLabel) {
  for (uint32_t dev = 9; dev <= 15; ++dev) {
    Decoded d = decode(encode(RC_PROTO_ZIVRA, 0x2A035 | (dev << 8)));
    ASSERT_EQ(d.rc, RC_PROTO_ZIVRA);
    char want[100];
    snprintf(want, sizeof want, "ZIVRA-OTHER   -- ID: 0x2A DEV: 0x%02X CMD: 0x35", dev);
    EXPECT_EQ(desc(d.p), want);
  }
}

// Amino capture as its decoder reads it: a bit equal to the one before is two half-bit
// intervals, a change is one full-bit interval.
Edges amino_capture(bool long_start, uint32_t value31) {
  Edges e{330, 330};
  int prev;
  int from = 30;
  if (long_start) {
    e.push_back(1000);  // a full interval: the first bit is the inverse of the assumed 1
    prev = 0;
    EXPECT_EQ((value31 >> 30) & 1, 0u);
    from = 29;
  } else {
    e.push_back(165);
    prev = 0;
  }
  for (int b = from; b >= 0; --b) {
    const int bit = (value31 >> b) & 1;
    if (bit == prev) {
      e.push_back(165);
      e.push_back(165);
    } else {
      e.push_back(450);
    }
    prev = bit;
  }
  e.push_back(165);
  return e;
}

TEST(Amino, DecodesAndHashesTheMeasuredEdges) {
  const uint32_t value = 0x2B5A3C69u & 0x7FFFFFFF;
  Edges e = amino_capture(false, value);
  LevelGuard g;
  set_loglevel(5);
  LogCapture cap;
  Direct r = decode_with("AMINO", e);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.p.protocol, RC_PROTO_AMINO);
  EXPECT_EQ(r.p.scancode, value);
  EXPECT_EQ(r.p.bits, 31u);
  EXPECT_NE(r.p.hash, 0u);
  EXPECT_EQ(r.p.hash, ir_hash(e.data(), e.size(), 2400));
  const std::string v = cap.text(5);
  EXPECT_NE(v.find("): T: 1\n"), std::string::npos);           // bit 27
  EXPECT_NE(v.find("): D: 2\n"), std::string::npos);           // bits 28-31
  EXPECT_NE(v.find("): C: 9\n"), std::string::npos);           // bits 0-3
  EXPECT_NE(v.find("): ?: 6\n"), std::string::npos);           // bits 4-7
  EXPECT_NE(v.find("): F: 0x3C\n"), std::string::npos);        // bits 8-15
  EXPECT_NE(v.find("): bits extracted: 31\n"), std::string::npos);
  EXPECT_EQ(desc(r.p), "AMINO         -- D: 2 F: 0x3C C: 9 T:1");
}

TEST(Amino, LongThirdEdgeStartsTheWalkThere) {
  const uint32_t value = 0x1234567u;  // bit 30 clear, as a long start implies
  Direct r = decode_with("AMINO", amino_capture(true, value));
  EXPECT_EQ(r.p.bits, 31u);
  EXPECT_EQ(r.p.scancode, value | 0x80000000u);  // the assumed leading 1 stays on top
}

// No built-in analyzer names Amino; a client's analyzer that does reaches the handler.
bool amino_wanted = false;
void amino_score(uint16_t, ir_t *, IR_PROTOCOL_ANALYZER *a) {
  if (!amino_wanted) a->acc = 60000;  // out at once
}
rc_proto amino_verdict(ir_t *, IR_PROTOCOL_ANALYZER *) { return RC_PROTO_AMINO; }
IR_PROTOCOL_ANALYZER amino_analyzer = {{}, "amino", amino_score, amino_verdict, nullptr, nullptr, 0, 0, 0};
struct protocol amino_record = {"iranalyzer", "AMINO", &amino_analyzer, {}};

TEST(Amino, ResultIsAcceptedThroughTheDecodePath) {
  ensure_registered();
  _register_protocol_iranalyzer(&amino_record);
  amino_wanted = true;
  Decoded d = decode(amino_capture(false, 0x2B5A3C69u));
  amino_wanted = false;
  EXPECT_EQ(d.rc, RC_PROTO_AMINO);
  EXPECT_EQ(d.p.scancode, 0x2B5A3C69u);
  EXPECT_NE(d.p.hash, 0u);
  // Other protocols are unaffected while the client's analyzer stays out.
  EXPECT_EQ(decode(encode(RC_PROTO_NEC, 0xF708FB04)).rc, RC_PROTO_NEC32);
}

TEST(Amino, HasNoEncoder) {
  LogCapture cap;
  ir_packet pkt{};
  EXPECT_EQ(ir_encode(RC_PROTO_AMINO, 1, &pkt), -1);
  EXPECT_NE(cap.text(1).find("): no tx function for prot: 34\n"), std::string::npos);
}

}  // namespace
