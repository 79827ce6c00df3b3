// Which operations each firmware revision's table holds, observed through the
// public calls and the wire.
#include <gtest/gtest.h>

#include <cstring>

#include "capture.h"
#include "dongle.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

// The operation a revision's table holds for one slot, as seen from outside.
enum Op { None, V0, V1, V2, V3, V4, V5, V6, V7, V8, V9, V10 };

struct Row {
  const char *slot;
  Op from[11];  // per revision 4.0 .. 4.10
};

// Sends one call and classifies what reached the dongle.
Op observe(const char *slot, Dongle &d, int minor) {
  d.clear_trace();
  auto one = [&](const char *cmd) -> const Exchange * {
    static std::vector<Exchange> keep;
    keep = d.trace(cmd);
    return keep.size() == 1 ? &keep[0] : nullptr;
  };
  (void)minor;
  std::string s = slot;
  if (s == "zv_get_debug_pipe") {
    if (zv_get_debug_pipe(5) == -12) return None;
    auto e = one("debug_pipe");
    return e && e->u32(1) == 5 ? V1 : V0;
  }
  if (s == "zv_normalize_config") return zv_normalize_config() == -12 ? None : V1;
  if (s == "zv_unit_test") return zv_unit_test() == -12 ? None : V2;
  if (s == "zv_transmit_raw") {
    uint16_t sig[] = {0, 9000, 4500, 560};
    if (zv_transmit_raw(sig, 4, 40000, 3) == -12) return None;
    auto e = one("irtranset");
    if (!e) return None;
    if (e->size == 32) return e->u16(2) == 0 && e->payload[4] == 0 ? V2 : None;
    if (e->u16(2) == 40000) return V7;
    return e->u16(2) == 40 ? V10 : None;
  }
  if (s == "zv_load_config") {
    // An empty legacy-free image: a header and settings only.
    auto img = make_image({});
    std::string path = temp_path("slot.cfg");
    write_file(path, img);
    int rc = zv_load_config(path.c_str());
    remove(path.c_str());
    if (rc == -12) return None;
    if (!d.trace("cfg1_poke").empty()) return V0;
    auto w = d.trace("cfg1_write");
    if (w.empty()) return None;
    return w[0].size == 32 ? V3 : V5;
  }
  if (s == "zv_save_config") {
    std::string path = temp_path("slot_save.cfg");
    int rc = zv_save_config(path.c_str());
    remove(path.c_str());
    if (rc == -12) return None;
    auto r = d.trace("cfg1_read");
    if (r.empty()) return None;
    return r[0].size == 32 ? V0 : V5;
  }
  if (s == "zv_set_record_api") {
    // Mode 0 with a consumer usage in the modifier tells 4.0/4.4 from 4.9.
    if (zv_set_record_api(0, 0x0223, 102, 0) == -12) return None;
    auto e = one("record");
    if (!e) return None;
    if (e->payload[2] == 0x02) return V9;
    d.clear_trace();
    int rc = zv_set_record_api(1, 0, 4, 0);
    if (rc == -1 && d.trace().empty()) return V0;
    return one("record_m") ? V4 : None;
  }
  if (s == "zv_set_record_lp") {
    int rc = zv_set_record_lp("a", 0);
    auto e = one("record_lp");
    return rc == -12 ? None : (e && e->payload[0] == 1 && e->payload[2] == 4 ? V4 : None);
  }
  if (s == "zv_set_record_macro") {
    int rc = zv_set_record_macro("a", 0);
    auto e = one("record_m");
    return rc == -12 ? None : (e && e->payload[0] == 1 && e->payload[2] == 4 ? V4 : None);
  }
  if (s == "zv_log") {
    char buf[64];
    if (zv_log(buf) == -12) return None;
    auto e = one("dmesg_pkv");
    return e ? (e->size == 32 ? V0 : V5) : None;
  }
  if (s == "zv_last_hash") return zv_last_hash() == -12 ? None : (one("irhist") ? V5 : None);
  if (s == "zv_fw_branch") return zv_fw_branch() == nullptr ? None : (one("versionx") ? V5 : None);
  if (s == "zv_fw_dirty") return zv_fw_dirty() == nullptr ? None : (one("versionx") ? V5 : None);
  if (s == "zv_fw_config") return zv_fw_config() == nullptr ? None : (one("getversion") ? V5 : None);
  if (s == "zv_set_record_toggle") return zv_record_toggle(0) == -12 ? None : (one("record_t") ? V6 : None);
  if (s == "zv_usb_iface_en") return zv_usb_iface_en(USB_IFACE_AUX, 1) == -12 ? None : (one("usb_if") ? V6 : None);
  if (s == "zv_transmit_kill") return zv_transmit_kill() == -12 ? None : (one("irtranskil") ? V8 : None);
  if (s == "zv_rb_settings_set") return zv_rb_settings_set(1, 2, 3) == -12 ? None : (one("rbset") ? V8 : None);
  if (s == "zv_rb_settings_get") {
    uint32_t en;
    uint8_t h, l;
    return zv_rb_settings_get(&en, &h, &l) == -12 ? None : (one("rbget") ? V8 : None);
  }
  if (s == "zv_rb_wake_sig") {
    uint16_t sig[] = {9000, 4500, 560};
    return zv_rb_wake_sig(sig, 3) == -12 ? None : (one("rbsetlen") ? V8 : None);
  }
  if (s == "zv_ir_packet_poll") {
    struct ir_packet *p = nullptr;
    // A null record is refused only once the slot exists.
    return zv_ir_packet_poll(p) == -12 ? None : V9;
  }
  ADD_FAILURE() << "no observation for " << slot;
  return None;
}

