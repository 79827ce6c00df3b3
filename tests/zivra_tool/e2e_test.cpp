// The built zivra program against simulated dongles kept in a state file: every command's
// text, JSON and exit status, the state surviving between runs, and bad input refused
// before anything reaches the dongle.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "sim/model_bl3.h"

namespace {

using nlohmann::json;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void spit(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

// CTest runs cases in parallel processes: names carry the test and the process id.
std::string tmp(const std::string &name) {
  const auto *t = testing::UnitTest::GetInstance()->current_test_info();
  std::string test = t->name();
  std::replace(test.begin(), test.end(), '/', '_');
  return testing::TempDir() + "zivra_e2e_" + std::to_string(getpid()) + "_" + test + "_" + name;
}

Outcome sh(const std::string &cmd, const std::string &input) {
  std::string in = tmp("in"), out = tmp("out"), err = tmp("err");
  spit(in, input);
  std::string full = "XDG_STATE_HOME='" + tmp("xdg") + "' " + cmd + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
  int rc = std::system(full.c_str());
  Outcome r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

// A simulated dongle of one model, kept in its own state file for the whole test.
struct Sim {
  std::string dongle, state;
  // Process ids come round again: a state file left by an earlier run under the same
  // id and test would be another dongle's.
  explicit Sim(std::string name = "fw4.9") : dongle(std::move(name)), state(tmp(dongle + ".state")) {
    std::remove(state.c_str());
  }
  ~Sim() { std::remove(state.c_str()); }
  Sim(const Sim &) = delete;
  Sim &operator=(const Sim &) = delete;
  Outcome operator()(const std::string &args, const std::string &input = "") const {
    return sh(std::string("'") + ZIVRA_BIN + "' --simulate=" + dongle + " --sim-state '" + state + "' " + args, input);
  }
  json js(const std::string &args, const std::string &input = "") const {
    Outcome r = (*this)("--json " + args, input);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    return r.out.empty() ? json() : json::parse(r.out);
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> k;
    json l = js("list");
    for (const json &b : l["buttons"]) k.push_back(b["key"]);
    return k;
  }
};

std::vector<std::string> lines(const std::string &s) {
  std::vector<std::string> r;
  std::stringstream ss(s);
  for (std::string l; std::getline(ss, l);) r.push_back(l);
  return r;
}

using Keys = std::vector<std::string>;

TEST(ZivraInfo, TextAndJsonOfAGeneration4Dongle) {
  Sim sim("fw4.9");
  Outcome r = sim("info");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("state:          application\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("firmware:       4.9.0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("keys recorded:  0\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  json j = sim.js("info");
  EXPECT_EQ(j["state"], "application");
  EXPECT_EQ(j["generation"], 4);
  EXPECT_EQ(j["version"], "4.9.0");
  EXPECT_EQ(j["branch"], "main");
  EXPECT_EQ(j["sku"], "ZIVRA-STD");
  EXPECT_TRUE(j["build_hash"].is_number());
  EXPECT_TRUE(j["keys_remaining"].is_null());
  // 4.4 has no build strings: they are null, not made up.
  json old = Sim("fw4.4").js("info");
  EXPECT_TRUE(old["branch"].is_null());
  EXPECT_EQ(old["version"], "4.4.0");
}

TEST(ZivraButtons, RecordListSaveFormatLoadAcrossRuns) {
  Sim sim;
  Outcome r = sim("record a");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Recorded a.\n");
  ASSERT_EQ(sim("record vol_up").status, 0);
  EXPECT_EQ(sim.keys(), (Keys{"a", "vol_up"}));
  json before = sim.js("list");
  EXPECT_EQ(before["count"], 2);
  EXPECT_EQ(before["buttons"][1]["report_id"], 2);

  r = sim("list");
  EXPECT_NE(r.out.find("    0  0x"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  vol_up\n"), std::string::npos) << r.out;

  // The same remote button again is refused by the dongle.
  r = sim("record a");
  EXPECT_EQ(r.status, 8) << r.err;
  EXPECT_NE(r.err.find("already recorded"), std::string::npos) << r.err;

  std::string cfg = tmp("backup.cfg");
  ASSERT_EQ(sim("save '" + cfg + "'").status, 0);
  EXPECT_EQ(slurp(cfg).size(), 28u + 2 * 16);

  // No terminal to ask: format is refused and nothing is erased.
  r = sim("format");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
  EXPECT_EQ(sim.keys().size(), 2u);

  r = sim("format --yes");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Erased 2 buttons.\n");
  EXPECT_EQ(sim("list").out, "No buttons recorded.\n");

  ASSERT_EQ(sim("load '" + cfg + "'").status, 0);
  json after = sim.js("list");
  EXPECT_EQ(after["buttons"], before["buttons"]);
  EXPECT_EQ(sim.js("info")["keys_recorded"], 2);
}

TEST(ZivraButtons, RecordVariantsFollowTheFirmware) {
  Sim sim("fw4.9");
  ASSERT_EQ(sim("record x --long").status, 0);
  ASSERT_EQ(sim("record m --macro n o").status, 0);
  json l = sim.js("list");
  ASSERT_EQ(l["count"], 2);
  EXPECT_EQ(l["buttons"][0]["long_press"], true);
  EXPECT_NE(sim("list").out.find("x (long press)"), std::string::npos);
  ASSERT_EQ(sim("record --toggle").status, 0);

  Outcome r = Sim("fw4.3")("record x --long");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("not supported by this dongle (firmware 4.3)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zivra history"), std::string::npos) << r.err;
}

TEST(ZivraButtons, DeleteByKeyIndexAndPress) {
  Sim sim;
  for (const char *k : {"a", "b", "c", "d"}) ASSERT_EQ(sim(std::string("record ") + k).status, 0);
  Outcome r = sim("delete b");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Deleted 1 button recorded as b.\n");
  EXPECT_EQ(sim.keys(), (Keys{"a", "c", "d"}));
  ASSERT_EQ(sim("delete-index 0").status, 0);
  EXPECT_EQ(sim.keys(), (Keys{"c", "d"}));
  // The simulated user presses the button recorded last.
  ASSERT_EQ(sim("delete --next").status, 0);
  EXPECT_EQ(sim.keys(), (Keys{"c"}));
  // The dongle's image stays valid: saving and loading it round-trips.
  std::string cfg = tmp("after.cfg");
  ASSERT_EQ(sim("save '" + cfg + "'").status, 0);
  EXPECT_EQ(sim("load '" + cfg + "'").status, 0);

  EXPECT_EQ(sim("delete z").status, 8);
  EXPECT_EQ(sim("delete-index 5").status, 2);
  EXPECT_EQ(sim("delete").status, 2);
  EXPECT_EQ(sim.keys(), (Keys{"c"}));
}

// Bad input: a message, a non-zero status, and the dongle untouched (its kept state,
// which also lists every signal it transmitted, is the same afterwards).
struct BadCase {
  const char *name;
  const char *args;
  int status;
  const char *says;
};
void PrintTo(const BadCase &c, std::ostream *os) { *os << c.name; }

class BadInput : public testing::TestWithParam<BadCase> {};

TEST_P(BadInput, RefusedWithNothingSent) {
  const BadCase &c = GetParam();
  Sim sim;
  ASSERT_EQ(sim("record a").status, 0);
  spit(tmp("garbage.cfg"), "\xDE\xAD\xBE\xEF this is no image");
  spit(tmp("badcrc.cfg"), std::string("\xEF\xBE\xAD\xDE\x01\x00\x00\x00\x00\x00\x00\x00\x12\x34\x56\x78", 16) + std::string(12, '\0'));
  spit(tmp("bad.mode2"), "pulse 900\nspace 450\npulse 99999999999\n");
  std::remove(tmp("missing.cfg").c_str());
  std::string state = slurp(sim.state);
  std::string args = c.args;
  for (std::string f : {"garbage.cfg", "badcrc.cfg", "bad.mode2", "missing.cfg"})
    if (size_t at = args.find(f); at != std::string::npos) args.replace(at, f.size(), "'" + tmp(f) + "'");
  Outcome r = sim(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[E]"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(sim.state), state);
}

INSTANTIATE_TEST_SUITE_P(
    Zivra, BadInput,
    testing::Values(BadCase{"unknown_key", "record notakey", 2, "unknown key name 'notakey'"},
                    BadCase{"wait_out_of_range", "record b --wait 0", 2, "--wait must be 1 to 100"},
                    BadCase{"setting_out_of_range", "settings wake-high 300", 2, "out of range for wake-high"},
                    BadCase{"unknown_setting", "settings volume 3", 2, "unknown setting 'volume'"},
                    BadCase{"rom_table_out_of_range", "rom-table set 6 on", 2, "0 to 5"},
                    BadCase{"poke_value_too_big", "eeprom poke 20 256", 2, "0 to 0xFF"},
                    BadCase{"missing_config", "load missing.cfg", 6, "cannot read"},
                    BadCase{"garbage_config", "load garbage.cfg", 6, "not a usable configuration file"},
                    BadCase{"config_with_wrong_crc", "load badcrc.cfg", 6, "not a usable configuration file"},
                    BadCase{"unknown_protocol", "send FOO 1", 2, "unknown protocol 'FOO'"},
                    BadCase{"malformed_scancode", "send NEC 0x1G", 2, "malformed scancode"},
                    BadCase{"scancode_too_wide", "send RC5 0x123456", 2, "too wide for RC5"},
                    BadCase{"scancode_not_samsung32", "send SAMSUNG32 0x1234", 2, "not a valid scancode of SAMSUNG32"},
                    BadCase{"repeat_out_of_range", "send NEC 4 --repeat 31", 2, "--repeat"},
                    BadCase{"pronto_bad_word", "send-pronto 0000 006D 00ZZ", 2, "malformed Pronto word '00ZZ'"},
                    BadCase{"pronto_short", "send-pronto 0000 006D 0001 0000 0010", 2, "5 words where the header announces 6"},
                    BadCase{"pronto_format", "send-pronto 5000 006D 0001 0000 0010 0020", 2, "only learned"},
                    BadCase{"pronto_zero_frequency", "send-pronto 0000 0000 0001 0000 0010 0020", 2, "frequency word is 0"},
                    BadCase{"raw_malformed", "send-raw bad.mode2", 2, "bad.mode2:3"},
                    BadCase{"raw_missing", "send-raw missing.cfg", 6, "cannot read"},
                    BadCase{"wake_signal_malformed", "wake signal bad.mode2", 2, "nothing was sent"},
                    BadCase{"wake_bytes", "wake set 1 256 0", 2, "nothing was sent"},
                    BadCase{"history_not_a_version", "history four", 2, "is not a version"},
                    BadCase{"learn_with_count", "capture --learn KEY_POWER --count 2", 2, "--learn takes neither"},
                    BadCase{"learn_json_to_stdout", "--json capture --learn KEY_POWER", 2, "needs -o FILE"},
                    BadCase{"out_without_learn", "capture -o x.keys", 2, "--out goes with --learn"},
                    BadCase{"unknown_dongle_model", "--simulate=fw9.9 info", 2, "no simulated dongle 'fw9.9'"}),
    [](const testing::TestParamInfo<BadCase> &i) { return std::string(i.param.name); });

TEST(ZivraSettings, ShownSetAndKeptPerGeneration) {
  Sim sim("fw4.9");
  Outcome r = sim("settings");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("sensitivity          not supported by this dongle\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rom-table 2"), std::string::npos) << r.out;
  ASSERT_EQ(sim("settings wake-high 12").status, 0);
  ASSERT_EQ(sim("rom-table set 2 off").status, 0);
  json s = sim.js("settings");
  bool seen = false;
  for (const json &x : s["settings"])
    if (x["name"] == "wake-high") seen = x["value"] == 12;
  EXPECT_TRUE(seen) << s.dump();
  EXPECT_EQ(s["rom_tables"][2]["enabled"], false);
  EXPECT_EQ(s["rom_tables"][1]["enabled"], true);
  EXPECT_EQ(sim.js("wake get")["high"], 12);
  ASSERT_EQ(sim("wake set 1 7 9").status, 0);
  EXPECT_EQ(sim.js("wake get"), (json{{"enable", 1}, {"high", 7}, {"low", 9}}));
  EXPECT_EQ(sim.js("wake signal -", "+900 -450 +900 -450 +900\n")["durations"], 5);
  EXPECT_NE(slurp(sim.state).find("wake_signal 8403c2018403c2018403\n"), std::string::npos) << slurp(sim.state);
  // Generation 4 restarts only through its bootloader.
  EXPECT_EQ(sim("reboot").status, 5);
  // The image's first byte is its magic's low byte.
  EXPECT_EQ(sim.js("eeprom peek 0")["value"], 0xEF);
  ASSERT_EQ(sim("eeprom poke 20 5").status, 0);
  EXPECT_EQ(sim.js("eeprom peek 20")["value"], 5);

  Sim old("fw4.0");
  r = old("settings wake-enable 1");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("wake-enable is not supported by this dongle (firmware 4.0)"), std::string::npos) << r.err;
  EXPECT_EQ(old("wake get").status, 5);
}

TEST(ZivraIr, SendTransmitsAndCaptureDecodesTheRemoteInOrder) {
  Sim sim("fw4.9");
  std::string before = slurp(sim.state);
  Outcome r = sim("send NEC 0x5B0104");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Sent NEC 0x5B0104 (", 0), 0u) << r.out;
  // Samsung-32 goes by an encoder key beyond the protocol values.
  r = sim("send samsung32 0x121234");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Sent SAMSUNG32 0x121234 (", 0), 0u) << r.out;
  std::string after = slurp(sim.state);
  EXPECT_GT(after.size(), before.size());
  EXPECT_NE(after.find("\nsent 0000"), std::string::npos);
  ASSERT_EQ(sim("send-pronto 0000 006D 0001 0000 0010 0020").status, 0);
  spit(tmp("sig.irctl"), "+900 -450 +900\n+560 -560 +560\n");
  r = sim("send-raw '" + tmp("sig.irctl") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Sent 2 signals.\n");

  // The button recorded as "a" is the simulated remote's NEC 0x510004.
  ASSERT_EQ(sim("record a").status, 0);
  r = sim("capture --sim-ir NEC:0x04,RC5:0x1416,NEC:0x510004,SONY12:0x100000 --count 4");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> got = lines(r.out);
  ASSERT_EQ(got.size(), 4u) << r.out;
  EXPECT_NE(got[0].find("NEC        0x00000004"), std::string::npos) << got[0];
  EXPECT_NE(got[1].find("RC5        0x00001416"), std::string::npos) << got[1];
  EXPECT_NE(got[2].find("0x00510004"), std::string::npos) << got[2];
  EXPECT_NE(got[2].find("key=a"), std::string::npos) << got[2];
  EXPECT_NE(got[3].find("SONY12     0x00100000"), std::string::npos) << got[3];
  EXPECT_EQ(got[0].find("key="), std::string::npos);

  r = sim("--json capture --raw --sim-ir RC6_0:0x3456");
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j["protocol"], "RC6_0");
  EXPECT_EQ(j["scancode"], 0x3456);
  EXPECT_TRUE(j["key"].is_null());
  EXPECT_GT(j["edges"].size(), 10u);

  r = Sim("fw4.8")("capture --count 1");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("4.9 or later"), std::string::npos) << r.err;
}

TEST(ZivraMisc, HistorySelftestNormalizeAndDongles) {
  Sim sim("fw4.9");
  json h = sim.js("history 4.9.6");
  std::vector<std::string> v;
  for (const json &x : h["releases"]) v.push_back(x["version"]);
  EXPECT_EQ(v, (Keys{"4.9.1", "4.9.2", "4.9.6"}));
  EXPECT_FALSE(h["releases"][0]["notes"].empty());
  Outcome r = sim("history 4.9.1");
  EXPECT_EQ(r.out.rfind("v4.9.1\n  - ", 0), 0u) << r.out;

  r = sim("selftest");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Self-test passed.\n");
  EXPECT_EQ(sim.js("list")["count"], 3);
  EXPECT_EQ(sim("normalize").status, 0);
  EXPECT_EQ(Sim("fw4.0")("selftest").status, 5);

  json d = sim.js("list-dongles");
  std::vector<std::string> names;
  for (const json &x : d["dongles"]) names.push_back(x["name"]);
  for (const char *n : {"fw4.0", "fw4.9", "fw4.10", "script"})
    EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
}

TEST(ZivraErrors, NoDongleUnsupportedAndJsonErrors) {
  // The sim preloaded with an empty bus: a machine without a dongle.
  std::string preload = ZIVRA_SIM_LIB;
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's runtime must come first among the preloaded libraries.
  Dl_info info{};
  if (void *sym = dlsym(RTLD_DEFAULT, "__asan_init"); sym != nullptr && dladdr(sym, &info) != 0)
    preload = std::string(info.dli_fname) + ":" + preload;
#endif
  std::string pre = "ZIVRA_SIM_DEVICE= LD_PRELOAD='" + preload + "' ";
  Outcome r = sh(pre + "'" + ZIVRA_BIN + "' info", "");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("no dongle found"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("udev rule"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zivra info --simulate"), std::string::npos) << r.err;

  r = Sim("fw4.10-noaccess")("info");
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("may not open it"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("udevadm control --reload"), std::string::npos) << r.err;

  r = Sim("script")("info");
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("firmware is not supported"), std::string::npos) << r.err;

  r = Sim()("--json record notakey");
  EXPECT_EQ(r.status, 2);
  json j = json::parse(r.out);
  EXPECT_EQ(j["error"]["code"], 2);
  EXPECT_EQ(j["error"]["status"], "usage");
  EXPECT_NE(j["error"]["hint"].get<std::string>().find("key names"), std::string::npos);

  r = sh(std::string("'") + ZIVRA_BIN + "'", "");
  EXPECT_EQ(r.status, 2);
  r = sh(std::string("'") + ZIVRA_BIN + "' frobnicate", "");
  EXPECT_EQ(r.status, 2);
}

// The libraries' own log lines reach the user only when asked for.
TEST(ZivraLogging, LibraryLinesOnlyWhenAsked) {
  Sim sim;
  spit(tmp("garbage.cfg"), "not a configuration at all");
  Outcome quiet = sim("load '" + tmp("garbage.cfg") + "'");
  EXPECT_EQ(quiet.err.find("[E]"), std::string::npos) << quiet.err;
  // Nothing the tool asks the library hides the dongle's own failures when asked for.
  Outcome loud = sim("-v send-pronto 0000 006D 0001 0000 0010 0020");
  EXPECT_EQ(loud.status, 0);
  Outcome debug = sim("--log-level 4 info");
  EXPECT_NE(debug.err.find("[D] lib/"), std::string::npos) << debug.err;

  // codara decode: an undecodable capture is an INVALID line, not the hash's complaint beside it.
  std::string cmd = std::string("'") + CODARA_BIN + "' ";
  Outcome c = sh(cmd + "decode", "+100 -100 +100\n");
  EXPECT_NE(c.out.find("INVALID"), std::string::npos) << c.out;
  EXPECT_EQ(c.err.find("[E]"), std::string::npos) << c.err;
  Outcome cv = sh(cmd + "--log-level 1 decode", "+100 -100 +100\n");
  EXPECT_NE(cv.err.find("[E] lib/libcodara/"), std::string::npos) << cv.err;
}

// Upgrading a kept dongle through its simulated bootloader: the new version and the
// recorded buttons survive into later runs; a bad image never switches the dongle.
std::string image_file(const std::string &name, zivra_sim::ImageFields fields) {
  std::vector<uint8_t> img = zivra_sim::make_fw_image(fields);
  std::string path = tmp(name);
  spit(path, std::string(img.begin(), img.end()));
  return path;
}

TEST(ZivraFirmware, UpgradeFromTheFirmwareKeepsButtonsAndTheNewVersion) {
  Sim sim("fw4.5");
  ASSERT_EQ(sim("record a").status, 0);
  std::string img = image_file("fw4.10.bin", zivra_sim::ImageFields{});
  Outcome r = sim("upgrade '" + img + "'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[DEVICE]        Setting DFU"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[DEVICE]        EOK"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Upgrade complete: firmware 4.5.0 -> 4.10.0.\n"), std::string::npos) << r.out;
  EXPECT_EQ(sim.js("info")["version"], "4.10.0");
  EXPECT_EQ(sim.keys(), (Keys{"a"}));

  json j = Sim("bl3.3").js("upgrade '" + img + "'");
  EXPECT_EQ(j, (json{{"ok", true}, {"from", "3.3.0"}, {"to", "4.10.0"}, {"state", "application"}}));
}

TEST(ZivraFirmware, BadImagesAreRefusedBeforeTheDongleIsSwitched) {
  Sim sim("fw4.9");
  ASSERT_EQ(sim("record a").status, 0);
  std::string before = slurp(sim.state);
  zivra_sim::ImageFields other;
  other.header_version = 7;
  spit(tmp("short.bin"), "\xFE\xCA\xBE\xBA");
  for (const auto &[args, status, says] :
       std::vector<std::tuple<std::string, int, std::string>>{
           {"upgrade '" + tmp("none.bin") + "'", 6, "cannot read"},
           {"upgrade '" + tmp("short.bin") + "'", 6, "shorter than its header"},
           {"upgrade '" + image_file("v7.bin", other) + "'", 6, "unknown header version 7"}}) {
    Outcome r = sim(args);
    EXPECT_EQ(r.status, status) << args << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("[DEVICE]"), std::string::npos) << r.out;
  }
  EXPECT_EQ(slurp(sim.state), before);

  // An image of another edition: the bootloader refuses it, the verdict says so.
  zivra_sim::ImageFields foreign;
  foreign.name = "OTHER-EDITION";
  Outcome r = sim("upgrade '" + image_file("foreign.bin", foreign) + "'");
  EXPECT_EQ(r.status, 9) << r.out << r.err;
  EXPECT_NE(r.err.find("the firmware upgrade failed"), std::string::npos) << r.err;
  // The dongle waits in its bootloader, in later runs too, until a good image comes.
  EXPECT_EQ(sim.js("info")["state"], "bootloader");
  ASSERT_EQ(sim("upgrade '" + image_file("good.bin", zivra_sim::ImageFields{}) + "'").status, 0);
  EXPECT_EQ(sim.js("info")["version"], "4.10.0");
  EXPECT_EQ(sim.keys(), (Keys{"a"}));
}

TEST(ZivraFirmware, BootloaderEnterAndLeave) {
  Sim sim("fw4.9");
  Outcome r = sim("bootloader enter");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[DEVICE]        Bootloader Detected"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The dongle runs its bootloader.\n"), std::string::npos) << r.out;
  // As on hardware, it is still there in the next run.
  EXPECT_EQ(sim.js("info")["state"], "bootloader");
  EXPECT_EQ(sim("record b").status, 5);
  EXPECT_EQ(sim.js("bootloader leave")["state"], "application");
  EXPECT_EQ(sim.js("info")["version"], "4.9.0");

  Sim bl("bl3.3");
  json i = bl.js("info");
  EXPECT_EQ(i["state"], "bootloader");
  EXPECT_EQ(i["version"], "3.3.0");
  EXPECT_EQ(bl("list").status, 5);
  r = bl("bootloader leave --timeout 2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("[DEVICE]        FW Detected"), std::string::npos) << r.out;
}

// A generation-2 bulk-USB dongle through the same commands.
TEST(ZivraLegacy, Generation2DongleKeptAcrossRuns) {
  Sim sim("fw2.1");
  json i = sim.js("info");
  EXPECT_EQ(i["generation"], 2);
  EXPECT_EQ(i["keys_recorded"], 0);
  ASSERT_EQ(sim("record a").status, 0);
  ASSERT_EQ(sim("record vol_up").status, 0);
  EXPECT_EQ(sim.keys(), (Keys{"a", "vol_up"}));
  EXPECT_EQ(sim.js("info")["keys_recorded"], 2);
  ASSERT_EQ(sim("settings sensitivity 2").status, 0);
  json s = sim.js("settings");
  EXPECT_EQ(s["settings"][0], (json{{"name", "sensitivity"}, {"value", 2}, {"min", 0}, {"max", 3}, {"description", "receiver sensitivity"}}));
  EXPECT_EQ(sim("settings sensitivity 4").status, 2);
  ASSERT_EQ(sim("delete a").status, 0);
  EXPECT_EQ(sim.keys(), (Keys{"vol_up"}));
  EXPECT_EQ(sim("delete a").status, 8);
  EXPECT_EQ(sim("delete-index 3").status, 2);
  ASSERT_EQ(sim("delete-index 0").status, 0);
  EXPECT_EQ(sim.keys(), Keys{});
  EXPECT_EQ(sim("capture --count 1").status, 5);
  EXPECT_EQ(sim("send NEC 4").status, 5);
}

}  // namespace

namespace {

// Learning names each button from the simulated remote, in order, passing over a second
// press of a button already learned; codara turns the file into a keymap. A picture of a
// capture carries each signal's decode.
TEST(ZivraIr, LearnWritesLabelledCapturesAndCaptureDrawsThem) {
  Sim sim("fw4.9");
  const std::string learned = tmp("learned.txt");
  Outcome r = sim("capture --learn KEY_POWER KEY_MUTE -o '" + learned + "' --sim-ir NEC:0x04,NEC:0x04,RC5:0x1416");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Press KEY_POWER"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("That is the code of KEY_POWER; press KEY_MUTE."), std::string::npos) << r.err;
  r = sh(std::string("'") + CODARA_BIN + "' keymap --format rc-keymap '" + learned + "'", "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("variant = \"nec32\"\n[protocols.scancodes]\n0x40000 = \"KEY_POWER\"\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("variant = \"rc5\"\n[protocols.scancodes]\n0x1416 = \"KEY_MUTE\"\n"), std::string::npos) << r.out;

  // Fewer buttons pressed than asked for, or a key name Linux does not know: no file.
  const std::string partial = tmp("partial.txt");
  r = sim("capture --learn KEY_POWER KEY_MUTE -o '" + partial + "' --sim-ir NEC:0x04");
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_NE(r.err.find("stopped before KEY_MUTE was learned; nothing was written"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(partial).good());
  r = sim("capture --learn KEY_POWER POWER -o '" + partial + "' --sim-ir NEC:0x04");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("unknown key name 'POWER'"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(partial).good());

  const std::string svg = tmp("capture.svg");
  r = sim("capture --svg '" + svg + "' --sim-ir NEC:0x04,SONY12:0x100000");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string picture = slurp(svg);
  EXPECT_EQ(picture.rfind("<?xml", 0), 0u);
  EXPECT_NE(picture.find(">#1</text>"), std::string::npos);
  EXPECT_NE(picture.find("NEC  scancode 0x00000004"), std::string::npos);
  EXPECT_NE(picture.find("SONY12  scancode 0x00100000"), std::string::npos);
  r = sim("capture --svg '" + tmp("no/such/dir.svg") + "' --sim-ir NEC:0x04");
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.err.find("no picture was written"), std::string::npos) << r.err;
}

}  // namespace
