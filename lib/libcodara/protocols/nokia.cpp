// Nokia: 12 two-bit symbols (device, sub-device, function; most significant first),
// each a 164 us mark and a space whose length carries the symbol.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/nokia.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/nokia");

namespace {

using namespace codara::nokia;
namespace frames = codara::frames;

constexpr int kFrameEdges = 2 + 2 * kSymbols + 1;

int nokia_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  bool ok = n == kFrameEdges && frames::near(ir->buf[0], kLeaderMark) && frames::near(ir->buf[1], kLeaderSpace) &&
            frames::near(ir->buf[n - 1], kMark);
  uint32_t v = 0;
  for (int k = 0; ok && k < kSymbols; ++k) {
    const int m = 2 + 2 * k;
    const int symbol = frames::nearest(ir->buf[m + 1], kSymbolSpace, 4);
    ok = frames::near(ir->buf[m], kMark) && symbol >= 0;
    if (!ok) break;
    p->buf[m] = kMark;
    p->buf[m + 1] = kSymbolSpace[symbol];
    v = v << 2 | static_cast<uint32_t>(symbol);
  }
  if (!ok) {
    LOGD("not a nokia frame: %d edges", n);
    return -1;
  }
  p->buf[0] = kLeaderMark;
  p->buf[1] = kLeaderSpace;
  p->buf[n - 1] = kMark;
  frames::finish(p, n, kHashMaxEdge, frames::gap_for_period(p->buf, n, kPeriodMs));
  p->fullcode = v;
  p->bits = 2 * kSymbols;
  p->scancode = v;
  p->protocol = RC_PROTO_NOKIA;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- D: 0x%02X S: 0x%02X F: 0x%02X", "nokia", v >> 16 & 0xFF,
                      v >> 8 & 0xFF, v & 0xFF);
  return 0;
}

int nokia_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kLeaderMark);
  b.add(false, kLeaderSpace);
  for (int k = kSymbols - 1; k >= 0; --k) {
    b.add(true, kMark);
    b.add(false, kSymbolSpace[scancode >> (2 * k) & 3]);
  }
  b.add(true, kMark);
  b.done();
  ir->elapsed = frames::gap_for_period(ir->buf, ir->len, kPeriodMs);
  return 0;
}

int nokia_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  return frames::transmit_encoded(LOG_SITE, nokia_encode, protocol, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_NOKIA, nokia_decode, nullptr, nokia_encode, nokia_transmit, 36000, 0,
};
struct protocol __proto_NOKIA = {"irprotocol", "NOKIA", &handler, {}};

}  // namespace

struct protocol *codara::nokia_handler() { return &__proto_NOKIA; }
