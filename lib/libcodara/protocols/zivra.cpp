// The dongle maker's own remote protocol: an 8-bit ID in pulse-distance form, a long
// silence, then DEV and CMD (12 bits) in Manchester form.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/zivra.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/zivra");

namespace {

using namespace codara::zivra;

constexpr uint16_t kHashMaxEdge = 2400;
constexpr int kPulses = 43;  // leader pair, 8 ID pairs, the silence, 12 Manchester pairs

// Device-profile labels by DEV, padded to 7 columns; DEV 9 to 15 share the last one.
constexpr char devs[10][10] = {
    "GENERIC", "TV     ", "SETTOP ", "DVD    ", "AUDIO  ", "PC     ", "MEDIA  ", "GAME   ", "LIGHT  ",
    "OTHER  ",
};

const char *dev_label(unsigned dev) { return devs[dev < 9 ? dev : 9]; }

int zivra_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  auto edge = [ir, n](int k) { return codara::edge_at(ir->buf, n, k); };

  // ID bits 19..13 from the spaces after the ID marks; the lowest ID bit is hidden in
  // the long silence and reads as 0.
  uint32_t v = 0;
  for (int i = 3; i <= 15; i += 2) v = (v << 1) | (edge(i) < kIdSplit ? 1 : 0);
  v <<= 1;
  p->hash = ir_hash(ir->buf, static_cast<size_t>(n), kHashMaxEdge);

  // Bit 11: a 1 begins with a space, which lengthens the silence.
  const bool bit11 = edge(17) > kBit11Silence;
  v = (v << 1) | (bit11 ? 1 : 0);
  const int start = bit11 ? 18 : 19;  // the second half of bit 11
  manchester_decode(ir->buf + start, n - start, 11, &v, &p->bits, kFullBit, kHalfBit);

  p->scancode = v & 0xFFFFF;
  p->protocol = RC_PROTO_ZIVRA;
  const unsigned id = (p->scancode >> 12) & 0xFF, dev = (p->scancode >> 8) & 0xF, cmd = p->scancode & 0xFF;
  codara::format_text(p->desc, sizeof p->desc, "ZIVRA-%-7s -- ID: 0x%02X DEV: 0x%02X CMD: 0x%02X", dev_label(dev), id, dev,
           cmd);
  return 0;
}

int zivra_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) {
  int32_t times[200] = {};
  int t = 0;
  times[t++] = kLeaderMark;
  times[t++] = -kLeaderSpace;
  for (int b = 19; b >= 12; --b) {
    times[t++] = kHalfBit;
    times[t++] = ((scancode >> b) & 1) ? -kHalfBit : -kFullBit;
  }
  times[t++] = -kPause;
  for (int b = 11; b >= 0; --b) {
    const bool one = (scancode >> b) & 1;  // a 1 is space-then-mark
    times[t++] = one ? -kHalfBit : kHalfBit;
    times[t++] = one ? kHalfBit : -kHalfBit;
  }
  static_assert(kPulses <= 200);
  compress_times(times, t, ir->buf, &ir->len);
  ir->elapsed = kKeyGapMs;
  return 0;
}

int zivra_transmit(enum rc_proto protocol, uint32_t scancode, int rep) {
  ir_packet frame{};
  zivra_encode(protocol, scancode, &frame);
  return codara::send_key(LOG_SITE, frame.buf, frame.len, kKeyGapMs, codara::device_repeat(rep));
}

IR_PROTOCOL_HANDLER zivra_handler = {
    {}, uint64_t{1} << RC_PROTO_ZIVRA, zivra_decode, nullptr, zivra_encode, zivra_transmit, 36000, 25000,
};

struct protocol __proto_ZIVRA = {"irprotocol", "ZIVRA", &zivra_handler, {}};

}  // namespace

extern "C" void ZIVRA__irprotocol(void) { _register_protocol_irprotocol(&__proto_ZIVRA); }
