// JVC: 16 pulse-distance bits, address then command, least significant first. A held
// key repeats the bits without the leader.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/jvc.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/jvc");

namespace {

using namespace codara::jvc;
namespace frames = codara::frames;

constexpr frames::PulseShape kShape{kMark, kZeroSpace, kOneSpace};
constexpr int kFrameEdges = 2 + 2 * kBits + 1;
constexpr int kRepeatEdges = 2 * kBits + 1;

int jvc_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  const bool leader = n == kFrameEdges && frames::near(ir->buf[0], kLeaderMark) &&
                      frames::near(ir->buf[1], kLeaderSpace);
  const int from = leader ? 2 : 0;
  uint64_t v = 0;
  if ((!leader && n != kRepeatEdges) || !frames::read_pulse_bits(ir->buf, from, kBits, kShape, v, p->buf) ||
      !frames::near(ir->buf[n - 1], kMark)) {
    LOGD("not a jvc frame: %d edges", n);
    return -1;
  }
  if (leader) {
    p->buf[0] = kLeaderMark;
    p->buf[1] = kLeaderSpace;
  }
  p->buf[n - 1] = kMark;
  frames::finish(p, n, kHashMaxEdge, frames::gap_for_period(p->buf, n, kPeriodMs));
  const uint8_t address = static_cast<uint8_t>(v), command = static_cast<uint8_t>(v >> 8);
  p->fullcode = v;
  p->bits = kBits;
  p->repeat = leader ? 0 : 1;
  p->scancode = static_cast<uint32_t>(address) << 8 | command;
  p->protocol = RC_PROTO_JVC;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X%s", "jvc", address, command,
                      leader ? "" : " REPEAT");
  return 0;
}

int jvc_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kLeaderMark);
  b.add(false, kLeaderSpace);
  // Address first: the scancode's high byte goes out first.
  b.pulse_bits((scancode >> 8 & 0xFF) | (scancode & 0xFF) << 8, kBits, kShape);
  b.add(true, kMark);
  b.done();
  ir->elapsed = frames::gap_for_period(ir->buf, ir->len, kPeriodMs);
  return 0;
}

int jvc_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  return frames::transmit_encoded(LOG_SITE, jvc_encode, protocol, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_JVC, jvc_decode, nullptr, jvc_encode, jvc_transmit, 38000, 0,
};
struct protocol __proto_JVC = {"irprotocol", "JVC", &handler, {}};

}  // namespace

struct protocol *codara::jvc_handler() { return &__proto_JVC; }
