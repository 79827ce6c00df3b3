// Bootloaders 1 and 2 on the simulated bulk-USB dongle: image checks, pages,
// CRC retries, the upgrade mark, the product variant, and the whole upgrade
// from a running legacy application.
#include <cstdio>
#include <fstream>

#include "legacy_support.h"

namespace {

using namespace legacy;

std::vector<uint8_t> image(size_t pages) {
  std::vector<uint8_t> img(pages * 128);
  for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 7 + i / 128);
  return img;
}

class LegacyBootloader : public ::testing::Test {
 protected:
  void TearDown() override { zv_close_device(); }
  zs::LegacyBootloaderModel &open(int generation, uint32_t flash = 16384) {
    zs::reset();
    bl_ = std::make_shared<zs::LegacyBootloaderModel>(generation, std::make_shared<zs::LegacyDongle>(), flash);
    zs::plug(zs::legacy_bootloader_identity(generation), bl_);
    EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 1);
    zs::clear_trace();
    return *bl_;
  }
  // Through the public upgrade, as a client programs an open bootloader (it
  // then waits up to 10 s for the application).
  static int upload(std::vector<uint8_t> img, void *priv = nullptr, zv_progress_t cb = nullptr) {
    return zv_upgrade_fw_ext_timeout(img.data(), img.size(), ZV_VID, ZV_MFR_APP, priv, cb, 10);
  }
  std::shared_ptr<zs::LegacyBootloaderModel> bl_;
  LevelGuard level_;
};

TEST_F(LegacyBootloader, Generation2RetriesAPageWithACrcError) {
  zs::LegacyBootloaderModel &bl = open(2);
  bl.crc_error_on(1, 1);
  set_loglevel(4);
  LogCapture cap;
  EXPECT_EQ(upload(image(3)), 0);
  std::string log = cap.all();
  // The nested send reports its count first, then the send that retried.
  for (const std::string &l : {std::string("CRC mismatch"), std::string("retried this many times: 1"),
                               std::string("retried this many times: 0")}) {
    size_t at = log.find("): " + l + "\n");
    EXPECT_NE(at, std::string::npos) << l;
  }
  size_t mismatch = log.find("): CRC mismatch\n");
  size_t nested = log.find("): retried this many times: 1\n", mismatch);
  EXPECT_NE(nested, std::string::npos);
  EXPECT_NE(log.find("): retried this many times: 0\n", nested), std::string::npos);
  EXPECT_NE(log.find("[D] lib/libzivra/bootloader/bl_2.0 send_page("), std::string::npos);
  EXPECT_NE(log.find("): Output Dump:\n"), std::string::npos);
  EXPECT_EQ(bl.sent_pages, (std::vector<uint16_t>{0, 1, 1, 2}));
  EXPECT_EQ(bl.dongle().flash, image(3));
  // Every page went through: the mark is cleared and the dongle told to leave.
  EXPECT_EQ(bl.dongle().memory[2] & 0x80, 0);
  EXPECT_EQ(bl.dongle().memory[4], 0x50);
  EXPECT_TRUE(bl.left());
}

TEST_F(LegacyBootloader, Generation2GivesUpAfter101AttemptsAndKeepsTheMark) {
  zs::LegacyBootloaderModel &bl = open(2);
  bl.crc_error_on(1, -1);
  set_loglevel(3);
  LogCapture cap;
  EXPECT_EQ(upload(image(3)), -ZV_EUPGRADE_FAILED);
  EXPECT_EQ(bl.sent_pages.size(), 1u + 101u);
  std::string info = cap.text(3), err = cap.text(1);
  EXPECT_EQ(count(info, "): CRC mismatch\n"), 101u);
  EXPECT_EQ(count(info, "): retried this many times: 100\n"), 100u);
  EXPECT_EQ(count(err, "): Page failed\n"), 100u);
  EXPECT_EQ(count(err, "): Page 1 Error: \n"), 1u);
  // The last attempt's error comes before the unwinding, "sending packet failed" last.
  EXPECT_LT(err.find("): Page 1 Error: \n"), err.find("): Page failed\n"));
  EXPECT_LT(err.rfind("): Page failed\n"), err.find("): sending packet failed\n"));
  EXPECT_FALSE(bl.left());
  ASSERT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 1);  // still in its bootloader
  EXPECT_EQ(zv_last_upgrade_attempt(), 1);
  // The module's retry count starts again with the next upload.
  bl.crc_error_on(1, 0);
  EXPECT_EQ(upload(image(3)), 0);
  EXPECT_EQ(bl.dongle().memory[2] & 0x80, 0);
}

