// Sony pulse-width codec: 12-, 15- and 20-bit frames, least significant bit first.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/sony.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/sony");

namespace {

using namespace codara::sony;

constexpr uint16_t kHashMaxEdge = 2100;

// Bits per frame, indexed by protocol - RC_PROTO_SONY12.
constexpr int kBitCount[] = {12, 15, 20};

// Bit i of v becomes bit 31 - i: each byte reversed, the bytes in reverse order.
uint32_t reverse32(uint32_t v) {
  return uint32_t{lookup[v & 0xFF]} << 24 | uint32_t{lookup[(v >> 8) & 0xFF]} << 16 |
         uint32_t{lookup[(v >> 16) & 0xFF]} << 8 | lookup[v >> 24];
}

int ir_sony_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  // First bit received ends up highest; no shift follows a bit read at the last edge.
  uint32_t v = 0;
  for (int i = 2; i < n; i += 2) {
    if (ir->buf[i] > kMarkSplit) v |= 1;
    if (i != n - 1) v <<= 1;
  }
  // Cleaned, a mark and a space alike are one unit unless longer than the split.
  if (n > 0) p->buf[0] = kLeaderMark;
  for (int i = 1; i < n; ++i) p->buf[i] = ir->buf[i] > kMarkSplit ? kOneMark : kZeroMark;
  p->len = static_cast<uint16_t>(n);
  codara::store_key_gap(p->buf, sizeof p->buf / sizeof p->buf[0], n, kKeyGapMs);
  p->hash = ir_hash(p->buf, static_cast<size_t>(n), kHashMaxEdge);
  p->fullcode = v;
  p->scancode = reverse32(v);
  p->bits = static_cast<uint32_t>(n > 0 ? (n - 1) / 2 : 0);

  const uint32_t s = p->scancode;
  LOGV("Decoded: %c%c%c%c%c%c%c%c %c%c%c%c%c%c%c%c", codara::bit_char(s, 15), codara::bit_char(s, 14),
       codara::bit_char(s, 13), codara::bit_char(s, 12), codara::bit_char(s, 11), codara::bit_char(s, 10),
       codara::bit_char(s, 9), codara::bit_char(s, 8), codara::bit_char(s, 7), codara::bit_char(s, 6),
       codara::bit_char(s, 5), codara::bit_char(s, 4), codara::bit_char(s, 3), codara::bit_char(s, 2),
       codara::bit_char(s, 1), codara::bit_char(s, 0));

  switch (p->bits) {
    case 12:
      p->protocol = RC_PROTO_SONY12;
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- Device: 0x%X Function: 0x%X", "SONY{12}",
               lookup[(v << 3) & 0xFF], lookup[(v >> 4) & 0xFE]);
      break;
    case 15:
      p->protocol = RC_PROTO_SONY15;
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- Device: 0x%X Function: 0x%X", "SONY{15}", lookup[v & 0xFF],
               lookup[(v >> 7) & 0xFE]);
      break;
    case 20:
      p->protocol = RC_PROTO_SONY20;
      codara::format_text(p->desc, sizeof p->desc, "%-13s -- Device: 0x%X Sub-Device: 0x%X Function: 0x%X", "SONY{20}",
               lookup[(v >> 5) & 0xF8], lookup[v & 0xFF], lookup[(v >> 12) & 0xFE]);
      break;
    default:
      LOGW("Sony invalid bitcount %u", static_cast<unsigned>(n));
      return -1;
  }
  return 0;
}

int sony_encode(enum rc_proto protocol, uint32_t scancode, ir_packet *ir) {
  ir->buf[0] = kLeaderMark;
  ir->buf[1] = kSpace;
  int k = 0;
  if (protocol >= RC_PROTO_SONY12 && protocol <= RC_PROTO_SONY20) {
    k = kBitCount[protocol - RC_PROTO_SONY12];
    LOGV("bit count: %d", k);
    LOGV("mask: 0x%X", 1u << (k - 1));
  } else {
    LOGE("unsupported protocol: %d", protocol);
    LOGV("bit count: %d", 0);
    LOGV("mask: 0x%X", 0);
  }
  // Scancode bits 32-k .. 31: the bits below are not sent.
  for (int j = 0; j < k; ++j) {
    ir->buf[2 + 2 * j] = ((scancode >> (32 - k + j)) & 1) ? kOneMark : kZeroMark;
    ir->buf[3 + 2 * j] = kSpace;
  }
  ir->len = static_cast<uint16_t>(2 * k + 1);
  ir->buf[ir->len] = 0;  // the last bit's space is not part of the frame
  ir->elapsed = kKeyGapMs;
  return 0;
}

int sony_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  ir_packet frame{};
  sony_encode(protocol, scancode, &frame);
  // Sony receivers want a key at least three times.
  const uint8_t repeat = rep == 1 ? 3 : codara::device_repeat(rep);
  return codara::send_key(LOG_SITE, frame.buf, frame.len, kKeyGapMs, repeat);
}

IR_PROTOCOL_HANDLER sony_handler = {
    {},
    (uint64_t{1} << RC_PROTO_SONY12) | (uint64_t{1} << RC_PROTO_SONY15) | (uint64_t{1} << RC_PROTO_SONY20),
    ir_sony_decode,
    nullptr,
    sony_encode,
    sony_transmit,
    12000,
    0,
};

struct protocol __proto_SONY = {"irprotocol", "SONY", &sony_handler, {}};

}  // namespace

extern "C" void SONY__irprotocol(void) { _register_protocol_irprotocol(&__proto_SONY); }
