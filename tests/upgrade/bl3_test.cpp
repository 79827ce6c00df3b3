// The generation-3 bootloader tables on the wire: what each revision sends,
// checks and logs while programming an image, and what it refuses before the
// flash is touched.
#include <cstring>

#include "tests/support/helpers.h"
#include "tests/upgrade/bl3_support.h"
#include "zivra/app_info.h"
#include "zivra/bootloader.h"

namespace {

using namespace upg;

uint32_t u32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Opens the plugged bootloader and hands back a table of revision `minor`.
zv_iface_t *open_table(int minor) {
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  return determine_iface(1, 3, minor);
}

struct RevRow {
  int minor;
  uint32_t page;       // the device's page size
  uint32_t prog;       // bytes a data packet carries
  size_t erasesec;     // groups of four pages erased (64 KiB flash, 16 KiB bootloader)
  size_t flash_infos;  // "flash_info" exchanges
  bool uncrypt;        // for a plain version-2 image
  uint8_t boot_flag;   // in the programmed header
  uint8_t tested;      // copied from the dongle's header at 0x4000
  const char *erase;   // how "Erase..." is logged, or null when it is not
  bool groups;         // one "Erasing Page" line per group
};

class Revision : public Fixture, public ::testing::WithParamInterface<RevRow> {};

TEST_P(Revision, ProgramsStampsAndStartsTheImage) {
  const RevRow &r = GetParam();
  zs::FlashLayout layout;
  layout.page_size = r.page;
  auto bl = plug_bootloader(r.minor, layout);
  zv_iface_t *t = open_table(r.minor);
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> img = r.minor == 1 ? stage2_image() : image(7, r.prog);
  set_loglevel(5);
  OneLog log;
  zs::clear_trace();
  uint64_t t0 = zs::now_us() / 1000000;
  int rc = t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr);
  free(t);
  ASSERT_EQ(rc, 0) << log.text();

  EXPECT_EQ(bl->count("erasesec"), r.erasesec);
  for (size_t i = 0; i < bl->erased().size(); ++i) EXPECT_EQ(bl->erased()[i], 4 * i);
  EXPECT_EQ(bl->count("flash_info"), r.flash_infos);
  EXPECT_EQ(bl->uncrypt_seen(), r.uncrypt);
  EXPECT_EQ(bl->unerased_writes(), 0u);
  // "program" announces the pages, then each goes out as one data report.
  const zs::Command *program = nullptr;
  for (const auto &c : bl->commands())
    if (c.word == "program") program = &c;
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(u32(program->payload()), 0u);
  EXPECT_EQ(u32(program->payload() + 4), img.size() / r.prog);
  std::vector<std::vector<uint8_t>> pages;
  for (const auto &e : zs::trace_of(zs::TraceEntry::HidWrite))
    if (e.data[0] == 4) pages.push_back(e.data);
  ASSERT_EQ(pages.size(), img.size() / r.prog);
  for (size_t k = 0; k < pages.size(); ++k) {
    ASSERT_EQ(pages[k].size(), 65u);
    EXPECT_EQ(0, memcmp(pages[k].data() + 1, img.data() + k * r.prog, r.prog)) << "page " << k;
    for (size_t b = 1 + r.prog; b < 65; ++b) ASSERT_EQ(pages[k][b], 0) << "page " << k;
  }
  // The CRC check, then the start, end the job.
  ASSERT_GE(bl->commands().size(), 2u);
  EXPECT_EQ(bl->commands()[bl->commands().size() - 2].word, "checkapp");
  EXPECT_EQ(bl->commands().back().word, "enterapp");

