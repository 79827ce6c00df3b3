// A generation-4 dongle (firmware 4.0) opened and driven through the public API
// against the simulated dongle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
#include "sim/model_gen4.h"
#include "zivra/version_history.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

namespace {

class Gen4 : public ::testing::Test {
 protected:
  void SetUp() override {
    zs::reset();
    model = std::make_shared<zs::Gen4Model>();
  }
  void TearDown() override { zv_close_device(); }
  // Plugs the application and opens it.
  void open(int interface = 0) {
    zs::plug(zs::gen4_app_identity(interface), model);
    ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  }
  // Payload bytes of the last command `word` the dongle received.
  std::vector<uint8_t> last(const std::string &word) {
    for (auto it = model->commands().rbegin(); it != model->commands().rend(); ++it)
      if (it->word == word) return {it->payload(), it->payload() + it->payload_size()};
    return {};
  }
  std::vector<uint8_t> first3(const std::string &word) {
    std::vector<uint8_t> p = last(word);
    p.resize(3);
    return p;
  }
  std::shared_ptr<zs::Gen4Model> model;
  LevelGuard level;
};

TEST_F(Gen4, NothingOnTheBus) {
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), -1);
  EXPECT_EQ(zv_fw_state(), -1);
}

TEST_F(Gen4, OpensTheApplication) {
  open();
  EXPECT_EQ(zv_fw_state(), 2);
  EXPECT_EQ(zv_major_version(), 4);
  EXPECT_FLOAT_EQ(zv_version(), 4.0f);
  EXPECT_STREQ(zv_version_str(), "4.0.3");
  zv_close_device();
  EXPECT_EQ(zv_major_version(), -1);
  EXPECT_EQ(zv_set_record("a", 0), -19);
}

// The bootloader is asked first and, having a table, wins over the application.
TEST_F(Gen4, BootloaderIsTriedFirstAndWins) {
  auto bl = std::make_shared<zs::Gen4BootloaderModel>(3, 3);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  zs::plug(zs::gen4_app_identity(), model);
  set_loglevel(4);
  LogCapture cap;
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), 1);
  EXPECT_EQ(zv_fw_state(), 1);
  EXPECT_EQ(bl->count("getversion"), 1u);
  EXPECT_EQ(model->count("getversion"), 0u);
  std::string d = cap.text(4);
  EXPECT_NE(d.find("fw_state: bootloader"), std::string::npos);
  EXPECT_EQ(d.find("fw_state: firmware"), std::string::npos);
  EXPECT_NE(d.find("initializing btldr ver3.3"), std::string::npos);
}

TEST_F(Gen4, UnsupportedVersionLeavesNothingOpen) {
  model->set_version(4, 11, 1);
  zs::plug(zs::gen4_app_identity(), model);
  set_loglevel(4);
  LogCapture cap;
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), -1);
  EXPECT_NE(cap.text(4).find("): device not supported\n"), std::string::npos);
  EXPECT_EQ(zs::counters().hid_open, zs::counters().hid_close);
  EXPECT_EQ(zv_get_state(), -19);
}

// The HID getters ask the dongle each time: a 4.10 answer gives 4.1 as a number.
TEST_F(Gen4, VersionGettersOfMinorTen) {
  open();
  model->set_version(4, 10, 7);
  EXPECT_FLOAT_EQ(zv_version(), 4.1f);
  EXPECT_STREQ(zv_version_str(), "4.10.7");
  model->set_version(4, 9, 2);
  EXPECT_FLOAT_EQ(zv_version(), 4.9f);
}

TEST_F(Gen4, AuxiliaryInterfaceSwitching) {
  open();
  EXPECT_EQ(model->count("usb_if"), 0u);
  set_loglevel(5);
  {
    LogCapture cap;
    zv_close_device();  // 4.0 has no such command: it answers 0xFE, which is not an error here
    EXPECT_EQ(cap.text(1), "");
  }
  ASSERT_EQ(model->count("usb_if"), 1u);
  std::vector<uint8_t> p = last("usb_if");
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 5), (std::vector<uint8_t>{1, 0, 0, 0, 0}));

  zs::reset();
  model = std::make_shared<zs::Gen4Model>();
  model->set_version(4, 6, 0);  // the first revision that switches interfaces
  zs::plug(zs::gen4_app_identity(2), model);
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), -1);  // interface 0 only
  ASSERT_EQ(zv_open_device_alt(ZV_VID, nullptr), 2);
  ASSERT_EQ(model->count("usb_if"), 1u);
  p = last("usb_if");
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 5), (std::vector<uint8_t>{1, 0, 0, 0, 1}));
  EXPECT_TRUE(model->usb_if());
}

