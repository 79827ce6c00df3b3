// The decode golden corpus: the sample captures kept in the golden file and the
// captures generated from a fixed seed, shared by the tests that decode it.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/codara_decode_corpus.h"
#include "codara/codara.h"

namespace golden_corpus {

using Edges = std::vector<uint16_t>;

struct Capture {
  Edges edges;
  uint16_t len;  // may exceed the edges given (a packet that claims too many)
  uint16_t elapsed;
};

using Rng = decode_bench::Rng;

inline uint16_t clamp16(long v) { return static_cast<uint16_t>(v < 1 ? 1 : v > 65535 ? 65535 : v); }

// ---- Corpus ----

inline Edges encoded(rc_proto proto, uint32_t code) {
  ir_packet pk{};
  if (ir_encode(proto, code, &pk) != 0) return {};
  return Edges(pk.buf, pk.buf + pk.len);
}

// Per-edge jitter of up to `pct` percent, marks drawn a little long and spaces a
// little short, as IR receivers deliver them.
inline Edges jitter(Rng &r, const Edges &e, int pct) {
  Edges out;
  for (size_t i = 0; i < e.size(); ++i) {
    const int bias = i % 2 == 0 ? pct / 3 : -pct / 3;
    const int p = r.between(-pct, pct) + bias;
    out.push_back(clamp16(e[i] + static_cast<long>(e[i]) * p / 100));
  }
  return out;
}

// A short space swallowed by the receiver: mark, space, mark become one mark.
inline Edges merged(Rng &r, Edges e) {
  if (e.size() < 5) return e;
  const size_t i = 2 * r.below(static_cast<uint32_t>((e.size() - 3) / 2));
  e[i] = clamp16(long{e[i]} + e[i + 1] + e[i + 2]);
  e.erase(e.begin() + static_cast<long>(i) + 1, e.begin() + static_cast<long>(i) + 3);
  return e;
}

// A mark broken by a short dropout: one mark becomes mark, space, mark.
inline Edges split(Rng &r, Edges e) {
  if (e.size() < 3) return e;
  const size_t i = 2 * r.below(static_cast<uint32_t>((e.size() + 1) / 2));
  const int t = e[i];
  if (t < 400) return e;
  const int gap = r.between(60, 160);
  const int a = r.between(80, t - gap - 80);
  e[i] = static_cast<uint16_t>(a);
  e.insert(e.begin() + static_cast<long>(i) + 1, {static_cast<uint16_t>(gap), static_cast<uint16_t>(t - a - gap)});
  return e;
}

inline Edges truncated(Rng &r, Edges e) {
  e.resize(r.below(static_cast<uint32_t>(e.size() + 1)));
  return e;
}

inline uint16_t some_elapsed(Rng &r) {
  static const uint16_t kGaps[] = {0, 12, 27, 36, 40, 44, 48, 50, 52, 65, 100, 110, 250, 1000, 65535};
  return kGaps[r.below(sizeof kGaps / sizeof kGaps[0])];
}

// Pulse-distance frame: leader pair, one mark and a 0/1 space per bit, closing mark.
inline Edges pulse_distance(uint16_t lm, uint16_t ls, uint64_t bits, int n, uint16_t mark, uint16_t zero,
                     uint16_t one, uint16_t closing) {
  Edges e{lm, ls};
  for (int k = 0; k < n; ++k) {
    e.push_back(mark);
    e.push_back((bits >> k) & 1 ? one : zero);
  }
  e.push_back(closing);
  return e;
}

inline uint64_t bytes_lsb(std::initializer_list<uint8_t> b) {
  uint64_t v = 0;
  int k = 0;
  for (uint8_t x : b) v |= uint64_t{x} << (8 * k++);
  return v;
}

// XMP: each nibble is a 210 us mark and a space of 625 + 136 * nibble, the halves
// split by a 13.8 ms gap.
inline Edges xmp_frame(Rng &r) {
  int nib[16];
  for (int &n : nib) n = r.between(0, 15);
  nib[4] = 4;
  nib[5] = 4;
  Edges e;
  for (int k = 0; k < 16; ++k) {
    e.push_back(210);
    e.push_back(static_cast<uint16_t>(625 + 136 * nib[k] + 60));
    if (k == 7) {
      e.push_back(210);
      e.push_back(13800);
    }
  }
  e.push_back(210);
  return e;
}

// Sharp/Denon style: 264 us marks, 792 / 1848 us spaces.
inline Edges sharp_frame(Rng &r, int bits) {
  return pulse_distance(264, 1848, r.next(), bits, 264, 792, 1848, 264);
}

// Random marks and spaces drawn from a few durations: a protocol nobody here knows.
inline Edges unknown_frame(Rng &r, int n) {
  const int kinds = r.between(2, 4);
  int d[4];
  for (int &x : d) x = r.between(150, 3000);
  Edges e;
  e.push_back(static_cast<uint16_t>(r.between(2000, 12000)));
  for (int i = 1; i < n; ++i) e.push_back(d[r.below(static_cast<uint32_t>(kinds))]);
  return jitter(r, e, 8);
}

inline Edges garbage(Rng &r, int n) {
  Edges e;
  for (int i = 0; i < n; ++i) e.push_back(static_cast<uint16_t>(r.between(0, r.below(8) == 0 ? 16000 : 5000)));
  return e;
}

struct Source {
  rc_proto proto;
  uint32_t mask;  // scancode bits the encoder uses
};

inline constexpr Source kEncoders[] = {
    {RC_PROTO_NEC, 0xFFFFFFFF},       {RC_PROTO_RC5, 0x1F3F},       {RC_PROTO_RC6_0, 0xFFFF},
    {RC_PROTO_SONY12, 0xFFF00000},    {RC_PROTO_SONY15, 0xFFFE0000}, {RC_PROTO_SONY20, 0xFFFFF000},
    {RC_PROTO_PANASONIC, 0xFFFFFFFF}, {RC_PROTO_ZIVRA, 0xFFFFF},
};

inline void add(std::vector<Capture> &c, Edges e, uint16_t elapsed) {
  const auto n = static_cast<uint16_t>(e.size());
  c.push_back({std::move(e), n, elapsed});
}

// Captures of the default registry.
inline std::vector<Capture> generated(uint64_t seed) {
  Rng r{seed};
  std::vector<Capture> c;
  for (const Source &s : kEncoders) {
    for (int k = 0; k < 40; ++k) {
      const uint32_t code = k == 0 ? 0 : k == 1 ? s.mask : static_cast<uint32_t>(r.next()) & s.mask;
      const Edges e = encoded(s.proto, code);
      add(c, e, some_elapsed(r));
      for (int pct : {5, 12, 20}) add(c, jitter(r, e, pct), some_elapsed(r));
      add(c, merged(r, jitter(r, e, 8)), some_elapsed(r));
      add(c, split(r, jitter(r, e, 8)), some_elapsed(r));
      add(c, truncated(r, jitter(r, e, 8)), some_elapsed(r));
    }
  }
  // Decode-only NEC forms: NECx (4.5 ms leader), Apple, 48-bit, and bad checks.
  for (int k = 0; k < 40; ++k) {
    const auto a = static_cast<uint8_t>(r.next()), f = static_cast<uint8_t>(r.next());
    const auto e = static_cast<uint8_t>(r.next());
    add(c, jitter(r, pulse_distance(4500, 4500, bytes_lsb({a, 0x12, f, uint8_t(~f)}), 32, 560, 560, 1690, 560), 10),
        some_elapsed(r));
    add(c, jitter(r, pulse_distance(9000, 4500, bytes_lsb({a, 0x87, f, 0x44}), 32, 560, 560, 1690, 560), 10),
        some_elapsed(r));
    const uint8_t en = k % 5 == 0 ? e : uint8_t(~e), fn = k % 7 == 0 ? f : uint8_t(~f);
    add(c, jitter(r, pulse_distance(9000, 4500, bytes_lsb({a, 0x34, f, fn, e, en}), 48, 560, 560, 1690, 560), 10),
        some_elapsed(r));
    add(c, jitter(r, xmp_frame(r), 6), some_elapsed(r));
    add(c, jitter(r, sharp_frame(r, 15), 8), some_elapsed(r));
  }
  // Repeat memory: a press, its repeat frames at various distances, then silence.
  for (int k = 0; k < 30; ++k) {
    const Edges frame = jitter(r, encoded(RC_PROTO_NEC, static_cast<uint32_t>(r.next())), 10);
    add(c, frame, some_elapsed(r));
    const int reps = r.between(0, 4);
    for (int i = 0; i < reps; ++i) add(c, jitter(r, {9000, 2250, 560}, 10), static_cast<uint16_t>(r.between(30, 120)));
    if (r.below(3) == 0) add(c, unknown_frame(r, 40), some_elapsed(r));
    if (r.below(3) == 0) add(c, truncated(r, frame), some_elapsed(r));
    // A key held on a Sony or RC5/RC6 remote: the same frame again, toggles flipping.
    const Source &s = kEncoders[1 + r.below(7)];
    const uint32_t code = static_cast<uint32_t>(r.next()) & s.mask;
    for (int i = 0; i < 3; ++i) add(c, jitter(r, encoded(s.proto, code), 10), static_cast<uint16_t>(r.between(10, 60)));
  }
  // Lone repeat frames and the shortest captures.
  for (int k = 0; k < 20; ++k) {
    add(c, jitter(r, {9000, 2250, 560}, 15), some_elapsed(r));
    add(c, garbage(r, r.between(0, 4)), some_elapsed(r));
  }
  // Long unknown captures and garbage of every length.
  for (int k = 0; k < 120; ++k) add(c, unknown_frame(r, r.between(20, 256)), some_elapsed(r));
  for (int k = 0; k < 120; ++k) add(c, garbage(r, r.between(0, 256)), some_elapsed(r));
  // Packets that claim more edges than a packet holds.
  for (int k = 0; k < 4; ++k) c.push_back({garbage(r, 256), static_cast<uint16_t>(257 + k * 100), 40});
  return c;
}

// Captures decoded after the analyzers outside the default sequence are registered.
inline std::vector<Capture> generated_extra(uint64_t seed) {
  Rng r{seed};
  std::vector<Capture> c;
  for (int k = 0; k < 60; ++k) {
    const Edges f = jitter(r, sharp_frame(r, 15), 8);
    add(c, f, some_elapsed(r));
    add(c, jitter(r, f, 5), static_cast<uint16_t>(r.between(34, 54)));
    add(c, jitter(r, pulse_distance(1920, 960, r.next(), 16, 480, 480, 960, 480), 10), some_elapsed(r));
    add(c, jitter(r, pulse_distance(412, 276, r.next(), 12, 164, 276, 500, 164), 10), some_elapsed(r));
    add(c, jitter(r, pulse_distance(315, 315, r.next(), 14, 315, 315, 630, 315), 10), some_elapsed(r));
    const Source &s = kEncoders[r.below(8)];
    add(c, jitter(r, encoded(s.proto, static_cast<uint32_t>(r.next()) & s.mask), 12), some_elapsed(r));
    add(c, unknown_frame(r, r.between(10, 120)), some_elapsed(r));
  }
  return c;
}

struct Golden {
  std::vector<Capture> samples;
  std::map<std::string, std::string> digests;  // "<part> <level> <block>" -> hex
};

inline Golden read_golden(const char *path) {
  Golden g;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind;
    ls >> kind;
    if (kind == "sample") {
      Capture c{};
      unsigned elapsed = 0, v = 0;
      ls >> elapsed;
      c.elapsed = static_cast<uint16_t>(elapsed);
      while (ls >> v) c.edges.push_back(static_cast<uint16_t>(v));
      c.len = static_cast<uint16_t>(c.edges.size());
      g.samples.push_back(std::move(c));
    } else if (kind == "digest") {
      std::string part, level, block, value;
      ls >> part >> level >> block >> value;
      g.digests[part + " " + level + " " + block] = value;
    }
  }
  return g;
}

}  // namespace golden_corpus