  // The fields the upload owns, written into the caller's image and programmed.
  app_info_v2_t h;
  memcpy(&h, img.data(), sizeof h);
  EXPECT_GE(h.update_timestamp, t0);
  EXPECT_LE(h.update_timestamp, zs::now_us() / 1000000);
  EXPECT_EQ(h.tested, r.tested);
  EXPECT_EQ(h.boot_flag, r.boot_flag);
  std::string text = log.text();
  EXPECT_EQ(text.find("): erasing flash\n") != std::string::npos, r.minor != 0);
  if (r.erase == nullptr)
    EXPECT_EQ(text.find("Erase..."), std::string::npos);
  else
    EXPECT_NE(text.find(std::string(r.erase) + " lib/libzivra/bootloader/bl_3." + std::to_string(r.minor) +
                        " erase_flash("),
              std::string::npos)
        << text;
  EXPECT_EQ(log.count("): Erasing Page: "), r.groups ? r.erasesec : 0u);
  EXPECT_TRUE(log.has(std::string("): Tested in Manufacturing: ") + (r.tested == 0 ? "True" : "False") + "\n"));
  EXPECT_TRUE(log.has(std::string("): Application Flag: ") + (r.boot_flag == 0x55 ? "Okay" : "Hold") + "\n"));
  EXPECT_EQ(log.has("): disabling encryption\n"), r.uncrypt);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRevision, Revision,
    ::testing::Values(
        // 3.0: 64-byte pages whatever the device says; the erase still counts its
        // own 32-byte pages, up to the end of flash.
        RevRow{0, 32, 64, (2048 - 512 + 3) / 4, 1, false, 0x55, 0, "[D]", false},
        RevRow{1, 64, 64, (1024 - 128 - 256) / 4, 2, true, 0x55, 0xFF, "[I]", true},
        RevRow{2, 64, 64, (1024 - 176 - 128 - 256) / 4, 2, true, 0x55, 0, nullptr, true},
        RevRow{3, 32, 32, (2048 - 256 - 512) / 4, 2, true, 0, 0, "[I]", true}),
    [](const auto &info) { return "bl3p" + std::to_string(info.param.minor); });

// The progress callback sees the pages done before each page, then 100.
TEST_F(Fixture, ProgressOfAThreePageImage) {
  plug_bootloader(3);
  zv_iface_t *t = open_table(3);
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> img = image(3, 64);
  std::vector<int> seen;
  StdoutCapture out;
  int rc = t->zv_upload_fw(
      img.data(), img.size(), &seen, [](int p, void *priv) { static_cast<std::vector<int> *>(priv)->push_back(p); });
  free(t);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(seen, (std::vector<int>{0, 33, 66, 100}));
  std::string o = out.text();
  EXPECT_NE(o.find("] 0%"), std::string::npos);
  EXPECT_NE(o.find("] 100%\r\n"), std::string::npos);
}

struct BadImage {
  const char *name;
  size_t len;           // bytes of the image handed over (0: all)
  uint32_t signature;   // 0: keep
  uint32_t version;     // 0: keep
  const char *message;  // an E line
};

class Refused : public Fixture, public ::testing::WithParamInterface<BadImage> {};

// A file that can never be programmed is refused before the first erase: the
// dongle keeps its application.
TEST_P(Refused, BeforeAnythingIsErased) {
  const BadImage &b = GetParam();
  auto bl = plug_bootloader(3);
  zv_iface_t *t = open_table(3);
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> img = image(7, 64);
  if (b.signature != 0) memcpy(img.data(), &b.signature, 4);
  if (b.version != 0) memcpy(img.data() + 4, &b.version, 4);
  size_t len = b.len != 0 ? b.len : img.size();
  OneLog log;
  int rc = t->zv_upload_fw(len == 1 ? nullptr : img.data(), len == 1 ? 0 : len, nullptr, nullptr);
  free(t);
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(log.has(std::string("): ") + b.message + "\n")) << log.text();
  EXPECT_EQ(bl->count("erasesec"), 0u);
  EXPECT_EQ(bl->count("program"), 0u);
  EXPECT_TRUE(bl->app_valid());
}

