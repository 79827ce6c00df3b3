// The generation-3 bootloader model, the generation-4 model's re-enumeration and
// its IR streams, driven over the wire through the transport's public calls.
#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/model_bl3.h"
#include "sim/model_gen4.h"
#include "tests/capture.h"
#include "zivra/transport.h"

namespace zs = zivra_sim;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint16_t kBootPid = 0x0005, kAppPid = 0x0006;
constexpr uint64_t kReenumerateUs = 300000;

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
uint32_t get32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

class Wire : public ::testing::Test {
 protected:
  void SetUp() override {
    zs::reset();
    set_loglevel(0);  // the transport's errors on a dongle that resets are expected
  }
  void TearDown() override {
    close();
    zs::reset();
  }
  bool open(uint16_t pid) {
    close();
    libhid_priv p{0x20A0, pid, -1};
    dev = dev_open(DEV_TYPE_HID, &p);
    return dev != nullptr;
  }
  void close() {
    if (dev != nullptr) dev_close(dev);
    dev = nullptr;
  }
  // 0 when answered with status 0; the reply payload in *out.
  int cmd(const char *word, const Bytes &in = {}, Bytes *out = nullptr) {
    uint8_t buf[32] = {};
    if (!in.empty()) memcpy(buf, in.data(), std::min<size_t>(in.size(), 20));
    int r = dev_send_cmd(dev, word, buf, 32);
    if (out != nullptr) out->assign(buf, buf + 20);
    return r;
  }
  uint32_t peek(uint32_t addr) {
    Bytes out;
    EXPECT_EQ(cmd("peek", le32(addr), &out), 0) << addr;
    return get32(out.data());
  }
  // Erases the application area, then programs img in `page`-byte pages; returns
  // the pages the dongle accepted.
  size_t upload(const zs::Bl3Model &bl, const Bytes &img, uint32_t page, bool plain) {
    uint32_t area = (bl.area_end() - bl.app_base()) / bl.layout().page_size;
    for (uint32_t i = 0; i < area; i += 4) EXPECT_EQ(cmd("erasesec", le32(i)), 0) << i;
    if (plain) cmd("uncrypt");
    size_t pages = img.size() / page;
    EXPECT_EQ(cmd("program", cat(le32(0), le32(static_cast<uint32_t>(pages)))), 0);
    for (size_t k = 0; k < pages; ++k) {
      uint8_t block[64] = {};
      memcpy(block, img.data() + k * page, page);
      if (dev_send_data(dev, block, 64) != 0) return k;
    }
    return pages;
  }
  // Lets the clock run to the re-enumeration and opens what came back.
  bool reappears(uint16_t pid) {
    zs::advance_us(kReenumerateUs - 1000);
    if (open(pid)) return false;  // not before its time
    zs::advance_us(1000);
    return open(pid);
  }
  dev_t *dev = nullptr;
  LevelGuard level;
};

// A dongle whose application holds one recorded button.
std::shared_ptr<zs::Gen4Model> app_with_button() {
  auto app = std::make_shared<zs::Gen4Model>();
  app->set_state(1);
  app->press_hash(0x5EED);
  return app;
}

// An invalid application keeps the dongle in its bootloader after "enterapp".
bool bl_still_there(const std::shared_ptr<zs::Bl3Model> &bl) {
  zs::advance_us(10 * kReenumerateUs);
  return zs::devices().size() == 1 && &zs::devices()[0]->model() == bl.get();
}

struct Upgrade {
  int minor;
  uint8_t encrypted;
  bool uncrypt;  // sent before "program"
  bool valid;    // what "checkapp" says
};
std::string upgrade_name(const ::testing::TestParamInfo<Upgrade> &i) {
  const Upgrade &u = i.param;
  return "bl3_" + std::to_string(u.minor) + (u.encrypted ? "_encrypted" : "_plain") + (u.uncrypt ? "_uncrypt" : "");
}

