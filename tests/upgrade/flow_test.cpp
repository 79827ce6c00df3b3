// The whole upgrade on the virtual clock: from a running application, from a
// dongle already in its bootloader, from nothing open; failures that leave the
// dongle in its bootloader and the upgrade that then succeeds; a dongle that
// never comes back; and a dongle streaming IR all the while.
#include <cstring>
#include <sstream>

#include "tests/support/helpers.h"
#include "tests/upgrade/bl3_support.h"

namespace {

using namespace upg;

// The "[DEVICE]" lines of standard output (progress bars and dots left out).
std::string device_lines(const std::string &out) {
  std::string lines;
  size_t p = 0;
  while ((p = out.find("[DEVICE]", p)) != std::string::npos) {
    size_t e = out.find_first_of(".\n", p);
    lines += out.substr(p, e - p) + "\n";
    p = e;
  }
  return lines;
}

int upgrade(std::vector<uint8_t> img, int timeout = -1, const char *mfg = ZV_MFR_APP) {
  return zv_upgrade_fw_ext_timeout(img.data(), img.size(), ZV_VID, mfg, nullptr, nullptr, timeout);
}

// A running 4.3 application with two recorded buttons, which resets into bootloader 3.3.
std::shared_ptr<zs::Gen4Model> plug_app(int minor = 3) {
  auto app = std::make_shared<zs::Gen4Model>();
  app->set_version(4, static_cast<uint16_t>(minor), 0);
  app->set_firmware(image(7, 64));
  app->set_state(1);
  app->press_hash(0x1111);
  app->set_state(1);
  app->press_hash(0x2222);
  zs::plug(zs::gen4_app_identity(), app);
  return app;
}

TEST_F(Fixture, FromARunningApplication) {
  auto app = plug_app();
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  uint64_t t0 = zs::now_us();
  StdoutCapture out;
  EXPECT_EQ(upgrade(image(7, 64)), 0);
  EXPECT_EQ(device_lines(out.text()),
            "[DEVICE]        Setting DFU\n[DEVICE]        Waiting\n[DEVICE]        Bootloader Detected\n"
            "[DEVICE]        Waiting\n[DEVICE]        FW Detected\n[DEVICE]        EOK\n");
  // Left open on the new firmware, the buttons kept, the boot flag set.
  EXPECT_EQ(zv_fw_state(), 2);
  ASSERT_NE(zv_version_str(), nullptr);
  EXPECT_STREQ(zv_version_str(), "4.10.2");
  auto *now = current<zs::Gen4Model>();
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->buttons(), 2u);
  EXPECT_TRUE(now->boot_flag());
  EXPECT_LT(zs::now_us() - t0, 10000000u);
}

TEST_F(Fixture, FromTheBootloaderAndFromNothingOpen) {
  auto bl = plug_bootloader(3);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  {
    StdoutCapture out;
    EXPECT_EQ(upgrade(image(7, 64)), 0);
    std::string o = out.text();
    EXPECT_EQ(device_lines(o), "[DEVICE]        Uploading\n[DEVICE]        Waiting\n[DEVICE]        FW Detected\n"
                               "[DEVICE]        EOK\n");
    EXPECT_EQ(o.find("Setting DFU"), std::string::npos);
  }
  // Back into the bootloader by hand, then an upgrade with nothing open.
  ASSERT_EQ(zv_device_set_dfu(), 0);
  zv_close_device();
  zs::advance_us(1000000);
  run_bus();
  // An encrypted image this time: it goes out as it is, without "uncrypt".
  auto *bl2 = current<zs::Bl3Model>();
  ASSERT_NE(bl2, nullptr);
  StdoutCapture out;
  EXPECT_EQ(upgrade(image(7, 64, "ZIVRA-STD", 0xFF, 1), 5, "caller's manufacturer"), 0);
  EXPECT_FALSE(bl2->uncrypt_seen());
  EXPECT_EQ(device_lines(out.text()),
            "[DEVICE]        Waiting\n[DEVICE]        Bootloader Detected\n[DEVICE]        Uploading\n"
            "[DEVICE]        Waiting\n[DEVICE]        FW Detected\n[DEVICE]        EOK\n");
  EXPECT_EQ(zv_fw_state(), 2);
}

struct Failure {
  const char *name;
  std::function<void(zs::Bl3Model &)> plant;
  bool replug;  // the dongle dropped off and the user plugs it in again
};

class FailedUpload : public Fixture, public ::testing::WithParamInterface<Failure> {};

