// NEC family: 32-bit NEC, NECx and NEC32 frames, the Apple variant, 48-bit frames and
// repeat frames decode; 32-bit frames encode and transmit.
#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/nec.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/nec");

namespace {

using namespace codara::nec;

constexpr int kFrameEdges = 67;     // leader pair, 32 bit pairs, closing mark
constexpr int kFrame48Edges = 99;   // leader pair, 48 bit pairs, closing mark
constexpr int kRepeatEdges = 3;
constexpr uint16_t kHashMaxEdge = 2100;
// What "%-13s -- REPEAT" makes of "NEC", written out: a held key sends a repeat
// frame every 108 ms, and formatting would cost more than the rest of its decode.
constexpr char kRepeatDesc[] = "NEC           -- REPEAT";
static_assert(sizeof kRepeatDesc <= sizeof(ir_prot::desc));

// Nominal durations of the cleaned form.
uint16_t clean_leader(uint16_t t) { return t < kLeaderSplit ? kShortLeaderMark : kLeaderMark; }
uint16_t clean_bit_edge(uint16_t t) { return t < kBitSplit ? kShortEdge : kLongEdge; }

// Collects `nbits` bits from the spaces at 3, 5, ...; the first one received lands in bit 0.
uint64_t read_bits(const ir_t *ir, int nbits) {
  uint64_t v = 0;
  for (int k = 0; k < nbits; ++k)
    if (ir->buf[3 + 2 * k] > kOneSpaceMin) v |= uint64_t{1} << k;
  return v;
}

int nec_48_decode(ir_t *ir, ir_prot *p) {
  uint64_t v = read_bits(ir, 48);
  // Each byte arrives least significant bit first: byte k holds bits 8k .. 8k+7.
  auto byte = [v](int k) { return static_cast<uint8_t>(v >> (8 * k)); };
  uint8_t d = byte(0), s = byte(1), f = byte(2), fn = byte(3), e = byte(4), en = byte(5);
  LOGD("0x%02X%02X%02X%02X%02X%02X", en, e, fn, f, s, d);
  LOGD("d = 0x%02X %d", d, d);
  LOGD("s = 0x%02X %d", s, s);
  LOGD("f = 0x%02X %d", f, f);
  LOGD("^f = 0x%02X %d", fn, fn);
  LOGD("e = 0x%02X %d", e, e);
  LOGD("en = 0x%02X %d", en, en);
  if ((fn ^ f) != 0xFF) {
    LOGE("protocol invalid CRC: ^f");
    return -1;
  }
  if ((en ^ e) != 0xFF) {
    LOGE("protocol invalid CRC: ^e 0x%02X", en ^ e);
    return -1;
  }
  p->protocol = RC_PROTO_NEC48;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- D:0x%02X S:0x%02X F:0x%02X E:0x%02X", "NEC48", d, s, f, e);
  return 0;
}

int ir_nec_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  if (n == kRepeatEdges) {
    for (int i = 0; i < kRepeatEdges; ++i) p->buf[i] = kCleanedRepeat[i];
    p->len = static_cast<uint16_t>(n);
    memcpy(p->desc, kRepeatDesc, sizeof kRepeatDesc);
    p->hash = 0x1000;
    p->protocol = RC_PROTO_NEC_REPEAT;
    return 0;
  }
  if (n > 0) p->buf[0] = clean_leader(ir->buf[0]);
  if (n > 1) p->buf[1] = kCleanedLeaderSpace;
  for (int i = 2; i < n; ++i) p->buf[i] = clean_bit_edge(ir->buf[i]);
  p->len = static_cast<uint16_t>(n);
  p->hash = ir_hash(p->buf, static_cast<size_t>(n), kHashMaxEdge);

  if (n != kFrameEdges && n != kFrame48Edges) {
    LOGE("length mismatch expected 67|99 != %d", n);
    return -1;
  }
  if (n == kFrame48Edges) return nec_48_decode(ir, p);

