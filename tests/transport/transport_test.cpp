// The command and data exchanges against the scripted dongle.
#include <dlfcn.h>
#include <malloc.h>

#include "tests/transport/fixture.h"

namespace {

using zivra_sim::Fault;

TEST_F(SimTest, GetversionGoesOutAs33BytesAndReplyPayloadComesBack) {
  auto m = open_hid();
  m->set_reply("getversion", 0, {4, 10, 2, 0xAA});
  uint8_t buf[32];
  for (int i = 0; i < 32; ++i) buf[i] = static_cast<uint8_t>(0x40 + i);
  ASSERT_EQ(dev_send_cmd(dev_, "getversion", buf, 32), 0);
  auto w = writes();
  ASSERT_EQ(w.size(), 1u);
  Bytes want = {0x02, 'g', 'e', 't', 'v', 'e', 'r', 's', 'i', 'o', 'n', 0, 0};
  for (int i = 0; i < 20; ++i) want.push_back(static_cast<uint8_t>(0x40 + i));
  EXPECT_EQ(w[0].data, want);
  Bytes got(buf, buf + 32), exp(32, 0);
  exp[0] = 4, exp[1] = 10, exp[2] = 2, exp[3] = 0xAA;
  EXPECT_EQ(got, exp);  // 20 reply bytes then 12 zeros
  auto r = zivra_sim::trace_of(zivra_sim::TraceEntry::HidRead);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data.size(), 33u);
  EXPECT_EQ(r[0].data[0], 1);
  EXPECT_EQ(r[0].timeout_ms, 10000);
}

TEST_F(SimTest, SixtyFourByteCommandUsesReport6AndReport5) {
  auto m = open_hid();
  Bytes payload(52);
  for (int i = 0; i < 52; ++i) payload[i] = static_cast<uint8_t>(i + 1);
  m->set_reply("readcfg", 0, payload);
  uint8_t buf[64] = {9, 8, 7};
  ASSERT_EQ(dev_send_cmd(dev_, "readcfg", buf, 64), 0);
  auto w = writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].data.size(), 65u);
  EXPECT_EQ(w[0].data[0], 6);
  EXPECT_EQ(w[0].data[13], 9);
  EXPECT_EQ(Bytes(buf, buf + 52), payload);
  EXPECT_EQ(Bytes(buf + 52, buf + 64), Bytes(12, 0));
}

TEST_F(SimTest, ReplyOnWrongReportIdFails) {
  auto m = open_hid();
  m->set_reply("readcfg", 0);
  auto f = zivra_sim::fault_on(Fault::WrongReportId, "readcfg");
  f.report_id = 1;
  zivra_sim::add_fault(f);
  LogCapture cap;
  uint8_t buf[64] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "readcfg", buf, 64), -1);
  EXPECT_NE(cap.text(1).find("): Wrong report exp: 5 != 1\n"), std::string::npos) << cap.text(1);
  EXPECT_NE(cap.text(1).find("): recv timeout\n"), std::string::npos);
}

TEST_F(SimTest, NoReplyTimesOutAfterTenSimulatedSeconds) {
  auto m = open_hid();
  m->answer_unknown(false);
  LogCapture cap;
  uint64_t t0 = zivra_sim::now_us();
  uint8_t buf[32] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "nothing", buf, 32), -1);
  uint64_t dt = zivra_sim::now_us() - t0;
  EXPECT_GE(dt, 10000000u);
  EXPECT_LT(dt, 10100000u);
  std::string e = cap.text(1);
  EXPECT_NE(e.find("hid_recv_packet("), std::string::npos);
  EXPECT_NE(e.find("): Wrong response length = 0\n"), std::string::npos) << e;
  EXPECT_NE(e.find("): _recv_packet: recv packet error = -1\n"), std::string::npos) << e;
}