TEST_F(Gen4, OpeningAgainClosesFirst) {
  open();
  ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  EXPECT_EQ(zs::counters().hid_open, 2);
  EXPECT_EQ(zs::counters().hid_close, 1);
}

struct Empty {
  const char *name;
  int (*call)();
  bool fw_message;
};

const Empty kEmpty[] = {
    {"zv_leave_bootloader", [] { return zv_leave_bootloader(); }, false},
    {"zv_reboot", [] { return zv_reboot(); }, false},
    {"zv_delete_buttons", [] { return zv_delete_buttons("a"); }, false},
    {"zv_get_noise_cancel", [] { return zv_get_noise_cancel(); }, false},
    {"zv_set_sensitivity", [] { return zv_set_sensitivity(1); }, false},
    {"zv_get_sensitivity", [] { return zv_get_sensitivity(); }, false},
    {"zv_get_interkey_delay", [] { return zv_get_interkey_delay(); }, false},
    {"zv_keys_recorded", [] { return zv_keys_recorded(); }, false},
    {"zv_keys_remaining", [] { return zv_keys_remaining(); }, false},
    {"zv_normalize_config", [] { return zv_normalize_config(); }, false},
    {"zv_unit_test", [] { return zv_unit_test(); }, false},
    {"zv_set_record_lp", [] { return zv_set_record_lp("a", 0); }, false},
    {"zv_usb_iface_en", [] { return zv_usb_iface_en(USB_IFACE_AUX, 1); }, false},
    {"zv_last_hash", [] { return zv_last_hash(); }, false},
    {"zv_rb_wake_sig", [] { return zv_rb_wake_sig(nullptr, 0); }, false},
    {"zv_record_toggle", [] { return zv_record_toggle(0); }, false},
    {"zv_ir_packet_poll", [] { return zv_ir_packet_poll(nullptr); }, false},
    {"zv_irfuck", [] { return zv_irfuck(nullptr); }, false},
    {"zv_delete_index", [] { return zv_delete_index(0); }, false},
    {"zv_set_sleep_detect", [] { return zv_set_sleep_detect(1); }, true},
    {"zv_get_sleep_detect", [] { return zv_get_sleep_detect(); }, true},
    {"zv_get_builtin_profile_support", [] { return zv_get_builtin_profile_support(); }, true},
    {"zv_set_sequence_modifiers", [] { return zv_set_sequence_modifiers(1); }, true},
};

class EmptySlot : public Gen4, public ::testing::WithParamInterface<Empty> {};

TEST_P(EmptySlot, ReportsTheOperationMissingAtLevelD) {
  open();
  set_loglevel(5);
  LogCapture cap;
  size_t sent = model->commands().size();
  EXPECT_EQ(GetParam().call(), -12);
  std::string want = std::string("[D] lib/libzivra/zivra_driver ") + GetParam().name + "(";
  std::string d = cap.text(4);
  EXPECT_EQ(d.rfind(want, 0), 0u) << d;
  EXPECT_NE(d.find(GetParam().fw_message ? "): invalid operation for this device or fw version\n"
                                         : "): invalid operation for this device or version\n"),
            std::string::npos);
  EXPECT_EQ(cap.text(1), "");
  EXPECT_EQ(model->commands().size(), sent);
}

INSTANTIATE_TEST_SUITE_P(On4p0, EmptySlot, ::testing::ValuesIn(kEmpty),
                         [](const auto &i) { return std::string(i.param.name); });

TEST_F(Gen4, SpecialForwardersOnEmptySlots) {
  open();
  LogCapture cap;
  EXPECT_EQ(zv_product_type(), 2);
  EXPECT_EQ(zv_fw_branch(), nullptr);
  EXPECT_EQ(zv_fw_scm_hash(), 0x1234ABCDu);
}

