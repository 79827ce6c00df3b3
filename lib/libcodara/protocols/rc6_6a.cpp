// RC6 mode 6A: leader, start bit, mode 110, a double-width trailer bit and 20, 24 or
// 32 data bits, half-bit 444 us, a 1 sent as mark then space. 32-bit frames of the
// MCE customer code are the MCE variant, whose toggle is data bit 15.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/rc6.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/rc6_6a");

namespace {

using namespace codara::rc6;
namespace frames = codara::frames;

// Units of the header: leader 6 + 2, start bit 2, mode bits 6, trailer 4.
constexpr int kStartUnit = 8;
constexpr int kModeUnit = 10;
constexpr int kTrailerUnit = 16;
constexpr int kDataUnit = 20;
constexpr uint16_t kHashMaxEdge = 2400;

// Flipped after every MCE frame built, sent or not.
int toggle = 0;

int data_bits(rc_proto protocol) {
  switch (protocol) {
    case RC_PROTO_RC6_6A_20: return 20;
    case RC_PROTO_RC6_6A_24: return 24;
    default: return 32;
  }
}

int rc6_6a_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  frames::Units u;
  uint32_t start = 0, mode = 0, v = 0;
  bool ok = n > 2 && frames::near(ir->buf[0], kLeaderMark) && frames::near(ir->buf[1], kLeaderSpace);
  if (ok) {
    u.add(true, kLeaderMark / kHalfBit);
    u.add(false, kLeaderSpace / kHalfBit);
    ok = frames::add_edges(u, ir->buf, 2, n, true, kHalfBit, 3, p->buf);
  }
  // The data bits, the last one's closing half-bit of space not captured.
  const int bits = (u.count - kDataUnit + 1) / 2;
  ok = ok && (bits == 20 || bits == 24 || bits == 32) && frames::read_biphase(u, kStartUnit, 1, true, start) &&
       start == 1 && frames::read_biphase(u, kModeUnit, 3, true, mode) && mode == kMode6A &&
       u.level[kTrailerUnit] == u.level[kTrailerUnit + 1] && u.level[kTrailerUnit + 2] == u.level[kTrailerUnit + 3] &&
       u.level[kTrailerUnit] != u.level[kTrailerUnit + 2] && frames::read_biphase(u, kDataUnit, bits, true, v);
  if (!ok) {
    LOGD("not an rc6 mode 6A frame: %d edges", n);
    return -1;
  }
  p->buf[0] = kLeaderMark;
  p->buf[1] = kLeaderSpace;
  frames::finish(p, n, kHashMaxEdge, frames::gap_for_period(p->buf, n, kPeriodMs));
  p->fullcode = v;
  p->bits = static_cast<uint32_t>(bits);
  if (bits == 32 && (v & kMceCustomerMask) == kMceCustomer) {
    p->scancode = v & ~kMceToggle;
    p->protocol = RC_PROTO_RC6_MCE;
    codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X T:%d", "rc6_mce",
                        p->scancode >> 8 & 0xFF, p->scancode & 0xFF, (v & kMceToggle) ? 1 : 0);
    return 0;
  }
  p->scancode = v;
  p->protocol = bits == 20 ? RC_PROTO_RC6_6A_20 : bits == 24 ? RC_PROTO_RC6_6A_24 : RC_PROTO_RC6_6A_32;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- scancode: 0x%X",
                      bits == 20 ? "rc6_6a_20" : bits == 24 ? "rc6_6a_24" : "rc6_6a_32", v);
  return 0;
}

int rc6_6a_encode(enum rc_proto protocol, uint32_t scancode, ir_packet *ir) {
  const int bits = data_bits(protocol);
  uint32_t body = bits == 32 ? scancode : scancode & ((1u << bits) - 1);
  if (protocol == RC_PROTO_RC6_MCE) {
    body = (body & ~kMceToggle) | (toggle ? kMceToggle : 0);
    toggle ^= 1;
  }
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kLeaderMark);
  b.add(false, kLeaderSpace);
  b.biphase(1, 1, true, kHalfBit);
  b.biphase(kMode6A, 3, true, kHalfBit);
  b.biphase(0, 1, true, kFullBit);  // the trailer, twice as wide
  b.biphase(body, bits, true, kHalfBit);
  b.done();
  ir->elapsed = frames::gap_for_period(ir->buf, ir->len, kPeriodMs);
  return 0;
}

int rc6_6a_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  return frames::transmit_encoded(LOG_SITE, rc6_6a_encode, protocol, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {},
    (uint64_t{1} << RC_PROTO_RC6_MCE) | (uint64_t{1} << RC_PROTO_RC6_6A_20) | (uint64_t{1} << RC_PROTO_RC6_6A_24) |
        (uint64_t{1} << RC_PROTO_RC6_6A_32),
    rc6_6a_decode,
    nullptr,
    rc6_6a_encode,
    rc6_6a_transmit,
    36000,
    0,
};
struct protocol __proto_RC6_6A = {"irprotocol", "RC6_6A", &handler, {}};

}  // namespace

struct protocol *codara::rc6_6a_handler() { return &__proto_RC6_6A; }
