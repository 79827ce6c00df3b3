// Application firmware of generations 1 to 3 on the simulated bulk-USB dongle:
// opening, settings, counts, recording and deleting, listing, saving, loading.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "legacy_support.h"
#include "sim/model_gen4.h"

namespace {

using namespace legacy;

std::string temp_path(const char *name) { return std::string(testing::TempDir()) + name; }

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// ---- every named dongle opens with the table of its generation ----

struct Named {
  const char *name;
  int state;
  const char *version;
  bool delete_index, profiles, sequence, sku, upload;
};

const Named kNamed[] = {
    {"fw1.0", 2, "1.0.0", false, false, false, false, false},
    {"fw2.0", 2, "2.0.0", true, false, false, false, false},
    {"fw2.1", 2, "2.1.0", true, true, false, false, false},
    {"fw3.0", 2, "3.0.0", true, true, true, false, false},
    {"fw3.9", 2, "3.9.0", true, true, true, true, false},
    {"bl1", 1, "1.0.0", false, false, false, false, true},
    {"bl2", 1, "2.0.0", false, false, false, false, true},
};

class NamedDongle : public ::testing::TestWithParam<Named> {
 protected:
  void TearDown() override { zv_close_device(); }
};

TEST_P(NamedDongle, OpensOverBulkUsbWithItsGenerationsOperations) {
  const Named &n = GetParam();
  zs::reset();
  ASSERT_TRUE(zs::plug_named(n.name));
  ASSERT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), n.state);
  EXPECT_STREQ(zv_version_str(), n.version);
  EXPECT_EQ(zv_delete_index(1000) != -ZV_EWRONGDEV, n.delete_index);
  EXPECT_EQ(zv_get_builtin_profile_support() != -ZV_EWRONGDEV, n.profiles);
  EXPECT_EQ(zv_get_sequence_modifiers() != -ZV_EWRONGDEV, n.sequence);
  EXPECT_EQ(zv_get_sku() != nullptr, n.sku);
  EXPECT_EQ(zv_keys_recorded(), n.state == 2 ? 0 : -ZV_EWRONGDEV);
  // Bulk-USB tables keep no dev: closing sends nothing over a command channel.
  zs::clear_trace();
  zv_close_device();
  EXPECT_TRUE(zs::trace().empty());
  EXPECT_EQ(zs::counters().usb_reset, 1);
}

INSTANTIATE_TEST_SUITE_P(Legacy, NamedDongle, ::testing::ValuesIn(kNamed),
                         [](const auto &info) {
                           std::string s = info.param.name;
                           for (char &c : s)
                             if (c == '.') c = '_';
                           return s;
                         });

// A bulk-USB dongle answering a generation that exists only over HID would get
// a command-channel table whose commands the bulk backend can not carry.
struct HidOnly {
  bool bootloader;
  uint8_t major, minor;
  const char *line;
};

class HidOnlyGeneration : public ::testing::TestWithParam<HidOnly> {
 protected:
  void TearDown() override { zv_close_device(); }
};

TEST_P(HidOnlyGeneration, OverBulkUsbIsNotSupported) {
  const HidOnly &h = GetParam();
  zs::reset();
  auto dongle = std::make_shared<zs::LegacyDongle>();
  if (h.bootloader) {
    auto bl = std::make_shared<zs::LegacyBootloaderModel>(2, dongle);
    bl->set_version(h.major, h.minor);
    zs::plug(zs::legacy_bootloader_identity(2), bl);
  } else {
    zs::plug(zs::legacy_app_identity(), std::make_shared<zs::LegacyAppModel>(h.major, h.minor, dongle));
  }
  LevelGuard g;
  set_loglevel(4);
  LogCapture cap;
  EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), -1);
  EXPECT_NE(cap.all().find(h.line), std::string::npos) << cap.all();
  EXPECT_EQ(cap.all().find("initializing"), std::string::npos);
  EXPECT_EQ(zv_major_version(), -1);  // nothing stays open
}

