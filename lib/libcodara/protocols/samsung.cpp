// Samsung-32: a NECx-shaped frame whose address byte is sent twice and whose command
// is followed by its inverse; bytes least significant bit first.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/samsung.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/samsung");

namespace {

using namespace codara::samsung;
namespace frames = codara::frames;

constexpr frames::PulseShape kShape{kMark, kZeroSpace, kOneSpace};
constexpr frames::PulseShape kSentShape{kSentMark, kSentZeroSpace, kSentOneSpace};
constexpr int kFrameEdges = 2 + 2 * kBits + 1;

int samsung_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  uint64_t v = 0;
  // A full-length leader is NEC's; so is a frame that does not repeat its address.
  if (n != kFrameEdges || ir->buf[0] >= codara::nec::kLeaderSplit || !frames::near(ir->buf[0], kLeaderMark) ||
      !frames::near(ir->buf[1], kLeaderSpace) || !frames::read_pulse_bits(ir->buf, 2, kBits, kShape, v, p->buf) ||
      !frames::near(ir->buf[n - 1], kMark)) {
    LOGD("not a samsung32 frame: %d edges", n);
    return -1;
  }
  const uint8_t address = static_cast<uint8_t>(v), address2 = static_cast<uint8_t>(v >> 8),
                command = static_cast<uint8_t>(v >> 16), inverse = static_cast<uint8_t>(v >> 24);
  if (address != address2 || (command ^ inverse) != 0xFF) {
    LOGD("not a samsung32 frame: 0x%08X", static_cast<unsigned>(v));
    return -1;
  }
  p->buf[0] = kLeaderMark;
  p->buf[1] = kLeaderSpace;
  p->buf[n - 1] = kMark;
  frames::finish(p, n, kHashMaxEdge, frames::gap_for_period(p->buf, n, kPeriodMs));
  p->fullcode = v;
  p->bits = kBits;
  p->scancode = static_cast<uint32_t>(address) << 16 | static_cast<uint32_t>(address2) << 8 | command;
  p->protocol = RC_PROTO_NECX;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X", "samsung32", address, command);
  return 0;
}

int samsung_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  const uint64_t address = scancode >> 16 & 0xFF, address2 = scancode >> 8 & 0xFF, command = scancode & 0xFF;
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kSentLeaderMark);
  b.add(false, kSentLeaderSpace);
  b.pulse_bits(address | address2 << 8 | command << 16 | (~command & 0xFF) << 24, kBits, kSentShape);
  b.add(true, kSentMark);
  b.done();
  ir->elapsed = frames::gap_for_period(ir->buf, ir->len, kPeriodMs);
  return 0;
}

int samsung_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  return frames::transmit_encoded(LOG_SITE, samsung_encode, protocol, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << CODARA_PROTO_SAMSUNG32, samsung_decode, nullptr, samsung_encode, samsung_transmit, 38000, 0,
};
struct protocol __proto_SAMSUNG32 = {"irprotocol", "SAMSUNG32", &handler, {}};

}  // namespace

struct protocol *codara::samsung_handler() { return &__proto_SAMSUNG32; }
