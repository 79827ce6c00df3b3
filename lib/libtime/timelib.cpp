// Wall-clock intervals for time-outs and IR pacing, and human-readable dates.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "liblog/log.h"

LOG_MODULE("lib/libtime/timelib");

extern "C" {

uint64_t time_elapsed_us(const struct timeval *start) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  int64_t us = (static_cast<int64_t>(now.tv_sec) - start->tv_sec) * 1000000 +
               (static_cast<int64_t>(now.tv_usec) - start->tv_usec);
  return static_cast<uint64_t>(us);
}

int time_has_elapsed_us(const struct timeval *start, uint64_t us) {
  return time_elapsed_us(start) >= us ? 1 : 0;
}

float get_tstamp(void) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  time_t secs = now.tv_sec;
  struct tm lt;
  localtime_r(&secs, &lt);
  double v = lt.tm_min * 100.0 + lt.tm_sec + now.tv_usec / 1000000.0;
  return static_cast<float>(v);
}

void epoch_to_date(uint32_t seconds, char *date, int date_size) {
  if (date == nullptr) {
    LOGE("pointer to string invalid");
    return;
  }
  if (date_size < 30) {
    LOGE("date string not large enough");
    return;
  }
  // Round-trip through strptime("%s") so the broken-down time is the local one.
  char text[16];
  snprintf(text, sizeof text, "%u", seconds);
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  strptime(text, "%s", &tm);
  strftime(date, static_cast<size_t>(date_size), "%b %d %H:%M %Y", &tm);
}
}
