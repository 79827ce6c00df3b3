// TDC: a 315 us start mark and space, then 17 bi-phase bits of two 315 us halves, a 1
// sent as mark then space: device (5 bits), sub-device (5), function (7), most
// significant first.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/tdc.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/tdc");

namespace {

using namespace codara::tdc;
namespace frames = codara::frames;

constexpr int kBits = 17;
constexpr int kDataUnit = 2;

int tdc_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  frames::Units u;
  uint32_t v = 0;
  bool ok = n > 2 && frames::add_edges(u, ir->buf, 0, n, true, kUnit, 2, p->buf);
  const int bits = (u.count - kDataUnit + 1) / 2;
  ok = ok && bits == kBits && u.level[0] == 1 && u.level[1] == 0 && frames::read_biphase(u, kDataUnit, kBits, true, v);
  if (!ok) {
    LOGD("not a tdc frame: %d edges", n);
    return -1;
  }
  frames::finish(p, n, kHashMaxEdge, kGapMs);
  const uint32_t device = v >> 12, sub = v >> 7 & 0x1F, function = v & 0x7F;
  p->fullcode = v;
  p->bits = kBits;
  p->scancode = device << 16 | sub << 8 | function;
  p->protocol = RC_PROTO_TDC;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- D: 0x%02X S: 0x%02X F: 0x%02X", "tdc", device, sub,
                      function);
  return 0;
}

int tdc_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  const uint32_t v = (scancode >> 16 & 0x1F) << 12 | (scancode >> 8 & 0x1F) << 7 | (scancode & 0x7F);
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kUnit);
  b.add(false, kUnit);
  b.biphase(v, kBits, true, kUnit);
  b.done();
  ir->elapsed = kGapMs;
  return 0;
}

int tdc_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  return frames::transmit_encoded(LOG_SITE, tdc_encode, protocol, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_TDC, tdc_decode, nullptr, tdc_encode, tdc_transmit, 38000, 0,
};
struct protocol __proto_TDC = {"irprotocol", "TDC", &handler, {}};

}  // namespace

struct protocol *codara::tdc_handler() { return &__proto_TDC; }