TEST_F(Gen4, RecordWithoutWaitSendsTheReport) {
  open();
  EXPECT_EQ(zv_set_record("a", 0), 0);
  EXPECT_EQ(first3("record"),
            (std::vector<uint8_t>{1, 0, 4}));
  EXPECT_EQ(model->count("ir_state"), 0u);
}

TEST_F(Gen4, RecordRefusesUnknownAndOverlongKeys) {
  open();
  LogCapture cap;
  EXPECT_EQ(zv_set_record(std::string(300, 'x').c_str(), 0), -8);
  EXPECT_EQ(zv_set_record(nullptr, 0), -8);
  EXPECT_EQ(zv_set_record("no_such_key", 0), -8);
  EXPECT_EQ(model->count("record"), 0u);
  EXPECT_NE(cap.text(1).find("): Key does not exist\n"), std::string::npos);
}

TEST_F(Gen4, RecordAndDeleteByNumbersEndToEnd) {
  open();
  model->press_after_polls(3, 0xC0FFEE);
  uint64_t t0 = zs::now_us();
  EXPECT_EQ(zv_set_record_api(0, 0xE9, 102, 10), 0);
  EXPECT_EQ(first3("record"),
            (std::vector<uint8_t>{2, 0xE9, 102}));
  EXPECT_LT(zs::now_us() - t0, 1000000u);
  ASSERT_EQ(model->buttons(), 1u);
  EXPECT_EQ(model->button_hash(0), 0xC0FFEEu);
  EXPECT_TRUE(model->crc_valid());

  size_t before = model->count("record");
  EXPECT_EQ(zv_set_record_api(1, 0, 4, 0), -1);
  EXPECT_EQ(model->count("record"), before);
  EXPECT_EQ(zv_set_record_api_new(3, 1, 0x100, 0), 0);
  EXPECT_EQ(first3("record"),
            (std::vector<uint8_t>{3, 1, 0}));

  model->press_after_polls(2, 0xC0FFEE);
  EXPECT_EQ(zv_set_delete(1), 0);
  EXPECT_EQ(model->buttons(), 0u);
}

struct Outcome {
  const char *name;
  int code;
  const char *line;
};

class ErrorState : public Gen4, public ::testing::WithParamInterface<Outcome> {};

TEST_P(ErrorState, GivesItsCodeAndMessage) {
  open();
  std::string n = GetParam().name;
  model->press_after_polls(1, 0x1111);
  ASSERT_EQ(zv_set_record_api_new(1, 0, 4, 5), 0);  // one button recorded
  LogCapture cap;
  int r;
  if (n == "no_space") {
    model->set_capacity(1);
    model->press_after_polls(2, 0x2222);
    r = zv_set_record_api_new(1, 0, 5, 5);
  } else if (n == "exists") {
    model->press_after_polls(2, 0x1111);
    r = zv_set_record_api_new(1, 0, 5, 5);
  } else if (n == "not_found") {
    model->press_after_polls(2, 0x3333);
    r = zv_set_delete(1);
  } else {  // the dongle fell back to normal operation on its own
    ASSERT_EQ(zv_set_record_api_new(1, 0, 5, 0), 0);
    model->set_state(0);
    r = zv_set_interrupt(5);
  }
  EXPECT_EQ(r, GetParam().code);
  EXPECT_NE(cap.text(1).find(std::string("): ") + GetParam().line + "\n"), std::string::npos)
      << cap.text(1);
}

INSTANTIATE_TEST_SUITE_P(States, ErrorState,
                         ::testing::Values(Outcome{"no_space", -4, "Error: no space left on device"},
                                           Outcome{"exists", -5, "Error: button already exists"},
                                           Outcome{"not_found", -6, "Error: key not found"},
                                           Outcome{"unknown", 0, "Unknown error, contact support: 0"}),
                         [](const auto &i) { return std::string(i.param.name); });

struct Limit {
  const char *name;
  int wait;
  bool del;
  uint64_t seconds;
};

class WaitLimit : public Gen4, public ::testing::WithParamInterface<Limit> {};