const Row kRows[] = {
    {"zv_get_debug_pipe", {V0, V1, V1, V1, V1, V1, V1, V1, V1, V1, V1}},
    {"zv_normalize_config", {None, V1, V1, V1, V1, V1, V1, V1, V1, V1, V1}},
    {"zv_transmit_raw", {None, None, V2, V2, V2, V2, V2, V7, V7, V7, V10}},
    {"zv_unit_test", {None, None, V2, V2, V2, V2, V2, V2, V2, V2, V2}},
    {"zv_load_config", {V0, V0, V0, V3, V3, V5, V5, V5, V5, V5, V5}},
    {"zv_save_config", {V0, V0, V0, V0, V0, V5, V5, V5, V5, V5, V5}},
    {"zv_set_record_api", {V0, V0, V0, V0, V4, V4, V4, V4, V4, V9, V9}},
    {"zv_set_record_lp", {None, None, None, None, V4, V4, V4, V4, V4, V4, V4}},
    {"zv_set_record_macro", {None, None, None, None, V4, V4, V4, V4, V4, V4, V4}},
    {"zv_log", {V0, V0, V0, V0, V0, V5, V5, V5, V5, V5, V5}},
    {"zv_last_hash", {None, None, None, None, None, V5, V5, V5, V5, V5, V5}},
    {"zv_fw_branch", {None, None, None, None, None, V5, V5, V5, V5, V5, V5}},
    {"zv_fw_config", {None, None, None, None, None, V5, V5, V5, V5, V5, V5}},
    {"zv_fw_dirty", {None, None, None, None, None, V5, V5, V5, V5, V5, V5}},
    {"zv_set_record_toggle", {None, None, None, None, None, None, V6, V6, V6, V6, V6}},
    {"zv_usb_iface_en", {None, None, None, None, None, None, V6, V6, V6, V6, V6}},
    {"zv_transmit_kill", {None, None, None, None, None, None, None, None, V8, V8, V8}},
    {"zv_rb_settings_set", {None, None, None, None, None, None, None, None, V8, V8, V8}},
    {"zv_rb_settings_get", {None, None, None, None, None, None, None, None, V8, V8, V8}},
    {"zv_rb_wake_sig", {None, None, None, None, None, None, None, None, V8, V8, V8}},
    {"zv_ir_packet_poll", {None, None, None, None, None, None, None, None, None, V9, V9}},
};

