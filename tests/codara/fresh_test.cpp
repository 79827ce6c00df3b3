// The library before its one-time registration has run: each test needs a process
// of its own (ctest runs every test separately).
#include <gtest/gtest.h>

#include "tests/codara/support.h"

namespace {

TEST(BeforeRegistration, TxFindsNoHandlerAndSaysNothing) {
  LogCapture cap;
  EXPECT_EQ(ir_tx(RC_PROTO_NEC, 0x1234, 1), -1);
  EXPECT_EQ(cap.all(), "");
  std::vector<uint16_t> e{9000, 4500, 560};
  EXPECT_EQ(analyze_protocol(e.data(), 3), RC_PROTO_UNKNOWN);  // no analyzer yet
  EXPECT_EQ(unknown, nullptr);
}

TEST(BeforeRegistration, TransmitWithoutCallbackIsRefused) {
  LogCapture cap;
  uint16_t frame[] = {9000, 4500, 560};
  EXPECT_EQ(_transmit_raw(frame, 3, 40, 1), -1);
  EXPECT_EQ(codara_test::unlined(cap.text(1)),
            "[E] lib/libcodara/protocols _transmit_raw(#): No IR transmit callback registered\n");
}

// Registered handlers but no callback: a transmitter gives up at once, with one
// line, instead of retrying (and logging) for a second.
TEST(AfterRegistration, TransmitterWithoutCallbackGivesUpAtOnce) {
  ir_packet frame{};
  ASSERT_EQ(ir_encode(RC_PROTO_NEC, 0x1234, &frame), 0);  // registers
  LogCapture cap;
  EXPECT_EQ(ir_tx(RC_PROTO_NEC, 0x1234, 0), -1);  // the transmitter's failure
  EXPECT_EQ(codara_test::unlined(cap.text(1)),
            "[E] lib/libcodara/protocols _transmit_raw(#): No IR transmit callback registered\n"
            "[E] lib/libcodara/protocols/nec nec_transmit(#): timeout\n");
}

}  // namespace