INSTANTIATE_TEST_SUITE_P(
    Images, Refused,
    ::testing::Values(BadImage{"Misaligned", 7 * 64 - 1, 0, 0, "Invalid binary image"},
                      BadImage{"Signature", 0, 0xDEADBEEF, 0, "not a valid image"},
                      BadImage{"Version3", 0, 0, 3, "unsupported image"},
                      BadImage{"ShorterThanItsHeader", 100, 0, 0, "image of 100 bytes is too short for a firmware header"},
                      BadImage{"Empty", 1, 0, 0, "image of 0 bytes is too short for a firmware header"}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadFlash {
  const char *name;
  int minor;
  uint32_t bl_kb, flash_kb, page;
  const char *message;  // null: accepted
};

class FlashDescription : public Fixture, public ::testing::WithParamInterface<BadFlash> {};

// A flash description no page could be programmed with, or whose erase would
// run for hours, is refused before anything is erased; 3.0 programs 64-byte
// pages whatever the device says, so a large page size does not stop it.
TEST_P(FlashDescription, IsCheckedBeforeTheErase) {
  const BadFlash &f = GetParam();
  auto bl = plug_bootloader(f.minor);
  bl->set_flash_desc(f.bl_kb, f.flash_kb, f.page);
  zv_iface_t *t = open_table(f.minor);
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> img = image(4, 128);
  OneLog log;
  int rc = t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr);
  free(t);
  if (f.message == nullptr) {
    EXPECT_EQ(rc, 0) << log.text();
    return;
  }
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(log.has(std::string("): ") + f.message + "\n")) << log.text();
  EXPECT_EQ(bl->count("erasesec"), 0u);
  EXPECT_TRUE(bl->app_valid());
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, FlashDescription,
    ::testing::Values(BadFlash{"PageZero", 3, 16, 64, 0, "invalid page size: 0"},
                      BadFlash{"PageZero30", 0, 16, 64, 0, "invalid page size: 0"},
                      BadFlash{"Page128", 3, 16, 64, 128, "page size 128 does not fit one data packet of 64 bytes"},
                      BadFlash{"Page128On30", 0, 16, 64, 128, nullptr},
                      BadFlash{"TwoMiB", 3, 16, 2048, 64, "invalid flash size: 2048 kB"}),
    [](const auto &info) { return std::string(info.param.name); });

// A bootloader larger than the flash erases nothing instead of a wrapped count.
TEST_F(Fixture, EraseCountNeverNegative) {
  auto bl = plug_bootloader(3);
  bl->set_flash_desc(80, 64, 64);
  zv_iface_t *t = open_table(3);
  std::vector<uint8_t> img = image(7, 64);
  set_loglevel(3);
  OneLog log;
  t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr);
  free(t);
  EXPECT_EQ(bl->count("erasesec"), 0u);
  EXPECT_TRUE(log.has("): Success"));
}

// The edition check: an image for another edition is refused with the table of
// both names and nothing erased. 3.2 asks for the name at 0x6C00 through the
// public call, and again for the table; 3.3 reads it once more at 0x4000.
struct EditionRow {
  int minor;
  uint32_t base;  // where the dongle's header is read
  size_t reads;   // header reads of 64 words
};

class EditionMismatch : public Fixture, public ::testing::WithParamInterface<EditionRow> {};

TEST_P(EditionMismatch, RefusedWithBothNames) {
  const EditionRow &e = GetParam();
  auto bl = plug_bootloader(e.minor);
  zv_iface_t *t = open_table(e.minor);
  std::vector<uint8_t> img = image(7, 64, "ZIVRA-PRO");
  OneLog log;
  size_t before = bl->commands().size();
  EXPECT_EQ(t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr), -1);
  free(t);
  std::vector<uint32_t> addrs;
  for (size_t i = before; i < bl->commands().size(); ++i) {
    ASSERT_EQ(bl->commands()[i].word, "peek");
    addrs.push_back(u32(bl->commands()[i].payload()));
  }
  ASSERT_EQ(addrs.size(), e.reads * 64);
  for (size_t i = 0; i < addrs.size(); ++i) EXPECT_EQ(addrs[i], e.base + 4 * (i % 64));
  EXPECT_TRUE(log.has("): invalid image, incorrect sku\n"));
  EXPECT_TRUE(log.has("): File                 Device\n"));
  EXPECT_TRUE(log.has("): ----                 ------\n"));
  EXPECT_TRUE(log.has("): ZIVRA-PRO            ZIVRA-STD\n"));
}

