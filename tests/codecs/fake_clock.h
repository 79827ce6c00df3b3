// A wall clock the test controls. The test executable defines gettimeofday itself,
// so the library's time-outs and pauses run on this clock instead of real time.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// From now on every gettimeofday call returns the fake time, then advances it by step_us.
void fake_clock_start(uint64_t step_us);
// Back to the real clock.
void fake_clock_stop(void);
// Microseconds of fake time since fake_clock_start.
uint64_t fake_clock_elapsed_us(void);

#ifdef __cplusplus
}
#endif