INSTANTIATE_TEST_SUITE_P(Legacy, HidOnlyGeneration,
                         ::testing::Values(HidOnly{false, 4, 2, "): firmware version: v4.2 not supported\n"},
                                           HidOnly{false, 4, 11, "): firmware version: v4.11 not supported\n"},
                                           HidOnly{true, 3, 3, "): version: 3 not supported\n"}));

// ---- settings ----

using LegacySettings = LegacyApp;

struct SettingCase {
  int (*set)(int);
  int val, result;
  uint8_t byte2, byte3;  // after the call, from 0x36 / 0x06
};

TEST_F(LegacySettings, FieldsRangesAndTheBitsTheyTouch) {
  const SettingCase cases[] = {
      {zv_set_sensitivity, 4, -ZV_EINVAL, 0x36, 0x06},   {zv_set_sensitivity, -1, -ZV_EINVAL, 0x36, 0x06},
      {zv_set_sensitivity, 1, 0, 0x16, 0x06},            {zv_set_interkey_delay, 8, -ZV_EINVAL, 0x36, 0x06},
      {zv_set_interkey_delay, 2, 0, 0x32, 0x06},         {zv_set_noise_cancel, 3, 0, 0x36, 0x46},
      {zv_set_noise_cancel, 4, -ZV_EINVAL, 0x36, 0x06},  {zv_set_sleep_detect, 1, 0, 0x36, 0x86},
      {zv_set_sleep_detect, 2, -ZV_EINVAL, 0x36, 0x06},  {zv_set_builtin_profile_support, 0, 0, 0x36, 0x26},
      {zv_set_sequence_modifiers, 0, 0, 0x36, 0x16},     {zv_set_sequence_modifiers, 3, -ZV_EINVAL, 0x36, 0x06},
  };
  for (const SettingCase &c : cases) {
    zs::LegacyAppModel &app = open(3, 0);
    EXPECT_EQ(c.set(c.val), c.result) << c.val;
    EXPECT_EQ(app.dongle().memory[2], c.byte2) << c.val;
    EXPECT_EQ(app.dongle().memory[3], c.byte3) << c.val;
    // A refused value leaves the dongle untouched; an accepted one reloads it.
    EXPECT_EQ(app.reloads() + requests(0xC0, 7).size(), c.result == 0 ? 1u : 0u) << c.val;
    if (c.result != 0) {
      EXPECT_TRUE(zs::trace().empty());
    }
    zv_close_device();
  }
}

TEST_F(LegacySettings, NoiseCancellingKeepsBitZeroAndReadsBack) {
  zs::LegacyAppModel &app = open(2, 1);
  EXPECT_EQ(zv_set_noise_cancel(3), 0);
  EXPECT_EQ(zv_get_noise_cancel(), 1);
  EXPECT_EQ(zv_set_noise_cancel(2), 0);
  EXPECT_EQ(zv_get_noise_cancel(), 0);
  EXPECT_EQ(zv_get_sensitivity(), 3);
  EXPECT_EQ(zv_get_interkey_delay(), 6);
  EXPECT_EQ(zv_get_builtin_profile_support(), 1);
  app.dongle().memory[3] |= 0x20;
  EXPECT_EQ(zv_get_builtin_profile_support(), 0);
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::control_key(2)));
  EXPECT_EQ(zv_get_sensitivity(), -ZV_LIBUSBERR);
}

// ---- counts and deleting by index ----

TEST_F(LegacyApp, CountsOfASixRecordMemory) {
  zs::LegacyAppModel &app = open(2, 0);
  for (uint32_t h = 1; h <= 6; ++h) app.add_record(h, 0, static_cast<uint8_t>(h + 3));
  ASSERT_EQ(app.dongle().used(), 41u);
  EXPECT_EQ(zv_keys_remaining(), 163);
  EXPECT_EQ(zv_keys_recorded(), 6);
  app.dongle().set_used(1024);
  LevelGuard g;
  set_loglevel(1);
  LogCapture cap;
  EXPECT_EQ(zv_keys_remaining(), -1);
  EXPECT_NE(cap.text(1).find("fw_2.0 get_size("), std::string::npos) << cap.text(1);
  EXPECT_NE(cap.text(1).find("something seems wrong, please format"), std::string::npos);
}