class Slots : public ::testing::TestWithParam<int> {};

TEST_P(Slots, EachRevisionHoldsItsOperations) {
  const int minor = GetParam();
  Dongle d(minor);
  d.set_image(make_image({300, 300}));
  d.set_loopback(true);
  LevelGuard g;
  set_loglevel(0);
  for (auto &row : kRows) EXPECT_EQ(observe(row.slot, d, minor), row.from[minor]) << row.slot << " on 4." << minor;
}

INSTANTIATE_TEST_SUITE_P(Revisions, Slots, ::testing::Range(0, 11));

TEST(Revisions, ElevenIsNotAGenerationFourRevision) {
  LogCapture cap;
  EXPECT_EQ(determine_iface(2, 4, 11), nullptr);
  EXPECT_NE(cap.text(1).find("unsupported fw v:4.11\n"), std::string::npos);
}

TEST(Revisions, RecordApiForms) {
  struct Case {
    int minor, mode, modifier, key;
    const char *cmd;
    uint8_t sent[3];
  };
  const Case cases[] = {
      {9, 0, 0x0223, 102, "record", {2, 0x23, 0x02}}, {9, 0, 2, 4, "record", {1, 2, 4}},
      {9, 2, 0x0101, 103, "record_lp", {3, 0x01, 0x01}}, {4, 1, 0x0223, 102, "record_m", {2, 0x23, 102}},
      {4, 2, 0xE9, 104, "record_lp", {4, 0xE9, 104}},
  };
  LevelGuard g;
  set_loglevel(0);
  for (auto &c : cases) {
    Dongle d(c.minor);
    d.clear_trace();
    EXPECT_EQ(zv_set_record_api(c.mode, c.modifier, c.key, 0), 0);
    auto t = d.trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].cmd, c.cmd);
    EXPECT_EQ(memcmp(t[0].payload.data(), c.sent, 3), 0) << c.minor << " " << c.key;
  }
  for (int minor : {4, 9}) {
    Dongle d(minor);
    d.clear_trace();
    EXPECT_EQ(zv_set_record_api(3, 0, 4, 0), 0);
    EXPECT_TRUE(d.trace().empty());
  }
}

TEST(Revisions, NamedRecordingLogsUnderItsOwnName) {
  Dongle d(4);
  LogCapture cap;
  EXPECT_EQ(zv_set_record_lp("nosuchkeyname", 0), -8);
  EXPECT_EQ(zv_set_record_macro("nosuchkeyname", 0), -8);
  EXPECT_NE(cap.text(1).find("\n[E] lib/libzivra/firmware/fw_4.4 zv_ver4_set_record_lp("), std::string::npos) << cap.text(1);
  EXPECT_NE(cap.text(1).find("\n[E] lib/libzivra/firmware/fw_4.4 zv_ver4_set_record_macro("), std::string::npos);
  EXPECT_TRUE(d.trace().empty());
}

TEST(Revisions, BuildStringsAndToggle) {
  Dongle d(6);
  d.clear_trace();
  ASSERT_STREQ(zv_fw_branch(), "main");
  ASSERT_STREQ(zv_fw_dirty(), "clean");
  EXPECT_EQ(d.trace("versionx").size(), 2u);
  for (auto &e : d.trace()) EXPECT_EQ(e.size, 64u);
  EXPECT_STREQ(zv_fw_config(), "release");
  d.clear_trace();
  EXPECT_EQ(zv_usb_iface_en(static_cast<usb_iface_type>(1), 1), 0);
  EXPECT_TRUE(d.trace().empty());
  EXPECT_EQ(zv_usb_iface_en(USB_IFACE_AUX, 1), 0);
  auto e = d.trace("usb_if");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].u32(0), 1u);
  EXPECT_EQ(e[0].payload[4], 1);
  d.fail("usb_if", 1);
  LogCapture cap;
  EXPECT_LT(zv_usb_iface_en(USB_IFACE_AUX, 0), 0);
  EXPECT_NE(cap.text(1).find("error enaling interface\n"), std::string::npos);
}

}  // namespace