// A failed upload returns its own code, closes the dongle and leaves it in its
// bootloader; the next upgrade, started with nothing open, succeeds.
TEST_P(FailedUpload, LeavesTheBootloaderForASecondTry) {
  const Failure &f = GetParam();
  auto bl = plug_bootloader(3);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  f.plant(*bl);
  {
    OneLog log;
    StdoutCapture out;
    EXPECT_EQ(upgrade(image(7, 64), 3), -1);
    EXPECT_TRUE(log.has("): upload firmware failed\n"));
    EXPECT_EQ(out.text().find("EOK"), std::string::npos);
  }
  EXPECT_EQ(zv_set_boot_flag(), -19);  // closed
  if (f.replug) zs::plug(zs::gen4_bootloader_identity(), bl);
  zs::clear_faults();
  bl->refuse_page(-1);
  bl->fail_checkapp(false);
  EXPECT_EQ(upgrade(image(7, 64), 3), 0);
  EXPECT_EQ(zv_fw_state(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedUpload,
    ::testing::Values(Failure{"PageRefused", [](zs::Bl3Model &b) { b.refuse_page(2); }, false},
                      Failure{"DropOff",
                              [](zs::Bl3Model &) { zs::add_fault(zs::fault_on(zs::Fault::Unplug, zs::kDataKey, 3)); },
                              true},
                      Failure{"CheckappFails", [](zs::Bl3Model &b) { b.fail_checkapp(true); }, false}),
    [](const auto &info) { return std::string(info.param.name); });

// The application came back instead of the bootloader (the DFU request was
// refused): there is nothing to upload with, and the upgrade says so.
TEST_F(Fixture, ApplicationBackInsteadOfTheBootloader) {
  auto app = plug_app();
  app->refuse("bflag_stay");
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  OneLog log;
  StdoutCapture out;
  EXPECT_EQ(upgrade(image(7, 64), 5), -13);
  EXPECT_TRUE(log.has("): upload firmware failed\n"));
  EXPECT_EQ(zv_set_boot_flag(), -19);  // closed
}

// The new application never enumerates: the last wait times out, "Failed".
TEST_F(Fixture, NeverBackAfterEnterapp) {
  auto bl = plug_bootloader(3);
  bl->stay_gone_after_enterapp(true);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  OneLog log;
  StdoutCapture out;
  EXPECT_EQ(upgrade(image(7, 64), 3), -13);
  std::string o = out.text();
  EXPECT_NE(o.find("[DEVICE]        Waiting..."), std::string::npos);
  EXPECT_NE(o.find("[DEVICE]        Failed\n"), std::string::npos);
  EXPECT_TRUE(log.has("\n[DEVICE] Wait timed out\n"));
}

// A dongle whose receiver never rests keeps every read succeeding: opening,
// closing and the upgrade's re-opens must still end.
TEST_F(Fixture, StreamingDongleOpensClosesAndUpgrades) {
  auto app = plug_app(9);
  app->set_stream_forever(true);
  set_loglevel(4);
  OneLog log;
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  EXPECT_TRUE(log.has("drain stopped"));
  EXPECT_STREQ(zv_version_str(), "4.9.0");
  EXPECT_EQ(upgrade(image(7, 64), 5), 0);
  auto *now = current<zs::Gen4Model>();
  ASSERT_NE(now, nullptr);
  now->set_stream_forever(true);
  zv_close_device();
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), 2);
}

// From 4.9 the button being recorded is streamed on report 7 and can be queued
// ahead of the "ir_state" reply: recording must still see the dongle's answer.
class StreamedRecord : public Fixture, public ::testing::WithParamInterface<int> {};

TEST_P(StreamedRecord, SucceedsWithTheSignalAheadOfTheReply) {
  auto app = std::make_shared<zs::Gen4Model>();
  app->set_version(4, static_cast<uint16_t>(GetParam()), 0);
  app->set_stream_ahead(true);
  zs::plug(zs::gen4_app_identity(), app);
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  std::vector<uint16_t> nec = {9000, 4500};
  for (int i = 0; i < 32; ++i) {
    nec.push_back(560);
    nec.push_back((0xA55A00FFu >> i) & 1 ? 1690 : 560);
  }
  nec.push_back(560);
  app->press_edges_after_polls(2, nec);
  set_loglevel(4);
  OneLog log;
  EXPECT_EQ(zv_set_record("a", 5), 0) << log.text();
  EXPECT_EQ(app->buttons(), 1u);
  EXPECT_TRUE(log.has("): skipping IR report 7 queued ahead of report 1\n"));
  EXPECT_FALSE(log.has("Wrong report exp"));
}

INSTANTIATE_TEST_SUITE_P(Revisions, StreamedRecord, ::testing::Values(9, 10));

}  // namespace
