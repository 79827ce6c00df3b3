// Transmission through the registered raw-transmit callback: the frames handed over,
// their gaps and repeat counts, retries, and the one-second limit (on a fake clock).
#include <gtest/gtest.h>

#include "codec_support.h"
#include "fake_clock.h"
#include "tests/capture.h"

namespace {

using namespace codec_test;

struct Sent {
  Edges edges;
  uint16_t ik;
  uint8_t repeat;
};

std::vector<Sent> sent;
int calls = 0;
int fail_from = -1;   // calls from this index on fail (-1: never)
int fail_until = 0;   // calls below this index fail

int recorder(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  const int n = calls++;
  if (n < fail_until || (fail_from >= 0 && n >= fail_from)) return -5;
  sent.push_back({Edges(buf, buf + len), ik, repeat});
  return 0;
}

class Transmit : public ::testing::Test {
 protected:
  void SetUp() override {
    sent.clear();
    calls = 0;
    fail_from = -1;
    fail_until = 0;
    ASSERT_EQ(ir_register_tx(recorder), 0);
    fake_clock_start(1000);  // each clock read moves time on by 1 ms
  }
  void TearDown() override { fake_clock_stop(); }
};

TEST_F(Transmit, NecSendsTheFrameThenTheRepeatFrame) {
  EXPECT_EQ(ir_tx(RC_PROTO_NEC, 0xF708FB04, 7), 0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].edges, encode(RC_PROTO_NEC, 0xF708FB04));
  EXPECT_EQ(sent[0].ik, 40);
  EXPECT_EQ(sent[0].repeat, 1);
  EXPECT_EQ(sent[1].edges, (Edges{8992, 2248, 562}));
  EXPECT_EQ(sent[1].ik, 65);
  EXPECT_EQ(sent[1].repeat, 7);
  EXPECT_GE(fake_clock_elapsed_us(), 200000u);  // the pause after the frames
}

// A negative repeat count reaches the device as none, not as 8-bit 255-ish.
TEST_F(Transmit, NegativeRepeatIsNone) {
  for (rc_proto proto : {RC_PROTO_NEC, RC_PROTO_RC5, RC_PROTO_RC6_0, RC_PROTO_SONY12, RC_PROTO_PANASONIC}) {
    sent.clear();
    EXPECT_EQ(ir_tx(proto, 0x1234, -1), 0);
    ASSERT_FALSE(sent.empty()) << proto;
    EXPECT_EQ(sent.back().repeat, 0) << proto;
  }
}

TEST_F(Transmit, RetriesUntilTheCallbackTakesTheFrame) {
  fail_until = 3;
  LogCapture cap;
  EXPECT_EQ(ir_tx(RC_PROTO_NEC32, 0x12345678, 2), 0);
  EXPECT_EQ(calls, 5);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].edges.size(), 67u);
  EXPECT_EQ(cap.text(1), "");
}

// Calls the handler's transmitter itself.
int transmit_with(const char *name, rc_proto proto, uint32_t code, int rep) {
  const IR_PROTOCOL_HANDLER *h = handler(name);
  EXPECT_NE(h, nullptr);
  return h ? h->transmit(proto, code, rep) : -99;
}

// Refused tries are 10 ms apart within the second: about a hundred, not a
// million, with one line for the first and one count.
TEST_F(Transmit, FailingCallbackTimesOutAfterOneSecond) {
  fail_from = 0;
  LogCapture cap;
  EXPECT_EQ(transmit_with("NEC", RC_PROTO_NEC, 1, 1), -1);
  EXPECT_TRUE(sent.empty());
  EXPECT_GE(fake_clock_elapsed_us(), 990000u);
  EXPECT_LT(fake_clock_elapsed_us(), 1010000u);
  EXPECT_GE(calls, 50);
  EXPECT_LE(calls, 100);
  std::string w = cap.text(2);
  EXPECT_NE(w.find("): transmit refused: -5, retrying for up to a second\n"), std::string::npos);
  EXPECT_NE(w.find("): transmit refused " + std::to_string(calls) + " times\n"), std::string::npos);
  EXPECT_NE(cap.text(1).find("[E] lib/libcodara/protocols/nec nec_transmit("), std::string::npos);
  EXPECT_NE(cap.text(1).find("): timeout\n"), std::string::npos);
}

int gone(uint16_t *, uint16_t, uint16_t, uint8_t) {
  ++calls;
  return -19;
}