// Nobody presses a button: the wait gives up after its limit on the virtual clock.
TEST_P(WaitLimit, TimesOutOnTheVirtualClock) {
  open();
  LogCapture cap;
  uint64_t t0 = zs::now_us();
  int r = GetParam().del ? zv_set_delete(GetParam().wait) : zv_set_record_api_new(1, 0, 4, GetParam().wait);
  uint64_t waited = zs::now_us() - t0;
  EXPECT_EQ(r, -17);
  EXPECT_GE(waited, GetParam().seconds * 1000000u);
  EXPECT_LT(waited, GetParam().seconds * 1000000u + 500000u);
  EXPECT_NE(cap.text(1).find("): timeout\n"), std::string::npos);
  EXPECT_EQ(model->commands().back().word, "clearstate");
  EXPECT_EQ(model->state(), 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, WaitLimit,
                         ::testing::Values(Limit{"one", 1, false, 1}, Limit{"hundred", 100, false, 100},
                                           Limit{"above", 250, false, 100},
                                           Limit{"delete_seven", 7, true, 100}),
                         [](const auto &i) { return std::string(i.param.name); });

TEST_F(Gen4, NegativeWaitsHaveNoLimit) {
  open();
  for (int wait : {-5, -3000, INT32_MIN}) {
    model->press_after_polls(3000, 0x4000u + static_cast<uint32_t>(-(wait / 5)));  // 300 s of polling
    EXPECT_EQ(zv_set_record_api_new(1, 0, 4, wait), 0) << wait;
  }
  EXPECT_EQ(model->buttons(), 3u);
}

TEST_F(Gen4, EditionNameFromTheImageHeader) {
  open();
  model->set_app_header(2, "ZIVRA-PRO");
  testing::internal::CaptureStdout();
  char *sku = zv_get_sku();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_NE(sku, nullptr);
  EXPECT_STREQ(sku, "ZIVRA-PRO");

  model->set_app_header(1, std::string(40, 'N'));  // fills the whole 30-byte field
  testing::internal::CaptureStdout();
  sku = zv_get_sku();
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(sku, nullptr);
  EXPECT_EQ(std::string(sku), std::string(29, 'N'));
  EXPECT_EQ(out, std::string(29, 'N') + "\n");

  model->app_header()[0] = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(zv_get_sku(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "not a valid image\n");
}

TEST_F(Gen4, RomTableBitWrittenBackByteByByte) {
  open();
  model->image()[16] = 0x03;
  ASSERT_EQ(zv_get_rom_table(2), 0);
  size_t from = model->commands().size();
  EXPECT_EQ(zv_enable_rom_table(2, 3), 0);
  std::vector<zs::Command> sent(model->commands().begin() + from, model->commands().end());
  ASSERT_EQ(sent.size(), 1u + 12u + 1u);
  EXPECT_EQ(sent[0].word, "cfg1_read");
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(sent[1 + i].word, "cfg1_poke");
    EXPECT_EQ(sent[1 + i].payload()[0], 16 + i);
  }
  EXPECT_EQ(sent[13].word, "updatecrc");
  EXPECT_EQ(model->image()[16], 0x07);
  EXPECT_TRUE(model->crc_valid());
  EXPECT_EQ(zv_get_rom_table(2), 1);
  EXPECT_EQ(zv_enable_rom_table(2, 0), 0);
  EXPECT_EQ(model->image()[16], 0x03);
  LogCapture cap;
  EXPECT_EQ(zv_get_rom_table(6), -8);
  EXPECT_NE(cap.text(1).find("): invalid or unsupported table: 6\n"), std::string::npos);
}

TEST_F(Gen4, DebugPipes) {
  open();
  EXPECT_EQ(zv_set_debug_pipe(32, 1), 0);
  EXPECT_EQ(last("debug_pipe")[0], 1);
  EXPECT_EQ(last("debug_pipe")[1], 32);
  size_t n = model->count("debug_pipe");
  LogCapture cap;
  EXPECT_EQ(zv_set_debug_pipe(33, 1), -1);
  EXPECT_EQ(model->count("debug_pipe"), n);
  EXPECT_NE(cap.text(1).find("): pipe: 33 too high > 32\n"), std::string::npos);
  EXPECT_EQ(zv_get_debug_pipe(32), 0);  // 4.0 asks without the pipe number
  EXPECT_EQ(last("debug_pipe")[0], 0);
}

TEST_F(Gen4, PeekPokeLogAndFormat) {
  open();
  EXPECT_EQ(zv_eeprom_peek(0), 0xEF);
  EXPECT_EQ(zv_eeprom_poke(20, 0x2A), 0);
  EXPECT_EQ(model->image()[20], 0x2A);
  LogCapture cap;
  EXPECT_EQ(zv_eeprom_peek(5000), -1);
  EXPECT_NE(cap.text(1).find("): invalid address you idiot\n"), std::string::npos);
  EXPECT_EQ(zv_update_crc(), 0);
  EXPECT_TRUE(model->crc_valid());

  model->push_log("boot ok");
  char buf[32];
  EXPECT_EQ(zv_log(buf), 7);
  EXPECT_STREQ(buf, "boot ok");

  EXPECT_EQ(zv_format_config(), 0);
  zs::Fault f = zs::fault_on(zs::Fault::Status, "format");
  f.status = 0xFF;
  zs::add_fault(f);
  EXPECT_EQ(zv_format_config(), -1);
}

TEST_F(Gen4, DfuResetsSilently) {
  open();
  set_loglevel(5);
  LogCapture cap;
  EXPECT_EQ(zv_ver4p0_set_dfu(), 0);
  EXPECT_EQ(model->count("reset"), 1u);
  EXPECT_EQ(zs::devices().size(), 0u);
  EXPECT_EQ(cap.text(1), "");
}

}  // namespace

