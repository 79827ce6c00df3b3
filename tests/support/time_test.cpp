#include <gtest/gtest.h>

#include <sys/time.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tests/capture.h"
#include "tests/support/helpers.h"
#include "zivra/logging.h"

namespace {

timeval now_minus(long seconds) {
  timeval t;
  gettimeofday(&t, nullptr);
  t.tv_sec -= seconds;
  return t;
}

TEST(Time, ElapsedIntervals) {
  timeval start = now_minus(0);
  EXPECT_EQ(time_has_elapsed_us(&start, 0), 1);
  EXPECT_EQ(time_has_elapsed_us(&start, 1000000), 0);

  timeval hour = now_minus(3600);
  uint64_t us = time_elapsed_us(&hour);
  EXPECT_GE(us, 3600000000u);
  EXPECT_LT(us, 3600000000u + 5000000u);
  EXPECT_EQ(time_has_elapsed_us(&hour, 3600000000u), 1);

  // A start in the future (clock set back) counts as a very long interval.
  timeval future = now_minus(-60);
  EXPECT_GT(time_elapsed_us(&future), uint64_t{1} << 63);
  EXPECT_EQ(time_has_elapsed_us(&future, 1000000), 1);
}

TEST(Time, TimestampFoldsMinutesAndSeconds) {
  float v = get_tstamp();
  EXPECT_GE(v, 0.0f);
  EXPECT_LT(v, 6000.0f);
  EXPECT_LT(static_cast<int>(v) % 100, 60);
}

class TimeUtc : public testing::Test {
 protected:
  void SetUp() override {
    const char *tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(TimeUtc, EpochToDate) {
  char buf[30];
  epoch_to_date(0, buf, 30);
  EXPECT_STREQ(buf, "Jan 01 00:00 1970");
  epoch_to_date(1700000000u, buf, 30);
  EXPECT_STREQ(buf, "Nov 14 22:13 2023");
  epoch_to_date(4294967295u, buf, 30);
  EXPECT_STREQ(buf, "Feb 07 06:28 2106");
}

TEST_F(TimeUtc, EpochToDateRefusesSmallBufferByteForByte) {
  LogCapture cap;
  char buf[40] = "unchanged";
  epoch_to_date(0, buf, 29);
  EXPECT_STREQ(buf, "unchanged");
  EXPECT_EQ(cap.text(1), log_line('E', "lib/libtime/timelib", "epoch_to_date", "date string not large enough",
                                  "date string not large enough"));
}

}  // namespace