struct StatusCase {
  uint8_t status;
  const char *message;
};
void PrintTo(const StatusCase &c, std::ostream *os) { *os << "status" << int(c.status); }
class StatusTest : public SimTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, NonZeroStatusFailsAndLeavesBuffer) {
  auto m = open_hid();
  m->set_reply("getstate", GetParam().status, {1, 2, 3});
  LogCapture cap;
  uint8_t buf[32];
  memset(buf, 0x5A, sizeof buf);
  EXPECT_EQ(dev_send_cmd(dev_, "getstate", buf, 32), -1);
  EXPECT_EQ(Bytes(buf, buf + 32), Bytes(32, 0x5A));
  EXPECT_NE(cap.text(1).find(GetParam().message), std::string::npos) << cap.text(1);
}
INSTANTIATE_TEST_SUITE_P(Statuses, StatusTest,
                         ::testing::Values(StatusCase{0xFE, "): Command getstate not found\n"},
                                           StatusCase{0xFF, "): Command getstate reported error: 255\n"},
                                           StatusCase{0x07, "): Unknown command getstate error\n"}));

TEST_F(SimTest, StaleEchoFailsWithoutReadingAgain) {
  auto m = open_hid();
  m->set_reply("getstate", 0);
  auto f = zivra_sim::fault_on(Fault::EchoWord, "getstate");
  f.echo = "getversion";
  zivra_sim::add_fault(f);
  LogCapture cap;
  uint8_t buf[32] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "getstate", buf, 32), -1);
  EXPECT_NE(cap.text(1).find("): Wrong response: 'getversion' != 'getstate'\n"), std::string::npos);
  EXPECT_EQ(zivra_sim::trace_of(zivra_sim::TraceEntry::HidRead).size(), 1u);
  // The fault was one-shot: the next exchange is clean.
  EXPECT_EQ(dev_send_cmd(dev_, "getstate", buf, 32), 0);
}

TEST_F(SimTest, LateReplyBreaksTheNextExchangeUntilFlushed) {
  auto m = open_hid();
  m->set_reply("first", 0);
  m->set_reply("second", 0);
  auto f = zivra_sim::fault_on(Fault::Delay, "first");
  f.delay_us = 11000000;
  zivra_sim::add_fault(f);
  set_loglevel(0);
  uint8_t buf[32] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "first", buf, 32), -1);
  zivra_sim::advance_us(2000000);
  EXPECT_EQ(dev_send_cmd(dev_, "second", buf, 32), -1);  // reads the stale "first"
  EXPECT_EQ(dev_flush(dev_), 0);
  EXPECT_EQ(dev_send_cmd(dev_, "second", buf, 32), 0);
}

struct RefusalCase {
  const char *cmd;
  uint32_t len;
  const char *message;
};
void PrintTo(const RefusalCase &c, std::ostream *os) { *os << (c.cmd ? c.cmd : "null") << "/" << c.len; }
class RefusalTest : public SimTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, RefusedBeforeAnythingIsSent) {
  open_hid();
  LogCapture cap;
  uint8_t buf[80] = {};
  EXPECT_EQ(dev_send_cmd(dev_, GetParam().cmd, buf, GetParam().len), -1);
  EXPECT_TRUE(writes().empty());
  EXPECT_NE(cap.text(1).find(GetParam().message), std::string::npos) << cap.text(1);
}
INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(RefusalCase{"getversion", 65, "): size 65 is greater than max command length: 64\n"},
                      RefusalCase{"getversion", 11, "): size 11 is less than command header length: 12\n"},
                      RefusalCase{"getversionx", 32, "): command string to long: 11 > 11\n"},
                      RefusalCase{nullptr, 32, "): invalid command\n"},
                      RefusalCase{"getversion", 40, "): invalid cmd length\n"}));

TEST_F(SimTest, SendFailureReturnsBackendResult) {
  open_hid();
  zivra_sim::add_fault(zivra_sim::fault_on(Fault::Fail, "getversion"));
  set_loglevel(0);
  uint8_t buf[32] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "getversion", buf, 32), -1);
  EXPECT_TRUE(zivra_sim::trace_of(zivra_sim::TraceEntry::HidRead).empty());
}

TEST_F(SimTest, DataBlockIsAckedAndCopiedBack) {
  auto m = open_hid();
  uint8_t blk[64];
  memset(blk, 0x11, sizeof blk);
  testing::internal::CaptureStdout();
  EXPECT_EQ(dev_send_data(dev_, blk, 64), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Bytes(blk, blk + 64), Bytes(64, 0));
  ASSERT_EQ(m->data_blocks().size(), 1u);
  EXPECT_EQ(m->data_blocks()[0], Bytes(64, 0x11));
  EXPECT_EQ(writes()[0].data[0], 4);
  EXPECT_EQ(writes()[0].data.size(), 65u);
}

