// Shared helpers of the IR library tests.
#pragma once
#include <regex>
#include <string>
#include <vector>

#include "codara/codara.h"
#include "tests/capture.h"

namespace codara_test {

// Log text with the source line numbers blanked, so assertions survive edits
// that move code: "[D] mod fn(123): x" becomes "[D] mod fn(#): x".
inline std::string unlined(const std::string &s) {
  static const std::regex line(R"(\((\d+)\): )");
  return std::regex_replace(s, line, "(#): ");
}

inline uint32_t djb2(const std::string &s) {
  uint32_t h = 5381;
  for (unsigned char c : s) h = h * 33u + c;
  return h;
}

inline IR_PROTOCOL_ANALYZER *analyzer_named(const char *name) {
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next) {
    auto *a = ll_entry(n, IR_PROTOCOL_ANALYZER, node);
    if (std::string(a->name) == name) return a;
  }
  return nullptr;
}

inline int dummy_tx(uint16_t *, uint16_t, uint16_t, uint8_t) { return 0; }

// Runs the one-time registration (idempotent).
inline void ensure_registered() { ir_register_tx(dummy_tx); }

// Forgets every analyzer's repeat memory: it lasts at most two resets.
inline void forget_memories() {
  reset_analyzer();
  reset_analyzer();
}

struct Verdict {
  rc_proto proto;
  uint8_t repeat;
};

// One capture through the analyzers in the documented calling order.
inline Verdict run_capture(const std::vector<uint16_t> &edges, uint16_t te = 0) {
  ir_t t{};
  t.te = te;
  for (size_t i = 0; i < edges.size(); ++i) {
    t.buf[i] = edges[i];
    t.count = static_cast<uint8_t>(i);
    analyze_edge(edges[i], &t);
  }
  t.count = static_cast<uint8_t>(edges.size());
  Verdict v{analyze_finish(&t), t.repeat};
  reset_analyzer();
  return v;
}

// Nominal frames.
inline std::vector<uint16_t> nec_frame(uint32_t code, uint16_t leader = 9000) {
  std::vector<uint16_t> e{leader, 4500};
  for (int b = 0; b < 32; ++b) {
    e.push_back(560);
    e.push_back((code >> b) & 1 ? 1690 : 560);
  }
  e.push_back(560);
  return e;
}

inline std::vector<uint16_t> sony_frame(uint32_t bits, int k = 12) {
  std::vector<uint16_t> e{2400, 600};
  for (int b = 0; b < k; ++b) {
    e.push_back((bits >> b) & 1 ? 1200 : 600);
    if (b + 1 < k) e.push_back(600);
  }
  return e;
}

inline std::vector<uint16_t> panasonic_frame(uint64_t bits) {
  std::vector<uint16_t> e{3600, 1600};
  for (int b = 0; b < 48; ++b) {
    e.push_back(445);
    e.push_back((bits >> b) & 1 ? 1335 : 445);
  }
  e.push_back(400);
  return e;
}

inline std::vector<uint16_t> ortek_frame() {
  std::vector<uint16_t> e{1920};
  for (int i = 1; i < 20; ++i) e.push_back(i % 3 ? 480 : 960);
  return e;
}

// A signal no analyzer accepts (a 13 ms leader) made of short and long edges.
inline std::vector<uint16_t> foreign_frame(uint16_t leader = 13000) {
  std::vector<uint16_t> e{leader};
  for (int i = 1; i < 21; ++i) e.push_back(i % 4 == 1 ? 1500 : 300);
  return e;
}

}  // namespace codara_test
