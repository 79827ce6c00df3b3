// Helpers shared by the analyzers: 16-bit penalties and the repeat memory.
#pragma once
#include <cstdint>

#include "codara/codara.h"

namespace codara {

// |t - nominal| in 16 bits.
inline uint16_t dist(uint16_t t, uint16_t nominal) {
  return static_cast<uint16_t>(t > nominal ? t - nominal : nominal - t);
}

// Penalties wrap modulo 65536.
inline void add(IR_PROTOCOL_ANALYZER *test, uint32_t penalty) {
  test->acc = static_cast<uint16_t>(test->acc + penalty);
}

// What an analyzer remembers of the previous capture, to flag repeat frames.
struct nec_data_t {
  uint8_t was_nec;           // 2 right after a win, counts down once per reset
  uint8_t prev_edges_count;  // edge count of the last full frame won
};

inline nec_data_t *memory_of(IR_PROTOCOL_ANALYZER *test) { return static_cast<nec_data_t *>(test->priv); }

// One reset per capture: the memory outlives exactly the next capture.
inline void age_memory(IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (d->was_nec != 0) {
    --d->was_nec;
    if (d->was_nec == 0) d->prev_edges_count = 0;
  }
}

// Repeat window of Ortek, Sharp and Denon: ms since the previous capture.
inline bool repeat_in_window(IR_PROTOCOL_ANALYZER *test, const ir_t *ir, uint16_t lo, uint16_t hi) {
  const nec_data_t *d = memory_of(test);
  return d->was_nec != 0 && d->prev_edges_count != 0 && ir->te >= lo && ir->te <= hi;
}

}  // namespace codara
