// HID backend: opening, flushing, the raw read of the IR stream, closing.
#include "tests/transport/fixture.h"

namespace {

TEST_F(SimTest, OpenAndCloseFlushReportIds1357) {
  auto m = std::make_shared<zivra_sim::ScriptModel>();
  zivra_sim::plug({}, m);
  libhid_priv p{0x20A0, 0x0006, -1};
  uint64_t t0 = zivra_sim::now_us();
  dev_ = dev_open(DEV_TYPE_HID, &p);
  ASSERT_NE(dev_, nullptr);
  EXPECT_GE(zivra_sim::now_us() - t0, 400000u);
  std::vector<int> ids;
  for (auto &e : zivra_sim::trace_of(zivra_sim::TraceEntry::HidRead)) {
    ids.push_back(e.request_id);
    EXPECT_EQ(e.timeout_ms, 100);
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 3, 5, 7}));
}

TEST_F(SimTest, FlushDrainsQueuedInput) {
  auto m = open_hid();
  auto *d = zivra_sim::devices()[0];
  uint8_t x = 1;
  d->queue_report(7, &x, 1);
  d->queue_report(1, &x, 1, 33);
  EXPECT_EQ(dev_flush(dev_), 0);
  EXPECT_EQ(d->pending_input(), 0u);
}

TEST_F(SimTest, RawReadTimesOutWithMinus110After200ms) {
  open_hid();
  uint8_t buf[65] = {7};
  uint64_t t0 = zivra_sim::now_us();
  EXPECT_EQ(dev_read(dev_, buf, 65), -110);
  EXPECT_GE(zivra_sim::now_us() - t0, 200000u);
  EXPECT_LT(zivra_sim::now_us() - t0, 201000u);
}

TEST_F(SimTest, RawReadReturnsReport7OrSkipsAnother) {
  auto m = open_hid();
  m->queue_unsolicited({0xA1, 0xA2}, 50000);
  m->queue_unsolicited({0xB1}, 50000, 1);
  uint8_t buf[65] = {7};
  EXPECT_EQ(dev_read(dev_, buf, 65), 0);
  EXPECT_EQ(buf[0], 7);
  EXPECT_EQ(buf[1], 0xA1);
  EXPECT_EQ(buf[2], 0xA2);
  uint8_t other[65] = {7};
  LogCapture cap;
  EXPECT_EQ(dev_read(dev_, other, 65), 0);
  EXPECT_EQ(Bytes(other + 1, other + 65), Bytes(64, 0));  // left unchanged
  EXPECT_NE(cap.text(1).find("): _hid_read: wrong report id 7 != 1\n"), std::string::npos) << cap.text(1);
}

TEST_F(SimTest, DoubleCloseLogsAlreadyClosed) {
  open_hid();
  LevelGuard g;
  set_loglevel(4);
  LogCapture cap;
  EXPECT_EQ(hid_dev_close(dev_), 0);
  EXPECT_EQ(hid_dev_close(dev_), 0);
  EXPECT_NE(cap.text(4).find("[D] lib/libtransport/hid hid_dev_close("), std::string::npos);
  EXPECT_NE(cap.text(4).find("): device already closed\n"), std::string::npos);
  EXPECT_EQ(zivra_sim::counters().hid_exit, 1);
  EXPECT_EQ(dev_close(dev_), 1);
  dev_ = nullptr;
}

TEST_F(SimTest, InterfaceMinusOneTakesFirstZeroSkipsOthers) {
  zivra_sim::Identity a, b;
  a.interface = 2;
  b.interface = 0;
  zivra_sim::plug(a, std::make_shared<zivra_sim::ScriptModel>());
  auto &db = zivra_sim::plug(b, std::make_shared<zivra_sim::ScriptModel>());
  libhid_priv any{0x20A0, 0x0006, -1};
  dev_t *d = dev_open(DEV_TYPE_HID, &any);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(zivra_sim::devices()[0]->is_open(), true);
  dev_close(d);
  libhid_priv zero{0x20A0, 0x0006, 0};
  d = dev_open(DEV_TYPE_HID, &zero);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(db.is_open());
  EXPECT_FALSE(zivra_sim::devices()[0]->is_open());
  dev_close(d);
}

TEST_F(SimTest, EntryThatDoesNotOpenIsSkipped) {
  zivra_sim::Identity locked;
  locked.openable = false;
  zivra_sim::plug(locked, std::make_shared<zivra_sim::ScriptModel>());
  auto &ok = zivra_sim::plug({}, std::make_shared<zivra_sim::ScriptModel>());
  LevelGuard g;
  set_loglevel(4);
  LogCapture cap;
  libhid_priv p{0x20A0, 0x0006, -1};
  dev_ = dev_open(DEV_TYPE_HID, &p);
  ASSERT_NE(dev_, nullptr);
  EXPECT_TRUE(ok.is_open());
  EXPECT_NE(cap.text(4).find("): could not open device:\n"), std::string::npos);
  EXPECT_NE(cap.text(4).find("): Device Used\n  type: 20a0 0006\n  path: sim:hid:2\n  serial_number: 0001\n"),
            std::string::npos)
      << cap.text(4);
}

TEST_F(SimTest, NothingPluggedGivesNullAndReleasesHidapi) {
  libhid_priv p{0x20A0, 0x0006, -1};
  EXPECT_EQ(dev_open(DEV_TYPE_HID, &p), nullptr);
  EXPECT_EQ(zivra_sim::counters().hid_init, zivra_sim::counters().hid_exit);
}

TEST_F(SimTest, DeviceDroppingOffTheBusFailsTheExchange) {
  auto m = open_hid();
  m->set_reply("getversion", 0);
  zivra_sim::add_fault(zivra_sim::fault_on(zivra_sim::Fault::Unplug, "getversion", 2));
  set_loglevel(0);
  uint8_t buf[32] = {};
  EXPECT_EQ(dev_send_cmd(dev_, "getversion", buf, 32), 0);
  EXPECT_EQ(dev_send_cmd(dev_, "getversion", buf, 32), -1);
  EXPECT_TRUE(zivra_sim::devices().empty());
}

}  // namespace

// A dongle re-enumerating: scheduled plugs happen once the clock reaches them,
// in time order, and reset() forgets those still pending.
TEST_F(SimTest, ScheduledPlugsAppearWhenTheClockReachesThem) {
  std::vector<int> order;
  uint64_t t0 = zivra_sim::now_us();
  zivra_sim::schedule(t0 + 2000000, [&] {
    order.push_back(2);
    zivra_sim::plug(zivra_sim::Identity{}, std::make_shared<zivra_sim::ScriptModel>());
  });
  zivra_sim::schedule(t0 + 1000000, [&] { order.push_back(1); });
  libhid_priv p{0x20A0, 0x0006, -1};
  EXPECT_EQ(dev_open(DEV_TYPE_HID, &p), nullptr);
  usleep(1500000);
  EXPECT_EQ(zivra_sim::scheduled(), 2u);  // due, but no entry point has run since
  EXPECT_EQ(dev_open(DEV_TYPE_HID, &p), nullptr);
  EXPECT_EQ(order, (std::vector<int>{1}));
  usleep(500000);
  dev_ = dev_open(DEV_TYPE_HID, &p);
  EXPECT_NE(dev_, nullptr);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  zivra_sim::schedule(zivra_sim::now_us() + 1, [&] { order.push_back(3); });
  zivra_sim::reset();
  dev_close(dev_);
  dev_ = nullptr;
  usleep(10);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}