  const uint32_t code = static_cast<uint32_t>(read_bits(ir, 32));
  p->scancode = code;
  p->fullcode = code;
  LOGD("full code: 0x%llx", static_cast<unsigned long long>(p->fullcode));
  LOGD("Decoded: %c%c%c%c%c%c%c%c %c%c%c%c%c%c%c%c %c%c%c%c%c%c%c%c %c%c%c%c%c%c%c%c",
       codara::bit_char(code, 31), codara::bit_char(code, 30), codara::bit_char(code, 29),
       codara::bit_char(code, 28), codara::bit_char(code, 27), codara::bit_char(code, 26),
       codara::bit_char(code, 25), codara::bit_char(code, 24), codara::bit_char(code, 23),
       codara::bit_char(code, 22), codara::bit_char(code, 21), codara::bit_char(code, 20),
       codara::bit_char(code, 19), codara::bit_char(code, 18), codara::bit_char(code, 17),
       codara::bit_char(code, 16), codara::bit_char(code, 15), codara::bit_char(code, 14),
       codara::bit_char(code, 13), codara::bit_char(code, 12), codara::bit_char(code, 11),
       codara::bit_char(code, 10), codara::bit_char(code, 9), codara::bit_char(code, 8),
       codara::bit_char(code, 7), codara::bit_char(code, 6), codara::bit_char(code, 5),
       codara::bit_char(code, 4), codara::bit_char(code, 3), codara::bit_char(code, 2),
       codara::bit_char(code, 1), codara::bit_char(code, 0));
  const uint8_t b0 = static_cast<uint8_t>(code), b1 = static_cast<uint8_t>(code >> 8),
                b2 = static_cast<uint8_t>(code >> 16), b3 = static_cast<uint8_t>(code >> 24);
  LOGD("0x%02X%02X%02X%02X", b3, b2, b1, b0);

  if (b1 == 0x87) {
    p->protocol = RC_PROTO_NEC_APPLE;
    codara::format_text(p->desc, sizeof p->desc, "%-13s -- ID:0x%02X CODE:0x%02X TYPE:0x%02X EVENT:0x%02X",
             "NEC32 {APPLE}", b3, b2, b1, b0);
  } else if ((b3 ^ b2) == 0xFF && (b1 ^ b0) == 0xFF) {
    p->protocol = RC_PROTO_NEC32;
    codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X", "NEC32", b1, b3);
  } else if ((b3 ^ b2) == 0xFF && p->buf[0] == kShortLeaderMark) {
    p->protocol = RC_PROTO_NECX;
    codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%04X CMD: 0x%04X", "NECx", b1 * 256 + b0,
             b3 * 256 + b2);
  } else {
    p->protocol = RC_PROTO_NEC;
    codara::format_text(p->desc, sizeof p->desc, "%-13s -- scancode: 0x%08X", "NEC", code);
  }
  return 0;
}

int nec_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  ir->buf[0] = kSentLeaderMark;
  ir->buf[1] = kSentLeaderSpace;
  for (int k = 0; k < 32; ++k) {
    ir->buf[2 + 2 * k] = kSentBitMark;
    ir->buf[3 + 2 * k] = ((scancode >> k) & 1) ? kSentOneSpace : kSentZeroSpace;
  }
  ir->buf[kFrameEdges - 1] = kSentClosingMark;
  ir->len = kFrameEdges;
  ir->elapsed = kKeyGapMs;
  return 0;
}

int nec_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  ir_packet frame{};
  nec_encode(protocol, scancode, &frame);
  if (!codara::send_until_accepted(frame.buf, kFrameEdges, kKeyGapMs, 1)) {
    LOGE("timeout");
    return -1;
  }
  // The repeat frame that tells the receiver the key is still held; the callback's
  // repeat count says how often.
  for (int i = 0; i < kRepeatEdges; ++i) frame.buf[i] = kSentRepeat[i];
  frame.len = kRepeatEdges;
  frame.elapsed = kRepeatGapMs;
  return codara::send_key(LOG_SITE, frame.buf, kRepeatEdges, kRepeatGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER nec_handler = {
    {},
    (uint64_t{1} << RC_PROTO_NEC) | (uint64_t{1} << RC_PROTO_NECX) | (uint64_t{1} << RC_PROTO_NEC32),
    ir_nec_decode,
    nullptr,
    nec_encode,
    nec_transmit,
    38000,
    0,
};

struct protocol __proto_NEC = {"irprotocol", "NEC", &nec_handler, {}};

}  // namespace

extern "C" void NEC__irprotocol(void) { _register_protocol_irprotocol(&__proto_NEC); }