class Programming : public Wire, public ::testing::WithParamInterface<Upgrade> {};

TEST_P(Programming, CheckappAndReenumeration) {
  const Upgrade u = GetParam();
  auto bl = std::make_shared<zs::Bl3Model>(u.minor);
  auto app = app_with_button();
  bl->set_app_model(app);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  ASSERT_TRUE(open(kBootPid));
  zs::ImageFields fields;
  fields.major = 4, fields.minor = 9, fields.patch = 2, fields.scm_hash = 0xABCD1234, fields.encrypted = u.encrypted;
  Bytes img = zs::make_fw_image(fields);
  ASSERT_EQ(upload(*bl, img, 64, u.uncrypt), img.size() / 64);
  EXPECT_EQ(Bytes(bl->flash().begin() + bl->app_base(), bl->flash().begin() + bl->app_base() + img.size()), img);
  EXPECT_EQ(cmd("checkapp"), u.valid ? 0 : -1);
  EXPECT_EQ(bl->app_valid(), u.valid);
  cmd("enterapp");
  if (!u.valid) {  // stays in its bootloader
    EXPECT_TRUE(bl_still_there(bl));
    return;
  }
  EXPECT_TRUE(zs::devices().empty());
  ASSERT_TRUE(reappears(kAppPid));
  Bytes v;
  ASSERT_EQ(cmd("getversion", {}, &v), 0);
  EXPECT_EQ(Bytes(v.begin(), v.begin() + 10), Bytes({4, 0, 9, 0, 2, 0, 0x34, 0x12, 0xCD, 0xAB}));
  EXPECT_EQ(app->buttons(), 1u);  // the configuration survived the upgrade
  EXPECT_EQ(app->app_header(), Bytes(img.begin(), img.begin() + 256));
}

INSTANTIATE_TEST_SUITE_P(Bl3, Programming,
                         ::testing::Values(Upgrade{0, 0, false, true},   // 3.0: no encryption at all
                                           Upgrade{3, 1, false, true},   // encrypted image as it is
                                           Upgrade{3, 0, true, true},    // plain image after "uncrypt"
                                           Upgrade{3, 0, false, false},  // plain image taken as encrypted
                                           Upgrade{2, 1, true, false},   // encrypted image taken as plain
                                           Upgrade{2, 0, true, true}),
                         upgrade_name);

TEST_F(Wire, UnerasedPagesAndStrayDataAreRefused) {
  auto bl = std::make_shared<zs::Bl3Model>(3);
  bl->install_app(zs::make_fw_image({}));
  zs::plug(zs::gen4_bootloader_identity(), bl);
  ASSERT_TRUE(open(kBootPid));
  testing::internal::CaptureStdout();
  uint8_t block[64] = {};
  EXPECT_EQ(dev_send_data(dev, block, 64), -1);  // no programming run
  ASSERT_EQ(cmd("program", cat(le32(0), le32(1))), 0);
  EXPECT_EQ(dev_send_data(dev, block, 64), -1);  // still holds the old image
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(bl->unerased_writes(), 1u);
  EXPECT_EQ(bl->pages_programmed(), 0u);
  EXPECT_TRUE(bl->app_valid());
  // Out of the area: beyond the configuration storage's start, or past the flash.
  EXPECT_EQ(cmd("erasesec", le32((bl->area_end() - bl->app_base()) / 64)), -1);
  EXPECT_EQ(cmd("program", cat(le32(0), le32(64 * 1024))), -1);
  EXPECT_EQ(cmd("peek", le32(64 * 1024 - 2)), -1);
  EXPECT_EQ(cmd("uncrypt"), 0);
  EXPECT_EQ(cmd("no_such"), -1);
  EXPECT_EQ(bl->count("erasesec"), 1u);
}