TEST_F(SimTest, DataAckOfOnePrintsDataError) {
  auto m = open_hid();
  m->set_data_ack(1);
  uint8_t blk[16] = {1};
  testing::internal::CaptureStdout();
  EXPECT_EQ(dev_send_data(dev_, blk, 16), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Data error\n");
  EXPECT_EQ(blk[0], 1);
}

TEST_F(SimTest, DataBlockOver64IsRefusedUnsent) {
  open_hid();
  uint8_t blk[100] = {};
  set_loglevel(0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(dev_send_data(dev_, blk, 65), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "dev_send_data: send packet error\n");
  EXPECT_TRUE(writes().empty());
}

TEST_F(SimTest, NullDeviceAndEmptyOperations) {
  LogCapture cap;
  uint8_t b[65] = {};
  EXPECT_EQ(dev_close(nullptr), -6);
  EXPECT_EQ(dev_send_cmd(nullptr, "x", b, 32), -6);
  EXPECT_EQ(dev_send_data(nullptr, b, 1), -6);
  EXPECT_EQ(dev_flush(nullptr), -6);
  EXPECT_NE(cap.text(1).find("): no device found\n"), std::string::npos);
  open_hid();
  EXPECT_EQ(dev_write(dev_, b, 4), -1);
  EXPECT_NE(cap.text(1).find("): write operation not supported by this device\n"), std::string::npos);
  EXPECT_EQ(dev_open(1, nullptr), nullptr);
  EXPECT_EQ(dev_open(3, nullptr), nullptr);
}

TEST_F(SimTest, CallsReachTheSim) {
  void *sym = dlsym(RTLD_DEFAULT, "hid_write");
  Dl_info info;
  ASSERT_NE(dladdr(sym, &info), 0);
  EXPECT_NE(std::string(info.dli_fname).find("libzivra_sim"), std::string::npos) << info.dli_fname;
  sym = dlsym(RTLD_DEFAULT, "libusb_control_transfer");
  ASSERT_NE(dladdr(sym, &info), 0);
  EXPECT_NE(std::string(info.dli_fname).find("libzivra_sim"), std::string::npos) << info.dli_fname;
  open_hid();
  EXPECT_EQ(zivra_sim::counters().hid_init, 1);
  EXPECT_EQ(zivra_sim::counters().hid_open, 1);
}

}  // namespace

// ---- allocation counter: every malloc of the process, minus the sim's own ----------

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);
namespace {
bool g_counting = false;
int g_allocs = 0;
void note() {
  if (g_counting && !zivra_sim::in_sim()) ++g_allocs;
}
}  // namespace
extern "C" void *malloc(size_t n) {
  note();
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t a, size_t b) {
  note();
  return __libc_calloc(a, b);
}
extern "C" void *realloc(void *p, size_t n) {
  note();
  return __libc_realloc(p, n);
}
extern "C" void free(void *p) { __libc_free(p); }
#endif

namespace {
TEST_F(SimTest, CommandExchangeAllocatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer owns malloc";
#else
  // The counter must see an allocation made outside the sim; a tool that
  // replaces malloc itself (valgrind) bypasses it.
  g_allocs = 0;
  g_counting = true;
  void *volatile p = malloc(8);
  g_counting = false;
  free(p);
  if (g_allocs != 1) GTEST_SKIP() << "malloc is replaced by the tool running this test";
  auto m = open_hid();
  m->set_reply("getversion", 0, {4, 10});
  uint8_t buf[64] = {};
  ASSERT_EQ(dev_send_cmd(dev_, "getversion", buf, 32), 0);  // warm up
  g_allocs = 0;
  g_counting = true;
  int r32 = dev_send_cmd(dev_, "getversion", buf, 32);
  int r64 = dev_send_cmd(dev_, "getversion", buf, 64);
  g_counting = false;
  EXPECT_EQ(r32, 0);
  EXPECT_EQ(r64, 0);
  EXPECT_EQ(g_allocs, 0);
#endif
}
}  // namespace
