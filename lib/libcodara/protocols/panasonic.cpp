// Panasonic (Kaseikyo) pulse-distance codec: a 48-bit frame of maker code, D, S, F and
// a check byte, each byte least significant bit first.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/panasonic.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/panasonic");

namespace {

using namespace codara::panasonic;

constexpr int kFrameEdges = 99;
constexpr int kFrameBits = 48;
constexpr uint16_t kHashMaxEdge = 3000;
constexpr uint8_t kMaker0 = 0x02, kMaker1 = 0x20;

int panasonic_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  uint64_t v = 0;
  for (int i = 3; i <= n - 2; i += 2) {
    v = (v << 1) | (ir->buf[i] >= kOneSpaceMin ? 1 : 0);
    ++p->bits;
  }
  if (p->bits != kFrameBits) {
    LOGE("invalid number of bits");
    return -1;
  }
  p->buf[0] = kLeaderMark;
  p->buf[1] = kLeaderSpace;
  for (int i = 2; i + 1 < n; i += 2) {
    p->buf[i] = kBitMark;
    p->buf[i + 1] = ir->buf[i + 1] >= kSpaceSplit ? kOneSpace : kZeroSpace;
  }
  if (n % 2 == 1) p->buf[n - 1] = kBitMark;  // the closing mark is cleaned like the others
  p->len = static_cast<uint16_t>(n);
  codara::store_key_gap(p->buf, sizeof p->buf / sizeof p->buf[0], n, kKeyGapMs);
  p->hash = ir_hash(p->buf, static_cast<size_t>(n), kHashMaxEdge);
  LOGD("Hash: 0x%08X", p->hash);
  p->fullcode = v;
  LOGD("full code: 0x%llx", static_cast<unsigned long long>(v));

  // Bytes in order of reception; each arrived least significant bit first.
  uint8_t b[6];
  for (int k = 0; k < 6; ++k) b[k] = lookup[(v >> (40 - 8 * k)) & 0xFF];
  const uint8_t c0 = b[0], c1 = b[1], d = b[2], s = b[3], f = b[4], check = b[5];
  p->scancode = d | (s << 8) | (f << 16) | (static_cast<uint32_t>(check) << 24);

  if (c0 != kMaker0 && c1 != kMaker1) {
    LOGE("invalid panasonic code");
    return -1;
  }
  LOGD("C0: %d  C1: %d  D: %d  S: %d F: %d ", c0, c1, d, s, f);
  LOGD("checksum: %d", d ^ s ^ f);
  uint64_t bytes = 0;
  for (int k = 5; k >= 0; --k) bytes = (bytes << 8) | b[k];
  LOGD("bits: %llx count: %d", static_cast<unsigned long long>(bytes), p->bits);

  codara::format_text(p->desc, sizeof p->desc, "%-13s -- D: 0x%X S: 0x%X F: 0x%0X", "PANASONIC", d, s, f);
  p->protocol = RC_PROTO_PANASONIC;
  return 0;
}

int panasonic_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  ir->buf[0] = kLeaderMark;
  ir->buf[1] = kLeaderSpace;
  // Maker code first, then D, S, F and the check byte: 48 bits, least significant first.
  const uint64_t bits = kMaker0 | (kMaker1 << 8) | (static_cast<uint64_t>(scancode) << 16);
  for (int k = 0; k < kFrameBits; ++k) {
    ir->buf[2 + 2 * k] = kBitMark;
    ir->buf[3 + 2 * k] = ((bits >> k) & 1) ? kOneSpace : kZeroSpace;
  }
  ir->buf[kFrameEdges - 1] = kClosingMark;
  ir->len = kFrameEdges;
  ir->elapsed = kKeyGapMs;
  return 0;
}

int panasonic_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  ir_packet frame{};
  panasonic_encode(protocol, scancode, &frame);
  return codara::send_key(LOG_SITE, frame.buf, kFrameEdges, kKeyGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER panasonic_handler = {
    {}, uint64_t{1} << RC_PROTO_PANASONIC, panasonic_decode, nullptr, panasonic_encode, panasonic_transmit,
    36000, 0,
};

struct protocol __proto_PANASONIC = {"irprotocol", "PANASONIC", &panasonic_handler, {}};

}  // namespace

extern "C" void PANASONIC__irprotocol(void) { _register_protocol_irprotocol(&__proto_PANASONIC); }
