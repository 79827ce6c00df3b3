#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "zivra/crc.h"

namespace {

const uint8_t *bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

struct Check {
  const char *name;
  int width;
  std::vector<uint8_t> data;
  uint32_t seed;
  uint32_t want;
};

std::vector<uint8_t> text(const char *s) { return {s, s + strlen(s)}; }

void PrintTo(const Check &c, std::ostream *os) { *os << c.name; }

class CrcCheck : public testing::TestWithParam<Check> {};

uint32_t run(const Check &c) {
  const uint8_t *d = c.data.data();
  auto n = static_cast<uint32_t>(c.data.size());
  switch (c.width) {
    case 0: return crc8_slower(d, c.data.size());
    case 8: return crc8_slow(d, n, static_cast<uint8_t>(c.seed));
    case 16: return crc16_slow(d, n, static_cast<uint16_t>(c.seed));
    default: return crc32_slow(d, n, c.seed);
  }
}

TEST_P(CrcCheck, GivesPublishedValue) { EXPECT_EQ(run(GetParam()), GetParam().want) << std::hex << run(GetParam()); }

// The 16- and 32-bit values are those of the two-position register walk that
// stored images carry; the textbook CRCs give 0x31C3, 0x29B1 and 0x0376E6E7.
INSTANTIATE_TEST_SUITE_P(
    Values, CrcCheck,
    testing::Values(Check{"smbus", 0, text("123456789"), 0, 0xF4}, Check{"crc8_0", 8, text("123456789"), 0, 0xF4},
                    Check{"crc8_ff", 8, text("123456789"), 0xFF, 0xFB},
                    Check{"crc16_0", 16, text("123456789"), 0, 0xDC40},
                    Check{"crc16_ffff", 16, text("123456789"), 0xFFFF, 0xD6B5},
                    Check{"crc16_one", 16, {0x01}, 0, 0x3331},
                    Check{"crc32_ff", 32, text("123456789"), 0xFFFFFFFF, 0x86546B6C},
                    Check{"crc32_0", 32, text("123456789"), 0, 0xB74CB007},
                    Check{"crc32_abc", 32, text("abc"), 0xFFFFFFFF, 0x58351DAB},
                    Check{"crc32_zeros", 32, {0, 0, 0, 0}, 0xFFFFFFFF, 0xAEEEAB1C},
                    Check{"crc32_one", 32, {0x01}, 0, 0xD219C1DC},
                    Check{"empty8", 0, {}, 0, 0}, Check{"empty8s", 8, {}, 0x5A, 0x5A},
                    Check{"empty16", 16, {}, 0xBEEF, 0xBEEF},
                    Check{"empty32", 32, {}, 0x12345678, 0x12345678}),
    [](const testing::TestParamInfo<Check> &i) { return std::string(i.param.name); });

TEST(Crc, ZeroLengthNeverTouchesTheBuffer) {
  EXPECT_EQ(crc8_slower(nullptr, 0), 0);
  EXPECT_EQ(crc32_slow(nullptr, 0, 0x12345678), 0x12345678u);
}

TEST(Crc, ChainingEqualsOneRunAtEverySplit) {
  EXPECT_EQ(crc32_slow(bytes("c"), 1, crc32_slow(bytes("ab"), 2, 0xFFFFFFFF)), 0x58351DABu);
  std::mt19937 rng(7);
  std::vector<uint8_t> buf(97);
  for (auto &b : buf) b = static_cast<uint8_t>(rng());
  auto n = static_cast<uint32_t>(buf.size());
  uint32_t whole32 = crc32_slow(buf.data(), n, 0xFFFFFFFF);
  uint16_t whole16 = crc16_slow(buf.data(), n, 0xFFFF);
  uint8_t whole8 = crc8_slow(buf.data(), n, 0x3C);
  for (uint32_t k = 0; k <= n; ++k) {
    EXPECT_EQ(crc32_slow(buf.data() + k, n - k, crc32_slow(buf.data(), k, 0xFFFFFFFF)), whole32) << k;
    EXPECT_EQ(crc16_slow(buf.data() + k, n - k, crc16_slow(buf.data(), k, 0xFFFF)), whole16) << k;
    EXPECT_EQ(crc8_slow(buf.data() + k, n - k, crc8_slow(buf.data(), k, 0x3C)), whole8) << k;
  }
}

TEST(Crc, Crc8SlowerCoversBuffersOfAnyLength) {
  std::mt19937 rng(11);
  std::vector<uint8_t> buf(1000);
  for (auto &b : buf) b = static_cast<uint8_t>(rng());
  for (size_t len : {0, 1, 130, 131, 254, 255, 256, 257, 300, 511, 1000}) {
    EXPECT_EQ(crc8_slower(buf.data(), len), crc8_slow(buf.data(), static_cast<uint32_t>(len), 0)) << len;
  }
  // Bytes past position 255 change the result.
  uint8_t before = crc8_slower(buf.data(), 300);
  buf[299] ^= 0x01;
  EXPECT_NE(crc8_slower(buf.data(), 300), before);
}

}  // namespace
