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

// A decode refuses a capture with a longer edge: no analyzer's timings come near.
constexpr uint16_t kMaxEdgeUs = 14000;

// No built-in analyzer's penalty for one edge of at most kMaxEdgeUs reaches this.
constexpr uint32_t kMaxPenalty = 28000;

// Up to this many edges a penalty cannot wrap: an analyzer still in after edge
// pos - 1 holds at most penalty_limit(pos - 1), and one more penalty keeps the sum
// below 65536. There a penalty only grows, so once past the best one found it stays
// past it.
constexpr int kBoundedEdges = 48;
static_assert(penalty_limit(kBoundedEdges - 2) + kMaxPenalty < 0x10000);

// Scores edges 0 .. len-1 of `buf` the way analyze_edge does one edge after the
// other, stopping where the analyzer drops out, or, when Bounded, where its penalty
// passes `bound` (only meaningful up to kBoundedEdges edges), after which it cannot
// be the closest. Returns false once it has dropped out or passed the bound; past
// the bound it is left enabled, with the penalty reached.
template <Penalty P, bool Bounded>
bool score_edges(const uint16_t *buf, int len, IR_PROTOCOL_ANALYZER *test, uint16_t bound) {
  uint16_t acc = test->acc;
  bool dropped = false;
  // Adds edge i's penalty; true when the analyzer is then past its allowance (or the bound).
  auto over = [&](int i) {
    const auto pos = static_cast<uint8_t>(i);
    acc = static_cast<uint16_t>(acc + P(buf[i], pos));
    dropped = acc > penalty_limit(pos);
    if constexpr (Bounded) return dropped || acc > bound;
    return dropped;
  };
  // The first six edges one by one, the rest in mark/space pairs: the leader rules
  // and the fixed early allowance fold away, and so do a penalty's tests of parity.
  const int checked = len < kNoLimitFrom ? len : kNoLimitFrom;
  bool out = false;
  for (int i = 0; i < 6 && i < checked && !out; ++i) out = over(i);
  for (int k = 3; !out && 2 * k < checked; ++k) out = over(2 * k) || (2 * k + 1 < checked && over(2 * k + 1));
  if (out) {
    test->acc = acc;
    if (!Bounded || dropped) test->enabled = 0;
    return false;
  }
  auto add_at = [&](int e) { acc = static_cast<uint16_t>(acc + P(buf[e], static_cast<uint8_t>(e))); };
  static_assert(kNoLimitFrom % 2 == 0);
  for (int k = kNoLimitFrom / 2; 2 * k < len; ++k) {
    add_at(2 * k);
    if (2 * k + 1 < len) add_at(2 * k + 1);
  }
  test->acc = acc;
  return true;
}

// An analyzer's whole-capture entry points, without and with a bound. Flattened:
// the penalty is inlined at every place the loops use it.
using ScoreCapture = bool (*)(const uint16_t *buf, int len, IR_PROTOCOL_ANALYZER *test, uint16_t bound);
// The first edges that keep an analyzer starting from nothing in, lo .. lo + span:
// on any other it drops out at once. None: lo 0xFFFF, longer than any edge scored.
struct EdgeRange {
  uint16_t lo, span;
  bool holds(uint16_t t) const { return static_cast<uint16_t>(t - lo) <= span; }
};
struct Scorers {
  ScoreCapture all;      // bound ignored
  ScoreCapture bounded;
  EdgeRange (*first_edges)();
};
template <Penalty P, bool Bounded>
[[gnu::flatten]] bool score_capture(const uint16_t *buf, int len, IR_PROTOCOL_ANALYZER *test, uint16_t bound) {
  return score_edges<P, Bounded>(buf, len, test, bound);
}
template <Penalty P>
EdgeRange first_edge_range() {
  static_assert(kMaxEdgeUs < 0xFFFF);
  uint16_t lo = 0xFFFF, hi = 0;
  for (uint16_t t = 0; t <= kMaxEdgeUs; ++t) {
    if (static_cast<uint16_t>(P(t, 0)) > penalty_limit(0)) continue;
    lo = t < lo ? t : lo;
    hi = t;
  }
  return lo == 0xFFFF ? EdgeRange{0xFFFF, 0} : EdgeRange{lo, static_cast<uint16_t>(hi - lo)};
}
template <Penalty P>
constexpr Scorers scorers{score_capture<P, false>, score_capture<P, true>, first_edge_range<P>};

// Registers a built-in analyzer record together with its whole-capture scorers;
// `extended` marks the analyzers of the extended protocols.
void register_analyzer(struct protocol *p, const Scorers &score, bool extended = false);

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
