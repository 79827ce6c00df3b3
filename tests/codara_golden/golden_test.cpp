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
#include "tests/codara_golden/corpus.h"
#include "tests/capture.h"

#ifdef ZV_GOLDEN_CAN_RECORD
#include "capture_formats.h"
#endif

namespace {

using namespace golden_corpus;

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

// ---- Golden file ----

std::string hex(uint64_t v) {
  char b[17];
  snprintf(b, sizeof b, "%016" PRIx64, v);
  return b;
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
