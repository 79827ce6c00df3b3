// IR hash and Pronto form.
#include <gtest/gtest.h>

#include "tests/codara/support.h"

using namespace codara_test;

namespace {

std::vector<uint16_t> selftest(int which) {
  std::vector<uint16_t> s{0,   4900, 4900, 840, 1680, 840, 1680, 840, 1680, 840, 840,
                          840, 1680, 840,  1680, 840, 1680, 840, 6580, 840, 840, 840,
                          840, 840,  840,  840,  1680, 840, 840, 840,  840, 840, 840};
  if (which == 0) s.insert(s.end(), {1680, 840, 840, 840, 840, 840, 840});
  if (which == 1) s.insert(s.end(), {1680, 1680, 1680, 1680, 840});
  if (which == 2) s.insert(s.end(), 9, 840);
  return s;
}

TEST(IrHash, DeviceSelfTestSignals) {
  const uint32_t want[] = {0x880AE241, 0x1761D726, 0xE5B3988E};
  const size_t sizes[] = {40, 38, 42};
  for (int i = 0; i < 3; ++i) {
    auto s = selftest(i);
    ASSERT_EQ(s.size(), sizes[i]);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(ir_hash(s.data(), s.size(), 2400), want[i]) << "test" << i;
  }
}

TEST(IrHash, Djb2OfSymbols) {
  std::vector<uint16_t> sls{100, 1000, 100};
  EXPECT_EQ(ir_hash(sls.data(), 3, 2400), 193469975u);
  EXPECT_EQ(djb2("SLS"), 193469975u);
  // An edge equal to the max edge is classified; one above it is a gap.
  std::vector<uint16_t> e{2400, 500, 2400, 500, 2401, 500};
  EXPECT_EQ(ir_hash(e.data(), e.size(), 2400), djb2("LSLSGS"));
}

TEST(IrHash, CleanedNecFrameWith2100) {
  std::vector<uint16_t> e{9024, 4500};
  std::string sym = "GG";
  const uint32_t code = 0xF708FB04;
  for (int b = 0; b < 32; ++b) {
    e.push_back(564);
    e.push_back((code >> b) & 1 ? 1692 : 564);
    sym += (code >> b) & 1 ? "SL" : "SS";
  }
  e.push_back(564);
  sym += "S";
  ASSERT_EQ(sym.size(), 67u);
  EXPECT_EQ(ir_hash(e.data(), e.size(), 2100), djb2(sym));
}

TEST(IrHash, JitterOnTheSameSideHashesEqual) {
  auto a = nec_frame(0x12345678);
  auto b = a;
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint16_t>(b[i] + (i % 3 == 0 ? 60 : -45));
  EXPECT_EQ(ir_hash(a.data(), a.size(), 2100), ir_hash(b.data(), b.size(), 2100));
  EXPECT_NE(ir_hash(a.data(), a.size(), 2100), 0u);
}

TEST(IrHash, UnsplittableListsAreInvalid) {
  LogCapture cap;
  std::vector<uint16_t> equal{900, 500, 500, 500, 500};
  EXPECT_EQ(ir_hash(equal.data(), equal.size(), 2400), 0u);
  std::vector<uint16_t> one{500};
  EXPECT_EQ(ir_hash(one.data(), 1, 2400), 0u);
  EXPECT_EQ(ir_hash(one.data(), 0, 2400), 0u);
  std::vector<uint16_t> gaps{500, 3000, 3000, 3000};  // nothing classifiable
  EXPECT_EQ(ir_hash(gaps.data(), gaps.size(), 2400), 0u);
  const std::string line = "[E] lib/libcodara/ir_hash ir_hash(#): Invalid Protocol\n";
  EXPECT_EQ(unlined(cap.text(1)), line + line + line + line);
}

TEST(IrHash, NoLengthLimit) {
  // 400 edges: longer than any capture record, hashed without a symbol buffer.
  std::vector<uint16_t> e;
  std::string sym;
  for (int i = 0; i < 400; ++i) {
    const bool l = i % 5 == 2;
    e.push_back(l ? 1600 : 500);
    sym += l ? 'L' : 'S';
  }
  EXPECT_EQ(ir_hash(e.data(), e.size(), 2400), djb2(sym));
  // The first 255 edges hash as they always did.
  EXPECT_EQ(ir_hash(e.data(), 255, 2400), djb2(sym.substr(0, 255)));
}

ir_prot cleaned(rc_proto proto, const std::vector<uint16_t> &edges) {
  ir_prot p{};
  p.protocol = proto;
  std::copy(edges.begin(), edges.end(), p.buf);
  p.len = static_cast<uint16_t>(edges.size());
  return p;
}

TEST(Pronto, NecFamilyAppendsTheRepeatSequence) {
  std::vector<uint16_t> e{9024, 4500};
  for (int i = 0; i < 64; ++i) e.push_back(i % 4 == 3 ? 1692 : 564);
  e.push_back(564);
  for (rc_proto proto : {RC_PROTO_NEC, RC_PROTO_NEC32, RC_PROTO_NEC_APPLE}) {
    ir_prot p = cleaned(proto, e);
    pronto_encode(&p, 0);
    ASSERT_EQ(p.pronto_len, 4 + 67 + 5);
    EXPECT_EQ(std::vector<uint16_t>(p.pronto, p.pronto + 4), (std::vector<uint16_t>{0, 109, 34, 2}));
    EXPECT_EQ(p.pronto[4], 9024 / 26);
    EXPECT_EQ(p.pronto[5], 4500 / 26);
    EXPECT_EQ(p.pronto[4 + 66], 564 / 26);
    EXPECT_EQ(std::vector<uint16_t>(p.pronto + 71, p.pronto + 76),
              (std::vector<uint16_t>{1521, 342, 86, 21, 3658}));
  }
}

TEST(Pronto, OthersCloseWithTheKeyGap) {
  std::vector<uint16_t> e{889, 889, 1778, 889, 889};
  ir_prot p = cleaned(RC_PROTO_NECX, e);  // NECX has no repeat sequence
  pronto_encode(&p, 28);
  ASSERT_EQ(p.pronto_len, 4 + 5 + 1);
  EXPECT_EQ(std::vector<uint16_t>(p.pronto, p.pronto + 10),
            (std::vector<uint16_t>{0, 109, 3, 0, 34, 34, 68, 34, 34, 1076}));
}

// Every form is whole burst pairs: as many words follow the header as its two
// pair counts announce, also for a frame that ends in a space.
TEST(Pronto, AnnouncedPairsMatchTheWordsWritten) {
  for (rc_proto proto : {RC_PROTO_RC5, RC_PROTO_NEC}) {
    for (size_t n = 1; n <= 12; ++n) {
      std::vector<uint16_t> e(n, 889);
      for (size_t i = 1; i < n; i += 3) e[i] = 1778;
      ir_prot p = cleaned(proto, e);
      pronto_encode(&p, 28);
      EXPECT_EQ(p.pronto_len - 4u, 2u * (p.pronto[2] + p.pronto[3])) << n;
      // The closing gap follows the last mark.
      size_t gap_at = 4 + (n % 2 ? n : n - 1);
      EXPECT_EQ(p.pronto[gap_at], proto == RC_PROTO_NEC ? 1521 : 1076) << n;
      EXPECT_EQ(p.pronto[gap_at - 1], e[(n % 2 ? n : n - 1) - 1] / 26) << n;
    }
  }
}

TEST(Pronto, NoGapGives50msAndAnInfoLine) {
  LevelGuard lg;
  set_loglevel(3);
  LogCapture cap;
  ir_prot p = cleaned(RC_PROTO_RC5, {889, 1778, 889});
  pronto_encode(&p, 0);
  ASSERT_EQ(p.pronto_len, 8);
  EXPECT_EQ(p.pronto[7], 1923);
  EXPECT_EQ(unlined(cap.text(3)), "[I] lib/libcodara/pronto pronto_encode(#): ik_delay = 0\n");
}

TEST(Pronto, AppendsAtProntoLen) {
  ir_prot p = cleaned(RC_PROTO_SONY12, {2400, 600, 1200});
  p.pronto_len = 10;
  pronto_encode(&p, 12);
  ASSERT_EQ(p.pronto_len, 10 + 4 + 3 + 1);
  EXPECT_EQ(p.pronto[10], 0);
  EXPECT_EQ(p.pronto[12], 2);  // 3 / 2 + 1
  EXPECT_EQ(p.pronto[17], 12000 / 26);
}

TEST(Pronto, AFormThatDoesNotFitIsCutAtTheArrayEnd) {
  std::vector<uint16_t> e(255, 560);
  for (rc_proto proto : {RC_PROTO_RC6_0, RC_PROTO_NEC}) {
    ir_prot p = cleaned(proto, e);
    pronto_encode(&p, 0);
    // pronto_len follows the array: a write past its end would show here.
    EXPECT_EQ(p.pronto_len, 256);
    EXPECT_EQ(p.pronto[255], 560 / 26);  // edge 251: the last one that fits
    // The header announces the 126 pairs written, not the 128 of the frame.
    EXPECT_EQ(p.pronto[2], 126) << proto;
    EXPECT_EQ(p.pronto[3], 0) << proto;
  }
  // Cut after an odd start: the half pair at the end is not counted.
  ir_prot odd = cleaned(RC_PROTO_RC6_0, e);
  odd.pronto_len = 1;
  pronto_encode(&odd, 0);
  EXPECT_EQ(odd.pronto_len - 1u - 4u, 2u * (odd.pronto[1 + 2] + odd.pronto[1 + 3]));
  EXPECT_EQ(odd.pronto_len, 255);
  // Already full: nothing more is written.
  ir_prot p = cleaned(RC_PROTO_RC6_0, {1, 2, 3});
  p.pronto_len = 256;
  pronto_encode(&p, 0);
  EXPECT_EQ(p.pronto_len, 256);
}

}  // namespace
