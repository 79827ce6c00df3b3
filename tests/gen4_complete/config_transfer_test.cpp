// Saving, formatting and loading the configuration against the simulated
// dongle, with the block sizes and addresses each revision puts on the wire.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "dongle.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

// Block (address, length) pairs of every exchange of `cmd` in the trace.
std::vector<std::pair<uint32_t, uint32_t>> blocks(const std::vector<Exchange> &ex, bool write) {
  std::vector<std::pair<uint32_t, uint32_t>> v;
  for (auto &e : ex) v.emplace_back(e.u32(0), write ? e.payload[4] : e.u32(4));
  return v;
}

std::vector<std::pair<uint32_t, uint32_t>> expected_blocks(uint32_t len, uint32_t block) {
  std::vector<std::pair<uint32_t, uint32_t>> v;
  for (uint32_t a = 0; a < len; a += block) v.emplace_back(a, len - a < block ? len - a : block);
  return v;
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, SaveFormatLoadRestoresTheImageByteForByte) {
  const int minor = GetParam();
  Dongle d(minor);
  auto img = make_image({200, 210, 130, 200, 7, 8, 9});
  d.set_image(img);
  LevelGuard g;
  set_loglevel(0);
  std::string path = temp_path("roundtrip.cfg");

  d.clear_trace();
  ASSERT_EQ(zv_save_config(path.c_str()), 0);
  EXPECT_EQ(read_file(path), img);
  const unsigned rsize = minor >= 5 ? 64 : 32;
  auto reads = d.trace("cfg1_read");
  for (auto &e : reads) EXPECT_EQ(e.size, rsize);
  EXPECT_EQ(blocks(reads, false), expected_blocks(static_cast<uint32_t>(img.size()), rsize - 17));

  ASSERT_EQ(zv_format_config(), 0);
  ASSERT_NE(d.image(), img);

  d.clear_trace();
  ASSERT_EQ(zv_load_config(path.c_str()), 0);
  EXPECT_EQ(d.image(), img);
  if (minor <= 2) {
    auto pokes = d.trace("cfg1_poke");
    ASSERT_EQ(pokes.size(), img.size());
    for (size_t i = 0; i < pokes.size(); ++i) {
      EXPECT_EQ(pokes[i].u32(0), i);
      EXPECT_EQ(pokes[i].u32(4), img[i]);
    }
    EXPECT_TRUE(d.trace("cfg1_write").empty());
  } else {
    const unsigned wsize = minor >= 5 ? 64 : 32;
    auto writes = d.trace("cfg1_write");
    for (auto &e : writes) EXPECT_EQ(e.size, wsize);
    EXPECT_EQ(blocks(writes, true), expected_blocks(static_cast<uint32_t>(img.size()), wsize - 17));
    EXPECT_TRUE(d.trace("cfg1_poke").empty());
  }
  // The image carries its own CRC: nothing recomputes it after a load.
  EXPECT_TRUE(d.trace("updatecrc").empty());
  remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Revisions, RoundTrip, ::testing::Range(0, 11));

TEST(ConfigTransfer, FortyByteImageReadBlocks) {
  Dongle d(5);
  std::vector<uint8_t> img(40);
  for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 7);
  d.set_image(img);
  for (uint8_t size : {32, 64}) {
    d.clear_trace();
    uint8_t *out = nullptr;
    ASSERT_EQ(get_config(&out, size, 0), 40);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 40), img);
    free(out);
    auto want = size == 32 ? std::vector<std::pair<uint32_t, uint32_t>>{{0, 15}, {15, 15}, {30, 10}}
                           : std::vector<std::pair<uint32_t, uint32_t>>{{0, 40}};
    EXPECT_EQ(blocks(d.trace("cfg1_read"), false), want);
  }
  LogCapture cap;
  uint8_t *out = nullptr;
  EXPECT_EQ(get_config(&out, 48, 0), -1);
  EXPECT_NE(cap.text(1).find("invalid buf size\n"), std::string::npos);
}