TEST_F(Wire, RevisionZeroErasesToTheEndButNeverTheConfiguration) {
  auto bl = std::make_shared<zs::Bl3Model>(0);
  std::fill(bl->flash().end() - zs::kConfigStorage, bl->flash().end(), 0x42);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  ASSERT_TRUE(open(kBootPid));
  for (uint32_t i = 0; i < (64 - 16) * 1024 / 64; i += 4) EXPECT_EQ(cmd("erasesec", le32(i)), 0) << i;
  EXPECT_EQ(bl->flash().back(), 0x42);
  EXPECT_EQ(cmd("uncrypt"), -1);  // 3.0 knows no encryption
}

TEST_F(Wire, PlantedFaults) {
  auto bl = std::make_shared<zs::Bl3Model>(3);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  ASSERT_TRUE(open(kBootPid));
  Bytes img = zs::make_fw_image({});
  bl->refuse_page(1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(upload(*bl, img, 64, false), 1u);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(bl->flash()[bl->app_base() + 64], 0xFF);  // the refused page was not written
  EXPECT_EQ(upload(*bl, img, 64, false), img.size() / 64);
  bl->fail_checkapp(true);
  EXPECT_EQ(cmd("checkapp"), -1);
  EXPECT_TRUE(bl->app_valid());
  bl->set_log(std::string(20, 'L'));  // fills the payload, unterminated
  Bytes log;
  EXPECT_EQ(cmd("get_log", {}, &log), 0);
  EXPECT_EQ(std::string(log.begin(), log.end()), std::string(20, 'L'));
  bl->stay_gone_after_enterapp(true);
  cmd("enterapp");
  zs::advance_us(10 * kReenumerateUs);
  EXPECT_FALSE(open(kBootPid));
  EXPECT_FALSE(open(kAppPid));
}

TEST_F(Wire, StageTwoImageTurnsRevisionOneIntoTwo) {
  zs::plug_named("bl3.1");
  auto *bl = dynamic_cast<zs::Bl3Model *>(&zs::devices()[0]->model());
  ASSERT_NE(bl, nullptr);
  ASSERT_TRUE(open(kBootPid));
  EXPECT_EQ(peek(0x4000), 0xFFFFFFFFu);  // nothing there yet
  Bytes img = zs::stage2_image();
  ASSERT_EQ(upload(*bl, img, 64, false), img.size() / 64);
  EXPECT_EQ(cmd("checkapp"), 0);
  cmd("enterapp");
  ASSERT_TRUE(reappears(kBootPid));
  Bytes v;
  ASSERT_EQ(cmd("getversion", {}, &v), 0);
  EXPECT_EQ(v[0] | v[1] << 8, 3);
  EXPECT_EQ(v[2] | v[3] << 8, 2);
  EXPECT_EQ(peek(0x4000), 0xBABECAFEu);
}

struct Dfu {
  const char *flag;  // last boot-flag command before "reset"
  int bl_minor;
  uint16_t pid;      // what comes back
  uint32_t header_at;
};

std::string dfu_name(const ::testing::TestParamInfo<Dfu> &i) {
  return std::string(i.param.flag) + "_bl3_" + std::to_string(i.param.bl_minor);
}

class Reset : public Wire, public ::testing::WithParamInterface<Dfu> {};

TEST_P(Reset, ReenumeratesByTheBootFlag) {
  const Dfu d = GetParam();
  auto app = app_with_button();
  app->set_version(4, 10, 1, 0xFEED);
  app->set_bootloader(d.bl_minor);
  zs::plug(zs::gen4_app_identity(), app);
  ASSERT_TRUE(open(kAppPid));
  ASSERT_EQ(cmd(d.flag), 0);
  cmd("reset");
  EXPECT_TRUE(zs::devices().empty());
  ASSERT_TRUE(reappears(d.pid));
  if (d.pid == kAppPid) {
    EXPECT_EQ(&zs::devices()[0]->model(), app.get());  // a plain reboot
    return;
  }
  auto *bl = dynamic_cast<zs::Bl3Model *>(&zs::devices()[0]->model());
  ASSERT_NE(bl, nullptr);
  EXPECT_EQ(bl->minor(), d.bl_minor);
  EXPECT_EQ(bl->app_model(), app);
  EXPECT_EQ(bl->app_base(), d.header_at);
  // The running application's header, word by word, where the host reads it.
  for (uint32_t i = 0; i < 256; i += 4) EXPECT_EQ(peek(d.header_at + i), get32(app->app_header().data() + i)) << i;
  EXPECT_EQ(peek(d.header_at + 20), 10u << 16 | 4u);  // its version
  if (d.bl_minor == 2) {
    EXPECT_EQ(peek(0x4000 + 32), get32(reinterpret_cast<const uint8_t *>("Stag")));
  }
  // The application it holds is whole: leaving the bootloader brings it back.
  EXPECT_EQ(cmd("checkapp"), 0);
  cmd("enterapp");
  ASSERT_TRUE(reappears(kAppPid));
  EXPECT_EQ(app->buttons(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Gen4, Reset,
                         ::testing::Values(Dfu{"bflag_stay", 3, kBootPid, 0x4000},
                                           Dfu{"bflag_stay", 2, kBootPid, 0x6C00},
                                           Dfu{"bflag", 3, kAppPid, 0}),
                         dfu_name);

// Raw reads of the input queue, below the transport.
class Stream : public Wire {
 protected:
  void plug(bool ahead) {
    zs::reset();
    app = std::make_shared<zs::Gen4Model>();
    app->set_version(4, 10, 0);
    app->set_stream_ahead(ahead);
    zs::plug(zs::gen4_app_identity(), app);
    h = hid_open(0x20A0, kAppPid, nullptr);
    ASSERT_NE(h, nullptr);
  }
  void TearDown() override {
    if (h != nullptr) hid_close(h);
    Wire::TearDown();
  }
  int read(uint8_t *buf) { return hid_read_timeout(h, buf, 65, 100); }
  void send(const char *word, Bytes payload = {}) {
    uint8_t r[33] = {2};
    memcpy(r + 1, word, strlen(word));
    if (!payload.empty()) memcpy(r + 13, payload.data(), payload.size());
    ASSERT_EQ(hid_write(h, r, sizeof r), 33);
  }
  std::shared_ptr<zs::Gen4Model> app;
  hid_device *h = nullptr;
};

TEST_F(Stream, ForeverKeepsEveryReadBusy) {
  plug(false);
  app->set_stream_forever(true);
  uint8_t buf[65];
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(read(buf), 65) << i;
    ASSERT_EQ(buf[0], 7) << i;
  }
  app->set_stream_forever(false);
  while (read(buf) > 0) {
  }
  ASSERT_EQ(read(buf), 0);
  app->set_stream_forever(true);
  ASSERT_EQ(read(buf), 65);
  EXPECT_EQ(buf[1], 0);  // the start of a capture: the NEC leader mark
  EXPECT_EQ(buf[5] | buf[6] << 8, 9000);
}

TEST_F(Stream, CaptureDuringACommandIsQueuedByTheStreamAheadSetting) {
  for (bool ahead : {false, true}) {
    plug(ahead);
    send("record", {4, 0, 4});
    uint8_t buf[65];
    ASSERT_EQ(read(buf), 33);
    std::vector<uint16_t> edges{9000, 4500, 560, 1690, 560, 560, 560, 1690, 560};
    app->press_edges_after_polls(1, edges);
    send("ir_state");
    std::vector<int> ids;
    while (read(buf) > 0) ids.push_back(buf[0]);
    EXPECT_EQ(ids, ahead ? std::vector<int>({7, 1}) : std::vector<int>({1, 7})) << ahead;
    EXPECT_EQ(app->buttons(), 1u) << ahead;
    hid_close(h);
    h = nullptr;
  }
}

}  // namespace
