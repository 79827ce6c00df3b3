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

}  // namespace

extern "C" uint32_t ir_hash(uint16_t *buf, size_t len, uint16_t _max_edge) {
  const uint16_t M = _max_edge;
  if (buf == nullptr || len < 2) {
    LOGE("Invalid Protocol");
    return 0;
  }

  // Initial means: the longest classifiable edge and the shortest edge (edge 0,
  // usually a leader, is left out of the classification).
  uint16_t long_mean = 0;
  uint16_t short_mean = buf[1];
  for (size_t i = 1; i < len; ++i) {
    if (buf[i] < M && buf[i] > long_mean) long_mean = buf[i];
    if (buf[i] < short_mean) short_mean = buf[i];
  }

  // Sums run on across the three passes: each pass refines the means.
  uint64_t long_sum = 0, long_count = 0, short_sum = 0, short_count = 0;
  uint16_t line = 0;
  for (int pass = 0; pass < 3; ++pass) {
    line = static_cast<uint16_t>((short_mean + long_mean) / 2);
    for (size_t i = 1; i < len; ++i) {
      if (buf[i] > M) continue;
      if (buf[i] > line) {
        long_sum += buf[i];
        ++long_count;
      } else {
        short_sum += buf[i];
        ++short_count;
      }
    }
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