TEST(ConfigTransfer, HundredByteImageLoadBlocks) {
  std::vector<uint8_t> img = make_image({1, 2, 3, 4});
  img.resize(100, 0x5A);
  seal(img);
  std::string path = temp_path("hundred.cfg");
  write_file(path, img);
  LevelGuard g;
  set_loglevel(0);
  for (int minor : {3, 5}) {
    Dongle d(minor);
    d.clear_trace();
    ASSERT_EQ(zv_load_config(path.c_str()), 0);
    auto want = minor == 3 ? std::vector<std::pair<uint32_t, uint32_t>>{{0, 15}, {15, 15}, {30, 15}, {45, 15}, {60, 15}, {75, 15}, {90, 10}}
                           : std::vector<std::pair<uint32_t, uint32_t>>{{0, 47}, {47, 47}, {94, 6}};
    EXPECT_EQ(blocks(d.trace("cfg1_write"), true), want) << minor;
    // Each block's bytes follow its address and count.
    for (auto &e : d.trace("cfg1_write"))
      EXPECT_EQ(std::vector<uint8_t>(e.payload.begin() + 5, e.payload.begin() + 5 + e.payload[4]),
                std::vector<uint8_t>(img.begin() + e.u32(0), img.begin() + e.u32(0) + e.payload[4]));
  }
  remove(path.c_str());
}

class LegacyLoad : public ::testing::TestWithParam<int> {};

TEST_P(LegacyLoad, ConvertsBeforeWriting) {
  const int n = GetParam();
  std::vector<uint8_t> legacy(5 + 6 * n, 0);
  legacy[0] = static_cast<uint8_t>(legacy.size() >> 8);
  legacy[1] = static_cast<uint8_t>(legacy.size());
  for (int j = 0; j < n; ++j) {
    uint8_t *r = legacy.data() + 5 + 6 * j;
    r[0] = static_cast<uint8_t>(0x10 + j);
    r[3] = 0x80;
    r[4] = static_cast<uint8_t>(j);
    r[5] = static_cast<uint8_t>(j % 2 ? 103 : 4 + j);
  }
  ssize_t l = 0;
  unsigned char *want = convert_config(legacy.data(), legacy.size(), &l);
  ASSERT_NE(want, nullptr);
  ASSERT_EQ(l, 28 + 16 * n);
  std::string path = temp_path("legacy.cfg");
  write_file(path, legacy);
  Dongle d(5);
  LevelGuard g;
  set_loglevel(0);
  ASSERT_EQ(zv_load_config(path.c_str()), 0);
  EXPECT_EQ(d.image(), std::vector<uint8_t>(want, want + l));
  free(want);
  remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Records, LegacyLoad, ::testing::Values(1, 3, 20));

struct Refused {
  const char *name;
  std::vector<uint8_t> file;
  const char *message;
};

class RefusedFile : public ::testing::TestWithParam<int> {};

TEST_P(RefusedFile, NothingIsWritten) {
  auto good = make_image({5, 6});
  auto badcrc = good;
  badcrc[40] ^= 0x01;
  std::vector<uint8_t> empty_legacy = {0, 5, 1, 2, 3};
  std::vector<uint8_t> neither = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  std::vector<uint8_t> huge = make_image({});
  huge.resize(65537, 0x5A);
  seal(huge);
  const Refused cases[] = {
      {"crc", badcrc, "CRC mismatch. Calculated: 0x"},
      {"too large", huge, "config length 65537 exceeds the device maximum of 65536\n"},
      {"empty legacy", empty_legacy, "could not convert config file\n"},
      {"neither", neither, "invalid configuration file\n"},
  };
  std::string path = temp_path("refused.cfg");
  for (auto &c : cases) {
    write_file(path, c.file);
    Dongle d(GetParam());
    d.set_image(make_image({1}));
    auto before = d.image();
    d.clear_trace();
    LogCapture cap;
    EXPECT_EQ(zv_load_config(path.c_str()), -1) << c.name;
    EXPECT_NE(cap.text(1).find(c.message), std::string::npos) << c.name << cap.text(1);
    EXPECT_TRUE(d.trace().empty()) << c.name;
    EXPECT_EQ(d.image(), before);
  }
  LogCapture cap;
  Dongle d(GetParam());
  EXPECT_EQ(zv_load_config("/nonexistent/dir/file.cfg"), -6);
  EXPECT_NE(cap.text(1).find("could not open file\n"), std::string::npos);
  remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Loaders, RefusedFile, ::testing::Values(0, 3, 5));