struct IndexCase {
  int records, index, result;
  size_t writes;
};

TEST_F(LegacyApp, DeleteByIndex) {
  const IndexCase cases[] = {
      {2, 0, 0, 11},   // 17 bytes: record 1 moves to 5, 11 bytes written back
      {6, 5, 0, 35},   // the last record: nothing follows it
      {6, 6, -1, 0},   // one past the last
      {6, -1, -1, 0},  // before the first: never a write
      {0, 0, -1, 0},
  };
  for (const IndexCase &c : cases) {
    zs::LegacyAppModel &app = open(2, 1);
    for (int j = 0; j < c.records; ++j) app.add_record(0xA0 + j, 0, static_cast<uint8_t>(4 + j));
    LevelGuard g;
    set_loglevel(1);
    LogCapture cap;
    EXPECT_EQ(zv_delete_index(c.index), c.result) << c.index;
    EXPECT_EQ(writes(), c.writes) << c.index;
    if (c.result < 0) {
      EXPECT_NE(cap.text(1).find("index invalid"), std::string::npos);
      EXPECT_EQ(app.records(), static_cast<size_t>(c.records));
    } else {
      ASSERT_EQ(app.records(), static_cast<size_t>(c.records - 1));
      for (int j = 0; j < c.records - 1; ++j) {
        uint32_t want = 0xA0 + (j < c.index ? j : j + 1);
        EXPECT_EQ(app.record_hash(static_cast<size_t>(j)), want);
      }
    }
    zv_close_device();
  }
}

TEST_F(LegacyApp, DeleteByIndexReportsAWriteThatFailedPartWay) {
  zs::LegacyAppModel &app = open(2, 1);
  for (int j = 0; j < 3; ++j) app.add_record(0xB0 + j, 0, 4);
  zs::Fault f = zs::fault_on(zs::Fault::Fail, zs::control_key(3), 4);
  zs::add_fault(f);
  EXPECT_EQ(zv_delete_index(0), -ZV_LIBUSBERR);
  EXPECT_EQ(writes(), 4u);  // the loop stops at the failed write
}

// ---- recording and deleting ----

struct Retarget {
  uint8_t major;
  int modifier, key;
  uint16_t wValue, wIndex;
  bool no_match;
};

TEST_F(LegacyApp, RecordByCodeRetargetsConsumerUsages) {
  const Retarget cases[] = {
      {2, 548, 102, 104, 128, false}, {2, 547, 102, 104, 32, false}, {3, 440, 102, 104, 16, false},
      {2, 0x300, 102, 102, 0x300, true}, {2, 200, 102, 102, 200, false}, {2, 548, 4, 4, 548, false},
      {1, 548, 102, 102, 548, false},  // generation 1 sends it as given
  };
  for (const Retarget &c : cases) {
    open(c.major, 0);
    LevelGuard g;
    set_loglevel(1);
    LogCapture cap;
    EXPECT_EQ(zv_set_record_api(0, c.modifier, c.key, 0), 0);
    auto sent = requests(0xC0, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].setup.wValue, c.wValue) << c.modifier;
    EXPECT_EQ(sent[0].setup.wIndex, c.wIndex) << c.modifier;
    EXPECT_EQ(sent[0].setup.wLength, 1);
    EXPECT_EQ(cap.text(1).find("no match for: 0x300") != std::string::npos, c.no_match);
    zv_close_device();
  }
}

