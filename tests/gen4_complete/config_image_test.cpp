// Validating and converting configuration files, without a dongle.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture.h"
#include "zivra/crc.h"
#include "zivra/gen4_rev.h"

namespace {

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// A legacy image: big-endian total length, 3 settings bytes, 6-byte records.
std::vector<unsigned char> legacy(const std::vector<std::array<uint8_t, 6>> &records) {
  std::vector<unsigned char> v(5, 0x11);
  for (auto &r : records) v.insert(v.end(), r.begin(), r.end());
  v[0] = static_cast<unsigned char>(v.size() >> 8);
  v[1] = static_cast<unsigned char>(v.size());
  return v;
}

TEST(ConfigImage, LegacyCheckComparesTheStoredLength) {
  auto img = legacy({{{1, 2, 3, 4, 0, 4}}});
  EXPECT_EQ(valid_v1_config(img.data(), img.size()), 1);
  EXPECT_EQ(valid_v1_config(img.data(), img.size() - 1), -1);
  unsigned char one = 0;
  EXPECT_EQ(valid_v1_config(&one, 1), -1);
}

TEST(ConfigImage, ConvertsEveryLegacyRecord) {
  LevelGuard g;
  set_loglevel(0);
  // Keyboard key, then a system key (103) whose usage is in the modifier byte.
  auto img = legacy({{{0x78, 0x56, 0x34, 0x12, 0x02, 0x04}}, {{0xEF, 0xBE, 0xAD, 0xDE, 0x81, 103}}});
  ASSERT_EQ(img.size(), 17u);
  ssize_t l = 0;
  unsigned char *c = convert_config(img.data(), img.size(), &l);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(l, 28 + 2 * 16);
  EXPECT_EQ(le32(c), 0xDEADBEEFu);
  EXPECT_EQ(c[4] | c[5] << 8, 1);
  EXPECT_EQ(c[6] | c[7] << 8, 0);
  EXPECT_EQ(le32(c + 8), 2u);
  EXPECT_EQ(le32(c + 12), crc32_slow(c + 16, 12 + 32, 0xFFFFFFFF));
  EXPECT_EQ(le32(c + 16), 0xFFFFFFFFu);
  EXPECT_EQ(le32(c + 20), 15u);
  EXPECT_EQ(le32(c + 24), 0u);
  const unsigned char want0[16] = {0x78, 0x56, 0x34, 0x12, 130, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0x02, 0x04};
  const unsigned char want1[16] = {0xEF, 0xBE, 0xAD, 0xDE, 130, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0x81, 0};
  EXPECT_EQ(memcmp(c + 28, want0, 16), 0);
  EXPECT_EQ(memcmp(c + 44, want1, 16), 0);
  EXPECT_EQ(valid_v2_config(c, static_cast<size_t>(l)), 1);
  free(c);
}

TEST(ConfigImage, ElevenByteLegacyFileWithSystemKey) {
  auto img = legacy({{{1, 0, 0, 0, 0x82, 103}}});
  ASSERT_EQ(img.size(), 11u);
  ssize_t l = 0;
  unsigned char *c = convert_config(img.data(), img.size(), &l);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(l, 44);
  EXPECT_EQ(c[28 + 13], 3);
  EXPECT_EQ(c[28 + 14], 0x82);
  EXPECT_EQ(c[28 + 15], 0);
  free(c);
}

struct BadLegacy {
  size_t len;
  const char *message;
};

class ConvertRefuses : public ::testing::TestWithParam<BadLegacy> {};

TEST_P(ConvertRefuses, WithItsMessage) {
  std::vector<unsigned char> img(GetParam().len + 1, 0);
  LogCapture cap;
  ssize_t l = -7;
  EXPECT_EQ(convert_config(img.data(), GetParam().len, &l), nullptr);
  EXPECT_NE(cap.text(1).find(GetParam().message), std::string::npos) << cap.text(1);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ConvertRefuses,
                         ::testing::Values(BadLegacy{5, "configuration file is empty\n"},
                                           BadLegacy{12, "invalid configuration file: len 7\n"},
                                           BadLegacy{3, "invalid configuration file: len 0\n"},
                                           BadLegacy{0, "invalid configuration file: len 0\n"}));

TEST(ConfigImage, CurrentCheckNeedsMagicAndCrc) {
  std::vector<unsigned char> img(28 + 16, 0xAB);
  const uint32_t magic = 0xDEADBEEF;
  memcpy(img.data(), &magic, 4);
  uint32_t crc = crc32_slow(img.data() + 16, static_cast<uint32_t>(img.size() - 16), 0xFFFFFFFF);
  memcpy(img.data() + 12, &crc, 4);
  {
    LogCapture cap;
    EXPECT_EQ(valid_v2_config(img.data(), img.size()), 1);
  }
  img.back() ^= 1;
  {
    LogCapture cap;
    EXPECT_EQ(valid_v2_config(img.data(), img.size()), -1);
    EXPECT_NE(cap.text(1).find("CRC mismatch. Calculated: 0x"), std::string::npos);
  }
  img[0] = 0;
  {
    LogCapture cap;
    EXPECT_EQ(valid_v2_config(img.data(), img.size()), -1);
    EXPECT_NE(cap.text(1).find("not a valid configuration\n"), std::string::npos);
  }
  LogCapture cap;
  EXPECT_EQ(valid_v2_config(img.data(), 15), -1);
}

}  // namespace