TEST_F(LegacyBootloader, DongleDroppingOffMidUploadFailsWithTheMarkSet) {
  for (int generation : {1, 2}) {
    zs::LegacyBootloaderModel &bl = open(generation);
    zs::add_fault(zs::fault_on(zs::Fault::Unplug, zs::control_key(9), 3));
    set_loglevel(1);
    LogCapture cap;
    EXPECT_EQ(upload(image(5)), -ZV_EUPGRADE_FAILED) << generation;
    EXPECT_NE(cap.text(1).find("): sending packet failed\n"), std::string::npos);
    EXPECT_EQ(bl.pages_written(), 2u);
    EXPECT_EQ(bl.dongle().memory[2] & 0x80, 0x80);
    EXPECT_FALSE(bl.left());
    zv_close_device();
  }
}

TEST_F(LegacyBootloader, Generation2CountsAShortSendAsAFailedAttempt) {
  zs::LegacyBootloaderModel &bl = open(2);
  zs::Fault f = zs::fault_on(zs::Fault::WrongLength, zs::control_key(9));
  f.length = 100;
  zs::add_fault(f);
  set_loglevel(3);
  LogCapture cap;
  EXPECT_EQ(upload(image(1)), 0);
  EXPECT_NE(cap.text(3).find("): 131 != 100\n"), std::string::npos) << cap.text(3);
  EXPECT_EQ(bl.sent_pages.size(), 2u);
}

struct ImageCheck {
  int generation;
  size_t len;
  uint32_t flash;
  const char *line;
};

class RefusedImage : public LegacyBootloader, public ::testing::WithParamInterface<ImageCheck> {};

TEST_P(RefusedImage, BeforeAnythingIsWritten) {
  const ImageCheck &c = GetParam();
  zs::LegacyBootloaderModel &bl = open(c.generation, c.flash);
  set_loglevel(1);
  LogCapture cap;
  std::vector<uint8_t> img(c.len, 0xAB);
  EXPECT_EQ(upload(img), -ZV_EUPGRADE_FAILED);
  EXPECT_NE(cap.text(1).find(std::string("): ") + c.line + "\n"), std::string::npos) << cap.text(1);
  EXPECT_NE(cap.text(1).find("): could not prep device\n"), std::string::npos);
  EXPECT_EQ(writes(), 0u);
  EXPECT_TRUE(requests(0x42, 9).empty());
  EXPECT_EQ(bl.dongle().memory[2] & 0x80, 0);
  // Generation 1 also tries to leave, which its table refuses.
  EXPECT_EQ(cap.text(1).find("invalid command, please upload a new image") != std::string::npos,
            c.generation == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, RefusedImage,
    ::testing::Values(ImageCheck{2, 130, 16384, "image provided is incorrect size"},
                      ImageCheck{1, 130, 16384, "image provided is incorrect size"},
                      ImageCheck{2, 16384 - 2048 + 128, 16384, "Not enough size on device"},
                      // A flash smaller than the bootloader's part has no room, however small the image.
                      ImageCheck{2, 128, 1024, "Not enough size on device"},
                      ImageCheck{1, 128, 2047, "Not enough size on device"}));

TEST_F(LegacyBootloader, ImageFillingTheFlashExactlyFits) {
  zs::LegacyBootloaderModel &bl = open(2, 4096);
  EXPECT_EQ(upload(image(16)), 0);
  EXPECT_EQ(bl.pages_written(), 16u);
}

TEST_F(LegacyBootloader, ShortDeviceInformationIsReadTwiceAndRefused) {
  for (int generation : {1, 2}) {
    zs::LegacyBootloaderModel &bl = open(generation);
    zs::Fault f = zs::fault_on(zs::Fault::WrongLength, zs::control_key(1));
    f.length = 5;
    f.times = 2;
    zs::add_fault(f);
    set_loglevel(4);
    LogCapture cap;
    EXPECT_EQ(upload(image(2)), -ZV_EUPGRADE_FAILED);
    EXPECT_EQ(requests(0xC2, 1).size(), 2u);
    EXPECT_NE(cap.text(1).find("): did not receive expected number of bytes\n"), std::string::npos);
    std::string want = "): received: 5 expected: " + std::to_string(generation == 1 ? 7 : 6) + "\n";
    EXPECT_NE(cap.text(4).find(want), std::string::npos) << cap.text(4);
    EXPECT_EQ(count(cap.text(4), "): size of data returned: 5\n"), 2u);
    EXPECT_EQ(bl.pages_written(), 0u);
    zv_close_device();
  }
}

TEST_F(LegacyBootloader, ProductVariantFromSettingsByte3) {
  const std::pair<uint8_t, int> cases[] = {{0x04, 3}, {0x06, 2}, {0x00, -1}, {0x02, -1}, {0xFC, 3}};
  for (auto [byte, want] : cases) {
    zs::LegacyBootloaderModel &bl = open(2);
    bl.dongle().memory[3] = byte;
    EXPECT_EQ(zv_product_type(), want) << int(byte);
    zv_close_device();
  }
  open(2);
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::control_key(2)));
  EXPECT_EQ(zv_product_type(), -ZV_LIBUSBERR);
}

