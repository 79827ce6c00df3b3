// Sony, Panasonic and XMP: hand-built frames of each form, their checks and
// warnings, and the Sony and Panasonic encoders.
#include <gtest/gtest.h>

#include <array>

#include "codec_support.h"
#include "tests/capture.h"

namespace {

using namespace codec_test;

// Sony by hand: leader, then one mark per bit (1200 a 1, 600 a 0) each followed by a
// 600 space, least significant bit of each field first; no space after the last mark.
Edges sony_frame(const std::vector<std::pair<uint32_t, int>> &fields) {
  Edges e{2400, 600};
  for (auto [value, width] : fields)
    for (int b = 0; b < width; ++b) {
      e.push_back(((value >> b) & 1) ? 1200 : 600);
      e.push_back(600);
    }
  e.pop_back();
  return e;
}

struct SonyCase {
  const char *name;
  Edges edges;
  rc_proto proto;
  uint32_t scancode;
  const char *desc;
};

class SonyForms : public ::testing::TestWithParam<SonyCase> {};

TEST_P(SonyForms, DecodeByEdgeCount) {
  const SonyCase &c = GetParam();
  Decoded d = decode(c.edges);
  ASSERT_EQ(d.rc, c.proto);
  EXPECT_EQ(d.p.scancode, c.scancode);
  EXPECT_EQ(desc(d.p), c.desc);
  EXPECT_EQ(d.p.bits, (c.edges.size() - 1) / 2);
  EXPECT_EQ(d.p.buf[d.p.len + 1], 12);
  EXPECT_EQ(d.p.hash, ir_hash(d.p.buf, d.p.len, 2100));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SonyForms,
    ::testing::Values(
        SonyCase{"Sony12", sony_frame({{0x15, 7}, {0x01, 5}}), RC_PROTO_SONY12, (0x15u << 20) | (0x01u << 27),
                 "SONY{12}      -- Device: 0x1 Function: 0x15"},
        SonyCase{"Sony15", sony_frame({{0x2A, 7}, {0x97, 8}}), RC_PROTO_SONY15, (0x2Au << 17) | (0x97u << 24),
                 "SONY{15}      -- Device: 0x97 Function: 0x2A"},
        SonyCase{"Sony20", sony_frame({{0x39, 7}, {0x1A, 5}, {0xC3, 8}}), RC_PROTO_SONY20,
                 (0x39u << 12) | (0x1Au << 19) | (0xC3u << 24),
                 "SONY{20}      -- Device: 0x1A Sub-Device: 0xC3 Function: 0x39"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Sony, OtherBitCountsWarnWithTheEdgeCount) {
  Edges e = sony_frame({{0x15, 7}, {0x21, 6}});
  ASSERT_EQ(e.size(), 27u);
  {
    LogCapture cap;
    EXPECT_EQ(decode_with("SONY", e).rc, -1);
    EXPECT_NE(cap.text(2).find("[W] lib/libcodara/protocols/sony ir_sony_decode("), std::string::npos);
    EXPECT_NE(cap.text(2).find("): Sony invalid bitcount 27\n"), std::string::npos);
  }
  EXPECT_EQ(decode(e).rc, RC_PROTO_INVALID);
}

TEST(Sony, EncoderSendsTheTopBitsOfTheScancode) {
  ir_packet pkt{};
  ASSERT_EQ(ir_encode(RC_PROTO_SONY12, (0x15u << 20) | (0x01u << 27) | 0xFFFFF, &pkt), 0);
  EXPECT_EQ(edges_of(pkt), sony_frame({{0x15, 7}, {0x01, 5}}));
  EXPECT_EQ(pkt.len, 25);
  EXPECT_EQ(pkt.buf[25], 0);
  EXPECT_EQ(pkt.elapsed, 12);
  // Bits below 32 - k are not sent, so they do not come back.
  EXPECT_EQ(decode(edges_of(pkt)).p.scancode, (0x15u << 20) | (0x01u << 27));
}

TEST(Sony, EncoderOfAnotherProtocolGivesTheLeaderMarkOnly) {
  const IR_PROTOCOL_HANDLER *h = handler("SONY");
  ASSERT_NE(h, nullptr);
  LogCapture cap;
  ir_packet pkt{};
  EXPECT_EQ(h->encode(RC_PROTO_NEC, 0x12345678, &pkt), 0);
  EXPECT_EQ(pkt.len, 1);
  EXPECT_EQ(pkt.buf[0], 2400);
  EXPECT_EQ(pkt.elapsed, 12);
  EXPECT_NE(cap.text(1).find("): unsupported protocol: 10\n"), std::string::npos);
}

// Panasonic by hand: six bytes least significant bit first, 1335 spaces for ones.
Edges panasonic_frame(const std::vector<uint8_t> &bytes) {
  return pulse_distance(3600, 1600, lsb_first(bytes), 445, 445, 1335, 400);
}

TEST(Panasonic, DecodesFieldsAndIgnoresTheCheckByte) {
  Decoded d = decode(panasonic_frame({0x02, 0x20, 0x80, 0x3D, 0xBD, 0x00}));  // check byte wrong
  ASSERT_EQ(d.rc, RC_PROTO_PANASONIC);
  EXPECT_EQ(d.p.scancode, 0x00BD3D80u);
  EXPECT_EQ(desc(d.p), "PANASONIC     -- D: 0x80 S: 0x3D F: 0xBD");
  EXPECT_EQ(d.p.fullcode >> 40, 0x40u);  // C0 = 0x02 received lsb first
  EXPECT_EQ(d.p.bits, 48u);
  EXPECT_EQ(d.p.buf[0], 3600);
  EXPECT_EQ(d.p.buf[98], 445);
  EXPECT_EQ(d.p.buf[100], 70);
  EXPECT_EQ(d.p.hash, ir_hash(d.p.buf, 99, 3000));
}

TEST(Panasonic, EitherMakerByteRightIsEnough) {
  EXPECT_EQ(decode(panasonic_frame({0x02, 0x21, 1, 2, 3, 0})).rc, RC_PROTO_PANASONIC);
  EXPECT_EQ(decode(panasonic_frame({0x03, 0x20, 1, 2, 3, 0})).rc, RC_PROTO_PANASONIC);
  LogCapture cap;
  EXPECT_EQ(decode_with("PANASONIC", panasonic_frame({0x03, 0x21, 1, 2, 3, 0})).rc, -1);
  EXPECT_NE(cap.text(1).find("): invalid panasonic code\n"), std::string::npos);
  EXPECT_EQ(decode(panasonic_frame({0x03, 0x21, 1, 2, 3, 0})).rc, RC_PROTO_INVALID);
}

TEST(Panasonic, NinetySevenEdgesAreRejected) {
  Edges e = panasonic_frame({0x02, 0x20, 1, 2, 3, 0});
  e.resize(97);
  LogCapture cap;
  EXPECT_EQ(decode_with("PANASONIC", e).rc, -1);
  EXPECT_NE(cap.text(1).find("[E] lib/libcodara/protocols/panasonic panasonic_decode("), std::string::npos);
  EXPECT_NE(cap.text(1).find("): invalid number of bits\n"), std::string::npos);
}

TEST(Panasonic, EncoderSendsMakerCodeThenScancode) {
  ir_packet pkt{};
  ASSERT_EQ(ir_encode(RC_PROTO_PANASONIC, 0x5AF00D80, &pkt), 0);
  EXPECT_EQ(pkt.len, 99);
  EXPECT_EQ(pkt.elapsed, 70);
  EXPECT_EQ(edges_of(pkt), panasonic_frame({0x02, 0x20, 0x80, 0x0D, 0xF0, 0x5A}));
}

// XMP by hand: nibble n is a 210 mark with a 760 + 136 n space; the halves are
// separated by a long gap.
Edges xmp_frame(const std::array<int, 16> &nib) {
  Edges e;
  for (int k = 0; k < 16; ++k) {
    if (k == 8) {
      e.push_back(210);
      e.push_back(13800);
    }
    e.push_back(210);
    e.push_back(static_cast<uint16_t>(760 + 136 * nib[k]));
  }
  e.push_back(210);
  return e;
}

// Sub-address 0x1?, OEM 0x44, device 0x5B, toggle 0, OBC 0x3C / 0x7E; nibbles 1 and 9
// make each half's checksum come out right.
std::array<int, 16> xmp_nibbles() {
  std::array<int, 16> n{0x1, 0, 0x2, 0x0, 0x4, 0x4, 0x5, 0xB, 0x1, 0, 0x0, 0x2, 0x3, 0xC, 0x7, 0xE};
  int s1 = 0, s2 = 0;
  for (int k = 0; k < 8; ++k) {
    s1 += n[k];
    s2 += n[8 + k];
  }
  n[1] = (16 - s1 % 16) % 16;
  n[9] = (16 - s2 % 16) % 16;
  return n;
}

TEST(Xmp, DecodesNibbleFields) {
  LogCapture cap;
  Decoded d = decode(xmp_frame(xmp_nibbles()));
  ASSERT_EQ(d.rc, RC_PROTO_XMP);
  EXPECT_EQ(d.p.scancode, (0x5Bu << 24) | (0x12u << 16) | (0x3Cu << 8) | 0x7Eu);
  EXPECT_EQ(desc(d.p), "XMP-1         -- Dev: 0x5B OBC: 0x007E003C T:0");
  EXPECT_EQ(d.p.len, 0);
  EXPECT_EQ(d.p.hash, ir_hash(xmp_frame(xmp_nibbles()).data(), 35, 2200));
  EXPECT_EQ(cap.text(1), "");
  EXPECT_EQ(cap.text(2), "");
}

TEST(Xmp, NibbleValuesFromMarkPlusSpace) {
  std::array<int, 16> n = xmp_nibbles();
  Edges e = xmp_frame(n);
  e[26] = 210;  // nibble 12 (OBC1 high): 210 + 2800 is 15
  e[27] = 2800;
  e[28] = 210;  // nibble 13: 210 + 760 is 0
  e[29] = 760;
  Direct r = decode_with("XMP", e);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ((r.p.scancode >> 8) & 0xFF, 0xF0u);
}

TEST(Xmp, FifteenNibblesAreRejected) {
  Edges e = xmp_frame(xmp_nibbles());
  e.resize(e.size() - 2);
  LogCapture cap;
  EXPECT_EQ(decode_with("XMP", e).rc, -1);
  EXPECT_NE(cap.text(1).find("): invalid bit count: 15, expected 16\n"), std::string::npos);
}

TEST(Xmp, BadChecksumIsLoggedButDecodes) {
  std::array<int, 16> n = xmp_nibbles();
  n[13] = (n[13] + 1) % 16;  // breaks the second half's sum
  LogCapture cap;
  Decoded d = decode(xmp_frame(n));
  EXPECT_EQ(d.rc, RC_PROTO_XMP);
  EXPECT_NE(cap.text(1).find("[E] lib/libcodara/protocols/xmp ir_xmp_decode("), std::string::npos);
  EXPECT_NE(cap.text(1).find("): checksum errors sum1=0xF sum2=0x0\n"), std::string::npos);
}

TEST(Xmp, SubaddressAndOemMismatchesWarn) {
  std::array<int, 16> n = xmp_nibbles();
  n[4] = 5;  // OEM 0x54
  n[1] = (n[1] + 15) % 16;
  n[11] = 3;  // second sub-address 0x13
  n[9] = (n[9] + 15) % 16;
  LogCapture cap;
  Decoded d = decode(xmp_frame(n));
  EXPECT_EQ(d.rc, RC_PROTO_XMP);
  EXPECT_EQ(cap.text(1), "");
  EXPECT_NE(cap.text(2).find("): subaddress nibbles mismatch 0x12 != 0x13\n"), std::string::npos);
  EXPECT_NE(cap.text(2).find("): Warning: OEM nibbles 0x54. Expected 0x44\n"), std::string::npos);
}

TEST(Xmp, EncodingIsNotSupported) {
  ir_packet pkt{};
  pkt.len = 5;
  const IR_PROTOCOL_HANDLER *h = handler("XMP");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->encode(RC_PROTO_XMP, 1, &pkt), -1);
  EXPECT_EQ(h->transmit(RC_PROTO_XMP, 1, 1), -1);
  EXPECT_EQ(pkt.len, 5);
  EXPECT_EQ(ir_encode(RC_PROTO_XMP, 1, &pkt), -1);  // the encoder's refusal reaches the caller
}

}  // namespace
