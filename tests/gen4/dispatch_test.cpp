// Generation dispatch and the forwarding layer without any dongle attached.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "capture.h"
#include "zivra/zivra.h"

namespace {

struct Row {
  int state, major, minor;
  const char *line;  // the selection's own line after "version: M.m", or "" for none
  int level;         // 4 D, 1 E
  bool table;        // a table results in this build
};

// Every row of the selection table; every builder is part of this build.
const Row kRows[] = {
    {1, 1, 7, "initializing btldr ver1", 4, true},
    {1, 2, 0, "initializing btldr ver2.0", 4, true},
    {1, 2, 1, "initializing btldr ver2.1", 4, true},
    {1, 2, 7, "unknown minor, initializing v2.0", 4, true},
    {1, 3, 0, "initializing btldr ver3.0", 4, true},
    {1, 3, 1, "initializing btldr ver3.1", 4, true},
    {1, 3, 2, "found stage 2 bootloader", 4, true},
    {1, 3, 3, "initializing btldr ver3.3", 4, true},
    {1, 3, 4, "unknown version", 4, false},
    {1, -1, 0, "can not read version, unplug/plug device", 1, false},
    {1, 5, 0, "version: 5 not supported", 1, false},
    {2, 0, 3, "major version 0, initializing fw ver1", 4, true},
    {2, 1, 0, "initializing fw ver1", 4, true},
    {2, 2, 0, "initializing fw ver2.0", 4, true},
    {2, 2, 1, "initializing fw ver2.1", 4, true},
    {2, 2, 6, "initializing fw ver2.6", 4, true},
    {2, 2, 7, "unknown minor version, using 2.0", 4, true},
    {2, 3, 0, "initializing fw ver3.0", 4, true},
    {2, 3, 1, "initializing fw ver3.1", 4, true},
    {2, 3, 2, "", 4, true},
    {2, 3, 6, "initializing fw ver3.6", 4, true},
    {2, 3, 7, "initializing fw ver3.7", 4, true},
    {2, 3, 9, "initializing fw ver3.9", 4, true},
    {2, 3, 11, "initializing fw ver3.11", 4, true},
    {2, 3, 12, "initializing fw ver3.12", 4, true},
    {2, 3, 4, "", 4, true},
    {2, 3, 13, "", 4, true},
    {2, 4, 0, "initializing fw ver4.0", 4, true},
    {2, 4, 1, "initializing fw ver4.1", 4, true},
    {2, 4, 9, "initializing fw ver4.9", 4, true},
    {2, 4, 10, "initializing fw ver4.10", 4, true},
    {2, 4, 11, "unsupported fw v:4.11", 1, false},
    {2, 255, 0, "beta firmware, initializing fw ver2", 4, true},
    {2, -1, 0, "can not read version, unplug/plug device", 1, false},
    {2, 7, 2, "firmware version: v7.2 not supported", 4, false},
};

class Selection : public ::testing::TestWithParam<Row> {};

TEST_P(Selection, LogsItsRowAndBuildsWhatThisBuildHas) {
  const Row &r = GetParam();
  LevelGuard g;
  set_loglevel(5);
  LogCapture cap;
  zv_iface_t *t = determine_iface(r.state, r.major, r.minor);
  std::string d = cap.text(4);
  EXPECT_NE(d.find(std::string("): fw_state: ") + (r.state == 2 ? "firmware" : "bootloader") + "\n"),
            std::string::npos);
  EXPECT_NE(d.find("): version: " + std::to_string(r.major) + "." + std::to_string(r.minor) + "\n"),
            std::string::npos);
  std::string own = r.level == 4 ? d : cap.text(1);
  size_t lines = 0;
  for (char c : d) lines += c == '\n';
  if (*r.line != '\0') {
    EXPECT_NE(own.find(std::string("): ") + r.line + "\n"), std::string::npos) << own;
  }
  size_t expected_d = 2 + ((*r.line != '\0' && r.level == 4) ? 1 : 0);
  EXPECT_EQ(lines, expected_d) << d;
  EXPECT_EQ(t != nullptr, r.table);
  if (t != nullptr) {
    EXPECT_EQ(t->dev, nullptr);
    // A bootloader table programs and starts images; it records nothing.
    bool bl = r.state == 1;
    EXPECT_EQ(t->zv_upload_fw != nullptr, bl);
    EXPECT_EQ(t->zv_leave_bootloader != nullptr, bl);
    EXPECT_EQ(t->zv_set_record != nullptr, !bl);
    // Only the vendor-request applications (generations 1 to 3) have the settings.
    EXPECT_EQ(t->zv_get_noise_cancel != nullptr, r.state == 2 && r.major != 4);
  }
  free(t);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, Selection, ::testing::ValuesIn(kRows));

TEST(Fw4p0Table, FillsExactlyItsSlots) {
  zv_iface_t *t = zv_fw_ver4p0_init();
  ASSERT_NE(t, nullptr);
  void **slots = reinterpret_cast<void **>(t);
  // Slot numbers the 4.0 builder fills.
  const int filled[] = {3, 4, 5, 6, 7, 8, 21, 22, 23, 24, 25, 26, 30, 36, 37, 38, 41, 42, 46, 47, 48, 49, 63};
  for (int i = 0; i < 66; ++i) {
    bool want = false;
    for (int f : filled) want |= f == i;
    EXPECT_EQ(slots[i] != nullptr, want) << "slot " << i;
  }
  EXPECT_EQ(t->zv_set_normal, t->zv_clear_state);
  free(t);
}

// Before any open every forwarder reports that no dongle is open.
TEST(Forwarders, NoDongleOpen) {
  LevelGuard g;
  set_loglevel(5);
  LogCapture cap;
  EXPECT_EQ(zv_set_record("a", 0), -19);
  EXPECT_EQ(zv_get_sensitivity(), -19);
  EXPECT_EQ(zv_get_sleep_detect(), -19);
  EXPECT_EQ(zv_fw_scm_hash(), static_cast<uint32_t>(-19));
  EXPECT_EQ(zv_product_type(), -19);
  EXPECT_EQ(zv_record_toggle(1), -19);
  EXPECT_EQ(zv_fw_branch(), nullptr);
  EXPECT_EQ(zv_get_sku(), nullptr);
  EXPECT_EQ(zv_ir_packet_poll(nullptr), -19);
  EXPECT_EQ(zv_irfuck(nullptr), -19);
  EXPECT_EQ(zv_initialize_product(3), -19);
  EXPECT_EQ(zv_send_msg(0xC2, 1, 0, 0, nullptr, 0, 10), -19);
  EXPECT_EQ(cap.text(1), "");
  EXPECT_NE(cap.text(4).find("zv_set_record("), std::string::npos);
  // The level-E forwarders.
  char buf[32];
  EXPECT_EQ(zv_log(buf), -1);
  EXPECT_EQ(zv_eeprom_peek(3), -19);
  EXPECT_EQ(zv_eeprom_poke(3, 1), -19);
  EXPECT_EQ(zv_delete_index(0), -1);
  std::string e = cap.text(1);
  for (const char *fn : {"zv_log(", "zv_eeprom_peek(", "zv_eeprom_poke(", "zv_delete_index("})
    EXPECT_NE(e.find(std::string(fn)), std::string::npos) << fn;
  EXPECT_NE(e.find("): pointer to handle is invalid\n"), std::string::npos);
}

TEST(Versions, NothingOpen) {
  LevelGuard g;
  set_loglevel(5);
  LogCapture cap;
  EXPECT_EQ(zv_major_version(), -1);
  EXPECT_FLOAT_EQ(zv_version(), -1.0f);
  EXPECT_EQ(zv_version_str(), nullptr);
  EXPECT_NE(cap.text(1).find("zv_major_version("), std::string::npos);
  EXPECT_NE(cap.text(1).find("): something bad happened\n"), std::string::npos);
  EXPECT_STREQ(zv_lib_version(), "3.27.10-39-gb76f58e4");
  zv_close_device();  // nothing open: only D lines
  EXPECT_NE(cap.text(4).find("): pointer to handle is invalid\n"), std::string::npos);
}

}  // namespace
