// Shared helpers of the codec tests: reaching a handler's operations through the
// registry, feeding captures to a decoder or to the whole decode path, and building
// frames by hand from the protocols' nominal timings.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "codara/codara.h"

namespace codec_test {

using Edges = std::vector<uint16_t>;

// Runs the one-time registration: an encode for a protocol no handler serves does
// nothing else.
inline void ensure_registered() {
  ir_packet scratch{};
  ir_encode(RC_PROTO_NEC48, 0, &scratch);
}

// The registered handler whose record is called `name`, or null.
inline const IR_PROTOCOL_HANDLER *handler(const char *name) {
  ensure_registered();
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    auto *rec = ll_entry(n, struct protocol, node);
    if (std::strcmp(rec->name, name) == 0) return static_cast<const IR_PROTOCOL_HANDLER *>(rec->iface);
  }
  return nullptr;
}

// The working record the decode path hands to decoders: the edges, the rest zero
// (or `fill` beyond the capture, to show a decoder never looks there).
inline ir_t working(const Edges &e, uint16_t fill = 0) {
  ir_t t{};
  for (size_t i = 0; i < IR_MAX_EDGES; ++i) t.buf[i] = i < e.size() ? e[i] : fill;
  t.count = static_cast<uint8_t>(e.size());
  return t;
}

struct Direct {
  int rc;
  ir_prot p;
};

// Calls one handler's decoder directly, as the decode path would.
inline Direct decode_with(const char *name, const Edges &e, uint16_t fill = 0) {
  Direct d{};
  ir_t t = working(e, fill);
  const IR_PROTOCOL_HANDLER *h = handler(name);
  EXPECT_NE(h, nullptr) << name;
  if (h != nullptr) d.rc = h->decode(&t, &d.p);
  return d;
}

struct Decoded {
  int rc;
  ir_prot p;
};

// The whole decode path: analyzers, handler, hash check, Pronto form.
inline Decoded decode(const Edges &e, uint16_t elapsed = 100) {
  ir_packet pkt{};
  for (size_t i = 0; i < e.size() && i < IR_MAX_EDGES; ++i) pkt.buf[i] = e[i];
  pkt.len = static_cast<uint16_t>(e.size());
  pkt.elapsed = elapsed;
  Decoded d{};
  d.rc = ir_decode_packet(&pkt, &d.p);
  return d;
}

inline Edges edges_of(const ir_packet &pkt) { return Edges(pkt.buf, pkt.buf + pkt.len); }

inline Edges encode(rc_proto proto, uint32_t scancode) {
  ir_packet pkt{};
  EXPECT_EQ(ir_encode(proto, scancode, &pkt), 0);
  return edges_of(pkt);
}

// Levels with durations -> edge list: neighbours of one level merge, and silence
// before the first mark or after the last one is not part of a capture.
inline Edges merge_levels(const std::vector<std::pair<bool, int>> &levels) {
  Edges out;
  bool have = false, cur = false;
  int sum = 0;
  for (auto [mark, dur] : levels) {
    if (!have && !mark) continue;
    if (have && mark == cur) {
      sum += dur;
      continue;
    }
    if (have) out.push_back(static_cast<uint16_t>(sum));
    have = true;
    cur = mark;
    sum = dur;
  }
  if (have && cur) out.push_back(static_cast<uint16_t>(sum));
  return out;
}

// Pulse-distance frame: leader pair, one mark and one space per bit, closing mark.
inline Edges pulse_distance(uint16_t lead_mark, uint16_t lead_space, const std::vector<int> &bits,
                            uint16_t mark, uint16_t zero, uint16_t one, uint16_t closing) {
  Edges e{lead_mark, lead_space};
  for (int b : bits) {
    e.push_back(mark);
    e.push_back(b ? one : zero);
  }
  e.push_back(closing);
  return e;
}

// Bytes sent least significant bit first.
inline std::vector<int> lsb_first(const std::vector<uint8_t> &bytes) {
  std::vector<int> bits;
  for (uint8_t b : bytes)
    for (int i = 0; i < 8; ++i) bits.push_back((b >> i) & 1);
  return bits;
}

inline Edges nec_frame(const std::vector<uint8_t> &bytes, uint16_t leader = 9000) {
  return pulse_distance(leader, 4500, lsb_first(bytes), 560, 560, 1690, 560);
}

inline std::string desc(const ir_prot &p) { return p.desc; }

}  // namespace codec_test
