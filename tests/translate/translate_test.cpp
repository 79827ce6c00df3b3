#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/capture.h"
#include "tests/support/helpers.h"
#include "zivra/config.h"
#include "zivra/crc.h"
#include "zivra/translate.h"

namespace {

const std::string kUsage =
    "usage:\n zivra record 'word'Available Options:\t\n"
    "  escape, return, enter, escape, backspace, delete, \n  tab, space, F[1-12], printscreen, scroll, pause, \n"
    "  insert, home, pageup, pagedown, end, right, left, \n  down, up, wake, media keys:\n"
    "  eject, vol_up, vol_down, mute, play/pause, stop, \n  fastforward, rewind\n";

struct Key {
  int ch;
  int mod, usage;
};
void PrintTo(const Key &k, std::ostream *os) { *os << k.ch; }

// First and last of every character block, plus the characters easy to get wrong.
const Key kChars[] = {
    {'!', 2, 30}, {'"', 2, 52}, {'\'', 0, 52}, {'+', 2, 46}, {',', 0, 54}, {'/', 0, 56}, {'0', 0, 39},
    {'1', 0, 30}, {'9', 0, 38}, {':', 2, 51}, {';', 0, 51}, {'@', 2, 31}, {'A', 2, 4},  {'Z', 2, 29},
    {'a', 0, 4},  {'k', 0, 14}, {'z', 0, 29}, {'[', 0, 47}, {'\\', 0, 49}, {']', 0, 48}, {'^', 2, 35},
    {'`', 0, 53}, {'{', 2, 48}, {'|', 2, 49}, {'~', 2, 53}};

class CharKeys : public testing::TestWithParam<Key> {};

TEST_P(CharKeys, BothGenerations) {
  const Key &k = GetParam();
  record_t r{9, 9, 9};
  EXPECT_EQ(translate_v2(k.ch, &r), 1);
  EXPECT_EQ(r.report_id, 1);
  EXPECT_EQ(r.modifier, k.mod);
  EXPECT_EQ(r.key, k.usage);
  int rep[2] = {-1, -1};
  EXPECT_EQ(translate_v1(k.ch, rep), 1);
  EXPECT_EQ(rep[0], k.usage);
  EXPECT_EQ(rep[1], k.mod);
}
INSTANTIATE_TEST_SUITE_P(Blocks, CharKeys, testing::ValuesIn(kChars));

struct Named {
  const char *name;
  int report_id, mod, usage;
};
void PrintTo(const Named &n, std::ostream *os) { *os << n.name; }

// Every named row of the keyboard block (both generations) ...
std::vector<Named> keyboard_names() {
  std::vector<Named> v = {{"return", 1, 0, 40},   {"escape", 1, 0, 41},     {"delete", 1, 0, 76},
                          {"backspace", 1, 0, 42}, {"tab", 1, 0, 43},       {"space", 1, 0, 44},
                          {"print_screen", 1, 0, 70}, {"scroll", 1, 0, 71}, {"pause", 1, 0, 72},
                          {"insert", 1, 0, 73},   {"home", 1, 0, 74},       {"pageup", 1, 0, 75},
                          {"end", 1, 0, 77},      {"pagedown", 1, 0, 78},   {"right", 1, 0, 79},
                          {"left", 1, 0, 80},     {"down", 1, 0, 81},       {"up", 1, 0, 82},
                          {"enter", 1, 0, 88},    {"apostrophe", 1, 0, 52}, {"power", 1, 0, 254},
                          {"wake", 1, 0, 255}};
  static const char *const f[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"};
  for (int i = 0; i < 12; ++i) v.push_back({f[i], 1, 0, 58 + i});
  return v;
}

// ... and of the generation-4 report block; duplicates resolve to their first row.
const Named kV2Names[] = {
    {"eject", 2, 184, 0},       {"vol_up", 2, 233, 0},        {"vol_down", 2, 234, 0},     {"mute", 2, 226, 0},
    {"play/pause", 2, 205, 0},  {"stop", 2, 183, 0},          {"menu_pick", 2, 65, 0},     {"menu_up", 2, 66, 0},
    {"menu_left", 2, 68, 0},    {"menu_right", 2, 69, 0},     {"menu_down", 2, 67, 0},     {"media_select", 2, 67, 0},
    {"media_home", 2, 35, 2},   {"media_back", 2, 36, 2},     {"media_forward", 2, 37, 2}, {"ac_search", 2, 33, 2},
    {"rewind", 2, 180, 0},      {"fast_forward", 2, 179, 0},  {"MOVIESEL1", 2, 1, 184},    {"next_track", 2, 181, 0},
    {"prev_track", 2, 182, 0},  {"suspend", 3, 1, 0},         {"browser_back", 4, 128, 0}, {"browser_fwd", 4, 64, 0},
    {"browser_home", 4, 32, 0}, {"-", 1, 2, 30}};

// The generation-1 to -3 report block: usage is the pseudo-usage, mod the report's usage.
const Named kV1Names[] = {
    {"eject", 0, 184, 102},        {"vol_up", 0, 233, 102},     {"vol_down", 0, 234, 102},
    {"mute", 0, 226, 102},         {"play/pause", 0, 205, 102}, {"stop", 0, 183, 102},
    {"rewind", 0, 180, 102},       {"fast_forward", 0, 179, 102}, {"next_track", 0, 181, 102},
    {"prev_track", 0, 182, 102},   {"suspend", 0, 1, 103},      {"browser_back", 0, 128, 104},
    {"-", 0, 2, 30}};

class V2Names : public testing::TestWithParam<Named> {};
TEST_P(V2Names, Translate) {
  record_t r{};
  ASSERT_EQ(translate_word_v2(GetParam().name, &r), 1);
  EXPECT_EQ(r.report_id, GetParam().report_id);
  EXPECT_EQ(r.modifier, GetParam().mod);
  EXPECT_EQ(r.key, GetParam().usage);
}
INSTANTIATE_TEST_SUITE_P(Keyboard, V2Names, testing::ValuesIn(keyboard_names()));
INSTANTIATE_TEST_SUITE_P(Reports, V2Names, testing::ValuesIn(kV2Names));

class V1Names : public testing::TestWithParam<Named> {};
TEST_P(V1Names, Translate) {
  int rep[2] = {-1, -1};
  ASSERT_EQ(translate_word_v1(GetParam().name, rep), 1);
  EXPECT_EQ(rep[0], GetParam().usage);
  EXPECT_EQ(rep[1], GetParam().mod);
}
INSTANTIATE_TEST_SUITE_P(Keyboard, V1Names, testing::ValuesIn(keyboard_names()));
INSTANTIATE_TEST_SUITE_P(Reports, V1Names, testing::ValuesIn(kV1Names));

TEST(Translate, V1HasNoGeneration4OnlyNames) {
  for (const char *name : {"menu_pick", "media_home", "MOVIESEL1", "browser_fwd"}) {
    StdoutCapture out;
    StderrCapture err;
    int rep[2] = {5, 5};
    EXPECT_EQ(translate_word_v1(name, rep), -22) << name;
    EXPECT_EQ(rep[0], 0);
    EXPECT_EQ(rep[1], 0);
    EXPECT_EQ(err.text(), std::string("Not a valid word: ") + name + "\n\n");
    EXPECT_EQ(out.text(), kUsage);
  }
}

TEST(Translate, V2FailuresZeroTheRecordLogAndPrintUsage) {
  const std::string module = "lib/libzivra/translate_v2";
  {
    LogCapture cap;
    StdoutCapture out;
    record_t r{7, 7, 7};
    EXPECT_EQ(translate_v2('\x01', &r), -22);
    EXPECT_EQ(r.report_id | r.modifier | r.key, 0);
    EXPECT_EQ(out.text(), kUsage);
    EXPECT_EQ(cap.text(1), log_line('E', module, "translate_v2", "not a valid keyboard key: %c",
                                    "not a valid keyboard key: \x01"));
  }
  {
    LogCapture cap;
    StdoutCapture out;
    record_t r{7, 7, 7};
    EXPECT_EQ(translate_word_v2("Vol_up", &r), -22);  // names are case-sensitive
    EXPECT_EQ(r.report_id | r.modifier | r.key, 0);
    EXPECT_EQ(out.text(), kUsage);
    EXPECT_EQ(cap.text(1), log_line('E', module, "translate_word_v2", "not a valid keyboard key: %s",
                                    "not a valid keyboard key: Vol_up"));
  }
}

TEST(Translate, V1CharacterFailure) {
  StdoutCapture out;
  StderrCapture err;
  int rep[2] = {5, 5};
  EXPECT_EQ(translate_v1(200, rep), 0);
  EXPECT_EQ(rep[0], 0);
  EXPECT_EQ(rep[1], 0);
  EXPECT_EQ(err.text(), "Not a valid keyboard key\n\n");
  EXPECT_EQ(out.text(), kUsage);
}

// A current image: header, settings, then the given records.
std::vector<uint8_t> image(const std::vector<ir_pattern_t> &recs, uint32_t claimed) {
  std::vector<uint8_t> img(ZV_CONFIG_RECORDS_OFFSET + recs.size() * sizeof(ir_pattern_t), 0xFF);
  header_t h{ZV_CONFIG_MAGIC, 1, 0, claimed, 0};
  settings_t s{0xFFFFFFFF, 15, 0};
  memcpy(img.data() + sizeof h, &s, sizeof s);
  if (!recs.empty()) memcpy(img.data() + ZV_CONFIG_RECORDS_OFFSET, recs.data(), recs.size() * sizeof(ir_pattern_t));
  h.crc = crc32_slow(img.data() + 16, static_cast<uint32_t>(img.size() - 16), 0xFFFFFFFF);
  memcpy(img.data(), &h, sizeof h);
  return img;
}

ir_pattern_t rec(uint32_t hash, uint32_t te, uint8_t id, uint8_t mod, uint8_t key) {
  return ir_pattern_t{hash, te, 0xFFFFFFFF, 0xFF, id, mod, key};
}

std::string list_v2(std::vector<uint8_t> img, size_t size) {
  StdoutCapture out;
  EXPECT_EQ(translate_mem_v2(img.data(), size), 0);
  return out.text();
}

const char kV2Head[] =
    "\nRecorded Keys:\nIndex  hash       IK   ID  key\n-----  --------   ---  --  ------------\n";

TEST(Listing, CurrentImageByteForByte) {
  std::vector<ir_pattern_t> recs = {
      rec(0x12AB, 130, 1, 2, 30),        // "!"
      rec(0xDEADBEEF, 7, 1, 1, 4),       // left_ctrl + the first row of usage 4, "A"
      rec(1, 0, 2, 0x50, 0x01),          // no row: consumer usage 0x150
      rec(0xFFFFFFFF, 1234, 1, 5, 4),    // two modifier names
      rec(2, 130, 2, 67, 0),             // media_select shares menu_down's usage
      rec(3, 130, 4, 128, 104),          // browser_back's first row
      rec(4, 130, 1, 0, 40),             // return
      rec(5, 130, 1, 0, 52),             // the character row comes before "apostrophe"
      rec(6, 130, 1, 0, 0x99),           // no usage row: row 0's character
      rec(7, 130, 3, 1, 0),              // suspend
      rec(8, 130, 4, 0x08, 0),           // no row, not consumer: modifier name + row character
  };
  std::string want = std::string(kV2Head) +
                     "    0  000012AB   130  01  !\n"
                     "    1  DEADBEEF   007  01  left_ctrlA \n"
                     "    2  00000001   000  02  0x150\n"
                     "    3  FFFFFFFF   1234  01  left_ctrl+left_altA \n"
                     "    4  00000002   130  02  menu_down\n"
                     "    5  00000003   130  04  browser_back\n"
                     "    6  00000004   130  01  return\n"
                     "    7  00000005   130  01  '\n"
                     "    8  00000006   130  01  ! \n"
                     "    9  00000007   130  03  suspend\n"
                     "   10  00000008   130  04  left_cmd0 \n";  // usage 0: the first such row is named
  auto img = image(recs, static_cast<uint32_t>(recs.size()));
  EXPECT_EQ(list_v2(img, img.size()), want);
}

TEST(Listing, CurrentImageCountFromHeaderButNeverPastTheBuffer) {
  std::vector<ir_pattern_t> recs = {rec(0xA, 130, 1, 0, 4), rec(0xB, 130, 1, 0, 5), rec(0xC, 130, 1, 0, 6)};
  const std::string r0 = "    0  0000000A   130  01  a\n", r1 = "    1  0000000B   130  01  b\n",
                    r2 = "    2  0000000C   130  01  c\n";
  auto fewer = image(recs, 2);
  EXPECT_EQ(list_v2(fewer, fewer.size()), kV2Head + r0 + r1);
  auto more = image(recs, 1000);  // a header claiming more than the buffer holds
  EXPECT_EQ(list_v2(more, more.size()), kV2Head + r0 + r1 + r2);
  EXPECT_EQ(list_v2(more, more.size() - 1), kV2Head + r0 + r1);  // a cut record is left out
  EXPECT_EQ(list_v2(more, 20), kV2Head);
  EXPECT_EQ(list_v2(image({}, 0), 28), kV2Head);
}

std::vector<uint8_t> legacy(const std::vector<std::vector<uint8_t>> &recs) {
  std::vector<uint8_t> img = {0, 0, 1, 2, 3};
  for (const auto &r : recs) img.insert(img.end(), r.begin(), r.end());
  img[0] = static_cast<uint8_t>(img.size() >> 8);
  img[1] = static_cast<uint8_t>(img.size());
  return img;
}

std::string list_v1(std::vector<uint8_t> img, size_t size) {
  StdoutCapture out;
  EXPECT_EQ(translate_mem_v1(img.data(), size), 0);
  return out.text();
}

TEST(Listing, LegacyImageByteForByte) {
  auto img = legacy({{0xEF, 0xCD, 0xAB, 0x00, 2, 30},  // "!"
                     {0x01, 0, 0, 0, 184, 102},       // eject
                     {0xFF, 0, 0, 0, 5, 4},           // unmatched: modifiers and "A"
                     {0, 0, 0, 0, 0, 200}});          // unmatched, no usage row: row 0
  const std::string want =
      "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
      "    0  ABCDEF    !\n"
      "    1  1    eject\n"
      "    2  FF    left_ctrl+left_alt A\n"
      "    3  0     !\n";
  EXPECT_EQ(list_v1(img, img.size()), want);
  img.insert(img.end(), {1, 2, 3});  // a partial record is not listed
  EXPECT_EQ(list_v1(img, img.size()), want);
  EXPECT_EQ(list_v1(legacy({}), 5), "No Keys Found\n");
}

}  // namespace
