// Ortek: a 1920 us leader mark and a 480 us space, then 17 bi-phase bits of two 480 us
// halves, a 0 sent as mark then space: device (5 bits), position in the key press (2),
// function (6) and a checksum (4), each least significant first.
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/ortek.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/ortek");

namespace {

using namespace codara::ortek;
namespace frames = codara::frames;

constexpr int kBits = 17;
constexpr int kDataUnit = 5;  // leader mark 4, space 1
constexpr uint32_t kLastPosition = 2;  // first frame 0, held 1, released 2

// The checksum: 3 more than the number of 1 bits in device, position and function.
uint32_t checksum(uint32_t device, uint32_t position, uint32_t function) {
  return (3u + static_cast<uint32_t>(__builtin_popcount(device) + __builtin_popcount(position) +
                                     __builtin_popcount(function))) & 0xF;
}

int ortek_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  frames::Units u;
  uint32_t sent = 0;
  bool ok = n > 2 && frames::near(ir->buf[0], kLeaderMark);
  if (ok) {
    u.add(true, kLeaderMark / kUnit);
    ok = frames::add_edges(u, ir->buf, 1, n, false, kUnit, 2, p->buf);
  }
  const int bits = (u.count - kDataUnit + 1) / 2;
  ok = ok && bits == kBits && u.level[kDataUnit - 1] == 0 && frames::read_biphase(u, kDataUnit, kBits, false, sent);
  const uint32_t v = frames::reversed(sent, kBits);  // the first bit sent is bit 0
  const uint32_t device = v & 0x1F, position = v >> 5 & 3, function = v >> 7 & 0x3F, check = v >> 13 & 0xF;
  if (!ok || position > kLastPosition || check != checksum(device, position, function)) {
    LOGD("not an ortek frame: %d edges", n);
    return -1;
  }
  p->buf[0] = kLeaderMark;
  frames::finish(p, n, kHashMaxEdge, kGapMs);
  p->fullcode = v;
  p->bits = kBits;
  p->repeat = position == 1 ? 1 : 0;
  p->scancode = device << 8 | function;
  p->protocol = RC_PROTO_ORTEK;
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X P:%u", "ortek", device, function,
                      position);
  return 0;
}

void build(uint32_t scancode, uint32_t position, ir_packet *ir) {
  const uint32_t device = scancode >> 8 & 0x1F, function = scancode & 0x3F;
  const uint32_t v = device | position << 5 | function << 7 | checksum(device, position, function) << 13;
  frames::Builder b{ir->buf, &ir->len};
  b.add(true, kLeaderMark);
  b.add(false, kUnit);
  b.biphase(frames::reversed(v, kBits), kBits, false, kUnit);
  b.done();
  ir->elapsed = kGapMs;
}

int ortek_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  build(scancode, 0, ir);
  return 0;
}

// The first frame of a key press, then the frame that ends it, repeated as asked.
int ortek_transmit(enum rc_proto, uint32_t scancode, int rep) {
  ir_packet frame{};
  build(scancode, 0, &frame);
  if (!codara::send_until_accepted(frame.buf, frame.len, kGapMs, 1)) {
    LOGE("timeout");
    return -1;
  }
  build(scancode, kLastPosition, &frame);
  return codara::send_key(LOG_SITE, frame.buf, frame.len, kGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_ORTEK, ortek_decode, nullptr, ortek_encode, ortek_transmit, 38600, 0,
};
struct protocol __proto_ORTEK = {"irprotocol", "ORTEK", &handler, {}};

}  // namespace

struct protocol *codara::ortek_handler() { return &__proto_ORTEK; }