// The shared file checks log under the operation and module that called them.
TEST(ConfigTransfer, LinesNameTheCallingOperation) {
  const std::pair<int, const char *> cases[] = {
      {0, "[E] lib/libzivra/firmware/fw_4.0 zv_ver4_load_config("},
      {3, "[E] lib/libzivra/firmware/fw_4.3 zv_ver4p3_load_config("},
      {5, "[E] lib/libzivra/firmware/fw_4.5 zv_ver_load_config("},
  };
  for (auto &[minor, prefix] : cases) {
    Dongle d(minor);
    LogCapture cap;
    EXPECT_EQ(zv_load_config("/nonexistent/dir/file.cfg"), -6);
    EXPECT_NE(cap.text(1).find(std::string("\n") + prefix), std::string::npos) << cap.text(1);
    LogCapture cap2;
    EXPECT_EQ(zv_save_config(nullptr), -6);
    EXPECT_NE(cap2.text(1).find(minor >= 5 ? "fw_4.5 zv_ver_save_config(" : "fw_4.0 zv_ver4_save_config("),
              std::string::npos)
        << cap2.text(1);
  }
}

TEST(ConfigTransfer, FileNameLengthLimit) {
  Dongle d(5);
  d.set_image(make_image({1}));
  LevelGuard g;
  set_loglevel(0);
  std::string dir = temp_path("");
  std::string name299 = dir + std::string(299 - dir.size(), 'n');
  ASSERT_EQ(name299.size(), 299u);
  // A single path component may not exceed 255 bytes: split the padding.
  for (size_t i = dir.size() + 200; i < name299.size() - 1; i += 200) name299[i] = '/';
  std::string sub = name299.substr(0, name299.rfind('/'));
  std::string mk = "mkdir -p '" + sub + "'";
  ASSERT_EQ(system(mk.c_str()), 0);
  EXPECT_EQ(zv_save_config(name299.c_str()), 0);
  EXPECT_EQ(read_file(name299), d.image());
  remove(name299.c_str());
  set_loglevel(2);
  LogCapture cap;
  std::string name300 = name299 + "x";
  EXPECT_EQ(zv_save_config(name300.c_str()), -6);
  EXPECT_NE(cap.text(1).find("file name too long\n"), std::string::npos);
  EXPECT_EQ(zv_save_config(nullptr), -6);
  EXPECT_NE(cap.text(1).find("File (NULL) is invalid\n"), std::string::npos);
}

TEST(ConfigTransfer, EmptyImageSavesAnEmptyFile) {
  Dongle d(4);
  d.set_image({});
  d.set_reported_size(0);
  uint8_t *out = nullptr;
  EXPECT_EQ(get_config(&out, 32, 0), 0);
  free(out);
  std::string path = temp_path("empty.cfg");
  write_file(path, {1, 2, 3});
  EXPECT_EQ(zv_save_config(path.c_str()), 0);
  EXPECT_TRUE(read_file(path).empty());
  remove(path.c_str());
}

TEST(ConfigTransfer, ImplausibleImageLengthIsRefused) {
  Dongle d(5);
  d.set_image(std::vector<uint8_t>(65536, 0x33));
  uint8_t *out = nullptr;
  EXPECT_EQ(get_config(&out, 64, 0), 65536);  // the largest the device may hold
  free(out);
  for (uint32_t size : {65537u, 0xFFFFFFF0u}) {
    d.set_reported_size(size);
    d.clear_trace();
    LogCapture cap;
    EXPECT_EQ(get_config(&out, 64, 0), -1);
    EXPECT_NE(cap.text(1).find("exceeds the device maximum of 65536\n"), std::string::npos) << cap.text(1);
    EXPECT_TRUE(d.trace("cfg1_read").empty());
  }
}

TEST(ConfigTransfer, LoadStopsAtARejectedBlock) {
  auto img = make_image({1, 2, 3, 4, 5, 6});
  std::string path = temp_path("partial.cfg");
  write_file(path, img);
  Dongle d(5);
  d.fail("cfg1_write", 2);
  LogCapture cap;
  EXPECT_EQ(zv_load_config(path.c_str()), -1);
  EXPECT_NE(cap.text(1).find("invalid address you idiot\n"), std::string::npos);
  EXPECT_NE(cap.text(1).find("failure loading config\n"), std::string::npos);
  EXPECT_EQ(d.trace("cfg1_write").size(), 2u);
  remove(path.c_str());
}

}  // namespace
