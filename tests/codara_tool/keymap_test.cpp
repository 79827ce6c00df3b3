// Keymaps from labelled sample captures: the rc_keymap TOML read back with a TOML library and
// checked for the kernel's protocol names and scancodes, and the lircd.conf read back by LIRC's
// own decoder (irsimreceive), which must name the same keys for the same captures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <toml++/toml.h>
#include <vector>

#include "keymap.h"

namespace {

using codara_cli::Button;
using codara_cli::KeymapFormat;

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string sample(const std::string &name) { return slurp(std::string(CODARA_SAMPLES) + "/" + name); }

// Line `n` (1-based) of a sample.
std::string sample_line(const std::string &name, int n) {
  std::istringstream in(sample(name));
  std::string l;
  for (int i = 0; i < n && std::getline(in, l);) ++i;
  return l + "\n";
}

struct Labelled {
  const char *key;
  std::string capture;
};

std::string labelled(const std::vector<Labelled> &ls) {
  std::string t;
  for (const Labelled &l : ls) t += std::string(l.key) + "\n" + l.capture;
  return t;
}

std::vector<Button> buttons(const std::string &text, KeymapFormat f) {
  std::vector<Button> b;
  std::string err;
  EXPECT_TRUE(codara_cli::read_buttons(text, "test", f, b, err)) << err;
  return b;
}

std::string keymap(const std::string &text, KeymapFormat f, const std::string &name = "remote") {
  std::string out, err;
  EXPECT_TRUE(codara_cli::make_keymap(buttons(text, f), f, name, out, err)) << err;
  return out;
}

TEST(RcKeymap, GivesTheKernelsProtocolsAndScancodes) {
  const std::string text = labelled({
      {"KEY_POWER", sample("encoded/NEC-0xF708FB04.irctl")},         // address 04, command 08
      {"KEY_MUTE", sample("encoded/NECX-0xF7081204.irctl")},         // address 04 12, command 08
      {"KEY_MENU", sample_line("hand/nec-family.irctl", 6)},         // bytes EE 87 5D 2B
      {"KEY_VOLUMEUP", sample("hand/rc5.irctl")},                    // two presses, toggles differ
      {"KEY_VOLUMEDOWN", sample("encoded/RC6_0-0x800C.irctl")},
      {"KEY_NUMERIC_1", sample("hand/sony12.mode2")},                // device 1, command 0x15
      {"KEY_NUMERIC_2", sample_line("hand/sony.raw", 4)},           // device 0x97, command 0x1A
      {"KEY_NUMERIC_3", sample_line("hand/sony.raw", 6)},           // 0x1A / 0x49 / 0x39
      {"KEY_NUMERIC_4", sample("hand/xmp.irctl")},
      {"BTN_LEFT", sample("hand/panasonic.pronto")},                 // no kernel decoder: raw
      {"KEY_ENTER", sample("hand/zivra.mode2")},                     // no kernel decoder: raw
  });
  const std::string toml_text = keymap(text, KeymapFormat::RcKeymap, "living-room");
  toml::table doc;
  try {
    doc = toml::parse(toml_text);
  } catch (const toml::parse_error &e) {
    FAIL() << e.what() << "\n" << toml_text;
  }

  std::map<std::string, std::map<std::string, std::string>> codes;  // "protocol/variant" -> scancode -> key
  std::vector<std::string> raw_keys;
  const toml::array *protocols = doc["protocols"].as_array();
  ASSERT_NE(protocols, nullptr);
  for (const toml::node &n : *protocols) {
    const toml::table &t = *n.as_table();
    EXPECT_EQ(t["name"].value_or(std::string()), "living-room");
    std::string proto = t["protocol"].value_or(std::string());
    if (proto == "raw") {
      for (const toml::node &r : *t["raw"].as_array()) {
        raw_keys.push_back((*r.as_table())["keycode"].value_or(std::string()));
        std::string durations = (*r.as_table())["raw"].value_or(std::string());
        EXPECT_TRUE(std::regex_match(durations, std::regex(R"(\+\d+( -\d+ \+\d+)*)"))) << durations;
      }
      continue;
    }
    std::string pv = proto + "/" + t["variant"].value_or(std::string());
    for (auto &&[sc, key] : *t["scancodes"].as_table()) codes[pv][std::string(sc.str())] = key.value_or(std::string());
  }
  using M = std::map<std::string, std::string>;
  EXPECT_EQ(codes["nec/nec"], (M{{"0x408", "KEY_POWER"}}));
  EXPECT_EQ(codes["nec/necx"], (M{{"0x41208", "KEY_MUTE"}}));
  EXPECT_EQ(codes["nec/nec32"], (M{{"0x87ee2b5d", "KEY_MENU"}}));
  EXPECT_EQ(codes["rc5/rc5"], (M{{"0x535", "KEY_VOLUMEUP"}}));
  EXPECT_EQ(codes["rc6/rc6_0"], (M{{"0x800c", "KEY_VOLUMEDOWN"}}));
  EXPECT_EQ(codes["sony/sony12"], (M{{"0x10015", "KEY_NUMERIC_1"}}));
  EXPECT_EQ(codes["sony/sony15"], (M{{"0x97001a", "KEY_NUMERIC_2"}}));
  EXPECT_EQ(codes["sony/sony20"], (M{{"0x1a4939", "KEY_NUMERIC_3"}}));
  EXPECT_EQ(codes["xmp/xmp"], (M{{"0xa1f2c00", "KEY_NUMERIC_4"}}));
  EXPECT_EQ(codes.size(), 9u);
  EXPECT_EQ(raw_keys, (std::vector<std::string>{"BTN_LEFT", "KEY_ENTER"}));

  // ir-keytable itself accepts the file and knows every key name.
  std::string path = testing::TempDir() + "keymap_" + std::to_string(getpid()) + ".toml";
  std::ofstream(path) << toml_text;
  FILE *p = popen(("ir-keytable --test-keymap='" + path + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) said += buf;
  EXPECT_EQ(pclose(p), 0) << said;
  EXPECT_EQ(said.find("not recognised"), std::string::npos) << said;
  EXPECT_EQ(said.find("error"), std::string::npos) << said;
  std::remove(path.c_str());
}

// ---- lircd.conf, decoded by LIRC --------------------------------------------------------

// The captures of a labelled text as mode2 lines with long silences between, as LIRC's
// receiver would see them.
std::string as_mode2(const std::vector<Labelled> &ls) {
  std::string m = "space 200000\n";
  for (const Labelled &l : ls) {
    std::string caps = l.capture;
    std::vector<Button> b = buttons(std::string(l.key) + "\n" + caps, KeymapFormat::Lircd);
    for (std::size_t i = 0; i < b.at(0).edges.size(); ++i)
      m += (i % 2 ? "space " : "pulse ") + std::to_string(b[0].edges[i]) + "\n";
    m += "space 200000\n";
  }
  return m;
}

struct LircCase {
  const char *name;
  const char *layout;  // what the remote block must describe
  std::vector<Labelled> keys;
  std::vector<Labelled> pressed;  // what is sent afterwards; its keys must come back in order
};

void PrintTo(const LircCase &c, std::ostream *os) { *os << c.name; }

class Lircd : public testing::TestWithParam<LircCase> {};

TEST_P(Lircd, RemoteDecodesItsOwnButtonsInLirc) {
  const LircCase &c = GetParam();
  const std::string conf = keymap(labelled(c.keys), KeymapFormat::Lircd, "tv");
  // The fields LIRC requires of a remote.
  for (const char *field : {"begin remote", "name  tv", "flags ", "eps ", "aeps ", "gap ", "end remote", c.layout})
    EXPECT_NE(conf.find(field), std::string::npos) << field << "\n" << conf;
  bool raw = conf.find("RAW_CODES") != std::string::npos;
  EXPECT_NE(conf.find(raw ? "begin raw_codes" : "begin codes"), std::string::npos);
  EXPECT_NE(conf.find(raw ? "end raw_codes" : "end codes"), std::string::npos);

  std::string base = testing::TempDir() + "lircd_" + std::to_string(getpid()) + "_" + c.name;
  std::ofstream(base + ".conf") << conf;
  std::ofstream(base + ".mode2") << as_mode2(c.pressed);
  // irsimreceive leaves a file of its own in the working directory.
  FILE *p = popen(("cd '" + testing::TempDir() + "' && XDG_CACHE_HOME='" + testing::TempDir() + "' irsimreceive '" +
                   base + ".conf' '" + base + ".mode2' 2>/dev/null")
                      .c_str(),
                  "r");
  ASSERT_NE(p, nullptr);
  std::vector<std::string> heard;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) {
    std::istringstream l(buf);
    std::string code, rep, key, remote;
    l >> code >> rep >> key >> remote;
    heard.push_back(key + "@" + remote);
  }
  EXPECT_EQ(pclose(p), 0);
  std::vector<std::string> want;
  for (const Labelled &l : c.pressed) want.push_back(std::string(l.key) + "@tv");
  EXPECT_EQ(heard, want) << conf;
  std::remove((base + ".conf").c_str());
  std::remove((base + ".mode2").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Remotes, Lircd,
    testing::Values(
        LircCase{"nec",
                 "header       9000  4500",
                 {{"KEY_POWER", sample("encoded/NEC-0xF708FB04.irctl")},
                  {"KEY_MUTE", sample_line("hand/nec-family.irctl", 4)},
                  {"KEY_MENU", sample_line("hand/nec-family.irctl", 6)}},
                 // jittered hand-made captures of the same buttons, out of order
                 {{"KEY_MENU", sample_line("hand/nec-family.irctl", 6)},
                  {"KEY_POWER", sample("hand/nec32-04-08.mode2")},
                  {"KEY_MUTE", sample("encoded/NECX-0xF7081204.irctl")}}},
        LircCase{"rc5",
                 "flags RC5|CONST_LENGTH",
                 {{"KEY_POWER", sample_line("hand/rc5.irctl", 2)}, {"KEY_MUTE", sample("hand/rc5.pronto")}},
                 // the other toggle value of the same button still names it
                 {{"KEY_POWER", sample_line("hand/rc5.irctl", 3)}, {"KEY_MUTE", sample("hand/rc5.pronto")}}},
        LircCase{"mixed",
                 "flags RAW_CODES",
                 {{"KEY_POWER", sample("hand/xmp.irctl")},
                  {"KEY_MUTE", sample("hand/zivra.mode2")},
                  {"KEY_A", sample_line("hand/sony.raw", 2)},
                  {"KEY_B", sample("hand/panasonic.pronto")},
                  {"KEY_C", sample_line("hand/rc6.raw", 2)}},
                 {{"KEY_B", sample("hand/panasonic.pronto")},
                  {"KEY_A", sample_line("hand/sony.raw", 2)},
                  {"KEY_C", sample_line("hand/rc6.raw", 2)},
                  {"KEY_MUTE", sample("hand/zivra.mode2")},
                  {"KEY_POWER", sample("hand/xmp.irctl")}}}),
    [](const testing::TestParamInfo<LircCase> &i) { return std::string(i.param.name); });

// ---- What a labelled-capture file may hold ----------------------------------------------

struct BadCase {
  const char *name;
  std::string text;
  KeymapFormat format;
  const char *message;
};

void PrintTo(const BadCase &c, std::ostream *os) { *os << c.name; }

class Refused : public testing::TestWithParam<BadCase> {};

TEST_P(Refused, WithAMessageSayingWhereAndWhy) {
  const BadCase &c = GetParam();
  std::vector<Button> b;
  std::string err, out;
  bool ok = codara_cli::read_buttons(c.text, "f", c.format, b, err) &&
            codara_cli::make_keymap(b, c.format, "tv", out, err);
  EXPECT_FALSE(ok) << out;
  EXPECT_NE(err.find(c.message), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Refused,
    testing::Values(
        BadCase{"unknown_key", "KEY_POWERR\n" + sample("hand/rc5.pronto"), KeymapFormat::RcKeymap,
                "f:1: unknown key name 'KEY_POWERR'"},
        // The kernel's alias names are not in LIRC's namespace.
        BadCase{"alias_key_for_lirc", "KEY_HANGUEL\n" + sample("hand/rc5.pronto"), KeymapFormat::Lircd,
                "unknown key name 'KEY_HANGUEL'"},
        BadCase{"undecodable", "KEY_POWER\n+500 -500 +500 -500 +500\n", KeymapFormat::RcKeymap,
                "f:2: the capture for KEY_POWER does not decode"},
        BadCase{"no_capture", "KEY_POWER\nKEY_MUTE\n" + sample("hand/rc5.pronto"), KeymapFormat::Lircd,
                "f:1: KEY_POWER has no capture"},
        BadCase{"capture_first", sample("hand/rc5.pronto") + "KEY_POWER\n", KeymapFormat::RcKeymap,
                "capture data before the first key name"},
        BadCase{"two_codes_one_key", "KEY_POWER\n" + sample("hand/rc6.raw"), KeymapFormat::RcKeymap,
                "KEY_POWER has captures of two different codes"},
        BadCase{"one_code_two_keys",
                "KEY_POWER\n" + sample("hand/rc5.pronto") + "KEY_MUTE\n" + sample("hand/rc5.pronto"),
                KeymapFormat::RcKeymap, "KEY_MUTE has the same code as KEY_POWER"},
        BadCase{"one_code_two_keys_lirc",
                "KEY_POWER\n" + sample("hand/rc5.pronto") + "KEY_MUTE\n" + sample("hand/rc5.pronto"),
                KeymapFormat::Lircd, "KEY_MUTE has the same code as KEY_POWER"},
        BadCase{"one_key_two_codes_lirc",
                "KEY_POWER\n" + sample("hand/rc5.pronto") + "KEY_POWER\n" + sample("hand/xmp.irctl"),
                KeymapFormat::Lircd, "a lircd.conf names each button once"},
        BadCase{"empty", "# nothing\n", KeymapFormat::RcKeymap, "no key names"}),
    [](const testing::TestParamInfo<BadCase> &i) { return std::string(i.param.name); });

// Pronto words and mode2 keywords are capture data, not key names.
TEST(LabelLines, TellKeyNamesFromCaptureData) {
  for (const char *label : {"KEY_POWER", "BTN_LEFT", "  KEY_1  # the one", "KEY_FACE"})
    EXPECT_TRUE(codara_cli::is_label_line(label)) << label;
  for (const char *data : {"0000 006D 0022", "FACE", "pulse 560", "space 560", "timeout", "+560 -560", "",
                           "# KEY_POWER", "KEY POWER"})
    EXPECT_FALSE(codara_cli::is_label_line(data)) << data;
}

// The extended pack's frames land under the kernel's protocols with the sent scancodes.
// Registering the pack lasts for the process: CTest runs each test in its own.
TEST(RcKeymap, ExtendedProtocolsUnderTheKernelsNames) {
  codara_register_extended();
  struct Sent {
    const char *key;
    uint32_t proto;
    uint32_t scancode;
    const char *where;
  };
  const Sent sent[] = {
      {"KEY_POWER", RC_PROTO_JVC, 0x0312, "jvc/jvc"},
      {"KEY_MUTE", RC_PROTO_SHARP, 0x0A44, "sharp/sharp"},
      {"KEY_MENU", RC_PROTO_RC6_MCE, 0x800F0410, "rc6/rc6_mce"},
      {"KEY_ENTER", RC_PROTO_RC6_6A_20, 0x12345, "rc6/rc6_6a_20"},
      {"KEY_UP", CODARA_PROTO_SAMSUNG32, 0x070702, "nec/necx"},
  };
  std::string text;
  for (const Sent &s : sent) {
    ir_packet pkt{};
    ASSERT_EQ(ir_encode(static_cast<rc_proto>(s.proto), s.scancode, &pkt), 0) << s.where;
    text += std::string(s.key) + "\n";
    for (uint16_t i = 0; i < pkt.len; ++i) text += (i % 2 ? " -" : (i ? " +" : "+")) + std::to_string(pkt.buf[i]);
    text += "\n";
  }
  toml::table doc = toml::parse(keymap(text, KeymapFormat::RcKeymap));
  std::map<std::string, std::string> found;  // key -> "protocol/variant scancode"
  for (const toml::node &n : *doc["protocols"].as_array()) {
    const toml::table &t = *n.as_table();
    std::string pv = t["protocol"].value_or(std::string()) + "/" + t["variant"].value_or(std::string());
    if (const toml::table *codes = t["scancodes"].as_table())
      for (auto &&[sc, key] : *codes) found[key.value_or(std::string())] = pv + " " + std::string(sc.str());
  }
  for (const Sent &s : sent) {
    char want[64];
    snprintf(want, sizeof want, "%s 0x%x", s.where, s.scancode);
    EXPECT_EQ(found[s.key], want);
  }
}

}  // namespace
