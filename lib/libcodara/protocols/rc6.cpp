// RC6 mode-0 bi-phase codec: leader, start bit, three mode bits, the double-width
// toggle bit and 16 data bits (address, command).
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/rc6.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/rc6");

namespace {

using namespace codara::rc6;

constexpr uint16_t kHashMaxEdge = 2400;

// Flipped after every frame built, sent or not.
int toggle = 0;

// Past the leader, start bit's first half: a half bit, a full bit, or a half bit
// merged with the double-width toggle.
uint16_t clean_edge(uint16_t t) { return t > kLongSplit ? kToggleEdge : (t < kShortSplit ? kHalfBit : kFullBit); }

int rc6_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  constexpr uint16_t kHead[] = {kLeaderMark, kLeaderSpace, kHalfBit};
  for (int i = 0; i < n && i < 3; ++i) p->buf[i] = kHead[i];
  for (int i = 3; i < n; ++i) p->buf[i] = clean_edge(ir->buf[i]);
  p->len = static_cast<uint16_t>(n);
  codara::store_key_gap(p->buf, sizeof p->buf / sizeof p->buf[0], n, kKeyGapMs);
  p->hash = ir_hash(p->buf, static_cast<size_t>(n), kHashMaxEdge);

  // Start bit, then the three mode bits.
  uint32_t v = 1;
  uint32_t got = 0;
  const int r = manchester_decode(ir->buf + 3, n - 3, 3, &v, &got, kHalfBit, kFullBit);
  int i = r + 3;
  LOGV("bits: %x", v);

  // Edges past the end of a short capture read as 0, so a truncated frame decodes to
  // whatever it holds instead of reading beyond it.
  auto edge = [ir, n](int k) { return codara::edge_at(ir->buf, n, k); };
  if (edge(i) < kShortSplit) {
    LOGV("not on toggle bit, moving index");
    ++i;
  }
  LOGV("going to second toggle bit");
  LOGV("Second toggle bit is: %d", edge(i + 1));

  // The toggle's parity tells where it starts (even: with a mark); the edge after it
  // tells whether the first data bit differs from it.
  const bool long_next = edge(i + 1) > kLongSplit;
  if (i % 2 == 0) {
    LOGV("toggle is a one bit, shifting in one");
    v = (v << 1) | 1;
    LOGV("bits: %x", v);
    v = (v << 1) | (long_next ? 0 : 1);
  } else {
    LOGV("toggle is a zero bit, shifting in zero");
    v <<= 1;
    LOGV("bits: %x", v);
    v = (v << 1) | (long_next ? 1 : 0);
  }
  i += long_next ? 2 : 3;

  p->bits = 0;
  if (i < n) manchester_decode(ir->buf + i, n - i, 15, &v, &p->bits, kHalfBit, kFullBit);
  p->fullcode = v;
  LOGV("bits: %X", v);
  p->scancode = v & 0xFFFF;
  p->protocol = RC_PROTO_RC6_0;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADD: 0x%X CMD: 0x%X T:%d", "RC6", (v >> 8) & 0xFF, v & 0xFF,
           (v >> 16) & 1);
  return 0;
}

// Leader stand-in, start bit, mode 000, toggle, 16 data bits; then the leader and the
// double-width toggle are written over the plain bi-phase edges.
void build_frame(uint32_t scancode, ir_packet *ir) {
  const uint32_t frame = (scancode & 0xFFFFu) | (static_cast<uint32_t>(toggle) << 16) | 0x300000u;
  encode_manchester(frame, 22, kHalfBit, ir->buf, &ir->len);
  ir->buf[0] = kLeaderMark;
  ir->buf[1] = kLeaderSpace;
  int fix;
  if (toggle) {
    ir->buf[8] += kHalfBit;
    fix = 9;
  } else {
    ir->buf[9] = kFullBit;
    fix = 10;
  }
  const int data15 = (scancode >> 15) & 1;
  if (toggle == data15)
    ir->buf[fix] = kFullBit;
  else
    ir->buf[fix] += kHalfBit;
  toggle ^= 1;
  ir->elapsed = kKeyGapMs;
}

int rc6_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  build_frame(scancode, ir);
  return 0;
}

int rc6_transmit(enum rc_proto, uint32_t scancode, int rep) {
  ir_packet frame{};
  build_frame(scancode, &frame);
  return codara::send_key(LOG_SITE, frame.buf, frame.len, kKeyGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER rc6_handler = {
    {}, uint64_t{1} << RC_PROTO_RC6_0, rc6_decode, nullptr, rc6_encode, rc6_transmit, 36000, 27000,
};

struct protocol __proto_RC6 = {"irprotocol", "RC6", &rc6_handler, {}};

}  // namespace

extern "C" void RC6__irprotocol(void) { _register_protocol_irprotocol(&__proto_RC6); }
