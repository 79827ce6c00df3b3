// Pattern hash of an edge list: short / long / gap symbols, then djb2.
//
// Stored button hashes depend on every step below, its truncations and the order
// of its passes included; do not "improve" the arithmetic.
#include "codara/codara.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/ir_hash");

namespace {

uint8_t symbol(uint16_t edge, uint16_t max_edge, uint16_t line) {
  return edge > max_edge ? 'G' : edge > line ? 'L' : 'S';
}

// What the passes need of edges 1 .. len-1: the shortest edge, the longest one
// below the max edge, and the classifiable ones (at most the max edge) by
// duration while there are few: decoders hash cleaned edges, which take a
// handful of values, and the passes then weigh a few durations instead of
// walking every edge.
struct Durations {
  static constexpr int kMax = 6;
  uint16_t value[kMax];
  uint32_t count[kMax];
  int kinds = 0;
  bool complete = true;
  uint16_t shortest = 0xFFFF;

  Durations(const uint16_t *buf, size_t len, uint16_t max_edge) {
    int last = 0;  // edges mostly repeat the kind seen last or the one before
    for (size_t i = 1; i < len; ++i) {
      const uint16_t v = buf[i];
      if (v > max_edge) {
        shortest = v < shortest ? v : shortest;
        continue;
      }
      if (kinds != 0 && value[last] == v) {
        ++count[last];
        continue;
      }
      int k = 0;
      while (k < kinds && value[k] != v) ++k;
      if (k == kinds) {
        if (kinds == kMax) {
          complete = false;
          return;
        }
        value[k] = v;
        count[k] = 0;
        ++kinds;
      }
      ++count[k];
      last = k;
    }
  }
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
  uint16_t short_mean = 0xFFFF;
  uint64_t edge_sum = 0, edge_count = 0;
  const Durations seen(buf, len, M);
  if (seen.complete) {
    short_mean = seen.shortest;
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
    if (seen.complete) {
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

  // hash = hash * 33 + symbol, four edges a step: the four symbols combine apart
  // from the running hash, so each step waits on one multiply instead of four.
  // Arithmetic modulo 2^32 makes both orders the same number.
  constexpr uint32_t k33p2 = 33u * 33u, k33p3 = k33p2 * 33u, k33p4 = k33p3 * 33u;
  uint32_t hash = 5381;
  size_t i = 0;
  for (; i + 4 <= len; i += 4) {
    const uint32_t four = symbol(buf[i], M, line) * k33p3 + symbol(buf[i + 1], M, line) * k33p2 +
                          symbol(buf[i + 2], M, line) * 33u + symbol(buf[i + 3], M, line);
    hash = hash * k33p4 + four;
  }
  for (; i < len; ++i) hash = hash * 33u + symbol(buf[i], M, line);
  return hash;
}