INSTANTIATE_TEST_SUITE_P(Sources, EditionMismatch,
                         ::testing::Values(EditionRow{2, 0x6C00, 3}, EditionRow{3, 0x4000, 2}),
                         [](const auto &info) { return "bl3p" + std::to_string(info.param.minor); });

// 3.1 only installs the stage-2 bootloader: with a readable header the name must
// be its own; without one any name passes but the size must still be 0x2B00.
TEST_F(Fixture, Stage2InstallerChecks) {
  auto bl = plug_bootloader(1);
  zv_iface_t *t = open_table(1);
  std::vector<uint8_t> img = image(7, 64);
  OneLog log;
  EXPECT_EQ(t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr), -1);
  EXPECT_TRUE(log.has("): not a valid image on device\n"));
  EXPECT_TRUE(log.has("): looks like you have the wrong image budday\n"));
  EXPECT_TRUE(log.has("): header size != 0x2B00\n"));
  bl->install_stage2(stage2_image());  // a readable header at 0x4000 now
  std::vector<uint8_t> other = stage2_image();
  memcpy(other.data() + offsetof(app_info_v1_t, app_name), "Stage2 1.1", 11);
  EXPECT_EQ(t->zv_upload_fw(other.data(), other.size(), nullptr, nullptr), -1);
  EXPECT_TRUE(log.has("): Stage2 1.1           Stage2 1.0 [null]\n"));
  free(t);
  EXPECT_EQ(bl->count("erasesec"), 0u);
}

// A header with the signature but an unknown version names no edition: the check
// is skipped with a warning rather than made against nothing.
class UnknownHeaderVersion : public Fixture, public ::testing::WithParamInterface<int> {};

TEST_P(UnknownHeaderVersion, SkipsTheEditionCheck) {
  int minor = GetParam();
  auto bl = plug_bootloader(minor);
  std::vector<uint8_t> odd = image(7, 64);
  uint32_t v = 7;
  memcpy(odd.data() + 4, &v, 4);
  bl->install_app(odd);
  zv_iface_t *t = open_table(minor);
  std::vector<uint8_t> img = image(7, 64, "ZIVRA-PRO");
  OneLog log;
  EXPECT_EQ(t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr), 0) << log.text();
  free(t);
  EXPECT_TRUE(log.has("[W] lib/libzivra/bootloader/bl_3." + std::to_string(minor) + " valid_dev_image("));
}

INSTANTIATE_TEST_SUITE_P(Revisions, UnknownHeaderVersion, ::testing::Values(2, 3));

// The other slots: the build hash (1 when "getversion" fails), the log text cut
// inside the reply, a version-1 edition name printed, and leaving without a check.
TEST_F(Fixture, HashLogSkuAndLeaving) {
  auto bl = plug_bootloader(3);
  bl->set_scm_hash(0xABCD1234);
  bl->set_log(std::string(20, 'x'));  // no terminator inside the payload
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  EXPECT_EQ(zv_fw_scm_hash(), 0xABCD1234u);
  zs::add_fault(zs::fault_on(zs::Fault::Timeout, "getversion"));
  EXPECT_EQ(zv_fw_scm_hash(), 1u);
  char text[64];
  memset(text, 'y', sizeof text);
  EXPECT_EQ(zv_log(text), 20);
  EXPECT_EQ(std::string(text), std::string(20, 'x'));
  zs::ImageFields v1;
  v1.header_version = 1;
  v1.name = "ZIVRA-OLD";
  bl->install_app(zs::make_fw_image(v1));
  StdoutCapture out;
  const char *sku = zv_get_sku();
  ASSERT_NE(sku, nullptr);
  EXPECT_STREQ(sku, "ZIVRA-OLD");
  EXPECT_EQ(out.text(), "ZIVRA-OLD\n");
  bl->fail_checkapp(true);
  EXPECT_EQ(zv_leave_bootloader(), -1);
  EXPECT_EQ(bl->count("enterapp"), 0u);
  zv_ver3_leave_bootloader();  // no CRC check first
  EXPECT_EQ(bl->count("enterapp"), 1u);
}

}  // namespace
