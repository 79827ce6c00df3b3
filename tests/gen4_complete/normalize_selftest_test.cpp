// Normalising the stored timing values, and the self-test in loopback.
#include <gtest/gtest.h>

#include <cstring>

#include "capture.h"
#include "dongle.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

uint32_t te_of(const std::vector<uint8_t> &img, size_t k) {
  uint32_t v;
  memcpy(&v, img.data() + 28 + 16 * k + 4, 4);
  return v;
}

struct NormCase {
  std::vector<uint32_t> te;
  uint32_t want;
};

class Normalize : public ::testing::TestWithParam<NormCase> {};

TEST_P(Normalize, WritesTheMostCommonValueBackByteByByteThenUpdatesTheCrc) {
  Dongle d(1);
  auto img = make_image(GetParam().te);
  d.set_image(img);
  LevelGuard g;
  set_loglevel(0);
  d.clear_trace();
  ASSERT_EQ(zv_normalize_config(), 0);
  auto out = d.image();
  ASSERT_EQ(out.size(), img.size());
  for (size_t k = 0; k < GetParam().te.size(); ++k) EXPECT_EQ(te_of(out, k), GetParam().want) << k;
  // Every byte goes back at its own address, then the dongle recomputes the CRC.
  auto t = d.trace();
  std::vector<Exchange> pokes;
  for (auto &e : t)
    if (e.cmd == "cfg1_poke") pokes.push_back(e);
  ASSERT_EQ(pokes.size(), img.size());
  for (size_t i = 0; i < pokes.size(); ++i) ASSERT_EQ(pokes[i].u32(0), i);
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back().cmd, "updatecrc");
  EXPECT_EQ(valid_v2_config(out.data(), out.size()), 1);
}

INSTANTIATE_TEST_SUITE_P(Examples, Normalize,
                         ::testing::Values(NormCase{{130, 200, 210, 200, 210}, 200},
                                           NormCase{{130, 130, 130}, 0xFFFFFFFFu},
                                           NormCase{{7, 9, 9, 130}, 9},
                                           // 0xFFFFFFFF is a value, not an empty entry.
                                           NormCase{{0xFFFFFFFFu, 200, 0xFFFFFFFFu, 0xFFFFFFFFu}, 0xFFFFFFFFu}));

TEST(NormalizeFaults, OnlyWholeRecordsInsideTheImage) {
  Dongle d(1);
  auto img = make_image({50, 60});
  img[8] = 200;  // the header claims 200 records; the image holds 2
  img.resize(img.size() + 5, 0xEE);
  d.set_image(img);
  LevelGuard g;
  set_loglevel(0);
  ASSERT_EQ(zv_normalize_config(), 0);
  auto out = d.image();
  EXPECT_EQ(te_of(out, 0), 50u);
  EXPECT_EQ(te_of(out, 1), 50u);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 5, out.end()), std::vector<uint8_t>(5, 0xEE));
}

TEST(NormalizeFaults, PartialWriteFailsWithoutCrcUpdate) {
  Dongle d(1);
  d.set_image(make_image({130, 200}));
  d.fail("cfg1_poke", 10);
  d.clear_trace();
  LogCapture cap;
  EXPECT_EQ(zv_normalize_config(), -1);
  EXPECT_EQ(d.trace("cfg1_poke").size(), 10u);
  EXPECT_TRUE(d.trace("updatecrc").empty());
  EXPECT_NE(cap.text(1).find("can't write to address\n"), std::string::npos);
}

TEST(NormalizeFaults, UnreadableImage) {
  Dongle d(1);
  d.fail("cfg1_size", 1);
  LogCapture cap;
  EXPECT_EQ(zv_normalize_config(), -1);
  EXPECT_NE(cap.text(1).find("couldn't get config\n"), std::string::npos);
}

class SelfTest : public ::testing::TestWithParam<int> {};

TEST_P(SelfTest, PassesInLoopback) {
  Dongle d(GetParam());
  d.set_loopback(true);
  LevelGuard g;
  set_loglevel(0);
  EXPECT_EQ(zv_unit_test(), 0);
  // The three test buttons stay recorded.
  auto img = d.image();
  EXPECT_EQ(img[8], 3);
  ASSERT_EQ(d.transmitted().size(), 3u);
  EXPECT_EQ(d.transmitted()[0].size(), 40u);
  EXPECT_EQ(d.transmitted()[0][0], 0);
}

INSTANTIATE_TEST_SUITE_P(Revisions, SelfTest, ::testing::Values(2, 7, 9, 10));

TEST(SelfTestFaults, MissingHashIsNamed) {
  Dongle d(7);
  int n = 0;
  // The receiver loses the tail of the third signal: it records another hash.
  d.set_loopback(true, [&n](std::vector<uint16_t> s) {
    if (++n == 3) s.resize(s.size() - 8);
    return s;
  });
  LogCapture cap;
  EXPECT_EQ(zv_unit_test(), -1);
  EXPECT_NE(cap.text(1).find("can't find hash: test2\n"), std::string::npos) << cap.text(1);
}

TEST(SelfTestFaults, NothingReceived) {
  Dongle d(7);
  LogCapture cap;
  EXPECT_EQ(zv_unit_test(), -1);
  EXPECT_NE(cap.text(1).find("error recording test0\n"), std::string::npos) << cap.text(1);
}

}  // namespace