TEST_F(LegacyApp, RecordByNameWaitsForThePress) {
  zs::LegacyAppModel &app = open(2, 1);
  app.press_after_polls(3, 0xCAFE);
  EXPECT_EQ(zv_set_record("a", 5), 0);
  auto sent = requests(0xC0, 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].setup.wLength, 0);  // by name: no data stage
  ASSERT_EQ(app.records(), 1u);
  EXPECT_EQ(app.record_hash(0), 0xCAFEu);
  EXPECT_EQ(app.record_key(0), sent[0].setup.wValue);
  // The same button again: the dongle says it exists.
  app.press_after_polls(1, 0xCAFE);
  LevelGuard g;
  set_loglevel(0);
  EXPECT_EQ(zv_set_record("b", 5), -5);
  EXPECT_EQ(zv_set_record("\x01", 5), -ZV_EINVAL);  // no row: nothing sent
  EXPECT_EQ(requests(0xC0, 1).size(), 2u);
}

TEST_F(LegacyApp, DeleteByNameAndByPress) {
  zs::LegacyAppModel &app = open(3, 0);
  app.add_record(0x10, 0, 4);  // "a"
  app.add_record(0x20, 0, 5);
  EXPECT_EQ(zv_delete_buttons("a"), 0);
  EXPECT_EQ(app.records(), 1u);
  app.press_after_polls(2, 0x20);
  EXPECT_EQ(zv_set_delete(1), 0);
  EXPECT_EQ(app.records(), 0u);
}

// Generation 1 has no state request: the result comes on interrupt endpoint
// 0x83, whenever the user presses the button.
TEST_F(LegacyApp, Generation1WaitsOnTheInterruptEndpointUntilThePress) {
  zs::LegacyAppModel &app = open(1, 0);
  uint64_t start = zs::now_us();
  app.press_at(start + 3600ull * 1000000u, 0xBEEF);  // an hour later
  EXPECT_EQ(zv_set_record("a", 0), 0);
  EXPECT_EQ(zv_get_state(), 0);  // even while the dongle waits for a button
  EXPECT_EQ(app.state(), ZV_STATE_RECORD);
  EXPECT_EQ(zv_set_interrupt(5), 0);
  EXPECT_GE(zs::now_us() - start, 3600ull * 1000000u);
  ASSERT_EQ(app.records(), 1u);
  EXPECT_EQ(app.record_hash(0), 0xBEEFu);
  auto intr = zs::trace_of(zs::TraceEntry::Interrupt);
  ASSERT_EQ(intr.size(), 1u);
  EXPECT_EQ(intr[0].endpoint, 0x83);
  EXPECT_EQ(intr[0].timeout_ms, 0);

  // Results on the endpoint: the same button again exists; a failed read is a time-out.
  app.press_at(zs::now_us() + 1000, 0xBEEF);
  LevelGuard g;
  set_loglevel(1);
  LogCapture cap;
  EXPECT_EQ(zv_set_record("b", 1), -5);
  EXPECT_NE(cap.text(1).find("fw_1.0 zv_ver1_set_interrupt("), std::string::npos);
  EXPECT_NE(cap.text(1).find("error: button exists"), std::string::npos);
  unsigned char b = 0;
  int moved = 0;
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::interrupt_key(0x83)));
  EXPECT_EQ(zv_set_interrupt_ep(0x83, &b, 1, &moved, 0), zs::kUsbErrorIo);
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::interrupt_key(0x83)));
  EXPECT_EQ(zv_set_interrupt(0), -7);
}

// ---- edition, DFU ----

TEST_F(LegacyApp, EditionOf3p9) {
  for (uint8_t edition : {0, 1, 7}) {
    zs::LegacyAppModel &app = open(3, 9);
    app.set_edition(edition);
    EXPECT_STREQ(zv_get_sku(), edition == 0 ? "zivra-xe" : "zivra");
    zv_close_device();
  }
  open(3, 9);
  zs::add_fault(zs::fault_on(zs::Fault::Fail, zs::control_key(13)));
  EXPECT_EQ(zv_get_sku(), nullptr);
}

