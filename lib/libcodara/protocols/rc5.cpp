// RC5 bi-phase codec: the basic 14-bit frame, the 15-bit SZ form and the 20-bit
// extended form decode; the basic form encodes and transmits with an alternating toggle.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/rc5.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/rc5");

namespace {

using namespace codara::rc5;

constexpr uint16_t kHashMaxEdge = 2400;

// Flipped after every frame built, sent or not.
int toggle = 0;

int rc5_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  if (n > 0) p->buf[0] = kHalfBit;
  for (int i = 1; i < n; ++i) p->buf[i] = ir->buf[i] <= kSplit ? kHalfBit : kFullBit;
  p->len = static_cast<uint16_t>(n);
  codara::store_key_gap(p->buf, sizeof p->buf / sizeof p->buf[0], n, kKeyGapMs);
  p->hash = ir_hash(p->buf, static_cast<size_t>(n), kHashMaxEdge);

  // The two start bits are both 1; the first two edges belong to them.
  uint32_t v = 3;
  manchester_decode(ir->buf + 2, n - 2, 18, &v, &p->bits, kFullBit, kHalfBit);
  p->fullcode = v;

  switch (p->bits) {
    case 11:
    case 12:
      p->protocol = RC_PROTO_RC5;
      p->scancode = (v & 0x3F) | (((v >> 6) & 0x1F) << 8);
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADD: 0x%X CMD: 0x%X T:%d", "RC5", (v >> 6) & 0x1F, v & 0x3F,
               (v >> 11) & 1);
      break;
    case 13:
      p->protocol = RC_PROTO_RC5_SZ;
      p->scancode = (v & 0x3F) | (((v >> 6) & 0xBF) << 6);
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADD: 0x%X CMD: 0x%X T:%d", "RC5-SZ", (v >> 6) & 0xBF,
               v & 0x3F, (v >> 12) & 1);
      break;
    case 18:
      p->protocol = RC_PROTO_RC5X_20;
      p->scancode = (v & 0x3F) | (((v >> 6) & 0x3F) << 8) | (((v >> 12) & 0x1F) << 16);
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADD: 0x%X CMD: 0x%X T:%d", "RC5X-20", (v >> 12) & 0x1F,
               (v >> 6) & 0x3F, (v >> 17) & 1);
      break;
    default:
      LOGE("unknown error: %d", p->bits);
      return -1;
  }
  return static_cast<int>(p->scancode);
}

// Start bits, toggle, then scancode bits 8-13 as frame bits 6-11 and bits 0-5 in place.
void build_frame(uint32_t scancode, ir_packet *ir) {
  const uint32_t frame = 0x3000u | (static_cast<uint32_t>(toggle) << 11) | ((scancode >> 2) & 0xFC0u) |
                         (scancode & 0x3Fu);
  encode_manchester(frame, 14, -kHalfBit, ir->buf, &ir->len);
  toggle ^= 1;
  ir->elapsed = kKeyGapMs;
}

int rc5_encode(enum rc_proto protocol, uint32_t scancode, ir_packet *ir) {
  if (protocol != RC_PROTO_RC5) {
    LOGE("unsupported encoder: %d", protocol);
    return -1;
  }
  build_frame(scancode, ir);
  return 0;
}

int rc5_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  if (protocol != RC_PROTO_RC5) {
    LOGE("unsupported encoder: %d", protocol);
    return -1;
  }
  ir_packet frame{};
  build_frame(scancode, &frame);
  return codara::send_key(LOG_SITE, frame.buf, frame.len, kKeyGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER rc5_handler = {
    {}, uint64_t{1} << RC_PROTO_RC5, rc5_decode, nullptr, rc5_encode, rc5_transmit, 36000, 0,
};

struct protocol __proto_RC5 = {"irprotocol", "RC5", &rc5_handler, {}};

}  // namespace

extern "C" void RC5__irprotocol(void) { _register_protocol_irprotocol(&__proto_RC5); }
