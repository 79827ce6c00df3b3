// Pattern hash of an edge list: short / long / gap symbols, then djb2.
//
// Stored button hashes depend on every step below, its truncations and the order
// of its passes included; do not "improve" the arithmetic.
#include "codara/codara.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/ir_hash");

namespace {

char symbol(uint16_t edge, uint16_t max_edge, uint16_t line) {
  if (edge > max_edge) return 'G';
  return edge > line ? 'L' : 'S';
}

// The distinct classifiable durations of a capture and how often each occurs, while
// there are few: decoders hash cleaned edges, which take a handful of values, and
// the passes then weigh a few durations instead of walking every edge.
struct Durations {
  static constexpr int kMax = 6;
  uint16_t value[kMax];
  size_t count[kMax];
  int kinds = 0;  // kMax + 1: too many to keep
  void add(uint16_t v) {
    if (kinds > kMax) return;
    for (int k = 0; k < kinds; ++k) {
      if (value[k] == v) {
        ++count[k];
        return;
      }
    }
    if (kinds == kMax) {
      kinds = kMax + 1;
      return;
    }
    value[kinds] = v;
    count[kinds++] = 1;
  }
  bool complete() const { return kinds <= kMax; }
};

}  // namespace

extern "C" uint32_t ir_hash(uint16_t *buf, size_t len, uint16_t _max_edge) {
  const uint16_t M = _max_edge;
  if (buf == nullptr || len < 2) {
    LOGE("Invalid Protocol");
    return 0;
  }

  // Initial means: the longest classifiable edge and the shortest edge (edge 0,
  // usually a leader, is left out of the classification). Also the total of the
  // classifiable edges (at most the max edge), which every pass splits into long
  // and short: the short side of a pass is the total less its long side.
  uint16_t long_mean = 0;
  uint16_t short_mean = buf[1];
  uint64_t edge_sum = 0, edge_count = 0;
  // Cleaned edges take a few values: then the means and the total come from those.
  Durations seen;
  uint16_t shortest_gap = 0xFFFF;
  for (size_t i = 1; i < len && seen.complete(); ++i) {
    const uint16_t v = buf[i];
    if (v <= M)
      seen.add(v);
    else if (v < shortest_gap)
      shortest_gap = v;
  }
  if (seen.complete()) {
    short_mean = shortest_gap;
    for (int k = 0; k < seen.kinds; ++k) {
      const uint16_t v = seen.value[k];
      if (v < M && v > long_mean) long_mean = v;
      if (v < short_mean) short_mean = v;
      edge_sum += uint64_t{v} * seen.count[k];
      edge_count += seen.count[k];
    }
  } else {
    for (size_t i = 1; i < len; ++i) {
      const uint16_t v = buf[i];
      if (v < M && v > long_mean) long_mean = v;
      if (v < short_mean) short_mean = v;
      if (v <= M) {
        edge_sum += v;
        ++edge_count;
      }
    }
  }

  // Sums run on across the three passes: each pass refines the means.
  uint64_t long_sum = 0, long_count = 0, short_sum = 0, short_count = 0;
  uint16_t line = 0;
  for (int pass = 0; pass < 3; ++pass) {
    line = static_cast<uint16_t>((short_mean + long_mean) / 2);
    uint64_t pass_sum = 0, pass_count = 0;
    if (seen.complete()) {
      for (int k = 0; k < seen.kinds; ++k) {
        if (seen.value[k] <= line) continue;
        pass_sum += uint64_t{seen.value[k]} * seen.count[k];
        pass_count += seen.count[k];
      }
    } else {
      for (size_t i = 1; i < len; ++i) {
        const uint16_t v = buf[i];
        const bool is_long = v > line && v <= M;
        pass_sum += is_long ? v : 0;
        pass_count += is_long ? 1 : 0;
      }
    }
    long_sum += pass_sum;
    long_count += pass_count;
    short_sum += edge_sum - pass_sum;
    short_count += edge_count - pass_count;
    if (short_count == 0 || long_count == 0) {
      LOGE("Invalid Protocol");
      return 0;
    }
    long_mean = static_cast<uint16_t>(long_sum / long_count);
    short_mean = static_cast<uint16_t>(short_sum / short_count);
  }
  if (long_sum == 0 || short_sum == 0) {
    LOGE("Invalid Protocol");
    return 0;
  }

  uint32_t hash = 5381;
  for (size_t i = 0; i < len; ++i) hash = hash * 33u + static_cast<uint8_t>(symbol(buf[i], M, line));
  return hash;
}
