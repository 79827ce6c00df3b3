// Differential guard of the decode path: a large, varied corpus decoded in order,
// every output compared with the outputs recorded before the path was tuned.
//
// The corpus is the sample captures (kept in the golden file, so the test does not
// depend on the tool's readers) plus captures generated here from a fixed seed:
// every encoder's frames with receiver-like jitter, merged and split edges, hand-laid
// frames of the decode-only protocols, repeat and toggle sequences, truncated and
// garbage captures and long unknown ones. Each capture is decoded at log levels 3, 4,
// 5 and 0 in turn; per capture we fold into a digest the return value, the whole
// result record, the packet, every analyzer's record and repeat memory, the
// registry, and the log text with line numbers blanked. Digests of blocks of
// captures are what the golden file holds.
//
// Re-recording (only when an output is meant to change):
//   ZV_GOLDEN_RECORD=1 build/dev/tests/codara_golden/codara_golden_test
// ZV_GOLDEN_DUMP=<file> writes every capture's outputs as text, for diffing two builds.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/codara_decode_corpus.h"
#include "codara/codara.h"
#include "tests/capture.h"

#ifdef ZV_GOLDEN_CAN_RECORD
#include "capture_formats.h"
#endif

namespace {

using Edges = std::vector<uint16_t>;

struct Capture {
  Edges edges;
  uint16_t len;  // may exceed the edges given (a packet that claims too many)
  uint16_t elapsed;
};

using Rng = decode_bench::Rng;

struct Fnv {
  uint64_t h = 0xCBF29CE484222325ull;
  void bytes(const void *p, size_t n) {
    auto *c = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ c[i]) * 0x100000001B3ull;
  }
  template <class T>
  void value(const T &v) {
    bytes(&v, sizeof v);
  }
  void text(const std::string &s) {
    value(s.size());
    bytes(s.data(), s.size());
  }
};

uint16_t clamp16(long v) { return static_cast<uint16_t>(v < 1 ? 1 : v > 65535 ? 65535 : v); }

// ---- Corpus ----

Edges encoded(rc_proto proto, uint32_t code) {
  ir_packet pk{};
  if (ir_encode(proto, code, &pk) != 0) return {};
  return Edges(pk.buf, pk.buf + pk.len);
}

// Per-edge jitter of up to `pct` percent, marks drawn a little long and spaces a
// little short, as IR receivers deliver them.
Edges jitter(Rng &r, const Edges &e, int pct) {
  Edges out;
  for (size_t i = 0; i < e.size(); ++i) {
    const int bias = i % 2 == 0 ? pct / 3 : -pct / 3;
    const int p = r.between(-pct, pct) + bias;
    out.push_back(clamp16(e[i] + static_cast<long>(e[i]) * p / 100));
  }
  return out;
}

// A short space swallowed by the receiver: mark, space, mark become one mark.
Edges merged(Rng &r, Edges e) {
  if (e.size() < 5) return e;
  const size_t i = 2 * r.below(static_cast<uint32_t>((e.size() - 3) / 2));
  e[i] = clamp16(long{e[i]} + e[i + 1] + e[i + 2]);
  e.erase(e.begin() + static_cast<long>(i) + 1, e.begin() + static_cast<long>(i) + 3);
  return e;
}

