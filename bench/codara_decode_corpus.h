// Captures the decode benchmarks feed to ir_decode_packet: one row per frame kind of
// the comparison table, and a mixed corpus shaped like a day of real remotes (mostly
// NEC, Sony, RC5/RC6 and Panasonic, some repeat frames, unknown signals of 20 to 100
// edges), with receiver-like jitter. Generated from a fixed seed, so every run and
// every program decodes the same edges.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codara/codara.h"

namespace decode_bench {

struct Frame {
  std::vector<uint16_t> edges;
  uint16_t elapsed;
};

struct Row {
  std::string name;
  std::vector<Frame> frames;
};

// splitmix64: the same sequence on every platform and standard library (the
// decode golden test draws its corpus from it too).
struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  int between(int lo, int hi) { return lo + static_cast<int>(below(static_cast<uint32_t>(hi - lo + 1))); }
};

inline std::vector<uint16_t> encoded(rc_proto proto, uint32_t code) {
  ir_packet pk{};
  ir_encode(proto, code, &pk);
  return {pk.buf, pk.buf + pk.len};
}

// Up to 10 % per edge, marks a little long and spaces a little short.
inline std::vector<uint16_t> jittered(Rng &r, std::vector<uint16_t> e) {
  for (size_t i = 0; i < e.size(); ++i) {
    const int pct = r.between(-10, 10) + (i % 2 == 0 ? 3 : -3);
    e[i] = static_cast<uint16_t>(e[i] + e[i] * pct / 100);
  }
  return e;
}

// XMP: a 210 us mark and a space of about 625 + 136 * nibble per nibble, halves
// split by a 13.8 ms gap: 35 edges.
inline std::vector<uint16_t> xmp(uint32_t seed) {
  std::vector<uint16_t> e;
  for (int k = 0; k < 16; ++k) {
    const int nib = k == 4 || k == 5 ? 4 : static_cast<int>((seed >> (k % 8 * 4)) & 0xF);
    e.push_back(210);
    e.push_back(static_cast<uint16_t>(685 + 136 * nib));
    if (k == 7) {
      e.push_back(210);
      e.push_back(13800);
    }
  }
  e.push_back(210);
  return e;
}

// A signal no analyzer knows: a long leader, then a few durations at random.
inline std::vector<uint16_t> unknown_signal(Rng &r) {
  const int n = r.between(20, 100);
  const int d[3] = {r.between(200, 700), r.between(800, 1500), r.between(1600, 3000)};
  std::vector<uint16_t> e{static_cast<uint16_t>(r.between(3000, 8000))};
  for (int i = 1; i < n; ++i) e.push_back(static_cast<uint16_t>(d[r.between(0, 2)]));
  return e;
}

inline std::vector<Frame> mixed(size_t count) {
  Rng r{0x5EEDC0DE};
  std::vector<Frame> out;
  while (out.size() < count) {
    const auto code = static_cast<uint32_t>(r.next());
    switch (r.between(0, 19)) {
      case 0: case 1: case 2: case 3: case 4:
        out.push_back({jittered(r, encoded(RC_PROTO_NEC, code)), 110});
        break;
      case 5: case 6:
        out.push_back({jittered(r, {9000, 2250, 560}), 40});
        break;
      case 7:
        out.push_back({jittered(r, encoded(RC_PROTO_SONY12, code)), 45});
        break;
      case 8:
        out.push_back({jittered(r, encoded(RC_PROTO_SONY15, code)), 45});
        break;
      case 9:
        out.push_back({jittered(r, encoded(RC_PROTO_SONY20, code)), 45});
        break;
      case 10: case 11:
        out.push_back({jittered(r, encoded(RC_PROTO_RC5, code & 0x1F3F)), 114});
        break;
      case 12: case 13:
        out.push_back({jittered(r, encoded(RC_PROTO_RC6_0, code & 0xFFFF)), 100});
        break;
      case 14: case 15:
        out.push_back({jittered(r, encoded(RC_PROTO_PANASONIC, code)), 75});
        break;
      case 16:
        out.push_back({jittered(r, xmp(code)), 80});
        break;
      default:
        out.push_back({jittered(r, unknown_signal(r)), 500});
        break;
    }
  }
  return out;
}

// The rows of the comparison table, in its order; "mixed" is the realistic mix.
inline std::vector<Row> rows() {
  const std::vector<uint16_t> nec = encoded(RC_PROTO_NEC, 0xF708FB04);
  return {
      {"mixed", mixed(4000)},
      {"nec32", {{nec, 110}}},
      {"nec_repeat", {{{9000, 2250, 560}, 40}}},
      {"sony12", {{encoded(RC_PROTO_SONY12, 0x09500000), 45}}},
      {"sony15", {{encoded(RC_PROTO_SONY15, 0x97340000), 45}}},
      {"sony20", {{encoded(RC_PROTO_SONY20, 0x49D39000), 45}}},
      {"rc5", {{encoded(RC_PROTO_RC5, 0x0535), 114}}},
      {"rc6_0", {{encoded(RC_PROTO_RC6_0, 0x800C), 100}}},
      {"panasonic48", {{encoded(RC_PROTO_PANASONIC, 0x353D0008), 75}}},
      {"xmp", {{xmp(0x2C1FA0), 80}}},
  };
}

inline ir_packet packet(const Frame &f) {
  ir_packet pk{};
  for (size_t i = 0; i < f.edges.size() && i < IR_MAX_EDGES; ++i) pk.buf[i] = f.edges[i];
  pk.len = static_cast<uint16_t>(f.edges.size());
  pk.elapsed = f.elapsed;
  return pk;
}

}  // namespace decode_bench