namespace {

std::vector<std::string> versions(struct list_head *head) {
  std::vector<std::string> out;
  if (head == nullptr) return out;
  for (struct list_head *n = head->next; n != head; n = n->next) {
    out.emplace_back(ll_entry(n, fw_ver_hist, node)->v);
  }
  return out;
}

TEST_F(Gen4, ReleaseHistoryForTheOpenDongle) {
  LogCapture cap;
  EXPECT_EQ(zv_get_ver_hist("4.10.1"), nullptr);
  EXPECT_EQ(zv_print_ver_diff("4.10.1"), -19);
  EXPECT_NE(cap.text(1).find("): pointer to handle is invalid\n"), std::string::npos);
  open();
  model->set_version(4, 9, 2);  // the getters ask the dongle each time
  EXPECT_EQ(versions(zv_get_ver_hist("4.10.1")),
            (std::vector<std::string>{"4.9.6", "4.9.61", "4.9.7", "4.9.8", "4.10.1"}));
  model->set_version(4, 9, 6);
  EXPECT_EQ(versions(zv_get_ver_hist("4.9.7")), (std::vector<std::string>{"4.9.7"}));
  EXPECT_TRUE(versions(zv_get_ver_hist("4.9.6")).empty());
  EXPECT_EQ(zv_get_ver_hist("4.x"), nullptr);
  EXPECT_EQ(zv_print_ver_diff("4.x"), -1);
  EXPECT_NE(cap.text(1).find("): semver parse failed\n"), std::string::npos);

  testing::internal::CaptureStdout();
  EXPECT_EQ(zv_print_ver_diff("4.9.7"), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("v4.9.7\n -", 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 3), "\n \n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(zv_print_ver_diff("4.0.1"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Gen4, RecordByNameWaitsForThePress) {
  open();
  // The dongle hashes the press as the IR library does (max edge 2400).
  EXPECT_EQ(zv_set_record("vol_up", 0), 0);
  EXPECT_EQ(first3("record"), (std::vector<uint8_t>{2, 233, 0}));
  model->press_edges({9000, 4500, 560, 560, 560, 1690, 560, 560, 560, 1690, 560});
  EXPECT_EQ(zv_set_interrupt(5), 0);
  ASSERT_EQ(model->buttons(), 1u);
  EXPECT_NE(model->button_hash(0), 0u);
  EXPECT_EQ(model->image()[28 + 13], 2);
  model->press_after_polls(2, 0x77);
  EXPECT_EQ(zv_set_record("A", WAIT), 0);
  EXPECT_EQ(first3("record"), (std::vector<uint8_t>{1, 2, 4}));
  EXPECT_EQ(model->buttons(), 2u);
}

}  // namespace
