// Helpers of the extended protocol codecs: reading edges against nominal durations,
// bi-phase frames as runs of half-bit units, building frames, and the common tail of
// every decode (cleaned form, key gap, hash).
#pragma once
#include <cstddef>
#include <cstdint>

#include "codara/codara.h"
#include "liblog/log.h"

namespace codara::frames {

// An edge reads as `nominal` when it is within this share of it (receivers stretch
// marks and shrink spaces by a fifth or more).
constexpr int kTolerancePct = 40;

bool near(uint16_t t, uint16_t nominal);

// Index of the nominal closest to `t`, or -1 when even that one is not near.
int nearest(uint16_t t, const uint16_t *nominals, int count);

// Half-bit units of a bi-phase frame, mark (1) or space (0) each.
struct Units {
  uint8_t level[4 * IR_MAX_EDGES];
  int count = 0;
  void add(bool mark, int n);
};

// Appends edges from..to-1 of `buf` (edge `from` a mark when `mark_first`), each as the
// nearest whole number of `unit`s, which must be 1 to `max_run`; writes that nominal
// duration to `cleaned[i]`. False when an edge is no such run.
bool add_edges(Units &u, const uint16_t *buf, int from, int to, bool mark_first, uint16_t unit, int max_run,
               uint16_t *cleaned);

// A pulse-distance bit: a mark, then a space for a 0 or a 1.
struct PulseShape {
  uint16_t mark, zero, one;
};

// Reads `nbits` pulse-distance bits, least significant first, from the mark/space
// pairs at `from`; writes their nominal durations to `cleaned`. False when an edge
// is near neither duration it may have.
bool read_pulse_bits(const uint16_t *buf, int from, int nbits, const PulseShape &shape, uint64_t &bits,
                     uint16_t *cleaned);

// Reads `nbits` bi-phase bits from unit `at` on; `one_mark_first` says whether a 1 is
// mark-then-space. Units past the end read as space (a frame's closing space is
// not captured). Bits land most significant first in `value`. False when a bit's
// two halves are alike.
bool read_biphase(const Units &u, int at, int nbits, bool one_mark_first, uint32_t &value);

// Builds an edge list from runs of mark and space: neighbours of one level merge, a
// closing space is dropped.
struct Builder {
  uint16_t *buf;
  uint16_t *len;
  bool have = false;
  bool mark = false;
  void add(bool is_mark, uint32_t us);
  void biphase(uint32_t value, int nbits, bool one_mark_first, uint16_t unit);
  void pulse_bits(uint64_t bits, int nbits, const PulseShape &shape);  // least significant first
  void done();
};

// Key gap (ms) that keeps a frame period of `period_ms` after a frame of these edges.
uint16_t gap_for_period(const uint16_t *buf, int n, uint16_t period_ms);

// Stores the cleaned form's length and key gap and the hash of the cleaned edges.
// Edges above `max_edge` hash as gaps. A frame whose classified edges are all alike
// (every bit the same) still gets a hash: all of them read as short.
void finish(ir_prot *p, int n, uint16_t max_edge, uint16_t gap_ms);

// Encodes one frame and sends it as a key press with the repeat count; the frame's
// own key gap goes with it.
using Encoder = int (*)(rc_proto protocol, uint32_t scancode, ir_packet *ir);
int transmit_encoded(LogSite site, Encoder encode, rc_proto protocol, uint32_t scancode, int rep);

// Bit i of the low `nbits` bits of v, taken most significant first, reversed:
// the value of a field that arrived least significant bit first.
uint32_t reversed(uint32_t v, int nbits);

}  // namespace codara::frames
