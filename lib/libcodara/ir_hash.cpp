// Pattern hash of an edge list: short / long / gap symbols, then djb2.
//
// Stored button hashes depend on every step below, its truncations and the order
// of its passes included; do not "improve" the arithmetic. What is done faster here
// computes the same numbers: the edge walks are written so that the compiler runs
// them several edges at a time.
#include <array>

#include "codara/codara.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/ir_hash");

namespace {

// Decoders hash cleaned edges, which take a handful of durations: then the passes
// weigh those few durations instead of walking every edge.
constexpr int kKinds = 3;
constexpr size_t kLeadingEdges = 8;

// The classifiable durations (at most the max edge) of edges 1 .. len-1 and how
// often each occurs, while there are at most kKinds; `complete` when none is left out.
struct Durations {
  uint16_t value[kKinds] = {};
  uint64_t count[kKinds];
  int kinds = 0;
  bool complete = false;

  Durations(const uint16_t *buf, size_t len, uint16_t max_edge) {
    // The durations of the leading edges first; more kinds than kKinds there: raw
    // edges, not worth counting.
    size_t next = 1;  // every classifiable edge before it has a known duration
    for (const size_t lead = len < kLeadingEdges + 1 ? len : kLeadingEdges + 1; next < lead; ++next) {
      if (known(buf[next], max_edge)) continue;
      if (kinds == kKinds) return;
      value[kinds++] = buf[next];
    }
    // Count; with some edge left over, the next duration not yet known joins, once:
    // cleaned edges whose leading ones miss a duration, not raw ones, are worth it.
    for (int counts = 0;; ++counts) {
      if (kinds > 0 && (counts == 2 || count_all(buf, len, max_edge))) return;
      while (next < len && known(buf[next], max_edge)) ++next;
      if (next == len) {  // only with nothing classifiable at all
        complete = true;
        return;
      }
      if (kinds == kKinds) return;
      value[kinds++] = buf[next++];
    }
  }

  bool known(uint16_t v, uint16_t max_edge) const {
    bool seen = v > max_edge;
    for (int k = 0; k < kKinds; ++k) seen = seen || (k < kinds && value[k] == v);
    return seen;
  }

  // Counts every known duration; true when that accounts for every classifiable edge.
  bool count_all(const uint16_t *buf, size_t len, uint16_t max_edge) {
    return kinds <= 2 ? count_first<2>(buf, len, max_edge) : count_first<kKinds>(buf, len, max_edge);
  }

  // Counts the first K slots (unused ones repeat the first duration; their counts are not read).
  template <int K>
  bool count_first(const uint16_t *buf, size_t len, uint16_t max_edge) {
    uint16_t v[K];
    for (int k = 0; k < K; ++k) v[k] = k < kinds ? value[k] : value[0];
    uint64_t c[K] = {}, classifiable = 0;
    // 16-bit counters run side by side; a block of at most 65535 edges cannot overflow them.
    for (size_t from = 1; from < len;) {
      const size_t to = len - from > 0xFFFF ? from + 0xFFFF : len;
      uint16_t n[K] = {}, nc = 0;
      for (size_t i = from; i < to; ++i) {
        for (int k = 0; k < K; ++k) n[k] = static_cast<uint16_t>(n[k] + (buf[i] == v[k] ? 1 : 0));
        nc = static_cast<uint16_t>(nc + (buf[i] <= max_edge ? 1 : 0));
      }
      for (int k = 0; k < K; ++k) c[k] += n[k];
      classifiable += nc;
      from = to;
    }
    uint64_t counted = 0;
    for (int k = 0; k < kinds; ++k) {
      count[k] = c[k];
      counted += c[k];
    }
    complete = counted == classifiable;
    return complete;
  }
};

// 33^k modulo 2^32, k = 0 .. kSymbolEdges, and the same backwards.
constexpr size_t kSymbolEdges = IR_MAX_EDGES;
constexpr std::array<uint32_t, kSymbolEdges + 1> kPow33 = [] {
  std::array<uint32_t, kSymbolEdges + 1> p{};
  p[0] = 1;
  for (size_t k = 1; k < p.size(); ++k) p[k] = p[k - 1] * 33u;
  return p;
}();
constexpr std::array<uint32_t, kSymbolEdges + 1> kPow33Down = [] {
  std::array<uint32_t, kSymbolEdges + 1> p{};
  for (size_t j = 0; j < p.size(); ++j) p[j] = kPow33[kSymbolEdges - j];
  return p;
}();

// 33^0 + ... + 33^(n-1) modulo 2^32, n = 0 .. kSymbolEdges.
constexpr std::array<uint32_t, kSymbolEdges + 1> kPow33Sum = [] {
  std::array<uint32_t, kSymbolEdges + 1> s{};
  for (size_t n = 1; n < s.size(); ++n) s[n] = s[n - 1] + kPow33[n - 1];
  return s;
}();

char symbol(uint16_t edge, uint16_t max_edge, uint16_t line) {
  if (edge > max_edge) return 'G';
  return edge > line ? 'L' : 'S';
}

// djb2 over the symbols: hash * 33 + symbol for edge after edge.
uint32_t djb2_symbols(const uint16_t *buf, size_t len, uint16_t max_edge, uint16_t line) {
  if (len > kSymbolEdges || line > max_edge) {
    uint32_t hash = 5381;
    for (size_t i = 0; i < len; ++i) hash = hash * 33u + static_cast<uint8_t>(symbol(buf[i], max_edge, line));
    return hash;
  }
  // Unrolled, that is 5381 * 33^len plus each symbol times 33^(len-1-i), modulo
  // 2^32. A symbol is 'S' less 7 above the line and less 5 more above the max edge
  // (the line, halfway between two means of classifiable edges, is never above
  // it), so the sum is 'S' times the sum of the powers less the powers of those
  // edges, which add up without a chain of multiplies.
  static_assert('S' - 'L' == 7 && 'L' - 'G' == 5);
  const uint32_t *power = kPow33Down.data() + (kSymbolEdges + 1 - len);  // power[i] = 33^(len-1-i)
  uint32_t above_line = 0, above_max = 0;
  for (size_t i = 0; i < len; ++i) {
    const uint16_t v = buf[i];
    const uint32_t p = power[i];
    above_line += v > line ? p : 0u;
    above_max += v > max_edge ? p : 0u;
  }
  return 5381u * kPow33[len] + 'S' * kPow33Sum[len] - 7u * above_line - 5u * above_max;
}

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
  // A gap is the shortest edge only when nothing is classifiable, and then the
  // first pass finds no long edge whatever the means: gaps are left out.
  uint16_t long_mean = 0;
  uint16_t short_mean = 0xFFFF;
  uint64_t edge_sum = 0, edge_count = 0;
  const Durations seen(buf, len, M);
  if (seen.complete) {
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
  return djb2_symbols(buf, len, M, line);
}
