// A remote button pressed at a 4.9 dongle, streamed, polled and decoded.
#include <gtest/gtest.h>

#include "capture.h"
#include "codara/codara.h"
#include "dongle.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

class PressDecoded : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PressDecoded, GivesThePressedScancode) {
  const uint32_t scancode = GetParam();
  ir_packet frame{};
  ASSERT_EQ(ir_encode(RC_PROTO_NEC, scancode, &frame), 0);
  Dongle d(9);
  d.press(std::vector<uint16_t>(frame.buf, frame.buf + frame.len), 120);
  ir_packet p{};
  int rc = 0;
  for (int i = 0; i < 5 && rc == 0; ++i) rc = zv_ir_packet_poll(&p);
  ASSERT_EQ(rc, 1);
  ASSERT_EQ(p.len, frame.len);
  LevelGuard g;
  set_loglevel(0);
  ir_prot out{};
  int proto = ir_decode_packet(&p, &out);
  EXPECT_NE(proto, -1);
  EXPECT_NE(proto, 1);
  EXPECT_EQ(out.scancode, scancode);
  EXPECT_NE(out.hash, 0u);
}

// Plain NEC, NEC with an extended address, and a 32-bit code.
INSTANTIATE_TEST_SUITE_P(Codes, PressDecoded, ::testing::Values(0xF708FB04u, 0xE51A1234u, 0x12345678u));

}  // namespace
