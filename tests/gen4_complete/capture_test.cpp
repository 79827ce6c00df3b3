// Raw IR captures streamed in input report 7 from revision 4.9 on.
#include <gtest/gtest.h>

#include "capture.h"
#include "codara/codara.h"
#include "dongle.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

std::vector<uint8_t> report(bool first, const std::vector<uint16_t> &d, uint16_t elapsed = 0) {
  std::vector<uint8_t> r(65, 0);
  r[0] = 7;
  size_t at = first ? 5 : 2;
  if (first) {
    r[3] = static_cast<uint8_t>(elapsed);
    r[4] = static_cast<uint8_t>(elapsed >> 8);
  } else {
    r[1] = 0x80;
  }
  for (size_t i = 0; i < d.size(); ++i) {
    r[at + 2 * i] = static_cast<uint8_t>(d[i]);
    r[at + 2 * i + 1] = static_cast<uint8_t>(d[i] >> 8);
  }
  return r;
}

std::vector<uint16_t> durations(size_t n, uint16_t base) {
  std::vector<uint16_t> v;
  for (size_t i = 0; i < n; ++i) v.push_back(static_cast<uint16_t>(base + i));
  return v;
}

TEST(Capture, FortyDurationsOverTwoReports) {
  Dongle d(9);
  auto all = durations(40, 500);
  d.queue_report(report(true, {all.begin(), all.begin() + 30}, 0x1234));
  std::vector<uint16_t> rest(all.begin() + 30, all.end());
  rest.push_back(0);
  d.queue_report(report(false, rest));
  ir_packet p{};
  EXPECT_EQ(zv_ir_packet_poll(&p), 0);
  EXPECT_EQ(p.len, 30);
  EXPECT_EQ(p.elapsed, 0x1234);
  EXPECT_EQ(zv_ir_packet_poll(&p), 1);
  ASSERT_EQ(p.len, 40);
  EXPECT_EQ(std::vector<uint16_t>(p.buf, p.buf + 40), all);
}

TEST(Capture, NoReportAndDropOff) {
  Dongle d(10);
  ir_packet p{};
  EXPECT_EQ(zv_ir_packet_poll(&p), 0);
  d.unplug();
  LogCapture cap;
  EXPECT_EQ(zv_ir_packet_poll(&p), -1);
  EXPECT_EQ(zv_ir_packet_poll(&p), -1);
  EXPECT_NE(cap.text(1).find("Device Closed, Watiing...\n"), std::string::npos);
}

TEST(Capture, AReportOfAnotherIdIsNoPacket) {
  Dongle d(9);
  std::vector<uint8_t> stray(65, 0);
  stray[0] = 5;  // a late 64-byte command reply
  stray[1] = 'x';
  d.queue_report(stray);
  ir_packet p{};
  p.len = 7;
  LogCapture cap;
  EXPECT_EQ(zv_ir_packet_poll(&p), 0);
  EXPECT_EQ(p.len, 7);
  EXPECT_NE(cap.text(1).find("wrong report id 7 != 5\n"), std::string::npos) << cap.text(1);
  // The stream goes on undisturbed.
  d.press({9000, 4500, 560}, 5);
  EXPECT_EQ(zv_ir_packet_poll(&p), 1);
  EXPECT_EQ(p.len, 3);
}

TEST(Capture, FullArrayWithoutEndMarkIsComplete) {
  Dongle d(9);
  d.queue_report(report(true, durations(30, 1000)));
  for (int i = 0; i < 9; ++i) d.queue_report(report(false, durations(31, 2000)));
  ir_packet p{};
  p.buf[255] = 0;
  int rc = 0, polls = 0;
  while ((rc = zv_ir_packet_poll(&p)) == 0 && polls < 20) ++polls;
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(p.len, 256);
  // The first report and seven continuations (30 + 7 * 31 = 247) continue the
  // capture; the eighth continuation fills the array.
  EXPECT_EQ(polls, 8);
  // The rest of that overlong capture is not appended anywhere.
  EXPECT_EQ(zv_ir_packet_poll(&p), 0);
  EXPECT_EQ(p.len, 256);
}

TEST(Capture, PressStreamsItsEdgesWithAnEndMark) {
  Dongle d(9);
  // A NEC frame for address 0x04, command 0x08: leader, 32 bits, stop mark.
  std::vector<uint16_t> e = {9000, 4500};
  uint32_t bits = 0x04 | (0xFBu << 8) | (0x08u << 16) | (0xF7u << 24);
  for (int i = 0; i < 32; ++i) {
    e.push_back(560);
    e.push_back(bits >> i & 1 ? 1690 : 560);
  }
  e.push_back(560);
  d.press(e, 40);
  ir_packet p{};
  int rc = 0;
  for (int i = 0; i < 5 && rc == 0; ++i) rc = zv_ir_packet_poll(&p);
  ASSERT_EQ(rc, 1);
  ASSERT_EQ(p.len, e.size());
  EXPECT_EQ(std::vector<uint16_t>(p.buf, p.buf + p.len), e);
  EXPECT_EQ(p.elapsed, 40);
}

}  // namespace