// No dongle: asking again can not help, so the first answer ends it.
TEST_F(Transmit, DeviceGoneEndsTheTransmitAtOnce) {
  ASSERT_EQ(ir_register_tx(gone), 0);
  LogCapture cap;
  EXPECT_EQ(transmit_with("NEC", RC_PROTO_NEC, 1, 1), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_LT(fake_clock_elapsed_us(), 10000u);
  EXPECT_NE(cap.text(1).find("): timeout\n"), std::string::npos);
  ASSERT_EQ(ir_register_tx(recorder), 0);
}

TEST_F(Transmit, NecRepeatFrameRetryIsBoundedToo) {
  fail_from = 1;  // the full frame goes out, the repeat frame never does
  LogCapture cap;
  EXPECT_EQ(transmit_with("NEC", RC_PROTO_NEC, 1, 4), -1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].edges.size(), 67u);
  EXPECT_LT(fake_clock_elapsed_us(), 1010000u);
  EXPECT_NE(cap.text(1).find("): timeout\n"), std::string::npos);
}

struct TxCase {
  const char *handler;
  rc_proto proto;
  uint32_t code;
  int rep;
  uint16_t ik;
  uint8_t passed_rep;
};

class TransmitEach : public Transmit, public ::testing::WithParamInterface<TxCase> {};

TEST_P(TransmitEach, OneFrameWithItsGapAndRepeatCount) {
  const TxCase &c = GetParam();
  EXPECT_EQ(transmit_with(c.handler, c.proto, c.code, c.rep), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].ik, c.ik);
  EXPECT_EQ(sent[0].repeat, c.passed_rep);
  // The frame is what the encoder builds (RC5 and RC6 differ only in their toggle).
  Decoded sent_frame = decode(sent[0].edges.size() % 2 ? sent[0].edges
                                                      : Edges(sent[0].edges.begin(), sent[0].edges.end() - 1));
  EXPECT_NE(sent_frame.rc, RC_PROTO_INVALID);
  EXPECT_EQ(sent_frame.p.scancode, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, TransmitEach,
    ::testing::Values(TxCase{"RC5", RC_PROTO_RC5, 0x0535, 4, 28, 4}, TxCase{"RC6", RC_PROTO_RC6_0, 0x800C, 2, 27, 2},
                      TxCase{"SONY", RC_PROTO_SONY12, 0x15u << 20, 1, 12, 3},  // Sony wants three
                      TxCase{"SONY", RC_PROTO_SONY15, 0x15u << 17, 0, 12, 0},
                      TxCase{"SONY", RC_PROTO_SONY20, 0x15u << 12, 300, 12, 44},  // narrowed to 8 bits
                      TxCase{"PANASONIC", RC_PROTO_PANASONIC, 0x00BD3D80, 5, 70, 5},
                      TxCase{"ZIVRA", RC_PROTO_ZIVRA, 0x2A135, 9, 28, 9}),
    [](const auto &info) { return std::string(info.param.handler) + std::to_string(info.index); });

TEST_F(Transmit, EveryTransmitterGivesUpAfterOneSecond) {
  fail_from = 0;
  for (auto [name, proto, code] : {std::tuple{"RC5", RC_PROTO_RC5, 1u}, std::tuple{"RC6", RC_PROTO_RC6_0, 1u},
                                   std::tuple{"SONY", RC_PROTO_SONY12, 1u},
                                   std::tuple{"PANASONIC", RC_PROTO_PANASONIC, 1u},
                                   std::tuple{"ZIVRA", RC_PROTO_ZIVRA, 1u}}) {
    fake_clock_start(1000);
    LogCapture cap;
    EXPECT_EQ(transmit_with(name, proto, code, 1), -1) << name;
    EXPECT_LT(fake_clock_elapsed_us(), 1010000u) << name;
    EXPECT_NE(cap.text(1).find("): timeout\n"), std::string::npos) << name;
  }
  EXPECT_TRUE(sent.empty());
}

TEST_F(Transmit, Rc5RefusesOtherProtocolsWithoutSending) {
  LogCapture cap;
  EXPECT_EQ(transmit_with("RC5", RC_PROTO_RC5_SZ, 1, 1), -1);
  EXPECT_EQ(calls, 0);
  EXPECT_NE(cap.text(1).find("[E] lib/libcodara/protocols/rc5 rc5_transmit("), std::string::npos);
  EXPECT_NE(cap.text(1).find("): unsupported encoder: 5\n"), std::string::npos);
}

TEST_F(Transmit, TransmitFlipsTheEncoderToggle) {
  ASSERT_EQ(transmit_with("RC6", RC_PROTO_RC6_0, 0x800C, 1), 0);
  Decoded after = decode(encode(RC_PROTO_RC6_0, 0x800C));
  ASSERT_EQ(sent.size(), 1u);
  Decoded tx = decode(sent[0].edges);
  EXPECT_EQ((tx.p.fullcode ^ after.p.fullcode), 1u << 16);
}

TEST_F(Transmit, XmpHasNothingToSend) {
  EXPECT_EQ(ir_tx(RC_PROTO_XMP, 1, 1), -1);  // refused, and said so
  EXPECT_EQ(calls, 0);
}

}  // namespace
