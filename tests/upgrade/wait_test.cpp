// Waiting for the dongle on the virtual clock, the upgrade's forwarders, and what
// a dongle that streams IR without a pause does to opening and closing.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "sim/model_gen4.h"
#include "tests/support/helpers.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

namespace {

class Wait : public ::testing::Test {
 protected:
  void SetUp() override { zs::reset(); }
  void TearDown() override {
    zv_close_device();
    zs::reset();
  }
  LevelGuard level;
};

struct WaitCase {
  int timeout;
  const char *out;  // standard output
  uint64_t min_s;   // virtual seconds the wait took at least
};

class WaitTimeout : public Wait, public ::testing::WithParamInterface<WaitCase> {};

// The time-out is checked after each failed attempt, before the next sleep: 0 is
// one attempt and no dot, N seconds are N dots. 2200 s would overflow an int of
// microseconds and wait forever.
TEST_P(WaitTimeout, GivesUpAfterItsDots) {
  const WaitCase &c = GetParam();
  uint64_t t0 = zs::now_us();
  LogCapture log;
  StdoutCapture out;
  EXPECT_EQ(zv_wait_for_device_timeout(ZV_VID, ZV_MFR_APP, c.timeout), -17);
  EXPECT_EQ(out.text(), c.out);
  EXPECT_NE(log.text(1).find("): \n[DEVICE] Wait timed out\n"), std::string::npos);
  uint64_t took = zs::now_us() - t0;
  EXPECT_GE(took, c.min_s * 1000000);
  EXPECT_LT(took, (c.min_s + 2) * 1000000);
}

const std::string k2200 = "[DEVICE]        Waiting" + std::string(2200, '.');
INSTANTIATE_TEST_SUITE_P(Limits, WaitTimeout,
                         ::testing::Values(WaitCase{0, "[DEVICE]        Waiting", 0},
                                           WaitCase{3, "[DEVICE]        Waiting...", 3},
                                           WaitCase{2200, k2200.c_str(), 2200}),
                         [](const auto &info) { return "s" + std::to_string(info.param.timeout); });

// Without a limit the wait goes on until the dongle enumerates, a dot a second.
TEST_F(Wait, UnlimitedWaitEndsWhenTheDongleAppears) {
  zs::schedule(zs::now_us() + 5500000, [] { zs::plug(zs::gen4_app_identity(), std::make_shared<zs::Gen4Model>()); });
  StdoutCapture out;
  EXPECT_EQ(zv_wait_for_device(ZV_VID, ZV_MFR_APP), 2);
  EXPECT_EQ(out.text(), "[DEVICE]        Waiting......\n[DEVICE]        FW Detected\n");
  EXPECT_EQ(zv_fw_state(), 2);
}

TEST_F(Wait, BootloaderFoundAtOnce) {
  zs::plug(zs::gen4_bootloader_identity(), std::make_shared<zs::Gen4BootloaderModel>(3, 3));
  StdoutCapture out;
  EXPECT_EQ(zv_wait_for_device_timeout(ZV_VID, ZV_MFR_APP, 0), 1);
  EXPECT_EQ(out.text(), "[DEVICE]        Waiting\n[DEVICE]        Bootloader Detected\n");
}

// The three upgrade forwarders: no dongle, a bootloader (nothing sent), a table
// without the operation.
TEST_F(Wait, UpgradeForwarders) {
  EXPECT_EQ(zv_device_set_dfu(), -19);
  EXPECT_EQ(zv_set_boot_flag(), -19);
  EXPECT_EQ(zv_last_upgrade_attempt(), -19);
  auto bl = std::make_shared<zs::Gen4BootloaderModel>(3, 3);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  set_loglevel(3);
  LogCapture log;
  size_t before = zs::trace().size();
  EXPECT_EQ(zv_device_set_dfu(), 1);
  EXPECT_EQ(zs::trace().size(), before);
  EXPECT_NE(log.text(3).find("): device already in bootloader\n"), std::string::npos);
  EXPECT_EQ(zv_set_boot_flag(), -12);
  EXPECT_EQ(zv_last_upgrade_attempt(), -12);
}

TEST_F(Wait, MissingImageFileTouchesNothing) {
  auto model = std::make_shared<zs::Gen4Model>();
  zs::plug(zs::gen4_app_identity(), model);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  size_t before = model->commands().size();
  LogCapture log;
  StdoutCapture out;
  EXPECT_EQ(zv_upgrade_fw("/nonexistent/firmware.bin", ZV_VID, ZV_MFR_APP, nullptr, nullptr), -9);
  EXPECT_EQ(out.text(), "");
  EXPECT_NE(log.text(1).find("): could not open file\n"), std::string::npos);
  EXPECT_EQ(model->commands().size(), before);
  EXPECT_EQ(zv_fw_state(), 2);
}

}  // namespace
