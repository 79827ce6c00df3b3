// Bulk-USB backend: opening by IDs and manufacturer string, transfers, closing.
#include "tests/transport/fixture.h"

namespace {

class UsbTest : public SimTest {
 protected:
  std::shared_ptr<zivra_sim::ScriptModel> plug_usb(const char *mfr, bool claimable = true) {
    zivra_sim::Identity id;
    id.transport = zivra_sim::Transport::Usb;
    id.pid = 0x0004;
    id.manufacturer = mfr;
    id.claimable = claimable;
    auto m = std::make_shared<zivra_sim::ScriptModel>();
    zivra_sim::plug(id, m);
    return m;
  }
  dev_t *open_usb(const char *mfr = "Zivra") {
    libusb_priv p{};
    p.VID = 0x20A0;
    p.PID = 0x0004;
    p.interface = 0;
    p.debug = 1;
    strncpy(p.mfr, mfr, sizeof p.mfr - 1);
    return dev_open(DEV_TYPE_LIBUSB, &p);
  }
};

TEST_F(UsbTest, ForeignDeviceWithSameIdsIsSkipped) {
  plug_usb("Other");
  auto mine = plug_usb("Zivra");
  LogCapture cap;
  dev_ = open_usb();
  ASSERT_NE(dev_, nullptr);
  EXPECT_NE(cap.text(1).find("): manufacturer string mismatch\n"), std::string::npos);
  EXPECT_FALSE(zivra_sim::devices()[0]->is_open());
  EXPECT_TRUE(zivra_sim::devices()[1]->is_open());
  EXPECT_EQ(zivra_sim::devices()[1]->claimed_interface(), 0);
}

TEST_F(UsbTest, UnclaimableInterfaceStillUsed) {
  plug_usb("Zivra", false);
  dev_ = open_usb();
  ASSERT_NE(dev_, nullptr);
  EXPECT_EQ(zivra_sim::devices()[0]->claimed_interface(), -1);
}

TEST_F(UsbTest, NoMatchReturnsNullAndExitsLibusb) {
  plug_usb("Other");
  set_loglevel(0);
  EXPECT_EQ(open_usb(), nullptr);
  EXPECT_EQ(zivra_sim::counters().usb_init, zivra_sim::counters().usb_exit);
}

TEST_F(UsbTest, ControlOrInterruptByCommandWord) {
  auto m = plug_usb("Zivra");
  m->set_control_reply(0x01, {3, 2});
  m->set_interrupt_reply(0x81, {9, 9, 9});
  dev_ = open_usb();
  ASSERT_NE(dev_, nullptr);
  libusb_msg msg{};
  msg.bmRequestType = 0xC2;
  msg.bRequest = 0x01;
  msg.wLength = 2;
  msg.timeout = 1000;
  EXPECT_EQ(dev_send_cmd(dev_, "NULL", reinterpret_cast<uint8_t *>(&msg), sizeof msg), 2);
  EXPECT_EQ(msg.buf[0], 3);
  EXPECT_EQ(msg.buf[1], 2);
  unsigned char in[8] = {};
  int got = -1;
  libusb_interrupt irq{0x81, in, 8, &got, 500};
  EXPECT_EQ(dev_send_cmd(dev_, "libusb_interrupt", reinterpret_cast<uint8_t *>(&irq), sizeof irq), 0);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(in[2], 9);
  auto &t = m->transfers();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_FALSE(t[0].interrupt);
  EXPECT_EQ(t[0].setup.bmRequestType, 0xC2);
  EXPECT_TRUE(t[1].interrupt);
  // A control transfer longer than the record's buffer is refused unsent.
  msg.wLength = 257;
  LogCapture cap;
  EXPECT_EQ(dev_send_cmd(dev_, "NULL", reinterpret_cast<uint8_t *>(&msg), sizeof msg), -1);
  EXPECT_NE(cap.text(1).find("control transfer of 257 bytes does not fit the 256-byte buffer\n"), std::string::npos);
  EXPECT_EQ(m->transfers().size(), 2u);
}

TEST_F(UsbTest, ControlTimeoutReturnsMinus7AndLogsText) {
  plug_usb("Zivra");
  dev_ = open_usb();
  ASSERT_NE(dev_, nullptr);
  zivra_sim::add_fault(zivra_sim::fault_on(zivra_sim::Fault::Timeout, zivra_sim::control_key(0x02)));
  LevelGuard g;
  set_loglevel(4);
  LogCapture cap;
  libusb_msg msg{};
  msg.bmRequestType = 0xC2;
  msg.bRequest = 0x02;
  msg.wLength = 1;
  msg.timeout = 1000;
  uint64_t t0 = zivra_sim::now_us();
  EXPECT_EQ(dev_send_cmd(dev_, "NULL", reinterpret_cast<uint8_t *>(&msg), sizeof msg), -7);
  EXPECT_EQ(zivra_sim::now_us() - t0, 1000000u);
  EXPECT_NE(cap.text(4).find("libusb_dev_send_cmd("), std::string::npos);
  EXPECT_NE(cap.text(4).find("): Operation timed out\n"), std::string::npos) << cap.text(4);
}

TEST_F(UsbTest, PacketOpsAreNoOpsAndCloseResets) {
  plug_usb("Zivra");
  dev_ = open_usb();
  ASSERT_NE(dev_, nullptr);
  zivra_sim::clear_trace();
  uint8_t b[65] = {};
  EXPECT_EQ(dev_flush(dev_), 0);
  EXPECT_EQ(dev_->send_pkv(dev_, 2, b, 32), 0);
  EXPECT_EQ(dev_->recv_pkv(dev_, 2, b, 32), 0);
  EXPECT_TRUE(zivra_sim::trace().empty());
  LogCapture cap;
  EXPECT_EQ(dev_read(dev_, b, 65), -1);
  EXPECT_NE(cap.text(1).find("): read operation not supported by this device\n"), std::string::npos);
  EXPECT_EQ(libusb_dev_close(dev_), 0);
  EXPECT_EQ(zivra_sim::counters().usb_reset, 1);
  EXPECT_EQ(libusb_dev_close(dev_), -1);
  EXPECT_NE(cap.text(1).find("): device is null\n"), std::string::npos);
  EXPECT_EQ(libusb_dev_send_cmd(dev_, "NULL", b, 0), -19);
}

TEST(LibusbText, Table) {
  EXPECT_STREQ(libusb_error_text(0), "Success");
  EXPECT_STREQ(libusb_error_text(-7), "Operation timed out");
  EXPECT_STREQ(libusb_error_text(-12), "Operation not supported or unimplemented on this platform");
  EXPECT_STREQ(libusb_error_text(-99), "Other error");
  EXPECT_STREQ(libusb_error_text(-13), "Unknown error");
  EXPECT_STREQ(libusb_error_text(5), "Unknown error");
}

}  // namespace