TEST_F(LegacyBootloader, Generation1SendsZeroedDummiesAndLeavesWithoutAnAnswer) {
  zs::LegacyBootloaderModel &bl = open(1);
  int last = -1, calls = 0;
  auto cb = [](int pct, void *priv) {
    auto *p = static_cast<std::pair<int *, int *> *>(priv);
    *p->first = pct;
    ++*p->second;
  };
  std::pair<int *, int *> seen{&last, &calls};
  std::vector<uint8_t> img = image(4);
  EXPECT_EQ(upload(img, &seen, cb), 0);
  EXPECT_EQ(bl.dummies, (std::vector<uint32_t>(4, 0)));
  EXPECT_EQ(bl.dongle().flash, img);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(calls, 5);
  EXPECT_TRUE(bl.left());
  EXPECT_EQ(bl.dongle().memory[2] & 0x80, 0x80);  // generation 1 never clears it
}

TEST_F(LegacyBootloader, Generation1LeaveWithoutUploadIsRefused) {
  zs::LegacyBootloaderModel &bl = open(1);
  EXPECT_EQ(zv_leave_bootloader(), -ZV_EWRONGDEV);
  EXPECT_EQ(zv_last_upgrade_attempt(), 1);
  EXPECT_FALSE(bl.left());
  EXPECT_TRUE(zs::trace().empty());
}

TEST_F(LegacyBootloader, Generation2LastAttemptAndBuildHash) {
  zs::LegacyBootloaderModel &bl = open(2);
  EXPECT_EQ(zv_last_upgrade_attempt(), 0);
  bl.dongle().memory[2] |= 0x80;
  EXPECT_EQ(zv_last_upgrade_attempt(), 1);
  EXPECT_EQ(zv_ver2_bl_scm_hash(), 0xB007B007u);
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::control_key(2)));
  EXPECT_EQ(zv_last_upgrade_attempt(), -1);
}

// ---- the whole upgrade from a running application, in virtual time ----

struct Upgrade {
  uint8_t major;
  uint8_t after_minor;
};

class LegacyUpgrade : public ::testing::TestWithParam<Upgrade> {
 protected:
  void TearDown() override { zv_close_device(); }
};

TEST_P(LegacyUpgrade, ApplicationToBootloaderAndBack) {
  const Upgrade &u = GetParam();
  zs::reset();
  auto app = std::make_shared<zs::LegacyAppModel>(u.major, 0);
  app->add_record(0x1234, 0, 4);
  zs::plug(zs::legacy_app_identity(), app);
  ASSERT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 2);
  std::shared_ptr<zs::LegacyDongle> dongle = app->shared_dongle();
  dongle->app_minor = u.after_minor;  // what the new image reports once running

  std::string path = std::string(testing::TempDir()) + "legacy_image.bin";
  std::vector<uint8_t> img = image(10);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(img.data()),
                                              static_cast<std::streamsize>(img.size()));
  uint64_t start = zs::now_us();
  LevelGuard g;
  set_loglevel(0);
  EXPECT_EQ(zv_upgrade_fw(path.c_str(), ZV_VID, ZV_MFR_APP, nullptr, nullptr), 0);
  EXPECT_EQ(zv_fw_state(), 2);
  EXPECT_EQ(zv_major_version(), u.major);
  EXPECT_EQ(zv_minor_version(), u.after_minor);
  EXPECT_EQ(dongle->flash, img);
  EXPECT_EQ(zv_keys_recorded(), 1);  // the buttons survive
  EXPECT_GE(zs::now_us() - start, 2 * dongle->reenumerate_us);
  // The pages went out as the bootloader of that generation sends them.
  EXPECT_EQ(requests(0x42, 9).size(), 10u);
  EXPECT_EQ(requests(0x42, 9)[0].setup.wLength, u.major == 1 ? 132 : 131);
  remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Legacy, LegacyUpgrade, ::testing::Values(Upgrade{1, 1}, Upgrade{2, 1}, Upgrade{3, 9}));

}  // namespace
