#define _GNU_SOURCE
#include "fake_clock.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static int fake_on;
static uint64_t fake_now_us;
static uint64_t fake_start_us;
static uint64_t fake_step_us;

/* Starts well away from the epoch so the interval arithmetic sees ordinary values. */
#define FAKE_EPOCH_US (1700000000ull * 1000000ull)

void fake_clock_start(uint64_t step_us) {
  fake_now_us = FAKE_EPOCH_US;
  fake_start_us = fake_now_us;
  fake_step_us = step_us;
  fake_on = 1;
}

void fake_clock_stop(void) { fake_on = 0; }

uint64_t fake_clock_elapsed_us(void) { return fake_now_us - fake_start_us; }

int gettimeofday(struct timeval *restrict tv, void *restrict tz) {
  (void)tz;
  if (!fake_on) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
  }
  tv->tv_sec = (time_t)(fake_now_us / 1000000);
  tv->tv_usec = (suseconds_t)(fake_now_us % 1000000);
  fake_now_us += fake_step_us;
  return 0;
}

/* Pauses move the fake clock instead of waiting. */
int usleep(useconds_t us) {
  if (fake_on) {
    fake_now_us += us;
    return 0;
  }
  struct timespec ts = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
  return nanosleep(&ts, NULL);
}