TEST_F(LegacyApp, DfuSucceedsWhenTheDongleDropsOffBeforeAnswering) {
  for (uint8_t major : {1, 2, 3}) {
    zs::LegacyAppModel &app = open(major, 0);
    app.dongle().reenumerate_us = 1000;
    EXPECT_EQ(zv_device_set_dfu(), 0) << int(major);
    auto sent = requests(0xC2, 5);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].setup.wValue, 90);
    zv_close_device();
    zs::advance_us(2000);
    EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 1) << int(major);
    EXPECT_EQ(zv_major_version(), major == 1 ? 1 : 2);
    zv_close_device();
  }
}

// ---- saving and loading ----

TEST_F(LegacyApp, SaveNameLengthDiffersByGeneration) {
  // 300 characters of path, padded with "./" so no component is too long.
  std::string dir = testing::TempDir();
  std::string name300 = dir;
  while (name300.size() < 290) name300 += "./";
  name300 += std::string(300 - name300.size(), 'n');
  ASSERT_EQ(name300.size(), 300u);
  open(1, 0);
  EXPECT_EQ(zv_save_config(name300.c_str()), 0);
  EXPECT_EQ(read_file(name300).size(), 5u);
  remove(name300.c_str());
  zv_close_device();
  open(2, 1);
  EXPECT_EQ(zv_save_config(name300.c_str()), -6);
  EXPECT_EQ(zv_save_config(name300.substr(0, 299).c_str()), 0);
  remove(name300.substr(0, 299).c_str());
}

TEST_F(LegacyApp, SaveWithoutANameSaysSoInEachGenerationsWords) {
  struct Case {
    uint8_t major;
    const char *where, *text;
  };
  for (const Case &c : {Case{1, "fw_1.0 zv_ver1_save_config(", "): File (NULL) is invalid\n"},
                        Case{2, "fw_2.0 zv_ver2_save_config(", "): file (NULL) is invalid\n"}}) {
    open(c.major, 0);
    LevelGuard g;
    set_loglevel(1);
    LogCapture cap;
    EXPECT_EQ(zv_save_config(nullptr), -6);
    EXPECT_NE(cap.text(1).find(c.where), std::string::npos) << cap.text(1);
    EXPECT_NE(cap.text(1).find(c.text), std::string::npos) << cap.text(1);
    EXPECT_TRUE(zs::trace().empty());
    zv_close_device();
  }
}

TEST_F(LegacyApp, SaveThenLoadRoundTripsByteForByte) {
  zs::LegacyAppModel &app = open(2, 1);
  app.add_record(0x11223344, 2, 30);
  app.add_record(0x55667788, 128, 104);
  app.dongle().memory[2] = 0x25;
  std::vector<uint8_t> before(app.dongle().memory.begin(), app.dongle().memory.begin() + 17);
  std::string path = temp_path("legacy_roundtrip.bin");
  ASSERT_EQ(zv_save_config(path.c_str()), 0);
  EXPECT_EQ(read_file(path), before);
  ASSERT_EQ(zv_format_config(), 0);
  EXPECT_EQ(app.records(), 0u);
  zs::clear_trace();
  ASSERT_EQ(zv_load_config(path.c_str()), 0);
  EXPECT_EQ(writes(), 17u);
  EXPECT_EQ(std::vector<uint8_t>(app.dongle().memory.begin(), app.dongle().memory.begin() + 17), before);
  remove(path.c_str());
}

