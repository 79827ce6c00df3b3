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

// The penalty an analyzer gives edge `pos` of duration `t`. Analyzers are written
// as one of these, so that scoring edge by edge and scoring a whole capture at
// once are the same arithmetic.
using Penalty = uint32_t (*)(uint16_t t, uint8_t pos);

// Allowance after scoring edge `pos`: early edges carry leaders whose jitter is
// large; later the allowance grows with the number of edges scored.
constexpr int penalty_limit(uint8_t pos) { return pos <= 5 ? 2500 : pos * 800; }

// From this edge on the allowance exceeds any 16-bit penalty: nothing drops out.
constexpr int kNoLimitFrom = 82;
static_assert(penalty_limit(kNoLimitFrom - 1) < 0xFFFF && penalty_limit(kNoLimitFrom) > 0xFFFF);

// The analyzer's per-edge entry point (IR_PROTOCOL_ANALYZER::analyze).
template <Penalty P>
void analyze_with(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  add(test, P(t, ir->count));
}

// Scores edges 0 .. len-1 of `buf` the way analyze_edge does one edge after the
// other, stopping where the analyzer drops out. Returns false once it has.
// Flattened: the penalty is inlined at every place the loops below use it.
template <Penalty P>
[[gnu::flatten]] bool score_capture(const uint16_t *buf, int len, IR_PROTOCOL_ANALYZER *test) {
  uint16_t acc = test->acc;
  // Adds edge i's penalty; true when the analyzer is then past its allowance.
  auto over = [&](int i) {
    const auto pos = static_cast<uint8_t>(i);
    acc = static_cast<uint16_t>(acc + P(buf[i], pos));
    return acc > penalty_limit(pos);
  };
  // The first six edges one by one, the rest in mark/space pairs: the leader rules
  // and the fixed early allowance fold away, and so do a penalty's tests of parity.
  const int checked = len < kNoLimitFrom ? len : kNoLimitFrom;
  bool out = false;
  for (int i = 0; i < 6 && i < checked && !out; ++i) out = over(i);
  for (int k = 3; !out && 2 * k < checked; ++k) out = over(2 * k) || (2 * k + 1 < checked && over(2 * k + 1));
  if (out) {
    test->acc = acc;
    test->enabled = 0;
    return false;
  }
  auto add_at = [&](int i) { acc = static_cast<uint16_t>(acc + P(buf[i], static_cast<uint8_t>(i))); };
  static_assert(kNoLimitFrom % 2 == 0);
  for (int k = kNoLimitFrom / 2; 2 * k < len; ++k) {
    add_at(2 * k);
    if (2 * k + 1 < len) add_at(2 * k + 1);
  }
  test->acc = acc;
  return true;
}

// Whole-capture scorer of one analyzer record.
using ScoreCapture = bool (*)(const uint16_t *buf, int len, IR_PROTOCOL_ANALYZER *test);

// Registers a built-in analyzer record together with its whole-capture scorer;
// `extended` marks the analyzers of the extended protocols.
void register_analyzer(struct protocol *p, ScoreCapture score, bool extended = false);

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