// A mark broken by a short dropout: one mark becomes mark, space, mark.
Edges split(Rng &r, Edges e) {
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

Edges truncated(Rng &r, Edges e) {
  e.resize(r.below(static_cast<uint32_t>(e.size() + 1)));
  return e;
}

uint16_t some_elapsed(Rng &r) {
  static const uint16_t kGaps[] = {0, 12, 27, 36, 40, 44, 48, 50, 52, 65, 100, 110, 250, 1000, 65535};
  return kGaps[r.below(sizeof kGaps / sizeof kGaps[0])];
}

// Pulse-distance frame: leader pair, one mark and a 0/1 space per bit, closing mark.
Edges pulse_distance(uint16_t lm, uint16_t ls, uint64_t bits, int n, uint16_t mark, uint16_t zero,
                     uint16_t one, uint16_t closing) {
  Edges e{lm, ls};
  for (int k = 0; k < n; ++k) {
    e.push_back(mark);
    e.push_back((bits >> k) & 1 ? one : zero);
  }
  e.push_back(closing);
  return e;
}

uint64_t bytes_lsb(std::initializer_list<uint8_t> b) {
  uint64_t v = 0;
  int k = 0;
  for (uint8_t x : b) v |= uint64_t{x} << (8 * k++);
  return v;
}

// XMP: each nibble is a 210 us mark and a space of 625 + 136 * nibble, the halves
// split by a 13.8 ms gap.
Edges xmp_frame(Rng &r) {
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
Edges sharp_frame(Rng &r, int bits) {
  return pulse_distance(264, 1848, r.next(), bits, 264, 792, 1848, 264);
}

// Random marks and spaces drawn from a few durations: a protocol nobody here knows.
Edges unknown_frame(Rng &r, int n) {
  const int kinds = r.between(2, 4);
  int d[4];
  for (int &x : d) x = r.between(150, 3000);
  Edges e;
  e.push_back(static_cast<uint16_t>(r.between(2000, 12000)));
  for (int i = 1; i < n; ++i) e.push_back(d[r.below(static_cast<uint32_t>(kinds))]);
  return jitter(r, e, 8);
}

Edges garbage(Rng &r, int n) {
  Edges e;
  for (int i = 0; i < n; ++i) e.push_back(static_cast<uint16_t>(r.between(0, r.below(8) == 0 ? 16000 : 5000)));
  return e;
}

struct Source {
  rc_proto proto;
  uint32_t mask;  // scancode bits the encoder uses
};

constexpr Source kEncoders[] = {
    {RC_PROTO_NEC, 0xFFFFFFFF},       {RC_PROTO_RC5, 0x1F3F},       {RC_PROTO_RC6_0, 0xFFFF},
    {RC_PROTO_SONY12, 0xFFF00000},    {RC_PROTO_SONY15, 0xFFFE0000}, {RC_PROTO_SONY20, 0xFFFFF000},
    {RC_PROTO_PANASONIC, 0xFFFFFFFF}, {RC_PROTO_ZIVRA, 0xFFFFF},
};

void add(std::vector<Capture> &c, Edges e, uint16_t elapsed) {
  const auto n = static_cast<uint16_t>(e.size());
  c.push_back({std::move(e), n, elapsed});
}

// Captures of the default registry.
std::vector<Capture> generated(uint64_t seed) {
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
std::vector<Capture> generated_extra(uint64_t seed) {
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

// ---- Golden file ----

struct Golden {
  std::vector<Capture> samples;
  std::map<std::string, std::string> digests;  // "<part> <level> <block>" -> hex
};

std::string hex(uint64_t v) {
  char b[17];
  snprintf(b, sizeof b, "%016" PRIx64, v);
  return b;
}

Golden read_golden(const char *path) {
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

#ifdef ZV_GOLDEN_CAN_RECORD
std::vector<Capture> read_samples(const std::string &root) {
  static const char *kFiles[] = {
      "hand/nec32-04-08.mode2", "hand/nec32-04-08.pronto", "hand/nec-family.irctl", "hand/rc5.irctl",
      "hand/rc5.pronto",        "hand/rc6.raw",            "hand/sony.raw",         "hand/sony12.mode2",
      "hand/panasonic.pronto",  "hand/xmp.irctl",          "hand/zivra.mode2",
      "encoded/NEC-0xF708FB04.irctl", "encoded/NECX-0xF7081204.mode2", "encoded/PANASONIC-0x353D0008.pronto",
      "encoded/RC5-0x0535.mode2", "encoded/RC6_0-0x800C.irctl", "encoded/SONY12-0x09500000.mode2",
      "encoded/SONY15-0x97340000.irctl", "encoded/SONY20-0x49D39000.pronto", "encoded/ZIVRA-0x2A135.mode2",
  };
  std::vector<Capture> out;
  for (const char *f : kFiles) {
    std::ifstream in(root + "/samples/" + f);
    std::stringstream ss;
    ss << in.rdbuf();
    for (const auto &cap : codara_cli::parse_captures(ss.str()))
      if (cap.error.empty()) out.push_back({cap.edges, static_cast<uint16_t>(cap.edges.size()), codara_cli::elapsed_ms(cap)});
  }
  return out;
}
#endif

// ---- Decoding and digests ----

// Log text with the prefix's line numbers blanked ("fn(123): " -> "fn(#): "): the
// lines must stay as they are, the places they are written from may move.
std::string unlined(const std::string &s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const size_t eol = s.find('\n', i);
    const size_t end = eol == std::string::npos ? s.size() : eol + 1;
    const size_t open = s.find('(', i);
    const size_t close = open < end ? s.find("): ", open) : std::string::npos;
    if (close != std::string::npos && close < end &&
        s.find_first_not_of("0123456789", open + 1) == close && close > open + 1) {
      out.append(s, i, open + 1 - i);
      out += '#';
      out.append(s, close, end - close);
    } else {
      out.append(s, i, end - i);
    }
    i = end;
  }
  return out;
}

// Everything the decode path may leave behind: analyzer records and repeat
// memories (two bytes where an analyzer keeps one), the registry's order.
void fold_state(Fnv &d, std::string *dump) {
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next) {
    const auto *a = ll_entry(n, IR_PROTOCOL_ANALYZER, node);
    d.text(a->name);
    d.value(a->acc);
    d.value(a->result);
    d.value(a->enabled);
    uint8_t mem[2] = {};
    if (a->priv != nullptr) std::memcpy(mem, a->priv, sizeof mem);
    d.bytes(mem, sizeof mem);
    if (dump != nullptr && (a->acc != 0 || a->result != 0 || a->enabled != 1 || mem[0] != 0 || mem[1] != 0)) {
      char b[96];
      snprintf(b, sizeof b, " [%s acc=%u res=%u en=%u mem=%u,%u]", a->name, a->acc, a->result, a->enabled, mem[0],
               mem[1]);
      *dump += b;
    }
  }
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next)
    d.text(ll_entry(n, struct protocol, node)->name);
  d.text(unknown != nullptr ? unknown->name : "-");
}

std::string describe(int rc, const ir_prot &p) {
  std::string s = "rc=" + std::to_string(rc);
  if (rc < 0) return s;
  char b[256];
  snprintf(b, sizeof b, " proto=%d scan=0x%08X full=0x%" PRIx64 " hash=0x%08X rep=%u bits=%u len=%u pronto=%u desc='%s'",
           p.protocol, p.scancode, p.fullcode, p.hash, p.repeat, p.bits, p.len, p.pronto_len, p.desc);
  s += b;
  s += " buf=";
  for (int i = 0; i < p.len + 2 && i < IR_MAX_EDGES; ++i) s += std::to_string(p.buf[i]) + ",";
  s += " pronto=";
  for (int i = 0; i < p.pronto_len; ++i) s += std::to_string(p.pronto[i]) + ",";
  return s;
}

// Decodes one capture at `level` and returns the digest of all it produced.
uint64_t run_one(const Capture &c, int level, bool also_analyze, std::string *dump) {
  ir_packet pk{};
  for (size_t i = 0; i < c.edges.size() && i < IR_MAX_EDGES; ++i) pk.buf[i] = c.edges[i];
  pk.len = c.len;
  pk.elapsed = c.elapsed;
  const ir_packet before = pk;
  ir_prot p;
  std::memset(&p, 0xA5, sizeof p);  // shows whether a rejected packet leaves it untouched

  Fnv d;
  std::string log;
  int rc;
  {
    LogCapture cap;
    set_loglevel(level);
    rc = ir_decode_packet(&pk, &p);
    if (also_analyze) {
      const rc_proto v = analyze_protocol(pk.buf, pk.len);
      d.value(v);
    }
    set_loglevel(0);
    log = unlined(cap.all());
  }
  d.value(rc);
  d.bytes(&p, sizeof p);
  d.value(std::memcmp(&pk, &before, sizeof pk) == 0);
  d.text(log);
  std::string state;
  fold_state(d, dump != nullptr ? &state : nullptr);
  if (dump != nullptr) *dump += describe(rc, p) + state + "\n" + log;
  return d.h;
}

struct Outputs {
  std::map<std::string, std::string> digests;
  std::string dump;
};

constexpr size_t kBlock = 64;

// Each level in turn over the whole part, block digests keyed "<part> <level> <block>".
void run_part(const char *part, const std::vector<Capture> &corpus, Outputs &out, bool dump) {
  for (int level : {3, 4, 5, 0}) {
    Fnv block;
    for (size_t i = 0; i < corpus.size(); ++i) {
      std::string *d = nullptr;
      if (dump) {
        out.dump += std::string("== ") + part + " L" + std::to_string(level) + " #" + std::to_string(i) + " ";
        d = &out.dump;
      }
      block.value(run_one(corpus[i], level, i % 5 == 0, d));
      if ((i + 1) % kBlock == 0 || i + 1 == corpus.size()) {
        out.digests[std::string(part) + " " + std::to_string(level) + " " + std::to_string(i / kBlock)] = hex(block.h);
        block = Fnv{};
      }
    }
  }
}

uint64_t corpus_digest(const std::vector<Capture> &c) {
  Fnv d;
  for (const Capture &x : c) {
    d.value(x.len);
    d.value(x.elapsed);
    d.bytes(x.edges.data(), x.edges.size() * sizeof(uint16_t));
  }
  return d.h;
}

constexpr uint64_t kSeed = 20261209;

TEST(DecodeGolden, EveryOutputAsRecorded) {
  LevelGuard level;
  const bool record = std::getenv("ZV_GOLDEN_RECORD") != nullptr;
  const char *dump_path = std::getenv("ZV_GOLDEN_DUMP");
  Golden g = read_golden(GOLDEN_FILE);
  if (record) {
#ifdef ZV_GOLDEN_CAN_RECORD
    const char *root = std::getenv("ZV_SOURCE_DIR");
    g.samples = read_samples(root != nullptr ? root : ".");
#else
    FAIL() << "recording needs the tool's capture readers (build with the tools)";
#endif
  }
  ASSERT_GT(g.samples.size(), 20u) << "no sample captures in " << GOLDEN_FILE;

  set_loglevel(0);
  std::vector<Capture> main = g.samples;
  for (Capture &c : generated(kSeed)) main.push_back(std::move(c));
  Outputs run;
  run.digests["corpus main 0"] = hex(corpus_digest(main));
  run_part("main", main, run, dump_path != nullptr);

  set_loglevel(0);
  SHARP__iranalyzer();
  DENON__iranalyzer();
  NOKIA__iranalyzer();
  TDC__iranalyzer();
  const std::vector<Capture> extra = generated_extra(kSeed + 1);
  run.digests["corpus extra 0"] = hex(corpus_digest(extra));
  run_part("extra", extra, run, dump_path != nullptr);

  if (dump_path != nullptr) std::ofstream(dump_path) << run.dump;
  if (record) {
    std::ofstream out(GOLDEN_FILE);
    out << "# Decode outputs recorded by codara_golden_test; see the test for how to re-record.\n";
    for (const Capture &c : g.samples) {
      out << "sample " << c.elapsed;
      for (uint16_t e : c.edges) out << ' ' << e;
      out << '\n';
    }
    for (const auto &[k, v] : run.digests) out << "digest " << k << ' ' << v << '\n';
    return;
  }

  // The corpus itself first: a changed encoder shows here, not as changed outputs.
  EXPECT_EQ(run.digests["corpus main 0"], g.digests["corpus main 0"]) << "generated corpus changed";
  EXPECT_EQ(run.digests["corpus extra 0"], g.digests["corpus extra 0"]) << "generated corpus changed";
  EXPECT_EQ(run.digests.size(), g.digests.size());
  int shown = 0;
  for (const auto &[k, v] : run.digests) {
    if (g.digests[k] == v || k.rfind("corpus", 0) == 0) continue;
    std::istringstream ks(k);
    std::string part;
    int lvl = 0;
    size_t b = 0;
    ks >> part >> lvl >> b;
    ADD_FAILURE() << "outputs differ: " << part << " corpus at log level " << lvl << ", captures " << b * kBlock
                  << " to " << (b + 1) * kBlock - 1 << " (compare ZV_GOLDEN_DUMP of both builds)";
    if (++shown == 10) break;
  }
}

}  // namespace
