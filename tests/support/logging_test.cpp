#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "zivra/logging.h"
#include "tests/capture.h"

namespace {

TEST(Logging, DefaultLevelPrintsErrorsAndWarningsOnly) {
  EXPECT_EQ(get_loglevel(), 2);
  LogCapture cap;
  _log(2, "w%d\n", 1);
  _log(3, "i%d\n", 2);
  _log(0, "never\n");
  EXPECT_EQ(cap.text(2), "w1\n");
  EXPECT_EQ(cap.text(3), "");
  EXPECT_EQ(cap.text(0), "");
}

TEST(Logging, LevelIsClampedAtFiveAndZeroSilences) {
  LevelGuard guard;
  set_loglevel(9);
  EXPECT_EQ(get_loglevel(), 5);
  LogCapture cap;
  for (int l = 1; l <= 5; ++l) _log(l, "x");
  for (int l = 1; l <= 5; ++l) EXPECT_EQ(cap.text(l), "x") << l;
  set_loglevel(0);
  _log(1, "y");
  EXPECT_EQ(cap.text(1), "x");
  set_loglevel(-3);
  EXPECT_EQ(get_loglevel(), -3);
}

TEST(Logging, EpochToDateRefusesBadBuffers) {
  LogCapture cap;
  char buf[40] = "unchanged";
  epoch_to_date(0, buf, 29);
  EXPECT_STREQ(buf, "unchanged");
  epoch_to_date(0, nullptr, 30);
  std::string e = cap.text(1);
  EXPECT_NE(e.find("[E] lib/libtime/timelib epoch_to_date("), std::string::npos) << e;
  EXPECT_NE(e.find("): date string not large enough\n"), std::string::npos) << e;
  EXPECT_NE(e.find("): pointer to string invalid\n"), std::string::npos) << e;
}

}  // namespace