TEST_F(LegacyApp, LoadWritesOnlyALegacyImage) {
  std::vector<uint8_t> gen4 = {0xEF, 0xBE, 0xAD, 0xDE, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0xFF, 0xFF, 0xFF, 0xFF, 15, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> big(1026, 0);
  big[0] = 0x04;
  big[1] = 0x02;  // claims its own length, but the memory holds 1020 at most
  const std::vector<uint8_t> refused[] = {gen4, {0, 11, 0x36, 0, 0, 1, 2}, {0, 3, 1}, big, {}};
  for (const auto &bytes : refused) {
    open(2, 0);
    std::string path = temp_path("legacy_refused.bin");
    write_file(path, bytes);
    LevelGuard g;
    set_loglevel(1);
    LogCapture cap;
    EXPECT_EQ(zv_load_config(path.c_str()), -1) << bytes.size();
    EXPECT_EQ(writes(), 0u) << bytes.size();
    EXPECT_NE(cap.text(1).find("invalid configuration file"), std::string::npos);
    remove(path.c_str());
    zv_close_device();
  }
  open(2, 0);
  EXPECT_EQ(zv_load_config(temp_path("no_such_file.bin").c_str()), -6);
}

// Replacing an old dongle: its saved file loads into a generation-4 one.
TEST_F(LegacyApp, AGeneration4DongleLoadsAFileSavedFromGeneration2) {
  zs::LegacyAppModel &app = open(2, 1);
  app.add_record(0x01020304, 0, 4);      // keyboard "a"
  app.add_record(0x0A0B0C0D, 0xE9, 102);  // a consumer usage
  std::string path = temp_path("legacy_to_gen4.bin");
  ASSERT_EQ(zv_save_config(path.c_str()), 0);
  zv_close_device();

  zs::reset();
  auto gen4 = std::make_shared<zs::Gen4Model>();
  gen4->set_version(4, 5, 0);
  zs::plug(zs::gen4_app_identity(), gen4);
  ASSERT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 2);
  ASSERT_EQ(zv_load_config(path.c_str()), 0);
  ASSERT_EQ(gen4->buttons(), 2u);
  EXPECT_TRUE(gen4->crc_valid());
  EXPECT_EQ(gen4->button_hash(0), 0x01020304u);
  EXPECT_EQ(gen4->button_hash(1), 0x0A0B0C0Du);
  const uint8_t *rec1 = gen4->image().data() + 28 + 16;
  EXPECT_EQ(rec1[13], 2);     // consumer report
  EXPECT_EQ(rec1[14], 0xE9);  // its usage
  EXPECT_EQ(rec1[15], 0);
  remove(path.c_str());
}

TEST_F(LegacyApp, ListingPrintsTheRecordsReadByteByByte) {
  zs::LegacyAppModel &app = open(2, 0);
  app.add_record(0xDEADBEEF, 0, 4);
  EXPECT_EQ(zv_display_config(), 0);
  EXPECT_EQ(requests(0xC2, 2).size(), 2u + 11u);  // the size, then every used byte
}

// ---- the bulk backend reads the caller's record whole ----

TEST_F(LegacyApp, BackendRefusesARecordShorterThanItReads) {
  open(2, 0);
  libusb_priv p{};
  p.VID = ZV_VID;
  p.PID = ZV_PID_USB_APP;
  p.interface = 1;
  strcpy(p.mfr, ZV_MFR_APP);
  zv_close_device();
  dev_t *d = dev_open(DEV_TYPE_LIBUSB, &p);
  ASSERT_NE(d, nullptr);
  LevelGuard g;
  set_loglevel(1);
  LogCapture cap;
  uint8_t small[32] = {0xC2, 2, 0, 0};
  zs::clear_trace();
  EXPECT_EQ(dev_send_cmd(d, "NULL", small, sizeof small), -1);
  EXPECT_EQ(dev_send_cmd(d, "libusb_interrupt", small, sizeof(libusb_interrupt) - 1), -1);
  EXPECT_TRUE(zs::trace().empty());
  EXPECT_EQ(count(cap.text(1), "[E] lib/libtransport/libusb libusb_dev_send_cmd("), 2u);
  libusb_msg m{};
  m.bmRequestType = 0xC2;
  m.bRequest = 2;
  m.wValue = 2;
  m.wLength = 1;
  m.timeout = 5000;
  EXPECT_EQ(dev_send_cmd(d, "NULL", reinterpret_cast<uint8_t *>(&m), sizeof m), 1);
  EXPECT_EQ(m.buf[0], 0x36);
  dev_close(d);
}

}  // namespace
